// Parts of a picture decoded alone, as a zoomed-in view asks for them: against the reference
// decoder at every reduction, on the edges of the picture, for files of other formats, and for
// panoramas whose whole decode the budget refuses.

#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"
#include "imageio_support.h"
#include "../../support/LargePictures.h"
#include "../../support/PagesTiff.h"
#include "../../../platform/imageio/src/JpegResumeIndex.h"

#include <openjpeg.h>
#include <tiffio.h>
#include <turbojpeg.h>
#include <webp/encode.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

using namespace kpv;
using namespace kpv::test;

namespace {

// The whole picture at a reduction by the reference library's own scaling, cropped to `rect`.
QImage turboPart(const QByteArray &jpeg, const QRect &rect, int reduction)
{
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, cs = 0;
    tjDecompressHeader3(tj, reinterpret_cast<const unsigned char *>(jpeg.constData()), jpeg.size(), &w, &h, &sub, &cs);
    const int sw = (w + reduction - 1) / reduction, sh = (h + reduction - 1) / reduction;
    QImage out(sw, sh, QImage::Format_RGBA8888);
    tjDecompress2(tj, reinterpret_cast<const unsigned char *>(jpeg.constData()), jpeg.size(), out.bits(), sw,
                  int(out.bytesPerLine()), sh, TJPF_RGBA, TJFLAG_ACCURATEDCT);
    tjDestroy(tj);
    return out.copy(rect);
}

// `rect` of `whole` reduced by blocks of reduction x reduction averaged, those on the right and
// bottom edges with the pixels they have.
QImage boxPart(const QImage &whole, const QRect &rect, int reduction)
{
    QImage expected(rect.size(), QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < rect.height(); ++y)
        for (int x = 0; x < rect.width(); ++x) {
            int sum[4] = {0, 0, 0, 0}, n = 0;
            for (int dy = 0; dy < reduction; ++dy)
                for (int dx = 0; dx < reduction; ++dx) {
                    const int wx = (rect.x() + x) * reduction + dx, wy = (rect.y() + y) * reduction + dy;
                    if (wx >= whole.width() || wy >= whole.height())
                        continue;
                    const uchar *p = whole.constScanLine(wy) + wx * 4;
                    for (int c = 0; c < 4; ++c)
                        sum[c] += p[c];
                    ++n;
                }
            uchar *o = expected.scanLine(y) + x * 4;
            for (int c = 0; c < 4; ++c)
                o[c] = uchar((sum[c] + n / 2) / n);
        }
    return expected;
}

// A JPEG 2000 file of 8-bit components decoded whole by its library at a resolution level, the
// components taken as they come (RGB, or RGBA with the fourth), premultiplied.
QImage libraryLevel(const QString &path, int level)
{
    opj_codec_t *codec = opj_create_decompress(OPJ_CODEC_JP2);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    params.cp_reduce = OPJ_UINT32(level);
    opj_stream_t *stream = opj_stream_create_default_file_stream(QFile::encodeName(path).constData(), OPJ_TRUE);
    opj_image_t *image = nullptr;
    QImage out;
    if (opj_setup_decoder(codec, &params) && opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) &&
        image->numcomps >= 3) {
        const opj_image_comp_t *c = image->comps;
        out = QImage(int(c[0].w), int(c[0].h), QImage::Format_RGBA8888);
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x)
                for (int k = 0; k < 4; ++k)
                    out.scanLine(y)[x * 4 + k] =
                        uchar(k < int(image->numcomps) ? c[k].data[size_t(y) * c[k].w + size_t(x)] : 255);
    }
    if (image)
        opj_image_destroy(image);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    return out.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

// Encodes `image` with `cp` into a file of the code-stream or file format `format`, and frees it.
bool encodeToFile(const QString &path, OPJ_CODEC_FORMAT format, opj_cparameters_t *cp, opj_image_t *image)
{
    opj_codec_t *codec = opj_create_compress(format);
    opj_stream_t *stream = opj_stream_create_default_file_stream(QFile::encodeName(path).constData(), OPJ_FALSE);
    const bool ok = opj_setup_encoder(codec, cp, image) && opj_start_compress(codec, image, stream) &&
                    opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    return ok;
}

// A small JPEG 2000 of luma and chroma, the chroma at half the resolution each way, placed at
// (3, 1) of the code-stream's grid.
bool writeSubsampledJp2(const QString &path, int width, int height)
{
    opj_image_cmptparm_t params[3] = {};
    for (int c = 0; c < 3; ++c) {
        const OPJ_UINT32 d = c == 0 ? 1 : 2;
        params[c].dx = params[c].dy = d;
        params[c].x0 = (3 + d - 1) / d;
        params[c].y0 = (1 + d - 1) / d;
        params[c].w = (3 + OPJ_UINT32(width) + d - 1) / d - params[c].x0;
        params[c].h = (1 + OPJ_UINT32(height) + d - 1) / d - params[c].y0;
        params[c].prec = 8;
    }
    opj_image_t *image = opj_image_create(3, params, OPJ_CLRSPC_SYCC);
    image->x0 = 3;
    image->y0 = 1;
    image->x1 = 3 + OPJ_UINT32(width);
    image->y1 = 1 + OPJ_UINT32(height);
    for (int c = 0; c < 3; ++c)
        for (OPJ_UINT32 y = 0; y < image->comps[c].h; ++y)
            for (OPJ_UINT32 x = 0; x < image->comps[c].w; ++x)
                image->comps[c].data[y * image->comps[c].w + x] = OPJ_INT32((x * 7 + y * 3 + c * 50 + ((x / 5 + y / 3) & 1) * 90) & 255);
    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.tcp_numlayers = 1;
    cp.cp_disto_alloc = 1;
    cp.irreversible = 1;
    cp.tcp_rates[0] = 8;
    cp.numresolution = 4;
    return encodeToFile(path, OPJ_CODEC_JP2, &cp, image);
}

TEST(ImageParts, JpegPartsMatchTheReferenceAtEveryReductionAndEdge)
{
    const QImage picture = pattern(1003, 707, false);
    for (const bool progressive : {false, true}) {
        const QByteArray jpeg = referenceJpeg(picture, 90, progressive, TJSAMP_420);
        QString error;
        const auto source = ImageSource::createWithData(jpeg, &error);
        ASSERT_TRUE(source) << error.toStdString();
        for (const int reduction : {1, 2, 4, 8}) {
            const QSize size = source->reducedFrameSize(0, reduction);
            ASSERT_EQ(size, QSize((1003 + reduction - 1) / reduction, (707 + reduction - 1) / reduction));
            // Inside, at odd places, on each edge and the whole picture.
            const std::vector<QRect> parts = {QRect(13, 7, 61, 45),
                                              QRect(size.width() - 37, 3, 37, 29),
                                              QRect(0, size.height() - 19, 53, 19),
                                              QRect(QPoint(0, 0), size)};
            for (const QRect &rect : parts) {
                const QImage part = source->createImageInRect(0, rect, reduction, &error);
                ASSERT_EQ(part.size(), rect.size()) << error.toStdString() << " reduction " << reduction;
                EXPECT_LE(meanLevelDifference(part, turboPart(jpeg, rect, reduction)), 1.0)
                    << "progressive " << progressive << " reduction " << reduction << " at " << rect.x() << ","
                    << rect.y();
            }
        }
        // A part outside the picture, an empty one and an unknown reduction are refused with a reason.
        for (const auto &[rect, reduction] : std::vector<std::pair<QRect, int>>{
                 {QRect(990, 0, 20, 20), 1}, {QRect(10, 10, 0, 5), 1}, {QRect(0, 0, 10, 10), 3}}) {
            error.clear();
            EXPECT_TRUE(source->createImageInRect(0, rect, reduction, &error).isNull());
            EXPECT_FALSE(error.isEmpty());
        }
    }
}

// Parts of a JPEG read from its resume index in every colour layout, on odd sizes and on the
// picture's edges: the reference's own decode of the same part at the same reduction, to a level
// on average and without a bias in any channel. Through the image source, which reads parts from
// the top until the index is made beside them, each part agrees with the reference either way.
TEST(ImageParts, IndexedJpegPartsAgreeWithTheReferenceInEveryLayout)
{
    QImage picture(517, 389, QImage::Format_RGBA8888);
    for (int y = 0; y < picture.height(); ++y) {
        uchar *p = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x, p += 4) {
            // Smooth colour with fine coloured detail, where chroma handling shows.
            const bool dot = ((x / 3) + (y / 2)) % 5 == 0;
            p[0] = uchar(dot ? 230 : 120 + 90 * std::sin(x * 0.04));
            p[1] = uchar(dot ? 30 : (x * 255) / picture.width());
            p[2] = uchar((y * 255) / picture.height());
            p[3] = 255;
        }
    }
    for (const int sampling : {TJSAMP_420, TJSAMP_422, TJSAMP_440, TJSAMP_444, TJSAMP_GRAY}) {
        const QByteArray jpeg = referenceJpeg(picture, 92, false, sampling);
        QString error;
        const auto source = ImageSource::createWithData(jpeg, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.constData());
        const auto index = imageio_detail::JpegResumeIndex::build(bytes, size_t(jpeg.size()));
        ASSERT_TRUE(index) << "sampling " << sampling;
        // The whole picture's decode (a photo shown fitted) makes the same index on its way, and
        // the parts asked for afterwards find it.
        ASSERT_FALSE(source->createImageAtIndex(0, &error).isNull()) << error.toStdString();
        const auto kept = imageio_detail::JpegResumeIndex::keptFor(bytes, size_t(jpeg.size()));
        ASSERT_TRUE(kept) << "sampling " << sampling;
        EXPECT_EQ(kept->bytes(), index->bytes());
        // Reduced parts with chroma halved one way only are left to the decode from the top.
        const bool halvedOneWay = sampling == TJSAMP_422 || sampling == TJSAMP_440;
        for (const int reduction : {1, 2, 4, 8}) {
            const QSize size = source->reducedFrameSize(0, reduction);
            const std::vector<QRect> parts = {QRect(size.width() / 3 + 1, size.height() / 2 - 1, size.width() / 4,
                                                    size.height() / 5),
                                              QRect(size.width() - 17, 0, 17, size.height() / 3),
                                              QRect(0, size.height() - 11, size.width(), 11),
                                              QRect(QPoint(0, 0), size)};
            for (const QRect &rect : parts) {
                SCOPED_TRACE(testing::Message() << "sampling " << sampling << " reduction " << reduction << " at "
                                                << rect.x() << "," << rect.y());
                const QImage want = turboPart(jpeg, rect, reduction);
                const QImage part = source->createImageInRect(0, rect, reduction, &error);
                EXPECT_LE(meanLevelDifference(part, want), 1.0) << error.toStdString();
                const QImage indexed = index->decodeRegion(bytes, size_t(jpeg.size()), rect, reduction, &error)
                                           .convertToFormat(QImage::Format_RGBA8888);
                ASSERT_EQ(indexed.isNull(), halvedOneWay && reduction > 1);
                EXPECT_EQ(kept->decodeRegion(bytes, size_t(jpeg.size()), rect, reduction, &error)
                              .convertToFormat(QImage::Format_RGBA8888),
                          indexed);
                if (indexed.isNull())
                    continue;
                // Over the pixels whose whole area lies in the picture: a part-covered one averages
                // the picture alone, the reference its padding too.
                double mean = 0, bias[3] = {0, 0, 0}, n = 0;
                int worst = 0;
                for (int y = 0; y < rect.height() && (rect.y() + y + 1) * reduction <= picture.height(); ++y)
                    for (int x = 0; x < rect.width() && (rect.x() + x + 1) * reduction <= picture.width(); ++x) {
                        for (int c = 0; c < 3; ++c) {
                            const int d =
                                int(indexed.constScanLine(y)[x * 4 + c]) - int(want.constScanLine(y)[x * 4 + c]);
                            mean += std::abs(d);
                            bias[c] += d;
                            worst = std::max(worst, std::abs(d));
                        }
                        n += 1;
                    }
                ASSERT_GT(n, 0);
                EXPECT_LE(mean / (3 * n), 0.6) << "largest " << worst;
                for (int c = 0; c < 3; ++c)
                    EXPECT_LE(std::abs(bias[c] / n), 0.25) << "channel " << c;
                EXPECT_LE(worst, 4);
            }
        }
    }
    // A progressive file has no resume points, nor has a file far too short for its frame.
    QByteArray shortFile = referenceJpeg(picture, 92, false, TJSAMP_420).left(2000);
    const qsizetype sof = shortFile.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    shortFile[sof + 5] = shortFile[sof + 7] = char(0xFF); // 65000-odd pixels a side
    for (const QByteArray &bytes : {referenceJpeg(picture, 92, true, TJSAMP_420), shortFile})
        EXPECT_FALSE(imageio_detail::JpegResumeIndex::build(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                                             size_t(bytes.size())))
            << bytes.size() << " bytes";
    // Nor is any kept for a file no whole decode has read, though of the same size as one.
    QByteArray other = referenceJpeg(picture, 92, false, TJSAMP_420);
    other[other.size() / 2] = char(other[other.size() / 2] ^ 0x10);
    EXPECT_FALSE(imageio_detail::JpegResumeIndex::keptFor(reinterpret_cast<const unsigned char *>(other.constData()),
                                                          size_t(other.size())));
}

