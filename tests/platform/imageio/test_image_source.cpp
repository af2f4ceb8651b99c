// Reading: every format against its reference library, scaled decodes, properties, animated
// GIF composition, size limits and truncated files.

#include "imageio/ContentTypes.h"
#include "imageio/GifAnimation.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"
#include "imageio/UprightImage.h"
#include "imageio_support.h"
#include "../../support/LargePictures.h"

#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>
#include <webp/encode.h>
#include <zlib.h>

#include <gtest/gtest.h>

using namespace kpv;
using namespace kpv::test;

#include "imageio/DecodeBudget.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define KPV_HAVE_ALLOC_HOOK 1
#endif
#endif
#ifndef KPV_HAVE_ALLOC_HOOK
#define KPV_HAVE_ALLOC_HOOK 0
#endif

namespace {

// libjpeg-turbo's decode of a JPEG at 1/reduction (its fancy upsampling, accurate transform).
QImage decodeWithTurbo(const QByteArray& jpeg, int reduction = 1)
{
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, cs = 0;
    tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(jpeg.constData()), jpeg.size(), &w, &h, &sub, &cs);
    const int sw = (w + reduction - 1) / reduction, sh = (h + reduction - 1) / reduction;
    QImage out(sw, sh, QImage::Format_RGBA8888);
    tjDecompress2(tj, reinterpret_cast<const unsigned char*>(jpeg.constData()), jpeg.size(), out.bits(), sw,
                  int(out.bytesPerLine()), sh, TJPF_RGBA, TJFLAG_ACCURATEDCT);
    tjDestroy(tj);
    return out;
}

// Per channel: the mean difference, its sign's mean (a bias) and the largest.
struct Agreement {
    double mean[3] = {}, bias[3] = {};
    int largest = 0;
};
Agreement agreement(const QImage& ours, const QImage& reference)
{
    Agreement a;
    const QImage x = ours.convertToFormat(QImage::Format_RGBA8888), y = reference.convertToFormat(QImage::Format_RGBA8888);
    const double n = double(x.width()) * x.height();
    for (int r = 0; r < x.height(); ++r)
        for (int c = 0; c < x.width(); ++c)
            for (int k = 0; k < 3; ++k) {
                const int d = int(x.constScanLine(r)[c * 4 + k]) - int(y.constScanLine(r)[c * 4 + k]);
                a.mean[k] += std::abs(d) / n;
                a.bias[k] += d / n;
                a.largest = std::max(a.largest, std::abs(d));
            }
    return a;
}

struct JpegCase {
    const char* name;
    int width, height, quality, subsampling;
    bool progressive;
};

class JpegAgainstReference : public ::testing::TestWithParam<JpegCase> {};

// The whole picture, the fit-in at a quarter and a part of the middle, each as the viewer asks
// for it, within a level of the reference library's decode of the same file on average, with no
// bias in any channel and no pixel far off; and the file cut short shows its first rows.
TEST_P(JpegAgainstReference, DecodesLikeTheReferenceLibrary)
{
    const JpegCase c = GetParam();
    const QByteArray file = referenceJpeg(pattern(c.width, c.height, false), c.quality, c.progressive, c.subsampling);
    ASSERT_FALSE(file.isEmpty());
    auto source = ImageSource::createWithData(file);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->type(), ContentTypes::kJpeg);
    EXPECT_EQ(source->count(), 1);
    const QImage whole = decodeWithTurbo(file, 1);
    const QRect middle(c.width / 3, c.height / 3, c.width / 3 + 1, c.height / 3 + 1);
    const QSize quarter((c.width + 3) / 4, (c.height + 3) / 4);
    QString error;
    const QImage full = source->createImageAtIndex(0, &error);
    ASSERT_EQ(full.format(), QImage::Format_RGBA8888_Premultiplied) << error.toStdString();
    const std::vector<std::tuple<const char*, QImage, QImage>> roads = {
        {"whole", full, whole},
        {"fit-in at a quarter", source->createThumbnailAtIndex(0, std::max(quarter.width(), quarter.height()), true),
         decodeWithTurbo(file, 4)},
        {"part", source->createImageInRect(0, middle, 1, &error), whole.copy(middle)},
    };
    for (const auto& [road, ours, reference] : roads) {
        SCOPED_TRACE(road);
        // A quarter of a few pixels is all edges, where the two reduce chroma each their own way.
        if (std::min(c.width, c.height) < 64 && reference.width() < c.width)
            continue;
        ASSERT_EQ(ours.size(), reference.size()) << error.toStdString();
        const Agreement a = agreement(ours, reference);
        for (int k = 0; k < 3; ++k) {
            EXPECT_LE(a.mean[k], 1.0) << "channel " << k;
            EXPECT_LE(std::abs(a.bias[k]), 0.35) << "channel " << k;
        }
        EXPECT_LE(a.largest, 12);
    }
    if (c.height < 128)
        return;
    // Cut at two thirds of its data: the picture keeps its size and shows what the reference
    // shows of the same bytes, the rows above the cut and the fill below it.
    const QByteArray cutBytes = file.left(file.size() * 2 / 3);
    auto cut = ImageSource::createWithData(cutBytes, &error);
    ASSERT_TRUE(cut) << error.toStdString();
    const QImage shown = cut->createImageAtIndex(0, &error);
    ASSERT_EQ(shown.size(), whole.size()) << error.toStdString();
    for (const int top : {0, c.height * 3 / 4}) {
        const QRect rows(0, top, c.width, c.height / 4);
        const Agreement a = agreement(shown.copy(rows), decodeWithTurbo(cutBytes).copy(rows));
        for (int k = 0; k < 3; ++k)
            EXPECT_LE(a.mean[k], 1.0) << "cut, rows from " << top << ", channel " << k;
    }
    if (c.progressive)
        return;
    // A marker where the data should go on: the rows above it show, those below are each a plain
    // fill (grey where the decoder passed blocks it had no data for, clear after), never stray
    // memory.
    auto damaged = ImageSource::createWithData(QByteArray(file).replace(file.size() * 2 / 3, 2, "\xFF\xC0"), &error);
    ASSERT_TRUE(damaged) << error.toStdString();
    const QImage partly = damaged->createImageAtIndex(0, &error);
    ASSERT_EQ(partly.size(), whole.size()) << error.toStdString();
    const QRect above(0, 0, c.width, c.height / 4);
    const Agreement a = agreement(partly.copy(above), whole.copy(above));
    for (int k = 0; k < 3; ++k)
        EXPECT_LE(a.mean[k], 1.0) << "damaged, channel " << k;
    for (int y = c.height * 3 / 4; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            ASSERT_EQ(partly.pixel(x, y), partly.pixel(0, y)) << x << ", " << y;
}

INSTANTIATE_TEST_SUITE_P(Generated, JpegAgainstReference,
                         ::testing::Values(JpegCase{"baseline444", 64, 48, 90, TJSAMP_444, false},
                                           JpegCase{"baseline420odd", 101, 75, 75, TJSAMP_420, false},
                                           JpegCase{"baseline420", 517, 389, 90, TJSAMP_420, false},
                                           JpegCase{"baseline422odd", 203, 131, 90, TJSAMP_422, false},
                                           JpegCase{"baseline440odd", 203, 131, 90, TJSAMP_440, false},
                                           JpegCase{"progressive420odd", 517, 389, 85, TJSAMP_420, true},
                                           JpegCase{"progressive422", 33, 17, 50, TJSAMP_422, true},
                                           JpegCase{"grey", 17, 9, 95, TJSAMP_GRAY, false},
                                           JpegCase{"greyodd", 203, 131, 90, TJSAMP_GRAY, false},
                                           JpegCase{"tiny", 1, 1, 10, TJSAMP_420, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageSourceScaled, LongerSideBecomesTheAskedSizeAndSmallImagesAreNotEnlarged)
{
    const QByteArray file = referenceJpeg(pattern(2000, 1500, false), 85, false, TJSAMP_420);
    auto source = ImageSource::createWithData(file);
    ASSERT_TRUE(source);
    const QImage thumb = source->createThumbnailAtIndex(0, 256, true);
    EXPECT_EQ(thumb.size(), QSize(256, 192));
    const QImage fit = source->createThumbnailAtIndex(0, 1024, true);
    EXPECT_EQ(fit.size(), QSize(1024, 768));
    // The scaled picture is the full one, smaller: compare against a smooth downscale.
    const QImage full = source->createImageAtIndex(0).scaled(256, 192, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LE(maxChannelDifference(thumb, full), 24);
    EXPECT_EQ(source->createThumbnailAtIndex(0, 5000, true).size(), QSize(2000, 1500));
    // No EXIF block: asking for the stored thumbnail only gives none.
    EXPECT_TRUE(source->createThumbnailAtIndex(0, 160, false).isNull());
}

// A progressive file wanted at an eighth (a thumbnail) is read from the scans it needs and holds
// one row of blocks: each pixel is the mean of its 8 x 8 area of the picture as the reference
// library shows it, in every layout and at sizes that end inside a block.
TEST(ImageSourceScaled, AProgressiveJpegAtAnEighthIsTheMeanOfEachArea)
{
    struct Layout {
        const char* name;
        int subsampling;
    };
    for (const Layout layout : {Layout{"4:2:0", TJSAMP_420}, Layout{"4:2:2", TJSAMP_422}, Layout{"4:4:4", TJSAMP_444},
                                Layout{"grey", TJSAMP_GRAY}}) {
        for (const QSize size : {QSize(800, 600), QSize(803, 597)}) {
            SCOPED_TRACE(testing::Message() << layout.name << " " << size.width() << "x" << size.height());
            const QByteArray file = referenceJpeg(pattern(size.width(), size.height(), false), 90, true, layout.subsampling);
            auto source = ImageSource::createWithData(file);
            ASSERT_TRUE(source);
            const int w = (size.width() + 7) / 8, h = (size.height() + 7) / 8;
            QString error;
            const QImage ours = source->createThumbnailAtIndex(0, std::max(w, h), true, &error);
            ASSERT_FALSE(ours.isNull()) << error.toStdString();
            ASSERT_EQ(ours.size(), QSize(w, h));
            const QImage got = ours.convertToFormat(QImage::Format_RGBA8888);
            const QImage full = decodeWithTurbo(file);
            // Every area wholly inside the picture: rounding only, no level's bias, no shifted or
            // misplaced chroma.
            double sum[3] = {}, bias[3] = {}, n = 0;
            int worst = 0;
            for (int y = 0; y < size.height() / 8; ++y)
                for (int x = 0; x < size.width() / 8; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        int area = 0;
                        for (int yy = 0; yy < 8; ++yy)
                            for (int xx = 0; xx < 8; ++xx)
                                area += full.constScanLine(y * 8 + yy)[(x * 8 + xx) * 4 + c];
                        const int d = int(got.constScanLine(y)[x * 4 + c]) - (area + 32) / 64;
                        sum[c] += std::abs(d);
                        bias[c] += d;
                        worst = std::max(worst, std::abs(d));
                    }
                    n += 1;
                }
            for (int c = 0; c < 3; ++c) {
                EXPECT_LE(sum[c] / n, 0.75) << "channel " << c << " bias " << bias[c] / n;
                EXPECT_LE(std::abs(bias[c]) / n, 0.3) << "channel " << c << " mean " << sum[c] / n;
            }
            EXPECT_LE(worst, 4);
        }
    }
}

TEST(ImageSourcePng, EveryLayoutMatchesTheSourcePixels)
{
    for (bool alpha : {false, true})
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE(testing::Message() << "alpha " << alpha << " interlaced " << interlaced);
            const QImage original = pattern(37, 23, alpha);
            auto source = ImageSource::createWithData(referencePng(original, alpha, interlaced));
            ASSERT_TRUE(source);
            EXPECT_EQ(source->type(), ContentTypes::kPng);
            // Straight alpha in the file, premultiplied on both sides here: rounding may differ by one.
            EXPECT_LE(maxChannelDifference(source->createImageAtIndex(0), original), 1);
        }
}

// The box average of premultiplied `full` over factor x factor blocks (edge blocks: what they have).
QImage boxReduced(const QImage& full, int factor)
{
    const int w = (full.width() + factor - 1) / factor, h = (full.height() + factor - 1) / factor;
    QImage out(w, h, QImage::Format_RGBA8888_Premultiplied);
    for (int oy = 0; oy < h; ++oy)
        for (int ox = 0; ox < w; ++ox) {
            unsigned sum[4] = {0, 0, 0, 0}, count = 0;
            for (int y = oy * factor; y < std::min(full.height(), (oy + 1) * factor); ++y)
                for (int x = ox * factor; x < std::min(full.width(), (ox + 1) * factor); ++x, ++count)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += full.constScanLine(y)[x * 4 + c];
            for (int c = 0; c < 4; ++c)
                out.scanLine(oy)[ox * 4 + c] = uchar((sum[c] + count / 2) / count);
        }
    return out;
}

TEST(ImageSourcePng, ReducedDecodeIsTheBoxAverageOfTheFullOne)
{
    // 200 x 121 at 50 pixels: blocks of 4, the last block row one pixel high; and the same turned
    // upright, so the short column block is on the right.
    // Interlaced files too: their passes' pixels go to the blocks they fall in.
    for (QSize size : {QSize(200, 121), QSize(121, 200)})
        for (bool alpha : {false, true})
            for (bool interlaced : {false, true}) {
                SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height() << " alpha " << alpha
                                                << " interlaced " << interlaced);
                auto source = ImageSource::createWithData(
                    referencePng(pattern(size.width(), size.height(), alpha), alpha, interlaced));
                ASSERT_TRUE(source);
                const QImage reduced = source->createThumbnailAtIndex(0, 50, true);
                const QImage expected = boxReduced(source->createImageAtIndex(0), 4);
                ASSERT_EQ(reduced.size(), expected.size());
                EXPECT_EQ(maxChannelDifference(reduced, expected), 0);
            }
}

// A large picture of one colour, repeated rows and all, gives its colour at every size, and its
// thumbnail and a part of it never hold the full-size picture, interlaced or not.
TEST(ImageSourcePng, FlatPictureThumbnailHoldsNoFullFrame)
{
    QImage flat(3000, 2000, QImage::Format_RGBA8888);
    flat.fill(QColor(30, 120, 200, 128));
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(testing::Message() << "interlaced " << interlaced);
        auto source = ImageSource::createWithData(referencePng(flat, true, interlaced));
        ASSERT_TRUE(source);
        DecodeBudget& budget = DecodeBudget::shared();
        budget.resetPeak();
        const uint64_t before = budget.peak();
        QString error;
        const QImage thumbnail = source->createThumbnailAtIndex(0, 100, true, &error);
        ASSERT_EQ(thumbnail.size(), QSize(100, 67)) << error.toStdString();
        EXPECT_LT(budget.peak() - before, uint64_t(flat.sizeInBytes()) / 8);
        budget.resetPeak();
        const QImage part = source->createImageInRect(0, QRect(2000, 1500, 300, 200), 1, &error);
        ASSERT_EQ(part.size(), QSize(300, 200)) << error.toStdString();
        EXPECT_LT(budget.peak() - before, uint64_t(flat.sizeInBytes()) / 8);
        const QImage whole = source->createImageAtIndex(0, &error);
        ASSERT_EQ(whole.size(), flat.size()) << error.toStdString();
        const QRgb expected = qPremultiply(qRgba(30, 120, 200, 128));
        for (const QImage& image : {thumbnail, part, whole})
            for (QPoint at : {QPoint(0, 0), QPoint(image.width() - 1, image.height() - 1), QPoint(image.width() / 2, 1)})
                EXPECT_EQ(image.pixel(at), expected) << at.x() << "," << at.y();
    }
}

