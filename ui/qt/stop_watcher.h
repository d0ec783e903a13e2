// Closes the main dialog on a stop request (SIGTERM, SIGINT, SIGHUP) as Cancel does, but
// never under a run: a burn first finishes the write in progress and its compare (a second
// request stops it at the next chunk), a dump stops at its next chunk, and the dialog
// closes once the run's end step has passed. A box or picker open over the dialog is
// dismissed first, so that no handler goes on after the dialog released its state.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

namespace uiqt {

class MainDialogWindow;

class StopWatcher : public QObject {
public:
    // `wakeFd` becomes readable at each request (core::StopSignals::WakeFd).
    StopWatcher(MainDialogWindow& dialog, int wakeFd);

private:
    void OnWake();
    void CloseWhenIdle();

    MainDialogWindow& dialog_;
    QSocketNotifier notifier_;
    QTimer retry_;
};

}  // namespace uiqt