// A PNG reads its rows down to the part only; an interlaced one, whose rows come in passes over
// the whole picture, is decoded whole. Both answer the whole decode's pixels, box-averaged when
// reduced.
TEST(ImageParts, PngPartsAnswerTheWholeDecodesPixels)
{
    const QImage picture = pattern(301, 203, true);
    for (const bool interlaced : {false, true}) {
        const auto source = ImageSource::createWithData(referencePng(picture, true, interlaced));
        ASSERT_TRUE(source);
        const QImage whole = source->createImageAtIndex(0);
        const QRect rect(17, 40, 100, 60);
        EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, rect, 1), whole.copy(rect)), 0);
        // Blocks of 4 x 4, those on the right and bottom edges with the pixels they have.
        const QRect reduced(50, 30, 26, 21);
        EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, reduced, 4), boxPart(whole, reduced, 4)), 0)
            << "interlaced " << interlaced;
    }
}

// Panoramas as large as a JPEG may be (65500 pixels a side at most), one whose whole decode
// exceeds the frame limit and the budget, and a wider PNG: each part costs the budget its own
// size only.
TEST(ImageParts, PanoramasBeyondTheBudgetDecodeInParts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    DecodeBudget &budget = DecodeBudget::shared();
    budget.resetPeak(); // what the tests before this one held is not counted
    for (const QSize size : {QSize(24000, 12000), QSize(65500, 2000)}) {
        const QString path = dir.filePath(QStringLiteral("pano.jpg"));
        ASSERT_TRUE(writeLargeJpeg(path, size.width(), size.height()));
        QString error;
        const auto source = ImageSource::createWithFile(path, &error);
        ASSERT_TRUE(source) << error.toStdString();
        if (size.width() == 24000)
            EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull()); // refused whole, with a reason
        const QRect rect(size.width() - 1700, size.height() / 2 - 333, 1600, 1000);
        const QRect inside = rect.intersected(QRect(QPoint(0, 0), size));
        const QImage part = source->createImageInRect(0, inside, 1, &error);
        ASSERT_EQ(part.size(), inside.size()) << error.toStdString();
        EXPECT_LE(meanLevelDifference(part, referenceJpegPart(path, inside, 1)), 1.0);
        const QRect reduced(501, 97, 700, 150);
        const QImage small = source->createImageInRect(0, reduced, 8, &error);
        EXPECT_LE(meanLevelDifference(small, referenceJpegPart(path, reduced, 8)), 1.0) << error.toStdString();
    }
    // Wider than any JPEG: a PNG panorama of 100,000 pixels, more than a frame may hold; fitted
    // and its parts exact.
    const QString png = dir.filePath(QStringLiteral("pano.png"));
    ASSERT_TRUE(writeLargePng(png, 100000, 3000));
    QString error;
    const auto source = ImageSource::createWithFile(png, &error);
    ASSERT_TRUE(source) << error.toStdString();
    EXPECT_EQ(source->createThumbnailAtIndex(0, 2000, true, &error).size(), QSize(2000, 60)) << error.toStdString();
    const QRect rect(98000, 900, 1600, 1000);
    EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, rect, 1, &error), largePicturePart(rect, 100000)), 0)
        << error.toStdString();
    EXPECT_LE(budget.peak(), budget.capacity());
    EXPECT_LT(budget.peak(), uint64_t(64) << 20); // the parts, not the pictures
}

// A TIFF in strips larger than the budget at full size (the view's test shows a tiled one):
// fitted and reduced, only the strips under the part are read, its pixels exactly the file's.
TEST(ImageParts, TiffsBeyondTheBudgetShowFittedAndInParts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage picture = pattern(2600, 1800, false);
    const QString path = dir.filePath(QStringLiteral("strips.tif"));
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_TRUE(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(picture.width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(picture.height()));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(4));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    const uint16_t extra = EXTRASAMPLE_ASSOCALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(64));
    for (int y = 0; y < picture.height(); ++y)
        ASSERT_EQ(TIFFWriteScanline(tif, const_cast<uchar *>(picture.constScanLine(y)), uint32_t(y), 0), 1);
    TIFFClose(tif);

    DecodeBudget &budget = DecodeBudget::shared();
    struct Restore {
        DecodeBudget &budget;
        uint64_t former;
        ~Restore() { budget.setCapacity(former); }
    } restore{budget, budget.setCapacity(12u << 20)};  // the whole picture takes 17.9 MB
    QString error;
    const auto source = ImageSource::createWithFile(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull());  // refused whole, with a reason
    budget.resetPeak();
    EXPECT_EQ(source->createThumbnailAtIndex(0, 400, true, &error).size(), QSize(400, 276)) << error.toStdString();
    const QRect rect(1000, 700, 300, 200), edge(500, 300, 150, 150);
    EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, rect, 1, &error), picture.copy(rect)), 0);
    EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, edge, 4, &error), boxPart(picture, edge, 4)), 0);
    EXPECT_LT(budget.peak(), uint64_t(8) << 20);  // the parts, not the picture
}

// A one-page TIFF written by the library: `samples` of `bits` each, `extra` alpha (0 for none),
// coded with `compression` in strips of `rowsPerStrip`; `row` fills each stored row.
bool writeTiff(const QString &path, uint32_t width, uint32_t height, uint16_t samples, uint16_t bits,
               uint16_t photometric, uint16_t extra, uint16_t compression, uint32_t rowsPerStrip,
               const std::function<void(uint32_t, std::vector<uchar> &)> &row)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (extra)
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    std::vector<uchar> bytes(size_t(TIFFScanlineSize64(tif)));
    bool ok = true;
    for (uint32_t y = 0; ok && y < height; ++y) {
        std::fill(bytes.begin(), bytes.end(), uchar(0));
        row(y, bytes);
        ok = TIFFWriteScanline(tif, bytes.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

// The library's own RGBA reading of a whole TIFF, top row first.
QImage libraryRgba(const QString &path)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return {};
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    QImage out(int(w), int(h), QImage::Format_RGBA8888_Premultiplied);
    const bool ok = TIFFReadRGBAImageOriented(tif, w, h, reinterpret_cast<uint32_t *>(out.bits()), ORIENTATION_TOPLEFT, 1);
    TIFFClose(tif);
    return ok ? out : QImage();
}

// TIFFs as scanners and other programs write them, that the viewer once refused or told wrong:
// 64-bit offsets in either byte order, of two pages, turned a quarter; and a file cut short in its
// strips, its directory first. Each shows the pixels written (the cut one down to its cut, the
// rest clear) and its orientation, and a rewrite tells what it would lose.
TEST(ImageParts, TiffsOfEveryKindShowTheirPixelsAndTellWhatARewriteLoses)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char *mode;
        uint16_t orientation;
        QString lost;
    } kinds[] = {{"w8", 6, QStringLiteral("1 of its 2 pages")},
                 {"w8b", 8, QStringLiteral("1 of its 2 pages")},
                 {"w", 1, QStringLiteral("the part of the picture that could not be read")}};
    const QImage picture = pattern(120, 90, false).convertToFormat(QImage::Format_RGB888);
    for (const auto &k : kinds) {
        SCOPED_TRACE(k.mode);
        const bool cut = k.lost.startsWith(QLatin1String("the part"));
        const QString path = dir.filePath(QStringLiteral("kind.tif"));
        TIFF *tif = openRgbTiff(path, 120, 90, 8, COMPRESSION_LZW, PREDICTOR_NONE, k.mode);
        ASSERT_TRUE(tif);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(10));
        TIFFSetField(tif, TIFFTAG_ORIENTATION, k.orientation);
        if (cut) {
            // The directory before the strips, as a program that streams its output writes it.
            TIFFDeferStrileArrayWriting(tif);
            TIFFWriteCheck(tif, 0, "kind");
            TIFFWriteDirectory(tif);
            TIFFSetDirectory(tif, 0);
        }
        for (uint32_t strip = 0; strip < 9; ++strip)
            ASSERT_GE(TIFFWriteEncodedStrip(tif, strip, const_cast<uchar *>(picture.constScanLine(int(strip * 10))), 120 * 30), 0);
        ASSERT_TRUE(cut ? TIFFForceStrileArrayWriting(tif) : TIFFWriteDirectory(tif) && writeGreyPage(tif));
        TIFFClose(tif);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QByteArray bytes = file.readAll();
        // Cut in the middle of the sixth strip: five strips, fifty rows, arrive whole.
        const int rows = cut ? 50 : 90;
        tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
        ASSERT_TRUE(tif);
        if (cut)
            bytes.truncate(qsizetype(TIFFGetStrileOffset(tif, 5) + TIFFGetStrileByteCount(tif, 5) / 2));
        TIFFClose(tif);
        const QString shown = writeFile(dir, QStringLiteral("shown.tif"), bytes);
        QString error;
        const auto source = ImageSource::createWithFile(shown, &error);
        ASSERT_TRUE(source) << error.toStdString();
        EXPECT_EQ(source->propertiesAtIndex(0).value(kCGImagePropertyOrientation).toInt(), k.orientation);
        const QImage whole = source->createImageAtIndex(0, &error);
        ASSERT_EQ(whole.size(), picture.size()) << error.toStdString();
        QImage expected = picture.convertToFormat(whole.format());
        std::memset(expected.scanLine(rows - 1) + expected.bytesPerLine(), 0, size_t(expected.bytesPerLine()) * size_t(90 - rows));
        EXPECT_EQ(maxChannelDifference(whole, expected), 0);
        EXPECT_EQ(ImageDestination::contentLostByRewriting(shown), QStringList{k.lost});
    }
}

