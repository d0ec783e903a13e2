// The hex entry field: how keys, input-method commits, the clipboard and the menu reach
// the field's rules (the rules themselves are checked on their own), its colours and its
// length limit.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QPalette>
#include <QTest>

#include <memory>

#include "ui/qt/hex_edit.h"

namespace {

class HexEditTest : public ::testing::Test {
protected:
    void SetUp() override { QGuiApplication::clipboard()->clear(); }

    void Place(const char* text, int start, int end) {
        field_.setText(QString::fromLatin1(text));
        if (start == end) field_.setCursorPosition(start);
        else field_.setSelection(start, end - start);
    }

    // Opens the context menu as a right click does and hands it over.
    std::unique_ptr<QMenu> OpenMenu(QContextMenuEvent::Reason reason = QContextMenuEvent::Mouse) {
        QContextMenuEvent request(reason, QPoint(2, 2), field_.mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(&field_, &request);
        auto* menu = field_.findChild<QMenu*>();
        if (menu != nullptr) menu->hide();
        return std::unique_ptr<QMenu>(menu);
    }

    void RunMenuCommand(const char* text) {
        std::unique_ptr<QMenu> menu = OpenMenu();
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions())
            if (action->text() == QString::fromLatin1(text)) return action->trigger();
        ADD_FAILURE() << "no menu command " << text;
    }

