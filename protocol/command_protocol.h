// The dialog's share of the vendor command protocol: the register, IIC and GPIO commands,
// flash identification (Get ID) and the status queries. Every command builds its frame in
// a command buffer, prepares a report-table row and hands it to the dispatcher.
//
// Failure convention: the commands answer 1 when every step succeeded (or the operation
// number selects no step) and 0 when a step failed; a failed step writes one trace line
// "Unknown error: Couldn't execute <row name> function\n" and changes no output.
// One command's transfers are never interleaved with another's, whichever thread runs it.
#pragma once

#include <mutex>
#include <span>

#include "hid/device_host.h"
#include "protocol/flash_parts.h"
#include "protocol/report_table.h"

class CommandProtocol : public HidDeviceHost {
public:
    using HidDeviceHost::HidDeviceHost;

    int RegisterCommand(int mode, ULONG address, ULONG& value);
    // `data` holds the bytes to send on entry and the answer on return; its size bounds
    // both, so a count or read count it cannot hold is refused before anything is sent.
    int IicCommand(int op, std::uint8_t deviceAddress, std::uint8_t count, std::span<std::uint8_t> data,
                   std::uint8_t readCount);
    int GpioCommand(int op, std::uint8_t pin, std::uint8_t& value);

    void OnGetId();
    void OnGetFwVersion();
    void OnGetHdmiInfo();
    void OnTest();
    void OnBnClickedRdoDHdcpKey();
    void OnBnClickedRdoEHdcpKey();

    // Flash access (protocol/flash_access.cpp), for the burn and dump workers.
    // FlashAccess announces an access mode, an address and a length, then moves at most
    // one report of data (op 16 write from `buffer`, op 17 read into it; op 19 nothing);
    // answers 1 or 0. FlashBurst moves `total` bytes in report-sized chunks (op 16 write
    // from image[offset..], 17 compare with it, 18 into WriteFlashFile, 32 into it),
    // drives the progress controls, stores the bytes moved in `done` and answers the bytes
    // not moved. Neither reads or writes outside `buffer` or `image`. A stop request
    // (ui/services/stop_request.h) ends a burst between two chunks.
    int FlashAccess(int op, std::uint8_t mode, ULONG address, ULONG length, std::span<std::uint8_t> buffer);
    ULONG FlashBurst(int op, ULONG total, std::span<std::uint8_t> image, ULONG offset, ULONG& done);

    ULONG FlashSectorSize() const { return flashSectorSize; }
    ULONG FlashTotalSize() const { return flashTotalSize; }

    // The device claim: while held, no other program's (or other handle's) frames reach the
    // device. Counted, so a run that claims the device for its whole length (a burn, a dump,
    // a command-line process) and the commands inside it share one claim. A refused claim
    // shows "device busy: held by process N" and answers false.
    bool ClaimDevice();
    void ReleaseDevice();

    // Holds the transfer lock and the device claim together (see LockTransfers); a busy
    // device leaves it without the claim, so every transfer under it fails.
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

protected:
    // Holds off every other command's transfers, in this process and (by the device claim)
    // in every other; a multi-report sequence (a burst) holds it throughout. Recursive, so
    // a command may call another. A transfer without the claim is never sent.
    TransferGuard LockTransfers() { return TransferGuard(*this); }

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
    std::uint8_t* ControlFrame(ULONG bytes) { return controlBufferLength >= bytes ? controlBuffer.get() : nullptr; }

    // The answer of the last input step, from byte 0, and how many bytes the device carried.
    const std::uint8_t* Answer() const { return device.inputReport.get(); }
    ULONG AnswerLength() const;

    bool RequireOpenDevice();  // "HID Device no found !" when none is open

    // Where a read burst into the dump file (FlashBurst op 18) puts each chunk; answers the
    // bytes written. The flash share overrides it with its file slot.
    virtual ULONG WriteFlashFile(const std::uint8_t* buffer, ULONG count);

    ULONG flashSectorSize = 0;
    ULONG flashTotalSize = 0;

private:
    void ShowIdentifiedPart(ULONG row);
    void ShowUnknownPart(ULONG row);
    void SwitchHdcpKey(int radioId, ULONG value, const char* handlerName);
    // Burst helpers (protocol/flash_access.cpp).
    ULONG BurstChunkLimit(int op) const;
    bool MoveBurstChunk(int op, ULONG chunk, std::span<std::uint8_t> image, ULONG offset, ULONG done);

    bool HoldsDevice() const;

    std::recursive_mutex transferLock;
    mutable std::mutex claimLock;
    int claimCount = 0;  // under claimLock: holders of the device claim in this process
};
