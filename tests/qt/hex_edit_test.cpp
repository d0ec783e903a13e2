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

// A field under the offscreen platform (the suite's QApplication comes from its shared
// environment).
class HexEditTest : public ::testing::Test {
protected:
    void SetUp() override { QGuiApplication::clipboard()->clear(); }

    void Place(const char* text, int start, int end) {
        field_.setText(QString::fromLatin1(text));
        if (start == end)
            field_.setCursorPosition(start);
        else
            field_.setSelection(start, end - start);
    }

    // Opens the context menu as a right click does and hands it over.
    std::unique_ptr<QMenu> OpenMenu(QContextMenuEvent::Reason reason = QContextMenuEvent::Mouse) {
        QContextMenuEvent request(reason, QPoint(2, 2), field_.mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(&field_, &request);
        auto* menu = field_.findChild<QMenu*>();
        if (menu != nullptr) menu->hide();
        return std::unique_ptr<QMenu>(menu);
    }

    static QAction* MenuCommand(QMenu& menu, const char* text) {
        for (QAction* action : menu.actions())
            if (action->text() == QString::fromLatin1(text)) return action;
        return nullptr;
    }

    CHexEdit field_;
};

struct KeyRow {
    const char* text;
    int start, end;
    const char* typed;  // typed as characters when set, else the one key below
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* result;
};

class HexEditKeys : public HexEditTest, public ::testing::WithParamInterface<KeyRow> {};

TEST_P(HexEditKeys, ConsumedKeysNeverReachTheLineEdit) {
    const KeyRow& row = GetParam();
    Place(row.text, row.start, row.end);
    if (row.typed != nullptr)
        QTest::keyClicks(&field_, QString::fromLatin1(row.typed));
    else
        QTest::keyClick(&field_, row.key, row.modifiers);
    EXPECT_EQ(field_.text().toStdString(), row.result);
}

constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;

INSTANTIATE_TEST_SUITE_P(
    Rows, HexEditKeys,
    ::testing::Values(KeyRow{"", 0, 0, "0xaG-f", Qt::Key_unknown, kNone, "0xAF"},
                      KeyRow{"", 0, 0, "0X1", Qt::Key_unknown, kNone, "0x1"},
                      KeyRow{"", 0, 0, "x ", Qt::Key_unknown, kNone, ""},
                      KeyRow{"0x1F", 1, 1, nullptr, Qt::Key_Backspace, kNone, "0x1F"},
                      KeyRow{"0x1F", 2, 2, nullptr, Qt::Key_Backspace, kNone, "01F"},
                      KeyRow{"0x1F", 2, 2, nullptr, Qt::Key_Backspace, Qt::ControlModifier, "0x1F"},
                      KeyRow{"0x1F", 0, 0, nullptr, Qt::Key_Delete, kNone, "0x1F"},
                      KeyRow{"0x1F", 1, 1, nullptr, Qt::Key_Delete, kNone, "01F"},
                      KeyRow{"0x1F", 0, 1, nullptr, Qt::Key_Delete, Qt::ShiftModifier, "0x1F"},
                      KeyRow{"0x1F", 0, 1, nullptr, Qt::Key_X, Qt::ControlModifier, "0x1F"},
                      KeyRow{"0x1F", 0, 2, nullptr, Qt::Key_X, Qt::ControlModifier, "1F"}));

TEST_F(HexEditTest, InputMethodCommitsObeyTheCharacterRules) {
    for (const char* commit : {"0", "X", "g", "a"}) {
        QInputMethodEvent event;
        event.setCommitString(QString::fromLatin1(commit));
        QApplication::sendEvent(&field_, &event);
    }
    EXPECT_EQ(field_.text(), QStringLiteral("0xA"));
}

TEST_F(HexEditTest, CtrlVIsFilteredShiftInsertAndTheMenuAreNot) {
    QClipboard& clipboard = *QGuiApplication::clipboard();
    clipboard.setText(QStringLiteral("1g"));
    QTest::keyClick(&field_, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field_.text(), QString());
    QTest::keyClick(&field_, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(field_.text(), QStringLiteral("1g"));

    Place("", 0, 0);
    clipboard.setText(QStringLiteral("1f"));
    QTest::keyClick(&field_, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field_.text(), QStringLiteral("1f"));  // Ctrl+V pastes the text as it is

    Place("", 0, 0);
    std::unique_ptr<QMenu> menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    MenuCommand(*menu, "&Paste")->trigger();
    EXPECT_EQ(field_.text(), QStringLiteral("1F"));  // the menu normalises the clipboard first
    EXPECT_EQ(clipboard.text(), QStringLiteral("1F"));
}

TEST_F(HexEditTest, TurnsFromFreshToEditedColoursAtTheFirstChange) {
    auto colours = [this] {
        return std::pair{field_.palette().color(QPalette::Text), field_.palette().color(QPalette::Base)};
    };
    EXPECT_EQ(colours(), std::pair(QColor(192, 97, 10), QColor(251, 244, 170)));
    QTest::keyClick(&field_, Qt::Key_G);  // consumed: no change
    EXPECT_FALSE(field_.IsEdited());
    QTest::keyClick(&field_, Qt::Key_1);
    EXPECT_TRUE(field_.IsEdited());
    EXPECT_EQ(colours(), std::pair(QColor(74, 115, 132), QColor(219, 247, 220)));
    QTest::keyClick(&field_, Qt::Key_Backspace);  // emptied again, still edited
    EXPECT_EQ(colours(), std::pair(QColor(74, 115, 132), QColor(219, 247, 220)));

    CHexEdit other;
    other.SetValue(0x1F, 1, 1);
    EXPECT_EQ(other.text(), QStringLiteral("001F"));
    EXPECT_TRUE(other.IsEdited());
}

TEST_F(HexEditTest, MenuHoldsItsEntriesInOrderWithTheirStates) {
    struct Row {
        int start, end;
        QContextMenuEvent::Reason reason;
        const char* entries;
    };
    const Row rows[] = {
        // the 5 on the clipboard may not replace the prefix's 0 alone
        {0, 1, QContextMenuEvent::Mouse, "&Undo|-|Cu&t (off)|&Copy|&Paste (off)|&Delete (off)|-|Select &All|-|Con&vert"},
        {2, 4, QContextMenuEvent::Keyboard, "&Undo|-|Cu&t|&Copy|&Paste|&Delete|-|Select &All|-|Con&vert"},
    };
    QGuiApplication::clipboard()->setText(QStringLiteral("5"));
    Place("0x1", 3, 3);
    QTest::keyClick(&field_, Qt::Key_F);  // something to undo
    for (const Row& row : rows) {
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

TEST_F(HexEditTest, ConvertRunsFromTheMenuBothWays) {
    field_.setMaxLength(4);
    Place("0x1F", 4, 4);
    for (const char* expected : {"31", "49"}) {
        std::unique_ptr<QMenu> menu = OpenMenu();
        ASSERT_NE(menu, nullptr);
        MenuCommand(*menu, "Con&vert")->trigger();
        EXPECT_EQ(field_.text().toStdString(), expected);
    }
}

TEST_F(HexEditTest, SetValueAndConvertAreNotCutByTheLimitWhichReturnsOnceTheTextFits) {
    field_.SetValue(0xFFFF, 1, 1);
    field_.setMaxLength(4);
    std::unique_ptr<QMenu> menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    MenuCommand(*menu, "Con&vert")->trigger();
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
