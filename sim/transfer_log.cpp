#include "sim/transfer_log.h"

#include <cstdio>

namespace sim {

const char* DirectionName(Direction direction) {
    switch (direction) {
    case Direction::Output: return "OUT";
    case Direction::Input: return "IN";
    case Direction::SetFeature: return "SETFEATURE";
    case Direction::GetFeature: return "GETFEATURE";
    case Direction::Write: return "WRITE";
    case Direction::Read: return "READ";
    }
    return "?";
}

std::string FormatRecord(const TransferRecord& record) {
    char head[160];
    std::snprintf(head, sizeof head, "#%llu %s id=0x%02x len=0x%x %s",
                  static_cast<unsigned long long>(record.sequence), DirectionName(record.direction),
                  record.reportId, record.requestedLength,
                  record.result == 0 ? "ok" : ("error " + std::to_string(record.result)).c_str());
    std::string line = head;
    if (!record.note.empty()) line += " (" + record.note + ")";
    line += ":";
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::uint8_t byte : record.bytes) {
        line += ' ';
        line += kHex[byte >> 4];
        line += kHex[byte & 0xF];
    }
    return line;
}

void TransferLog::Add(TransferRecord record) {
    if (limit_ == 0) return;
    while (records_.size() >= limit_) records_.pop_front();
    records_.push_back(std::move(record));
}

}  // namespace sim
