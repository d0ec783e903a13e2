// The burn worker: writes the loaded burn image into the flash, whole (Entire Flash) or by
// the areas chosen under Other Area. The firmware part is read back and compared; a
// Firmware-area burn is bracketed by the update flag, cleared before the write and set
// once the compare succeeded. Private and Customized data are written without a compare.
// A first stop request lets the write in progress (and its compare and update flag) finish
// and ends the burn before the next area; a second ends it at the next chunk.
#include <array>
#include <cstdint>
#include <string>

#include "core/format.h"
#include "core/stop_request.h"
#include "flash/flash_programmer.h"

namespace {

constexpr const char* kBurnFailedText = "- Flash burn failed !";
constexpr const char* kEntireUpdatedText = "The entire flash has updated, please replug-in device!";
constexpr const char* kAreasUpdatedText = "\n has updated, please replug-in device!";

// Refusals of the pre-flight check.
constexpr const char* kImageTooShortText = "The burn file is too short for the selected area !";
constexpr const char* kImageTooLargeText = "The burn file is larger than the flash !";
constexpr const char* kFirmwareTooLongText = "The firmware length in the burn file exceeds the Firmware Area !";
constexpr const char* kNoSectorSizeText = "The flash sector size is unknown, the Firmware Area can't be burned !";
constexpr const char* kFirmwareEmptyText = "The firmware length in the burn file is 0 !";
constexpr const char* kBeyondFlashText = "The selected area lies beyond the end of the flash !";

// How a burn that a stop request ended left the flash.
constexpr const char* kNothingWrittenText = "interrupted: nothing was written";
constexpr const char* kWriteFinishedText = "interrupted: the write in progress was finished; nothing further was done";
constexpr const char* kFlashIncompleteText = "interrupted: the flash is incomplete";

}  // namespace

class BurnEngine {
public:
    BurnEngine(FlashProgrammer& programmer, const BurnRequest& request, RunOutcome& outcome)
        : d(programmer), p(programmer.protocol), w(programmer.reporter), r(request), out(outcome) {}

    void Run();

private:
    bool FirmwareBoxChosen() const { return r.Chosen(kAreaFirmware); }
    bool NothingChosen() const;
    bool FirmwarePhase();
    bool PrepareFirmwareArea();
    bool TransferAndVerify();
    bool WriteAreas();
    void ShowVerdict();
    bool Burst(int op, ULONG& remaining, ULONG& done);
    bool WriteUpdateFlag(std::uint8_t value);
    bool Fail();
    // Stop requests: between two writes any request ends the burn; a burst that fell short
    // at a repeated one leaves the flash incomplete. Both answer whether the burn ended.
    bool StopBetweenWrites();
    bool StoppedInBurst(ULONG remaining);
    bool Interrupt(const char* text);

    FlashProgrammer& d;
    CommandProtocol& p;
    core::Reporter& w;
    const BurnRequest& r;
    RunOutcome& out;
    std::uint8_t accessMode = kModeWholeFlash;
    ULONG length = 0;   // of the next transfer
    ULONG offset = 0;   // in the image
    ULONG address = 0;  // in the flash
    ULONG lastResult = 0;  // bytes the last burst did not move
    unsigned successMask = 0;  // bit i: row i of FlashAreaTable was written
    bool areaFellShort = false;
    std::array<std::uint8_t, kUpdateFlagBlockSize> scratch{};
};

// A failed set-up or update-flag access ends the burn with this box too, so a burn that
// stopped half-way is told to the user and not only traced.
bool BurnEngine::Fail() {
    out.boxes.push_back({core::BoxOwner::None, kBurnFailedText, "Error", core::Icon::Error});
    return false;
}

bool BurnEngine::StopBetweenWrites() {
    if (core::StopRequests() == 0) return false;
    Interrupt(out.written.empty() ? kNothingWrittenText : kWriteFinishedText);
    return true;
}

bool BurnEngine::StoppedInBurst(ULONG remaining) {
    if (remaining == 0 || !core::StopBeforeNextChunk(true)) return false;
    Interrupt(kFlashIncompleteText);
    return true;
}

// No box: a stop on request is no failure of the device; the trace and the run's
// interruption text tell what the flash holds.
bool BurnEngine::Interrupt(const char* text) {
    out.interruption = text;
    w.Trace(out.interruption + "\n");
    return false;
}

