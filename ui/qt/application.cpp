#include "ui/qt/application.h"

#include <QEventLoop>
#include <QTimer>

#include "ui/main_dialog.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/main_window.h"
#include "ui/qt/stop_watcher.h"
#include "core/stop_request.h"

Cuvc_hid_App::Cuvc_hid_App(int& argc, char** argv) : application_(argc, argv) {}

BOOL Cuvc_hid_App::InitInstance() {
    // The profile lives under the organisation "Quenda UVC Applications", application
    // the executable's base name (Qt's default application name).
    QCoreApplication::setOrganizationName(QString::fromUtf8(kProfileKey));
    // Wayland matches the window to its desktop entry (name and icon) by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("uvc_hid_tool"));
    QApplication::setWindowIcon(uiqt::MainIcon());

    // Runs until the dialog ends, as a modal run would, but without making the dialog
    // application-modal: Qt would then block every later top-level window, and the
    // workers' outcome boxes, which have no owner, must stay usable beside it.
    uiqt::MainDialogWindow dialog;
    // SIGTERM, SIGINT and SIGHUP close the dialog as Cancel does, once no run is left half done.
    core::StopSignals stopSignals(std::string(core::kStopDeferredNotice) + "\n");
    uiqt::StopWatcher stopWatcher(dialog, stopSignals.WakeFd());
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    if (startHook_) QTimer::singleShot(0, &dialog, [this, &dialog] { startHook_(dialog); });
    dialog.show();
    loop.exec();
    return FALSE;
}