// Grey of every depth either way round, RGB and both kinds of alpha, in one strip and in many,
// stored, LZW- and fax-coded: whole, reduced and in parts, the pixels are the library's RGBA.
TEST(ImageParts, TiffRowsAreTheLibrarysPixels)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Layout {
        uint16_t samples, bits, photometric, extra;
    };
    const Layout layouts[] = {{1, 1, PHOTOMETRIC_MINISWHITE, 0}, {1, 1, PHOTOMETRIC_MINISBLACK, 0},
                              {1, 2, PHOTOMETRIC_MINISBLACK, 0}, {1, 4, PHOTOMETRIC_MINISWHITE, 0},
                              {1, 8, PHOTOMETRIC_MINISBLACK, 0}, {3, 8, PHOTOMETRIC_RGB, 0},
                              {4, 8, PHOTOMETRIC_RGB, EXTRASAMPLE_ASSOCALPHA}, {4, 8, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA}};
    const uint32_t width = 101, height = 67;
    for (const Layout &l : layouts)
        for (uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_CCITTFAX4, COMPRESSION_CCITTFAX3})
            for (uint32_t rowsPerStrip : {height, 8u}) {
                if (l.bits != 1 && (compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTFAX3))
                    continue;
                SCOPED_TRACE(testing::Message() << "samples " << l.samples << " bits " << l.bits << " photometric "
                                                << l.photometric << " extra " << l.extra << " compression "
                                                << compression << " rows " << rowsPerStrip);
                const QString path = dir.filePath(QStringLiteral("layout.tif"));
                ASSERT_TRUE(writeTiff(path, width, height, l.samples, l.bits, l.photometric, l.extra, compression,
                                      rowsPerStrip, [&](uint32_t y, std::vector<uchar> &row) {
                                          // Blank rows and runs, as a page has, then every value mixed.
                                          for (size_t i = 0; i < row.size(); ++i)
                                              row[i] = y < 10 ? 0 : y < 20 ? (i / 3 % 2 ? 0xFF : 0) : uchar(i * 37 + y * 11 + i * y);
                                      }));
                const QImage reference = libraryRgba(path);
                ASSERT_FALSE(reference.isNull());
                QString error;
                const auto source = ImageSource::createWithFile(path, &error);
                ASSERT_TRUE(source) << error.toStdString();
                const QImage whole = source->createImageAtIndex(0, &error);
                EXPECT_EQ(maxChannelDifference(whole, reference), 0) << error.toStdString();
                for (int reduction : {2, 8}) {
                    const QSize reduced = source->reducedFrameSize(0, reduction);
                    for (const QRect &part : {QRect(QPoint(0, 0), reduced), QRect(1, reduced.height() / 2, reduced.width() - 1,
                                                                                   reduced.height() - reduced.height() / 2)})
                        EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, part, reduction, &error),
                                                       boxPart(reference, part, reduction)),
                                  0)
                            << reduction << " " << error.toStdString();
                }
                const QRect inner(13, 29, 40, 17);
                EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, inner, 1, &error), reference.copy(inner)), 0);
            }
}

// Large Deflate- and LZW-coded pages, predicted or not, of 8 and 16 bits, in strips and in tiles,
// are read on every core the machine has: whole and fitted, the pixels are the library's own. A
// strip that cannot be inflated in the middle leaves the rows from it on clear, the rows above it
// whole, however far the cores reading below it got.
TEST(ImageParts, LargeCodedTiffsAreTheLibrarysPixelsAndStopAtTheirDamage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const uint32_t width = 2100, height = 1500;
    struct Coding {
        uint16_t bits, compression, predictor;
        uint32_t tile;  // 0 for strips of 8 rows
    };
    for (const Coding &c : {Coding{8, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL, 0}, Coding{16, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL, 0},
                            Coding{8, COMPRESSION_LZW, PREDICTOR_NONE, 0}, Coding{8, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE, 64},
                            Coding{16, COMPRESSION_LZW, PREDICTOR_HORIZONTAL, 64}}) {
        SCOPED_TRACE(testing::Message() << "bits " << c.bits << " compression " << c.compression << " predictor "
                                        << c.predictor << " tile " << c.tile);
        const QString path = dir.filePath(QStringLiteral("large.tif"));
        TIFF *tif = kpv::test::openRgbTiff(path, width, height, c.bits, c.compression, c.predictor);
        ASSERT_TRUE(tif);
        const size_t sampleBytes = c.bits / 8, rowBytes = size_t(width) * 3 * sampleBytes;
        const auto sample = [](uint32_t x, uint32_t y, uint32_t s) { return uint16_t((x * 131 + y * 71 + s * 9000 + x * y) & 0xFFFF); };
        std::vector<uchar> row(rowBytes);
        const auto fill = [&](uint32_t y, uchar *out, uint32_t x0, uint32_t count) {
            for (uint32_t x = 0; x < count; ++x)
                for (uint32_t s = 0; s < 3; ++s) {
                    const uint16_t v = x0 + x < width && y < height ? sample(x0 + x, y, s) : 0;
                    if (sampleBytes == 2)
                        std::memcpy(out + (size_t(x) * 3 + s) * 2, &v, 2);
                    else
                        out[size_t(x) * 3 + s] = uchar(v >> 8);
                }
        };
        if (c.tile == 0) {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(8));
            for (uint32_t y = 0; y < height; ++y) {
                fill(y, row.data(), 0, width);
                ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
            }
        } else {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, c.tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, c.tile);
            std::vector<uchar> block(size_t(TIFFTileSize64(tif)));
            const size_t tileRow = size_t(c.tile) * 3 * sampleBytes;
            for (uint32_t ty = 0; ty < height; ty += c.tile)
                for (uint32_t tx = 0; tx < width; tx += c.tile) {
                    for (uint32_t r = 0; r < c.tile; ++r)
                        fill(ty + r, block.data() + tileRow * r, tx, c.tile);
                    ASSERT_GE(TIFFWriteTile(tif, block.data(), tx, ty, 0, 0), 0);
                }
        }
        TIFFClose(tif);
        const QImage reference = libraryRgba(path);
        ASSERT_FALSE(reference.isNull());
        QString error;
        auto source = ImageSource::createWithFile(path, &error);
        ASSERT_TRUE(source) << error.toStdString();
        EXPECT_EQ(maxChannelDifference(source->createImageAtIndex(0, &error), reference), 0) << error.toStdString();
        const QSize fitted = source->reducedFrameSize(0, 4);
        EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, QRect(QPoint(0, 0), fitted), 4, &error),
                                       boxPart(reference, QRect(QPoint(0, 0), fitted), 4)),
                  0)
            << error.toStdString();
        if (c.tile != 0 || c.compression != COMPRESSION_ADOBE_DEFLATE)
            continue;
        // The strip of rows 1000 to 1007 made undecodable, well inside the picture.
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
        ASSERT_TRUE(tif);
        const uint64_t at = TIFFGetStrileOffset(tif, 1000 / 8), count = TIFFGetStrileByteCount(tif, 1000 / 8);
        TIFFClose(tif);
        ASSERT_LE(at + count, uint64_t(bytes.size()));
        bytes.replace(qsizetype(at), qsizetype(count), QByteArray(qsizetype(count), '\xFF'));
        source = ImageSource::createWithData(bytes, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage damaged = source->createImageAtIndex(0, &error);
        ASSERT_FALSE(damaged.isNull()) << error.toStdString();
        EXPECT_EQ(maxChannelDifference(damaged.copy(0, 0, int(width), 1000), reference.copy(0, 0, int(width), 1000)), 0);
        QImage clear(int(width), int(height) - 1000, damaged.format());
        clear.fill(0);
        EXPECT_EQ(maxChannelDifference(damaged.copy(0, 1000, int(width), int(height) - 1000), clear), 0);
    }
}

