// A WindowServices that records every call in order and keeps a small model of the
// controls (text, enabled, check, list items and selection, progress, limits), so tests
// can check what a handler did and script what the user answers.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "ui/services/window_services.h"

namespace ui {

struct RecordedCall {
    std::string kind;  // "Trace", "MessageBox", "SetText", "Enable", "SetCheck", "AddItem", "Select", ...
    int id = 0;
    std::string text;
    std::string caption;
    std::int64_t value = 0;
    Icon icon = Icon::None;
    BoxOwner owner = BoxOwner::Dialog;
};

struct ControlState {
    std::string text;
    bool enabled = true;
    int check = 0;
    std::vector<std::string> items;
    int selection = -1;
    std::uint32_t rangeMax = 100;
    std::uint32_t position = 0;
    int textLimit = 0;
};

class RecordingWindow : public WindowServices {
public:
    RecordingWindow();

    void Trace(std::string_view line) override;
    void MessageBox(BoxOwner owner, std::string_view text, std::string_view caption, Icon icon) override;
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
    void SetTextLimit(int id, int maxChars) override;
    void RequestClose() override;
    void EndDialog(int result) override;
    void ShowAboutBox() override;
    bool OpenFileDialog(BoxOwner owner, const OpenFileRequest& request, std::string& path) override;
    int ReadProfileInt(std::string_view section, std::string_view entry, int defaultValue) override;
    void WriteProfileInt(std::string_view section, std::string_view entry, int value) override;

    // Scripting.
    void RemoveControl(int id);                            // the id then names nothing
    void QueueOpenFileResult(std::optional<std::string> path);  // nullopt = the user cancels
    void SetProfileInt(std::string section, std::string entry, int value);
    void TypeText(int id, std::string text);               // as the user would; not recorded

    // Observation.
    std::vector<RecordedCall> Calls() const;
    std::vector<RecordedCall> CallsOf(std::string_view kind) const;
    std::vector<std::string> Traces() const;
    std::vector<RecordedCall> MessageBoxes() const { return CallsOf("MessageBox"); }
    ControlState Control(int id) const;
    std::optional<int> ProfileInt(const std::string& section, const std::string& entry) const;
    int CloseRequests() const;
    std::optional<int> DialogResult() const;  // set by EndDialog
    std::vector<OpenFileRequest> OpenFileRequests() const;
    void ClearCalls();

private:
    void Record(RecordedCall call);

    mutable std::mutex lock_;
    std::vector<RecordedCall> calls_;
    std::map<int, ControlState> controls_;
    std::set<int> absent_;
    std::deque<std::optional<std::string>> openFileResults_;
    std::vector<OpenFileRequest> openFileRequests_;
    std::map<std::pair<std::string, std::string>, int> profile_;
    int closeRequests_ = 0;
    std::optional<int> dialogResult_;
};

}  // namespace ui