// A frame of more than 64 MB, whose memory is made resident beside the decode, holds the file's
// pixels, opaque, from its first row to its last; cut short, the rows that never came are clear,
// and every row shown is the file's own.
TEST(ImageSourcePng, LargeFrameHoldsEveryRowAndACutOneClearsTheRest)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int width = 4400, height = 4000;  // 70 MB of frame
    const QString path = dir.filePath(QStringLiteral("large.png"));
    ASSERT_TRUE(test::writeLargePng(path, width, height));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    for (qsizetype size : {whole.size(), whole.size() * 3 / 5}) {
        SCOPED_TRACE(size);
        QString error;
        const auto source = ImageSource::createWithData(whole.left(size), &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage image = source->createImageAtIndex(0, &error);
        ASSERT_EQ(image.size(), QSize(width, height)) << error.toStdString();
        int firstClear = height;
        for (int y = height - 1; y >= 0 && image.pixel(0, y) == 0 && image.pixel(width - 1, y) == 0; --y)
            firstClear = y;
        EXPECT_EQ(firstClear == height, size == whole.size()) << firstClear;
        EXPECT_GT(firstClear, height / 3);
        // Up to the last row before the clear ones: none is made of the bytes that never came.
        for (int y : {0, 1, firstClear / 2, firstClear - 1}) {
            const QImage expected = test::largePicturePart(QRect(0, y, width, 1), width);
            EXPECT_EQ(std::memcmp(image.constScanLine(y), expected.constScanLine(0), size_t(width) * 4), 0) << y;
        }
        for (int y = firstClear; y < height; y += 97)
            for (int x = 0; x < width; x += 211)
                ASSERT_EQ(image.pixel(x, y), 0u) << x << "," << y;
    }
}

TEST(ImageSourcePng, ReducedDecodeOfALargeBlockKeepsItsLevel)
{
    // One block of 4200 x 4200 white pixels sums past 32 bits: the thumbnail must stay white.
    QImage white(4200, 4200, QImage::Format_RGBA8888);
    white.fill(Qt::white);
    auto source = ImageSource::createWithData(referencePng(white, false, false));
    ASSERT_TRUE(source);
    const QImage dot = source->createThumbnailAtIndex(0, 1, true);
    ASSERT_EQ(dot.size(), QSize(1, 1));
    EXPECT_EQ(QColor(dot.pixel(0, 0)), QColor(Qt::white));
}

// A PNG of palette indexes or grey levels of `depth` bits, written as stored: `samples` gives
// each pixel's value. A palette shorter than the indexes used, and tRNS when given.
QByteArray storedSamplesPng(int colorType, int depth, int width, int height, bool interlaced,
                            const std::vector<png_color>& palette, const std::vector<png_byte>& transAlpha,
                            int transGrey, const std::function<int(int, int)>& samples)
{
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, png_size_t n) {
            static_cast<QByteArray*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(d), qsizetype(n));
        },
        nullptr);
    png_set_check_for_invalid_index(png, 0);  // indexes past the palette, as a careless writer leaves them
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), depth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    png_color_16 grey{};
    grey.gray = png_uint_16(std::max(transGrey, 0));
    if (!transAlpha.empty())
        png_set_tRNS(png, info, transAlpha.data(), int(transAlpha.size()), nullptr);
    else if (transGrey >= 0)
        png_set_tRNS(png, info, nullptr, 0, &grey);
    png_write_info(png, info);
    png_set_packing(png);
    const int passes = png_set_interlace_handling(png);
    std::vector<png_byte> row(static_cast<size_t>(width));
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                row[size_t(x)] = png_byte(samples(x, y));
            png_write_row(png, row.data());
        }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// The library's own expansion of a PNG to straight RGBA.
QImage libraryRgba(const QByteArray& file)
{
    struct Input {
        const QByteArray& bytes;
        qsizetype at = 0;
    } input{file};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    QImage out;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return {};
    }
    png_set_read_fn(png, &input, [](png_structp p, png_bytep d, png_size_t n) {
        auto* in = static_cast<Input*>(png_get_io_ptr(p));
        if (in->at + qsizetype(n) > in->bytes.size())
            png_error(p, "short");
        std::memcpy(d, in->bytes.constData() + in->at, n);
        in->at += qsizetype(n);
    });
    png_read_info(png, info);
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out = QImage(int(png_get_image_width(png, info)), int(png_get_image_height(png, info)), QImage::Format_RGBA8888);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < out.height(); ++y)
            png_read_row(png, out.scanLine(y), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return out;
}

// Palette indexes and grey levels of every depth, with and without tRNS, an index past a short
// palette among them: full size, premultiplied or straight, reduced and in parts, the pixels are
// the library's own expansion.
TEST(ImageSourcePng, PaletteAndGreyPixelsAreTheLibrarysOwn)
{
    const std::vector<png_color> palette = {{30, 120, 200}, {255, 0, 0}, {0, 0, 0}, {9, 250, 77}, {1, 2, 3},
                                            {200, 200, 10}, {70, 0, 140}, {128, 128, 128}, {255, 255, 255}};
    for (int colorType : {PNG_COLOR_TYPE_PALETTE, PNG_COLOR_TYPE_GRAY})
        for (int depth : {1, 2, 4, 8})
            for (bool trans : {false, true})
                for (bool interlaced : {false, true}) {
                    SCOPED_TRACE(testing::Message() << "type " << colorType << " depth " << depth << " tRNS " << trans
                                                    << " interlaced " << interlaced);
                    const int levels = 1 << depth;
                    // A palette short of the levels leaves the highest index (at least) past it.
                    const std::vector<png_color> used(palette.begin(), palette.begin() + std::min<int>(levels - 1, int(palette.size())));
                    const bool indexed = colorType == PNG_COLOR_TYPE_PALETTE;
                    const std::vector<png_byte> alphas = indexed && trans ? std::vector<png_byte>{0, 128, 255, 40} : std::vector<png_byte>{};
                    const QByteArray file = storedSamplesPng(
                        colorType, depth, 38, 23, interlaced, indexed ? used : std::vector<png_color>{},
                        std::vector<png_byte>(alphas.begin(), alphas.begin() + std::min<size_t>(alphas.size(), used.size())),
                        !indexed && trans ? levels / 2 : -1, [levels](int x, int y) {
                            // Runs of the lowest and highest level on the first rows, as a page or a flat
                            // picture has, then every level mixed.
                            return y < 5 ? ((x / 9 + y) % 2 ? levels - 1 : 0) : (x * 7 + y * 3 + x * y) % levels;
                        });
                    ASSERT_FALSE(file.isEmpty());
                    const QImage reference = libraryRgba(file);
                    ASSERT_FALSE(reference.isNull());
                    auto source = ImageSource::createWithData(file);
                    ASSERT_TRUE(source);
                    const QImage straight = source->createStraightImageAtIndex(0);
                    ASSERT_EQ(straight.size(), reference.size());
                    EXPECT_EQ(straight.convertToFormat(QImage::Format_RGBA8888), reference);
                    QImage premultiplied = reference.copy();
                    for (int y = 0; y < premultiplied.height(); ++y)
                        for (int x = 0; x < premultiplied.width(); ++x) {
                            uchar* p = premultiplied.scanLine(y) + x * 4;
                            for (int c = 0; c < 3; ++c)
                                p[c] = uchar((p[c] * p[3] + 127) / 255);
                        }
                    premultiplied.reinterpretAsFormat(QImage::Format_RGBA8888_Premultiplied);
                    const QImage whole = source->createImageAtIndex(0);
                    EXPECT_EQ(maxChannelDifference(whole, premultiplied), 0);
                    const QImage reduced = boxReduced(premultiplied, 2);
                    EXPECT_EQ(maxChannelDifference(source->createThumbnailAtIndex(0, 19, true), reduced), 0);
                    const QRect part(3, 2, 10, 8);
                    EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, part, 2), reduced.copy(part)), 0);
                    EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, QRect(5, 9, 30, 11), 1),
                                                   premultiplied.copy(5, 9, 30, 11)), 0);
                }
}

// An EXIF block of one entry, the orientation, in the byte order `bigEndian` says.
QByteArray exifOrientation(int orientation, bool bigEndian)
{
    auto put = [bigEndian](quint32 v, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i)
            out.append(char((v >> (8 * (bigEndian ? bytes - 1 - i : i))) & 0xFF));
        return out;
    };
    return QByteArray(bigEndian ? "MM" : "II") + put(42, 2) + put(8, 4) + put(1, 2) + put(0x0112, 2) + put(3, 2) +
           put(1, 4) + put(quint32(orientation), 2) + put(0, 2) + put(0, 4);
}

QByteArray pngChunkNamed(const char* type, const QByteArray& body)
{
    QByteArray chunk;
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.append(char((body.size() >> shift) & 0xFF));
    chunk += QByteArray(type, 4) + body;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.constData() + 4), uInt(chunk.size() - 4));
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.append(char((crc >> shift) & 0xFF));
    return chunk;
}

TEST(ImageSourcePng, ExifOrientationTurnsThePictureUprightHoweverTheChunkIsWritten)
{
    // Where the stored top-left pixel shows for each orientation, on an upright picture of w x h.
    auto shownAt = [](int orientation, int w, int h) {
        switch (orientation) {
        case 2: case 6: return QPoint(w - 1, 0);
        case 3: case 7: return QPoint(w - 1, h - 1);
        case 4: case 8: return QPoint(0, h - 1);
        default: return QPoint(0, 0);
        }
    };
    enum Layout { BareLittleEndian, BareBigEndian, NamedAsInJpeg, AfterThePixels };
    QTemporaryDir dir;
    for (const QSize stored : {QSize(6, 4), QSize(4, 6)}) {
        QImage picture(stored, QImage::Format_RGBA8888_Premultiplied);
        picture.fill(QColor(0, 0, 255));
        picture.setPixelColor(0, 0, QColor(255, 0, 0));
        const QByteArray png = referencePng(picture, false, false);
        for (int orientation = 1; orientation <= 8; ++orientation) {
            for (Layout layout : {BareLittleEndian, BareBigEndian, NamedAsInJpeg, AfterThePixels}) {
                SCOPED_TRACE(testing::Message() << stored.width() << "x" << stored.height() << " orientation "
                                                << orientation << " layout " << layout);
                const QByteArray exif = (layout == NamedAsInJpeg ? QByteArray("Exif\0\0", 6) : QByteArray()) +
                                        exifOrientation(orientation, layout == BareBigEndian);
                QByteArray file = png;
                file.insert(layout == AfterThePixels ? file.size() - 12 : 33, pngChunkNamed("eXIf", exif));
                const QString path = writeFile(dir, QStringLiteral("photo.png"), file);
                auto source = ImageSource::createWithFile(path);
                ASSERT_TRUE(source);
                EXPECT_EQ(source->propertiesAtIndex(0).value(kCGImagePropertyOrientation).toInt(), orientation);
                const QImage upright = decodeUprightImage(path, 0);
                const QSize size = orientation >= 5 ? stored.transposed() : stored;
                ASSERT_EQ(upright.size(), size);
                EXPECT_EQ(upright.pixel(shownAt(orientation, size.width(), size.height())), qRgba(255, 0, 0, 255));
            }
        }
    }
}

TEST(ImageSourcePng, InterlacedOpaqueBlackSurvives)
{
    QImage black(9, 9, QImage::Format_RGBA8888_Premultiplied);
    black.fill(Qt::black);
    auto source = ImageSource::createWithData(referencePng(black, true, true));
    ASSERT_TRUE(source);
    const QImage decoded = source->createImageAtIndex(0);
    EXPECT_EQ(decoded.pixel(4, 4), qRgba(0, 0, 0, 255));
}

// A lossless WebP file of straight-alpha `image`.
QByteArray losslessWebp(const QImage& image)
{
    const QImage straight = image.convertToFormat(QImage::Format_RGBA8888);
    uint8_t* out = nullptr;
    const size_t size = WebPEncodeLosslessRGBA(straight.constBits(), straight.width(), straight.height(),
                                               int(straight.bytesPerLine()), &out);
    const QByteArray file(reinterpret_cast<const char*>(out), qsizetype(size));
    WebPFree(out);
    return file;
}

TEST(ImageSourceWebp, LosslessMatches)
{
    const QImage original = pattern(40, 30, true);
    auto source = ImageSource::createWithData(losslessWebp(original));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->type(), ContentTypes::kWebp);
    EXPECT_LE(maxChannelDifference(source->createImageAtIndex(0), original), 1);
}

// An animated WebP of one frame, `frame` drawn at `offset` on a canvas of `canvas`, as the
// animation encoders write a first frame that leaves the canvas edges transparent.
QByteArray animatedWebp(QSize canvas, QPoint offset, const QImage& frame)
{
    const QByteArray still = losslessWebp(frame);
    const QByteArray bitstream = still.mid(12);  // the VP8L chunk, header and all
    auto le = [](quint32 v, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i)
            out.append(char((v >> (8 * i)) & 0xFF));
        return out;
    };
    auto chunk = [&](const char* tag, const QByteArray& body) {
        QByteArray out = QByteArray(tag, 4) + le(quint32(body.size()), 4) + body;
        if (body.size() % 2)
            out.append('\0');
        return out;
    };
    const QByteArray vp8x = chunk("VP8X", le(0x12, 4) + le(quint32(canvas.width() - 1), 3) +
                                              le(quint32(canvas.height() - 1), 3));
    const QByteArray anim = chunk("ANIM", le(0xFFFFFFFF, 4) + le(0, 2));
    const QByteArray anmf = chunk("ANMF", le(quint32(offset.x() / 2), 3) + le(quint32(offset.y() / 2), 3) +
                                              le(quint32(frame.width() - 1), 3) + le(quint32(frame.height() - 1), 3) +
                                              le(100, 3) + le(0, 1) + bitstream);
    const QByteArray body = "WEBP" + vp8x + anim + anmf;
    return "RIFF" + le(quint32(body.size()), 4) + body;
}

TEST(ImageSourceWebp, AnimationsFirstFrameSitsAtItsPlaceOnTheCanvas)
{
    struct Case {
        QSize canvas;
        QPoint offset;
        QSize frame;
    };
    const Case cases[] = {
        {{8, 6}, {2, 2}, {4, 2}},  // inside, transparent all round
        {{8, 6}, {0, 0}, {8, 6}},  // the whole canvas
        {{8, 6}, {4, 0}, {4, 6}},  // against the right edge
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1,%2 %3x%4").arg(c.offset.x()).arg(c.offset.y()).arg(c.frame.width()).arg(c.frame.height()).toStdString());
        QImage frame(c.frame, QImage::Format_RGBA8888_Premultiplied);
        frame.fill(QColor(255, 0, 0));
        auto source = ImageSource::createWithData(animatedWebp(c.canvas, c.offset, frame));
        ASSERT_TRUE(source);
        EXPECT_EQ(source->reducedFrameSize(0, 1), c.canvas);
        const QImage shown = source->createImageAtIndex(0);
        ASSERT_EQ(shown.size(), c.canvas);
        const QRect drawn(c.offset, c.frame);
        for (int y = 0; y < c.canvas.height(); ++y)
            for (int x = 0; x < c.canvas.width(); ++x)
                ASSERT_EQ(shown.pixel(x, y), drawn.contains(x, y) ? qRgba(255, 0, 0, 255) : 0u) << x << "," << y;
        const QImage thumbnail = source->createThumbnailAtIndex(0, 4, true);
        EXPECT_EQ(thumbnail.size(), c.canvas.scaled(4, 4, Qt::KeepAspectRatio));
    }
}

