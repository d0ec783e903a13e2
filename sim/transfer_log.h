// One record per transfer the simulated device saw, accepted or refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win/win_types.h"

namespace sim {

enum class Direction : std::uint8_t { Output, Input, SetFeature, GetFeature, Write, Read };

struct TransferRecord {
    std::uint64_t sequence = 0;     // 1 for the first transfer the device saw
    Direction direction = Direction::Output;
    std::uint8_t reportId = 0;
    ULONG requestedLength = 0;      // input requests: as on the wire; output: the report size
    std::vector<std::uint8_t> bytes;  // output: the report as received; input: the answer sent
    DWORD result = 0;               // ERROR_SUCCESS when accepted
    std::string note;               // why it was refused, or which fault acted
};

const char* DirectionName(Direction direction);

// One line: sequence, direction, report ID, length, result, note, then the bytes in hex.
std::string FormatRecord(const TransferRecord& record);

}  // namespace sim
