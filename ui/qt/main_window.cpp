#include "ui/qt/main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

#include "ui/qt/app_icon.h"

namespace uiqt {

MainDialogWindow::MainDialogWindow()
    : QDialog(nullptr),
      built_(BuildDialog(ui::MainDialogTemplate(), *this)),
      services_(*this, built_.byId),
      logic_(services_) {
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

QWidget* MainDialogWindow::Control(int id) const {
    auto it = built_.byId.find(id);
    return it == built_.byId.end() ? nullptr : it->second.widget;
}

void MainDialogWindow::RouteClicks() {
    for (const auto& [id, control] : built_.byId) {
        ui::DialogHandler handler = control.row->handler;
        auto* button = qobject_cast<QAbstractButton*>(control.widget);
        if (handler == nullptr || button == nullptr) continue;
        connect(button, &QAbstractButton::clicked, this, [this, handler] { (logic_.*handler)(); });
    }
}

void MainDialogWindow::accept() { logic_.OnBnClickedOk(); }

void MainDialogWindow::reject() { logic_.OnBnClickedCancel(); }

void MainDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(aboutAction_);
    menu.exec(event->globalPos());
}

}  // namespace uiqt
