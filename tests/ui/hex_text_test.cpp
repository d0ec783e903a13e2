#include <gtest/gtest.h>

#include "ui/services/hex_text.h"

namespace {

TEST(HexText, ParseHexFieldReadsLikeTheBase16UnsignedConversion) {
    struct Row {
        const char* text;
        std::uint32_t value;
    };
    for (Row row : {Row{"", 0}, Row{"1f", 0x1F}, Row{"1F", 0x1F}, Row{"0x1F", 0x1F}, Row{"0X1f", 0x1F},
                    Row{"32G0", 0x32}, Row{"  \t12", 0x12}, Row{"zz", 0}, Row{"0x", 0}, Row{"0xg", 0},
                    Row{"D8000004", 0xD8000004u}, Row{"FFFFFFFF", 0xFFFFFFFFu},
                    Row{"100000000", 0xFFFFFFFFu},  // beyond 32 bits saturates
                    Row{"123456789ABCDEF0123", 0xFFFFFFFFu}, Row{"-2", 0xFFFFFFFEu},
                    Row{"+10", 0x10}, Row{"00000000000000000000001", 1}})
        EXPECT_EQ(ui::ParseHexField(row.text), row.value) << row.text;
}

TEST(HexText, FormatFieldValueUsesTheWidthCodeAsAMinimum) {
    EXPECT_EQ(ui::FormatFieldValue(0x1F, 1, 1), "001F");
    EXPECT_EQ(ui::FormatFieldValue(0x123, 1, 0), "123");
    EXPECT_EQ(ui::FormatFieldValue(0x9, 1, 0), "09");
    EXPECT_EQ(ui::FormatFieldValue(0xAB, 1, 7), "000000AB");
    EXPECT_EQ(ui::FormatFieldValue(144, 0, 2), "144");
    EXPECT_EQ(ui::FormatFieldValue(0xFFFFFFFFu, 0, 0), "4294967295");
}

}  // namespace
