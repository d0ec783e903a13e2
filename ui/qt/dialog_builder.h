// Builds a window's controls from a dialog template: one widget per row, placed in pixels
// converted from dialog units with the dialog font's base units, in the template's order
// (so Qt's focus chain is the template's Tab order).
#pragma once

#include <QFont>

#include <map>

#include "ui/dialog_template.h"

class QWidget;

namespace uiqt {

struct BuiltControl {
    const ui::DialogControl* row = nullptr;
    QWidget* widget = nullptr;
};

struct BuiltDialog {
    std::map<int, BuiltControl> byId;  // controls with an id
    ui::DialogBaseUnits base;
};

// The platform's default sans-serif font at the template's point size, standing in for
// the design's dialog font.
QFont DialogFont(int pointSize);
ui::DialogBaseUnits BaseUnitsOf(const QFont& font);

// Creates the controls as children of `window`, sets its font, caption and client size.
BuiltDialog BuildDialog(const ui::DialogTemplate& dialog, QWidget& window);

}  // namespace uiqt
