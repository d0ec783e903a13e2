#include <gtest/gtest.h>

#include "ui/services/hex_text.h"

namespace {

struct Parse {
    const char* text;
    std::uint32_t value;
};

class ParseHexField : public ::testing::TestWithParam<Parse> {};

TEST_P(ParseHexField, ReadsLikeTheBase16UnsignedConversion) {
    EXPECT_EQ(ui::ParseHexField(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseHexField,
    ::testing::Values(Parse{"", 0}, Parse{"1f", 0x1F}, Parse{"1F", 0x1F}, Parse{"0x1F", 0x1F}, Parse{"0X1f", 0x1F},
                      Parse{"32G0", 0x32}, Parse{"  \t12", 0x12}, Parse{"zz", 0}, Parse{"0x", 0}, Parse{"0xg", 0},
                      Parse{"D8000004", 0xD8000004u}, Parse{"FFFFFFFF", 0xFFFFFFFFu},
                      Parse{"100000000", 0xFFFFFFFFu},  // beyond 32 bits saturates
                      Parse{"123456789ABCDEF0123", 0xFFFFFFFFu}, Parse{"-1", 0xFFFFFFFFu}, Parse{"-2", 0xFFFFFFFEu},
                      Parse{"+10", 0x10}, Parse{"00000000000000000000001", 1}));

TEST(FormatFieldValue, UsesTheWidthCodeAsAMinimum) {
    EXPECT_EQ(ui::FormatFieldValue(0x1F, 1, 1), "001F");
    EXPECT_EQ(ui::FormatFieldValue(0x0F00, 1, 1), "0F00");
    EXPECT_EQ(ui::FormatFieldValue(0x123, 1, 0), "123");
    EXPECT_EQ(ui::FormatFieldValue(0x9, 1, 0), "09");
    EXPECT_EQ(ui::FormatFieldValue(0xD8000004u, 1, 2), "D8000004");
    EXPECT_EQ(ui::FormatFieldValue(0xAB, 1, 7), "000000AB");
    EXPECT_EQ(ui::FormatFieldValue(144, 0, 2), "144");
    EXPECT_EQ(ui::FormatFieldValue(0xFFFFFFFFu, 0, 0), "4294967295");
}

}  // namespace
