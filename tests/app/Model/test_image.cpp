#include "Model/LMBitmap.h"
#include "Model/LMImage.h"

#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"
#include "imageio/Thumbnailer.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImageReader>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

LMFileImgBaseInfoPtr source(double rawWidth, double rawHeight, int64_t orientation = 1)
{
    return std::make_shared<LMFileImgBaseInfo>(LMPathString("/p/a.png", false), "public.png", 8, QDateTime::fromSecsSinceEpoch(1),
                                               QSizeF(rawWidth, rawHeight), orientation, QVariantMap());
}

// A w x h opaque image whose pixel (x, y) has red x and green y, so every pixel tells where it came from.
QImage coordinateImage(int w, int h)
{
    QImage img(w, h, QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, QColor(x, y, 0));
    return img;
}

TEST(RawBitmap, LayoutAndRefusedSizes)
{
    LMBitmap b(LMBitmap::kPixelArrayFormatRGBA, 3, 2);
    ASSERT_TRUE(b.isValid());
    EXPECT_EQ(b.bytesPerRow(), 12u);
    EXPECT_EQ(b.bitsPerPixel(), 32u);
    EXPECT_EQ(b.bitmapInfo(), 1u);
    EXPECT_EQ(b.bitmap()->lPitch[0], 12);
    EXPECT_EQ(b.bitmap()->pPlane[0], b.dataBits()->bytes());
    EXPECT_EQ(b.bitmap()->pPlane[1], nullptr);
    EXPECT_EQ(b.dataBits()->length(), 24u);
    EXPECT_EQ(LMBitmap::pixelArrayFormatFromCGBitmapInfo(0x2002), 0x37001777u);
    EXPECT_EQ(LMBitmap::pixelArrayFormatToCGBitmapInfo(0x16000777), 1u);

    // Sizes whose byte count does not fit, non-positive sizes and blocks too small give no plane.
    EXPECT_FALSE(LMBitmap(LMBitmap::kPixelArrayFormatRGBA, 0, 5).isValid());
    EXPECT_FALSE(LMBitmap(LMBitmap::kPixelArrayFormatRGBA, -3, 5).isValid());
    EXPECT_FALSE(LMBitmap(LMBitmap::kPixelArrayFormatRGBA, std::numeric_limits<int64_t>::max() / 2, 3).isValid());
    EXPECT_FALSE(LMBitmap(LMBitmap::kPixelArrayFormatRGBA, 4, 4, LMData::create(63)).isValid());
    auto block = LMData::create(64);
    LMBitmap over(LMBitmap::kPixelArrayFormatRGBA, 4, 4, block);
    ASSERT_TRUE(over.isValid());
    EXPECT_EQ(over.bitmap()->pPlane[0], block->bytes()); // the given block, not a copy
    EXPECT_EQ(LMBitmap::initEmptyBitmapWithPixelArrayFormat(LMBitmap::kPixelArrayFormatRGBA, 2, 2)->dataBits()->length(), 16u);
}

TEST(DecodedImage, FramesArePremultipliedAndShared)
{
    QImage src(2, 1, QImage::Format_RGBA8888);
    src.setPixelColor(0, 0, QColor(255, 0, 0, 128));
    src.setPixelColor(1, 0, QColor(0, 0, 0, 0));
    const LMImage img(src, source(8, 4));
    ASSERT_EQ(img.frameDatas().size(), 1);
    const uint8_t *px = img.frameDatas()[0]->bytes();
    EXPECT_EQ(px[0], 128);
    EXPECT_EQ(px[1], 0);
    EXPECT_EQ(px[3], 128);
    EXPECT_EQ(std::memcmp(px + 4, "\0\0\0\0", 4), 0);
    EXPECT_EQ(img.bytesPerRow(), 8u);
    EXPECT_EQ(img.bitmapInfo(), 1u);
    EXPECT_DOUBLE_EQ(img.scaleOfOriginal(), 0.25);

    // Wrapping for display and for the codec library reads the same bytes, not copies.
    const QImage shown = img.convertToImage();
    EXPECT_EQ(shown.constBits(), px);
    EXPECT_EQ(shown.pixelColor(0, 0).alpha(), 128);
    const auto bitmap = img.preferredBitmap();
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->bitmap()->pPlane[0], px);

    // The shown image keeps the pixels alive after the decoded image is gone.
    QImage survivor;
    {
        const LMImage temp(coordinateImage(3, 3), source(3, 3));
        survivor = temp.convertToImage();
    }
    EXPECT_EQ(survivor.pixelColor(2, 1), QColor(2, 1, 0));
}

