// One stage of the simulated device's transfer path. The firmware model answers a
// transfer; a fault injector in front of any stage may refuse it or change its answer
// first. Stages are not thread-safe: the device that owns them serialises transfers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/win/win_error.h"
#include "sim/transfer_log.h"

namespace sim {

struct TransferRequest {
    Direction direction = Direction::Output;
    std::uint8_t reportId = 0;
    ULONG length = 0;                      // as TransferRecord::requestedLength
    std::span<const std::uint8_t> report;  // output kinds: the report as received
};

struct TransferOutcome {
    DWORD result = ERROR_SUCCESS;
    std::string note;  // why the transfer was refused, or which fault acted
};

class TransferHandler {
public:
    virtual ~TransferHandler() = default;
    // One transfer. `answer` is null for the output kinds; for the input kinds it arrives
    // empty, holds the answer on success and stays empty on failure.
    virtual TransferOutcome Handle(const TransferRequest& request, std::vector<std::uint8_t>* answer) = 0;
};

}  // namespace sim