// A one-page TIFF of `planes` planes written strip by strip: `tags` sets its layout, `fill`
// makes the bytes of each strip (the strip's index, its first row, the bytes).
bool writeStrips(const QString &path, uint32_t width, uint32_t height, uint32_t rowsPerStrip,
                 const std::function<void(TIFF *)> &tags,
                 const std::function<void(uint32_t, uint32_t, std::vector<uchar> &)> &fill)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    tags(tif);
    uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const uint32_t stripsPerPlane = (height + rowsPerStrip - 1) / rowsPerStrip;
    const uint32_t strips = stripsPerPlane * (planar == PLANARCONFIG_SEPARATE ? samples : 1);
    bool ok = true;
    for (uint32_t s = 0; ok && s < strips; ++s) {
        const uint32_t top = s % stripsPerPlane * rowsPerStrip;
        std::vector<uchar> bytes(size_t(TIFFVStripSize64(tif, std::min(rowsPerStrip, height - top))));
        fill(s, top, bytes);
        ok = TIFFWriteEncodedStrip(tif, s, bytes.data(), tmsize_t(bytes.size())) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

// Pages of one strip in the other layouts (16 bits, palette, CMYK, YCbCr stored and
// JPEG-coded, Lab, grey with alpha, samples in planes of their own) are read a row at a time
// like those of 8-bit samples: fitted or in a small part, a page holds no strip of its size
// at full size, and whole, reduced and in parts, the pixels are the library's RGBA, in one
// strip and in many.
TEST(ImageParts, TiffRowsOfEveryLayoutAreTheLibrarysPixels)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Layout {
        const char *name;
        uint16_t samples, bits, photometric, planar, extra, compression;
        uint32_t height;
    };
    const uint16_t contig = PLANARCONFIG_CONTIG, separate = PLANARCONFIG_SEPARATE;
    const Layout layouts[] = {
        {"grey 16", 1, 16, PHOTOMETRIC_MINISBLACK, contig, 0, COMPRESSION_LZW, 68},
        {"RGB 16", 3, 16, PHOTOMETRIC_RGB, contig, 0, COMPRESSION_NONE, 68},
        {"RGBA 16", 4, 16, PHOTOMETRIC_RGB, contig, EXTRASAMPLE_UNASSALPHA, COMPRESSION_ADOBE_DEFLATE, 68},
        {"grey and alpha", 2, 8, PHOTOMETRIC_MINISBLACK, contig, EXTRASAMPLE_ASSOCALPHA, COMPRESSION_LZW, 68},
        {"palette 8", 1, 8, PHOTOMETRIC_PALETTE, contig, 0, COMPRESSION_LZW, 68},
        {"palette 4", 1, 4, PHOTOMETRIC_PALETTE, contig, 0, COMPRESSION_PACKBITS, 68},
        {"palette 1", 1, 1, PHOTOMETRIC_PALETTE, contig, 0, COMPRESSION_NONE, 68},
        {"CMYK", 4, 8, PHOTOMETRIC_SEPARATED, contig, 0, COMPRESSION_LZW, 68},
        {"CMYK planes", 4, 8, PHOTOMETRIC_SEPARATED, separate, 0, COMPRESSION_LZW, 68},
        {"RGB planes", 3, 8, PHOTOMETRIC_RGB, separate, 0, COMPRESSION_ADOBE_DEFLATE, 68},
        {"RGBA planes", 4, 8, PHOTOMETRIC_RGB, separate, EXTRASAMPLE_UNASSALPHA, COMPRESSION_NONE, 68},
        {"RGB 16 planes", 3, 16, PHOTOMETRIC_RGB, separate, 0, COMPRESSION_LZW, 68},
        {"grey and alpha planes", 2, 8, PHOTOMETRIC_MINISBLACK, separate, EXTRASAMPLE_ASSOCALPHA, COMPRESSION_LZW, 68},
        {"YCbCr", 3, 8, PHOTOMETRIC_YCBCR, contig, 0, COMPRESSION_LZW, 68},
        {"YCbCr of odd height", 3, 8, PHOTOMETRIC_YCBCR, contig, 0, COMPRESSION_NONE, 67},
        {"YCbCr JPEG", 3, 8, PHOTOMETRIC_YCBCR, contig, 0, COMPRESSION_JPEG, 68},
        {"Lab", 3, 8, PHOTOMETRIC_CIELAB, contig, 0, COMPRESSION_LZW, 68},
    };
    const auto tags = [](const Layout &l) {
        return [l](TIFF *tif) {
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.planar);
            TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
            if (l.extra)
                TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &l.extra);
            if (l.photometric == PHOTOMETRIC_PALETTE) {
                std::vector<uint16_t> red(1u << l.bits), green(red.size()), blue(red.size());
                for (size_t i = 0; i < red.size(); ++i) {
                    red[i] = uint16_t(i * 65535 / (red.size() - 1));
                    green[i] = uint16_t(65535 - red[i]);
                    blue[i] = uint16_t((i * 40503) & 0xFFFF);
                }
                TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
            }
            if (l.photometric == PHOTOMETRIC_YCBCR) {
                TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(2), uint16_t(2));
                if (l.compression == COMPRESSION_JPEG)
                    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            }
        };
    };
    // Blank stretches and runs, as a page has, then every value mixed.
    const auto fill = [](uint32_t strip, uint32_t, std::vector<uchar> &bytes) {
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = i < 900 ? 0 : i < 2000 ? (i / 7 % 2 ? 0xFF : 0x20) : uchar(i * 37 + strip * 11 + i * i / 101);
    };
    const uint32_t width = 101;
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.name);
        for (uint32_t rowsPerStrip : {l.height, 16u}) {
            SCOPED_TRACE(testing::Message() << "rows " << rowsPerStrip);
            const QString path = dir.filePath(QStringLiteral("layout.tif"));
            ASSERT_TRUE(writeStrips(path, width, l.height, rowsPerStrip, tags(l), fill));
            const QImage reference = libraryRgba(path);
            ASSERT_FALSE(reference.isNull());
            QString error;
            const auto source = ImageSource::createWithFile(path, &error);
            ASSERT_TRUE(source) << error.toStdString();
            EXPECT_EQ(maxChannelDifference(source->createImageAtIndex(0, &error), reference), 0) << error.toStdString();
            for (int reduction : {2, 8}) {
                const QSize reduced = source->reducedFrameSize(0, reduction);
                for (const QRect &part : {QRect(QPoint(0, 0), reduced),
                                          QRect(1, reduced.height() / 2, reduced.width() - 1, reduced.height() - reduced.height() / 2)})
                    EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, part, reduction, &error),
                                                   boxPart(reference, part, reduction)),
                              0)
                        << reduction << " " << error.toStdString();
            }
            const QRect inner(13, 30, 40, 18);
            EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, inner, 1, &error), reference.copy(inner)), 0);
        }
        if (l.height % 2)
            continue;  // the bottom block of odd YCbCr rows is read with its strip, as the library does
        // 1600 x 1200 in one strip: 7.7 MB of RGBA, twice that stored at 16 bits.
        const QString large = dir.filePath(QStringLiteral("large.tif"));
        ASSERT_TRUE(writeStrips(large, 1600, 1200, 1200, tags(l), fill));
        QString error;
        const auto page = ImageSource::createWithFile(large, &error);
        ASSERT_TRUE(page) << error.toStdString();
        DecodeBudget &budget = DecodeBudget::shared();
        budget.resetPeak();
        EXPECT_EQ(page->createThumbnailAtIndex(0, 200, true, &error).size(), QSize(200, 150)) << error.toStdString();
        EXPECT_FALSE(page->createImageInRect(0, QRect(700, 500, 100, 100), 1, &error).isNull()) << error.toStdString();
        EXPECT_LT(budget.peak(), uint64_t(1) << 20);
    }
}

// A page of text scanned at 600 dpi and fax-coded in one strip: its thumbnail reads the strip a
// row at a time into the reduced frame, never holding the strip of 140 MB at full size.
// 16-bit CMYK, which the library's RGBA interface refuses, shows as the library shows the same
// inks at 8 bits, in strips and in tiles (edge tiles cut on both sides): whole, reduced and in
// parts. With alpha (which the interface ignores), of 8 or 16 bits, interleaved or in planes,
// those inks show through it.
TEST(ImageParts, SixteenBitCmykShowsAsItsInksAtEightBits)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const uint32_t width = 101, height = 68, tile = 32;
    const auto ink = [](uint32_t y, uint32_t x, int c) {
        return c == 4 ? uchar((x * 5 + y * 3) % 256) : uchar(x * 37 + c * 91 + y * 11 + x * y / 101);
    };
    const auto write = [&](const QString &path, uint16_t bits, bool tiled, bool alpha = false, bool planes = false) {
        TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
        if (!tif)
            return false;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        const uint16_t samples = alpha ? 5 : 4, stride = planes ? 1 : samples;
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        const uint16_t unassociated = EXTRASAMPLE_UNASSALPHA;
        if (alpha)
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &unassociated);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        const uint32_t blockWidth = tiled ? tile : width, blockHeight = tiled ? tile : 16;
        if (tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, blockHeight);
        }
        const size_t bytesPerSample = bits / 8;
        bool ok = true;
        for (uint16_t plane = 0; plane < samples / stride; ++plane)
            for (uint32_t top = 0; ok && top < height; top += blockHeight)
                for (uint32_t left = 0; ok && left < width; left += blockWidth) {
                    const uint32_t rows = tiled ? blockHeight : std::min(blockHeight, height - top);
                    std::vector<uchar> bytes(size_t(blockWidth) * rows * stride * bytesPerSample, 0);
                    for (uint32_t y = 0; y < rows; ++y)
                        for (uint32_t x = 0; x < blockWidth; ++x)
                            for (int s = 0; s < stride; ++s) {
                                const uchar level = ink(top + y, left + x, planes ? plane : s);
                                const uint16_t sample = bits == 16 ? uint16_t(std::min(65535u, level * 257u + (x + y) % 129)) : level;
                                std::memcpy(&bytes[((size_t(y) * blockWidth + x) * stride + size_t(s)) * bytesPerSample], &sample,
                                            bytesPerSample);
                            }
                    ok = tiled ? TIFFWriteTile(tif, bytes.data(), left, top, 0, plane) >= 0
                               : TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, top, plane), bytes.data(), tmsize_t(bytes.size())) >= 0;
                }
        TIFFClose(tif);
        return ok;
    };
    // The largest difference of a level, a picture of another size (or none) counting as the largest.
    const auto worst = [](const QImage &a, const QImage &b) {
        const int d = maxChannelDifference(a, b);
        return d < 0 ? 255 : d;
    };
    const QString eight = dir.filePath(QStringLiteral("cmyk8.tif"));
    ASSERT_TRUE(write(eight, 8, false));
    const QImage opaque = libraryRgba(eight);
    ASSERT_FALSE(opaque.isNull());
    // The inks the library shows, through the alpha sample.
    QImage seen = opaque;
    for (int y = 0; y < seen.height(); ++y)
        for (int x = 0; x < seen.width(); ++x) {
            uchar *p = seen.scanLine(y) + x * 4;
            p[3] = ink(uint32_t(y), uint32_t(x), 4);
            for (int c = 0; c < 3; ++c)
                p[c] = uchar((p[c] * p[3] + 127) / 255);
        }
    struct Case {
        const char *name;
        uint16_t bits;
        bool tiled, alpha, planes;
    };
    for (const Case &k : {Case{"strips", 16, false, false, false}, Case{"tiles", 16, true, false, false},
                          Case{"alpha", 8, false, true, false}, Case{"alpha in tiled planes", 16, true, true, true},
                          Case{"planes", 16, false, false, true}}) {
        SCOPED_TRACE(k.name);
        const bool tiled = k.tiled;
        const QImage reference = k.alpha ? seen : opaque;
        const QString sixteen = dir.filePath(QStringLiteral("cmyk.tif"));
        ASSERT_TRUE(write(sixteen, k.bits, tiled, k.alpha, k.planes));
        QString error;
        const auto source = ImageSource::createWithFile(sixteen, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage whole = source->createImageAtIndex(0, &error);
        EXPECT_LE(worst(whole, reference), 1) << error.toStdString();
        EXPECT_LT(meanLevelDifference(whole, reference), 0.5);
        for (int reduction : {2, 8}) {
            const QSize reduced = source->reducedFrameSize(0, reduction);
            const QRect all(QPoint(0, 0), reduced), edge(1, reduced.height() / 2, reduced.width() - 1, reduced.height() - reduced.height() / 2);
            for (const QRect &part : {all, edge})
                EXPECT_LE(worst(source->createImageInRect(0, part, reduction, &error), boxPart(reference, part, reduction)), 1)
                    << reduction << " " << error.toStdString();
        }
        const QRect inner(13, 30, 60, 35);
        const QImage part = source->createImageInRect(0, inner, 1, &error);
        EXPECT_LE(worst(part, reference.copy(inner)), 1) << error.toStdString();
        EXPECT_LT(meanLevelDifference(part, reference.copy(inner)), 0.5);
    }
}

