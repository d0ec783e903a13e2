// The dialog templates as constant data: the main dialog (102) and the About box (100),
// each control with its id, kind, caption, place in dialog units, style and the handler
// its click runs. No toolkit here: ui/qt builds the windows from these tables.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ui/main_dialog.h"

namespace ui {

enum class ControlKind : std::uint8_t {
    GroupBox,     // frame with a caption, no behaviour
    Label,        // static text naming the control `labelFor`
    StaticText,   // static text the code writes (it has an id)
    Edit,         // plain entry field
    HexEdit,      // hexadecimal entry field
    PushButton,
    RadioButton,
    CheckBox,
    ComboBox,     // drop-down combo box (editable)
    ProgressBar,
    Icon,         // the application icon
};

// Style bits, as the template gives them.
enum ControlStyle : std::uint16_t {
    kStyleNone = 0,
    kCentred = 1u << 0,
    kRightAligned = 1u << 1,
    kReadOnly = 1u << 2,
    kHidden = 1u << 3,
    kDefaultButton = 1u << 4,
    kGroupStart = 1u << 5,  // first radio button of a group
    kSorted = 1u << 6,      // list entries kept in sorted order
};

inline constexpr int kStaticId = -1;  // a control without id (labels, group boxes, "/")

using DialogHandler = void (Cuvc_hid_quendaDlg::*)();

struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const DialogRect&) const = default;
};

struct DialogControl {
    int id = kStaticId;
    ControlKind kind = ControlKind::Label;
    const char* text = "";  // caption, label text or initial text; "&&" shows as "&"
    DialogRect at;          // dialog units
    std::uint16_t style = kStyleNone;
    int labelFor = 0;               // labels: the id of the control they name
    DialogHandler handler = nullptr;  // what a click runs
};

struct DialogTemplate {
    int id = 0;
    const char* caption = "";
    int width = 0;   // client area, dialog units
    int height = 0;
    int pointSize = 8;
    std::span<const DialogControl> controls;  // in creation order, which is the Tab order
};

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutBoxTemplate();

// String 101: the About item of the window menu.
inline constexpr const char* kAboutMenuText = "&About Sorvik HID Tool...";

// The row of a control id in a template, or nullptr.
const DialogControl* FindControl(const DialogTemplate& dialog, int id);

// Edits, push buttons, check boxes and combo boxes take the Tab key; radio buttons,
// static texts and the progress bar do not.
bool HasTabStop(ControlKind kind);

// The caption as shown: "&&" becomes "&".
std::string DisplayText(const char* caption);

// The name a screen reader announces for a control: a button's caption, or for an entry
// field its label without the trailing " :" and "0x" ("Device VID : 0x" -> "Device VID").
// Empty when the control has neither.
std::string AccessibleNameFor(const DialogTemplate& dialog, const DialogControl& control);

// Dialog base units of a font, as the window system computes them: horizontal = the
// average width of the 52 Latin letters (rounded), vertical = the font's height.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};
DialogBaseUnits BaseUnitsFromFont(int widthOf52Letters, int fontHeight);

// Dialog units to pixels: x * base.x / 4 and y * base.y / 8, rounded.
DialogRect DialogUnitsToPixels(DialogRect r, DialogBaseUnits base);

}  // namespace ui