TEST(ImageSourceStraight, PngAndWebpKeepEveryStoredLevel)
{
    // Levels that premultiplying merges: neighbours under low alpha.
    QImage stored(64, 5, QImage::Format_RGBA8888);
    for (int y = 0; y < stored.height(); ++y)
        for (int x = 0; x < stored.width(); ++x)
            stored.setPixelColor(x, y, QColor(200 - x % 2, (x * 4) % 256, 255 - y, 1 + y * 40));
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced);
        auto source = ImageSource::createWithData(referencePng(stored, true, interlaced));
        ASSERT_TRUE(source);
        EXPECT_EQ(source->createStraightImageAtIndex(0), stored);
    }
    auto webp = ImageSource::createWithData(losslessWebp(stored));
    ASSERT_TRUE(webp);
    EXPECT_EQ(webp->createStraightImageAtIndex(0), stored);

    // A format read only premultiplied says so by its pixel format; a bad frame fails with a reason.
    auto jpeg = ImageSource::createWithData(referenceJpeg(pattern(16, 16, false), 90, false, TJSAMP_444));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->createStraightImageAtIndex(0).format(), QImage::Format_RGBA8888_Premultiplied);
    QString error;
    EXPECT_TRUE(jpeg->createStraightImageAtIndex(1, &error).isNull());
    EXPECT_FALSE(error.isEmpty());
}

std::vector<unsigned char> filled(int w, int h, unsigned char index)
{
    return std::vector<unsigned char>(size_t(w * h), index);
}

TEST(ImageSourceGif, FramesAreComposedWithDisposalTransparencyAndDelays)
{
    std::vector<GifFrameSpec> frames;
    frames.push_back({0, 0, 8, 8, 10, 1, -1, false, filled(8, 8, 1)});  // red screen, kept
    auto hole = filled(4, 4, 2);
    hole[0] = 3;  // one blue pixel; index 3 is not transparent here
    hole[5] = 0;  // transparent index 0 keeps the red below
    frames.push_back({2, 2, 4, 4, 1, 2, 0, true, hole});  // green square, then cleared
    frames.push_back({6, 6, 4, 4, 50, 0, -1, false, filled(4, 4, 3)});  // reaches past the screen
    auto source = ImageSource::createWithData(referenceGif(8, 8, frames, 0));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->type(), ContentTypes::kGif);
    ASSERT_EQ(source->count(), 3);

    const QImage f0 = source->createImageAtIndex(0);
    const QImage f1 = source->createImageAtIndex(1);
    const QImage f2 = source->createImageAtIndex(2);
    ASSERT_EQ(f0.size(), QSize(8, 8));
    EXPECT_EQ(f0.pixel(5, 5), qRgba(255, 0, 0, 255));
    EXPECT_EQ(f1.pixel(2, 2), qRgba(0, 0, 255, 255));
    EXPECT_EQ(f1.pixel(3, 3), qRgba(255, 0, 0, 255));  // transparent pixel shows the frame below
    EXPECT_EQ(f1.pixel(4, 4), qRgba(0, 255, 0, 255));
    // Frame 1 asked to be cleared: its square becomes transparent, the rest stays red.
    EXPECT_EQ(qAlpha(f2.pixel(4, 4)), 0);
    EXPECT_EQ(f2.pixel(1, 1), qRgba(255, 0, 0, 255));
    EXPECT_EQ(f2.pixel(7, 7), qRgba(0, 0, 255, 255));  // clipped frame still drawn inside

    // Random access gives the same frames as walking in order.
    EXPECT_EQ(maxChannelDifference(source->createImageAtIndex(1), f1), 0);

    const QVariantMap gif1 = source->propertiesAtIndex(1).value(kCGImagePropertyGIFDictionary).toMap();
    EXPECT_DOUBLE_EQ(gif1.value(kCGImagePropertyGIFUnclampedDelayTime).toDouble(), 0.01);
    EXPECT_DOUBLE_EQ(gif1.value(kCGImagePropertyGIFDelayTime).toDouble(), 0.1);
    EXPECT_EQ(gif1.value(kCGImagePropertyGIFLoopCount).toInt(), 0);
    const QVariantMap gif2 = source->propertiesAtIndex(2).value(kCGImagePropertyGIFDictionary).toMap();
    EXPECT_DOUBLE_EQ(gif2.value(kCGImagePropertyGIFDelayTime).toDouble(), 0.5);
}

TEST(ImageSourceGif, DamagedLaterFrameKeepsTheEarlierOnes)
{
    std::vector<GifFrameSpec> frames;
    frames.push_back({0, 0, 16, 16, 10, 1, -1, false, filled(16, 16, 1)});
    std::vector<unsigned char> noise(16 * 16);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uchar((i * 7) % 4);
    frames.push_back({0, 0, 16, 16, 10, 1, -1, false, noise});
    QByteArray file = referenceGif(16, 16, frames, 0);
    file.chop(12);  // cut into the second frame's data
    auto source = ImageSource::createWithData(file);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->count(), 1);
    EXPECT_EQ(source->createImageAtIndex(0).pixel(0, 0), qRgba(255, 0, 0, 255));
}

// A file damaged or cut short inside its picture shows the rows before the damage, the rest left
// clear, as other viewers show it; written back to a file it is refused rather than cut.
QByteArray bmpFile(int width, int height, int bits, quint32 compression, const QByteArray& payload,
                   const std::vector<QRgb>& palette = {});

TEST(ImageSourceHostile, DamagedFilesShowWhatDecodesBeforeTheDamage)
{
    const QImage picture = pattern(32, 32, false);
    // Noise, so that the image data spans many blocks.
    std::vector<unsigned char> indices(32 * 32);
    uint32_t seed = 12345;
    for (unsigned char& index : indices)
        index = uchar((seed = seed * 1103515245u + 12345u) >> 30);
    const QByteArray gif = referenceGif(32, 32, {{0, 0, 32, 32, 0, 0, -1, false, indices}}, -1);
    const QByteArray png = referencePng(picture, false, false);
    const int idat = int(png.indexOf("IDAT"));
    QByteArray pngBadCrc = png;
    pngBadCrc[idat + 4 + (png.size() - idat) / 2] = char(pngBadCrc[idat + 4 + (png.size() - idat) / 2] ^ 0x5A);
    // Codes no table holds in the middle of the first block of image data (after the descriptor,
    // its flags, the code size and the block's length).
    QByteArray gifBadCode = gif;
    const int image = int(gif.indexOf(QByteArray("\x2C\x00\x00\x00\x00\x20\x00\x20\x00", 9)));
    ASSERT_GT(image, 0);
    const int block = uchar(gif[image + 11]);
    ASSERT_GT(block, 40);
    gifBadCode.replace(image + 12 + block / 2, 8, QByteArray(8, '\xFF'));
    const std::vector<std::pair<const char*, QByteArray>> files = {
        {"png cut short", png.left(idat + (png.size() - idat) * 2 / 3)},
        {"png with damaged data", pngBadCrc},
        {"gif cut short", gif.left(gif.size() - 40)},
        {"gif with bad codes", gifBadCode},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        QString error;
        auto source = ImageSource::createWithData(bytes, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage shown = source->createImageAtIndex(0, &error);
        ASSERT_FALSE(shown.isNull()) << error.toStdString();
        EXPECT_EQ(qAlpha(shown.pixel(5, 0)), 255);
        EXPECT_EQ(qAlpha(shown.pixel(5, 31)), 0);
        EXPECT_FALSE(source->createThumbnailAtIndex(0, 8, true).isNull());
        if (QByteArray(name).startsWith("png")) {
            EXPECT_LE(maxChannelDifference(shown.copy(0, 0, 32, 4), picture.copy(0, 0, 32, 4)), 0);
            EXPECT_TRUE(source->createStraightImageAtIndex(0).isNull());
        }
    }
    // An uncompressed TIFF (its directory first, a strip of 4 rows after another) and a BMP (its
    // rows top down) cut short after a quarter of their rows: those rows show, the rest is clear.
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    auto le = [&tiff](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.append(char(v >> (8 * i)));
    };
    const quint32 strips = 8, tables = 8 + 2 + 9 * 12 + 4, at = tables + 2 * strips * 4;
    le(9, 2);
    const quint32 entries[9][4] = {{256, 4, 1, 32}, {257, 4, 1, 32}, {258, 3, 1, 8}, {259, 3, 1, 1},
                                   {262, 3, 1, 1}, {273, 4, strips, tables}, {277, 3, 1, 1},
                                   {278, 4, 1, 4}, {279, 4, strips, tables + strips * 4}};
    for (const auto& e : entries)
        le(e[0], 2), le(e[1], 2), le(e[2], 4), le(e[3], 4);
    le(0, 4);
    for (quint32 i = 0; i < strips; ++i)
        le(at + i * 128, 4);
    for (quint32 i = 0; i < strips; ++i)
        le(128, 4);
    tiff.append(QByteArray(32 * 32, '\x80'));
    const QByteArray bmp = bmpFile(32, -32, 24, 0, QByteArray(32 * 32 * 3, '\x80'), {});
    for (const QByteArray& cut : {tiff.left(at + 8 * 32), bmp.left(bmp.size() - 24 * 32 * 3)}) {
        SCOPED_TRACE(cut.left(2).constData());
        QString error;
        auto source = ImageSource::createWithData(cut, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage shown = source->createImageAtIndex(0, &error);
        ASSERT_FALSE(shown.isNull()) << error.toStdString();
        EXPECT_EQ(shown.pixel(5, 7), qRgb(128, 128, 128));
        EXPECT_EQ(qAlpha(shown.pixel(5, 31)), 0);
    }
    // A WebP cut short, lossy and lossless: the rows that arrived show, the rest is transparent,
    // whole and fitted.
    QImage noise(64, 64, QImage::Format_RGBA8888);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            noise.setPixel(x, y, qRgb(int(seed = seed * 1103515245u + 12345u) >> 24 & 0xFF, x * 4, y * 4));
    uint8_t* lossy = nullptr;
    const size_t lossySize = WebPEncodeRGBA(noise.constBits(), 64, 64, int(noise.bytesPerLine()), 90, &lossy);
    const QByteArray webps[] = {QByteArray(reinterpret_cast<const char*>(lossy), qsizetype(lossySize)), losslessWebp(noise)};
    WebPFree(lossy);
    for (const QByteArray& webp : webps) {
        auto source = ImageSource::createWithData(webp.left(webp.size() * 2 / 3));
        ASSERT_TRUE(source);
        QString error;
        const QImage shown = source->createImageAtIndex(0, &error);
        ASSERT_FALSE(shown.isNull()) << error.toStdString();
        EXPECT_EQ(qAlpha(shown.pixel(5, 0)), 255);
        EXPECT_EQ(qAlpha(shown.pixel(5, 63)), 0);
        const QImage fitted = source->createThumbnailAtIndex(0, 32, true, &error);
        ASSERT_FALSE(fitted.isNull()) << error.toStdString();
        EXPECT_EQ(qAlpha(fitted.pixel(5, 0)), 255);
        // Cut before its first row: nothing to show.
        auto head = ImageSource::createWithData(webp.left(40));
        EXPECT_TRUE(!head || head->createImageAtIndex(0).isNull());
    }
}

// A BMP of any depth cut short (a download that stopped) shows the pixels that arrived where the
// whole file has them, in a full view and in a thumbnail, and leaves the rest clear.
TEST(ImageSourceHostile, CutShortBmpOfEveryDepthShowsWhatArrived)
{
    constexpr int w = 16, h = 12, arrived = 5;
    std::vector<QRgb> palette;
    for (int i = 0; i < 256; ++i)
        palette.push_back(qRgb(i, 255 - i, i * 40 % 256));
    const QByteArray masks("\0\0\xFF\0\0\xFF\0\0\xFF\0\0\0", 12);
    // Depth and compression (1 and 2 run-length, 3 bit fields); each stored row has its own colour,
    // a run-length row as one run of 8 pixels, one of 8 and its end.
    for (const auto& [bits, compression] : std::vector<std::pair<int, quint32>>{{1, 0}, {4, 0}, {8, 0}, {16, 0}, {24, 0}, {32, 0}, {32, 3}, {8, 1}, {4, 2}})
        for (bool topDown : {false, true}) {
            const bool runs = compression == 1 || compression == 2;
            if (runs && topDown)
                continue;  // run-length rows are stored bottom up only
            SCOPED_TRACE(testing::Message() << bits << " bits, compression " << compression << (topDown ? ", top down" : ""));
            const int rowBytes = runs ? 6 : (w * bits + 31) / 32 * 4;
            QByteArray rows;
            for (int y = 0; y < h; ++y)
                rows += runs ? QByteArray("\x08") + char(y * 17) + "\x08" + char(y * 17 + 1) + QByteArray(2, '\0') : QByteArray(rowBytes, char(y * 21 + 7));
            QByteArray whole = bmpFile(w, topDown ? -h : h, bits, compression, compression == 3 ? masks + rows : rows,
                                       bits <= 8 ? std::vector<QRgb>(palette.begin(), palette.begin() + (1 << bits)) : std::vector<QRgb>{});
            whole[10] = char(whole[10] + (compression == 3 ? 12 : 0));  // the rows follow the masks
            const QImage expected = ImageSource::createWithData(whole)->createImageAtIndex(0);
            // Cut inside the row after those that arrived, past a run of a run-length one.
            auto source = ImageSource::createWithData(whole.left(whole.size() - rows.size() + rowBytes * arrived + (runs ? 3 : rowBytes / 2)));
            QString error;
            const QImage shown = source ? source->createImageAtIndex(0, &error) : QImage();
            ASSERT_FALSE(shown.isNull()) << error.toStdString();
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int stored = topDown ? y : h - 1 - y;
                    const bool present = stored < arrived || (runs && stored == arrived && x < 8);
                    ASSERT_EQ(shown.pixel(x, y), present ? expected.pixel(x, y) : 0u) << x << ", " << y;
                }
            const QImage thumbnail = source->createThumbnailAtIndex(0, 8, true, &error);
            EXPECT_EQ(qAlpha(thumbnail.pixel(4, topDown ? 0 : 5)), 255);
            EXPECT_EQ(qAlpha(thumbnail.pixel(4, topDown ? 5 : 0)), 0);
        }
}

// Frames of no width or no height among good ones, first, between or last: every frame keeps its
// place and the good ones draw what they hold.
TEST(ImageSourceGif, FramesOfNoWidthOrNoHeightAmongGoodOnes)
{
    for (int place : {0, 1, 2})
        for (const auto& [w, h] : {std::pair{0, 0}, std::pair{0, 3}, std::pair{3, 0}}) {
            SCOPED_TRACE(testing::Message() << "empty frame " << place << ": " << w << " x " << h);
            std::vector<GifFrameSpec> frames;
            frames.push_back({0, 0, 4, 4, 10, 1, -1, false, filled(4, 4, 1)});
            frames.push_back({1, 1, 2, 2, 10, 1, -1, false, filled(2, 2, 3)});
            frames.push_back({0, 0, 2, 2, 10, 1, -1, false, filled(2, 2, 2)});
            // That frame is written as 1 x 1 at (3, 3), then its descriptor is made to say w x h.
            frames[size_t(place)] = {3, 3, 1, 1, 10, 1, -1, false, filled(1, 1, 3)};
            QByteArray gif = referenceGif(4, 4, frames, 0);
            const int at = gif.indexOf(QByteArray("\x2C\x03\x00\x03\x00\x01\x00\x01\x00", 9));
            ASSERT_GT(at, 0);
            gif[at + 5] = char(w);
            gif[at + 7] = char(h);
            QString error;
            auto source = ImageSource::createWithData(gif, &error);
            ASSERT_TRUE(source) << error.toStdString();
            ASSERT_EQ(source->count(), 3);
            for (int i = 0; i < 3; ++i) {
                const QImage frame = source->createImageAtIndex(i, &error);
                ASSERT_FALSE(frame.isNull()) << i << ": " << error.toStdString();
                EXPECT_EQ(frame.size(), QSize(4, 4));
            }
            // The last frame shows what the good frames drew.
            const QImage last = source->createImageAtIndex(2);
            if (place != 2)
                EXPECT_EQ(QColor(last.pixel(0, 0)), QColor(0, 255, 0));
            if (place != 0)
                EXPECT_EQ(QColor(last.pixel(3, 3)), QColor(255, 0, 0));
        }
    // A logical screen of no size is as large as its frames reach.
    std::vector<GifFrameSpec> frames;
    frames.push_back({0, 0, 4, 3, 10, 1, -1, false, filled(4, 3, 1)});
    QByteArray gif = referenceGif(4, 3, frames, 0);
    gif[6] = gif[7] = gif[8] = gif[9] = 0;
    QString error;
    auto source = ImageSource::createWithData(gif, &error);
    ASSERT_TRUE(source) << error.toStdString();
    const QImage frame = source->createImageAtIndex(0, &error);
    ASSERT_EQ(frame.size(), QSize(4, 3)) << error.toStdString();
    EXPECT_EQ(QColor(frame.pixel(3, 2)), QColor(255, 0, 0));
    // A logical screen smaller than its first frame grows to hold the whole frame.
    source = ImageSource::createWithData(referenceGif(2, 2, {{1, 1, 4, 3, 10, 1, -1, false, filled(4, 3, 2)}}, 0), &error);
    ASSERT_TRUE(source) << error.toStdString();
    const QImage grown = source->createImageAtIndex(0, &error);
    ASSERT_EQ(grown.size(), QSize(5, 4)) << error.toStdString();
    EXPECT_EQ(QColor(grown.pixel(4, 3)), QColor(0, 255, 0));
}

TEST(ImageSourceGif, AFrameOfNoPixelsKeepsItsPlaceAndTheFramesAfterIt)
{
    // The middle frame is written as one pixel, then its descriptor is made to say 0 x 0.
    std::vector<GifFrameSpec> frames;
    frames.push_back({0, 0, 4, 4, 10, 1, -1, false, filled(4, 4, 1)});
    frames.push_back({1, 1, 1, 1, 10, 1, -1, false, filled(1, 1, 3)});
    frames.push_back({0, 0, 2, 2, 10, 1, -1, false, filled(2, 2, 2)});
    QByteArray gif = referenceGif(4, 4, frames, 0);
    // Image descriptors: 0x2C, left, top, width, height (16 bits each); the second one is ours.
    const int first = gif.indexOf(char(0x2C), 13 + 12);
    const int second = gif.indexOf(QByteArray("\x2C\x01\x00\x01\x00\x01\x00\x01\x00", 9), first + 1);
    ASSERT_GT(second, first);
    gif[second + 5] = 0;
    gif[second + 7] = 0;
    auto source = ImageSource::createWithData(gif);
    ASSERT_TRUE(source);
    ASSERT_EQ(source->count(), 3);
    QString error;
    const QImage f1 = source->createImageAtIndex(1, &error);
    ASSERT_FALSE(f1.isNull()) << error.toStdString();
    EXPECT_EQ(QColor(f1.pixel(1, 1)), QColor(255, 0, 0)); // nothing drawn over the first frame
    const QImage f2 = source->createImageAtIndex(2, &error);
    ASSERT_FALSE(f2.isNull()) << error.toStdString();
    EXPECT_EQ(QColor(f2.pixel(0, 0)), QColor(0, 255, 0));
    EXPECT_EQ(QColor(f2.pixel(3, 3)), QColor(255, 0, 0));
}

// giflib's own reading of the file, composed frame by frame as the format says: disposal 2
// clears the frame's area to transparent, disposal 3 brings back the screen from before it.
std::vector<QImage> giflibScreens(const QByteArray& file)
{
    struct In {
        const QByteArray* bytes;
        int pos;
    } in{&file, 0};
    int err = 0;
    GifFileType* gif = DGifOpen(&in, [](GifFileType* g, GifByteType* out, int n) {
        auto* src = static_cast<In*>(g->UserData);
        n = std::min(n, int(src->bytes->size()) - src->pos);
        std::memcpy(out, src->bytes->constData() + src->pos, size_t(n));
        src->pos += n;
        return n;
    }, &err);
    std::vector<QImage> screens;
    if (!gif || DGifSlurp(gif) != GIF_OK)
        return screens;
    QImage screen(gif->SWidth, gif->SHeight, QImage::Format_RGBA8888_Premultiplied);
    screen.fill(0);
    QImage before;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& frame = gif->SavedImages[i];
        GraphicsControlBlock gcb{};
        DGifSavedExtensionToGCB(gif, i, &gcb);
        if (gcb.DisposalMode == DISPOSE_PREVIOUS)
            before = screen.copy();
        const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
        const GifImageDesc& d = frame.ImageDesc;
        for (int y = 0; y < d.Height; ++y)
            for (int x = 0; x < d.Width; ++x) {
                const int c = frame.RasterBits[y * d.Width + x];
                if (c == gcb.TransparentColor || d.Left + x >= screen.width() || d.Top + y >= screen.height())
                    continue;
                const GifColorType& rgb = map->Colors[c];
                screen.setPixel(d.Left + x, d.Top + y, qRgba(rgb.Red, rgb.Green, rgb.Blue, 255));
            }
        screens.push_back(screen.copy());
        if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
            for (int y = d.Top; y < std::min(d.Top + d.Height, screen.height()); ++y)
                for (int x = d.Left; x < std::min(d.Left + d.Width, screen.width()); ++x)
                    screen.setPixel(x, y, 0);
        } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
            screen = before;
        }
    }
    DGifCloseFile(gif, &err);
    return screens;
}

