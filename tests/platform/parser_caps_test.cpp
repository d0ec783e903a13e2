// Capability functions: status paths, filters, and the record -> caps mapping, over the
// golden mouse and consumer descriptors.
#include <gtest/gtest.h>

#include <vector>

#include "parser_test_support.h"

namespace {

class CapsFunctions : public ::testing::Test {
protected:
    void SetUp() override {
        mouse_ = parsertest::Parse(parsertest::ReadBytes(parsertest::DescriptorDir() / "mouse_wheel.bin"));
        consumer_ = parsertest::Parse(parsertest::ReadBytes(parsertest::DescriptorDir() / "consumer_ranges.bin"));
        ASSERT_NE(mouse_, nullptr);
        ASSERT_NE(consumer_, nullptr);
    }
    PHIDP_PREPARSED_DATA Mouse() { return parsertest::Handle(mouse_); }
    PHIDP_PREPARSED_DATA Consumer() { return parsertest::Handle(consumer_); }

    std::unique_ptr<hidparse::PreparsedData> mouse_, consumer_;
};

TEST_F(CapsFunctions, RefuseWhatIsNotOurPreparsedData) {
    hidparse::PreparsedData stale;
    stale.magic = 0;
    for (PHIDP_PREPARSED_DATA bad : {PHIDP_PREPARSED_DATA{nullptr}, hidparse::ToHandle(&stale)}) {
        HIDP_CAPS caps{};
        HIDP_BUTTON_CAPS button{};
        HIDP_VALUE_CAPS value{};
        HIDP_LINK_COLLECTION_NODE node{};
        USHORT count = 1;
        ULONG nodes = 1;
        EXPECT_EQ(HidP_GetCaps(bad, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
        EXPECT_EQ(HidP_GetButtonCaps(HidP_Input, &button, &count, bad), HIDP_STATUS_INVALID_PREPARSED_DATA);
        EXPECT_EQ(HidP_GetValueCaps(HidP_Input, &value, &count, bad), HIDP_STATUS_INVALID_PREPARSED_DATA);
        EXPECT_EQ(HidP_GetSpecificButtonCaps(HidP_Input, 0, 0, 0, &button, &count, bad),
                  HIDP_STATUS_INVALID_PREPARSED_DATA);
        EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 0, 0, 0, &value, &count, bad),
                  HIDP_STATUS_INVALID_PREPARSED_DATA);
        EXPECT_EQ(HidP_GetLinkCollectionNodes(&node, &nodes, bad), HIDP_STATUS_INVALID_PREPARSED_DATA);
        EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0, bad), 0u);
        EXPECT_EQ(HidP_MaxDataListLength(HidP_Input, bad), 0u);
    }
}