// Samples the library's RGBA interface refuses or misreads show their 0 to 1 (0 to their largest
// value) as levels 0 to 255, what lies beyond clamped: floating-point ones (grey and RGB, with
// and without alpha of either kind, of 16, 32 and 64 bits, either byte order, with the
// floating-point predictor), 32-bit ones, grey with unassociated or 16-bit alpha, RGB of 2
// and 4 bits, and samples of 10 and 12 bits; interleaved and in planes, in strips and in tiles: whole, reduced and in parts,
// the stored tile or row charged to the decode budget.
TEST(ImageParts, TiffSamplesOfEveryDepthAndFormatShowTheirLevels)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const uint32_t width = 45, height = 38, tile = 16;
    // Steps of 1/256 from -0.25 to 1.25, which half precision holds exactly; one not-a-number.
    const auto value = [](uint32_t x, uint32_t y, unsigned c) -> double {
        if (x == 3 && y == 5 && c == 0)
            return std::nan("");
        return c == 3 ? double((x * 5 + y * 3) % 257) / 256 : (double((x * 37 + y * 11 + c * 59) % 384) - 64) / 256;
    };
    const auto half = [](double v) -> uint16_t {
        if (std::isnan(v))
            return 0x7E00;
        const uint16_t sign = v < 0 ? 0x8000 : 0;
        int exponent = 0;
        const double fraction = std::frexp(std::fabs(v), &exponent);  // [0.5, 1) x 2^exponent
        return v == 0 ? sign : uint16_t(sign | (exponent + 14) << 10 | (uint16_t(std::lround(fraction * 2048)) & 0x3FF));
    };
    struct Layout {
        const char *name;
        uint16_t format, samples, bits, photometric, extra;
        bool planes, tiled;
        uint16_t compression, predictor;
        const char *mode;
    };
    const uint16_t none = 0, assoc = EXTRASAMPLE_ASSOCALPHA, unassoc = EXTRASAMPLE_UNASSALPHA;
    const uint16_t real = SAMPLEFORMAT_IEEEFP, whole = SAMPLEFORMAT_UINT, grey = PHOTOMETRIC_MINISBLACK, rgb = PHOTOMETRIC_RGB;
    const Layout layouts[] = {
        {"grey 32", real, 1, 32, grey, none, false, false, COMPRESSION_NONE, 1, "w"},
        {"grey 32 predicted", real, 1, 32, grey, none, false, false, COMPRESSION_LZW, 3, "w"},
        {"grey and alpha 32", real, 2, 32, grey, unassoc, false, true, COMPRESSION_ADOBE_DEFLATE, 1, "w"},
        {"RGB 32", real, 3, 32, rgb, none, false, false, COMPRESSION_NONE, 1, "w"},
        {"RGB 32 tiles, big-endian", real, 3, 32, rgb, none, false, true, COMPRESSION_LZW, 1, "wb"},
        {"RGBA 32 associated", real, 4, 32, rgb, assoc, false, true, COMPRESSION_NONE, 1, "w"},
        {"RGBA 32 planes", real, 4, 32, rgb, unassoc, true, false, COMPRESSION_LZW, 3, "w"},
        {"RGB 32 tiled planes", real, 3, 32, rgb, none, true, true, COMPRESSION_NONE, 1, "w"},
        {"RGB 16", real, 3, 16, rgb, none, false, false, COMPRESSION_NONE, 1, "w"},
        {"RGBA 16 predicted", real, 4, 16, rgb, unassoc, false, false, COMPRESSION_LZW, 3, "w"},
        {"grey 64", real, 1, 64, grey, none, false, true, COMPRESSION_ADOBE_DEFLATE, 3, "w"},
        {"whole grey 32", whole, 1, 32, grey, none, false, false, COMPRESSION_LZW, 1, "w"},
        {"grey and alpha 8", whole, 2, 8, grey, unassoc, false, false, COMPRESSION_LZW, 2, "w"},
        {"grey and alpha 8 tiles", whole, 2, 8, grey, unassoc, false, true, COMPRESSION_NONE, 1, "w"},
        {"grey and alpha 8 planes", whole, 2, 8, grey, unassoc, true, false, COMPRESSION_NONE, 1, "w"},
        {"grey and alpha 16 associated", whole, 2, 16, grey, assoc, false, false, COMPRESSION_ADOBE_DEFLATE, 2, "w"},
        {"RGB 4", whole, 3, 4, rgb, none, false, false, COMPRESSION_NONE, 1, "w"},
        {"RGB 2 planes", whole, 3, 2, rgb, none, true, false, COMPRESSION_PACKBITS, 1, "w"},
        {"RGBA 4 tiled planes", whole, 4, 4, rgb, unassoc, true, true, COMPRESSION_NONE, 1, "w"},
        {"RGB 12", whole, 3, 12, rgb, none, false, false, COMPRESSION_LZW, 1, "w"},
        {"grey and alpha 10 in tiled planes", whole, 2, 10, grey, unassoc, true, true, COMPRESSION_NONE, 1, "w"},
    };
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.name);
        const unsigned colours = l.photometric == rgb ? 3 : 1;
        const bool alpha = l.extra != none;
        const double largest = std::ldexp(1.0, l.bits) - 1;
        // Sample `sample` of pixel (x, y) as stored, as a value from 0 to 1 (or beyond).
        const auto stored = [&](uint32_t x, uint32_t y, unsigned sample) {
            const unsigned c = sample < colours ? (colours == 1 ? 0 : sample) : 3;
            double v = value(x, y, c);
            if (l.extra == assoc && sample < colours)
                v *= value(x, y, 3);
            return l.format == real ? v : std::isnan(v) ? 0 : std::round(std::clamp(v, 0.0, 1.0) * largest) / largest;
        };
        // The picture as it should show: each sample clamped to 0..1 and scaled, alpha straight.
        QImage expected(int(width), int(height), QImage::Format_RGBA8888);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const double a = alpha ? stored(x, y, colours) : 1.0;
                uchar *p = expected.scanLine(int(y)) + x * 4;
                for (unsigned c = 0; c < 4; ++c) {
                    double v = c == 3 ? a : stored(x, y, colours == 1 ? 0 : c);
                    if (c < 3 && l.extra == assoc)
                        v = a > 0 ? v / a : 0;
                    p[c] = std::isnan(v) ? 0 : uchar(std::lround(std::clamp(v, 0.0, 1.0) * 255));
                }
            }
        const QImage reference = expected.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        const QString path = dir.filePath(QStringLiteral("samples.tif"));
        TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), l.mode);
        ASSERT_TRUE(tif);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, l.format);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
        if (l.compression != COMPRESSION_NONE)
            TIFFSetField(tif, TIFFTAG_PREDICTOR, l.predictor);
        if (alpha)
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &l.extra);
        const uint32_t blockWidth = l.tiled ? tile : width, blockHeight = l.tiled ? tile : 8;
        if (l.tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, blockHeight);
        }
        const size_t stride = l.planes ? 1 : l.samples, rowBytes = (blockWidth * stride * l.bits + 7) / 8;
        const int64_t storedBlock = l.tiled ? TIFFTileSize64(tif) : TIFFScanlineSize64(tif);
        bool ok = true;
        for (uint16_t plane = 0; plane < (l.planes ? l.samples : 1); ++plane)
            for (uint32_t top = 0; top < height; top += blockHeight)
                for (uint32_t left = 0; left < width; left += blockWidth) {
                    const uint32_t rows = l.tiled ? blockHeight : std::min(blockHeight, height - top);
                    std::vector<uchar> bytes(rowBytes * rows, 0);
                    for (uint32_t y = 0; y < rows; ++y)
                        for (uint32_t x = 0; x < blockWidth; ++x)
                            for (size_t s = 0; s < stride; ++s) {
                                const double v = stored(left + x, top + y, unsigned(l.planes ? plane : s));
                                const size_t bit = y * rowBytes * 8 + (x * stride + s) * l.bits;
                                const uint64_t q = l.format == whole ? uint64_t(std::round(v * largest)) : 0;
                                const float f = float(v);
                                const uint16_t h = half(v), q16 = uint16_t(q);
                                const uint32_t q32 = uint32_t(q);
                                const void *from = l.format == whole ? (l.bits == 32 ? static_cast<const void *>(&q32) : &q16)
                                                   : l.bits == 64   ? static_cast<const void *>(&v)
                                                   : l.bits == 32   ? static_cast<const void *>(&f)
                                                                    : &h;
                                if (l.bits % 8 != 0)
                                    for (size_t b = 0; b < l.bits; ++b)
                                        bytes[(bit + b) / 8] = uchar(bytes[(bit + b) / 8] | ((q >> (l.bits - 1 - b)) & 1) << (7 - (bit + b) % 8));
                                else if (l.bits == 8)
                                    bytes[bit / 8] = uchar(q);
                                else
                                    std::memcpy(&bytes[bit / 8], from, l.bits / 8);
                            }
                    ok = ok && (l.tiled ? TIFFWriteTile(tif, bytes.data(), left, top, 0, plane) >= 0
                                        : TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, top, plane), bytes.data(),
                                                                tmsize_t(bytes.size())) >= 0);
                }
        TIFFClose(tif);
        ASSERT_TRUE(ok);
        const auto worst = [](const QImage &a, const QImage &b) {
            const int d = maxChannelDifference(a, b);
            return d < 0 ? 255 : d;
        };
        DecodeBudget &budget = DecodeBudget::shared();
        budget.resetPeak();
        QString error;
        const auto source = ImageSource::createWithFile(path, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage whole = source->createImageAtIndex(0, &error);
        EXPECT_LE(worst(whole, reference), 1) << error.toStdString();
        EXPECT_LT(meanLevelDifference(whole, reference), 0.5);
        EXPECT_GE(budget.peak(), uint64_t(width) * height * 4 + uint64_t(storedBlock));
        const QSize reduced = source->reducedFrameSize(0, 2);
        const QRect edge(1, reduced.height() / 2, reduced.width() - 1, reduced.height() - reduced.height() / 2);
        EXPECT_LE(worst(source->createImageInRect(0, edge, 2, &error), boxPart(reference, edge, 2)), 1) << error.toStdString();
        const QRect inner(13, 17, 25, 19);
        EXPECT_LE(worst(source->createImageInRect(0, inner, 1, &error), reference.copy(inner)), 1) << error.toStdString();
        EXPECT_EQ(source->createThumbnailAtIndex(0, 20, true, &error).size(), QSize(20, 16)) << error.toStdString();
    }
}