TEST(DecodedImage, DecodedPictureIsKeptWithoutACopy)
{
    // A decoder's premultiplied picture becomes the frame itself: one set of pixels, not two.
    QImage decoded = coordinateImage(5, 4).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const uchar *pixels = decoded.constBits();
    auto bitmap = LMImage::createImageBitmapByImageRef(decoded, source(5, 4));
    ASSERT_TRUE(bitmap && bitmap->isValid());
    EXPECT_EQ(bitmap->bitmap()->pPlane[0], pixels);
    EXPECT_EQ(bitmap->dataBits()->length(), 80u);
    // The frame outlives the decoder's picture.
    decoded = QImage();
    EXPECT_EQ(bitmap->dataBits()->bytes()[(1 * 5 + 3) * 4], 3);
    EXPECT_EQ(bitmap->dataBits()->bytes()[(1 * 5 + 3) * 4 + 1], 1);

    // Rows with padding (a one-pixel-wide RGB picture) are copied into the bitmap's own layout.
    QImage rgb(1, 2, QImage::Format_RGB888);
    rgb.setPixelColor(0, 1, QColor(9, 8, 7));
    auto copied = LMImage::createImageBitmapByImageRef(rgb, source(1, 2));
    ASSERT_TRUE(copied && copied->isValid());
    EXPECT_EQ(copied->bytesPerRow(), 4u);
    EXPECT_EQ(std::memcmp(copied->dataBits()->bytes() + 4, "\x09\x08\x07\xff", 4), 0);

    // A block over someone else's bytes needs both the bytes and their owner.
    EXPECT_FALSE(LMData::createWithOwner(nullptr, 4, std::make_shared<int>(0)));
    uint8_t four[4] = {};
    EXPECT_FALSE(LMData::createWithOwner(four, 4, nullptr));
}

TEST(DecodedImage, PremultipliesLikeAFloatModel)
{
    // Random straight-alpha pixels against c * a / 255, rounded: within one step.
    QImage src(64, 16, QImage::Format_RGBA8888);
    uint32_t seed = 12345;
    auto next = [&seed] { seed = seed * 1664525u + 1013904223u; return int(seed >> 24); };
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            src.setPixelColor(x, y, QColor(next(), next(), next(), next()));
    const LMImage img(src, source(64, 16));
    ASSERT_EQ(img.frameDatas().size(), 1);
    const uint8_t *px = img.frameDatas()[0]->bytes();
    for (int y = 0; y < src.height(); ++y) {
        for (int x = 0; x < src.width(); ++x) {
            const QColor c = src.pixelColor(x, y);
            const uint8_t *p = px + (y * 64 + x) * 4;
            const int model[4] = {int(std::lround(c.red() * c.alpha() / 255.0)), int(std::lround(c.green() * c.alpha() / 255.0)),
                                  int(std::lround(c.blue() * c.alpha() / 255.0)), c.alpha()};
            for (int k = 0; k < 4; ++k)
                ASSERT_LE(std::abs(int(p[k]) - model[k]), 1) << x << "," << y << " channel " << k;
        }
    }
}

