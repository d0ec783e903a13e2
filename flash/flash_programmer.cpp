// The dialog's flash share: the Burn and Dump handlers, the worker threads they start and
// the run guard that keeps the dialog from disturbing a running worker.
#include "flash/flash_programmer.h"

#include <system_error>

#include "ui/services/control_ids.h"

namespace ids = ui::ids;

namespace {

// Every control that could send a device command, pick or release a file, change the Burn
// Area choice or start a second run.
constexpr int kGuardedControls[] = {
    ids::kWrite,         ids::kRead,           ids::kSetGpio,        ids::kGetId,
    ids::kGetFwVersion,  ids::kGetHdmiInfo,    ids::kTest,           ids::kDisableHdcpKey,
    ids::kEnableHdcpKey, ids::kBrowseBurnFile, ids::kBrowseDumpFile, ids::kBurn,
    ids::kDump,          ids::kEntireFlash,    ids::kOtherArea,      ids::kFirmwareBox,
    ids::kPrivateBox,    ids::kCustomizedBox,  ids::kOpenDevice,
};

}  // namespace

FlashProgrammer::FlashProgrammer(ui::WindowServices& w) : CommandProtocol(w) {}

FlashProgrammer::~FlashProgrammer() { JoinWorkers(); }

void FlashProgrammer::JoinWorkers() {
    if (burnWorker.joinable()) burnWorker.join();
    if (dumpWorker.joinable()) dumpWorker.join();
}

void FlashProgrammer::BeginRun() {
    disabledForRun.clear();
    for (int id : kGuardedControls) {
        if (!windows.HasControl(id)) continue;
        disabledForRun.emplace_back(id, windows.IsControlEnabled(id));
        windows.EnableControl(id, false);
    }
}

void FlashProgrammer::EndRun() {
    for (const auto& [id, wasEnabled] : disabledForRun) windows.EnableControl(id, wasEnabled);
    disabledForRun.clear();
}

void FlashProgrammer::StartWorker(std::thread& worker, void (*proc)(FlashProgrammer*)) {
    if (worker.joinable()) worker.join();  // it has passed its end step: IsRunning() was false
    writtenSpans.clear();
    interruption.clear();
    // The run holds the device from its set-up to its last chunk; the end step releases it.
    if (!ClaimDevice()) return;
    BeginRun();
    running.store(true, std::memory_order_release);
    try {
        worker = std::thread(proc, this);
    } catch (const std::system_error&) {
        windows.Trace("Unknown error: Couldn't execute CreateThread function\n");
        ReleaseDevice();
        EndRun();
        running.store(false, std::memory_order_release);
    }
}

void FlashProgrammer::EndWorker(int startButton) {
    ReleaseDevice();
    ReleaseFlashFile();
    windows.FlushProgress();
    windows.SetControlText(ids::kStatusText, "Status: Wait");
    EndRun();
    windows.EnableControl(startButton, false);
    windows.Trace("Call ExitThread_0.\n");
    // The thread ends by returning from its procedure right after this step.
    windows.Trace("Call ExitThread_1.\n");
    running.store(false, std::memory_order_release);
}

// A start needs a file of its kind in the slot and an identified flash; each refusal is
// the dialog's own box.
bool FlashProgrammer::ReadyToStart(bool burn) {
    if (!flashFile.IsOpen() || flashFile.forRead != burn) {
        windows.MessageBox(ui::BoxOwner::Dialog, burn ? "Please select the burn file !" : "Please select the dump file !",
                           "Error", ui::Icon::Error);
        return false;
    }
    if (IdentifiedPartIndex == kNoIdentifiedPart) {
        windows.MessageBox(ui::BoxOwner::Dialog, "Please execute Get ID function !", "Error", ui::Icon::Error);
        return false;
    }
    return true;
}

void FlashProgrammer::OnBurn() {
    if (IsRunning()) return;  // Burn is disabled during a run; a caller that ignores that gets nothing
    if (!ReadyToStart(true) || RefuseBurnImage()) return;
    windows.Trace("Start write data to flash.\n");
    StartWorker(burnWorker, BurnThreadProc);
}

void FlashProgrammer::OnDump() {
    if (IsRunning()) return;
    if (!ReadyToStart(false)) return;
    windows.Trace("Start read data from flash.\n");
    StartWorker(dumpWorker, DumpThreadProc);
}
