#include "ui/services/recording_window.h"

#include <algorithm>

namespace ui {

RecordingWindow::RecordingWindow() = default;

void RecordingWindow::Record(RecordedCall call) { calls_.push_back(std::move(call)); }

void RecordingWindow::Trace(std::string_view line) {
    std::lock_guard guard(lock_);
    Record({.kind = "Trace", .text = std::string(line)});
}

void RecordingWindow::MessageBox(BoxOwner owner, std::string_view text, std::string_view caption, Icon icon) {
    std::lock_guard guard(lock_);
    Record({.kind = "MessageBox", .text = std::string(text), .caption = std::string(caption), .icon = icon, .owner = owner});
}

bool RecordingWindow::HasControl(int id) {
    std::lock_guard guard(lock_);
    return absent_.count(id) == 0;
}

std::string RecordingWindow::GetControlText(int id, int maxCount) {
    std::lock_guard guard(lock_);
    if (absent_.count(id) != 0 || maxCount <= 0) return {};
    std::string text = controls_[id].text;
    if (text.size() > static_cast<std::size_t>(maxCount - 1)) text.resize(static_cast<std::size_t>(maxCount - 1));
    return text;
}

void RecordingWindow::SetControlText(int id, std::string_view text) {
    std::lock_guard guard(lock_);
    if (absent_.count(id) != 0) return;
    controls_[id].text = std::string(text);
    Record({.kind = "SetText", .id = id, .text = std::string(text)});
}

void RecordingWindow::EnableControl(int id, bool enable) {
    std::lock_guard guard(lock_);
    if (absent_.count(id) != 0) return;
    controls_[id].enabled = enable;
    Record({.kind = "Enable", .id = id, .value = enable ? 1 : 0});
}

bool RecordingWindow::IsControlEnabled(int id) {
    std::lock_guard guard(lock_);
    return absent_.count(id) == 0 && controls_[id].enabled;
}

int RecordingWindow::GetCheck(int id) {
    std::lock_guard guard(lock_);
    return absent_.count(id) != 0 ? 0 : controls_[id].check;
}

void RecordingWindow::SetCheck(int id, int state) {
    std::lock_guard guard(lock_);
    if (absent_.count(id) != 0) return;
    controls_[id].check = state;
    Record({.kind = "SetCheck", .id = id, .value = state});
}

void RecordingWindow::AddListItem(int id, std::string_view text) {
    std::lock_guard guard(lock_);
    if (absent_.count(id) != 0) return;
    controls_[id].items.emplace_back(text);
    Record({.kind = "AddItem", .id = id, .text = std::string(text)});
}

void RecordingWindow::SelectListItem(int id, int index) {
    std::lock_guard guard(lock_);
    if (absent_.count(id) != 0) return;
    ControlState& control = controls_[id];
    control.selection = index >= 0 && static_cast<std::size_t>(index) < control.items.size() ? index : -1;
    Record({.kind = "Select", .id = id, .value = index});
}

int RecordingWindow::GetListSelection(int id) {
    std::lock_guard guard(lock_);
    return absent_.count(id) != 0 ? -1 : controls_[id].selection;
}

void RecordingWindow::SetProgressRange(int id, std::uint32_t total) {
    std::lock_guard guard(lock_);
    if (absent_.count(id) != 0) return;
    controls_[id].rangeMax = total;
    Record({.kind = "ProgressRange", .id = id, .value = total});
}

void RecordingWindow::SetProgressPosition(int id, std::uint32_t position) {
    std::lock_guard guard(lock_);
    if (absent_.count(id) != 0) return;
    controls_[id].position = position;
    Record({.kind = "ProgressPos", .id = id, .value = position});
}

void RecordingWindow::SetTextLimit(int id, int maxChars) {
    std::lock_guard guard(lock_);
    if (absent_.count(id) != 0) return;
    controls_[id].textLimit = maxChars;
    Record({.kind = "TextLimit", .id = id, .value = maxChars});
}

void RecordingWindow::RequestClose() {
    std::lock_guard guard(lock_);
    ++closeRequests_;
    Record({.kind = "Close"});
}

void RecordingWindow::EndDialog(int result) {
    std::lock_guard guard(lock_);
    dialogResult_ = result;
    Record({.kind = "EndDialog", .value = result});
}

void RecordingWindow::ShowAboutBox() {
    std::lock_guard guard(lock_);
    Record({.kind = "About"});
}

bool RecordingWindow::OpenFileDialog(BoxOwner owner, const OpenFileRequest& request, std::string& path) {
    std::lock_guard guard(lock_);
    openFileRequests_.push_back(request);
    Record({.kind = "OpenFile", .owner = owner});
    if (openFileResults_.empty()) return false;
    std::optional<std::string> result = std::move(openFileResults_.front());
    openFileResults_.pop_front();
    if (!result) return false;
    path = result->substr(0, kMaxPathChars - 1);
    return true;
}

int RecordingWindow::ReadProfileInt(std::string_view section, std::string_view entry, int defaultValue) {
    std::lock_guard guard(lock_);
    auto it = profile_.find({std::string(section), std::string(entry)});
    return it == profile_.end() ? defaultValue : it->second;
}

void RecordingWindow::WriteProfileInt(std::string_view section, std::string_view entry, int value) {
    std::lock_guard guard(lock_);
    profile_[{std::string(section), std::string(entry)}] = value;
    Record({.kind = "WriteProfile", .text = std::string(section) + "/" + std::string(entry), .value = value});
}

void RecordingWindow::RemoveControl(int id) {
    std::lock_guard guard(lock_);
    absent_.insert(id);
}

void RecordingWindow::QueueOpenFileResult(std::optional<std::string> path) {
    std::lock_guard guard(lock_);
    openFileResults_.push_back(std::move(path));
}

void RecordingWindow::SetProfileInt(std::string section, std::string entry, int value) {
    std::lock_guard guard(lock_);
    profile_[{std::move(section), std::move(entry)}] = value;
}

void RecordingWindow::TypeText(int id, std::string text) {
    std::lock_guard guard(lock_);
    controls_[id].text = std::move(text);
}

std::vector<RecordedCall> RecordingWindow::Calls() const {
    std::lock_guard guard(lock_);
    return calls_;
}

std::vector<RecordedCall> RecordingWindow::CallsOf(std::string_view kind) const {
    std::lock_guard guard(lock_);
    std::vector<RecordedCall> out;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out), [&](const RecordedCall& c) { return c.kind == kind; });
    return out;
}

std::vector<std::string> RecordingWindow::Traces() const {
    std::vector<std::string> out;
    for (const RecordedCall& call : CallsOf("Trace")) out.push_back(call.text);
    return out;
}

ControlState RecordingWindow::Control(int id) const {
    std::lock_guard guard(lock_);
    auto it = controls_.find(id);
    return it == controls_.end() ? ControlState{} : it->second;
}

std::optional<int> RecordingWindow::ProfileInt(const std::string& section, const std::string& entry) const {
    std::lock_guard guard(lock_);
    auto it = profile_.find({section, entry});
    if (it == profile_.end()) return std::nullopt;
    return it->second;
}

int RecordingWindow::CloseRequests() const {
    std::lock_guard guard(lock_);
    return closeRequests_;
}

std::optional<int> RecordingWindow::DialogResult() const {
    std::lock_guard guard(lock_);
    return dialogResult_;
}

std::vector<OpenFileRequest> RecordingWindow::OpenFileRequests() const {
    std::lock_guard guard(lock_);
    return openFileRequests_;
}

void RecordingWindow::ClearCalls() {
    std::lock_guard guard(lock_);
    calls_.clear();
}

}  // namespace ui