void BurnEngine::Run() {
    core::DeferredStop deferred;
    if (NothingChosen()) {
        out.boxes.push_back({core::BoxOwner::None, "No any item is selected in Other Area !", "Error", core::Icon::Error});
        return;
    }
    if (StopBetweenWrites()) return;
    bool firmwarePhase = !r.otherArea || FirmwareBoxChosen();
    if (firmwarePhase && !FirmwarePhase()) return;
    if (WriteAreas()) ShowVerdict();
}

bool BurnEngine::NothingChosen() const {
    if (!r.otherArea) return false;
    for (int row = 0; row < kFlashAreaCount; ++row)
        if (r.Chosen(row)) return false;
    return true;
}

bool BurnEngine::FirmwarePhase() {
    accessMode = kModeWholeFlash;
    length = d.burnImage.length;
    offset = address = 0;
    if (FirmwareBoxChosen() && !PrepareFirmwareArea()) return Fail();
    return TransferAndVerify();
}

// The firmware area is written only up to its header-given length, in whole sectors.
bool BurnEngine::PrepareFirmwareArea() {
    accessMode = kModeFirmware;
    FirmwareLength fw;
    if (!ReadFirmwareLength(d.burnImage.Data(), p.FlashSectorSize(), fw)) return false;
    w.Trace(core::Format("FlashWrite -- Header_len - 0x%x\n", fw.headerLen));
    w.Trace(core::Format("FlashWrite -- Boot_Size - 0x%x\n", fw.bootSize));
    w.Trace(core::Format("FlashWrite -- compressed firmware length_0 - 0x%x\n", fw.sum));
    if (fw.rounded > FlashAreaTable[kAreaFirmware].length) return false;
    length = static_cast<ULONG>(fw.rounded);
    w.Trace(core::Format("FlashWrite -- compressed firmware length_1 - 0x%x\n", length));
    offset = address = kFirmwareHeaderOffset;
    return WriteUpdateFlag(0);
}

// A write that fell short is still followed by the compare, which decides.
bool BurnEngine::TransferAndVerify() {
    ULONG remaining = 0, done = 0;
    if (!Burst(AP_FLASH_WRITE, remaining, done)) return Fail();
    out.written.push_back({address, done, false});
    if (StoppedInBurst(remaining)) return false;
    if (remaining == 0) {
        w.Trace(core::Format("FlashWrite -- Transfer %u bytes to Firmware\n", done));
        p.Progress().Position(done);
    }
    if (!Burst(AP_FLASH_READ, lastResult, done)) return Fail();  // the read compares with the image
    if (StoppedInBurst(lastResult)) return false;
    if (lastResult != 0) {
        // The update flag stays cleared and no other area is written.
        out.boxes.push_back({core::BoxOwner::None, "- Compare NG, Firmware update failed !", "Error", core::Icon::Error});
        return false;
    }
    // A repeated stop request leaves the flag cleared: the device does not take the new firmware.
    if (FirmwareBoxChosen() && core::StopBeforeNextChunk(true)) return Interrupt(kFlashIncompleteText);
    if (FirmwareBoxChosen() && !WriteUpdateFlag(1)) return Fail();
    out.written.back().compared = true;  // and, for the firmware area, flagged
    w.Trace("FlashWrite -- Compare data OK.\n");
    if (accessMode != kModeWholeFlash) successMask |= 1u << kAreaFirmware;
    return true;
}

bool BurnEngine::WriteAreas() {
    accessMode = kModeAreas;
    if (!r.otherArea) return true;
    for (int row : {kAreaPrivate, kAreaCustomized}) {
        if (!r.Chosen(row)) continue;
        if (StopBetweenWrites()) return false;
        const FlashArea& area = FlashAreaTable[row];
        length = area.length;
        address = offset = area.address;
        ULONG done = 0;
        if (!Burst(AP_FLASH_WRITE, lastResult, done)) return Fail();
        out.written.push_back({address, done, false});
        if (StoppedInBurst(lastResult)) return false;
        if (lastResult != 0) {
            areaFellShort = true;  // the other area is still written; the verdict tells
            continue;
        }
        w.Trace(core::Format("FlashWrite for Customized-- Transfer %u bytes to Firmware\n", done));
        p.Progress().Position(done);
        successMask |= 1u << row;
    }
    return true;
}

