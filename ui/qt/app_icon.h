// The application icon (resource 128): rendered from uvc_hid_tool.svg, compiled in as a Qt
// resource, so the program needs no file beside the executable. The package installs the
// same file into the icon theme for the desktop entry.
#pragma once

#include <QIcon>

namespace uiqt {
// The icon at the sizes the window system asks for; empty if the image cannot be read.
QIcon MainIcon();
}
