// The vendor command protocol over an opened device: the register, IIC and GPIO commands,
// flash identification (Get ID), the status queries and flash access. Every command builds
// its frame in a command buffer of the device host, prepares a report-table row and hands
// it to the dispatcher. It knows no window: answers are values, failed steps are trace
// lines, and a burst's progress goes to the progress sink.
//
// Failure convention: the commands answer 1 when every step succeeded (or the operation
// number selects no step) and 0 when a step failed; a failed step writes one trace line
// "Unknown error: Couldn't execute <row name> function\n" and changes no output. The
// queries answer an empty optional when they failed.
// One command's transfers are never interleaved with another's, whichever thread runs it.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "core/report.h"
#include "hid/device_host.h"
#include "protocol/flash_parts.h"
#include "protocol/report_table.h"

class CommandProtocol {
public:
    CommandProtocol(HidDeviceHost& host, core::Reporter& reporter, core::ProgressSink& progress);
    CommandProtocol(const CommandProtocol&) = delete;
    CommandProtocol& operator=(const CommandProtocol&) = delete;

    int RegisterCommand(int mode, ULONG address, ULONG& value);
    // `data` holds the bytes to send on entry and the answer on return; its size bounds
    // both, so a count or read count it cannot hold is refused before anything is sent.
    int IicCommand(int op, std::uint8_t deviceAddress, std::uint8_t count, std::span<std::uint8_t> data,
                   std::uint8_t readCount);
    int GpioCommand(int op, std::uint8_t pin, std::uint8_t& value);

    // Get ID: the device's answer (a row of the flash part table when below its size);
    // empty when the request failed, which leaves the previous identification as it was.
    // A known row becomes the identified part and sets the flash geometry; any other
    // clears it, so Burn and Dump stay refused until a Get ID names a known part.
    std::optional<ULONG> GetId();
    // "xx.xx.xx.xx" from the four firmware version registers.
    std::optional<std::string> GetFwVersion();
    // The HDMI input information bytes as "xx xx ...", at most 24 of them.
    std::optional<std::string> GetHdmiInfo();
    // The USB information request of the hidden Test button.
    bool GetUsbInfo();
    // Writes the HDCP key switch; answers as RegisterCommand.
    int SwitchHdcpKey(bool enable);

    // The identified part (kNoIdentifiedPart until a Get ID named one) and its geometry.
    ULONG IdentifiedPartIndex() const { return identifiedIndex; }
    const FlashPart& IdentifiedPart() const { return identifiedPart; }
    ULONG FlashSectorSize() const { return flashSectorSize; }
    ULONG FlashTotalSize() const { return flashTotalSize; }

    // Flash access, for the burn and dump runs.
    // FlashAccess announces an access mode, an address and a length, then moves at most
    // one report of data (op 16 write from `buffer`, op 17 read into it; op 19 nothing);
    // answers 1 or 0. FlashBurst moves `total` bytes in report-sized chunks (op 16 write
    // from image[offset..], 17 compare with it, 18 into the dump file writer, 32 into it),
    // reports progress, stores the bytes moved in `done` and answers the bytes not moved.
    // Neither reads or writes outside `buffer` or `image`. A stop request
    // (core/stop_request.h) ends a burst between two chunks.
    int FlashAccess(int op, std::uint8_t mode, ULONG address, ULONG length, std::span<std::uint8_t> buffer);
    ULONG FlashBurst(int op, ULONG total, std::span<std::uint8_t> image, ULONG offset, ULONG& done);

    // Where a read burst into the dump file (op 18) puts each chunk; answers the bytes
    // written. Without one, op 18 moves nothing.
    using FileWriter = std::function<ULONG(const std::uint8_t* buffer, ULONG count)>;
    void SetFileWriter(FileWriter writer) { writeFlashFile = std::move(writer); }

    // The device claim: while held, no other program's (or other handle's) frames reach the
    // device. Counted, so a run that claims the device for its whole length (a burn, a dump,
    // a command-line process) and the commands inside it share one claim. A refused claim
    // shows "device busy: held by process N" and answers false.
    bool ClaimDevice();
    void ReleaseDevice();

    // Holds the transfer lock and the device claim together; a busy device leaves it
    // without the claim, so every transfer under it fails.
    class TransferGuard {
    public:
        explicit TransferGuard(CommandProtocol& protocol);
        ~TransferGuard();
        TransferGuard(const TransferGuard&) = delete;
        TransferGuard& operator=(const TransferGuard&) = delete;

    private:
        CommandProtocol& protocol_;
        std::lock_guard<std::recursive_mutex> lock_;
        const bool claimed_;
    };

    // Holds off every other command's transfers, in this process and (by the device claim)
    // in every other; a multi-report sequence (a burst) holds it throughout. Recursive, so
    // a command may call another. A transfer without the claim is never sent.
    TransferGuard LockTransfers() { return TransferGuard(*this); }

    core::ProgressSink& Progress() { return progress; }
    HidDeviceHost& Host() { return host; }
    const HidDeviceHost& Host() const { return host; }

private:
    // One step: an output row sent from `buffer`, or an input row fetched into the
    // device's input report (cleared first, so a short answer leaves no stale bytes).
    // A failed step traces its line and answers false.
    bool SendRow(int row, std::uint8_t* buffer);
    // Every report goes through here: refused (false) unless this process holds the claim.
    bool Transfer(HidCallCode code, HidCall& call);
    bool FetchRow(int row);
    bool FetchRowQuietly(int row);  // as FetchRow, without the trace line
    void TraceFailedRow(int row);

    // The control buffer when it holds a frame of `bytes` bytes, else null. The buffer is
    // as long as the device's control report; a command whose frame does not fit fails at
    // its first step, as without a buffer, instead of writing its frame past the end.
    std::uint8_t* ControlFrame(ULONG bytes);

    // The answer of the last input step, from byte 0, and how many bytes the device carried.
    const std::uint8_t* Answer() const;
    ULONG AnswerLength() const;

    void IdentifyPart(ULONG row);
    // Burst helpers (protocol/flash_access.cpp).
    ULONG BurstChunkLimit(int op) const;
    bool MoveBurstChunk(int op, ULONG chunk, std::span<std::uint8_t> image, ULONG offset, ULONG done);

    bool HoldsDevice() const;

    HidDeviceHost& host;
    HidDevice& device;
    core::Reporter& reporter;
    core::ProgressSink& progress;
    FileWriter writeFlashFile;

    ULONG identifiedIndex = kNoIdentifiedPart;
    FlashPart identifiedPart{};
    ULONG flashSectorSize = 0;
    ULONG flashTotalSize = 0;

    std::recursive_mutex transferLock;
    mutable std::mutex claimLock;
    int claimCount = 0;  // under claimLock: holders of the device claim in this process
};
