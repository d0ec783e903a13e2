// The window services across threads: calls from a worker are carried out on the
// dialog's thread, getters answer the dialog's state, progress is coalesced.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QThread>

#include <atomic>
#include <thread>

#include "tests/qt/dialog_fixture.h"
#include "ui/services/control_ids.h"

namespace {

namespace ids = ui::ids;

class Services : public qttest::DialogFixture {
protected:
    // Runs `work` on a thread of its own while this thread serves the dialog.
    template <class Work>
    void RunOnWorker(Work work) {
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            work();
            finished = true;
        });
        bool served = QTest::qWaitFor([&] { return finished.load(); }, 5000);
        worker.join();
        ASSERT_TRUE(served);
    }
};

TEST_F(Services, WorkerCallsAndBoxesRunOnTheDialogThread) {
    Open();
    uiqt::QtWindowServices& services = dialog->Services();
    QThread* changedOn = nullptr;
    QObject::connect(ControlAs<QLineEdit>(ids::kDeviceInfo), &QLineEdit::textChanged,
                     [&changedOn] { changedOn = QThread::currentThread(); });
    ControlAs<QAbstractButton>(ids::kRadioGpio)->setChecked(true);
    ControlAs<QLineEdit>(ids::kRegAddr)->setText("D8000004");

    int check = -1;
    std::string cut;
    RunOnWorker([&] {
        services.SetControlText(ids::kDeviceInfo, "from the worker");
        check = services.GetCheck(ids::kRadioGpio);
        cut = services.GetControlText(ids::kRegAddr, 5);  // a 5-character buffer holds 4
        services.MessageBox(ui::BoxOwner::None, "Burn OK!", "Info", ui::Icon::Information);
    });
    EXPECT_EQ(changedOn, QThread::currentThread());
    EXPECT_EQ(check, 1);
    EXPECT_EQ(cut, "D800");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Info");

    // A real box without owner is shown without blocking anyone, and goes with the services.
    services.SetBoxPresenter({});
    RunOnWorker([&] { services.MessageBox(ui::BoxOwner::None, "Dump OK!", "Info", ui::Icon::Information); });
    QWidget* box = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->windowTitle() == "Info") box = top;
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->parentWidget(), nullptr);
}

TEST_F(Services, ProgressIsCoalescedAndFlushed) {
    Open();
    uiqt::QtWindowServices& services = dialog->Services();
    auto* bar = ControlAs<QProgressBar>(ids::kProgressBar);
    services.SetProgressRange(ids::kProgressBar, 10000);
    int updates = 0;
    QObject::connect(bar, &QProgressBar::valueChanged, [&updates] { ++updates; });
    auto post = [&services](std::uint32_t done) { services.PostProgress(ids::kProgressDone, ids::kProgressBar, done); };

    // The dialog's thread serves nothing while the worker posts: posting never waits,
    // and the whole run leaves one update to show.
    std::thread([&] {
        for (std::uint32_t done = 1; done <= 10000; ++done) post(done);
    }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(bar->value(), 10000);
    EXPECT_EQ(ControlAs<QLabel>(ids::kProgressDone)->text(), "10000");

    // A post within a display frame of the last update is shown at the next frame, not
    // lost; a flush shows the latest value at once.
    post(5);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() == 5; }, 1000));
    post(7);
    services.FlushProgress();
    EXPECT_EQ(ControlAs<QLabel>(ids::kProgressDone)->text(), "7");
    EXPECT_EQ(bar->value(), 7);

    // A flush from a worker returns once its value is on screen.
    std::string shown;
    RunOnWorker([&] {
        post(9000);
        services.FlushProgress();
        shown = services.GetControlText(ids::kProgressDone, 16);
    });
    EXPECT_EQ(shown, "9000");

    services.SetProgressRange(ids::kProgressBar, 0xFFFFFFFFu);  // beyond the bar's int range
    services.SetProgressPosition(ids::kProgressBar, 0xFFFFFFFFu);
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

}  // namespace