// Any area that fell short fails the whole burn, whichever burst came last. A stop request
// that came during the last write ends the burn as interrupted, though nothing was left out.
void BurnEngine::ShowVerdict() {
    if (lastResult != 0 || areaFellShort) {
        Fail();
        return;
    }
    if (StopBetweenWrites()) return;
    std::string text;
    if (successMask == 0) {
        text = kEntireUpdatedText;
    } else {
        for (int row = 0; row < kFlashAreaCount; ++row)
            if (successMask & (1u << row)) text += FlashAreaTable[row].name;
        text += kAreasUpdatedText;
    }
    out.boxes.push_back({core::BoxOwner::None, text, "Info", core::Icon::Information});
    out.passed = true;
}

// Announces the burst and moves it while holding the transfers, so that no other command
// comes between the set-up and its data. False when the set-up failed.
bool BurnEngine::Burst(int op, ULONG& remaining, ULONG& done) {
    if (core::StopBeforeNextChunk(true)) {  // a burst that would stop at once is not even announced
        remaining = length;
        done = 0;
        return true;
    }
    auto lock = p.LockTransfers();
    if (!p.FlashAccess(AP_FLASH_BURST_LATER, accessMode, address, length, {})) {
        w.Trace(core::Format("Unknown error: Couldn't execute AP_FLASH_BURST_LATER--case %d\n", accessMode));
        return false;
    }
    remaining = p.FlashBurst(op, length, d.burnImage.Data(), offset, done);
    return true;
}

// Byte 0 of the update-flag block is the flag. The block is read into a 0xFF-filled
// scratch block, the flag put in, and the report's worth written back.
bool BurnEngine::WriteUpdateFlag(std::uint8_t value) {
    scratch.fill(0xFF);
    auto lock = p.LockTransfers();
    if (!p.FlashAccess(AP_FLASH_READ, kModeUpdateFlag, kUpdateFlagAddress, p.Host().flashReadLength, scratch)) {
        w.Trace(core::Format("Unknown error: Couldn't execute AP_FLASH_READ--case %d\n", kModeUpdateFlag));
        return false;
    }
    scratch[0] = value;
    const ULONG bufferLength = p.Host().flashBuffer.length;
    ULONG writeLength = bufferLength > 4 ? bufferLength - 4 : 0;
    if (!p.FlashAccess(AP_FLASH_WRITE, kModeUpdateFlag, kUpdateFlagAddress, writeLength, scratch)) {
        w.Trace(core::Format("Unknown error: Couldn't execute AP_FLASH_WRITE--case %d\n", kModeUpdateFlag));
        return false;
    }
    return true;
}

const char* FlashProgrammer::ImageProblem(const BurnRequest& r) const {
    const CommandProtocol& p = protocol;
    const ULONG imageLength = burnImage.length;
    if (!r.otherArea) return imageLength > p.FlashTotalSize() ? kImageTooLargeText : nullptr;
    if (r.Chosen(kAreaFirmware)) {
        if (p.FlashSectorSize() == 0) return kNoSectorSizeText;
        FirmwareLength fw;
        if (!ReadFirmwareLength(burnImage.Data(), p.FlashSectorSize(), fw)) return kImageTooShortText;
        // A header that gives nothing to write would still have the update flag set.
        if (fw.rounded == 0) return kFirmwareEmptyText;
        if (fw.rounded > FlashAreaTable[kAreaFirmware].length) return kFirmwareTooLongText;
        if (kFirmwareHeaderOffset + fw.rounded > imageLength) return kImageTooShortText;
        if (kFirmwareHeaderOffset + fw.rounded > p.FlashTotalSize()) return kBeyondFlashText;
    }
    for (int row : {kAreaPrivate, kAreaCustomized}) {
        const FlashArea& area = FlashAreaTable[row];
        if (!r.Chosen(row)) continue;
        std::uint64_t end = std::uint64_t{area.address} + area.length;
        if (end > imageLength) return kImageTooShortText;
        if (end > p.FlashTotalSize()) return kBeyondFlashText;  // a part smaller than the layout
    }
    return nullptr;
}

RunOutcome FlashProgrammer::Burn(const BurnRequest& request) {
    RunOutcome outcome;
    BurnEngine(*this, request, outcome).Run();
    return outcome;
}
