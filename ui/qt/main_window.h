// The main dialog's window (template 102): builds the controls from the template, owns
// the window services and the dialog logic, and routes every click to the handler the
// template names. Enter presses OK (the default button); Esc, the close box and a close
// request run the Cancel path; the background's context menu holds the About item.
#pragma once

#include <QDialog>

#include "ui/main_dialog.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/qt_window_services.h"

class QAction;

namespace uiqt {

class MainDialogWindow : public QDialog {
public:
    MainDialogWindow();
    ~MainDialogWindow() override;

    Cuvc_hid_quendaDlg& Logic() { return logic_; }
    QtWindowServices& Services() { return services_; }
    QWidget* Control(int id) const;
    // The About item of the context menu; its data is the system command it sends.
    QAction* AboutAction() const { return aboutAction_; }

    void accept() override;  // OK
    void reject() override;  // Esc, the close box, a close request

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void RouteClicks();

    BuiltDialog built_;
    QtWindowServices services_;
    Cuvc_hid_quendaDlg logic_;
    QAction* aboutAction_ = nullptr;
};

}  // namespace uiqt
