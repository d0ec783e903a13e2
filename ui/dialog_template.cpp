#include "ui/dialog_template.h"

#include <algorithm>

#include "ui/services/control_ids.h"

namespace ui {
namespace {

using K = ControlKind;
using D = Cuvc_hid_quendaDlg;

// Main dialog, template 102. Group boxes come first so that they stay beneath the
// controls they frame; a label precedes the control it names. Otherwise the rows follow
// the template's creation order, which is also the Tab order.
constexpr DialogControl kMainControls[] = {
    {.kind = K::GroupBox, .text = "Device Setting", .at = {3, 1, 396, 26}},
    {.kind = K::GroupBox, .text = "Peripheral Read && Write", .at = {3, 46, 323, 62}},
    {.kind = K::GroupBox, .text = "HDCP Option", .at = {330, 46, 70, 36}},
    {.kind = K::GroupBox, .text = "Flash Information", .at = {4, 111, 395, 200}},
    {.kind = K::GroupBox, .text = "Burn Area", .at = {6, 217, 388, 36}},
    {.kind = K::GroupBox, .text = "Version Info", .at = {7, 252, 387, 35}},

    {.id = 1, .kind = K::PushButton, .text = "OK", .at = {182, 334, 50, 14}, .style = kDefaultButton, .handler = &D::OnBnClickedOk},
    {.kind = K::Label, .text = "HID Device Info:", .at = {6, 33, 55, 8}, .labelFor = 1001},
    {.id = 1001, .kind = K::Edit, .at = {62, 30, 337, 14}, .style = kReadOnly},
    {.id = 1003, .kind = K::PushButton, .text = "Write", .at = {268, 72, 50, 14}, .handler = &D::OnWrite},
    {.kind = K::Label, .text = "Addr : 0x", .at = {56, 58, 32, 8}, .labelFor = 1004},
    {.id = 1004, .kind = K::HexEdit, .at = {89, 55, 40, 14}},
    {.kind = K::Label, .text = "Value : 0x", .at = {148, 58, 37, 8}, .labelFor = 1005},
    {.id = 1005, .kind = K::HexEdit, .at = {186, 55, 40, 14}, .style = kRightAligned},
    {.id = 1006, .kind = K::PushButton, .text = "Read", .at = {268, 54, 50, 14}, .handler = &D::OnRead},
    {.kind = K::Label, .text = "Burn File:", .at = {8, 169, 34, 8}, .labelFor = 1007},
    {.id = 1007, .kind = K::Edit, .at = {43, 166, 320, 14}},
    {.id = 1008, .kind = K::PushButton, .text = "...", .at = {366, 166, 27, 14}, .handler = &D::OnBrowseBurnFile},
    {.id = 1009, .kind = K::ProgressBar, .at = {43, 184, 284, 14}},
    {.id = 1010, .kind = K::StaticText, .text = "Static", .at = {6, 183, 30, 21}},
    {.id = 1011, .kind = K::StaticText, .text = "Static", .at = {330, 187, 30, 8}, .style = kRightAligned},
    {.kind = K::Label, .text = "/", .at = {359, 187, 8, 8}, .style = kCentred},
    {.id = 1012, .kind = K::StaticText, .text = "Static", .at = {366, 187, 31, 8}},
    {.kind = K::Label, .text = "Dump File:", .at = {8, 204, 34, 8}, .labelFor = 1013},
    {.id = 1013, .kind = K::Edit, .at = {43, 201, 320, 14}},
    {.id = 1014, .kind = K::PushButton, .text = "Get ID", .at = {121, 293, 50, 14}, .handler = &D::OnGetId},
    {.id = 1015, .kind = K::PushButton, .text = "...", .at = {366, 201, 27, 14}, .handler = &D::OnBrowseDumpFile},
    {.id = 1016, .kind = K::PushButton, .text = "Burn", .at = {182, 293, 50, 14}, .handler = &D::OnBurn},
    {.id = 1017, .kind = K::PushButton, .text = "Dump", .at = {243, 293, 50, 14}, .handler = &D::OnDump},
    {.kind = K::Label, .text = "Device Name :", .at = {12, 121, 52, 8}, .labelFor = 1018},
    {.id = 1018, .kind = K::StaticText, .at = {65, 121, 67, 8}},
    {.kind = K::Label, .text = "Page Size      :", .at = {12, 131, 52, 8}, .labelFor = 1019},
    {.id = 1019, .kind = K::StaticText, .at = {65, 131, 55, 8}},
    {.kind = K::Label, .text = "Sector Size    :", .at = {12, 141, 52, 8}, .labelFor = 1020},
    {.id = 1020, .kind = K::StaticText, .at = {65, 141, 55, 8}},
    {.kind = K::Label, .text = "Total Block     :", .at = {12, 151, 52, 8}, .labelFor = 1021},
    {.id = 1021, .kind = K::StaticText, .at = {65, 151, 55, 8}},
    {.kind = K::Label, .text = "Device ID             :", .at = {205, 121, 66, 8}, .labelFor = 1028},
    {.id = 1028, .kind = K::StaticText, .at = {273, 121, 55, 8}},
    {.kind = K::Label, .text = "Pages per Sector :", .at = {205, 131, 66, 8}, .labelFor = 1029},
    {.id = 1029, .kind = K::StaticText, .at = {273, 131, 55, 8}},
    {.kind = K::Label, .text = "Sectors per block :", .at = {205, 141, 66, 8}, .labelFor = 1030},
    {.id = 1030, .kind = K::StaticText, .at = {273, 141, 55, 8}},
    {.kind = K::Label, .text = "Total Size             :", .at = {205, 151, 66, 8}, .labelFor = 1031},
    {.id = 1031, .kind = K::StaticText, .at = {273, 151, 55, 8}},
    {.kind = K::Label, .text = "Device VID : 0x", .at = {8, 12, 53, 8}, .labelFor = 1025},
    {.id = 1025, .kind = K::HexEdit, .at = {62, 9, 29, 14}, .style = kCentred},
    {.kind = K::Label, .text = "PID : 0x", .at = {184, 12, 30, 8}, .labelFor = 1026},
    {.id = 1026, .kind = K::HexEdit, .at = {215, 9, 29, 14}, .style = kCentred},
    {.id = 1027, .kind = K::PushButton, .text = "Open Device", .at = {336, 10, 50, 14}, .handler = &D::OnOpenDevice},
    {.id = 1032, .kind = K::RadioButton, .text = "Entire Flash", .at = {13, 231, 54, 10}, .style = kGroupStart, .handler = &D::OnEntireFlash},
    {.id = 1033, .kind = K::RadioButton, .text = "Other Area", .at = {138, 231, 52, 10}, .handler = &D::OnOtherArea},
    {.id = 1034, .kind = K::CheckBox, .text = "Firmware", .at = {198, 232, 47, 10}},
    {.id = 1035, .kind = K::CheckBox, .text = "Private Data", .at = {337, 232, 55, 10}},
    {.id = 1036, .kind = K::CheckBox, .text = "Customized Data", .at = {254, 232, 71, 10}},
    {.kind = K::Label, .text = ".hex :", .at = {62, 268, 26, 8}, .labelFor = 1040},
    {.id = 1040, .kind = K::HexEdit, .at = {89, 265, 61, 14}, .style = kCentred},
    {.kind = K::Label, .text = "Firmware :", .at = {158, 268, 39, 8}, .labelFor = 1041},
    {.id = 1041, .kind = K::HexEdit, .at = {198, 265, 63, 14}, .style = kCentred},
    {.id = 1042, .kind = K::PushButton, .text = "Get FW Ver.", .at = {271, 265, 50, 14}, .handler = &D::OnGetFwVersion},
    {.id = 1044, .kind = K::RadioButton, .text = "Register", .at = {7, 57, 43, 10}, .style = kGroupStart},
    {.id = 1045, .kind = K::RadioButton, .text = "IIC", .at = {7, 74, 25, 10}},
    {.id = 1046, .kind = K::RadioButton, .text = "GPIO", .at = {7, 91, 32, 10}},
    {.kind = K::Label, .text = "Addr : 0x", .at = {44, 76, 32, 8}, .labelFor = 1022},
    {.id = 1022, .kind = K::HexEdit, .at = {77, 73, 27, 14}, .style = kCentred},
    {.kind = K::Label, .text = "Ret cocde : 0x", .at = {186, 76, 51, 8}, .labelFor = 1023},
    {.id = 1023, .kind = K::HexEdit, .at = {238, 73, 27, 14}, .style = kCentred},
    {.kind = K::Label, .text = "Data : 0x", .at = {115, 76, 34, 8}, .labelFor = 1024},
    {.id = 1024, .kind = K::HexEdit, .at = {150, 73, 27, 14}, .style = kCentred},
    {.kind = K::Label, .text = "Number", .at = {43, 93, 26, 8}, .labelFor = 1048},
    {.id = 1048, .kind = K::ComboBox, .at = {70, 91, 42, 12}, .style = kSorted},
    {.kind = K::Label, .text = "Direction", .at = {116, 93, 32, 8}, .labelFor = 1049},
    {.id = 1049, .kind = K::ComboBox, .at = {149, 91, 42, 30}, .style = kSorted},
    {.kind = K::Label, .text = "Value", .at = {214, 93, 22, 8}, .labelFor = 1050},
    {.id = 1050, .kind = K::HexEdit, .at = {237, 90, 27, 14}, .style = kCentred},
    {.id = 1051, .kind = K::PushButton, .text = "Set GPIO", .at = {268, 90, 50, 14}, .handler = &D::OnSetGpio},
    {.kind = K::Label, .text = "HDMI Info:", .at = {8, 318, 35, 8}, .labelFor = 1052},
    {.id = 1052, .kind = K::Edit, .at = {44, 315, 296, 14}, .style = kReadOnly},
    {.id = 1043, .kind = K::PushButton, .text = "Get HDMI Info.", .at = {344, 315, 56, 14}, .handler = &D::OnGetHdmiInfo},
    {.id = 1053, .kind = K::PushButton, .text = "Test", .at = {345, 334, 53, 14}, .style = kHidden, .handler = &D::OnTest},
    {.id = 1055, .kind = K::RadioButton, .text = "Disable HDCP Key", .at = {331, 57, 72, 10}, .style = kGroupStart, .handler = &D::OnBnClickedRdoDHdcpKey},
    {.id = 1056, .kind = K::RadioButton, .text = "Enable HDCP Key", .at = {331, 69, 72, 10}, .handler = &D::OnBnClickedRdoEHdcpKey},
};

// About box, template 100.
constexpr DialogControl kAboutControls[] = {
    {.kind = K::Icon, .at = {14, 14, 21, 20}},
    {.kind = K::Label, .text = "Tovrin HID Tool, Version 1.0.7.3", .at = {42, 14, 114, 8}},
    {.id = 1, .kind = K::PushButton, .text = "OK", .at = {113, 41, 50, 14}, .style = kDefaultButton | kGroupStart},
};

constexpr DialogTemplate kMainDialog{
    .id = 102, .caption = "Tovrin HID tool", .width = 409, .height = 358, .pointSize = 8, .controls = kMainControls};
constexpr DialogTemplate kAboutBox{
    .id = 100, .caption = "About Sorvik HID Tool", .width = 170, .height = 62, .pointSize = 8, .controls = kAboutControls};

// Rounds a non-negative n * num / den to the nearest integer, as MulDiv does.
constexpr int MulDivRounded(int n, int num, int den) { return (n * num * 2 + den) / (den * 2); }

bool EndsWith(const std::string& s, std::string_view tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void TrimRight(std::string& s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
}

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMainDialog; }
const DialogTemplate& AboutBoxTemplate() { return kAboutBox; }

const DialogControl* FindControl(const DialogTemplate& dialog, int id) {
    auto it = std::ranges::find(dialog.controls, id, &DialogControl::id);
    return it == dialog.controls.end() ? nullptr : &*it;
}

bool HasTabStop(ControlKind kind) {
    switch (kind) {
    case K::Edit:
    case K::HexEdit:
    case K::PushButton:
    case K::CheckBox:
    case K::ComboBox:
        return true;
    default:
        return false;
    }
}

std::string DisplayText(const char* caption) {
    std::string out;
    for (const char* p = caption; *p != '\0'; ++p) {
        out += *p;
        if (p[0] == '&' && p[1] == '&') ++p;
    }
    return out;
}

std::string AccessibleNameFor(const DialogTemplate& dialog, const DialogControl& control) {
    switch (control.kind) {
    case K::PushButton:
    case K::RadioButton:
    case K::CheckBox:
    case K::GroupBox:
        return DisplayText(control.text);
    default:
        break;
    }
    auto label = std::ranges::find(dialog.controls, control.id, &DialogControl::labelFor);
    if (control.id == kStaticId || label == dialog.controls.end()) return {};
    std::string name = DisplayText(label->text);
    if (EndsWith(name, "0x")) name.resize(name.size() - 2);
    TrimRight(name);
    if (EndsWith(name, ":")) name.pop_back();
    TrimRight(name);
    return name;
}

DialogBaseUnits BaseUnitsFromFont(int widthOf52Letters, int fontHeight) {
    return {.x = (widthOf52Letters / 26 + 1) / 2, .y = fontHeight};
}

DialogRect DialogUnitsToPixels(DialogRect r, DialogBaseUnits base) {
    return {.x = MulDivRounded(r.x, base.x, 4),
            .y = MulDivRounded(r.y, base.y, 8),
            .width = MulDivRounded(r.width, base.x, 4),
            .height = MulDivRounded(r.height, base.y, 8)};
}

}  // namespace ui
