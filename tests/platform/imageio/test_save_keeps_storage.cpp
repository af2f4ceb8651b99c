// A photo turned and written over itself keeps how its file stored it: grey stays grey, an alpha
// channel stays, a compressed file stays as compact, and the written pixels are the ones shown.

#include "imageio_support.h"

#include "imageio/ContentTypes.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTransform>

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

namespace {

using kpv::ImageDestination;
using kpv::ImageSource;
using namespace kpv::test;

class KeepStorage : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // What the viewer does with a turn saved in place: read the file's properties and pixels,
    // turn the pixels a quarter clockwise, write them over the file with orientation 1 and the
    // file's own metadata. Returns the turned pixels, as shown.
    QImage turnAndSaveInPlace(const QString& path, const QString& type)
    {
        QString error;
        auto source = ImageSource::createWithFile(path, &error);
        EXPECT_TRUE(source) << error.toStdString();
        if (!source)
            return {};
        QVariantMap props = source->propertiesAtIndex(0);
        props.insert(kpv::kCGImagePropertyOrientation, 1);
        const QImage shown = source->createImageAtIndex(0, &error).transformed(QTransform().rotate(90));
        source.reset();
        kpv::ImageWriteOptions options;
        options.metadataSourcePath = path;
        options.replaceOnly = kpv::fileIdentity(path);
        EXPECT_TRUE(ImageDestination::writeImage(shown, path, type, props, &error, options)) << error.toStdString();
        return shown;
    }

    // The file's pixels as the viewer decodes them.
    static QImage decoded(const QString& path)
    {
        QString error;
        auto source = ImageSource::createWithFile(path, &error);
        return source ? source->createImageAtIndex(0, &error) : QImage();
    }

    static QByteArray fileBytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static uint16_t tiffField(const QString& path, uint32_t tag)
    {
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
        if (!tif)
            return 0;
        uint16_t value = 0;
        TIFFGetFieldDefaulted(tif, tag, &value);
        TIFFClose(tif);
        return value;
    }

    // A TIFF of `samples` samples a pixel (1 grey, 3 RGB, with one more for alpha) in `coding`.
    QString writeTiff(const char* name, const QImage& picture, int samples, uint16_t coding)
    {
        const QString path = dir.filePath(QString::fromLatin1(name));
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
        EXPECT_TRUE(tif);
        if (!tif)
            return path;
        const bool grey = samples <= 2, alpha = samples == 2 || samples == 4;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(picture.width()));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(picture.height()));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, coding);
        if (coding == COMPRESSION_JPEG && !grey && !alpha) {
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        } else {
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
        }
        if (alpha) {
            const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16u);
        const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
        std::vector<uchar> row(size_t(rgba.width()) * size_t(samples));
        for (int y = 0; y < rgba.height(); ++y) {
            const uchar* src = rgba.constScanLine(y);
            for (size_t x = 0; x < size_t(rgba.width()); ++x) {
                for (int c = 0; c < (grey ? 1 : 3); ++c)
                    row[x * size_t(samples) + size_t(c)] = src[4 * x + size_t(c)];
                if (alpha)
                    row[x * size_t(samples) + size_t(samples - 1)] = src[4 * x + 3];
            }
            EXPECT_EQ(TIFFWriteScanline(tif, row.data(), uint32_t(y), 0), 1);
        }
        TIFFClose(tif);
        return path;
    }

    QTemporaryDir dir;
};

// The pattern in grey levels.
QImage greyPattern(int width, int height)
{
    return pattern(width, height, false).convertToFormat(QImage::Format_Grayscale8);
}

