// Replays every seed of the fuzz corpus through the parser and the invariant checks the
// fuzz target applies. Seeds named ok_* must be accepted, bad_* refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "parser_test_support.h"
#include "platform/hid/preparsed_invariants.h"

namespace {

TEST(FuzzCorpus, EverySeedIsRefusedOrKeepsTheInvariants) {
    const std::filesystem::path dir = std::filesystem::path(UVC_SOURCE_DIR) / "fuzz" / "corpus";
    std::size_t seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ++seeds;
        NTSTATUS status = 0;
        const auto data = parsertest::Parse(parsertest::ReadBytes(entry.path()), &status);
        if (name.rfind("bad_", 0) == 0) {
            EXPECT_EQ(status, HIDP_STATUS_INVALID_PREPARSED_DATA);
        } else if (name.rfind("ok_", 0) == 0) {
            EXPECT_EQ(status, HIDP_STATUS_SUCCESS);
        }
        EXPECT_EQ(data == nullptr, status != HIDP_STATUS_SUCCESS);
        if (data != nullptr) {
            EXPECT_EQ(hidparse::invariants::CheckPreparsed(*data), "");
        }
    }
    EXPECT_GE(seeds, 10u);
}

}  // namespace

namespace {

// The checks must fail on preparsed data that breaks them; each row damages one thing.
TEST(InvariantChecks, CatchDamagedPreparsedData) {
    using Damage = void (*)(hidparse::PreparsedData&);
    const Damage damages[] = {
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][1].startBit = 8; },     // overlaps the buttons
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][1].startBit = 40; },    // past the 5-byte report
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][1].dataIndexMin = 4; },  // index used twice
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][3].dataIndexMin = 6; },  // gap
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][0].usageMax = 4; },      // range != indices
        [](hidparse::PreparsedData& d) { d.linkNodes[0].NumberOfChildren = 2; },
        [](hidparse::PreparsedData& d) { d.linkNodes[1].Parent = 1; },
        [](hidparse::PreparsedData& d) { d.caps.NumberInputValueCaps = 2; },
        [](hidparse::PreparsedData& d) { d.caps.NumberInputDataIndices = 7; },
        [](hidparse::PreparsedData& d) { d.caps.InputReportByteLength = 0; },
        [](hidparse::PreparsedData& d) { d.reportIds[HidP_Input].clear(); },
        [](hidparse::PreparsedData& d) { d.records[HidP_Input][2].linkUsage = 7; },
    };
    const auto bytes = parsertest::ReadBytes(parsertest::DescriptorDir() / "mouse_wheel.bin");
    for (std::size_t i = 0; i < std::size(damages); ++i) {
        SCOPED_TRACE(i);
        auto data = parsertest::Parse(bytes);
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(hidparse::invariants::CheckPreparsed(*data), "");
        damages[i](*data);
        EXPECT_NE(hidparse::invariants::CheckPreparsed(*data), "");
    }
}

}  // namespace