TEST(ImageParts, OneStripPageThumbnailHoldsNoStrip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const uint32_t width = 4960, height = 7016;
    const QString text = dir.filePath(QStringLiteral("text.tif"));
    ASSERT_TRUE(writeTiff(text, width, height, 1, 1, PHOTOMETRIC_MINISWHITE, 0, COMPRESSION_CCITTFAX4, height,
                          [](uint32_t y, std::vector<uchar> &row) {
                              if (y % 60 < 20)
                                  for (size_t i = 60; i + 60 < row.size(); i += 5)
                                      row[i] = 0x3C;
                          }));
    QString error;
    const auto page = ImageSource::createWithFile(text, &error);
    ASSERT_TRUE(page) << error.toStdString();
    DecodeBudget &budget = DecodeBudget::shared();
    budget.resetPeak();
    const QImage thumbnail = page->createThumbnailAtIndex(0, 256, true, &error);
    ASSERT_EQ(thumbnail.size(), QSize(180, 256)) << error.toStdString();
    EXPECT_LT(budget.peak(), uint64_t(8) << 20);
    EXPECT_EQ(thumbnail.pixel(0, 0), qRgb(255, 255, 255));
    int darkest = 255;
    for (int y = 0; y < thumbnail.height(); ++y)
        for (int x = 0; x < thumbnail.width(); ++x)
            darkest = std::min(darkest, qRed(thumbnail.pixel(x, y)));
    EXPECT_LT(darkest, 250);  // the lines of text, greyed by the reduction
}

// A blank A4 page scanned at 600 dpi, fax-coded in one strip, is a file of about a kilobyte:
// it opens, shows fitted and at 100% in parts, white, holding no more than its parts, and its
// full-size frame (to crop it) decodes too. The full-size frames of a blank A3 page of a few
// kilobytes (twice the size), and of a shorter page in a file under a kilobyte, are refused
// with a reason; they show fitted.
TEST(ImageParts, BlankFaxPageOfAKilobyteShowsFittedInPartsAndWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const uint32_t width = 4960, height = 7016;
    const QString blank = dir.filePath(QStringLiteral("blank.tif"));
    // As a scanner writes it, with its resolution and its name.
    ASSERT_TRUE(writeStrips(blank, width, height, height,
                            [](TIFF *tif) {
                                TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(1));
                                TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
                                TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
                                TIFFSetField(tif, TIFFTAG_XRESOLUTION, 600.0f);
                                TIFFSetField(tif, TIFFTAG_YRESOLUTION, 600.0f);
                                TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
                                TIFFSetField(tif, TIFFTAG_SOFTWARE, "Office scanner 2.1");
                                TIFFSetField(tif, TIFFTAG_DATETIME, "2026:12:09 10:00:00");
                            },
                            [](uint32_t, uint32_t, std::vector<uchar> &) {}));
    ASSERT_GE(QFileInfo(blank).size(), 1024);
    ASSERT_LT(QFileInfo(blank).size(), 1200);
    DecodeBudget &budget = DecodeBudget::shared();
    QString error;
    const auto source = ImageSource::createWithFile(blank, &error);
    ASSERT_TRUE(source) << error.toStdString();
    budget.resetPeak();
    const QImage fitted = source->createThumbnailAtIndex(0, 1000, true, &error);
    ASSERT_EQ(fitted.size(), QSize(706, 1000)) << error.toStdString();
    const QImage part = source->createImageInRect(0, QRect(2000, 5000, 1600, 1000), 1, &error);
    ASSERT_EQ(part.size(), QSize(1600, 1000)) << error.toStdString();
    EXPECT_LT(budget.peak(), uint64_t(16) << 20);
    budget.resetPeak();
    const QImage whole = source->createImageAtIndex(0, &error);
    ASSERT_EQ(whole.size(), QSize(int(width), int(height))) << error.toStdString();
    EXPECT_LT(budget.peak(), uint64_t(width) * height * 4 + (1u << 20));  // the frame and a row or two
    for (const QImage &image : {fitted, part, whole})
        for (QPoint at : {QPoint(0, 0), QPoint(image.width() - 1, image.height() - 1), QPoint(image.width() / 2, 7)})
            EXPECT_EQ(image.pixel(at), qRgb(255, 255, 255));

    const QString a3 = dir.filePath(QStringLiteral("a3.tif")), short_ = dir.filePath(QStringLiteral("short.tif"));
    ASSERT_TRUE(writeTiff(a3, 7016, 9920, 1, 1, PHOTOMETRIC_MINISWHITE, 0, COMPRESSION_CCITTFAX4, 9920,
                          [](uint32_t, std::vector<uchar> &) {}));
    ASSERT_TRUE(writeTiff(short_, 4960, 5000, 1, 1, PHOTOMETRIC_MINISWHITE, 0, COMPRESSION_CCITTFAX4, 5000,
                          [](uint32_t, std::vector<uchar> &) {}));
    ASSERT_LT(QFileInfo(short_).size(), 1024);
    for (const QString &path : {a3, short_}) {
        const auto large = ImageSource::createWithFile(path, &error);
        ASSERT_TRUE(large) << error.toStdString();
        EXPECT_EQ(large->createThumbnailAtIndex(0, 1000, true, &error).height(), 1000) << error.toStdString();
        error.clear();
        EXPECT_TRUE(large->createImageAtIndex(0, &error).isNull());
        EXPECT_TRUE(error.contains(QStringLiteral("too short"))) << error.toStdString();
    }
}

// A WebP larger than the budget at full size is decoded scaled and cropped by its library: fitted
// and zoomed in it shows the whole decode's pixels, costing the budget the part only.
TEST(ImageParts, WebpsBeyondTheBudgetShowFittedAndInParts)
{
    const QImage picture = pattern(3000, 2000, false);
    uint8_t *encoded = nullptr;
    const size_t size = WebPEncodeRGBA(picture.constBits(), picture.width(), picture.height(),
                                       int(picture.bytesPerLine()), 90, &encoded);
    ASSERT_GT(size, 0u);
    const QByteArray webp(reinterpret_cast<const char *>(encoded), qsizetype(size));
    WebPFree(encoded);
    QString error;
    const auto source = ImageSource::createWithData(webp, &error);
    ASSERT_TRUE(source) << error.toStdString();
    const QImage whole = source->createImageAtIndex(0, &error);
    ASSERT_EQ(whole.size(), picture.size()) << error.toStdString();

    DecodeBudget &budget = DecodeBudget::shared();
    struct Restore {
        DecodeBudget &budget;
        uint64_t former;
        ~Restore() { budget.setCapacity(former); }
    } restore{budget, budget.setCapacity(12u << 20)};  // the whole picture takes 22.9 MB
    EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull());
    budget.resetPeak();
    EXPECT_EQ(source->createThumbnailAtIndex(0, 600, true, &error).size(), QSize(600, 400)) << error.toStdString();
    const QRect rect(1000, 700, 300, 200), edge(600, 350, 150, 150);
    EXPECT_LE(meanLevelDifference(source->createImageInRect(0, rect, 1, &error), whole.copy(rect)), 1.0)
        << error.toStdString();
    EXPECT_LE(meanLevelDifference(source->createImageInRect(0, edge, 4, &error), boxPart(whole, edge, 4)), 1.5)
        << error.toStdString();
    EXPECT_LT(budget.peak(), uint64_t(2) << 20);
}

