#include "ui/qt/app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resource lives in a static library, where nothing would pull its registration in.
static bool LoadIconResource() {
    Q_INIT_RESOURCE(app_icon);
    return true;
}

namespace uiqt {

QIcon MainIcon() {
    static const bool loaded = LoadIconResource();
    (void)loaded;
    QSvgRenderer renderer(QStringLiteral(":/icons/uvc_hid_tool.svg"));
    QIcon icon;
    if (!renderer.isValid()) return icon;
    // Rendered per size rather than scaled from one bitmap, so small sizes stay sharp.
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace uiqt
