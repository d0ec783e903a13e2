#include "sim/flash_geometry.h"

#include <array>

namespace sim {
namespace {

constexpr std::uint32_t k64K = 0x10000;
constexpr std::uint32_t k4K = 0x1000;
constexpr std::uint32_t kMiB = 0x100000;

// Sector size and total size per row. The host's table gives row 1 no geometry; the
// device still has a flash there and treats it as its sibling row 0 (4 MiB, 64 KiB).
constexpr std::array<FlashGeometry, kPartRows> kGeometry{{
    {k64K, 4 * kMiB},  {k64K, 4 * kMiB},  {k64K, 2 * kMiB},  {k64K, 4 * kMiB},   // 0-3
    {k64K, 8 * kMiB},  {k64K, 16 * kMiB}, {k64K, 4 * kMiB},  {k64K, 2 * kMiB},   // 4-7
    {k64K, 4 * kMiB},  {k64K, 8 * kMiB},  {k64K, 2 * kMiB},  {k64K, 4 * kMiB},   // 8-11
    {k64K, 2 * kMiB},  {k64K, 4 * kMiB},  {k64K, 1 * kMiB},  {k64K, 1 * kMiB},   // 12-15
    {k64K, 8 * kMiB},  {k64K, 4 * kMiB},  {k64K, 2 * kMiB},  {k64K, 2 * kMiB},   // 16-19
    {k64K, 4 * kMiB},  {k64K, 2 * kMiB},  {k64K, 4 * kMiB},  {k64K, 4 * kMiB},   // 20-23
    {k64K, 2 * kMiB},  {k64K, 8 * kMiB},  {k64K, 16 * kMiB}, {k64K, 32 * kMiB},  // 24-27
    {k64K, 64 * kMiB}, {k64K, 8 * kMiB},  {k64K, 4 * kMiB},  {k64K, 2 * kMiB},   // 28-31
    {k4K, 16 * kMiB},  {k4K, 64 * kMiB},  {k64K, 256 * 1024}, {k64K, 4 * kMiB},  // 32-35
    {k64K, 2 * kMiB},  {k64K, 4 * kMiB},  {k64K, 2 * kMiB},  {k64K, 2 * kMiB},   // 36-39
    {k64K, 4 * kMiB},  {k64K, 4 * kMiB},  {k64K, 8 * kMiB},  {k64K, 16 * kMiB},  // 40-43
    {k4K, 8 * kMiB},   {k4K, 8 * kMiB},                                          // 44-45
}};

}  // namespace

bool GeometryForRow(std::uint16_t row, FlashGeometry& geometry) {
    if (row >= kPartRows) return false;
    geometry = kGeometry[row];
    return true;
}

}  // namespace sim
