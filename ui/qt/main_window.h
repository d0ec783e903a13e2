// The main dialog's window (template 102): builds the controls from the template, owns
// the window services and the dialog logic, and routes every click to the handler the
// template names. Enter presses OK (the default button); Esc, the close box and a close
// request run the Cancel path; the background's context menu holds the About item.
//
// A radio button's handler runs once for each change to checked, whatever made it (the
// mouse, the keyboard, an assistive technology's action, a setChecked on the widget), and
// for a click on the button already checked; never for a check the dialog logic sets
// through its window services.
#pragma once

#include <QDialog>

#include <memory>

#include "ui/main_dialog.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/qt_window_services.h"

class QAbstractButton;
class QAction;

namespace uiqt {

class MainDialogWindow : public QDialog {
public:
    MainDialogWindow();
    ~MainDialogWindow() override;

    Cuvc_hid_quendaDlg& Logic() { return logic_; }
    QtWindowServices& Services() { return services_; }
    // The services as the dialog logic holds them: a check set through these is the
    // program's own and runs no handler.
    ui::WindowServices& LogicWindow();
    QWidget* Control(int id) const;
    // The About item of the context menu; its data is the system command it sends.
    QAction* AboutAction() const { return aboutAction_; }

    void accept() override;  // OK
    void reject() override;  // Esc, the close box, a close request

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    class LogicServices;

    void RouteClicks();
    void RouteRadio(QAbstractButton& radio, ui::DialogHandler handler);

    BuiltDialog built_;
    QtWindowServices services_;
    std::unique_ptr<LogicServices> logicServices_;  // the services as the logic sees them
    Cuvc_hid_quendaDlg logic_;
    QAction* aboutAction_ = nullptr;
};

}  // namespace uiqt
