// The serial flash behind the chip and the firmware's burst engine in front of it.
//
// NOR semantics: erased bytes read 0xFF and programming can only clear bits (new = old AND
// data). The firmware erases for the host: a sector is erased the first time a write burst
// touches it; a later chunk of the same burst in the same sector does not erase again. A
// host that writes a range twice in one burst, or sends the wrong bytes, therefore leaves
// bytes that fail its compare.
//
// A burst is announced by an access mode with an address, then a length; it is then served
// by data reports (a write burst) or data requests (a read burst), chunk by chunk, for
// exactly the announced length. Every access mode takes absolute flash addresses but opens
// only its own window of the flash:
//   0  firmware area           0x180000 .. 0x4EFFFF
//   1  whole flash             0 .. end of the flash
//   2  update-flag block       0x070000 .. 0x07FFFF
//   3  private and customized  0x4F0000 .. 0x7FFFFF
// (each clipped to the end of the flash). A range outside the window fails the transfer
// that announced it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/flash_geometry.h"

namespace sim {

inline constexpr std::uint8_t kAccessModes = 4;

struct AccessWindow {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;  // one past the last byte
};
AccessWindow WindowOfMode(std::uint8_t mode, std::uint32_t flashSize);

class FlashModel {
public:
    explicit FlashModel(FlashGeometry geometry);

    const FlashGeometry& Geometry() const { return geometry_; }
    const std::vector<std::uint8_t>& Contents() const { return bytes_; }
    // Replaces the start of the flash with the image; the rest reads erased. False when the
    // image is larger than the flash.
    bool Load(std::span<const std::uint8_t> image);

    // Each answers an empty text when accepted, else why the transfer fails.
    std::string Announce(std::uint8_t mode, std::uint32_t address);
    std::string SetLength(std::uint32_t length);
    // A write chunk: the first min(remaining, data.size()) bytes are programmed. With
    // `strict`, the bytes after them must be 0.
    std::string Program(std::span<const std::uint8_t> data, bool strict);
    // A read chunk of min(remaining, limit) bytes.
    std::string Read(std::uint32_t limit, std::vector<std::uint8_t>& out);

private:
    enum class Burst { None, Pending, Ready, Write, Read };

    void EraseSectorsUpTo(std::uint32_t lastAddress);

    FlashGeometry geometry_;
    std::vector<std::uint8_t> bytes_;
    Burst burst_ = Burst::None;
    std::uint8_t mode_ = 0;
    std::uint32_t address_ = 0;    // next byte of the burst
    std::uint32_t remaining_ = 0;  // bytes of the burst still to move
    std::optional<std::uint32_t> lastErasedSector_;  // of the current write burst
};

}  // namespace sim