// The animation kept as colour indexes shows, frame for frame and in any order asked, the screens
// giflib's reading gives and the whole-frame decode gives: over every disposal, transparency,
// interlacing and a frame reaching past the screen.
TEST(ImageSourceGif, CompactAnimationShowsTheSameScreensAsWholeFrames)
{
    std::vector<GifFrameSpec> frames;
    frames.push_back({0, 0, 12, 10, 10, 1, -1, false, filled(12, 10, 1)});
    std::vector<unsigned char> spots(6 * 6);
    for (size_t i = 0; i < spots.size(); ++i)
        spots[i] = uchar(i % 4);                                              // index 0 is transparent below
    frames.push_back({1, 1, 6, 6, 10, 3, 0, true, spots});                    // restored after it shows
    frames.push_back({4, 2, 5, 5, 10, 3, -1, false, filled(5, 5, 2)});       // restored again
    frames.push_back({2, 3, 4, 4, 10, 2, 3, false, filled(4, 4, 3)});        // all transparent, then cleared
    frames.push_back({8, 6, 6, 6, 10, 0, -1, false, filled(6, 6, 3)});       // past the edge, kept
    frames.push_back({0, 0, 3, 3, 10, 1, 2, false, filled(3, 3, 1)});
    const QByteArray file = referenceGif(12, 10, frames, 0);
    auto source = ImageSource::createWithData(file);
    ASSERT_TRUE(source);
    QString error;
    const std::shared_ptr<const GifAnimation> animation = source->createAnimation(&error);
    ASSERT_TRUE(animation) << error.toStdString();
    ASSERT_EQ(animation->frameCount(), int(frames.size()));
    EXPECT_EQ(animation->size(), QSize(12, 10));
    EXPECT_LE(animation->indexBytes(), uint64_t(12 * 10 * frames.size()));

    const std::vector<QImage> reference = giflibScreens(file);
    ASSERT_EQ(reference.size(), frames.size());
    for (int i : {0, 1, 2, 3, 4, 5, 2, 5, 0, 4}) {
        const QImage composed = animation->frame(i);
        ASSERT_EQ(composed.format(), QImage::Format_RGBA8888_Premultiplied) << "frame " << i;
        EXPECT_EQ(maxChannelDifference(composed, reference[size_t(i)]), 0) << "frame " << i;
        EXPECT_EQ(maxChannelDifference(composed, source->createImageAtIndex(i)), 0) << "frame " << i;
    }
    // A frame handed out keeps its pixels while the next ones are composed.
    const QImage first = animation->frame(1);
    animation->frame(3);
    EXPECT_EQ(maxChannelDifference(first, reference[1]), 0);
    EXPECT_TRUE(animation->frame(int(frames.size())).isNull());

    // A still picture has no animation to keep.
    EXPECT_FALSE(ImageSource::createWithData(referencePng(pattern(4, 4, false), false, false))->createAnimation());
}

// A loader that cannot keep the compact animation (the second frame is damaged, so it plays only
// the first) reads the frames one by one in order. Each shows the screen after it, whether read
// in order past the damaged frame or asked for alone afterwards.
TEST(ImageSourceGif, FramesReadOneByOnePastADamagedOneShowTheirScreens)
{
    std::vector<GifFrameSpec> frames;
    frames.push_back({0, 0, 16, 16, 10, 1, -1, false, filled(16, 16, 1)});
    std::vector<unsigned char> noise(16 * 16);
    uint32_t seed = 12345;
    for (unsigned char& index : noise)
        index = uchar((seed = seed * 1103515245u + 12345u) >> 30);
    frames.push_back({0, 0, 16, 16, 10, 1, -1, false, noise});
    constexpr int kDots = 300;  // one pixel each, green or blue, over the screen
    auto dot = [](int i) { return QPoint(i % 16, (i / 16) % 16); };
    for (int i = 0; i < kDots; ++i)
        frames.push_back({dot(i).x(), dot(i).y(), 1, 1, 10, 1, -1, false, {uchar(2 + i % 2)}});
    QByteArray file = referenceGif(16, 16, frames, 0);
    // Codes no table holds in the middle of the second frame's first block of data.
    const QByteArray whole("\x2C\x00\x00\x00\x00\x10\x00\x10\x00", 9);
    const int second = int(file.indexOf(whole, file.indexOf(whole) + 1));
    ASSERT_GT(second, 0);
    const int block = uchar(file[second + 11]);
    ASSERT_GT(block, 40);
    file.replace(second + 12 + block / 2, 8, QByteArray(8, '\xFF'));

    auto source = ImageSource::createWithData(file);
    ASSERT_TRUE(source);
    ASSERT_EQ(source->count(), kDots + 2);
    const std::shared_ptr<const GifAnimation> animation = source->createAnimation();
    EXPECT_TRUE(!animation || animation->frameCount() < 2);
    std::vector<QImage> inOrder;
    for (int i = 0; i < source->count(); ++i)
        inOrder.push_back(source->createImageAtIndex(i));
    ASSERT_FALSE(inOrder[1].isNull());
    EXPECT_EQ(inOrder[1].pixel(15, 15), qRgba(255, 0, 0, 255));  // lost rows leave the first frame
    QImage expected = inOrder[1].copy();
    for (int i = 0; i < kDots; ++i) {
        expected.setPixel(dot(i), i % 2 ? qRgba(0, 0, 255, 255) : qRgba(0, 255, 0, 255));
        EXPECT_EQ(maxChannelDifference(inOrder[size_t(i) + 2], expected), 0) << "frame " << i + 2;
    }
    for (int i : {150, kDots + 1, 2, 77})
        EXPECT_EQ(maxChannelDifference(source->createImageAtIndex(i), inOrder[size_t(i)]), 0) << "frame " << i;
}

// A grey baseline JPEG of side x side pixels, all mid grey: each 8 x 8 block is a DC difference of
// zero and an end of block, one-bit codes of zero each, so the data is all zero bytes.
QByteArray flatGreyJpeg(int side)
{
    QByteArray j("\xFF\xD8", 2);
    j.append("\xFF\xDB\x00\x43\x00", 5).append(QByteArray(64, 1));
    j.append("\xFF\xC0\x00\x0B\x08", 5);
    j.append(char(side >> 8)).append(char(side & 0xFF)).append(char(side >> 8)).append(char(side & 0xFF));
    j.append("\x01\x01\x11\x00", 4);
    for (char table : {char(0x00), char(0x10)}) {
        j.append("\xFF\xC4\x00\x14", 4).append(table).append(char(1)).append(QByteArray(15, 0)).append(char(0));
    }
    j.append("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
    const qint64 blocks = qint64((side + 7) / 8) * ((side + 7) / 8);
    j.append(QByteArray(int((blocks * 2 + 7) / 8), 0));
    j.append("\xFF\xD9", 2);
    return j;
}

TEST(ImageSourceLimits, TheCapCountsThePixelsActuallyDecoded)
{
    // 16400 x 16400 is beyond the pixel cap; its thumbnail decodes at an eighth of that.
    const QByteArray jpeg = flatGreyJpeg(16400);
    auto source = ImageSource::createWithData(jpeg);
    ASSERT_TRUE(source);
    QString error;
    const QImage thumb = source->createThumbnailAtIndex(0, 400, true, &error);
    ASSERT_FALSE(thumb.isNull()) << error.toStdString();
    EXPECT_LE(std::max(thumb.width(), thumb.height()), 400);
    EXPECT_NEAR(qGray(thumb.pixel(thumb.width() / 2, thumb.height() / 2)), 128, 2);
    // The whole picture is still refused, and says why.
    EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("limit"))) << error.toStdString();
}

TEST(ImageSourceLimits, HeadersClaimingHugeImagesFailCleanly)
{
    // A GIF whose screen claims 65535 x 65535 pixels.
    std::vector<GifFrameSpec> frames;
    frames.push_back({0, 0, 1, 1, 0, 0, -1, false, filled(1, 1, 1)});
    QString error;
    EXPECT_FALSE(ImageSource::createWithData(referenceGif(65535, 65535, frames, 0), &error));
    EXPECT_FALSE(error.isEmpty());

    // A JPEG whose frame header claims 60000 x 60000 pixels.
    QByteArray jpeg = referenceJpeg(pattern(16, 16, false), 80, false, TJSAMP_444);
    const int sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    jpeg[sof + 5] = char(0xEA);
    jpeg[sof + 6] = char(0x60);
    jpeg[sof + 7] = char(0xEA);
    jpeg[sof + 8] = char(0x60);
    auto source = ImageSource::createWithData(jpeg);
    ASSERT_TRUE(source);
    EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("limit")));
}