// A grey JPEG, PNG or TIFF stays grey: one sample a pixel, not three, and the same levels.
TEST_F(KeepStorage, GreyPhotoStaysGrey)
{
    const QImage grey = greyPattern(64, 48);

    const QString jpeg = writeFile(dir, "grey.jpg", referenceJpeg(grey, 95, false, TJSAMP_GRAY));
    const QImage jpegShown = turnAndSaveInPlace(jpeg, kpv::ContentTypes::kJpeg);
    const QByteArray jpegBytes = fileBytes(jpeg);
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = -1, space = -1;
    ASSERT_EQ(tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(jpegBytes.constData()),
                                  static_cast<unsigned long>(jpegBytes.size()), &w, &h, &sub, &space),
              0);
    tjDestroy(tj);
    EXPECT_EQ(space, TJCS_GRAY);
    EXPECT_EQ(QSize(w, h), QSize(48, 64));
    EXPECT_LE(maxChannelDifference(decoded(jpeg), jpegShown), 6);

    QByteArray pngBytes;
    {
        QBuffer buffer(&pngBytes);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(QImageWriter(&buffer, "png").write(grey));
    }
    ASSERT_EQ(int(pngBytes.at(25)), 0) << "the source is a grey PNG";
    const QString png = writeFile(dir, "grey.png", pngBytes);
    const QImage pngShown = turnAndSaveInPlace(png, kpv::ContentTypes::kPng);
    EXPECT_EQ(int(fileBytes(png).at(25)), 0) << "PNG colour type";
    EXPECT_EQ(maxChannelDifference(decoded(png), pngShown), 0);

    const QString tiff = writeTiff("grey.tif", grey, 1, COMPRESSION_LZW);
    const QImage tiffShown = turnAndSaveInPlace(tiff, kpv::ContentTypes::kTiff);
    EXPECT_EQ(tiffField(tiff, TIFFTAG_SAMPLESPERPIXEL), 1);
    EXPECT_EQ(tiffField(tiff, TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(maxChannelDifference(decoded(tiff), tiffShown), 0);

    // A colour photo stays colour, even one whose pixels happen to be grey.
    const QString rgb = writeFile(dir, "rgb.png", referencePng(grey, false, false));
    turnAndSaveInPlace(rgb, kpv::ContentTypes::kPng);
    EXPECT_EQ(int(fileBytes(rgb).at(25)), 2) << "PNG colour type";
}

// An RGBA file keeps its alpha channel even when every pixel is opaque: the channel is the
// file's, and programs that paint into it later expect it there.
TEST_F(KeepStorage, AlphaChannelStaysWhenEveryPixelIsOpaque)
{
    const QImage opaque = pattern(64, 48, false);
    const QString png = writeFile(dir, "opaque.png", referencePng(opaque, true, false));
    const QImage pngShown = turnAndSaveInPlace(png, kpv::ContentTypes::kPng);
    EXPECT_EQ(int(fileBytes(png).at(25)), 6) << "PNG colour type";
    EXPECT_EQ(maxChannelDifference(decoded(png), pngShown), 0);

    const QString tiff = writeTiff("opaque.tif", opaque, 4, COMPRESSION_NONE);
    turnAndSaveInPlace(tiff, kpv::ContentTypes::kTiff);
    EXPECT_EQ(tiffField(tiff, TIFFTAG_SAMPLESPERPIXEL), 4);

    const QString grey = writeTiff("opaque-grey.tif", greyPattern(64, 48), 2, COMPRESSION_NONE);
    turnAndSaveInPlace(grey, kpv::ContentTypes::kTiff);
    EXPECT_EQ(tiffField(grey, TIFFTAG_SAMPLESPERPIXEL), 2);
    EXPECT_EQ(tiffField(grey, TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISBLACK);
}

// A JPEG-coded TIFF stays JPEG-coded (colour as luma and chroma, grey as grey), so a turned scan
// does not grow to many times its size; old-style JPEG is written as the current coding.
TEST_F(KeepStorage, JpegCodedTiffStaysJpegCoded)
{
    const QImage colour = pattern(256, 192, false);
    const QString tiff = writeTiff("scan.tif", colour, 3, COMPRESSION_JPEG);
    const QImage shown = turnAndSaveInPlace(tiff, kpv::ContentTypes::kTiff);
    EXPECT_EQ(tiffField(tiff, TIFFTAG_COMPRESSION), COMPRESSION_JPEG);
    EXPECT_EQ(tiffField(tiff, TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_YCBCR);
    EXPECT_LT(fileBytes(tiff).size(), 256 * 192 * 3 / 4);
    EXPECT_LE(maxChannelDifference(decoded(tiff), shown), 24);

    const QString grey = writeTiff("grey-scan.tif", greyPattern(256, 192), 1, COMPRESSION_JPEG);
    const QImage greyShown = turnAndSaveInPlace(grey, kpv::ContentTypes::kTiff);
    EXPECT_EQ(tiffField(grey, TIFFTAG_COMPRESSION), COMPRESSION_JPEG);
    EXPECT_EQ(tiffField(grey, TIFFTAG_SAMPLESPERPIXEL), 1);
    EXPECT_LE(maxChannelDifference(decoded(grey), greyShown), 24);
}

// The first quantisation table segment of a JPEG (JPEG B.2.4.1), bytes and all.
QByteArray firstQuantTables(const QByteArray& jpeg)
{
    const qsizetype at = jpeg.indexOf("\xFF\xDB");
    if (at < 0 || at + 4 > jpeg.size())
        return {};
    const int length = uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]);
    return jpeg.mid(at, length + 2);
}

// A JPEG that must be coded again (its edges are not whole blocks, so a turn cannot be done on
// its blocks) keeps its quality, its chroma resolution and its progressive scans.
TEST_F(KeepStorage, RecodedJpegKeepsQualitySamplingAndScans)
{
    const struct {
        int quality, sampling;
        bool progressive;
    } rows[] = {{70, TJSAMP_444, true}, {98, TJSAMP_422, false}, {50, TJSAMP_420, false}};
    for (const auto& row : rows) {
        const QByteArray original = referenceJpeg(pattern(61, 45, false), row.quality, row.progressive, row.sampling);
        const QString path = writeFile(dir, QStringLiteral("q%1.jpg").arg(row.quality), original);
        const QImage shown = turnAndSaveInPlace(path, kpv::ContentTypes::kJpeg);
        const QByteArray written = fileBytes(path);
        tjhandle tj = tjInitDecompress();
        int w = 0, h = 0, sub = -1, space = -1;
        ASSERT_EQ(tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(written.constData()),
                                      static_cast<unsigned long>(written.size()), &w, &h, &sub, &space),
                  0);
        tjDestroy(tj);
        EXPECT_EQ(QSize(w, h), QSize(45, 61));
        EXPECT_EQ(sub, row.sampling) << "quality " << row.quality;
        EXPECT_EQ(firstQuantTables(written), firstQuantTables(original)) << "quality " << row.quality;
        EXPECT_EQ(written.contains("\xFF\xC2"), row.progressive) << "quality " << row.quality;
        EXPECT_LE(maxChannelDifference(decoded(path), shown), row.quality < 60 ? 40 : 24);
    }
}

