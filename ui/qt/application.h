// The application object: the Qt application, the profile key, and the main dialog run
// modally; the program ends when the dialog closes.
#pragma once

#include <QApplication>

#include <functional>

#include "platform/win/win_types.h"

namespace uiqt {
class MainDialogWindow;
}

class Cuvc_hid_App {
public:
    Cuvc_hid_App(int& argc, char** argv);

    // Runs the dialog from its first window to its end; answers FALSE so that the
    // program ends instead of running an event loop of its own.
    BOOL InitInstance();

    // Runs once the dialog is on screen (the screenshot script drives it through this).
    void SetStartHook(std::function<void(uiqt::MainDialogWindow&)> hook) { startHook_ = std::move(hook); }

private:
    QApplication application_;
    std::function<void(uiqt::MainDialogWindow&)> startHook_;
};
