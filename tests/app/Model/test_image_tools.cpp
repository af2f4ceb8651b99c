// Image tools: turning and flipping pixels, the property builders, saving by extension, and the
// size arithmetic.

#include "Model/LMImageTools.h"

#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kpv;

namespace {

// 2 x 1 picture: red then green; 1 x 2: red above green.
QImage twoPixels(bool vertical)
{
    QImage image(vertical ? 1 : 2, vertical ? 2 : 1, QImage::Format_RGBA8888_Premultiplied);
    image.setPixel(0, 0, qRgba(255, 0, 0, 255));
    image.setPixel(vertical ? 0 : 1, vertical ? 1 : 0, qRgba(0, 255, 0, 255));
    return image;
}

QImage quadrants()
{
    // 4 x 4: top-left red, top-right green, bottom-left blue, bottom-right white.
    QImage image(4, 4, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            image.setPixel(x, y, y < 2 ? (x < 2 ? qRgba(255, 0, 0, 255) : qRgba(0, 255, 0, 255))
                                       : (x < 2 ? qRgba(0, 0, 255, 255) : qRgba(255, 255, 255, 255)));
    return image;
}

TEST(ImageToolsTurn, QuarterTurnsAndFlipsMovePixelsWhereTheScreenShowsThem)
{
    const QImage q = quadrants();
    // Clockwise quarter turn: the top-left corner goes to the top-right.
    const QImage cw = LMImageTools::imageRotatedByAngle(q, 90);
    ASSERT_EQ(cw.size(), QSize(4, 4));
    EXPECT_EQ(cw.pixel(3, 0), qRgba(255, 0, 0, 255));
    EXPECT_EQ(cw.pixel(0, 0), qRgba(0, 0, 255, 255));

    const QImage mirrored = LMImageTools::imageRotatedByAngle(q, LMImageRotateAngle(0, 180, 0));
    EXPECT_EQ(mirrored.pixel(0, 0), qRgba(0, 255, 0, 255));
    // Both flips together equal a half turn.
    const QImage both = LMImageTools::imageRotatedByAngle(q, LMImageRotateAngle(0, 180, 180));
    const QImage half = LMImageTools::imageRotatedByAngle(q, 180);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(both.pixel(x, y), half.pixel(x, y)) << x << "," << y;
}

TEST(ImageToolsTurn, SizesFollowTheTurnAndTheZeroAngleKeepsTheSamePicture)
{
    QImage image(100, 50, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::white);
    EXPECT_EQ(LMImageTools::imageRotatedByAngle(image, 90).size(), QSize(50, 100));
    EXPECT_EQ(LMImageTools::imageRotatedByAngle(image, 45).size(), QSize(106, 106));
    const QImage same = LMImageTools::imageRotatedByAngle(image, LMImageRotateAngle::zeroAngle());
    EXPECT_EQ(same.cacheKey(), image.cacheKey());
    EXPECT_EQ(LMImageTools::convertImage(image, 90, QSizeF(25, 50)).size(), QSize(25, 50));
    EXPECT_TRUE(LMImageTools::convertImage(QImage(), LMImageRotateAngle(), 1, 1).isNull());
    EXPECT_TRUE(LMImageTools::convertImage(image, LMImageRotateAngle(), 0, 1).isNull());
    EXPECT_EQ(LMImageTools::convertImage(twoPixels(false), 90, QSizeF(1, 2)).pixel(0, 0), qRgba(255, 0, 0, 255));
}

TEST(ImageToolsSave, TypeComesFromTheExtensionInAnyCase)
{
    QTemporaryDir dir;
    const QImage image = quadrants();
    EXPECT_TRUE(LMImageTools::saveImage(image, dir.filePath(QStringLiteral("a.JPG")), {}));
    auto source = ImageSource::createWithFile(dir.filePath(QStringLiteral("a.JPG")));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->type(), QStringLiteral("public.jpeg"));
    EXPECT_FALSE(LMImageTools::saveImage(image, dir.filePath(QStringLiteral("a.gif")), {}));
    EXPECT_FALSE(LMImageTools::saveImage(image, dir.filePath(QStringLiteral("noext")), {}));
    EXPECT_FALSE(LMImageTools::saveImage(QImage(), dir.filePath(QStringLiteral("b.png")), {}));
}

TEST(ImageToolsProperties, OrientationIsSetOnlyWhereItExistsAndDpiGoesToRootAndTiff)
{
    EXPECT_FALSE(LMImageTools::createPropertiesFrom(std::nullopt, 1).has_value());

    QVariantMap plain;
    plain.insert(QStringLiteral("Other"), 5);
    const QVariantMap untouched = *LMImageTools::createPropertiesFrom(plain, 1);
    EXPECT_FALSE(untouched.contains(kCGImagePropertyOrientation));

    QVariantMap tiff;
    tiff.insert(kCGImagePropertyTIFFOrientation, 6);
    QVariantMap props;
    props.insert(kCGImagePropertyOrientation, 6);
    props.insert(kCGImagePropertyTIFFDictionary, tiff);
    const QVariantMap upright = *LMImageTools::createPropertiesFrom(props, 1, 300);
    EXPECT_EQ(upright.value(kCGImagePropertyOrientation).toInt(), 1);
    const QVariantMap newTiff = upright.value(kCGImagePropertyTIFFDictionary).toMap();
    EXPECT_EQ(newTiff.value(kCGImagePropertyTIFFOrientation).toInt(), 1);
    EXPECT_DOUBLE_EQ(newTiff.value(kCGImagePropertyTIFFXResolution).toDouble(), 300);
    EXPECT_EQ(newTiff.value(kCGImagePropertyTIFFResolutionUnit).toInt(), 2);
    EXPECT_DOUBLE_EQ(upright.value(kCGImagePropertyDPIWidth).toDouble(), 300);
    EXPECT_FALSE(upright.contains(kCGImagePropertyIPTCDictionary));
    // The source stays as it was.
    EXPECT_EQ(props.value(kCGImagePropertyOrientation).toInt(), 6);
}

TEST(ImageToolsProperties, SaveParametersMergeCompressionAndQualityOnly)
{
    QVariantMap props;
    props.insert(kCGImagePropertyOrientation, 1);
    EXPECT_EQ(*LMImageTools::createPropertiesFrom(props, std::optional<QVariantMap>()), props);
    QVariantMap paramTiff;
    paramTiff.insert(kCGImagePropertyTIFFCompression, 5);
    paramTiff.insert(kCGImagePropertyTIFFMake, QStringLiteral("ignored"));
    QVariantMap params;
    params.insert(kCGImagePropertyTIFFDictionary, paramTiff);
    params.insert(kCGImageDestinationLossyCompressionQuality, 0.7);
    const QVariantMap merged = *LMImageTools::createPropertiesFrom(props, params);
    const QVariantMap tiff = merged.value(kCGImagePropertyTIFFDictionary).toMap();
    EXPECT_EQ(tiff.value(kCGImagePropertyTIFFCompression).toInt(), 5);
    EXPECT_FALSE(tiff.contains(kCGImagePropertyTIFFMake));
    EXPECT_DOUBLE_EQ(merged.value(kCGImageDestinationLossyCompressionQuality).toDouble(), 0.7);
}

struct ScalingRow {
    double sw, sh, dw, dh;
    int mode;
    double rw, rh;
};

TEST(ImageToolsSizes, ScalingModes)
{
    const ScalingRow rows[] = {
        {400, 300, 200, 200, 0, 200, 150}, {400, 300, 200, 200, 3, 200, 150}, {400, 300, 200, 200, 4, 266.6667, 200},
        {400, 300, 200, 200, 1, 200, 200}, {400, 300, 200, 200, 2, 400, 300}, {100, 50, 200, 200, 0, 100, 50},
        {100, 50, 200, 200, 3, 200, 100},  {100, 50, 0, 0, 3, 0, 0},           {100, 50, 200, 200, 9, 0, 0},
    };
    for (const ScalingRow& r : rows) {
        const QSizeF s = LMImageTools::calcScalingSize(QSizeF(r.sw, r.sh), QSizeF(r.dw, r.dh), r.mode);
        EXPECT_NEAR(s.width(), r.rw, 1e-3) << "mode " << r.mode;
        EXPECT_NEAR(s.height(), r.rh, 1e-3) << "mode " << r.mode;
    }
}

TEST(ImageToolsSizes, RotatedSizeAndFitComparison)
{
    const QSizeF turned = LMImageTools::calcRotatedSize(QSizeF(100, 50), 90);
    EXPECT_NEAR(turned.width(), 50, 1e-9);
    EXPECT_NEAR(turned.height(), 100, 1e-9);
    EXPECT_EQ(LMImageTools::compareImageWithSize(QSizeF(100, 50), 90, QSizeF(60, 120)), 0);
    EXPECT_EQ(LMImageTools::compareImageWithSize(QSizeF(100, 50), 90, QSizeF(40, 40)), 2);
    EXPECT_EQ(LMImageTools::compareImageWithSize(QSizeF(100, 50), 0, QSizeF(100, 80)), 1);
    // Quarter turns are exact, so a turned side can equal the fit size.
    for (int angle : {90, 270, -90, 450}) {
        EXPECT_EQ(LMImageTools::calcRotatedSize(QSizeF(100, 50), angle), QSizeF(50, 100)) << angle;
        EXPECT_EQ(LMImageTools::compareImageWithSize(QSizeF(100, 50), angle, QSizeF(50, 200)), 1) << angle;
    }
    EXPECT_EQ(LMImageTools::calcRotatedSize(QSizeF(333, 77), 180), QSizeF(333, 77));
}

}  // namespace
