#include "ui/qt/main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QThread>

#include <utility>

#include "ui/qt/app_icon.h"

namespace uiqt {

// The window services handed to the dialog logic: every call goes to the Qt services
// unchanged, and a check set through them is marked as the logic's own while it is set,
// so the radio button's handler does not run for it (a click's would). The mark is kept
// on the dialog's thread, where the check changes.
class MainDialogWindow::LogicServices final : public ui::WindowServices {
public:
    LogicServices(QtWindowServices& services, QObject& dialog) : services_(services), dialog_(dialog) {}

    bool SettingCheck() const { return settingCheck_ > 0; }

    void SetCheck(int id, int state) override {
        if (QThread::currentThread() != dialog_.thread()) {
            QMetaObject::invokeMethod(&dialog_, [&] { SetCheck(id, state); }, Qt::BlockingQueuedConnection);
            return;
        }
        ++settingCheck_;
        services_.SetCheck(id, state);
        --settingCheck_;
    }

    void Trace(std::string_view line) override { services_.Trace(line); }
    void MessageBox(ui::BoxOwner owner, std::string_view text, std::string_view caption, ui::Icon icon) override {
        services_.MessageBox(owner, text, caption, icon);
    }
    bool HasControl(int id) override { return services_.HasControl(id); }
    std::string GetControlText(int id, int maxCount) override { return services_.GetControlText(id, maxCount); }
    void SetControlText(int id, std::string_view text) override { services_.SetControlText(id, text); }
    void EnableControl(int id, bool enable) override { services_.EnableControl(id, enable); }
    bool IsControlEnabled(int id) override { return services_.IsControlEnabled(id); }
    int GetCheck(int id) override { return services_.GetCheck(id); }
    void AddListItem(int id, std::string_view text) override { services_.AddListItem(id, text); }
    void SelectListItem(int id, int index) override { services_.SelectListItem(id, index); }
    int GetListSelection(int id) override { return services_.GetListSelection(id); }
    void SetProgressRange(int id, std::uint32_t total) override { services_.SetProgressRange(id, total); }
    void SetProgressPosition(int id, std::uint32_t position) override { services_.SetProgressPosition(id, position); }
    void PostProgress(int doneId, int barId, std::uint32_t done) override { services_.PostProgress(doneId, barId, done); }
    void FlushProgress() override { services_.FlushProgress(); }
    void SetTextLimit(int id, int maxChars) override { services_.SetTextLimit(id, maxChars); }
    void RequestClose() override { services_.RequestClose(); }
    void EndDialog(int result) override { services_.EndDialog(result); }
    void ShowAboutBox() override { services_.ShowAboutBox(); }
    bool OpenFileDialog(ui::BoxOwner owner, const ui::OpenFileRequest& request, std::string& path) override {
        return services_.OpenFileDialog(owner, request, path);
    }
    int ReadProfileInt(std::string_view section, std::string_view entry, int defaultValue) override {
        return services_.ReadProfileInt(section, entry, defaultValue);
    }
    void WriteProfileInt(std::string_view section, std::string_view entry, int value) override {
        services_.WriteProfileInt(section, entry, value);
    }

private:
    QtWindowServices& services_;
    QObject& dialog_;
    int settingCheck_ = 0;  // the dialog's thread only
};

MainDialogWindow::MainDialogWindow()
    : QDialog(nullptr),
      built_(BuildDialog(ui::MainDialogTemplate(), *this)),
      services_(*this, built_.byId),
      logicServices_(std::make_unique<LogicServices>(services_, *this)),
      logic_(*logicServices_) {
    // A sizing border, a caption with the close box, no minimise or maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setWindowIcon(MainIcon());

    aboutAction_ = new QAction(QString::fromUtf8(ui::kAboutMenuText), this);
    aboutAction_->setData(static_cast<uint>(IDM_ABOUTBOX));
    connect(aboutAction_, &QAction::triggered, this,
            [this] { logic_.OnSysCommand(aboutAction_->data().toUInt(), 0); });

    RouteClicks();
    logic_.OnInitDialog();
}

// The closing handlers have released everything when the dialog ended through them.
MainDialogWindow::~MainDialogWindow() = default;

ui::WindowServices& MainDialogWindow::LogicWindow() { return *logicServices_; }

QWidget* MainDialogWindow::Control(int id) const {
    auto it = built_.byId.find(id);
    return it == built_.byId.end() ? nullptr : it->second.widget;
}

void MainDialogWindow::RouteClicks() {
    for (const auto& [id, control] : built_.byId) {
        ui::DialogHandler handler = control.row->handler;
        auto* button = qobject_cast<QAbstractButton*>(control.widget);
        if (handler == nullptr || button == nullptr) continue;
        if (control.row->kind == ui::ControlKind::RadioButton) RouteRadio(*button, handler);
        else connect(button, &QAbstractButton::clicked, this, [this, handler] { (logic_.*handler)(); });
    }
}

// The handler runs when the button becomes checked, unless the logic checked it. A click
// (mouse, Space, an accessibility press) that found the button checked changes nothing,
// yet runs the handler as the design's click notification does; every click is preceded
// by `pressed`, which clears what the previous change noted.
void MainDialogWindow::RouteRadio(QAbstractButton& radio, ui::DialogHandler handler) {
    auto ranSincePress = std::make_shared<bool>(false);
    connect(&radio, &QAbstractButton::pressed, this, [ranSincePress] { *ranSincePress = false; });
    connect(&radio, &QAbstractButton::toggled, this, [this, handler, ranSincePress](bool checked) {
        if (!checked || logicServices_->SettingCheck()) return;
        *ranSincePress = true;
        (logic_.*handler)();
    });
    connect(&radio, &QAbstractButton::clicked, this, [this, handler, ranSincePress] {
        if (!std::exchange(*ranSincePress, false)) (logic_.*handler)();
    });
}

void MainDialogWindow::accept() { logic_.OnBnClickedOk(); }

void MainDialogWindow::reject() { logic_.OnBnClickedCancel(); }

void MainDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(aboutAction_);
    menu.exec(event->globalPos());
}

}  // namespace uiqt
