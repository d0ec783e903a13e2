// The simulated device's transfer log: one record per transfer it saw, accepted or
// refused, the newest kept up to a limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
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

// The last `limit` records (the oldest dropped first; a limit of 0 keeps none). Not
// thread-safe: the device that owns it serialises.
class TransferLog {
public:
    explicit TransferLog(std::size_t limit) : limit_(limit) {}
    void Add(TransferRecord record);
    bool Keeps() const { return limit_ > 0; }
    std::vector<TransferRecord> Records() const { return {records_.begin(), records_.end()}; }
    void Clear() { records_.clear(); }

private:
    std::size_t limit_;
    std::deque<TransferRecord> records_;
};

}  // namespace sim
