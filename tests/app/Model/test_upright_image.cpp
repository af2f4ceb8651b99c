// The batch tools and crop mode turn stored pixels upright the same way the viewer's image does,
// for every EXIF orientation, without resampling or changing the pixel format.
#include <gtest/gtest.h>

#include "Model/LMImage.h"

namespace {

TEST(UprightImage, TurnsAndMirrorsStoredPixelsAsTheViewersImage)
{
    // 5 x 3 pixels, each telling where it came from; one translucent pixel keeps its exact value.
    QImage stored(5, 3, QImage::Format_RGBA8888);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            stored.setPixelColor(x, y, QColor(40 * x, 60 * y, 7, x == 4 && y == 2 ? 77 : 255));
    const auto infoFor = [](int orientation) {
        return std::make_shared<const LMFileImgBaseInfo>(LMPathString("/p/a.png", false), "public.png", 8, QDateTime(),
                                                         QSizeF(5, 3), orientation, QVariantMap());
    };
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const auto info = infoFor(orientation);
        const QImage upright = LMImage::uprightImage(stored, *info);
        const QImage viewers = LMImage(stored, info).convertToUprightImage();
        EXPECT_EQ(upright.size(), orientation >= 5 ? QSize(3, 5) : QSize(5, 3));
        EXPECT_EQ(upright.format(), stored.format());
        // The viewer's image holds premultiplied pixels.
        EXPECT_EQ(upright.convertToFormat(QImage::Format_RGBA8888_Premultiplied),
                  viewers.convertToFormat(QImage::Format_RGBA8888_Premultiplied));
        int translucent = 0;
        for (int y = 0; y < upright.height(); ++y)
            for (int x = 0; x < upright.width(); ++x)
                translucent += upright.pixelColor(x, y) == QColor(160, 120, 7, 77);
        EXPECT_EQ(translucent, 1);
    }
    EXPECT_TRUE(LMImage::uprightImage(QImage(), *infoFor(6)).isNull());
}

} // namespace
