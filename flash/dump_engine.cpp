// The dump run: reads the whole flash of the identified part, from address 0, into the
// dump file in one burst of flash-read-length chunks. A stop request ends it at the next
// chunk; the file slot's release then removes the unfinished file.
#include "core/format.h"
#include "core/stop_request.h"
#include "flash/flash_programmer.h"
#include "platform/win/file_api.h"

namespace {

constexpr const char* kDumpIncompleteText = "interrupted: the dump is incomplete";

}  // namespace

class DumpEngine {
public:
    DumpEngine(FlashProgrammer& programmer, RunOutcome& outcome)
        : d(programmer), p(programmer.protocol), w(programmer.reporter), out(outcome) {}

    // Mode 1 and address 0 belong to this run alone; a burn's access mode is not touched.
    void Run() {
        if (ReadFlashIntoFile() && d.CommitFlashFile()) {
            w.Trace("FlashRead -- Read data OK.\n");
            out.boxes.push_back({core::BoxOwner::None, "Dump firmware has finished!", "Info", core::Icon::Information});
            out.passed = true;
        } else if (stopped) {
            // Stopped on request, which is no failure of the device or the file: no box.
            out.interruption = kDumpIncompleteText;
            w.Trace(out.interruption + "\n");
        } else {
            // The file keeps the chunks read so far; the user must not take it for a dump.
            out.boxes.push_back({core::BoxOwner::None, "Dump firmware failed, the dump file is incomplete!", "Error",
                                 core::Icon::Error});
        }
    }

private:
    bool ReadFlashIntoFile() {
        auto lock = p.LockTransfers();  // nothing may come between the set-up and the burst
        stopped = core::StopBeforeNextChunk(false);  // asked before the first chunk
        if (stopped) return false;
        if (!p.FlashAccess(AP_FLASH_BURST_LATER, kModeWholeFlash, 0, p.FlashTotalSize(), {})) {
            w.Trace(core::Format("Unknown error: Couldn't execute AP_FLASH_BURST_LATER--case %d\n", kModeWholeFlash));
            return false;
        }
        ULONG done = 0;
        if (p.FlashBurst(AP_FLASH_BURST_READ_TO_FILE, p.FlashTotalSize(), {}, 0, done) != 0) {
            stopped = core::StopBeforeNextChunk(false);
            return false;
        }
        // The dump is finished only when the whole file is on the disk.
        if (d.FlushFlashFile()) return true;
        d.ReportFileError();
        w.Trace("FlashRead -- Flush dump file fail.\n");
        return false;
    }

    FlashProgrammer& d;
    CommandProtocol& p;
    core::Reporter& w;
    RunOutcome& out;
    bool stopped = false;  // the burst ended at a stop request
};

RunOutcome FlashProgrammer::Dump() {
    RunOutcome outcome;
    DumpEngine(*this, outcome).Run();
    return outcome;
}
