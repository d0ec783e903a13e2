// A main dialog window for a test: message boxes are recorded instead of shown, and a
// dialog still open at the end is closed through its Cancel path so that nothing it owns
// outlives the test.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTest>

#include <memory>
#include <vector>

#include "ui/main_dialog.h"
#include "ui/qt/main_window.h"

namespace qttest {

class DialogFixture : public ::testing::Test {
protected:
    void Open() {
        dialog = std::make_unique<uiqt::MainDialogWindow>();
        dialog->Services().SetBoxPresenter([this](const uiqt::MessageBoxRequest& box) { boxes.push_back(box); });
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }

    void TearDown() override {
        if (dialog && dialog->isVisible()) dialog->reject();
        dialog.reset();
    }

    QWidget* Control(int id) const { return dialog->Control(id); }
    template <class Widget>
    Widget* ControlAs(int id) const { return qobject_cast<Widget*>(dialog->Control(id)); }
    void Click(int id) { QTest::mouseClick(ControlAs<QAbstractButton>(id), Qt::LeftButton); }
    bool Checked(int id) const { return ControlAs<QAbstractButton>(id)->isChecked(); }

    std::unique_ptr<uiqt::MainDialogWindow> dialog;
    std::vector<uiqt::MessageBoxRequest> boxes;
};

}  // namespace qttest
