// Parts of a picture decoded alone, as a zoomed-in view asks for them: against the reference
// decoder at every reduction, on the edges of the picture, for a file of another format, and for
// panoramas whose whole decode the budget refuses.

#include "imageio/DecodeBudget.h"
#include "imageio/ImageSource.h"
#include "imageio_support.h"
#include "../../support/LargeJpeg.h"

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

TEST(ImageParts, OtherFormatsAnswerTheSamePixelsAsTheirWholeDecode)
{
    const QImage picture = pattern(301, 203, true);
    const auto source = ImageSource::createWithData(referencePng(picture, true, false));
    ASSERT_TRUE(source);
    const QImage whole = source->createImageAtIndex(0);
    const QRect rect(17, 40, 100, 60);
    const QImage part = source->createImageInRect(0, rect, 1);
    EXPECT_EQ(maxChannelDifference(part, whole.copy(rect)), 0);
    EXPECT_EQ(source->createImageInRect(0, QRect(0, 0, 76, 51), 4).size(), QSize(76, 51));
}

// Panoramas as large as a JPEG may be (65500 pixels a side at most) and one whose whole decode
// exceeds the frame limit and the budget: each part costs the budget its own size only.
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
    EXPECT_LE(budget.peak(), budget.capacity());
    EXPECT_LT(budget.peak(), uint64_t(64) << 20); // the parts, not the pictures
}

} // namespace
