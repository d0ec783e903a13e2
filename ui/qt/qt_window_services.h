// The window services over Qt widgets: controls by id, message boxes, the open-file
// dialog, the profile (QSettings) and the trace (standard error).
//
// Safe to call from any thread: a call from another thread is carried out on the
// dialog's thread and returns when it is done (getters answer what the dialog's thread
// read). PostProgress is the exception: it never waits, it keeps the latest value and
// posts at most one update at a time.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <vector>

#include "ui/qt/dialog_builder.h"
#include "ui/services/window_services.h"

class QDialog;
class QFileDialog;
class QMessageBox;

namespace uiqt {

// The picker's name filters: "Description (pattern ...)" per pair of the request, a
// pattern "*.*" shown as "*" (every file, with or without a dot).
QStringList NameFilters(const ui::OpenFileRequest& request);
// Sets up a file dialog for a request: filters, open or save, existing file or any, and
// whether a save asks before replacing an existing file.
void ConfigureFilePicker(QFileDialog& picker, const ui::OpenFileRequest& request);

struct MessageBoxRequest {
    ui::BoxOwner owner = ui::BoxOwner::Dialog;
    std::string text;
    std::string caption;
    ui::Icon icon = ui::Icon::None;
};

// Shows a message box; replaceable so tests record boxes instead of showing them.
using BoxPresenter = std::function<void(const MessageBoxRequest&)>;
// Answers the open-file dialog; replaceable so tests and benchmarks pick without a window.
using FilePicker = std::function<bool(const ui::OpenFileRequest&, std::string& path)>;

class QtWindowServices final : public QObject, public ui::WindowServices {
public:
    QtWindowServices(QDialog& dialog, std::map<int, BuiltControl> controls);
    ~QtWindowServices() override;

    void Trace(std::string_view line) override;
    void MessageBox(ui::BoxOwner owner, std::string_view text, std::string_view caption, ui::Icon icon) override;
    bool HasControl(int id) override;
    std::string GetControlText(int id, int maxCount) override;
    void SetControlText(int id, std::string_view text) override;
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) override;
    int GetCheck(int id) override;
    void SetCheck(int id, int state) override;
    void AddListItem(int id, std::string_view text) override;
    void SelectListItem(int id, int index) override;
    int GetListSelection(int id) override;
    void SetProgressRange(int id, std::uint32_t total) override;
    void SetProgressPosition(int id, std::uint32_t position) override;
    void PostProgress(int doneId, int barId, std::uint32_t done) override;
    void FlushProgress() override;
    void SetTextLimit(int id, int maxChars) override;
    void RequestClose() override;
    void EndDialog(int result) override;
    void ShowAboutBox() override;
    bool OpenFileDialog(ui::BoxOwner owner, const ui::OpenFileRequest& request, std::string& path) override;
    int ReadProfileInt(std::string_view section, std::string_view entry, int defaultValue) override;
    void WriteProfileInt(std::string_view section, std::string_view entry, int value) override;

    // An empty presenter restores the real message boxes.
    void SetBoxPresenter(BoxPresenter presenter);
    // An empty picker restores the real open-file dialog.
    void SetFilePicker(FilePicker picker);

private:
    template <class Task>
    auto OnDialogThread(Task task) -> decltype(task());
    template <class Widget>
    Widget* Find(int id) const;

    void ShowBox(const MessageBoxRequest& request);
    void ShowProgressAtDisplayPace();
    void ShowProgress();
    void SetProgressOnBar(int id, std::uint32_t position);

    QDialog& dialog_;
    const std::map<int, BuiltControl> controls_;
    BoxPresenter presenter_;
    FilePicker picker_;
    std::vector<QPointer<QMessageBox>> ownerlessBoxes_;
    std::map<int, int> progressShift_;  // a total beyond int range is shown scaled down

    // The latest posted progress; `progressPending_` while an update is queued.
    std::atomic<int> progressDoneId_{0};
    std::atomic<int> progressBarId_{0};
    std::atomic<std::uint32_t> progressDone_{0};
    std::atomic<bool> progressPosted_{false};
    std::atomic<bool> progressPending_{false};
    static constexpr std::chrono::milliseconds kDisplayFrame{16};
    std::chrono::steady_clock::time_point lastProgressShown_{};  // the dialog's thread only
};

}  // namespace uiqt
