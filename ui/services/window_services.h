// The seam between the dialog logic and its window: the trace, message boxes, the main
// dialog's controls by id, the open-file dialog and the application profile. No toolkit
// here: the program implements it with Qt (ui/qt), tests with RecordingWindow.
//
// Texts are UTF-8. A control id that names no control is skipped by every operation
// (HasControl tells). Calls from a worker thread return only after the dialog's thread
// has carried them out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/format.h"
#include "core/report.h"

namespace ui {

using core::BoxOwner;
using core::Format;
using core::Icon;

struct OpenFileRequest {
    std::vector<std::pair<std::string, std::string>> filters;  // (description, pattern)
    bool pathMustExist = false;
    bool fileMustExist = false;
    // A save dialog (the name may be new) rather than an open dialog.
    bool save = false;
    // With `save`: asks before a name that exists is chosen; a No keeps the dialog open.
    bool overwritePrompt = false;
};

inline constexpr std::size_t kMaxPathChars = 260;  // including the terminator

class WindowServices {
public:
    virtual ~WindowServices() = default;

    // One trace line, formatted by the caller (it ends in "\n" as the design gives it).
    virtual void Trace(std::string_view line) = 0;

    // Shows a box with one OK button; returns when the user dismissed it.
    virtual void MessageBox(BoxOwner owner, std::string_view text, std::string_view caption, Icon icon) = 0;

    virtual bool HasControl(int id) = 0;
    // At most maxCount - 1 characters, as a text buffer of maxCount would hold.
    virtual std::string GetControlText(int id, int maxCount) = 0;
    virtual void SetControlText(int id, std::string_view text) = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    virtual bool IsControlEnabled(int id) = 0;
    virtual int GetCheck(int id) = 0;  // 1 checked, 0 not
    virtual void SetCheck(int id, int state) = 0;

    virtual void AddListItem(int id, std::string_view text) = 0;
    virtual void SelectListItem(int id, int index) = 0;
    virtual int GetListSelection(int id) = 0;  // -1 when nothing is selected

    virtual void SetProgressRange(int id, std::uint32_t total) = 0;  // 0 .. total
    virtual void SetProgressPosition(int id, std::uint32_t position) = 0;

    // Progress after one chunk of a burst: the done field `doneId` shows `done` in decimal
    // and the bar `barId` moves to it. Never waits for the dialog's thread, so a transfer
    // loop can call it per chunk; a front end with an event loop keeps only the latest
    // values and shows them at the display's pace. The default shows them at once.
    virtual void PostProgress(int doneId, int barId, std::uint32_t done) {
        SetControlText(doneId, Format("%u", done));
        SetProgressPosition(barId, done);
    }
    // Returns once every posted progress value is on screen (the end of a burst).
    virtual void FlushProgress() {}

    virtual void SetTextLimit(int id, int maxChars) = 0;

    // Posts a close request; the dialog runs its Cancel path after the current handler.
    virtual void RequestClose() = 0;
    // Ends the modal dialog with a result (1 OK, 2 Cancel) once the current handler returns.
    virtual void EndDialog(int result) = 0;
    // Runs the About box modally, owned by the dialog.
    virtual void ShowAboutBox() = 0;

    // False when cancelled; otherwise `path` holds the chosen path (< 260 characters).
    // The request says whether it is an open or a save dialog.
    virtual bool OpenFileDialog(BoxOwner owner, const OpenFileRequest& request, std::string& path) = 0;

    virtual int ReadProfileInt(std::string_view section, std::string_view entry, int defaultValue) = 0;
    virtual void WriteProfileInt(std::string_view section, std::string_view entry, int value) = 0;
};

}  // namespace ui
