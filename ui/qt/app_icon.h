// The application icon (resource 128): drawn here rather than loaded from an image file,
// so the program needs no image plugin and no file beside the executable.
#pragma once

#include <QIcon>

namespace uiqt {
QIcon MainIcon();
}