// An icon file with one square 32-bit image per size, each filled with one colour (BGRA), in the
// order given.
QByteArray iconFile(const std::vector<std::pair<int, QRgb>>& images)
{
    QByteArray out;
    auto le16 = [&out](int v) { out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
    auto le32 = [&](quint32 v) { le16(int(v & 0xFFFF)); le16(int(v >> 16)); };
    le16(0);
    le16(1);
    le16(int(images.size()));
    quint32 offset = quint32(6 + 16 * images.size());
    std::vector<QByteArray> bodies;
    for (const auto& [side, colour] : images) {
        QByteArray body;
        std::swap(out, body);
        le32(40); le32(quint32(side)); le32(quint32(side * 2)); le16(1); le16(32);
        for (int i = 0; i < 6; ++i) le32(0);
        for (int i = 0; i < side * side; ++i)
            out.append(char(qBlue(colour))).append(char(qGreen(colour))).append(char(qRed(colour))).append(char(255));
        out.append(QByteArray(((side + 31) / 32) * 4 * side, '\0')); // the AND mask: all shown
        std::swap(out, body);
        out.append(char(side)).append(char(side)).append(char(0)).append(char(0));
        le16(1);
        le16(32);
        le32(quint32(body.size()));
        le32(offset);
        offset += quint32(body.size());
        bodies.push_back(body);
    }
    for (const QByteArray& b : bodies)
        out.append(b);
    return out;
}

TEST(ImageSourceIco, TheLargestImageIsShownWhereverItIsStored)
{
    for (bool largestFirst : {false, true}) {
        std::vector<std::pair<int, QRgb>> images = {{16, qRgb(255, 0, 0)}, {48, qRgb(0, 0, 255)}, {32, qRgb(0, 255, 0)}};
        if (largestFirst)
            std::swap(images[0], images[1]);
        QString error;
        auto source = ImageSource::createWithData(iconFile(images), &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage image = source->createImageAtIndex(0, &error);
        ASSERT_EQ(image.size(), QSize(48, 48)) << error.toStdString();
        EXPECT_EQ(QColor(image.pixel(20, 20)), QColor(0, 0, 255));
    }
}

// A 32-bit BMP whose red, green and blue sit where `masks` say, after a 40-byte header and the
// three masks; each sample is scaled to its field.
QByteArray bitFieldBmp(const QImage& image, const quint32 masks[3], int header = 40)
{
    QByteArray out;
    auto le16 = [&out](int v) { out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
    auto le32 = [&](quint32 v) { le16(int(v & 0xFFFF)); le16(int(v >> 16)); };
    const quint32 data = quint32(image.width() * image.height() * 4), offset = 14 + (header == 40 ? 52 : header);
    out.append("BM");
    le32(offset + data); le32(0); le32(offset);
    le32(quint32(header)); le32(quint32(image.width())); le32(quint32(image.height())); le16(1); le16(32);
    le32(3); le32(data); le32(2835); le32(2835); le32(0); le32(0);
    for (int c = 0; c < 3; ++c)
        le32(masks[c]);
    while (out.size() < int(offset))
        out.append('\0'); // no alpha mask, no colour space
    for (int y = image.height() - 1; y >= 0; --y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const int rgb[3] = {qRed(p), qGreen(p), qBlue(p)};
            quint32 word = 0;
            for (int c = 0; c < 3; ++c) {
                const int bits = __builtin_popcount(masks[c]);
                word |= quint32((rgb[c] * ((1 << bits) - 1) + 127) / 255) << __builtin_ctz(masks[c]);
            }
            le32(word);
        }
    return out;
}

const quint32 kTenBitFields[3] = {0x3FF00000, 0x000FFC00, 0x000003FF};

// Every mask layout and every header size (masks after a 40-byte header or inside a longer one).
TEST(ImageSourceBmp, ThirtyTwoBitFilesWithBitFieldMasksMatchTheSourcePixels)
{
    const QImage original = pattern(29, 17, false);
    const quint32 layouts[][3] = {{0x00FF0000, 0x0000FF00, 0x000000FF},
                                  {0x000000FF, 0x0000FF00, 0x00FF0000},
                                  {0xFF000000, 0x00FF0000, 0x0000FF00},
                                  {kTenBitFields[0], kTenBitFields[1], kTenBitFields[2]}};
    for (const auto& masks : layouts)
        for (int header : {40, 56, 108, 124}) {
            SCOPED_TRACE(testing::Message() << std::hex << masks[0] << " " << masks[1] << " " << masks[2] << std::dec
                                            << " header " << header);
            QString error;
            auto source = ImageSource::createWithData(bitFieldBmp(original, masks, header), &error);
            ASSERT_TRUE(source) << error.toStdString();
            EXPECT_EQ(source->type(), ContentTypes::kBmp);
            const QImage image = source->createImageAtIndex(0, &error);
            ASSERT_FALSE(image.isNull()) << error.toStdString();
            EXPECT_LE(maxChannelDifference(image, original), 1);
            EXPECT_EQ(qAlpha(image.pixel(5, 5)), 255);
        }
    // A file whose last row is cut short shows the rows it holds; the missing one stays clear.
    QString error;
    auto cut = ImageSource::createWithData(bitFieldBmp(original, kTenBitFields).chopped(1), &error);
    ASSERT_TRUE(cut) << error.toStdString();
    const QImage partial = cut->createImageAtIndex(0, &error);
    ASSERT_FALSE(partial.isNull()) << error.toStdString();
    EXPECT_EQ(qAlpha(partial.pixel(3, 0)), 0);
    EXPECT_EQ(QColor(partial.pixel(3, 16)), QColor(original.pixel(3, 16)));
}

TEST(ImageSourceHostile, EveryPrefixOfEveryFormatFailsOrDecodesWithoutHarm)
{
    std::vector<GifFrameSpec> frames;
    frames.push_back({0, 0, 12, 10, 5, 2, 0, true, filled(12, 10, 2)});
    frames.push_back({1, 1, 5, 5, 5, 3, -1, false, filled(5, 5, 3)});
    const QImage picture = pattern(12, 10, true);
    const std::vector<QByteArray> files = {
        referenceJpeg(picture, 70, false, TJSAMP_420),
        referenceJpeg(picture, 70, true, TJSAMP_422),
        referencePng(picture, true, true),
        referencePng(picture, true, false),
        referenceGif(12, 10, frames, 3),
        bitFieldBmp(picture, kTenBitFields, 56),
    };
    for (const QByteArray& whole : files) {
        const int step = std::max(1, int(whole.size() / 120));
        for (int n = 0; n < whole.size(); n += step) {
            auto source = ImageSource::createWithData(whole.left(n));
            if (!source)
                continue;
            for (int i = 0; i < source->count(); ++i) {
                source->propertiesAtIndex(i);
                const QImage image = source->createImageAtIndex(i);
                if (!image.isNull())
                    EXPECT_EQ(image.format(), QImage::Format_RGBA8888_Premultiplied);
                const QImage reduced = source->createThumbnailAtIndex(i, 4, true);
                if (!reduced.isNull())
                    EXPECT_LE(std::max(reduced.width(), reduced.height()), 4);
            }
        }
    }
}

// An interlaced PNG cut anywhere shows the pixels of the passes it holds and nothing else: every
// pixel is the picture's own or clear, never what the frame's memory held before; only the row
// the cut broke may hold what the library made of the damaged data.
TEST(ImageSourceHostile, InterlacedPngCutShortShowsItsPassesOnly)
{
    const QImage picture = pattern(32, 32, true);
    const QByteArray whole = referencePng(picture, true, true);
    int partial = 0;
    for (int n = 0; n < whole.size(); n += 7) {
        auto source = ImageSource::createWithData(whole.left(n));
        if (!source)
            continue;
        const QImage image = source->createImageAtIndex(0);
        if (image.isNull())
            continue;
        ++partial;
        int stray = 0;
        const QImage expected = picture.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const uchar *got = image.constScanLine(y) + x * 4, *want = expected.constScanLine(y) + x * 4;
                bool own = true, clear = true;
                for (int c = 0; c < 4; ++c) {
                    own = own && std::abs(int(got[c]) - int(want[c])) <= 1;
                    clear = clear && got[c] == 0;
                }
                stray += !own && !clear;
            }
        EXPECT_EQ(stray, 0) << "cut at " << n;
    }
    EXPECT_GT(partial, 10);
}

// The toolkit's cap on what a read may allocate is one for the whole process: a tiny file read
// on other threads, held to the little its bytes may hold, never makes a good picture decoding
// at the same time fail (as thumbnails of a folder decode side by side).
TEST(ImageSourceHostile, SmallFilesReadOnOtherThreadsLeaveALargePictureWhole)
{
    const QByteArray large = bmpFile(1500, 1500, 24, 0, QByteArray(1500 * 1500 * 3, '\x40'));
    const QByteArray tiny("/* XPM */\nstatic char *x[] = {\n\"2 2 1 1\",\n\"a c #ff0000\",\n\"aa\",\n\"aa\"\n};\n");
    std::atomic<bool> stop{false};
    std::vector<std::thread> others;
    for (int t = 0; t < 3; ++t)
        others.emplace_back([&] {
            while (!stop)
                if (auto source = ImageSource::createWithData(tiny))
                    EXPECT_FALSE(source->createImageAtIndex(0).isNull());
        });
    for (int i = 0; i < 20; ++i) {
        QString error;
        auto source = ImageSource::createWithData(large, &error);
        ASSERT_TRUE(source) << error.toStdString();
        EXPECT_EQ(source->createImageAtIndex(0, &error).size(), QSize(1500, 1500)) << error.toStdString();
    }
    stop = true;
    for (std::thread& t : others)
        t.join();
}

TEST(ImageSourceHostile, UnknownBytesAndMissingFilesAreRefusedWithAReason)
{
    QString error;
    EXPECT_FALSE(ImageSource::createWithData(QByteArray("not an image at all"), &error));
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_FALSE(ImageSource::createWithFile(QStringLiteral("/nonexistent/photo.jpg"), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(ContentTypesTable, ExtensionsMapToTypesWithoutRegardToCase)
{
    EXPECT_EQ(ContentTypes::typeForExtension(QStringLiteral("JPG")), ContentTypes::kJpeg);
    EXPECT_EQ(ContentTypes::typeForExtension(QStringLiteral("Nef")), ContentTypes::kCameraRaw);
    EXPECT_TRUE(ContentTypes::typeForExtension(QStringLiteral("txt")).isEmpty());
    EXPECT_TRUE(ContentTypes::conformsTo(ContentTypes::kCameraRaw, ContentTypes::kCameraRaw));
    EXPECT_TRUE(ContentTypes::conformsTo(ContentTypes::kPng, ContentTypes::kImage));
    EXPECT_FALSE(ContentTypes::conformsTo(ContentTypes::kPng, ContentTypes::kCameraRaw));
}

// The heap the process holds, counted by the allocator's own hooks: the most held at once since
// the last reset, above what was held then.
#if KPV_HAVE_ALLOC_HOOK
std::atomic<int64_t> g_heapNow{0}, g_heapPeak{0};
void countMalloc(const volatile void*, size_t size)
{
    const int64_t now = g_heapNow += int64_t(size);
    int64_t peak = g_heapPeak.load();
    while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {}
}
void countFree(const volatile void* p)
{
    g_heapNow -= int64_t(__sanitizer_get_allocated_size(const_cast<const void*>(p)));
}
#endif

// A BMP of a 40-byte header declaring `width` x `height` (negative: top down) at `bits` per pixel,
// followed by `payload`.
QByteArray bmpFile(int width, int height, int bits, quint32 compression, const QByteArray& payload,
                   const std::vector<QRgb>& palette)
{
    QByteArray out;
    auto le16 = [&out](int v) { out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
    auto le32 = [&](quint32 v) { le16(int(v & 0xFFFF)); le16(int(v >> 16)); };
    const quint32 offset = quint32(54 + 4 * palette.size());
    out.append("BM");
    le32(offset + quint32(payload.size())); le32(0); le32(offset);
    le32(40); le32(quint32(width)); le32(quint32(height)); le16(1); le16(bits);
    le32(compression); le32(quint32(payload.size())); le32(2835); le32(2835); le32(quint32(palette.size())); le32(0);
    for (QRgb c : palette)
        out.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append(char(0));
    return out + payload;
}

// A little-endian TIFF of 8-bit RGB pixels, width x height, with the given compression, whose
// only strip or tile is `data`. The layout entries are (tag, value) pairs of type LONG; a value
// of kDataOffset or kDataSize stands for where `data` starts or how long it is.
constexpr quint32 kDataOffset = 0xFFFFFFFF, kDataSize = 0xFFFFFFFE;
QByteArray rgbTiff(quint32 width, quint32 height, quint16 compression,
                   std::vector<std::pair<int, quint32>> layout, const QByteArray& data)
{
    struct Entry { int tag, type; quint32 count, value; };
    std::vector<Entry> entries{{256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 3, 0},
                               {259, 3, 1, compression}, {262, 3, 1, 2}, {277, 3, 1, 3}};
    for (const auto& [tag, value] : layout)
        entries.push_back({tag, 4, 1, value});
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });

    QByteArray out("II*\0", 4);
    auto le16 = [&out](int v) { out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
    auto le32 = [&](quint32 v) { le16(int(v & 0xFFFF)); le16(int(v >> 16)); };
    const quint32 ifd = 8, bps = ifd + 2 + quint32(entries.size()) * 12 + 4, offset = bps + 6;
    le32(ifd);
    le16(int(entries.size()));
    for (const Entry& e : entries) {
        le16(e.tag); le16(e.type); le32(e.count);
        le32(e.tag == 258 ? bps : e.value == kDataOffset ? offset : e.value == kDataSize ? quint32(data.size()) : e.value);
    }
    le32(0);
    le16(8); le16(8); le16(8);
    return out + data;
}

// One strip holding every row.
QByteArray tiffFile(quint32 width, quint32 height, quint16 compression, const QByteArray& data)
{
    return rgbTiff(width, height, compression, {{273, kDataOffset}, {278, height}, {279, kDataSize}}, data);
}

// One tile of tileWidth x tileHeight, uncompressed.
QByteArray tiledTiffFile(quint32 width, quint32 height, quint32 tileWidth, quint32 tileHeight, const QByteArray& data)
{
    return rgbTiff(width, height, 1, {{322, tileWidth}, {323, tileHeight}, {324, kDataOffset}, {325, kDataSize}}, data);
}

// A little-endian TIFF of `samples` 8-bit samples a pixel (grey or RGB) whose strips of
// `rowsPerStrip` rows (or tiles of tile x tile pixels, when `tile` is not 0) lie where `offsets`
// and `counts` say, the offsets counted from the start of `data`, which follows the header.
QByteArray stripTiff(quint32 width, quint32 height, quint16 samples, quint16 compression, quint32 rowsPerStrip, quint32 tile,
                     const QByteArray& data, const std::vector<quint32>& offsets, const std::vector<quint32>& counts)
{
    QByteArray out("II*\0\0\0\0\0", 8);
    const auto le16 = [&out](quint32 v) { out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
    const auto le32 = [&](quint32 v) { le16(v & 0xFFFF); le16(v >> 16); };
    out.append(data);
    if (out.size() % 2)
        out.append('\0');
    const quint32 offsetsAt = quint32(out.size());
    for (quint32 o : offsets)
        le32(o + 8);
    const quint32 countsAt = quint32(out.size());
    for (quint32 c : counts)
        le32(c);
    const quint32 bitsAt = quint32(out.size());
    le16(8), le16(8), le16(8);
    const quint32 ifd = quint32(out.size());
    out[4] = char(ifd & 0xFF), out[5] = char((ifd >> 8) & 0xFF), out[6] = char((ifd >> 16) & 0xFF), out[7] = char(ifd >> 24);
    struct Entry { quint16 tag, type; quint32 count, value; };
    std::vector<Entry> entries{{256, 4, 1, width}, {257, 4, 1, height}, {258, 3, samples, samples == 3 ? bitsAt : 8},
                               {259, 3, 1, compression}, {262, 3, 1, samples == 3 ? 2u : 1u}};
    const quint32 n = quint32(offsets.size());
    if (tile == 0)
        entries.insert(entries.end(), {{273, 4, n, n > 1 ? offsetsAt : offsets[0] + 8}, {277, 3, 1, samples},
                                       {278, 4, 1, rowsPerStrip}, {279, 4, n, n > 1 ? countsAt : counts[0]}});
    else
        entries.insert(entries.end(), {{277, 3, 1, samples}, {322, 4, 1, tile}, {323, 4, 1, tile},
                                       {324, 4, n, n > 1 ? offsetsAt : offsets[0] + 8}, {325, 4, n, n > 1 ? countsAt : counts[0]}});
    le16(quint32(entries.size()));
    for (const Entry& e : entries) {
        le16(e.tag), le16(e.type), le32(e.count);
        if (e.type == 3 && e.count == 1)
            le16(e.value), le16(0);
        else
            le32(e.value);
    }
    le32(0);
    return out;
}

// A lossless WebP header declaring width x height, with `tail` bytes of nothing after it.
QByteArray losslessWebpHeader(int width, int height, int tail)
{
    QByteArray out("RIFF", 4);
    const quint32 chunk = quint32(5 + tail), riff = 4 + 8 + chunk + (chunk & 1);
    auto le32 = [&out](quint32 v) { for (int i = 0; i < 4; ++i) out.append(char((v >> (8 * i)) & 0xFF)); };
    le32(riff);
    out.append("WEBPVP8L", 8);
    le32(chunk);
    out.append(char(0x2F));
    le32(quint32(width - 1) | quint32(height - 1) << 14);
    out.append(QByteArray(tail + (chunk & 1), '\0'));
    return out;
}

// A few bytes that declare a gigabyte of pixels are refused before anything is allocated, in every
// reader, Qt's included; the process's heap never grows by more than a fraction of that.
// An icon file of one picture stored as a PNG of one pixel whose header says width x height (the
// directory says 256 x 256, all it can).
QByteArray iconHoldingPng(quint32 width, quint32 height)
{
    QByteArray png = referencePng(pattern(1, 1, false), false, false);
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = char(width >> (24 - 8 * i));
        png[20 + i] = char(height >> (24 - 8 * i));
    }
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(png.constData()) + 12, 17));
    for (int i = 0; i < 4; ++i)
        png[29 + i] = char(crc >> (24 - 8 * i));
    QByteArray out("\0\0\1\0\1\0\0\0\0\0\1\0\x20\0", 14);
    for (const quint32 v : {quint32(png.size()), quint32(22)})
        for (int i = 0; i < 4; ++i)
            out.append(char(v >> (8 * i)));
    return out + png;
}

TEST(ImageSourceHostile, TinyFilesDeclaringHugePicturesCostLittle)
{
#if !KPV_HAVE_ALLOC_HOOK
    GTEST_SKIP() << "the heap is counted through the address sanitizer's allocator";
#else
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks(countMalloc, countFree) != 0;
    ASSERT_TRUE(hooked);
    std::vector<std::pair<const char*, QByteArray>> files = {
        {"bmp 24-bit", bmpFile(16384, 16384, 24, 0, QByteArray(35, '\x11'))},
        {"bmp 1-bit top down", bmpFile(16384, -16384, 1, 0, QByteArray(35, '\x11'), {qRgb(0, 0, 0), qRgb(255, 255, 255)})},
        {"bmp run-length", bmpFile(16384, 16384, 8, 1, QByteArray("\x00\x01", 2), {qRgb(0, 0, 0)})},
        {"bmp bit fields", bitFieldBmp(pattern(1, 1, false), kTenBitFields, 124).replace(18, 8, QByteArray("\x00\x40\x00\x00\x00\x40\x00\x00", 8))},
        {"tiff stored", tiffFile(16384, 16384, 1, QByteArray(40, '\x22'))},
        {"tiff deflate", tiffFile(16384, 16384, 8, QByteArray(60, '\x22'))},
        {"tiff of a small picture in one huge tile", tiledTiffFile(16, 30, 16, 8388608, QByteArray(1440, '\x22'))},
        {"webp lossless", losslessWebpHeader(16383, 16383, 6400)},
        {"ppm", QByteArray("P6\n16384 16384\n255\n") + QByteArray(60, '\x33')},
        {"icon holding a png", iconHoldingPng(16000, 16000)},
    };
    // A JPEG 2000 file of 16 x 16 pixels whose headers are made to say 16384 x 16384 (one tile).
    QTemporaryDir dir;
    const QString jp2Path = dir.filePath(QStringLiteral("small.jp2"));
    ASSERT_TRUE(ImageDestination::writeImage(pattern(16, 16, false), jp2Path, ContentTypes::kJpeg2000, {}));
    QFile jp2File(jp2Path);
    ASSERT_TRUE(jp2File.open(QIODevice::ReadOnly));
    QByteArray jp2 = jp2File.readAll();
    const QByteArray side("\x00\x00\x40\x00", 4);
    const int ihdr = int(jp2.indexOf("ihdr")), siz = int(jp2.indexOf(QByteArray("\xFF\x51", 2)));
    ASSERT_GT(ihdr, 0);
    ASSERT_GT(siz, 0);
    jp2.replace(ihdr + 4, 8, side + side);
    jp2.replace(siz + 6, 8, side + side);        // image width and height
    jp2.replace(siz + 22, 8, side + side);       // tile width and height
    files.push_back({"jpeg 2000", jp2});
    // The same cut into tiles of 64 x 65: the library would keep a record of each of 64,768 tiles.
    jp2.replace(siz + 22, 8, QByteArray("\x00\x00\x00\x40\x00\x00\x00\x41", 8));
    files.push_back({"jpeg 2000 of many tiles", jp2});
    // Under a kilobyte of 3900 x 3900 pixels in code blocks of 4 x 4, the coarsest picture of its
    // six resolutions in empty packets: the library's records of 950,000 code blocks took half a
    // gigabyte.
    files.push_back({"jpeg 2000 of tiny code blocks", tinyBlockJ2k(3900, 3900, 5, 1, QByteArray(6, '\0'), 850)});
    // A grey JPEG of 16,000 x 16,000 pixels cut to its first kilobyte.
    files.push_back({"jpeg", flatGreyJpeg(16000).left(1000)});
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        g_heapPeak = g_heapNow.load();
        const int64_t before = g_heapNow;
        QString error;
        auto source = ImageSource::createWithData(bytes, &error);
        if (source) {
            EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull());
            EXPECT_TRUE(source->createThumbnailAtIndex(0, 64, true).isNull());
            // Zoomed into: a part of a third of each side.
            const QSize full = source->reducedFrameSize(0, 1);
            EXPECT_TRUE(source->createImageInRect(0, QRect(QPoint(full.width() / 3, full.height() / 3), full / 3), 1).isNull());
        }
        EXPECT_TRUE(error.contains(QStringLiteral("far too short"))) << error.toStdString();
        EXPECT_LT(g_heapPeak - before, int64_t(200) << 20) << error.toStdString();
    }
    // An animation of 155 bytes whose one frame says 33,554,440 x 6 pixels, with no size of its
    // own: the toolkit reads it, held to what its bytes may hold.
    if (!ContentTypes::toolkitFormatForExtension(QStringLiteral("mng")).isEmpty()) {
        static const unsigned char mng[] = {
            0x8a, 0x4d, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x02, 0x00,
            0x00, 0x08, 0x00, 0x00, 0x00, 0x06, 0x08, 0x06, 0x00, 0x00, 0x00, 0xfe, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x65, 0x69, 0x66, 0x7f, 0x00, 0x00, 0x78, 0xda, 0xe3, 0x4a, 0xad, 0xc8,
            0x4c, 0xe3, 0x52, 0x00, 0x03, 0x63, 0x23, 0x2e, 0x13, 0x53, 0x73, 0x0b, 0x33, 0x4b, 0x33, 0x33, 0x03, 0x20,
            0x30, 0xb1, 0x34, 0xb1, 0x34, 0x4a, 0x04, 0x32, 0x2c, 0x0c, 0x69, 0x6e, 0x73, 0x75, 0x66, 0x66, 0x69, 0x63,
            0x69, 0x65, 0x6e, 0x74, 0x20, 0x6d, 0x65, 0x00, 0x00, 0x0e, 0xe3, 0x04, 0xfb, 0xad, 0x00, 0xf0, 0x71, 0x00,
            0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
        g_heapPeak = g_heapNow.load();
        const int64_t before = g_heapNow;
        QString error;
        auto source = ImageSource::createWithData(QByteArray(reinterpret_cast<const char*>(mng), sizeof mng), &error);
        EXPECT_TRUE(!source || source->createImageAtIndex(0, &error).isNull());
        EXPECT_FALSE(error.isEmpty());
        EXPECT_LT(g_heapPeak - before, int64_t(200) << 20) << error.toStdString();
    }
#endif
}

// Strips that lie past the end, run past it, overlap or are one strip named thousands of times,
// 65,535 strips of a row and tiles of one pixel: each file shows the rows its strips hold (the rest
// clear), the decode holding no more than its frame and a strip, or is refused with a reason (as
// thousands of JPEG-coded tiles of one pixel are).
TEST(ImageSourceHostile, TiffStripsOutsideOverlappingOrRepeatedShowWhatTheyHold)
{
    const auto deflate = [](const QByteArray& bytes) { return qCompress(bytes, 9).mid(4); };
    const auto rgbRow = [](quint32 width, quint32 y) {
        QByteArray row(qsizetype(width) * 3, '\0');
        for (qsizetype i = 0; i < row.size(); ++i)
            row[i] = char(i * 7 + y * 3);
        return row;
    };
    const auto expectRow = [&](const QImage& image, quint32 y, bool shown) {
        const QByteArray row = rgbRow(quint32(image.width()), y);
        for (int x = 0; x < image.width(); ++x) {
            const QRgb want = shown ? qRgb(uchar(row[x * 3]), uchar(row[x * 3 + 1]), uchar(row[x * 3 + 2])) : 0u;
            ASSERT_EQ(image.pixel(x, int(y)), want) << x << ", " << y;
        }
    };
    DecodeBudget& budget = DecodeBudget::shared();
    const auto decode = [&](const QByteArray& file, QString* error) {
        budget.resetPeak();
        auto source = ImageSource::createWithData(file, error);
        QImage image = source ? source->createImageAtIndex(0, error) : QImage();
        if (!image.isNull())
            EXPECT_LE(budget.peak(), uint64_t(image.sizeInBytes()) + (uint64_t(1) << 20));
        return image;
    };
    QString error;
    {
        // 32 strips of 8 rows, Deflate: the second half's offsets lie far past the end.
        QByteArray data;
        std::vector<quint32> offsets, counts;
        for (quint32 s = 0; s < 32; ++s) {
            QByteArray rows;
            for (quint32 r = 0; r < 8; ++r)
                rows += rgbRow(256, s * 8 + r);
            const QByteArray coded = deflate(rows);
            offsets.push_back(s < 16 ? quint32(data.size()) : 100000 * s);
            counts.push_back(quint32(coded.size()));
            if (s < 16)
                data += coded;
        }
        const QImage half = decode(stripTiff(256, 256, 3, 8, 8, 0, data, offsets, counts), &error);
        ASSERT_FALSE(half.isNull()) << error.toStdString();
        for (quint32 y = 0; y < 256; y += 5)
            expectRow(half, y, y < 128);
        // The same strips whose byte counts run a gigabyte past the end: refused, saying why.
        for (quint32& c : counts)
            c += 1000000000;
        offsets.resize(16);
        offsets.insert(offsets.end(), offsets.begin(), offsets.end());
        error.clear();
        EXPECT_TRUE(decode(stripTiff(256, 256, 3, 8, 8, 0, data, offsets, counts), &error).isNull());
        EXPECT_FALSE(error.isEmpty());
    }
    {
        // Stored strips of 4 rows each starting 10 bytes after the one before: far too few bytes.
        std::vector<quint32> offsets, counts;
        for (quint32 s = 0; s < 128; ++s)
            offsets.push_back(10 * s), counts.push_back(512 * 3 * 4);
        error.clear();
        EXPECT_TRUE(decode(stripTiff(512, 512, 3, 1, 4, 0, QByteArray(512 * 3 * 4 + 1280, '\x40'), offsets, counts), &error).isNull());
        EXPECT_TRUE(error.contains(QStringLiteral("far too short"))) << error.toStdString();
    }
    {
        // One Deflate strip of a row named for every one of 20,000 rows: each row shows it.
        const QByteArray one = deflate(rgbRow(600, 0));
        const QImage repeated = decode(stripTiff(600, 20000, 3, 8, 1, 0, one, std::vector<quint32>(20000, 0),
                                                 std::vector<quint32>(20000, quint32(one.size()))),
                                       &error);
        ASSERT_FALSE(repeated.isNull()) << error.toStdString();
        for (int y : {0, 9999, 19999})
            EXPECT_EQ(repeated.copy(0, y, 600, 1), repeated.copy(0, 0, 600, 1)) << y;
        expectRow(repeated, 0, true);
    }
    {
        // 65,535 stored strips of one grey row.
        QByteArray data(65535 * 4, '\0');
        std::vector<quint32> offsets, counts;
        for (quint32 y = 0; y < 65535; ++y) {
            for (int x = 0; x < 4; ++x)
                data[qsizetype(y) * 4 + x] = char(y + x);
            offsets.push_back(y * 4), counts.push_back(4);
        }
        const QImage tall = decode(stripTiff(4, 65535, 1, 1, 1, 0, data, offsets, counts), &error);
        ASSERT_FALSE(tall.isNull()) << error.toStdString();
        for (int y : {0, 300, 65534})
            EXPECT_EQ(tall.pixel(3, y), qRgb(uchar(y + 3), uchar(y + 3), uchar(y + 3))) << y;
    }
    {
        // Tiles of 1 x 1, 2 x 2 and 16 x 16 pixels, edge tiles cut on both sides, and a quarter of
        // a million tiles of one pixel: whole and in parts, the pixels are the library's own.
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        for (const auto& [width, height, tile] : {std::tuple{37u, 23u, 1u}, {37u, 23u, 2u}, {301u, 199u, 16u}, {512u, 512u, 1u}}) {
            SCOPED_TRACE(testing::Message() << width << " x " << height << " in tiles of " << tile);
            QByteArray data;
            std::vector<quint32> offsets, counts;
            for (quint32 top = 0; top < height; top += tile)
                for (quint32 left = 0; left < width; left += tile) {
                    offsets.push_back(quint32(data.size())), counts.push_back(tile * tile * 3);
                    for (quint32 y = top; y < top + tile; ++y)
                        data += rgbRow(width + tile, y).mid(qsizetype(left) * 3, qsizetype(tile) * 3);
                }
            const QString path = writeFile(dir, QStringLiteral("tiles.tif"), stripTiff(width, height, 3, 1, 0, tile, data, offsets, counts));
            QImage reference(int(width), int(height), QImage::Format_RGBA8888_Premultiplied);
            TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
            ASSERT_TRUE(tif);
            EXPECT_TRUE(TIFFReadRGBAImageOriented(tif, width, height, reinterpret_cast<uint32_t*>(reference.bits()), ORIENTATION_TOPLEFT, 1));
            TIFFClose(tif);
            const auto source = ImageSource::createWithFile(path, &error);
            ASSERT_TRUE(source) << error.toStdString();
            EXPECT_EQ(maxChannelDifference(source->createImageAtIndex(0, &error), reference), 0) << error.toStdString();
            const QRect part(3, 5, int(width) / 2, int(height) / 2);
            EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, part, 1, &error), reference.copy(part)), 0);
            EXPECT_EQ(source->createThumbnailAtIndex(0, 16, true, &error).width(), 16) << error.toStdString();
        }
    }
    {
        // Thousands of JPEG-coded tiles of one pixel, all the same few hundred bytes: each would
        // start a JPEG decoder of its own. Refused at once, saying why.
        const QByteArray jpeg = referenceJpeg(pattern(1, 1, false), 90, false, TJSAMP_444);
        error.clear();
        EXPECT_FALSE(ImageSource::createWithData(stripTiff(65, 65, 3, 7, 0, 1, jpeg, std::vector<quint32>(65 * 65, 0),
                                                           std::vector<quint32>(65 * 65, quint32(jpeg.size()))),
                                                 &error));
        EXPECT_TRUE(error.contains(QStringLiteral("too many to decode"))) << error.toStdString();
    }
}