    CHexEdit field_;
};

struct KeyRow {  // a key pressed in "0x1F" with the caret or selection at start..end
    int start, end;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* result;
};

class HexEditKeys : public HexEditTest, public ::testing::WithParamInterface<KeyRow> {};

// Each key reaches the rules as the character or key it stands for: Ctrl+Backspace as a
// word delete, Shift+Delete as a cut.
TEST_P(HexEditKeys, ConsumedKeysNeverReachTheLineEdit) {
    const KeyRow& row = GetParam();
    Place("0x1F", row.start, row.end);
    QTest::keyClick(&field_, row.key, row.modifiers);
    EXPECT_EQ(field_.text().toStdString(), row.result);
}

constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;

INSTANTIATE_TEST_SUITE_P(
    Rows, HexEditKeys,
    ::testing::Values(KeyRow{1, 1, Qt::Key_Backspace, kNone, "0x1F"}, KeyRow{2, 2, Qt::Key_Backspace, kNone, "01F"},
                      KeyRow{2, 2, Qt::Key_Backspace, Qt::ControlModifier, "0x1F"},
                      KeyRow{0, 0, Qt::Key_Delete, kNone, "0x1F"}, KeyRow{1, 1, Qt::Key_Delete, kNone, "01F"},
                      KeyRow{0, 1, Qt::Key_Delete, Qt::ShiftModifier, "0x1F"},
                      KeyRow{0, 1, Qt::Key_X, Qt::ControlModifier, "0x1F"},
                      KeyRow{0, 2, Qt::Key_X, Qt::ControlModifier, "1F"}));

// Typed characters are filtered and replaced (a to A, X to x), input-method commits alike;
// the field turns from fresh to edited colours at its first change.
TEST_F(HexEditTest, TypingAndCommitsObeyTheRulesAndTheFirstChangeMarksTheField) {
    const auto colours = [this] {
        return std::pair{field_.palette().color(QPalette::Text), field_.palette().color(QPalette::Base)};
    };
    const auto fresh = colours();
    QTest::keyClick(&field_, Qt::Key_G);  // consumed: no change
    EXPECT_FALSE(field_.IsEdited());
    EXPECT_EQ(colours(), fresh);
    QTest::keyClicks(&field_, QStringLiteral("0Xag-f"));
    EXPECT_EQ(field_.text(), QStringLiteral("0xAF"));
    EXPECT_TRUE(field_.IsEdited());
    field_.clear();  // emptied again, still edited
    EXPECT_NE(colours().first, fresh.first);
    EXPECT_NE(colours().second, fresh.second);
    for (const char* commit : {"0", "X", "g", "a"}) {
        QInputMethodEvent event;
        event.setCommitString(QString::fromLatin1(commit));
        QApplication::sendEvent(&field_, &event);
    }
    EXPECT_EQ(field_.text(), QStringLiteral("0xA"));
}

// Ctrl+V pastes only text the rules accept, as it is; Shift+Insert is not filtered; the
// menu's Paste normalises the clipboard first.
TEST_F(HexEditTest, PasteByKeysAndByTheMenu) {
    struct Row {
        Qt::Key key;  // Key_unknown: the menu
        Qt::KeyboardModifier modifier;
        const char* offered;
        const char* result;
    };
    for (Row row : {Row{Qt::Key_V, Qt::ControlModifier, "1g", ""}, Row{Qt::Key_Insert, Qt::ShiftModifier, "1g", "1g"},
                    Row{Qt::Key_V, Qt::ControlModifier, "1f", "1f"},
                    Row{Qt::Key_unknown, Qt::NoModifier, "1f", "1F"}}) {
        Place("", 0, 0);
        QGuiApplication::clipboard()->setText(QString::fromLatin1(row.offered));
        if (row.key == Qt::Key_unknown) RunMenuCommand("&Paste");
        else QTest::keyClick(&field_, row.key, row.modifier);
        EXPECT_EQ(field_.text().toStdString(), row.result) << static_cast<int>(row.key) << " " << row.offered;
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("1F"));
}

// The entries and their states as the field's state and the clipboard make them: the 5
// on the clipboard may not replace the prefix's 0 alone.
TEST_F(HexEditTest, MenuHoldsItsEntriesInOrderWithTheirStates) {
    struct Row {
        int start, end;
        QContextMenuEvent::Reason reason;
        const char* entries;
    };
    QGuiApplication::clipboard()->setText(QStringLiteral("5"));
    Place("0x1", 3, 3);
    QTest::keyClick(&field_, Qt::Key_F);  // something to undo
    for (Row row : {Row{0, 1, QContextMenuEvent::Mouse,
                        "&Undo|-|Cu&t (off)|&Copy|&Paste (off)|&Delete (off)|-|Select &All|-|Con&vert"},
                    Row{2, 4, QContextMenuEvent::Keyboard,
                        "&Undo|-|Cu&t|&Copy|&Paste|&Delete|-|Select &All|-|Con&vert"}}) {
        field_.setSelection(row.start, row.end - row.start);
        std::unique_ptr<QMenu> menu = OpenMenu(row.reason);
        ASSERT_NE(menu, nullptr);
        QStringList entries;
        for (QAction* action : menu->actions())
            entries << (action->isSeparator() ? QStringLiteral("-")
                                              : action->text() + (action->isEnabled() ? "" : " (off)"));
        EXPECT_EQ(entries.join('|').toStdString(), row.entries);
    }
}

// SetValue marks the field edited, so Convert reads it as hex; neither is cut by the
// length limit, which returns once the text fits again.
TEST_F(HexEditTest, SetValueAndConvertAreNotCutByTheLimitWhichReturnsOnceTheTextFits) {
    field_.SetValue(0xFFFF, 1, 1);
    EXPECT_TRUE(field_.IsEdited());
    field_.setMaxLength(4);
    RunMenuCommand("Con&vert");
    EXPECT_EQ(field_.text(), QStringLiteral("65535"));

    field_.end(false);
    QTest::keyClick(&field_, Qt::Key_Backspace);
    QTest::keyClick(&field_, Qt::Key_1);  // the text fits again: the caller's limit holds
    EXPECT_EQ(field_.text(), QStringLiteral("6553"));
    EXPECT_EQ(field_.maxLength(), 4);

    field_.SetValue(0xD8000004u, 1, 2);
    EXPECT_EQ(field_.text(), QStringLiteral("D8000004"));
}

}  // namespace
