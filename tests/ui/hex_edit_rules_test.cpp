#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ui/hex_edit_rules.h"

namespace {

using ui::HexEditKey;
using ui::HexEditState;
using ui::KeyVerdict;

constexpr char16_t kConsumed = 0;  // a row's expectation that the character is consumed

// Names a row in failure messages: the text and the selection.
std::string Where(const HexEditState& s) {
    return ::testing::PrintToString(std::u16string(s.text)) + " [" + std::to_string(s.start) + ", " +
           std::to_string(s.end) + ")";
}

TEST(HexEditRules, FilterCharacterTypesHexDigitsAndGuardsThePrefix) {
    struct Row {
        HexEditState s;
        char16_t ch, result;
    };
    for (Row row : {Row{{u"", 0, 0}, u'a', u'A'}, Row{{u"", 0, 0}, u'7', u'7'}, Row{{u"", 0, 0}, u'g', kConsumed},
                    Row{{u"", 0, 0}, u'-', kConsumed}, Row{{u"", 0, 0}, u'\u00e9', kConsumed},
                    // x makes the prefix only right after a leading 0, and always lower case
                    Row{{u"", 0, 0}, u'x', kConsumed}, Row{{u"0", 1, 1}, u'x', u'x'}, Row{{u"0", 1, 1}, u'X', u'x'},
                    Row{{u"0", 0, 0}, u'x', kConsumed}, Row{{u"1", 1, 1}, u'x', kConsumed},
                    Row{{u"0x1F", 2, 2}, u'x', kConsumed},
                    // nothing typed before or inside the prefix, unless the selection reaches past it
                    Row{{u"0x1F", 0, 0}, u'5', kConsumed}, Row{{u"0x1F", 1, 1}, u'5', kConsumed},
                    Row{{u"0x1F", 0, 1}, u'5', kConsumed}, Row{{u"0x1F", 2, 2}, u'5', u'5'},
                    Row{{u"0x1F", 0, 4}, u'a', u'A'},
                    // Backspace may not leave the 0 without its x; other control codes pass
                    Row{{u"0x1F", 1, 1}, 0x08, kConsumed}, Row{{u"0x1F", 0, 1}, 0x08, kConsumed},
                    Row{{u"0x1F", 2, 2}, 0x08, 0x08}, Row{{u"01F", 1, 1}, 0x08, 0x08},
                    Row{{u"0x1F", 1, 1}, u'\t', u'\t'}, Row{{u"0x1F", 1, 1}, 0x7F, kConsumed}})
        EXPECT_EQ(ui::FilterCharacter(row.s, row.ch).value_or(kConsumed), row.result) << Where(row.s) << " " << +row.ch;
}

TEST(HexEditRules, CutAndDeleteCannotTakeThePrefixZeroAlone) {
    struct Row {
        HexEditState s;
        HexEditKey key;
        bool ctrl;
        KeyVerdict verdict;
    };
    for (Row row : {Row{{u"0x1F", 0, 1}, HexEditKey::X, true, KeyVerdict::Consume},
                    Row{{u"0x1F", 0, 2}, HexEditKey::X, true, KeyVerdict::Proceed},
                    Row{{u"0x1F", 0, 1}, HexEditKey::X, false, KeyVerdict::Proceed},
                    Row{{u"01F", 0, 1}, HexEditKey::X, true, KeyVerdict::Proceed},
                    Row{{u"0x1F", 0, 0}, HexEditKey::Delete, false, KeyVerdict::Consume},
                    Row{{u"0x1F", 0, 1}, HexEditKey::Delete, true, KeyVerdict::Consume},
                    Row{{u"0x1F", 1, 1}, HexEditKey::Delete, false, KeyVerdict::Proceed},
                    Row{{u"0x1F", 0, 2}, HexEditKey::Delete, false, KeyVerdict::Proceed},
                    Row{{u"0x1F", 0, 0}, HexEditKey::V, true, KeyVerdict::CheckPaste},
                    Row{{u"0x1F", 0, 0}, HexEditKey::V, false, KeyVerdict::Proceed},
                    Row{{u"0x1F", 0, 0}, HexEditKey::Other, true, KeyVerdict::Proceed}})
        EXPECT_EQ(ui::FilterKeyPress(row.s, row.key, row.ctrl), row.verdict)
            << Where(row.s) << " key " << static_cast<int>(row.key) << " ctrl " << row.ctrl;
}

// Hex digits are accepted, and a prefix only where typing could make one. PasteAllowed
// also needs the clipboard to offer text, and checks the text it obtained.
TEST(HexEditRules, PasteAcceptsHexDigitsAndAPrefixOnlyWhereTypingCouldMakeOne) {
    struct Row {
        HexEditState s;
        const char16_t* paste;
        bool accepted;
    };
    for (Row row : {Row{{u"", 0, 0}, u"0x12", true}, Row{{u"0x5", 3, 3}, u"0x12", false},
                    Row{{u"0x5", 0, 2}, u"0x12", true}, Row{{u"0x5", 0, 3}, u"0X1", true},
                    Row{{u"0x5", 0, 1}, u"0x12", false}, Row{{u"5", 1, 1}, u"0x1", false},
                    Row{{u"0", 1, 1}, u"x12", true}, Row{{u"0", 1, 1}, u"X", true}, Row{{u"", 0, 0}, u"x12", false},
                    Row{{u"0", 0, 0}, u"x12", false}, Row{{u"0x5", 1, 1}, u"x12", false},
                    Row{{u"0", 1, 1}, u"x1g", false}, Row{{u"", 0, 0}, u"1g", false}, Row{{u"", 0, 0}, u"1f", true},
                    Row{{u"0x5", 2, 2}, u"", true}, Row{{u"0x5", 1, 1}, u"", false}})
        EXPECT_EQ(ui::IsPasteAcceptable(row.s, row.paste), row.accepted)
            << Where(row.s) << " paste " << ::testing::PrintToString(row.paste);

    const std::u16string bad = u"1g", good = u"1f";
    EXPECT_FALSE(ui::PasteAllowed({}, false, nullptr));
    EXPECT_TRUE(ui::PasteAllowed({}, true, nullptr));
    EXPECT_TRUE(ui::PasteAllowed({}, true, &good));
    EXPECT_FALSE(ui::PasteAllowed({}, true, &bad));
}

TEST(HexEditRules, ClipboardTextAndConvert) {
    // Everything upper case but the prefix letter.
    EXPECT_EQ(ui::NormalizeClipboardText(u"0Xab"), u"0xAB");
    EXPECT_EQ(ui::NormalizeClipboardText(u"fix"), u"FIx");
    EXPECT_EQ(ui::NormalizeClipboardText(u"\u00e9z-9"), u"\u00e9Z-9");
    EXPECT_EQ(ui::NormalizeClipboardText(u""), u"");

    // An edited field reads hex and shows decimal, a fresh one reads decimal and shows hex.
    struct Row {
        const char16_t* text;
        bool edited;
        const char16_t* result;
    };
    // The hex reading itself is the field parser's; here the prefix, the width and the decimal side.
    for (Row row : {Row{u"0x1F", true, u"31"}, Row{u"31", true, u"49"}, Row{u"", true, u"0"},
                    Row{u"FFFFFFFF", true, u"4294967295"}, Row{u"255", false, u"0xFF"}, Row{u"-1", false, u"0xFFFFFFFF"},
                    Row{u"", false, u"0x0"}, Row{u"99999999999", false, u"0x7FFFFFFF"}})
        EXPECT_EQ(ui::ConvertText(row.text, row.edited), row.result)
            << ::testing::PrintToString(row.text) << " edited " << row.edited;
}

// A row's expectation lists the letters of the enabled commands: Undo, cuT, Copy, Paste,
// Delete, select All, conVert.
TEST(HexEditRules, MenuCommandsFollowSelectionTextAndContext) {
    static constexpr std::pair<std::uint16_t, char> kLetters[] = {
        {ui::kCmdUndo, 'U'},   {ui::kCmdCut, 'T'},       {ui::kCmdCopy, 'C'},   {ui::kCmdPaste, 'P'},
        {ui::kCmdDelete, 'D'}, {ui::kCmdSelectAll, 'A'}, {ui::kCmdConvert, 'V'}};
    struct Row {
        HexEditState s;
        ui::HexEditMenuContext context;
        const char* enabled;
    };
    for (Row row : {Row{{u"0x1F", 0, 1}, {true, false, true}, "UCPAV"},
                    Row{{u"0x1F", 0, 2}, {true, false, true}, "UTCPDAV"},
                    Row{{u"", 0, 0}, {false, false, false}, ""}, Row{{u"0x", 1, 1}, {false, false, true}, "PA"},
                    Row{{u"0x1", 3, 3}, {false, false, false}, "AV"}, Row{{u"12", 0, 2}, {true, true, true}, "CV"}}) {
        std::string enabled;
        for (auto [command, letter] : kLetters)
            if (ui::IsMenuCommandEnabled(row.s, row.context, command)) enabled += letter;
        EXPECT_EQ(enabled, row.enabled) << Where(row.s);
    }
}

}  // namespace