// Every reader charges the frame it allocates to the one process-wide budget: with the whole
// budget held elsewhere, a decode waits until it is given back.
TEST(ImageSourceBudget, EveryReaderWaitsForTheBudget)
{
    const QImage picture = pattern(24, 16, false);
    std::vector<GifFrameSpec> frames;
    frames.push_back({0, 0, 24, 16, 5, 0, -1, false, filled(24, 16, 2)});
    const std::vector<std::pair<const char*, QByteArray>> files = {
        {"jpeg", referenceJpeg(picture, 80, false, TJSAMP_420)},
        {"png", referencePng(picture, false, false)},
        {"gif", referenceGif(24, 16, frames, 0)},
        {"bmp", bmpFile(2, 2, 24, 0, QByteArray(16, '\x40'))},
        {"bmp bit fields", bitFieldBmp(picture, kTenBitFields)},
        {"tiff", tiffFile(2, 2, 1, QByteArray(12, '\x40'))},
    };
    DecodeBudget& budget = DecodeBudget::shared();
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        QString error;
        auto source = ImageSource::createWithData(bytes, &error);
        ASSERT_TRUE(source) << error.toStdString();
        std::atomic<bool> givenBack{false};
        std::promise<void> held;
        std::thread other([&] {
            DecodeBudget::Reservation all = budget.reserve(budget.capacity());
            held.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            givenBack = true;
        });
        held.get_future().wait();
        const QImage image = source->createImageAtIndex(0, &error);
        const bool waited = givenBack;
        other.join();
        EXPECT_FALSE(image.isNull()) << error.toStdString();
        EXPECT_TRUE(waited);
    }
}