TEST(DecodedImage, EmptyAndDamagedImagesAnswerNothing)
{
    const LMImage empty(QList<std::shared_ptr<LMBitmap>>{}, source(1, 1));
    EXPECT_EQ(empty.width(), 0u);
    EXPECT_TRUE(empty.frameDatas().isEmpty());
    EXPECT_EQ(empty.originalImgBaseInfo(), nullptr);
    EXPECT_TRUE(empty.convertToImage().isNull());
    EXPECT_TRUE(empty.cropImage(QRectF(0, 0, 1, 1)).isNull());
    EXPECT_EQ(empty.preferredBitmap(), nullptr);
    EXPECT_EQ(empty.scaleOfOriginal(), 0);
    EXPECT_TRUE(LMImage(QImage(), source(1, 1)).frameDatas().isEmpty());

    // A frame shorter than its layout claims is never read past its end.
    const LMImage shortFrame(1, 32, 40, 10, 10, {LMData::create(399)}, source(10, 10));
    EXPECT_TRUE(shortFrame.convertToImage().isNull());
    EXPECT_TRUE(shortFrame.cropImage(QRectF(0, 0, 10, 10)).isNull());
    EXPECT_EQ(shortFrame.preferredBitmap(), nullptr);
    const LMImage narrowRows(1, 32, 16, 10, 1, {LMData::create(400)}, source(10, 1));
    EXPECT_TRUE(narrowRows.convertToImage().isNull());
    const LMImage oddDepth(1, 48, 60, 10, 1, {LMData::create(60)}, source(10, 1));
    EXPECT_TRUE(oddDepth.convertToImage().isNull());

    // Bitmaps of different sizes cannot be frames of one image.
    auto a = LMBitmap::initEmptyBitmapWithPixelArrayFormat(LMBitmap::kPixelArrayFormatRGBA, 2, 2);
    auto b = LMBitmap::initEmptyBitmapWithPixelArrayFormat(LMBitmap::kPixelArrayFormatRGBA, 3, 2);
    EXPECT_TRUE(LMImage(QList<std::shared_ptr<LMBitmap>>{a, b}, source(2, 2)).frameDatas().isEmpty());
    EXPECT_EQ(LMImage(QList<std::shared_ptr<LMBitmap>>{a, a}, source(2, 2)).frameDatas().size(), 2);
}

TEST(DecodedImage, CropClipsToTheImage)
{
    const LMImage img(coordinateImage(100, 100), source(100, 100));
    const QImage corner = img.cropImage(QRectF(-10, -10, 20, 20));
    ASSERT_EQ(corner.size(), QSize(10, 10));
    EXPECT_EQ(corner.pixelColor(9, 9), QColor(9, 9, 0));
    EXPECT_TRUE(img.cropImage(QRectF(200, 200, 5, 5)).isNull());
    const QImage inner = img.cropImage(QRectF(30.5, 40.2, 5.9, 3));
    ASSERT_EQ(inner.size(), QSize(5, 3));
    EXPECT_EQ(inner.pixelColor(0, 0), QColor(30, 40, 0));
    const QImage edge = img.cropImage(QRectF(95.5, 95.5, 10, 10));
    EXPECT_LE(edge.width(), 5);
    EXPECT_EQ(edge.pixelColor(0, 0), QColor(95, 95, 0));
    // Coordinates that are not finite numbers crop nothing (and convert nothing to pixels).
    const double nan = std::nan(""), inf = HUGE_VAL;
    EXPECT_TRUE(img.cropImage(QRectF(nan, 0, 10, 10)).isNull());
    EXPECT_TRUE(img.cropImage(QRectF(0, 0, nan, nan)).isNull());
    EXPECT_TRUE(img.cropImage(QRectF(-inf, -inf, inf, inf)).isNull());
}

// Where stored pixel (x, y) of a w x h image lands when shown, for each EXIF orientation, written
// from the orientation's definition (row 0 / column 0 placement), independently of the code.
QPoint displayed(int orientation, int x, int y, int w, int h)
{
    switch (orientation) {
    case 2: return {w - 1 - x, y};          // mirrored left-right
    case 3: return {w - 1 - x, h - 1 - y};  // turned 180
    case 4: return {x, h - 1 - y};          // mirrored top-bottom
    case 5: return {y, x};                  // transposed
    case 6: return {h - 1 - y, x};          // turned 90 clockwise
    case 7: return {h - 1 - y, w - 1 - x};  // transversed
    case 8: return {y, w - 1 - x};          // turned 90 counter-clockwise
    default: return {x, y};
    }
}

