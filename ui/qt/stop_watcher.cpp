#include "ui/qt/stop_watcher.h"

#include <unistd.h>

#include <QApplication>

#include "ui/qt/main_window.h"

namespace uiqt {

namespace {

constexpr int kRetryMs = 50;  // how often a waiting close looks again

}  // namespace

StopWatcher::StopWatcher(MainDialogWindow& dialog, int wakeFd)
    : dialog_(dialog), notifier_(wakeFd, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { OnWake(); });
    notifier_.setEnabled(wakeFd >= 0);
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, [this] { CloseWhenIdle(); });
}

void StopWatcher::OnWake() {
    char drained[64];
    while (read(static_cast<int>(notifier_.socket()), drained, sizeof drained) > 0) {
    }
    CloseWhenIdle();
}

// The run itself sees the request and stops where it safely can; this waits for its end.
void StopWatcher::CloseWhenIdle() {
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != &dialog_) {
        modal->close();
    } else if (!dialog_.Logic().IsRunning()) {
        retry_.stop();
        if (dialog_.isVisible()) dialog_.reject();
        return;
    }
    retry_.start();
}

}  // namespace uiqt
