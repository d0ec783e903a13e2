// Flash access: FlashAccess announces an access mode, an address and a length and moves at
// most one report of data; FlashBurst moves a whole announced length report by report.
// Both hold the transfer lock throughout, so no other command's report lands inside the
// sequence the device is counting.
#include <algorithm>
#include <cstring>

#include "core/format.h"
#include "core/stop_request.h"
#include "protocol/command_protocol.h"
#include "protocol/wire.h"

namespace {

using wire::kFlashDataOffset;

constexpr const char* kBurstWriteFailed = "Unknown error: Couldn't execute BURST_FLASH_WRITE function\n";
constexpr const char* kBurstReadFailed = "Unknown error: Couldn't execute BURST_FLASH_READ function\n";

// Ops that write from or read into the caller's image; the others send their chunks to the file.
bool UsesImage(int op) {
    return op == AP_FLASH_WRITE || op == AP_FLASH_READ || op == AP_FLASH_BURST_READ_TO_MEMORY;
}

const char* BurstStatusText(int op) {
    switch (op) {
    case AP_FLASH_WRITE: return "Status: Write";
    case AP_FLASH_READ: return "Status: Compare";
    case AP_FLASH_BURST_READ_TO_FILE:
    case AP_FLASH_BURST_READ_TO_MEMORY: return "Status: Read";
    default: return nullptr;
    }
}

}  // namespace

int CommandProtocol::FlashAccess(int op, std::uint8_t mode, ULONG address, ULONG length,
                                 std::span<std::uint8_t> buffer) {
    // A data step must fit the caller's buffer and, for a write, one flash data report.
    bool fits = true;
    if (op == AP_FLASH_WRITE)
        fits = length <= buffer.size() && host.flashBuffer && host.flashBuffer.length >= kFlashDataOffset &&
               length <= host.flashBuffer.length - kFlashDataOffset;
    else if (op == AP_FLASH_READ)
        fits = length <= buffer.size();
    if (!fits) {
        TraceFailedRow(op == AP_FLASH_WRITE ? REPORT_FLASH_WRITE : REPORT_FLASH_READ);
        return 0;
    }
    auto lock = LockTransfers();
    // The mode in byte 3 and the address in bytes 4..7; then the length in bytes 3..6.
    std::uint8_t* frame = ControlFrame(8);
    if (frame != nullptr) {
        std::memset(frame, 0, host.controlBuffer.length);
        frame[wire::kParameterOffset] = mode;
        PutLe32(frame + wire::kFlashAddressOffset, address);
    }
    if (!SendRow(REPORT_FLASH_ACCESS_MODE, frame)) return 0;
    if (frame != nullptr) {
        std::memset(frame, 0, host.controlBuffer.length);
        PutLe32(frame + wire::kParameterOffset, length);
    }
    if (!SendRow(REPORT_FLASH_SET_LEN, frame)) return 0;
    if (op == AP_FLASH_READ) {
        // An answer shorter than the length is a failed read, not flash bytes of 0.
        if (!FetchRowQuietly(REPORT_FLASH_READ) || AnswerLength() < length) {
            TraceFailedRow(REPORT_FLASH_READ);
            return 0;
        }
        if (length > 0) std::memcpy(buffer.data(), Answer(), length);
    } else if (op == AP_FLASH_WRITE) {
        const CommandBuffer& data = host.flashBuffer;
        std::memset(data.get(), 0, data.length);
        if (length > 0) std::memcpy(data.get() + kFlashDataOffset, buffer.data(), length);
        if (!SendRow(REPORT_FLASH_WRITE, data.get())) return 0;
    }
    return 1;
}

// The most one chunk can carry: a write report's data bytes, or one read answer, which
// must also fit flashBuffer where it is kept. 0 when no chunk can be moved.
ULONG CommandProtocol::BurstChunkLimit(int op) const {
    const CommandBuffer& data = host.flashBuffer;
    if (!data) return 0;
    if (op == AP_FLASH_WRITE) return data.length > kFlashDataOffset ? data.length - kFlashDataOffset : 0;
    return host.flashReadLength <= data.length ? host.flashReadLength : 0;
}

ULONG CommandProtocol::FlashBurst(int op, ULONG total, std::span<std::uint8_t> image, ULONG offset, ULONG& done) {
    done = 0;
    ULONG limit = BurstChunkLimit(op);
    bool imageCovers = !UsesImage(op) || std::uint64_t{offset} + total <= image.size();
    // Refused before anything is sent: a burst that cannot progress, or one that would
    // reach past the image.
    if ((total > 0 && limit == 0) || !imageCovers) {
        reporter.Trace(op == AP_FLASH_WRITE ? kBurstWriteFailed : kBurstReadFailed);
        return total;
    }
    const char* status = BurstStatusText(op);
    progress.Start(total, status != nullptr ? status : "");
    ULONG remaining = total;
    {
        auto lock = LockTransfers();
        while (remaining > 0) {
            // A stop request ends the burst between chunks, so no report is cut in two.
            if (core::StopBeforeNextChunk(op == AP_FLASH_WRITE || op == AP_FLASH_READ)) break;
            ULONG chunk = std::min(remaining, limit);
            if (!MoveBurstChunk(op, chunk, image, offset, done)) break;
            remaining -= chunk;
            done += chunk;
            progress.Post(done);
        }
    }
    // The last posted values are on screen before the caller shows its outcome.
    progress.Flush();
    if (remaining == 0) progress.Status("Status: Wait");
    return remaining;
}

// One report of a burst: writes image[offset + done ..] or reads an answer and compares it,
// stores it in the image or hands it to the dump file. False, with its trace line, on a stop.
bool CommandProtocol::MoveBurstChunk(int op, ULONG chunk, std::span<std::uint8_t> image, ULONG offset, ULONG done) {
    std::uint8_t* data = host.flashBuffer.get();
    std::memset(data, 0, host.flashBuffer.length);
    std::size_t at = std::size_t{offset} + done;
    if (op == AP_FLASH_WRITE) {
        std::memcpy(data + kFlashDataOffset, image.data() + at, chunk);
        HidCall call;
        host.PrepareHidCall(call, ReportTable[REPORT_FLASH_WRITE], data);
        if (Transfer(HidCallSetOutputReport, call)) return true;
        reporter.Trace(kBurstWriteFailed);
        return false;
    }
    if (!FetchRowQuietly(REPORT_FLASH_READ) || AnswerLength() < chunk) {
        reporter.Trace(kBurstReadFailed);
        return false;
    }
    std::memcpy(data, Answer(), chunk);
    if (op == AP_FLASH_READ) {
        if (std::memcmp(data, image.data() + at, chunk) == 0) return true;
        reporter.Trace(core::Format("FlashWrite -- Compare data fail, data(0x%08x~0x%08x) \n", offset + done,
                                 offset + done + chunk));
        return false;
    }
    if (op == AP_FLASH_BURST_READ_TO_MEMORY) {
        std::memcpy(image.data() + at, data, chunk);
        return true;
    }
    if (writeFlashFile && writeFlashFile(data, chunk) >= chunk) return true;
    reporter.Trace(core::Format("FlashRead -- Read data fail, data(0x%08x~0x%08x) \n", done, done + chunk));
    return false;
}
