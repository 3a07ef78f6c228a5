// The PNG the exported menu sends as an entry's icon.
#include "uPngEncoder.h"

#include <QImage>
#include <gtest/gtest.h>

// Menu icons go to the panel as PNG made by us with zlib: any reader gets the very
// pixels back, transparency included, plain areas and noise, small and large (a
// row longer than the smallest deflate window).
TEST(DesktopMenuIcons, MenuIconPngsDecodeToTheSamePixels) {
    // Noise: no repeats. Bands: runs along a row and rows repeated, also longer
    // than one match can say, and across a 300-pixel row.
    const auto Noise = [](int X, int Y) { return qRgba(X * 7 % 256, Y * 13 % 256, (X + Y) % 256, (X * Y) % 256); };
    const auto Bands = [](int X, int Y) { return X < 5 || Y % 9 == 0 ? qRgba(200, 10, 10, 128) : qRgba(0, 0, 0, 0); };
    for (const QSize Size : {QSize(16, 16), QSize(300, 120), QSize(1, 1)}) {
        for (const bool Plain : {false, true}) {
            QImage Picture(Size, QImage::Format_ARGB32);
            for (int Y = 0; Y < Size.height(); ++Y)
                for (int X = 0; X < Size.width(); ++X)
                    Picture.setPixel(X, Y, Plain ? Bands(X, Y) : Noise(X, Y));
            const QByteArray Png = MenuIconPng(Picture);
            const QImage Back = QImage::fromData(Png, "PNG");
            ASSERT_FALSE(Back.isNull()) << Size.width() << Plain;
            EXPECT_EQ(Back.convertToFormat(QImage::Format_ARGB32), Picture) << Size.width() << Plain;
            if (Plain && Size.width() == 16) {
                EXPECT_LT(Png.size(), 200); // a kilobyte of pixels
            }
        }
    }
    EXPECT_TRUE(MenuIconPng(QImage()).isEmpty());
}
