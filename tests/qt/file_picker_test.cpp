// The Qt file picker, driven as a user would (Qt's own dialog, not the desktop's): "All"
// offers every file, names without a dot included; a save pick of an existing file asks
// first, and a No keeps the dialog open and the file as it was.
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "ui/qt/qt_window_services.h"

namespace {

namespace fs = std::filesystem;

const ui::OpenFileRequest kBurnRequest{
    .filters = {{"All", "*.*"}, {"Text", "*.TXT"}}, .pathMustExist = true, .fileMustExist = true};
const ui::OpenFileRequest kDumpRequest{.filters = {{"All", "*.*"}, {"Text", "*.TXT"}},
                                       .pathMustExist = true,
                                       .save = true,
                                       .overwritePrompt = true};

// The modal widget of type W once it is up; null if none came.
template <class W>
W* WaitForModal() {
    W* widget = nullptr;
    // Five seconds at most; the caller checks what it waited for.
    static_cast<void>(QTest::qWaitFor(
        [&widget] { return (widget = qobject_cast<W*>(QApplication::activeModalWidget())) != nullptr; }, 5000));
    return widget;
}

// Types a name into the dialog's file name field.
void TypeName(QFileDialog& picker, const QString& name) {
    auto* field = picker.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (field == nullptr) return;  // nothing typed: the pick fails and the test with it
    field->clear();
    QTest::keyClicks(field, name);
}

// Presses OK: QFileDialog's accept, which asks before replacing (protected there, public in QDialog).
void PressOk(QDialog& picker) { picker.accept(); }

class FilePicker : public ::testing::Test {
protected:
    void SetUp() override {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
        fs::create_directories(dir);
        for (const char* name : {"FIRMWARE", "image.bin", "NOTES.TXT"}) std::ofstream(dir / name) << "contents";
    }
    void TearDown() override {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, false);
        fs::remove_all(dir);
    }

    // Runs the services' file dialog; `user` acts on it once it is up.
    bool Pick(const ui::OpenFileRequest& request, std::string& path, std::function<void(QFileDialog&)> user) {
        QTimer::singleShot(0, &window, [user] {
            QFileDialog* picker = WaitForModal<QFileDialog>();
            if (picker == nullptr) return;  // the test fails on the outcome; nothing is left open
            user(*picker);
            if (picker->isVisible()) picker->reject();
        });
        return services.OpenFileDialog(ui::BoxOwner::Dialog, request, path);
    }

    // The names the dialog offers in `folder` (listed and selectable), once it has read it.
    static QStringList Offered(QFileDialog& picker, int expected) {
        auto* view = picker.findChild<QListView*>(QStringLiteral("listView"));
        QStringList names;
        if (view == nullptr) return names;
        static_cast<void>(QTest::qWaitFor([&] {
            names.clear();
            QModelIndex root = view->rootIndex();
            for (int row = 0; row < view->model()->rowCount(root); ++row) {
                QModelIndex index = view->model()->index(row, 0, root);
                if (view->model()->flags(index) & Qt::ItemIsEnabled) names << index.data().toString();
            }
            return names.size() == expected;
        }, 5000));
        names.sort();
        return names;
    }

    std::string Contents(const char* name) const {
        std::ifstream in(dir / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir = fs::temp_directory_path() / ("uvc-picker-" + std::to_string(::getpid()));
    QDialog window;
    uiqt::QtWindowServices services{window, {}};
};

TEST_F(FilePicker, AllOffersNamesWithoutADotAndTheOtherFiltersStay) {
    EXPECT_EQ(uiqt::NameFilters(kBurnRequest), (QStringList{"All (*)", "Text (*.TXT)"}));
    EXPECT_EQ(uiqt::NameFilters({.filters = {{"Images", "*.bin;*.*"}}}), QStringList{"Images (*.bin *)"});

    QStringList underAll, underText;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptSave;
    std::string path;
    bool picked = Pick(kBurnRequest, path, [&](QFileDialog& picker) {
        mode = picker.acceptMode();
        picker.setDirectory(QString::fromStdString(dir.string()));
        underAll = Offered(picker, 3);
        picker.selectNameFilter(QStringLiteral("Text (*.TXT)"));
        underText = Offered(picker, 1);
        picker.selectNameFilter(QStringLiteral("All (*)"));
        TypeName(picker, QStringLiteral("FIRMWARE"));
        PressOk(picker);
    });
    EXPECT_EQ(mode, QFileDialog::AcceptOpen);
    EXPECT_EQ(underAll, (QStringList{"FIRMWARE", "NOTES.TXT", "image.bin"}));
    EXPECT_EQ(underText, QStringList{"NOTES.TXT"});
    ASSERT_TRUE(picked);
    EXPECT_EQ(fs::path(path), dir / "FIRMWARE");
}

TEST_F(FilePicker, SavingOverAnExistingFileAsksAndANoKeepsTheDialogAndTheFile) {
    for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        QString question;
        bool openAfterAnswer = false;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        std::string path;
        bool picked = Pick(kDumpRequest, path, [&](QFileDialog& picker) {
            mode = picker.acceptMode();
            picker.setDirectory(QString::fromStdString(dir.string()));
            TypeName(picker, QStringLiteral("image.bin"));
            QTimer::singleShot(0, &picker, [&] {
                QMessageBox* box = WaitForModal<QMessageBox>();
                if (box == nullptr) return;
                question = box->text();
                box->button(answer)->click();
            });
            PressOk(picker);  // returns once the question is answered
            openAfterAnswer = picker.isVisible();
        });
        EXPECT_EQ(mode, QFileDialog::AcceptSave);
        EXPECT_TRUE(question.contains(QStringLiteral("image.bin"))) << question.toStdString();
        EXPECT_EQ(openAfterAnswer, answer == QMessageBox::No);
        EXPECT_EQ(picked, answer == QMessageBox::Yes);  // after a No the user cancelled
        if (picked) {
            EXPECT_EQ(fs::path(path), dir / "image.bin");
        }
        EXPECT_EQ(Contents("image.bin"), "contents");  // a pick never writes
    }
}

}  // namespace
