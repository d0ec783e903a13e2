#include "ui/qt/qt_window_services.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <climits>
#include <type_traits>

#include "ui/main_dialog.h"
#include "ui/qt/about_dialog.h"
#include "ui/services/stderr_trace.h"

namespace uiqt {
namespace {

QString ToQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QMessageBox::Icon BoxIcon(ui::Icon icon) {
    switch (icon) {
    case ui::Icon::Error:
        return QMessageBox::Critical;
    case ui::Icon::Information:
        return QMessageBox::Information;
    case ui::Icon::Warning:
        return QMessageBox::Warning;
    case ui::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QString SettingsKey(std::string_view section, std::string_view entry) {
    return ToQString(section) + QLatin1Char('/') + ToQString(entry);
}

// The profile: organisation = the profile key, application = the executable's base name.
QSettings Profile() { return QSettings(QString::fromUtf8(kProfileKey), QCoreApplication::applicationName()); }

// Where a sorted list puts a new entry: after every entry that does not sort after it.
int SortedPosition(const QComboBox& combo, const QString& text) {
    int index = 0;
    while (index < combo.count() && QString::compare(combo.itemText(index), text, Qt::CaseInsensitive) <= 0)
        ++index;
    return index;
}

}  // namespace

QtWindowServices::QtWindowServices(QDialog& dialog, std::map<int, BuiltControl> controls)
    : dialog_(dialog), controls_(std::move(controls)) {
    SetBoxPresenter({});
}

QtWindowServices::~QtWindowServices() {
    for (const QPointer<QMessageBox>& box : ownerlessBoxes_) delete box.data();
}

template <class Task>
auto QtWindowServices::OnDialogThread(Task task) -> decltype(task()) {
    using Result = decltype(task());
    if (QThread::currentThread() == thread()) return task();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(this, std::move(task), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(this, std::move(task), Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

template <class Widget>
Widget* QtWindowServices::Find(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : qobject_cast<Widget*>(it->second.widget);
}

void QtWindowServices::Trace(std::string_view line) { ui::WriteTraceLine(line); }

void QtWindowServices::MessageBox(ui::BoxOwner owner, std::string_view text, std::string_view caption, ui::Icon icon) {
    MessageBoxRequest request{.owner = owner, .text = std::string(text), .caption = std::string(caption), .icon = icon};
    OnDialogThread([&] { presenter_(request); });
}

void QtWindowServices::SetFilePicker(FilePicker picker) {
    OnDialogThread([&] { picker_ = std::move(picker); });
}

void QtWindowServices::SetBoxPresenter(BoxPresenter presenter) {
    if (presenter) presenter_ = std::move(presenter);
    else presenter_ = [this](const MessageBoxRequest& request) { ShowBox(request); };
}

// A box owned by the dialog is modal to it; a box without owner (a worker's outcome)
// blocks nobody: it is shown and the call returns at once.
void QtWindowServices::ShowBox(const MessageBoxRequest& request) {
    QWidget* parent = request.owner == ui::BoxOwner::Dialog ? &dialog_ : nullptr;
    auto* box = new QMessageBox(BoxIcon(request.icon), ToQString(request.caption), ToQString(request.text),
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (parent != nullptr) {
        box->setWindowModality(Qt::WindowModal);
        box->exec();
        return;
    }
    box->setModal(false);
    ownerlessBoxes_.emplace_back(box);
    box->show();
}

bool QtWindowServices::HasControl(int id) { return controls_.contains(id); }

std::string QtWindowServices::GetControlText(int id, int maxCount) {
    return OnDialogThread([&]() -> std::string {
        auto it = controls_.find(id);
        if (it == controls_.end() || maxCount <= 0) return {};
        QWidget* widget = it->second.widget;
        QString text;
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
        else if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
        else if (auto* combo = qobject_cast<QComboBox*>(widget)) text = combo->currentText();
        return text.left(maxCount - 1).toStdString();
    });
}

void QtWindowServices::SetControlText(int id, std::string_view text) {
    QString value = ToQString(text);
    OnDialogThread([&] {
        auto it = controls_.find(id);
        if (it == controls_.end()) return;
        QWidget* widget = it->second.widget;
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->setText(value);
        else if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(value);
        else if (auto* combo = qobject_cast<QComboBox*>(widget)) combo->setEditText(value);
        else if (auto* label = qobject_cast<QLabel*>(widget)) {
            label->setText(value);
            label->setAccessibleName(value);  // Qt labels offer no text over the accessibility bus
        }
    });
}

void QtWindowServices::EnableControl(int id, bool enable) {
    OnDialogThread([&] {
        auto it = controls_.find(id);
        if (it != controls_.end()) it->second.widget->setEnabled(enable);
    });
}

bool QtWindowServices::IsControlEnabled(int id) {
    return OnDialogThread([&] {
        auto it = controls_.find(id);
        return it != controls_.end() && it->second.widget->isEnabledTo(&dialog_);
    });
}

int QtWindowServices::GetCheck(int id) {
    return OnDialogThread([&] {
        auto* button = Find<QAbstractButton>(id);
        return button != nullptr && button->isChecked() ? 1 : 0;
    });
}

// Sets one button's state only. A radio button of an exclusive group cannot be unchecked
// while it is the checked one, so its group lets go for that moment.
void QtWindowServices::SetCheck(int id, int state) {
    OnDialogThread([&] {
        auto* button = Find<QAbstractButton>(id);
        if (button == nullptr) return;
        QButtonGroup* group = button->group();
        bool exclusive = group != nullptr && group->exclusive();
        if (exclusive && state == 0) group->setExclusive(false);
        button->setChecked(state != 0);
        if (exclusive && state == 0) group->setExclusive(true);
    });
}

void QtWindowServices::AddListItem(int id, std::string_view text) {
    QString value = ToQString(text);
    OnDialogThread([&] {
        auto it = controls_.find(id);
        auto* combo = it == controls_.end() ? nullptr : qobject_cast<QComboBox*>(it->second.widget);
        if (combo == nullptr) return;
        // Adding an entry selects nothing (Qt would select the first entry of an empty list).
        bool hadSelection = combo->currentIndex() >= 0;
        QString typed = combo->currentText();
        bool sorted = (it->second.row->style & ui::kSorted) != 0;
        combo->insertItem(sorted ? SortedPosition(*combo, value) : combo->count(), value);
        if (hadSelection) return;
        combo->setCurrentIndex(-1);
        combo->setEditText(typed);
    });
}

void QtWindowServices::SelectListItem(int id, int index) {
    OnDialogThread([&] {
        if (auto* combo = Find<QComboBox>(id)) combo->setCurrentIndex(index < combo->count() ? index : -1);
    });
}

// The selected entry, or -1 when nothing is selected or the typed text matches no entry.
int QtWindowServices::GetListSelection(int id) {
    return OnDialogThread([&] {
        auto* combo = Find<QComboBox>(id);
        if (combo == nullptr) return -1;
        int index = combo->currentIndex();
        if (index >= 0 && combo->itemText(index) == combo->currentText()) return index;
        return combo->findText(combo->currentText(), Qt::MatchFixedString);
    });
}

void QtWindowServices::SetProgressRange(int id, std::uint32_t total) {
    OnDialogThread([&] {
        auto* bar = Find<QProgressBar>(id);
        if (bar == nullptr) return;
        int shift = 0;
        while ((total >> shift) > static_cast<std::uint32_t>(INT_MAX)) ++shift;
        progressShift_[id] = shift;
        bar->setRange(0, static_cast<int>(total >> shift));
    });
}

void QtWindowServices::SetProgressOnBar(int id, std::uint32_t position) {
    auto* bar = Find<QProgressBar>(id);
    if (bar == nullptr) return;
    auto shift = progressShift_.find(id);
    bar->setValue(static_cast<int>(position >> (shift == progressShift_.end() ? 0 : shift->second)));
}

void QtWindowServices::SetProgressPosition(int id, std::uint32_t position) {
    OnDialogThread([&] { SetProgressOnBar(id, position); });
}

void QtWindowServices::PostProgress(int doneId, int barId, std::uint32_t done) {
    progressDoneId_.store(doneId, std::memory_order_relaxed);
    progressBarId_.store(barId, std::memory_order_relaxed);
    progressDone_.store(done, std::memory_order_release);
    progressPosted_.store(true, std::memory_order_release);
    if (!progressPending_.exchange(true, std::memory_order_acq_rel))
        QMetaObject::invokeMethod(this, [this] { ShowProgressAtDisplayPace(); }, Qt::QueuedConnection);
}

// Runs on the dialog's thread: at most one update per display frame, so a fast transfer
// does not keep the dialog's thread redrawing what nobody can see, and input stays quick.
void QtWindowServices::ShowProgressAtDisplayPace() {
    using namespace std::chrono;
    auto since = steady_clock::now() - lastProgressShown_;
    if (since < kDisplayFrame) {
        auto wait = duration_cast<milliseconds>(kDisplayFrame - since) + milliseconds(1);
        QTimer::singleShot(wait, this, [this] { ShowProgress(); });
        return;
    }
    ShowProgress();
}

// Shows the latest posted value. The pending flag is cleared first, so a value posted
// while this runs schedules another update; a value already shown is not shown again.
void QtWindowServices::ShowProgress() {
    progressPending_.store(false, std::memory_order_release);
    if (!progressPosted_.exchange(false, std::memory_order_acq_rel)) return;
    lastProgressShown_ = std::chrono::steady_clock::now();
    std::uint32_t done = progressDone_.load(std::memory_order_acquire);
    int doneId = progressDoneId_.load(std::memory_order_relaxed);
    if (auto* label = Find<QLabel>(doneId)) {
        QString text = QString::number(done);
        label->setText(text);
        label->setAccessibleName(text);
    }
    SetProgressOnBar(progressBarId_.load(std::memory_order_relaxed), done);
}

void QtWindowServices::FlushProgress() {
    OnDialogThread([this] { ShowProgress(); });
}

void QtWindowServices::SetTextLimit(int id, int maxChars) {
    OnDialogThread([&] {
        if (auto* edit = Find<QLineEdit>(id)) edit->setMaxLength(maxChars > 0 ? maxChars : 32767);
    });
}

void QtWindowServices::RequestClose() {
    QMetaObject::invokeMethod(&dialog_, [this] { dialog_.reject(); }, Qt::QueuedConnection);
}

void QtWindowServices::EndDialog(int result) {
    OnDialogThread([&] { dialog_.done(result); });
}

void QtWindowServices::ShowAboutBox() {
    OnDialogThread([this] {
        CAboutDlg about(&dialog_);
        about.setWindowModality(Qt::WindowModal);
        about.exec();
    });
}

QStringList NameFilters(const ui::OpenFileRequest& request) {
    QStringList filters;
    for (const auto& [description, pattern] : request.filters) {
        // "*.*" means every file where the dialogs were designed; here it would hide every
        // name without a dot (a firmware image named FIRMWARE), so it becomes "*".
        QStringList patterns;
        for (const QString& one : ToQString(pattern).split(QRegularExpression(QStringLiteral("[; ]")), Qt::SkipEmptyParts))
            patterns << (one == QStringLiteral("*.*") ? QStringLiteral("*") : one);
        filters << ToQString(description) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters;
}

void ConfigureFilePicker(QFileDialog& picker, const ui::OpenFileRequest& request) {
    QStringList filters = NameFilters(request);
    if (!filters.isEmpty()) picker.setNameFilters(filters);
    picker.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    picker.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    picker.setOption(QFileDialog::DontConfirmOverwrite, !(request.save && request.overwritePrompt));
}

bool QtWindowServices::OpenFileDialog(ui::BoxOwner owner, const ui::OpenFileRequest& request, std::string& path) {
    return OnDialogThread([&] {
        if (picker_) return picker_(request, path);
        QFileDialog picker(owner == ui::BoxOwner::Dialog ? &dialog_ : nullptr);
        picker.setWindowModality(Qt::WindowModal);
        ConfigureFilePicker(picker, request);
        if (!path.empty()) picker.selectFile(ToQString(path));
        // A No to replacing an existing file keeps the dialog open; only OK or Cancel end it.
        if (picker.exec() != QDialog::Accepted || picker.selectedFiles().isEmpty()) return false;
        path = picker.selectedFiles().front().toStdString();  // handed back whole; the caller judges its length
        return true;
    });
}

int QtWindowServices::ReadProfileInt(std::string_view section, std::string_view entry, int defaultValue) {
    return OnDialogThread([&] {
        bool ok = false;
        int value = Profile().value(SettingsKey(section, entry)).toInt(&ok);
        return ok ? value : defaultValue;
    });
}

// A failed write is ignored, as the profile's own write would be.
void QtWindowServices::WriteProfileInt(std::string_view section, std::string_view entry, int value) {
    OnDialogThread([&] {
        QSettings profile = Profile();
        profile.setValue(SettingsKey(section, entry), value);
        profile.sync();
    });
}

}  // namespace uiqt