TEST(DecodedImage, UprightImageAppliesTurnAndMirror)
{
    // Pixels stored wide and stored tall: the tag alone decides the turn.
    for (const auto [w, h] : {std::pair{5, 3}, std::pair{3, 5}})
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << " orientation " << orientation);
        const LMImage img(coordinateImage(w, h), source(w, h, orientation));
        const QImage upright = img.convertToUprightImage();
        const bool quarter = orientation >= 5;
        ASSERT_EQ(upright.size(), quarter ? QSize(h, w) : QSize(w, h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                EXPECT_EQ(upright.pixelColor(displayed(orientation, x, y, w, h)), QColor(x, y, 0)) << x << "," << y;
    }
}

// Every road a photo takes to the screen turns it by the same rule: the viewer's (stored pixels
// turned upright by the file's description, as the view, crop, batch copies and share pictures
// do), the grids' thumbnails and the decoder that the 3D slideshow and printing use. Files of all
// eight orientations, stored wide and stored tall, each with its top-left quarter red; the red
// quarter must land where the orientation puts the stored top-left corner.
TEST(DecodedImage, EveryRoadTurnsAFileTheSameWay)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kpv::Thumbnailer::setCacheDirectoryForTesting(dir.filePath(QStringLiteral("cache")));
    for (const QSize stored : {QSize(64, 32), QSize(32, 64)}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << stored.width() << "x" << stored.height() << " orientation " << orientation);
            QImage picture(stored, QImage::Format_RGB32);
            picture.fill(Qt::white);
            for (int y = 0; y < stored.height() / 2; ++y)
                for (int x = 0; x < stored.width() / 2; ++x)
                    picture.setPixelColor(x, y, Qt::red);
            const QString path = dir.filePath(QStringLiteral("o%1-%2.jpg").arg(orientation).arg(stored.width()));
            ASSERT_TRUE(kpv::ImageDestination::writeImage(picture, path, QStringLiteral("public.jpeg"),
                                                          {{kpv::kCGImagePropertyOrientation, orientation},
                                                           {kpv::kCGImageDestinationLossyCompressionQuality, 1.0}}));
            // Where the red quarter's centre must be, as a fraction of the upright picture.
            const QPoint corner = displayed(orientation, 0, 0, 2, 2);
            const QPointF expected(corner.x() == 0 ? 0.25 : 0.75, corner.y() == 0 ? 0.25 : 0.75);
            auto redAt = [&](const QImage& upright, const char* road) {
                ASSERT_FALSE(upright.isNull()) << road;
                const QSize shown = orientation >= 5 ? stored.transposed() : stored;
                EXPECT_EQ(upright.width() * shown.height(), upright.height() * shown.width()) << road << " has the wrong shape";
                const QColor c = upright.pixelColor(int(expected.x() * upright.width()), int(expected.y() * upright.height()));
                EXPECT_TRUE(c.red() > 200 && c.green() < 60) << road << ": no red where the stored corner belongs";
            };

            const auto source = kpv::ImageSource::createWithFile(path);
            ASSERT_TRUE(source);
            const QVariantMap properties = source->propertiesAtIndex(0);
            const LMFileImgBaseInfo base(LMPathString(path, false), QStringLiteral("public.jpeg"), 2, QDateTime(), QSizeF(stored),
                                         properties.value(kpv::kCGImagePropertyOrientation, 1).toLongLong(), properties);
            ASSERT_NO_FATAL_FAILURE(redAt(LMImage::uprightImage(source->createImageAtIndex(0), base), "the viewer"));
            ASSERT_NO_FATAL_FAILURE(redAt(kpv::Thumbnailer::uprightThumbnail(path, 64), "the grid"));
            QImageReader reader(path);
            reader.setAutoTransform(true);
            ASSERT_NO_FATAL_FAILURE(redAt(reader.read(), "the decoder of slideshows and printing"));
        }
    }
    kpv::Thumbnailer::setCacheDirectoryForTesting(QString());
}

} // namespace
