// uvc_hid_tool: the dialog program.
//
// Two options, for the screenshot script only: --press=ID,ID,... clicks those controls
// once the dialog is shown, --grab=FILE then saves the window as an image and closes it.
#include <QAbstractButton>
#include <QPixmap>
#include <QStringList>

#include <cstdio>
#include <string>

#include "ui/qt/application.h"
#include "ui/qt/main_window.h"

namespace {

struct ScriptOptions {
    QStringList press;
    QString grab;
};

ScriptOptions ReadOptions(int argc, char** argv) {
    ScriptOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.starts_with("--press=")) options.press = QString::fromStdString(arg.substr(8)).split(QLatin1Char(','));
        if (arg.starts_with("--grab=")) options.grab = QString::fromStdString(arg.substr(7));
    }
    return options;
}

void RunScript(const ScriptOptions& options, uiqt::MainDialogWindow& dialog) {
    for (const QString& id : options.press)
        if (auto* button = qobject_cast<QAbstractButton*>(dialog.Control(id.toInt()))) button->click();
    if (options.grab.isEmpty()) return;
    if (!dialog.grab().save(options.grab)) std::fprintf(stderr, "cannot write %s\n", qPrintable(options.grab));
    dialog.reject();
}

}  // namespace

int main(int argc, char** argv) {
    ScriptOptions options = ReadOptions(argc, argv);
    Cuvc_hid_App theApp(argc, argv);
    if (!options.press.isEmpty() || !options.grab.isEmpty())
        theApp.SetStartHook([options](uiqt::MainDialogWindow& dialog) { RunScript(options, dialog); });
    theApp.InitInstance();
    return 0;
}
