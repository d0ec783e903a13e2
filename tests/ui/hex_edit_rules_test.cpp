#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ui/hex_edit_rules.h"

namespace {

using ui::HexEditKey;
using ui::HexEditState;
using ui::KeyVerdict;

constexpr char16_t kConsumed = 0;  // a row's expectation that the character is consumed

struct Typed {
    const char16_t* text;
    std::size_t start, end;
    char16_t ch;
    char16_t result;
};

class FilterCharacter : public ::testing::TestWithParam<Typed> {};

TEST_P(FilterCharacter, TypesHexDigitsAndGuardsThePrefix) {
    const Typed& row = GetParam();
    const std::optional<char16_t> out = ui::FilterCharacter({row.text, row.start, row.end}, row.ch);
    EXPECT_EQ(out.value_or(kConsumed), row.result);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FilterCharacter,
    ::testing::Values(Typed{u"", 0, 0, u'a', u'A'}, Typed{u"", 0, 0, u'7', u'7'},
                      Typed{u"", 0, 0, u'g', kConsumed}, Typed{u"", 0, 0, u' ', kConsumed},
                      Typed{u"", 0, 0, u'-', kConsumed}, Typed{u"", 0, 0, u'\u00e9', kConsumed},
                      // x makes the prefix only right after a leading 0, and always lower case
                      Typed{u"", 0, 0, u'x', kConsumed}, Typed{u"0", 1, 1, u'x', u'x'}, Typed{u"0", 1, 1, u'X', u'x'},
                      Typed{u"0", 0, 0, u'x', kConsumed}, Typed{u"1", 1, 1, u'x', kConsumed},
                      Typed{u"0x1F", 2, 2, u'x', kConsumed},
                      // nothing typed before or inside the prefix, unless the selection reaches past it
                      Typed{u"0x1F", 0, 0, u'5', kConsumed}, Typed{u"0x1F", 1, 1, u'5', kConsumed},
                      Typed{u"0x1F", 0, 1, u'5', kConsumed}, Typed{u"0x1F", 2, 2, u'5', u'5'},
                      Typed{u"0x1F", 0, 4, u'a', u'A'},
                      // Backspace may not leave the 0 without its x; other control codes pass
                      Typed{u"0x1F", 1, 1, 0x08, kConsumed}, Typed{u"0x1F", 0, 1, 0x08, kConsumed},
                      Typed{u"0x1F", 2, 2, 0x08, 0x08}, Typed{u"01F", 1, 1, 0x08, 0x08},
                      Typed{u"0x1F", 1, 1, u'\t', u'\t'}, Typed{u"0x1F", 1, 1, 0x7F, kConsumed}));

struct Pressed {
    const char16_t* text;
    std::size_t start, end;
    HexEditKey key;
    bool ctrl;
    KeyVerdict verdict;
};

class FilterKeyPress : public ::testing::TestWithParam<Pressed> {};

TEST_P(FilterKeyPress, CutAndDeleteCannotTakeThePrefixZeroAlone) {
    const Pressed& row = GetParam();
    EXPECT_EQ(ui::FilterKeyPress({row.text, row.start, row.end}, row.key, row.ctrl), row.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FilterKeyPress,
    ::testing::Values(Pressed{u"0x1F", 0, 1, HexEditKey::X, true, KeyVerdict::Consume},
                      Pressed{u"0x1F", 0, 2, HexEditKey::X, true, KeyVerdict::Proceed},
                      Pressed{u"0x1F", 0, 1, HexEditKey::X, false, KeyVerdict::Proceed},
                      Pressed{u"01F", 0, 1, HexEditKey::X, true, KeyVerdict::Proceed},
                      Pressed{u"0x1F", 0, 0, HexEditKey::Delete, false, KeyVerdict::Consume},
                      Pressed{u"0x1F", 0, 1, HexEditKey::Delete, true, KeyVerdict::Consume},
                      Pressed{u"0x1F", 1, 1, HexEditKey::Delete, false, KeyVerdict::Proceed},
                      Pressed{u"0x1F", 0, 2, HexEditKey::Delete, false, KeyVerdict::Proceed},
                      Pressed{u"0x1F", 0, 0, HexEditKey::V, true, KeyVerdict::CheckPaste},
                      Pressed{u"0x1F", 0, 0, HexEditKey::V, false, KeyVerdict::Proceed},
                      Pressed{u"0x1F", 0, 0, HexEditKey::Other, true, KeyVerdict::Proceed}));

struct Pasted {
    const char16_t* text;
    std::size_t start, end;
    const char16_t* paste;
    bool accepted;
};

class IsPasteAcceptable : public ::testing::TestWithParam<Pasted> {};

TEST_P(IsPasteAcceptable, AcceptsHexDigitsAndAPrefixOnlyWhereTypingCouldMakeOne) {
    const Pasted& row = GetParam();
    EXPECT_EQ(ui::IsPasteAcceptable({row.text, row.start, row.end}, row.paste), row.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IsPasteAcceptable,
    ::testing::Values(Pasted{u"", 0, 0, u"0x12", true}, Pasted{u"0x5", 3, 3, u"0x12", false},
                      Pasted{u"0x5", 0, 2, u"0x12", true}, Pasted{u"0x5", 0, 3, u"0X1", true},
                      Pasted{u"0x5", 0, 1, u"0x12", false}, Pasted{u"5", 1, 1, u"0x1", false},
                      Pasted{u"0", 1, 1, u"x12", true}, Pasted{u"0", 1, 1, u"X", true},
                      Pasted{u"", 0, 0, u"x12", false}, Pasted{u"0", 0, 0, u"x12", false},
                      Pasted{u"0x5", 1, 1, u"x12", false}, Pasted{u"0", 1, 1, u"x1g", false},
                      Pasted{u"", 0, 0, u"1g", false}, Pasted{u"", 0, 0, u"1f", true},
                      Pasted{u"0x5", 2, 2, u"", true}, Pasted{u"0x5", 1, 1, u"", false}));

TEST(PasteAllowed, NeedsOfferedTextAndChecksTextObtained) {
    const std::u16string bad = u"1g";
    const std::u16string good = u"1f";
    const HexEditState empty{u"", 0, 0};
    EXPECT_FALSE(ui::PasteAllowed(empty, false, nullptr));
    EXPECT_TRUE(ui::PasteAllowed(empty, true, nullptr));
    EXPECT_TRUE(ui::PasteAllowed(empty, true, &good));
    EXPECT_FALSE(ui::PasteAllowed(empty, true, &bad));
}

TEST(NormalizeClipboardText, UpperCasesAllButTheLowerCasePrefixLetter) {
    EXPECT_EQ(ui::NormalizeClipboardText(u"0Xab"), u"0xAB");
    EXPECT_EQ(ui::NormalizeClipboardText(u"fix"), u"FIx");
    EXPECT_EQ(ui::NormalizeClipboardText(u"\u00e9z-9"), u"\u00e9Z-9");
    EXPECT_EQ(ui::NormalizeClipboardText(u""), u"");
}

TEST(ConvertText, EditedReadsHexShowsDecimalFreshReadsDecimalShowsHex) {
    EXPECT_EQ(ui::ConvertText(u"0x1F", true), u"31");
    EXPECT_EQ(ui::ConvertText(u"1F", true), u"31");
    EXPECT_EQ(ui::ConvertText(ui::ConvertText(u"0x1F", true), true), u"49");
    EXPECT_EQ(ui::ConvertText(u"", true), u"0");
    EXPECT_EQ(ui::ConvertText(u"zz", true), u"0");
    EXPECT_EQ(ui::ConvertText(u"FFFFFFFF", true), u"4294967295");
    EXPECT_EQ(ui::ConvertText(u"123456789", true), u"4294967295");  // beyond 32 bits saturates
    EXPECT_EQ(ui::ConvertText(u"255", false), u"0xFF");
    EXPECT_EQ(ui::ConvertText(u"-1", false), u"0xFFFFFFFF");
    EXPECT_EQ(ui::ConvertText(u"", false), u"0x0");
    EXPECT_EQ(ui::ConvertText(u"99999999999", false), u"0x7FFFFFFF");
}

// A row's expectation lists the letters of the enabled commands: Undo, cuT, Copy, Paste,
// Delete, select All, conVert.
struct MenuRow {
    const char16_t* text;
    std::size_t start, end;
    ui::HexEditMenuContext context;
    const char* enabled;
};

class MenuCommands : public ::testing::TestWithParam<MenuRow> {};

TEST_P(MenuCommands, EnabledStatesFollowSelectionTextAndContext) {
    static constexpr std::pair<std::uint16_t, char> kLetters[] = {
        {ui::kCmdUndo, 'U'},   {ui::kCmdCut, 'T'},       {ui::kCmdCopy, 'C'},   {ui::kCmdPaste, 'P'},
        {ui::kCmdDelete, 'D'}, {ui::kCmdSelectAll, 'A'}, {ui::kCmdConvert, 'V'}};
    const MenuRow& row = GetParam();
    std::string enabled;
    for (auto [command, letter] : kLetters)
        if (ui::IsMenuCommandEnabled({row.text, row.start, row.end}, row.context, command)) enabled += letter;
    EXPECT_EQ(enabled, row.enabled);
}

INSTANTIATE_TEST_SUITE_P(Rows, MenuCommands,
                         ::testing::Values(MenuRow{u"0x1F", 0, 1, {true, false, true}, "UCPAV"},
                                           MenuRow{u"0x1F", 0, 2, {true, false, true}, "UTCPDAV"},
                                           MenuRow{u"", 0, 0, {false, false, false}, ""},
                                           MenuRow{u"0x", 1, 1, {false, false, true}, "PA"},
                                           MenuRow{u"0x1", 3, 3, {false, false, false}, "AV"},
                                           MenuRow{u"12", 0, 2, {true, true, true}, "CV"}));

}  // namespace
