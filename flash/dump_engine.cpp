// The dump worker: reads the whole flash of the identified part, from address 0, into the
// dump file in one burst of flash-read-length chunks. A stop request ends it at the next
// chunk; the file slot's release then removes the unfinished file.
#include "flash/flash_programmer.h"
#include "platform/win/file_api.h"
#include "ui/services/control_ids.h"
#include "ui/services/stop_request.h"

namespace {

constexpr const char* kDumpIncompleteText = "interrupted: the dump is incomplete";

}  // namespace

class DumpEngine {
public:
    explicit DumpEngine(FlashProgrammer& dialog) : d(dialog), w(dialog.windows) {}

    // Mode 1 and address 0 belong to this run alone; the burn's access mode is not touched.
    void Run() {
        if (ReadFlashIntoFile() && d.CommitFlashFile()) {
            w.Trace("FlashRead -- Read data OK.\n");
            w.MessageBox(ui::BoxOwner::None, "Dump firmware has finished!", "Info", ui::Icon::Information);
        } else if (stopped) {
            // Stopped on request, which is no failure of the device or the file: no box.
            d.interruption = kDumpIncompleteText;
            w.Trace(d.interruption + "\n");
        } else {
            // The file keeps the chunks read so far; the user must not take it for a dump.
            w.MessageBox(ui::BoxOwner::None, "Dump firmware failed, the dump file is incomplete!", "Error",
                         ui::Icon::Error);
        }
    }

private:
    bool ReadFlashIntoFile() {
        auto lock = d.LockTransfers();  // nothing may come between the set-up and the burst
        stopped = ui::StopBeforeNextChunk(false);  // asked before the first chunk
        if (stopped) return false;
        if (!d.FlashAccess(AP_FLASH_BURST_LATER, kModeWholeFlash, 0, d.flashTotalSize, {})) {
            w.Trace(ui::Format("Unknown error: Couldn't execute AP_FLASH_BURST_LATER--case %d\n", kModeWholeFlash));
            return false;
        }
        ULONG done = 0;
        if (d.FlashBurst(AP_FLASH_BURST_READ_TO_FILE, d.flashTotalSize, {}, 0, done) != 0) {
            stopped = ui::StopBeforeNextChunk(false);
            return false;
        }
        // The dump is finished only when the whole file is on the disk.
        if (FlushFileBuffers(d.flashFile.handle)) return true;
        d.ReportFileError();
        w.Trace("FlashRead -- Flush dump file fail.\n");
        return false;
    }

    FlashProgrammer& d;
    ui::WindowServices& w;
    bool stopped = false;  // the burst ended at a stop request
};

void FlashProgrammer::DumpThreadProc(FlashProgrammer* dialog) {
    DumpEngine(*dialog).Run();
    dialog->EndWorker(ui::ids::kDump);
}