// A palette PNG stays palette indices at its own bit depth, an interlaced one stays interlaced,
// and a GIF saved as PNG keeps its palette; the pixels are the ones shown.
TEST_F(KeepStorage, PaletteAndInterlacedPngStaySo)
{
    QImage indexed(40, 30, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(200, 30, 30), qRgb(30, 200, 30), qRgb(30, 30, 200), qRgb(250, 250, 250)});
    for (int y = 0; y < indexed.height(); ++y)
        for (int x = 0; x < indexed.width(); ++x)
            indexed.setPixel(x, y, uint((x / 4 + y / 3) % 5));
    QByteArray pngBytes;
    {
        QBuffer buffer(&pngBytes);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(QImageWriter(&buffer, "png").write(indexed));
    }
    ASSERT_EQ(int(pngBytes.at(25)), 3) << "the source is a palette PNG";
    const int depth = pngBytes.at(24);
    const QString png = writeFile(dir, "palette.png", pngBytes);
    const QImage shown = turnAndSaveInPlace(png, kpv::ContentTypes::kPng);
    QByteArray written = fileBytes(png);
    EXPECT_EQ(int(written.at(25)), 3) << "PNG colour type";
    EXPECT_EQ(int(written.at(24)), depth) << "bits per index";
    EXPECT_EQ(maxChannelDifference(decoded(png), shown), 0);

    const QString interlaced = writeFile(dir, "adam7.png", referencePng(pattern(33, 21, true), true, true));
    const QImage interlacedShown = turnAndSaveInPlace(interlaced, kpv::ContentTypes::kPng);
    written = fileBytes(interlaced);
    EXPECT_EQ(int(written.at(28)), 1) << "interlace method";
    EXPECT_EQ(maxChannelDifference(decoded(interlaced), interlacedShown), 0);

    const std::vector<unsigned char> indices = {0, 1, 2, 3, 3, 2, 1, 0};
    const QString gif = writeFile(dir, "four.gif", referenceGif(4, 2, {{0, 0, 4, 2, 10, 0, -1, false, indices}}, 0));
    QString error;
    auto source = ImageSource::createWithFile(gif, &error);
    ASSERT_TRUE(source) << error.toStdString();
    const QString copy = dir.filePath(QStringLiteral("four.png"));
    kpv::ImageWriteOptions options;
    options.metadataSourcePath = gif;
    options.createNew = true;
    const QImage gifShown = source->createImageAtIndex(0, &error);
    ASSERT_TRUE(ImageDestination::writeImage(gifShown, copy, kpv::ContentTypes::kPng, source->propertiesAtIndex(0),
                                             &error, options))
        << error.toStdString();
    EXPECT_EQ(int(fileBytes(copy).at(25)), 3) << "PNG colour type";
    EXPECT_EQ(maxChannelDifference(decoded(copy), gifShown), 0);
}

