#include "ui/qt/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace uiqt {
namespace {

// A capture card: a dark board with a lens, a USB plug on its edge and a green
// activity lamp. Drawn on a 32-unit square and scaled to each size.
QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9a, 0xa4, 0xb0));
    p.drawRect(QRectF(26, 12, 5, 8));  // USB plug
    p.setBrush(QColor(0x2b, 0x4a, 0x6f));
    p.drawRoundedRect(QRectF(1, 5, 26, 22), 4, 4);  // board
    p.setBrush(QColor(0xe8, 0xee, 0xf4));
    p.drawEllipse(QPointF(12, 16), 7.5, 7.5);  // lens ring
    p.setBrush(QColor(0x1b, 0x2a, 0x3a));
    p.drawEllipse(QPointF(12, 16), 5, 5);
    p.setBrush(QColor(0x6f, 0xb7, 0xff));
    p.drawEllipse(QPointF(10.5, 14.5), 1.6, 1.6);  // glint
    p.setBrush(QColor(0x3c, 0xd0, 0x70));
    p.drawEllipse(QPointF(23, 9), 1.8, 1.8);  // lamp
    return pixmap;
}

}  // namespace

QIcon MainIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(DrawIcon(size));
    return icon;
}

}  // namespace uiqt
