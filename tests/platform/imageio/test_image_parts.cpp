// Parts of a picture decoded alone, as a zoomed-in view asks for them: against the reference
// decoder at every reduction, on the edges of the picture, for a file of another format, and for
// panoramas whose whole decode the budget refuses.

#include "imageio/DecodeBudget.h"
#include "imageio/ImageSource.h"
#include "imageio_support.h"
#include "../../support/LargePictures.h"

#include <turbojpeg.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

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
        QImage expected(reduced.size(), QImage::Format_RGBA8888_Premultiplied);
        for (int y = 0; y < reduced.height(); ++y)
            for (int x = 0; x < reduced.width(); ++x) {
                int sum[4] = {0, 0, 0, 0}, n = 0;
                for (int dy = 0; dy < 4; ++dy)
                    for (int dx = 0; dx < 4; ++dx) {
                        const int wx = (reduced.x() + x) * 4 + dx, wy = (reduced.y() + y) * 4 + dy;
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
        EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, reduced, 4), expected), 0)
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
    // Wider than any JPEG: a PNG panorama of 100,000 pixels, its parts exact.
    const QString png = dir.filePath(QStringLiteral("pano.png"));
    ASSERT_TRUE(writeLargePng(png, 100000, 2000));
    QString error;
    const auto source = ImageSource::createWithFile(png, &error);
    ASSERT_TRUE(source) << error.toStdString();
    const QRect rect(98000, 900, 1600, 1000);
    EXPECT_EQ(maxChannelDifference(source->createImageInRect(0, rect, 1, &error), largePicturePart(rect, 100000)), 0)
        << error.toStdString();
    EXPECT_LE(budget.peak(), budget.capacity());
    EXPECT_LT(budget.peak(), uint64_t(64) << 20); // the parts, not the pictures
}

} // namespace
