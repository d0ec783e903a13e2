#include "sim/flash_model.h"

#include <algorithm>

namespace sim {

AccessWindow WindowOfMode(std::uint8_t mode, std::uint32_t flashSize) {
    AccessWindow window;
    switch (mode) {
    case 0: window = {0x180000, 0x4F0000}; break;
    case 1: window = {0, flashSize}; break;
    case 2: window = {0x070000, 0x080000}; break;
    case 3: window = {0x4F0000, 0x800000}; break;
    default: return {0, 0};
    }
    window.end = std::min(window.end, flashSize);
    window.begin = std::min(window.begin, window.end);
    return window;
}

FlashModel::FlashModel(FlashGeometry geometry) : geometry_(geometry), bytes_(geometry.totalSize, 0xFF) {}

bool FlashModel::Load(std::span<const std::uint8_t> image) {
    if (image.size() > bytes_.size()) return false;
    std::fill(bytes_.begin(), bytes_.end(), std::uint8_t{0xFF});
    std::copy(image.begin(), image.end(), bytes_.begin());
    return true;
}

std::string FlashModel::Announce(std::uint8_t mode, std::uint32_t address) {
    // A new announcement always ends the previous burst, even when it is refused.
    burst_ = Burst::None;
    if (mode >= kAccessModes) return "access mode above 3";
    AccessWindow window = WindowOfMode(mode, geometry_.totalSize);
    if (address < window.begin || address > window.end) return "address outside the access mode's window";
    mode_ = mode;
    address_ = address;
    burst_ = Burst::Pending;
    return {};
}

std::string FlashModel::SetLength(std::uint32_t length) {
    if (burst_ != Burst::Pending) {
        burst_ = Burst::None;
        return "flash length without an access mode before it";
    }
    burst_ = Burst::None;
    AccessWindow window = WindowOfMode(mode_, geometry_.totalSize);
    if (std::uint64_t{address_} + length > window.end) return "range past the access mode's window";
    remaining_ = length;
    lastErasedSector_.reset();
    burst_ = Burst::Ready;
    return {};
}

void FlashModel::EraseSectorsUpTo(std::uint32_t lastAddress) {
    const std::uint32_t sectorSize = geometry_.sectorSize;
    std::uint32_t first = address_ / sectorSize;
    if (lastErasedSector_) first = std::max(first, *lastErasedSector_ + 1);
    for (std::uint32_t sector = first; sector <= lastAddress / sectorSize; ++sector) {
        auto begin = bytes_.begin() + static_cast<std::ptrdiff_t>(std::size_t{sector} * sectorSize);
        std::fill(begin, begin + sectorSize, std::uint8_t{0xFF});
        lastErasedSector_ = sector;
    }
}

std::string FlashModel::Program(std::span<const std::uint8_t> data, bool strict) {
    if (burst_ == Burst::None || burst_ == Burst::Pending) return "flash data without an announced burst";
    if (burst_ == Burst::Read) return "flash data report during a read burst";
    if (remaining_ == 0) return "flash data beyond the announced length";
    const std::uint32_t chunk = static_cast<std::uint32_t>(std::min<std::size_t>(remaining_, data.size()));
    if (chunk == 0) return "flash data report without room for data";
    if (strict && std::any_of(data.begin() + chunk, data.end(), [](std::uint8_t b) { return b != 0; }))
        return "nonzero bytes after the flash data";
    burst_ = Burst::Write;
    EraseSectorsUpTo(address_ + chunk - 1);
    for (std::uint32_t i = 0; i < chunk; ++i) bytes_[address_ + i] &= data[i];
    address_ += chunk;
    remaining_ -= chunk;
    return {};
}

std::string FlashModel::Read(std::uint32_t limit, std::vector<std::uint8_t>& out) {
    if (burst_ == Burst::None || burst_ == Burst::Pending) return "flash data request without an announced burst";
    if (burst_ == Burst::Write) return "flash data request during a write burst";
    if (remaining_ == 0) return "flash data request beyond the announced length";
    const std::uint32_t chunk = std::min(remaining_, limit);
    if (chunk == 0) return "flash data request for 0 bytes";
    burst_ = Burst::Read;
    auto begin = bytes_.begin() + address_;
    out.assign(begin, begin + chunk);
    address_ += chunk;
    remaining_ -= chunk;
    return {};
}

}  // namespace sim
