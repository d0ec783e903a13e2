// The flash geometry of each row of the flash part table, as the device knows the part it
// is wired to. The host keeps its own copy of the table; the row numbers are shared.
#pragma once

#include <cstdint>

namespace sim {

inline constexpr std::uint16_t kPartRows = 46;

struct FlashGeometry {
    std::uint32_t sectorSize = 0;  // erase unit in bytes
    std::uint32_t totalSize = 0;   // bytes
};

// False for a row outside the table.
bool GeometryForRow(std::uint16_t row, FlashGeometry& geometry);

}  // namespace sim
