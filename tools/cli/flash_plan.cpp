#include "tools/cli/flash_plan.h"

#include "flash/flash_layout.h"

namespace cli {

namespace {

std::string TooShort(const char* area, std::uint64_t needed) {
    return std::string("the image is too short for the ") + area + " area (it needs " + std::to_string(needed) +
           " bytes)";
}

// The firmware range as its header gives it: Header_len + Boot_Size in whole sectors.
std::string PlanFirmware(std::span<const std::uint8_t> image, ULONG sectorSize, FlashRange& range) {
    if (sectorSize == 0) return "the flash sector size is unknown, the firmware area cannot be burned";
    FirmwareLength fw;
    if (!ReadFirmwareLength(image, sectorSize, fw)) return TooShort("firmware", kBootSizeOffset + 4);
    const std::uint64_t rounded = fw.rounded;
    // A header that gives nothing to write would still have the update flag set.
    if (rounded == 0) return "the image's firmware header gives a firmware length of 0";
    if (rounded > FlashAreaTable[kAreaFirmware].length) return "the firmware length in the image exceeds the firmware area";
    if (kFirmwareHeaderOffset + rounded > image.size()) return TooShort("firmware", kFirmwareHeaderOffset + rounded);
    range = {kFirmwareHeaderOffset, static_cast<ULONG>(rounded), "firmware", true};
    return {};
}

}  // namespace

std::string PlanFlashRanges(std::span<const std::uint8_t> image, const AreaChoice& choice, ULONG sectorSize,
                            ULONG flashTotalSize, std::vector<FlashRange>& ranges) {
    ranges.clear();
    if (choice.entire) {
        if (image.empty()) return "the image is empty";
        ranges.push_back({0, static_cast<ULONG>(image.size()), "entire", true});
    } else {
        static constexpr const char* kNames[kFlashAreaCount] = {"firmware", "private", "customized"};
        for (int row = 0; row < kFlashAreaCount; ++row) {
            if (!choice.boxes[static_cast<std::size_t>(row)]) continue;
            FlashRange range;
            if (row == kAreaFirmware) {
                if (std::string refusal = PlanFirmware(image, sectorSize, range); !refusal.empty()) return refusal;
            } else {
                const FlashArea& area = FlashAreaTable[row];
                if (std::uint64_t{area.address} + area.length > image.size())
                    return TooShort(kNames[row], std::uint64_t{area.address} + area.length);
                range = {area.address, area.length, kNames[row], false};
            }
            ranges.push_back(range);
        }
        if (ranges.empty()) return "no area chosen";
    }
    for (const FlashRange& range : ranges)
        if (std::uint64_t{range.address} + range.length > flashTotalSize)
            return std::string(choice.entire ? "the image is larger than the flash" : "the " + std::string(range.area) +
                                                                                            " area lies beyond the end of the flash") +
                   " (" + std::to_string(flashTotalSize) + " bytes)";
    return {};
}

void CompareRange(const FlashRange& range, std::span<const std::uint8_t> image, std::span<const std::uint8_t> found,
                  Difference& difference) {
    for (ULONG i = 0; i < range.length && i < found.size() && range.address + i < image.size(); ++i) {
        std::uint8_t expected = image[range.address + i];
        if (found[i] == expected) continue;
        if (difference.count++ == 0) difference = {1, range.address + i, expected, found[i]};
    }
}

}  // namespace cli