// A JPEG 2000 larger than the budget at full size decodes the area under a part only, at the
// resolution level of its reduction: the library's whole decode at that level, for a lossy file
// of one tile with alpha, and for a tiled one placed off the grid's origin with two levels only,
// whose finer reductions are averaged from its coarsest level; and the whole decode's pixels for
// one of sub-sampled chroma.
TEST(ImageParts, Jpeg2000sBeyondTheBudgetShowFittedAndInParts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString lossy = dir.filePath(QStringLiteral("alpha.jp2")), tiled = dir.filePath(QStringLiteral("tiled.jp2"));
    ASSERT_TRUE(ImageDestination::writeImage(pattern(1600, 1200, true), lossy, ContentTypes::kJpeg2000,
                                             {{QLatin1String(kCGImageDestinationLossyCompressionQuality), 0.8}}));
    ASSERT_TRUE(writeLargeJp2(tiled, 1500, 1100, 200, 2, QPoint(7, 3)));
    DecodeBudget &budget = DecodeBudget::shared();
    for (const QString &path : {lossy, tiled}) {
        SCOPED_TRACE(path.toStdString());
        const bool coarse = path == tiled;  // two levels: reductions beyond 2 are averaged
        QString error;
        const auto source = ImageSource::createWithFile(path, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QSize full = source->reducedFrameSize(0, 1);
        // The whole picture at each level the file has, by the library itself.
        std::vector<QImage> levels;
        for (int level = 0; level <= (coarse ? 1 : 3); ++level) {
            levels.push_back(libraryLevel(path, level));
            ASSERT_EQ(levels.back().size(), source->reducedFrameSize(0, 1 << level));
        }
        if (coarse)  // lossless: the file's own pixels
            EXPECT_EQ(maxChannelDifference(levels[0], largePicturePart(QRect(QPoint(0, 0), full), full.width())), 0);

        struct Restore {
            DecodeBudget &budget;
            uint64_t former;
            ~Restore() { budget.setCapacity(former); }
        } restore{budget, budget.setCapacity(20u << 20)};  // the whole picture takes more than 30 MB
        EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull());
        EXPECT_FALSE(error.isEmpty());
        budget.resetPeak();
        // Fitted, as a thumbnail or the view shows it: the coarsest level that covers the size.
        const int fit = coarse ? 1 : 2;
        const QImage fitted = source->createThumbnailAtIndex(0, (full.width() + (1 << fit) - 1) >> fit, true, &error);
        ASSERT_EQ(fitted.size(), levels[size_t(fit)].size()) << error.toStdString();
        EXPECT_LE(maxChannelDifference(fitted, levels[size_t(fit)]), 1);  // premultiplied, rounded
        for (const int reduction : {1, 2, 4, 8}) {
            const QSize size = source->reducedFrameSize(0, reduction);
            // Inside across tiles, at odd places, on the right and bottom edges.
            for (const QRect &rect : {QRect(size.width() / 3 + 1, size.height() / 4 + 3, size.width() / 5, size.height() / 6),
                                      QRect(size.width() - 37, size.height() - 29, 37, 29), QRect(0, 5, 11, size.height() - 5)}) {
                const QImage part = source->createImageInRect(0, rect, reduction, &error);
                ASSERT_EQ(part.size(), rect.size()) << error.toStdString() << " reduction " << reduction;
                const int level = coarse ? std::min(reduction, 2) : reduction;
                const QImage expected = boxPart(levels[size_t(level == 8 ? 3 : level / 2)], rect, reduction / level);
                EXPECT_LE(maxChannelDifference(part, expected), 1)
                    << "reduction " << reduction << " at " << rect.x() << "," << rect.y();
            }
        }
        EXPECT_LT(budget.peak(), uint64_t(16) << 20);  // the parts, not the picture
        // A part reaching past the picture is refused with a reason.
        error.clear();
        EXPECT_TRUE(source->createImageInRect(0, QRect(full.width() - 10, 0, 20, 20), 1, &error).isNull());
        EXPECT_FALSE(error.isEmpty());
    }

    // Sub-sampled chroma off the grid's origin: each part takes the chroma samples the whole
    // decode takes, up to the picture's last row and column.
    const QString chroma = dir.filePath(QStringLiteral("chroma.jp2"));
    ASSERT_TRUE(writeSubsampledJp2(chroma, 90, 62));
    const auto source = ImageSource::createWithFile(chroma);
    ASSERT_TRUE(source);
    for (const int reduction : {1, 2, 4}) {
        const QSize size = source->reducedFrameSize(0, reduction);
        const QImage whole = source->createThumbnailAtIndex(0, size.width(), true);
        ASSERT_EQ(whole.size(), size);
        for (const QRect &rect : {QRect(size.width() / 3 + 1, size.height() / 4 + 1, size.width() / 3, size.height() / 3),
                                  QRect(size.width() - 5, size.height() - 3, 5, 3)})
            EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, rect, reduction), whole.copy(rect)), 0)
                << "reduction " << reduction << " at " << rect.x() << "," << rect.y();
    }
}

// Where each tile-part of a JPEG 2000 starts, and its tile, from the first after the main header.
std::vector<std::pair<qsizetype, int>> tileParts(const QByteArray &file)
{
    auto be = [&](qsizetype at, int n) {
        quint32 v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 8 | uchar(file[at + i]);
        return v;
    };
    qsizetype at = file.indexOf("jp2c") + 4 + 2;  // past the box type and the start marker
    while (at + 4 <= file.size() && be(at, 2) != 0xff90)
        at += 2 + be(at + 2, 2);
    std::vector<std::pair<qsizetype, int>> parts;
    while (at + 12 <= file.size() && be(at, 2) == 0xff90) {
        parts.push_back({at, int(be(at + 4, 2))});
        at += be(at + 6, 4);
    }
    return parts;
}

// A bare code-stream of one tile of `picture` (RGB), in three quality layers, with precincts of
// 32 and code blocks of 16, in the packet order `order`; with `marked`, each packet starts and
// ends with its markers. With `block` and `layers`, code blocks of that side in that many layers,
// each resolution one precinct.
QByteArray orderedJ2k(const QString &path, const QImage &picture, OPJ_PROG_ORDER order, bool marked, int block = 0,
                      int layers = 3)
{
    const int w = picture.width(), h = picture.height();
    opj_image_cmptparm_t params[3] = {};
    for (opj_image_cmptparm_t &p : params) {
        p.dx = p.dy = 1;
        p.w = OPJ_UINT32(w);
        p.h = OPJ_UINT32(h);
        p.prec = 8;
    }
    opj_image_t *image = opj_image_create(3, params, OPJ_CLRSPC_SRGB);
    image->x1 = OPJ_UINT32(w);
    image->y1 = OPJ_UINT32(h);
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image->comps[c].data[y * w + x] = picture.constScanLine(y)[x * 4 + c];
    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.tcp_numlayers = layers;
    for (int k = 0; k < layers; ++k)
        cp.tcp_rates[k] = float((layers - 1 - k) * 20);
    cp.cp_disto_alloc = 1;
    cp.tcp_mct = 1;
    cp.prog_order = order;
    cp.csty = (block ? 0 : 1) | (marked ? 6 : 0);
    cp.res_spec = block ? 0 : 1;
    cp.prcw_init[0] = cp.prch_init[0] = 32;
    cp.cblockw_init = cp.cblockh_init = block ? block : 16;
    const bool ok = encodeToFile(path, OPJ_CODEC_J2K, &cp, image);
    QFile file(path);
    return ok && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isGrey(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (std::abs(qRed(image.pixel(x, y)) - 128) > 1 || qRed(image.pixel(x, y)) != qGreen(image.pixel(x, y)) ||
                qRed(image.pixel(x, y)) != qBlue(image.pixel(x, y)))
                return false;
    return true;
}

// A JPEG 2000 cut short or missing a tile shows what it holds, on each road the viewer takes (the
// whole picture, fitted, and parts at a reduction for a zoom): whole tiles and packets as the
// intact file shows them, the finer resolutions a cut tile lacks left out, missing tiles grey. A
// file cut before any of its picture is refused with the reason, and a damaged picture is never
// handed out to be written back as whole.
TEST(ImageParts, Jpeg2000sCutShortShowWhatTheyHold)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString tiledPath = dir.filePath(QStringLiteral("tiled.jp2")), singlePath = dir.filePath(QStringLiteral("single.jp2"));
    ASSERT_TRUE(writeLargeJp2(tiledPath, 1500, 1100, 200, 3, QPoint(7, 3)));
    ASSERT_TRUE(ImageDestination::writeImage(pattern(640, 480, false), singlePath, ContentTypes::kJpeg2000,
                                             {{QLatin1String(kCGImageDestinationLossyCompressionQuality), 1.0}}));
    auto read = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray tiled = read(tiledPath), single = read(singlePath);
    const auto parts = tileParts(tiled);
    ASSERT_EQ(parts.size(), 48u);  // 8 x 6 tiles of 200 on the grid, the picture at (7, 3)
    const QImage intact = ImageSource::createWithData(tiled)->createImageAtIndex(0);
    ASSERT_EQ(intact.size(), QSize(1500, 1100));
    // A tile's area in the picture: the tiles start where the picture does.
    auto tile = [](int index) { return QRect((index % 8) * 200, (index / 8) * 200, 200, 200).intersected(QRect(0, 0, 1500, 1100)); };

    // Cut inside the 21st tile: the first twenty show as they are, the last rows grey, on every road.
    {
        QString error;
        const auto source = ImageSource::createWithData(tiled.left((parts[20].first + parts[21].first) / 2), &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage whole = source->createImageAtIndex(0, &error);
        ASSERT_EQ(whole.size(), intact.size()) << error.toStdString();
        EXPECT_EQ(maxChannelDifference(whole.copy(0, 0, 1500, 400), intact.copy(0, 0, 1500, 400)), 0);
        EXPECT_EQ(maxChannelDifference(whole.copy(tile(19)), intact.copy(tile(19))), 0);
        EXPECT_TRUE(isGrey(whole.copy(0, 600, 1500, 500)));
        const QImage fitted = source->createThumbnailAtIndex(0, 750, true, &error);
        ASSERT_EQ(fitted.size(), QSize(750, 550)) << error.toStdString();
        const QImage intactFitted = ImageSource::createWithData(tiled)->createThumbnailAtIndex(0, 750, true);
        EXPECT_LE(maxChannelDifference(fitted.copy(0, 0, 750, 200), intactFitted.copy(0, 0, 750, 200)), 1);
        EXPECT_TRUE(isGrey(fitted.copy(0, 300, 750, 250)));
        const QImage zoomed = source->createImageInRect(0, QRect(300, 100, 200, 90), 2, &error);
        const QImage intactZoomed = ImageSource::createWithData(tiled)->createImageInRect(0, QRect(300, 100, 200, 90), 2);
        EXPECT_EQ(maxChannelDifference(zoomed, intactZoomed), 0) << error.toStdString();
        EXPECT_TRUE(isGrey(source->createImageInRect(0, QRect(700, 1000, 300, 100), 1, &error))) << error.toStdString();
        // Nothing of it is handed out to be written back.
        error.clear();
        EXPECT_TRUE(source->createStraightImageAtIndex(0, &error).isNull());
        EXPECT_FALSE(error.isEmpty());
    }

    // A tile missing in the middle: its neighbours as they are, its place grey.
    {
        QByteArray missing = tiled;
        missing.remove(parts[10].first, parts[11].first - parts[10].first);
        const auto source = ImageSource::createWithData(missing);
        ASSERT_TRUE(source);
        const QImage whole = source->createImageAtIndex(0);
        ASSERT_EQ(whole.size(), intact.size());
        EXPECT_TRUE(isGrey(whole.copy(tile(10))));
        for (int neighbour : {9, 11, 2, 18, 47})
            EXPECT_EQ(maxChannelDifference(whole.copy(tile(neighbour)), intact.copy(tile(neighbour))), 0) << neighbour;
        EXPECT_TRUE(isGrey(source->createImageInRect(0, tile(10).adjusted(10, 10, -10, -10), 1)));
        EXPECT_TRUE(source->createStraightImageAtIndex(0).isNull());
    }

    // Cut inside the first tile: its coarsest resolution shows, the other tiles grey.
    {
        const qsizetype into = parts[0].first + (parts[1].first - parts[0].first) * 2 / 5;
        QString error;
        const auto source = ImageSource::createWithData(tiled.left(into), &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage whole = source->createImageAtIndex(0, &error);
        ASSERT_EQ(whole.size(), intact.size()) << error.toStdString();
        EXPECT_TRUE(isGrey(whole.copy(200, 0, 1300, 1100)));
        EXPECT_TRUE(isGrey(whole.copy(0, 200, 200, 900)));
        EXPECT_FALSE(isGrey(whole.copy(tile(0))));
        const QImage quarter = source->createImageInRect(0, QRect(0, 0, 50, 50), 4, &error);
        EXPECT_LE(meanLevelDifference(quarter, boxPart(intact, QRect(0, 0, 50, 50), 4)), 12.0) << error.toStdString();
    }

    // One tile of the project's own writer, cut early and halfway: the coarser resolutions are
    // the intact file's, the whole picture near it.
    const QImage singleIntact = ImageSource::createWithData(single)->createImageAtIndex(0);
    ASSERT_EQ(singleIntact.size(), QSize(640, 480));
    for (const double share : {0.15, 0.5}) {
        SCOPED_TRACE(share);
        QString error;
        const auto source = ImageSource::createWithData(single.left(qsizetype(single.size() * share)), &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage whole = source->createImageAtIndex(0, &error);
        ASSERT_EQ(whole.size(), singleIntact.size()) << error.toStdString();
        EXPECT_LE(meanLevelDifference(whole, singleIntact), 12.0);
        const QImage fitted = source->createThumbnailAtIndex(0, 160, true, &error);
        ASSERT_EQ(fitted.size(), QSize(160, 120)) << error.toStdString();
        EXPECT_LE(meanLevelDifference(fitted, ImageSource::createWithData(single)->createThumbnailAtIndex(0, 160, true)), 1.0);
        EXPECT_FALSE(source->createImageInRect(0, QRect(100, 50, 120, 90), 2, &error).isNull()) << error.toStdString();
    }

    // Each order of packets, their ends marked or not, cut at several places: the packets before
    // the cut show, nearer the whole picture the more of them there are.
    const QImage picture = pattern(257, 131, false).convertToFormat(QImage::Format_RGBA8888);
    for (const OPJ_PROG_ORDER order : {OPJ_LRCP, OPJ_RLCP, OPJ_RPCL, OPJ_PCRL, OPJ_CPRL})
        for (const bool marked : {false, true}) {
            SCOPED_TRACE(testing::Message() << "order " << order << " marked " << marked);
            const QByteArray stream = orderedJ2k(dir.filePath(QStringLiteral("ordered.j2k")), picture, order, marked);
            ASSERT_FALSE(stream.isEmpty());
            const QImage whole = ImageSource::createWithData(stream)->createImageAtIndex(0);
            double former = 1e9;
            for (const qsizetype length : {stream.size() / 5, stream.size() / 2, stream.size() * 4 / 5, stream.size() - 3}) {
                QString error;
                const auto source = ImageSource::createWithData(stream.left(length), &error);
                const QImage shown = source ? source->createImageAtIndex(0, &error) : QImage();
                ASSERT_EQ(shown.size(), whole.size()) << "cut at " << length << ": " << error.toStdString();
                const double difference = meanLevelDifference(shown, whole);
                EXPECT_LE(difference, former) << "cut at " << length;
                former = difference;
            }
            EXPECT_LE(former, 2.0);
        }

    // Cut in the main header, or before any tile's data: refused, with the reason.
    for (const qsizetype length : {qsizetype(tiled.indexOf("jp2c") + 30), parts[0].first + 6}) {
        QString error;
        const auto source = ImageSource::createWithData(tiled.left(length), &error);
        if (source)
            EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull());
        EXPECT_TRUE(error.contains(QLatin1String("cut short"))) << length << ": " << error.toStdString();
    }
}

// Each packet of a tile that is not empty makes the library step through every code block of its
// precinct. A real file of the smallest code blocks in many layers shows; a few hundred bytes that
// declare hundreds of thousands of such blocks in one precinct, each packet a byte of them, are
// refused with the reason before the library spends seconds on every decode of them.
TEST(ImageParts, Jpeg2000PacketsOverTinyCodeBlocksCostWhatTheirBytesHold)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage picture = pattern(160, 120, false).convertToFormat(QImage::Format_RGBA8888);
    const QByteArray real = orderedJ2k(dir.filePath(QStringLiteral("tiny-blocks.j2k")), picture, OPJ_LRCP, false, 4, 8);
    ASSERT_FALSE(real.isEmpty());
    QString error;
    auto source = ImageSource::createWithData(real, &error);
    ASSERT_TRUE(source) << error.toStdString();
    const QImage shown = source->createImageAtIndex(0, &error);
    ASSERT_EQ(shown.size(), picture.size()) << error.toStdString();
    EXPECT_LE(meanLevelDifference(shown, picture.convertToFormat(QImage::Format_RGBA8888_Premultiplied)), 1.0);

    // One grey tile of 2200 x 2200 in code blocks of 4 x 4, one resolution, 200 layers; its
    // packets, two bytes each: "not empty, no block included", then an empty one.
    const QByteArray hostile = tinyBlockJ2k(2200, 2200, 0, 200, QByteArray("\x80\x00", 2).repeated(120));
    ASSERT_LT(hostile.size(), 400);
    error.clear();
    source = ImageSource::createWithData(hostile, &error);
    if (source)
        EXPECT_TRUE(source->createThumbnailAtIndex(0, 160, true, &error).isNull());
    EXPECT_TRUE(error.contains(QLatin1String("code blocks"))) << error.toStdString();
}

} // namespace

