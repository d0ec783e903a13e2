// uvc_hid_tool: the dialog program.
//
// Two options, for the screenshot script only: --press=ID,ID,... clicks those controls
// once the dialog is shown, --grab=FILE then saves the window as an image and closes it.
// --help and --version answer before Qt starts, so they need no display (the manual page
// is generated from them).
#include <QAbstractButton>
#include <QPixmap>
#include <QStringList>

#include <cstdio>
#include <string>
#include <string_view>

#include "ui/main_dialog.h"
#include "ui/qt/application.h"
#include "ui/qt/main_window.h"

namespace {

void PrintHelp() {
    std::printf(
        "Usage: uvc_hid_tool [OPTION]...\n"
        "The service dialog of the UVC capture device: opens the device by its USB ids\n"
        "(%04x:%04x unless changed in the dialog), reads and writes its registers, IIC\n"
        "devices and GPIO pins, burns and dumps its flash, and reads its firmware version\n"
        "and HDMI input information. Trace lines go to standard error.\n"
        "\n"
        "Options:\n"
        "  --help              print this text and exit\n"
        "  --version           print the version and exit\n"
        "  --press=ID,ID,...   click these controls (dialog control ids) once shown\n"
        "  --grab=FILE         then save the window as an image to FILE and close\n"
        "\n"
        "Qt's own options (such as -platform NAME) are accepted too.\n"
        "A running uvc_hid_sim is found among the HID interfaces like a device.\n",
        static_cast<unsigned>(DefaultVendorId), static_cast<unsigned>(DefaultProductId));
}

// Answers true when an option was one that only prints.
bool AnswerInfoOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return true;
        }
        if (arg == "--version") {
            std::printf("uvc_hid_tool %s\n", UVC_VERSION);
            return true;
        }
    }
    return false;
}

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
    if (AnswerInfoOption(argc, argv)) return 0;
    ScriptOptions options = ReadOptions(argc, argv);
    Cuvc_hid_App theApp(argc, argv);
    if (!options.press.isEmpty() || !options.grab.isEmpty())
        theApp.SetStartHook([options](uiqt::MainDialogWindow& dialog) { RunScript(options, dialog); });
    theApp.InitInstance();
    return 0;
}