TEST_F(CapsFunctions, RefuseAnUnknownTypeOrNullCountAndFindNoRecordsOfAnAbsentKind) {
    const auto type = static_cast<HIDP_REPORT_TYPE>(3);
    HIDP_BUTTON_CAPS button{};
    HIDP_VALUE_CAPS value{};
    USHORT count = 1;
    EXPECT_EQ(HidP_GetButtonCaps(type, &button, &count, Mouse()), HIDP_STATUS_INVALID_REPORT_TYPE);
    EXPECT_EQ(HidP_GetValueCaps(type, &value, &count, Mouse()), HIDP_STATUS_INVALID_REPORT_TYPE);
    EXPECT_EQ(HidP_MaxUsageListLength(type, 0, Mouse()), 0u);
    EXPECT_EQ(HidP_MaxDataListLength(type, Mouse()), 0u);
    HIDP_CAPS* noCaps = nullptr;  // a null count is an error, not a write
    EXPECT_EQ(HidP_GetCaps(Mouse(), noCaps), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(HidP_GetButtonCaps(HidP_Input, nullptr, nullptr, Mouse()), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(HidP_GetLinkCollectionNodes(nullptr, nullptr, Mouse()), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(HidP_GetButtonCaps(HidP_Output, &button, &count, Mouse()), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(count, 0);
}

TEST_F(CapsFunctions, TooSmallBufferGetsTheTotalAndTheFirstRecords) {
    std::vector<HIDP_VALUE_CAPS> caps(3);
    USHORT count = 1;
    EXPECT_EQ(HidP_GetValueCaps(HidP_Input, caps.data(), &count, Mouse()), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(caps[0].NotRange.Usage, 0x38);  // Wheel, listed first
    EXPECT_EQ(caps[1].NotRange.Usage, 0);     // nothing written past the room given
    count = 0;
    EXPECT_EQ(HidP_GetValueCaps(HidP_Input, nullptr, &count, Mouse()), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 3);
    count = 3;
    EXPECT_EQ(HidP_GetValueCaps(HidP_Input, caps.data(), &count, Mouse()), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps[2].NotRange.Usage, 0x30);
    // A single usage fills the reserved copies of Usage and DataIndex too.
    EXPECT_EQ(caps[1].NotRange.Usage, 0x31);
    EXPECT_EQ(caps[1].NotRange.Reserved1, 0x31);
    EXPECT_EQ(caps[1].NotRange.DataIndex, 4);
    EXPECT_EQ(caps[1].NotRange.Reserved4, 4);
}

// Zero means any page, collection or usage; usage 2 lies inside the mouse's 1..3 button
// range; the consumer's battery sits in node 0, which 0 cannot select, its buttons in node 1.
TEST_F(CapsFunctions, SpecificCapsFilterWithZeroMeaningAny) {
    struct Row { bool buttons, consumer; USAGE page; USHORT link; USAGE usage; NTSTATUS status; USHORT count; };
    const Row rows[] = {{true, false, 9, 0, 2, HIDP_STATUS_SUCCESS, 1},    {true, false, 9, 0, 4, HIDP_STATUS_USAGE_NOT_FOUND, 0},
                        {false, false, 1, 1, 0x31, HIDP_STATUS_SUCCESS, 1}, {false, false, 1, 0, 0, HIDP_STATUS_SUCCESS, 3},
                        {false, false, 2, 0, 0, HIDP_STATUS_USAGE_NOT_FOUND, 0}, {true, true, 0, 1, 0, HIDP_STATUS_SUCCESS, 5},
                        {true, true, 0, 2, 0, HIDP_STATUS_USAGE_NOT_FOUND, 0}};
    for (const Row& row : rows) {
        HIDP_BUTTON_CAPS buttons[5]{};
        HIDP_VALUE_CAPS values[5]{};
        USHORT count = 5;
        PHIDP_PREPARSED_DATA data = row.consumer ? Consumer() : Mouse();
        EXPECT_EQ(row.buttons ? HidP_GetSpecificButtonCaps(HidP_Input, row.page, row.link, row.usage, buttons, &count, data)
                              : HidP_GetSpecificValueCaps(HidP_Input, row.page, row.link, row.usage, values, &count, data),
                  row.status) << row.page << "/" << row.link << "/" << row.usage;
        EXPECT_EQ(count, row.count) << row.page << "/" << row.link << "/" << row.usage;
        if (row.usage != 0 && row.status == HIDP_STATUS_SUCCESS) {
            EXPECT_EQ(row.buttons ? buttons[0].Range.UsageMin : values[0].NotRange.Usage, row.buttons ? 1 : row.usage);
        }
    }
}

TEST_F(CapsFunctions, LinkCollectionNodesAndUsageListLength) {
    HIDP_LINK_COLLECTION_NODE nodes[3]{};
    ULONG count = 2;
    EXPECT_EQ(HidP_GetLinkCollectionNodes(nodes, &count, Consumer()), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(HidP_GetLinkCollectionNodes(nodes, &count, Consumer()), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(nodes[2].LinkUsagePage, 0xFF00);
    // The usage list length counts the buttons of one page only.
    EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0x0C, Consumer()), 10u);  // 6+1+1 variable, 2 array slots
    EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0x08, Consumer()), 1u);
    EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0x06, Consumer()), 0u);  // a value, not a button
}

}  // namespace