// A CMYK JPEG of 8 x 8 blocks (a turn on its blocks keeps its inks).
QByteArray cmykJpeg(int width, int height)
{
    std::vector<unsigned char> inks(size_t(width) * size_t(height) * 4);
    for (size_t i = 0; i < inks.size(); ++i)
        inks[i] = uchar(i * 7 % 251);
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(tj, inks.data(), width, width * 4, height, TJPF_CMYK, &out, &size, TJSAMP_444, 90, 0);
    QByteArray bytes = rc == 0 ? QByteArray(reinterpret_cast<const char*>(out), qsizetype(size)) : QByteArray();
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

// A CMYK file whose rewrite would be coded from RGB is named before the user agrees to save over
// it: a TIFF always, a JPEG whose edges are not whole blocks (one that is keeps its inks).
TEST_F(KeepStorage, CmykFileIsNamedBeforeItsInksAreLost)
{
    const QString partial = writeFile(dir, "partial.jpg", cmykJpeg(61, 45));
    EXPECT_EQ(ImageDestination::contentLostByRewriting(partial),
              QStringList{QStringLiteral("its CMYK colours (they would be written as RGB)")});
    const QString whole = writeFile(dir, "whole.jpg", cmykJpeg(64, 48));
    EXPECT_TRUE(ImageDestination::contentLostByRewriting(whole).isEmpty());
    EXPECT_TRUE(ImageDestination::contentLostByRewriting(writeFile(dir, "rgb.jpg", referenceJpeg(pattern(61, 45, false), 90, false, TJSAMP_420)))
                    .isEmpty());

    const QString tiff = dir.filePath(QStringLiteral("inks.tif"));
    TIFF* tif = TIFFOpen(QFile::encodeName(tiff).constData(), "w");
    ASSERT_TRUE(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 8u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    std::vector<uchar> row(32, 0x40);
    for (uint32_t y = 0; y < 2; ++y)
        ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
    TIFFClose(tif);
    EXPECT_EQ(ImageDestination::contentLostByRewriting(tiff),
              QStringList{QStringLiteral("its CMYK colours (they would be written as RGB)")});
    EXPECT_TRUE(ImageDestination::contentLostByRewriting(writeTiff("rgb.tif", pattern(8, 2, false), 3, COMPRESSION_NONE))
                    .isEmpty());
}

// The whole chunk of `type` (length, type, data, CRC); empty when the file has none.
QByteArray pngChunkOf(const QByteArray& png, const char* type)
{
    const qsizetype at = png.indexOf(type);
    if (at < 4)
        return {};
    const qsizetype length = qsizetype(uchar(png[at - 4])) << 24 | uchar(png[at - 3]) << 16 | uchar(png[at - 2]) << 8 |
                             uchar(png[at - 1]);
    return png.mid(at - 4, length + 12);
}

// A PNG turned and saved keeps its gamma and chromaticities, before its image data: without them
// a colour-managing program draws the turned photo lighter than it was.
TEST_F(KeepStorage, PngKeepsItsGammaAndChromaticities)
{
    const QByteArray original = referencePng(pattern(40, 30, false), false, false, {}, true);
    ASSERT_FALSE(pngChunkOf(original, "gAMA").isEmpty());
    const QString path = writeFile(dir, "gamma.png", original);
    turnAndSaveInPlace(path, kpv::ContentTypes::kPng);
    const QByteArray written = fileBytes(path);
    for (const char* type : {"gAMA", "cHRM"}) {
        EXPECT_EQ(pngChunkOf(written, type), pngChunkOf(original, type)) << type;
        EXPECT_LT(written.indexOf(type), written.indexOf("IDAT")) << type;
    }
    EXPECT_EQ(written.count("gAMA"), 1);
}

// A black and white page: a box and stripes, one bit a pixel when stored (1 is white).
std::vector<uchar> bilevelRow(int width, int y)
{
    std::vector<uchar> row((size_t(width) + 7) / 8, 0);
    for (int x = 0; x < width; ++x)
        if ((x / 3 + y / 2) % 2 == 0 || (x > 10 && x < 20 && y > 5 && y < 15))
            row[size_t(x) / 8] |= uchar(0x80 >> (x % 8));
    return row;
}

// A black and white scan stays one bit a pixel: a fax-coded TIFF stays fax-coded (not grey bytes
// many times its size), and a one-bit grey PNG stays one bit.
TEST_F(KeepStorage, BlackAndWhiteScanStaysOneBit)
{
    const int width = 45, height = 30;
    const QString tiff = dir.filePath(QStringLiteral("fax.tif"));
    TIFF* tif = TIFFOpen(QFile::encodeName(tiff).constData(), "w");
    ASSERT_TRUE(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    for (int y = 0; y < height; ++y) {
        std::vector<uchar> row = bilevelRow(width, y);
        ASSERT_EQ(TIFFWriteScanline(tif, row.data(), uint32_t(y), 0), 1);
    }
    TIFFClose(tif);
    const QImage shown = turnAndSaveInPlace(tiff, kpv::ContentTypes::kTiff);
    EXPECT_EQ(tiffField(tiff, TIFFTAG_BITSPERSAMPLE), 1);
    EXPECT_EQ(tiffField(tiff, TIFFTAG_COMPRESSION), COMPRESSION_CCITTFAX4);
    EXPECT_EQ(maxChannelDifference(decoded(tiff), shown), 0);

    QByteArray pngBytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &pngBytes,
        [](png_structp p, png_bytep d, png_size_t n) {
            static_cast<QByteArray*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(d), qsizetype(n));
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        std::vector<uchar> row = bilevelRow(width, y);
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    const QString pngPath = writeFile(dir, "scan.png", pngBytes);
    const QImage pngShown = turnAndSaveInPlace(pngPath, kpv::ContentTypes::kPng);
    const QByteArray written = fileBytes(pngPath);
    EXPECT_EQ(int(written.at(24)), 1) << "bits per sample";
    EXPECT_EQ(int(written.at(25)), 0) << "PNG colour type";
    EXPECT_EQ(maxChannelDifference(decoded(pngPath), pngShown), 0);
}

}  // namespace
