// The pieces of the burn and verify summaries: the ranges a choice covers, the compare,
// the SHA-256 and the JSON text.
#include <gtest/gtest.h>

#include "tools/cli/flash_plan.h"
#include "tools/cli/json.h"
#include "tools/cli/sha256.h"

namespace cli {
namespace {

constexpr ULONG k8MiB = 0x800000;

// An image with a firmware header giving Header_len + Boot_Size = `sum`.
std::vector<std::uint8_t> ImageWithFirmware(ULONG size, ULONG sum) {
    std::vector<std::uint8_t> image(size, 0x5A);
    for (int i = 0; i < 4; ++i) {
        image[0x18000C + static_cast<ULONG>(i)] = static_cast<std::uint8_t>((sum - 0x100) >> (24 - 8 * i));
        image[0x180010 + static_cast<ULONG>(i)] = static_cast<std::uint8_t>(0x100 >> (24 - 8 * i));
    }
    return image;
}

AreaChoice Areas(bool firmware, bool privateData, bool customized) {
    AreaChoice choice;
    choice.entire = false;
    choice.boxes = {firmware, privateData, customized};
    return choice;
}

TEST(FlashPlan, RangesOfEachChoice) {
    std::vector<FlashRange> ranges;
    std::vector<std::uint8_t> small(1000, 1);
    ASSERT_EQ(PlanFlashRanges(small, AreaChoice{}, 0x10000, 0x40000, ranges), "");
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].length, 1000u);
    EXPECT_TRUE(ranges[0].comparedByBurn);

    // One byte past three 4 KiB sectors rounds to four; Private follows, not compared by the burn.
    auto image = ImageWithFirmware(0x500000, 3 * 4096 + 1);
    ASSERT_EQ(PlanFlashRanges(image, Areas(true, true, false), 4096, k8MiB, ranges), "");
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].address, 0x180000u);
    EXPECT_EQ(ranges[0].length, 4u * 4096);
    EXPECT_EQ(ranges[1].address, 0x4F0000u);
    EXPECT_EQ(ranges[1].length, 0x10000u);
    EXPECT_FALSE(ranges[1].comparedByBurn);
}

TEST(FlashPlan, RefusalsBeforeAnythingIsWritten) {
    std::vector<FlashRange> ranges;
    const struct {
        std::vector<std::uint8_t> image;
        AreaChoice choice;
        ULONG sectorSize, flashSize;
        const char* refusal;
    } rows[] = {
        {{}, AreaChoice{}, 4096, k8MiB, "the image is empty"},
        {std::vector<std::uint8_t>(0x40001), AreaChoice{}, 4096, 0x40000, "the image is larger than the flash (262144 bytes)"},
        {std::vector<std::uint8_t>(0x180013), Areas(true, false, false), 4096, k8MiB,
         "the image is too short for the firmware area (it needs 1572884 bytes)"},
        {ImageWithFirmware(0x181000, 0x1001), Areas(true, false, false), 4096, k8MiB,
         "the image is too short for the firmware area (it needs 1581056 bytes)"},
        {ImageWithFirmware(0x190000, 0x100), Areas(true, false, false), 0, k8MiB,
         "the flash sector size is unknown, the firmware area cannot be burned"},
        {ImageWithFirmware(0x190000, 0x100 + 0x370001), Areas(true, false, false), 4096, k8MiB,
         "the firmware length in the image exceeds the firmware area"},
        {ImageWithFirmware(0x190000, 0x100), Areas(false, false, true), 4096, k8MiB,
         "the image is too short for the customized area (it needs 8388608 bytes)"},
        {std::vector<std::uint8_t>(0x500000), Areas(false, true, false), 4096, 0x400000,
         "the private area lies beyond the end of the flash (4194304 bytes)"},
    };
    for (const auto& row : rows) EXPECT_EQ(PlanFlashRanges(row.image, row.choice, row.sectorSize, row.flashSize, ranges), row.refusal);
    // A header whose lengths add up to 0 would burn nothing and still set the update flag.
    auto empty = ImageWithFirmware(0x190000, 0x100);
    empty[0x180012] = 0;  // Boot_Size 0x100 -> 0; Header_len is 0 already
    EXPECT_EQ(PlanFlashRanges(empty, Areas(true, false, false), 4096, k8MiB, ranges),
              "the image's firmware header gives a firmware length of 0");
}

TEST(FlashPlan, CompareCountsAndKeepsTheFirstDifference) {
    std::vector<std::uint8_t> image(64, 0xAA);
    FlashRange range{16, 32, "entire", true};
    std::vector<std::uint8_t> found(32, 0xAA);
    found[5] = 0x01;
    found[31] = 0x02;
    Difference d;
    CompareRange(range, image, found, d);
    EXPECT_EQ(d.count, 2u);
    EXPECT_EQ(d.firstAddress, 16u + 5);
    EXPECT_EQ(d.expected, 0xAA);
    EXPECT_EQ(d.found, 0x01);
}

TEST(Sha256, KnownDigestsAcrossBlockBoundaries) {
    auto digest = [](std::string_view text, std::size_t pieces) {
        Sha256 sha;
        auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        for (std::size_t at = 0; at < bytes.size(); at += pieces) sha.Update(bytes.subspan(at, std::min(pieces, bytes.size() - at)));
        return sha.HexDigest();
    };
    EXPECT_EQ(digest("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const char* twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(digest(twoBlocks, 7), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest(std::string(1000, 'a'), 1000), digest(std::string(1000, 'a'), 13));
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
