// The flash ranges a burn or verify covers for a Burn Area choice, decided from the image
// and the identified part before anything reaches the device.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/win/win_types.h"
#include "tools/cli/cli_options.h"

namespace cli {

struct FlashRange {
    ULONG address = 0;  // in the flash, and in the image
    ULONG length = 0;
    const char* area = "";  // "entire", "firmware", "private", "customized"
    bool comparedByBurn = false;  // the burn itself reads this range back and compares it
};

// Fills `ranges` in address order; answers an empty text, or why the image cannot serve
// the choice on this flash (a refusal).
std::string PlanFlashRanges(std::span<const std::uint8_t> image, const AreaChoice& choice, ULONG sectorSize,
                            ULONG flashTotalSize, std::vector<FlashRange>& ranges);

// The first difference between the flash bytes read back and the image over one range.
struct Difference {
    ULONG count = 0;
    ULONG firstAddress = 0;
    std::uint8_t expected = 0, found = 0;
};
void CompareRange(const FlashRange& range, std::span<const std::uint8_t> image, std::span<const std::uint8_t> found,
                  Difference& difference);

}  // namespace cli