// BMPs of every depth stored bottom up and top down, plain 32-bit files with their padding byte
// set, and bit-field files with and without an alpha mask behind every header size, each against
// the toolkit's own reader of the same bytes; 16-bit ones against their 5 bits a channel scaled
// to 0..255 (the toolkit makes white 248).
TEST(ImageSourceBmp, EveryLayoutMatchesTheToolkitsReader)
{
    const int w = 13, h = 7;
    auto reference = [](const QByteArray& file) {
        return QImage::fromData(file, "BMP").convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    };
    // The toolkit refuses some header sizes: those are held against its reading of the same
    // pixels behind the longest header.
    auto check = [&](const char* name, const QByteArray& file, const QByteArray& referenceFile = {}, QImage theirs = {}) {
        SCOPED_TRACE(name);
        QString error;
        auto source = ImageSource::createWithData(file, &error);
        ASSERT_TRUE(source) << error.toStdString();
        EXPECT_EQ(source->propertiesAtIndex(0).value(kCGImagePropertyPixelHeight).toInt(), h);
        const QImage ours = source->createImageAtIndex(0, &error);
        ASSERT_FALSE(ours.isNull()) << error.toStdString();
        if (theirs.isNull())
            theirs = reference(referenceFile.isEmpty() ? file : referenceFile);
        ASSERT_FALSE(theirs.isNull());
        EXPECT_LE(maxChannelDifference(ours, theirs), 1);
    };
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        std::vector<QRgb> palette;
        if (bits <= 8)
            for (int i = 0; i < (1 << bits); ++i)
                palette.push_back(qRgb(i * 255 / ((1 << bits) - 1), 255 - i * 7 % 256, i * 37 % 256));
        const int rowBytes = (w * bits + 31) / 32 * 4;
        for (bool topDown : {false, true}) {
            QByteArray rows(rowBytes * h, '\0');
            QImage fiveBits(w, h, QImage::Format_RGBA8888_Premultiplied);
            const auto level = [](int v5) { return (v5 * 255 + 15) / 31; };
            for (int y = 0; y < h; ++y) {
                uchar* row = reinterpret_cast<uchar*>(rows.data()) + y * rowBytes;
                for (int x = 0; x < w; ++x) {
                    const int v = (x * 3 + y * 5) % 251;
                    if (bits <= 8) {
                        const int index = v % (1 << bits), at = x * bits;
                        row[at / 8] |= uchar(index << (8 - bits - at % 8));
                    } else if (bits == 16) {
                        // 5 bits a channel; the top bit a writer left set means nothing.
                        const int word = 0x8000 | (v >> 3) << 10 | ((255 - v) >> 3) << 5 | ((v * 2) & 0xFF) >> 3;
                        row[x * 2] = uchar(word), row[x * 2 + 1] = uchar(word >> 8);
                        const int stored = topDown ? y : h - 1 - y;
                        fiveBits.setPixel(x, stored, qRgb(level(v >> 3), level((255 - v) >> 3), level(((v * 2) & 0xFF) >> 3)));
                    } else {
                        uchar* p = row + x * (bits / 8);
                        p[0] = uchar(v), p[1] = uchar(255 - v), p[2] = uchar(v * 2);
                        if (bits == 32)
                            p[3] = 0x55;  // padding a writer left set: no alpha
                    }
                }
            }
            const QByteArray file = bmpFile(w, topDown ? -h : h, bits, 0, rows, palette);
            check(topDown ? "top down" : "bottom up", file, {}, bits == 16 ? fiveBits : QImage());
            if (bits == 32) {
                auto source = ImageSource::createWithData(file);
                ASSERT_TRUE(source);
                EXPECT_EQ(qAlpha(source->createImageAtIndex(0).pixel(4, 4)), 255);
            }
        }
    }
    const quint32 masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
    const QImage translucent = pattern(w, h, true);
    auto withMasks = [&](int header, bool alpha) {
            QByteArray file = bitFieldBmp(translucent, masks, header);
            if (alpha) {
                file.replace(14 + 52, 4, QByteArray("\x00\x00\x00\xFF", 4));
                const int data = int(file.size()) - w * h * 4;
                for (int y = h - 1, at = data; y >= 0; --y)
                    for (int x = 0; x < w; ++x, at += 4) {
                        const QRgb p = translucent.pixel(x, y);
                        file[at + 3] = char(qAlpha(p));
                    }
            }
            return file;
    };
    for (int header : {40, 52, 56, 108, 124})
        for (bool alpha : {false, true}) {
            if ((header == 40 || header == 52) && alpha)
                continue;  // a short header has no room for an alpha mask
            SCOPED_TRACE(header);
            check(alpha ? "bit fields with an alpha mask" : "bit fields", withMasks(header, alpha), withMasks(124, alpha));
        }
}

// Run-length files of 8 and 4 bits (runs, absolute stretches of odd and even length, a row ended
// early, a delta over pixels and rows, an early end of the picture) are read in one pass over
// their codes, their pixels those of the toolkit's reader. Runs and stretches that overflow their
// row are cut at its end and leave the next row as coded; codes past the last row are not read.
TEST(ImageSourceBmp, RunLengthFilesAreReadOnceWithTheToolkitsPixels)
{
    const int w = 13, h = 6;
    std::vector<QRgb> palette;
    for (int i = 0; i < 256; ++i)
        palette.push_back(qRgb(i * 11 % 256, 255 - i, i * 37 % 256));
    const auto code = [](std::initializer_list<int> bytes) {
        QByteArray out;
        for (int b : bytes)
            out.append(char(b));
        return out;
    };
    for (int bits : {8, 4}) {
        SCOPED_TRACE(bits);
        const std::vector<QRgb> colours(palette.begin(), palette.begin() + (1 << bits));
        const int a = bits == 8 ? 0x41 : 0x5A, b = bits == 8 ? 0xC7 : 0x3C;
        // An absolute stretch of `count` indexes taken from `from`, padded to an even length.
        const auto stretch = [&](int count, int from) {
            QByteArray out = code({0, count});
            const int bytes = bits == 8 ? count : (count + 1) / 2;
            for (int i = 0; i < bytes; ++i)
                out.append(char((from + i * 3) & (bits == 8 ? 0xFF : 0x77)));
            return bytes % 2 ? out.append('\0') : out;
        };
        const QByteArray rows = code({5, a, 8, b, 0, 0}) +                 // two runs
                                stretch(7, 1) + code({6, a, 0, 0}) +       // an odd stretch
                                code({4, b, 0, 0}) +                       // a row ended early
                                code({2, a, 0, 2, 3, 1, 3, b, 0, 0}) +     // a delta
                                stretch(4, 9) + code({9, b, 0, 1});        // an early end
        const QByteArray file = bmpFile(w, h, bits, bits == 8 ? 1 : 2, rows, colours);
        QImage theirs = QImage::fromData(file, "BMP").convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        ASSERT_FALSE(theirs.isNull());
        // Pixels no code reaches the toolkit leaves undefined: here they take the first colour.
        const QRect unreached[] = {{4, 3, 9, 1}, {2, 2, 11, 1}, {0, 1, 5, 1}, {8, 1, 5, 1}};
        for (const QRect& r : unreached)
            for (int x = r.left(); x <= r.right(); ++x)
                theirs.setPixel(x, r.top(), colours[0] | 0xFF000000u);
        QString error;
        auto source = ImageSource::createWithData(file, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage ours = source->createImageAtIndex(0, &error);
        ASSERT_FALSE(ours.isNull()) << error.toStdString();
        EXPECT_EQ(maxChannelDifference(ours, theirs), 0);

        // Overflowing codes: a run of 255 and a stretch of 20 in rows of 13, then a row as coded.
        QByteArray nines = code({0, 20});
        for (int i = 0; i < 20; i += bits == 8 ? 1 : 2)
            nines.append(char(bits == 8 ? 9 : 0x99));
        const QByteArray overflowing = code({255, a, 0, 0}) + nines + code({0, 0, 13, b, 0, 0}) + code({0, 1});
        source = ImageSource::createWithData(bmpFile(w, 3, bits, bits == 8 ? 1 : 2, overflowing, colours), &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage cut = source->createImageAtIndex(0, &error);
        ASSERT_FALSE(cut.isNull()) << error.toStdString();
        const auto colour = [&](int index) { return colours[size_t(index)] | 0xFF000000u; };
        const int high = bits == 8 ? a : a >> 4, low = bits == 8 ? a : a & 0xF;
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(cut.pixel(x, 2), colour(x % 2 ? low : high)) << x;
            EXPECT_EQ(cut.pixel(x, 1), colour(9)) << x;
            EXPECT_EQ(cut.pixel(x, 0), colour(bits == 8 ? b : (x % 2 ? b & 0xF : b >> 4))) << x;
        }
    }
}

// A camera raw file in the open raw format: its first directory the JPEG preview, a second one
// the sensor's data (16-bit, uncompressed, in a 2 x 2 colour filter pattern).
QByteArray rawFileWithPreview(const QByteArray& jpeg, int width, int height)
{
    struct Entry {
        quint16 tag, type;
        std::vector<quint32> values;
        QByteArray text;
    };
    QByteArray out("II*\0\0\0\0\0", 8);
    auto le16 = [](QByteArray& b, quint32 v) { b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
    auto le32 = [&](QByteArray& b, quint32 v) { le16(b, v & 0xFFFF); le16(b, v >> 16); };
    const quint32 jpegAt = 8;
    out.append(jpeg);
    if (out.size() & 1)
        out.append('\0');
    const quint32 sensorAt = quint32(out.size());
    out.append(QByteArray(width * height * 2, '\x10'));
    // A directory at the end of the file, its longer values after it; `next` names the following one.
    auto directory = [&](std::vector<Entry> entries) {
        const quint32 at = quint32(out.size()), dataAt = at + 2 + quint32(entries.size()) * 12 + 4;
        QByteArray table, data;
        le16(table, quint32(entries.size()));
        for (const Entry& e : entries) {
            QByteArray value = e.text;
            for (quint32 v : e.values)
                e.type == 1 ? void(value.append(char(v))) : e.type == 3 ? le16(value, v) : le32(value, v);
            le16(table, e.tag);
            le16(table, e.type);
            le32(table, e.text.isEmpty() ? quint32(e.values.size()) : quint32(value.size()));
            if (value.size() <= 4) {
                table.append(value.leftJustified(4, '\0'));
            } else {
                le32(table, dataAt + quint32(data.size()));
                data.append(value);
            }
        }
        le32(table, 0);
        out.append(table).append(data);
        return at;
    };
    const quint32 sensor = directory({{254, 4, {0}, {}}, {256, 4, {quint32(width)}, {}}, {257, 4, {quint32(height)}, {}},
                                      {258, 3, {16}, {}}, {259, 3, {1}, {}}, {262, 3, {32803}, {}}, {273, 4, {sensorAt}, {}},
                                      {277, 3, {1}, {}}, {278, 4, {quint32(height)}, {}},
                                      {279, 4, {quint32(width * height * 2)}, {}}, {33421, 3, {2, 2}, {}},
                                      {33422, 1, {0, 1, 1, 2}, {}}});
    const quint32 first = directory({{254, 4, {1}, {}}, {256, 4, {quint32(width)}, {}}, {257, 4, {quint32(height)}, {}},
                                     {258, 3, {8, 8, 8}, {}}, {259, 3, {7}, {}}, {262, 3, {6}, {}},
                                     {271, 2, {}, QByteArray("Test", 5)}, {272, 2, {}, QByteArray("Camera", 7)},
                                     {273, 4, {jpegAt}, {}}, {277, 3, {3}, {}}, {278, 4, {quint32(height)}, {}},
                                     {279, 4, {quint32(jpeg.size())}, {}}, {330, 4, {sensor}, {}},
                                     {50706, 1, {1, 4, 0, 0}, {}}, {50708, 2, {}, QByteArray("Test Camera", 12)}});
    out[4] = char(first & 0xFF), out[5] = char((first >> 8) & 0xFF), out[6] = char((first >> 16) & 0xFF), out[7] = char(first >> 24);
    return out;
}

// A camera raw file shows the preview its camera stored, decoded when asked and at the size
// asked (a fitted picture costs its own size, not the preview's), charged to the decode budget.
TEST(ImageSourceRaw, ThePreviewIsDecodedWhenAskedAtTheSizeAsked)
{
    const QImage picture = pattern(256, 192, false);
    const QByteArray jpeg = referenceJpeg(picture, 90, false, TJSAMP_444);
    QTemporaryDir dir;
    QString error;
    const auto source = ImageSource::createWithFile(writeFile(dir, QStringLiteral("photo.dng"), rawFileWithPreview(jpeg, 32, 24)), &error);
    ASSERT_TRUE(source) << error.toStdString();
    EXPECT_EQ(source->type(), ContentTypes::kCameraRaw);
    EXPECT_EQ(source->reducedFrameSize(0, 1), picture.size());
    const QImage whole = source->createImageAtIndex(0, &error);
    ASSERT_FALSE(whole.isNull()) << error.toStdString();
    EXPECT_LE(maxChannelDifference(whole, QImage::fromData(jpeg).convertToFormat(QImage::Format_RGBA8888_Premultiplied)), 4);
    DecodeBudget& budget = DecodeBudget::shared();
    budget.resetPeak();
    const uint64_t before = budget.peak();
    EXPECT_EQ(source->createThumbnailAtIndex(0, 64, true, &error).size(), QSize(64, 48)) << error.toStdString();
    EXPECT_GT(budget.peak(), before);
    EXPECT_LT(budget.peak() - before, uint64_t(picture.sizeInBytes()) / 4);
}

// A lossless WebP holds its whole picture inside the library while it decodes: a full-size
// decode that with its frame would take more than all decodes may use is refused with the
// reason, while its thumbnail and its parts still come.
TEST(ImageSourceBudget, ALosslessWebpNeverTakesTwiceItsPictureOverTheBudget)
{
    QImage flat(1000, 800, QImage::Format_RGBA8888);
    flat.fill(QColor(30, 120, 200));
    auto source = ImageSource::createWithData(losslessWebp(flat));
    ASSERT_TRUE(source);
    DecodeBudget& budget = DecodeBudget::shared();
    const uint64_t former = budget.setCapacity(uint64_t(flat.sizeInBytes()) * 3 / 2);
    QString error;
    const QImage whole = source->createImageAtIndex(0, &error);
    const QImage thumbnail = source->createThumbnailAtIndex(0, 100, true);
    const QImage part = source->createImageInRect(0, QRect(10, 20, 300, 200), 1);
    budget.setCapacity(former);
    EXPECT_TRUE(whole.isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("MB"))) << error.toStdString();
    EXPECT_EQ(thumbnail.size(), QSize(100, 80));
    ASSERT_EQ(part.size(), QSize(300, 200));
    EXPECT_EQ(part.pixel(299, 199), qRgb(30, 120, 200));
}

// A picture whose frame alone takes the whole budget, beside the rows its decode holds too, is
// refused with the sizes, and the budget is never exceeded; with room for both it decodes.
TEST(ImageSourceBudget, AFrameThatFillsTheBudgetBesideItsOwnRowsIsRefused)
{
    const QImage picture = pattern(1024, 512, false);
    const uint64_t frameBytes = uint64_t(picture.width()) * uint64_t(picture.height()) * 4;
    DecodeBudget& budget = DecodeBudget::shared();
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "sequential");
        auto source = ImageSource::createWithData(referenceJpeg(picture, 90, progressive, TJSAMP_420));
        ASSERT_TRUE(source);
        const uint64_t former = budget.setCapacity(frameBytes);
        budget.resetPeak();
        QString error;
        const QImage refused = source->createImageAtIndex(0, &error);
        const uint64_t peak = budget.peak();
        budget.setCapacity(frameBytes + (uint64_t(4) << 20));
        const QImage decoded = source->createImageAtIndex(0);
        budget.setCapacity(former);
        EXPECT_TRUE(refused.isNull());
        EXPECT_TRUE(error.contains(QStringLiteral("more than"))) << error.toStdString();
        EXPECT_LE(peak, frameBytes);
        EXPECT_EQ(decoded.size(), picture.size());
    }
}