namespace {

// A sample of the small 16-bit test pictures: every pixel and channel tells its place.
quint16 deepLevel(int x, int y, int c) { return quint16(x * 1031 + y * 257 + c * 9973 + 11); }

// A PNG of 16 bits a sample, RGB with alpha, interlaced (its rows come in seven passes).
bool writeInterlacedDeepPng(const QString &path, int width, int height)
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    png_structp png = file ? png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr) : nullptr;
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<std::vector<quint16>> rows(size_t(height), std::vector<quint16>(size_t(width) * 4));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 4; ++x)
            rows[size_t(y)][size_t(x)] = deepLevel(x / 4, y, x % 4);
        pointers.push_back(reinterpret_cast<png_bytep>(rows[size_t(y)].data()));
    }
    bool ok = info && !setjmp(png_jmpbuf(png));
    if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 16, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_ADAM7,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_swap(png);
        png_write_image(png, pointers.data());
        png_write_end(png, nullptr);
    }
    if (png)
        png_destroy_write_struct(&png, info ? &info : nullptr);
    return file && std::fclose(file) == 0 && ok;
}

// A TIFF of 16 bits a sample: grey (white is zero) or RGB with alpha, in tiles of 16 x 16 or in
// strips of 7 rows, its samples side by side or in planes of their own.
bool writeDeepTiff(const QString &path, int width, int height, bool grey, bool tiled, bool planes)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const int samples = grey ? 1 : 4;
    const uint16_t alpha[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
    if (!grey)
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, alpha);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    const int per = planes ? 1 : samples;
    bool ok = true;
    for (int plane = 0; plane < (planes ? samples : 1); ++plane) {
        // What the file stores for pixel (x, y): white-is-zero grey keeps the level turned over.
        const auto stored = [&](int x, int y, int s) {
            const int c = planes ? plane : s;
            return grey ? quint16(0xFFFF - deepLevel(x, y, 0)) : deepLevel(x, y, c);
        };
        if (tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
            std::vector<quint16> tile(size_t(16 * 16 * per));
            for (int ty = 0; ty < height; ty += 16)
                for (int tx = 0; tx < width; tx += 16) {
                    for (int y = 0; y < 16; ++y)
                        for (int x = 0; x < 16; ++x)
                            for (int s = 0; s < per; ++s)
                                tile[size_t((y * 16 + x) * per + s)] = stored(tx + x, ty + y, s);
                    ok = ok && TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0, uint16_t(plane)) >= 0;
                }
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 7);
            std::vector<quint16> row(size_t(width * per));
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x)
                    for (int s = 0; s < per; ++s)
                        row[size_t(x * per + s)] = stored(x, y, s);
                ok = ok && TIFFWriteScanline(tif, row.data(), uint32_t(y), uint16_t(plane)) >= 0;
            }
        }
    }
    TIFFClose(tif);
    return ok;
}

} // namespace

// A part of a 16-bit picture read alone (for a crop that keeps the depth) holds exactly the
// picture's samples there, as RGBA64, in every layout: interlaced PNG passes, tiles cut by the
// edges, strips started mid-strip, samples in planes, grey either way up; a part outside the
// picture is refused with a reason.
TEST(ImageParts, SixteenBitPartsHoldThePicturesOwnSamples)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int width = 50, height = 40;
    struct Case {
        const char *name;
        std::function<bool(const QString &)> write;
        bool grey;
    };
    const Case cases[] = {
        {"adam7.png", [&](const QString &p) { return writeInterlacedDeepPng(p, width, height); }, false},
        {"tiles.tif", [&](const QString &p) { return writeDeepTiff(p, width, height, false, true, false); }, false},
        {"planes.tif", [&](const QString &p) { return writeDeepTiff(p, width, height, false, false, true); }, false},
        {"tiled-planes.tif", [&](const QString &p) { return writeDeepTiff(p, width, height, false, true, true); }, false},
        {"grey.tif", [&](const QString &p) { return writeDeepTiff(p, width, height, true, false, false); }, true},
        {"grey.png",
         [&](const QString &p) {
             QImage grey(width, height, QImage::Format_Grayscale16);
             for (int y = 0; y < height; ++y)
                 for (int x = 0; x < width; ++x)
                     reinterpret_cast<quint16 *>(grey.scanLine(y))[x] = deepLevel(x, y, 0);
             return grey.save(p, "PNG");
         },
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(c.write(path));
        ASSERT_TRUE(kpv::ImageDestination::keepsSixteenBitsOnRewrite(path));
        for (const QRect rect : {QRect(0, 0, width, height), QRect(9, 17, 23, 13), QRect(47, 38, 3, 2)}) {
            QString error;
            const QImage part = kpv::ImageDestination::readSixteenBitPart(path, rect, &error);
            ASSERT_EQ(part.size(), rect.size()) << error.toStdString();
            ASSERT_EQ(part.format(), QImage::Format_RGBA64);
            for (int y = 0; y < rect.height(); ++y) {
                const auto *row = reinterpret_cast<const quint16 *>(part.constScanLine(y));
                for (int x = 0; x < rect.width(); ++x)
                    for (int s = 0; s < 4; ++s) {
                        const int px = rect.x() + x, py = rect.y() + y;
                        const quint16 want = c.grey ? (s == 3 ? 0xFFFF : deepLevel(px, py, 0)) : deepLevel(px, py, s);
                        ASSERT_EQ(row[x * 4 + s], want) << px << "," << py << " sample " << s;
                    }
            }
        }
        QString error;
        EXPECT_TRUE(kpv::ImageDestination::readSixteenBitPart(path, QRect(45, 0, 10, 10), &error).isNull());
        EXPECT_TRUE(error.contains(QStringLiteral("outside"))) << error.toStdString();
    }
}
