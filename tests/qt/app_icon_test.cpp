// The application icon, rendered from the SVG compiled into the program.
#include <gtest/gtest.h>

#include <QImage>

#include "ui/qt/app_icon.h"

namespace {

TEST(MainIcon, RendersTheDrawingAtEverySize) {
    const QIcon icon = uiqt::MainIcon();
    ASSERT_FALSE(icon.isNull()) << "the SVG resource did not load";
    for (int size : {16, 24, 32, 48, 64, 128}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
        const QImage image = icon.pixmap(size, size).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        // Points of the 32-unit drawing: outside everything, the board, the lens's
        // dark centre, the activity lamp.
        auto at = [&](double x, double y) {
            return image.pixelColor(static_cast<int>(x * size / 32), static_cast<int>(y * size / 32));
        };
        EXPECT_EQ(at(0.2, 0.2).alpha(), 0);
        EXPECT_EQ(at(6, 24), QColor(0x2b, 0x4a, 0x6f));
        EXPECT_EQ(at(13, 17), QColor(0x1b, 0x2a, 0x3a));
        EXPECT_EQ(at(23, 9), QColor(0x3c, 0xd0, 0x70));
    }
}

}  // namespace