// A progressive JPEG decoded at a scale only the reference library takes (3/8) holds the
// coefficients of the whole picture while it decodes: they are paid for too, so with room left
// for the frame alone it waits for the budget.
TEST(ImageSourceBudget, AProgressiveJpegPaysForItsCoefficients)
{
    const QByteArray progressive = referenceJpeg(pattern(256, 256, false), 90, true, TJSAMP_444);
    auto source = ImageSource::createWithData(progressive);
    ASSERT_TRUE(source);
    DecodeBudget& budget = DecodeBudget::shared();
    std::atomic<bool> givenBack{false};
    std::promise<void> held;
    std::thread other([&] {
        DecodeBudget::Reservation most = budget.reserve(budget.capacity() - 300 * 1024);
        held.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        givenBack = true;
    });
    held.get_future().wait();
    QString error;
    const QImage image = source->createThumbnailAtIndex(0, 96, true, &error);
    const bool waited = givenBack;
    other.join();
    EXPECT_FALSE(image.isNull()) << error.toStdString();
    EXPECT_TRUE(waited);
}

// A grey progressive JPEG of side x side, every block flat: a DC scan, then `acScans` scans of one
// AC coefficient each (each coefficient refined bit by bit), every scan a few runs of 16,384
// end-of-bands over all blocks: some hundred bytes that ask the decoder to visit every block.
QByteArray flatProgressiveJpeg(int side, int acScans)
{
    QByteArray out("\xFF\xD8", 2);
    auto segment = [&](uchar marker, const QByteArray& body) {
        const int length = int(body.size()) + 2;
        out.append(char(0xFF)).append(char(marker)).append(char(length >> 8)).append(char(length & 0xFF)).append(body);
    };
    segment(0xDB, QByteArray(1, 0) + QByteArray(64, 1));
    const char size[4] = {char(side >> 8), char(side & 0xFF), char(side >> 8), char(side & 0xFF)};
    segment(0xC2, QByteArray("\x08", 1) + QByteArray(size, 4) + QByteArray("\x01\x01\x11\x00", 4));
    // The one code of each table is the bit 0: no DC difference; a run of 16,384 + 14 bits of end-of-bands.
    QByteArray table(17, 0);
    table[1] = 1;
    segment(0xC4, table + QByteArray(1, 0));
    table[0] = 0x10;
    segment(0xC4, table + QByteArray(1, char(0xE0)));
    const int64_t blocks = int64_t((side + 7) / 8) * ((side + 7) / 8);
    segment(0xDA, QByteArray("\x01\x01\x00\x00\x00\x00", 6));
    out.append(QByteArray((blocks + 7) / 8, 0));
    for (int i = 0; i < acScans; ++i) {
        const int band = 1 + i / 14, step = i % 14;
        const char scan[6] = {1, 1, 0, char(band), char(band), char(step == 0 ? 13 : (14 - step) << 4 | (13 - step))};
        segment(0xDA, QByteArray(scan, 6));
        out.append(QByteArray(((blocks + 16383) / 16384 * 15 + 7) / 8, 0));
    }
    return out.append("\xFF\xD9", 2);
}

// A progressive JPEG of a few hundred kilobytes whose scans ask for hundreds of passes over 64
// million pixels is refused at once with the reason, at every size; one of a few scans decodes.
TEST(ImageSourceHostile, AProgressiveJpegOfTooManyScansForItsBytesIsRefusedAtOnce)
{
    auto source = ImageSource::createWithData(flatProgressiveJpeg(8000, 300));
    ASSERT_TRUE(source);
    QString error;
    EXPECT_TRUE(source->createThumbnailAtIndex(0, 256, true, &error).isNull());
    EXPECT_TRUE(error.contains("passes over its blocks")) << error.toStdString();
    EXPECT_TRUE(source->createThumbnailAtIndex(0, 3000, true).isNull());
    EXPECT_TRUE(source->createImageAtIndex(0).isNull());
    EXPECT_TRUE(source->createImageInRect(0, QRect(0, 0, 64, 64), 1).isNull());
    auto fine = ImageSource::createWithData(flatProgressiveJpeg(64, 30));
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->createThumbnailAtIndex(0, 24, true, &error).width(), 24) << error.toStdString();
}

// Some kilobytes of 200 scans over a picture of 5.8 million pixels (18 million passes over its
// blocks) are refused on every road, the whole picture, a thumbnail and a part zoomed into, each
// at once; a flat picture of that size written with a writer's own scans decodes.
TEST(ImageSourceHostile, ManyScansOverAPictureOfFewBytesAreRefusedOnEveryRoad)
{
    const QByteArray hostile = flatProgressiveJpeg(2400, 200);
    ASSERT_LT(hostile.size(), 20000);
    auto source = ImageSource::createWithData(hostile);
    ASSERT_TRUE(source);
    QString whole, thumbnail, part, reducedPart;
    EXPECT_TRUE(source->createImageAtIndex(0, &whole).isNull());
    EXPECT_TRUE(source->createThumbnailAtIndex(0, 256, true, &thumbnail).isNull());
    EXPECT_TRUE(source->createImageInRect(0, QRect(800, 800, 256, 256), 1, &part).isNull());
    EXPECT_TRUE(source->createImageInRect(0, QRect(0, 0, 300, 300), 8, &reducedPart).isNull());
    for (const QString& error : {whole, thumbnail, part, reducedPart})
        EXPECT_TRUE(error.contains("passes over its blocks")) << error.toStdString();

    QImage flat(2400, 2400, QImage::Format_RGBA8888);
    flat.fill(QColor(90, 140, 200));
    auto written = ImageSource::createWithData(referenceJpeg(flat, 90, true, TJSAMP_420));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->createThumbnailAtIndex(0, 256, true, &thumbnail).width(), 256) << thumbnail.toStdString();
    EXPECT_EQ(written->createImageInRect(0, QRect(800, 800, 64, 64), 1, &part).width(), 64) << part.toStdString();
}

// Every further format the installed toolkit readers know is listed by its extension and shows as
// the toolkit itself reads it, from files made here: those it writes, and TGA written by hand.
// An any-map file cut short (a download that stopped) shows the rows that arrived, in a full view
// and in a thumbnail, the rest clear; one cut before its rows is refused with a reason.
TEST(ImageSourceToolkit, CutShortAnyMapShowsTheRowsThatArrived)
{
    if (ContentTypes::toolkitFormatForExtension(QStringLiteral("ppm")).isEmpty())
        GTEST_SKIP() << "no any-map reader is installed";
    const QImage picture = pattern(40, 32, false).convertToFormat(QImage::Format_RGB32);
    for (const char* format : {"ppm", "pgm"}) {
        SCOPED_TRACE(format);
        const QImage stored = QByteArray(format) == "pgm" ? picture.convertToFormat(QImage::Format_Grayscale8) : picture;
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(QImageWriter(&buffer, format).write(stored));
        // The header is three lines (magic, size, largest sample); the rows follow.
        qsizetype rowsAt = 0;
        for (int line = 0; line < 3; ++line)
            rowsAt = bytes.indexOf('\n', rowsAt) + 1;
        const qsizetype rowBytes = (bytes.size() - rowsAt) / 32;
        QTemporaryDir dir;
        QString error;
        auto source = ImageSource::createWithFile(writeFile(dir, QStringLiteral("cut.pnm"), bytes.left(rowsAt + rowBytes * 10 + 7)), &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QImage shown = source->createImageAtIndex(0, &error);
        ASSERT_FALSE(shown.isNull()) << error.toStdString();
        EXPECT_EQ(maxChannelDifference(shown.copy(0, 0, 40, 10), stored.convertToFormat(QImage::Format_RGBA8888_Premultiplied).copy(0, 0, 40, 10)), 0);
        EXPECT_EQ(qAlpha(shown.pixel(5, 10)), 0);
        EXPECT_EQ(qAlpha(shown.pixel(39, 31)), 0);
        const QImage thumbnail = source->createThumbnailAtIndex(0, 20, true, &error);
        ASSERT_FALSE(thumbnail.isNull()) << error.toStdString();
        EXPECT_EQ(qAlpha(thumbnail.pixel(5, 0)), 255);
        EXPECT_EQ(qAlpha(thumbnail.pixel(5, 15)), 0);
        auto head = ImageSource::createWithFile(writeFile(dir, QStringLiteral("head.pnm"), bytes.left(rowsAt + 3)), &error);
        EXPECT_TRUE(!head || head->createImageAtIndex(0, &error).isNull());
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(ImageSourceToolkit, EveryFurtherFormatIsListedAndShown)
{
    const QImage picture = pattern(21, 13, false).convertToFormat(QImage::Format_RGB32);
    std::vector<std::pair<QString, QByteArray>> files;
    for (const QByteArray& format : QImageWriter::supportedImageFormats()) {
        const QString extension = QString::fromLatin1(format).toLower();
        if (ContentTypes::toolkitFormatForExtension(extension).isEmpty())
            continue;
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (QImageWriter(&buffer, format).write(picture))
            files.emplace_back(extension, bytes);
    }
    if (!ContentTypes::toolkitFormatForExtension(QStringLiteral("tga")).isEmpty()) {
        QByteArray tga(18, '\0');
        tga[2] = 2;  // uncompressed true colour
        tga[12] = char(picture.width()), tga[14] = char(picture.height()), tga[16] = 24, tga[17] = 0x20;  // top down
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb p = picture.pixel(x, y);
                tga.append(char(qBlue(p))).append(char(qGreen(p))).append(char(qRed(p)));
            }
        // Without the footer of the format's second version, as most writers leave it, and with it.
        files.emplace_back(QStringLiteral("tga"), tga);
        tga.append(QByteArray(8, '\0')).append("TRUEVISION-XFILE.", 17).append('\0');
        files.emplace_back(QStringLiteral("tga"), tga);
    }
    if (!ContentTypes::toolkitFormatForExtension(QStringLiteral("mng")).isEmpty()) {
        // A one-frame animation: the chunks of a PNG of the picture inside an animation header.
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(picture.save(&buffer, "PNG"));
        auto chunk = [](const char* type, const QByteArray& body) {
            QByteArray out;
            auto be32 = [&out](quint32 v) { for (int i = 3; i >= 0; --i) out.append(char((v >> (8 * i)) & 0xFF)); };
            const QByteArray typed = QByteArray(type, 4) + body;
            quint32 crc = 0xFFFFFFFFu;
            for (char c : typed) {
                crc ^= uchar(c);
                for (int k = 0; k < 8; ++k)
                    crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
            }
            be32(quint32(body.size()));
            out.append(typed);
            be32(~crc);
            return out;
        };
        QByteArray header;
        for (quint32 v : {quint32(picture.width()), quint32(picture.height()), 1000u, 0u, 0u, 0u, 0u})
            for (int i = 3; i >= 0; --i)
                header.append(char((v >> (8 * i)) & 0xFF));
        files.emplace_back(QStringLiteral("mng"), QByteArray("\x8AMNG\r\n\x1A\n", 8) + chunk("MHDR", header) + png.mid(8) +
                                                      chunk("MEND", {}));
    }
    if (files.empty())
        GTEST_SKIP() << "no further image formats are installed";
    QTemporaryDir dir;
    for (const auto& [extension, bytes] : files) {
        SCOPED_TRACE(extension.toStdString());
        EXPECT_EQ(ContentTypes::typeForExtension(extension), ContentTypes::kToolkitImage);
        EXPECT_TRUE(ContentTypes::conformsTo(ContentTypes::kToolkitImage, ContentTypes::kImage));
        QString error;
        auto source = ImageSource::createWithFile(writeFile(dir, QStringLiteral("picture.") + extension, bytes), &error);
        ASSERT_TRUE(source) << error.toStdString();
        // The toolkit writes cursors as icons, which our own reader takes.
        EXPECT_EQ(source->type(), extension == QLatin1String("cur") ? ContentTypes::kIco : ContentTypes::kToolkitImage);
        // The toolkit's own reader is the reference (its TGA reader asks for the footer).
        const QByteArray withFooter = extension == QLatin1String("tga") && !bytes.endsWith(QByteArray("XFILE.\0", 7))
                                          ? bytes + QByteArray(8, '\0') + QByteArray("TRUEVISION-XFILE.\0", 18)
                                          : bytes;
        const QImage theirs = QImage::fromData(withFooter, ContentTypes::toolkitFormatForExtension(extension).constData())
                                  .convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        EXPECT_EQ(source->propertiesAtIndex(0).value(kCGImagePropertyPixelWidth).toInt(), theirs.width());
        const QImage ours = source->createImageAtIndex(0, &error);
        ASSERT_FALSE(ours.isNull()) << error.toStdString();
        EXPECT_EQ(maxChannelDifference(ours, theirs), 0);
        EXPECT_FALSE(source->createThumbnailAtIndex(0, 8, true).isNull());
    }
}

}  // namespace
