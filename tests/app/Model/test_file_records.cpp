#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMFileInfo.h"

#include "imageio/ImageProperties.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

LMFileImgBaseInfo info(int64_t orientation, double w, double h, const QVariantMap &props = {})
{
    return LMFileImgBaseInfo(LMPathString("/p/a.jpg", false), "public.jpeg", 2, QDateTime::fromSecsSinceEpoch(100), QSizeF(w, h),
                             orientation, props);
}

struct OrientationRow {
    int64_t orientation;
    int64_t angle;
    bool mirrored;
};

TEST(FileImgBaseInfo, OrientationGivesAngleAndMirror)
{
    const OrientationRow rows[] = {{0, 0, false}, {1, 0, false}, {2, 0, true},   {3, 180, false}, {4, 180, true},
                                   {5, 90, true}, {6, 90, false}, {7, 270, true}, {8, 270, false}, {9, 0, false},
                                   {-1, 0, false}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.orientation);
        const auto i = info(r.orientation, 4000, 3000);
        EXPECT_EQ(i.orientationAngle(), r.angle);
        EXPECT_EQ(i.isOrientationMirrored(), r.mirrored);
        EXPECT_EQ(i.rawOrientation(), r.orientation == 0 ? 1 : r.orientation);
        EXPECT_EQ(LMFileImgBaseInfo::angleByOrientation(r.orientation), r.angle);
    }
}

TEST(FileImgBaseInfo, FrameSizeFollowsTheTurn)
{
    const auto turned = info(6, 4000, 3000);
    EXPECT_EQ(turned.frameSize(), QSizeF(3000, 4000));
    EXPECT_EQ(turned.rawFrameRect(), QRectF(0, 0, 4000, 3000));
    // Pixels stored tall are turned by the tag as well: the tag alone decides.
    const auto tall = info(6, 3000, 4000);
    EXPECT_EQ(tall.orientationAngle(), 90);
    EXPECT_EQ(tall.frameSize(), QSizeF(4000, 3000));
    EXPECT_TRUE(info(5, 3000, 4000).isOrientationMirrored());
    EXPECT_EQ(info(3, 40, 30).frameSize(), QSizeF(40, 30));
    EXPECT_EQ(info(8, 40, 30).frameSize(), QSizeF(30, 40));
}

TEST(FileImgBaseInfo, GifDelayAndDpiAreReadInSinglePrecision)
{
    using namespace kpv;
    auto gif = [](QVariant delay) {
        return info(1, 10, 10, {{kCGImagePropertyGIFDictionary, QVariantMap{{kCGImagePropertyGIFDelayTime, delay}}}}).delayTime();
    };
    EXPECT_EQ(info(1, 10, 10).delayTime(), 0.03);
    EXPECT_EQ(gif(0.1), double(0.1f));
    EXPECT_EQ(gif(0.02), double(0.02f));
    EXPECT_EQ(gif(0.0), 0.1);   // "as fast as possible" plays at a tenth of a second
    EXPECT_EQ(gif(0.01), 0.1);
    EXPECT_EQ(gif(-1.0), 0.1);
    EXPECT_EQ(gif(QString("junk")), 0.03);

    const auto withDpi = info(1, 10, 10, {{kCGImagePropertyDPIWidth, 72.3}, {kCGImagePropertyDPIHeight, 300}});
    EXPECT_EQ(withDpi.dpi(), QSizeF(double(72.3f), 300));
    EXPECT_EQ(info(1, 10, 10).dpi(), QSizeF(0, 0));
}

TEST(FileImgBaseInfo, ChangesOnDiskAndEquality)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("x.jpg");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("12345");
    }
    const LMPathString p(path, false);
    const LMFileImgBaseInfo current(p, "public.jpeg", 2, p.dateModified(), QSizeF(1, 1), 1, {});
    EXPECT_FALSE(current.fileModified());
    EXPECT_EQ(current.fileSize(), 5u);
    const LMFileImgBaseInfo stale(p, "public.jpeg", 2, p.dateModified().addSecs(-60), QSizeF(1, 1), 1, {});
    EXPECT_TRUE(stale.fileModified());
    EXPECT_FALSE(current.isEqual(stale));
    EXPECT_TRUE(current.isEqual(LMFileImgBaseInfo(p, "other", 0, p.dateModified(), QSizeF(9, 9), 3, {})));

    const auto memory = LMFileImgBaseInfo::createMemoryFileImgBaseInfoWithRawFrameSize(QSizeF(3, 4), {});
    EXPECT_TRUE(memory->filePath().isMemoryFilePathString());
    EXPECT_FALSE(memory->fileModified());
    EXPECT_FALSE(memory->isEqual(*memory)); // no date: equal to nothing
    EXPECT_EQ(memory->imageUTI(), "");
    EXPECT_EQ(memory->fileSize(), 0u);

    const auto moved = current.fileImgBaseInfoByReplaceFilePath(LMPathString(dir.filePath("y.jpg"), false));
    EXPECT_EQ(moved->filePath().path(), dir.filePath("y.jpg"));
    EXPECT_EQ(moved->fileModificationDate(), current.fileModificationDate());
    EXPECT_EQ(moved->rawFrameSize(), current.rawFrameSize());

    LMFileInfo record(p);
    EXPECT_FALSE(record.fileModified());
    record.setImgBaseInfo(std::make_shared<LMFileImgBaseInfo>(stale));
    EXPECT_TRUE(record.fileModified());

    QFile::remove(path);
    EXPECT_TRUE(current.fileModified());
    EXPECT_EQ(current.fileSize(), 0u);
}

} // namespace
