// The pieces of the burn and verify summaries: the ranges a choice covers, the compare and
// the JSON text.
#include <gtest/gtest.h>

#include "tools/cli/flash_plan.h"
#include "tools/cli/json.h"
#include "core/format.h"

namespace cli {
namespace {

constexpr ULONG k8MiB = 0x800000;

// An image with a firmware header giving Header_len + Boot_Size = `sum` (Boot_Size 0x100
// where it fits).
std::vector<std::uint8_t> ImageWithFirmware(ULONG size, ULONG sum) {
    std::vector<std::uint8_t> image(size, 0x5A);
    const ULONG boot = std::min<ULONG>(sum, 0x100);
    for (ULONG i = 0; i < 4; ++i) {
        image[0x18000C + i] = static_cast<std::uint8_t>((sum - boot) >> (24 - 8 * i));
        image[0x180010 + i] = static_cast<std::uint8_t>(boot >> (24 - 8 * i));
    }
    return image;
}

AreaChoice Areas(bool firmware, bool privateData, bool customized) { return {false, {firmware, privateData, customized}}; }

// The ranges a choice covers ("address+length", "=" for those the burn compares), or the
// refusal that comes before anything is written.
TEST(FlashPlan, RangesOrRefusalOfEachChoice) {
    const AreaChoice firmware = Areas(true, false, false);
    const struct {
        std::vector<std::uint8_t> image;
        AreaChoice choice;
        ULONG sectorSize, flashSize;
        const char* plan;
    } rows[] = {
        {std::vector<std::uint8_t>(1000), AreaChoice{}, 0x10000, 0x40000, "0+3e8="},
        // One byte past three 4 KiB sectors rounds to four; Private follows, not compared by the burn.
        {ImageWithFirmware(0x500000, 3 * 4096 + 1), Areas(true, true, false), 4096, k8MiB, "180000+4000= 4f0000+10000"},
        {{}, AreaChoice{}, 4096, k8MiB, "the image is empty"},
        {std::vector<std::uint8_t>(0x40001), AreaChoice{}, 4096, 0x40000, "the image is larger than the flash (262144 bytes)"},
        {std::vector<std::uint8_t>(0x180013), firmware, 4096, k8MiB,
         "the image is too short for the firmware area (it needs 1572884 bytes)"},
        {ImageWithFirmware(0x181000, 0x1001), firmware, 4096, k8MiB,
         "the image is too short for the firmware area (it needs 1581056 bytes)"},
        {ImageWithFirmware(0x190000, 0x100), firmware, 0, k8MiB, "the flash sector size is unknown, the firmware area cannot be burned"},
        {ImageWithFirmware(0x190000, 0x100 + 0x370001), firmware, 4096, k8MiB, "the firmware length in the image exceeds the firmware area"},
        // A header whose lengths add up to 0 would burn nothing and still set the update flag.
        {ImageWithFirmware(0x190000, 0), firmware, 4096, k8MiB, "the image's firmware header gives a firmware length of 0"},
        {ImageWithFirmware(0x190000, 0x100), Areas(false, false, true), 4096, k8MiB,
         "the image is too short for the customized area (it needs 8388608 bytes)"},
        {std::vector<std::uint8_t>(0x500000), Areas(false, true, false), 4096, 0x400000,
         "the private area lies beyond the end of the flash (4194304 bytes)"},
    };
    for (const auto& row : rows) {
        std::vector<FlashRange> ranges;
        std::string refusal = PlanFlashRanges(row.image, row.choice, row.sectorSize, row.flashSize, ranges), plan;
        for (const FlashRange& r : ranges) plan += core::Format(" %x+%x", r.address, r.length) + (r.comparedByBurn ? "=" : "");
        EXPECT_EQ(refusal.empty() ? plan.erase(0, 1) : refusal, row.plan);
    }
}

TEST(FlashPlan, CompareCountsAndKeepsTheFirstDifference) {
    std::vector<std::uint8_t> image(64, 0xAA), found(32, 0xAA);
    found[5] = 0x01;
    found[31] = 0x02;
    Difference d;
    CompareRange(FlashRange{16, 32, "entire", true}, image, found, d);
    EXPECT_EQ(core::Format("%u at %x: %x, found %x", d.count, d.firstAddress, d.expected, d.found), "2 at 15: aa, found 1");
}

TEST(Json, EscapesAndKeepsKeyOrder) {
    JsonObject o;
    o.Add("b", "quote \" back \\ line\n tab\t bell\x07").Add("a", std::int64_t{-3}).Add("c", true).AddNull("d");
    o.Add("a", std::int64_t{4});  // replaced in place
    EXPECT_EQ(o.Text(), R"({"b": "quote \" back \\ line\n tab\t bell\u0007", "a": 4, "c": true, "d": null})");
    EXPECT_EQ(JsonArray({"1", "\"x\""}), R"([1, "x"])");
}

}  // namespace
}  // namespace cli
