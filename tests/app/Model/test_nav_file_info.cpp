#include "Model/LMNavFileInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace LMScaleTypeMask;

LMFileImgBaseInfoPtr source(uint64_t codecType = 2, qint64 secs = 100)
{
    return std::make_shared<LMFileImgBaseInfo>(LMPathString("/p/a.jpg", false), "public.jpeg", codecType,
                                               QDateTime::fromSecsSinceEpoch(secs, Qt::UTC), QSizeF(4000, 3000), 1, QVariantMap());
}

// An image of the given width from a 4000-pixel-wide source, so its scaleOfOriginal is width / 4000.
LMImagePtr imageOfWidth(uint64_t width, LMFileImgBaseInfoPtr info = source())
{
    return std::make_shared<LMImage>(1, 32, width * 4, width, 1, QList<LMDataBlock>{LMData::create(width * 4)}, info);
}

TEST(NavFileInfo, FilingWithEquivalentsAndFailures)
{
    LMNavFileInfo rec(LMPathString("/p/a.jpg", false));
    const auto img = imageOfWidth(1000);
    rec.setImage(img, false, 10, bit(1));
    EXPECT_EQ(rec.imageByType(10), img);
    EXPECT_EQ(rec.imageByType(1), img);
    EXPECT_EQ(rec.equivalentImageTypeMask().value(10), bit(1));

    rec.setImage(img, false, 0, 0);  // out of range: nothing
    rec.setImage(img, false, 12, 0);
    EXPECT_EQ(rec.images().size(), 2);

    rec.setImage(nullptr, false, 9, bit(3)); // a missing image is a failure
    bool failed = false;
    EXPECT_EQ(rec.imageByType(9, &failed), nullptr);
    EXPECT_TRUE(failed);
    EXPECT_EQ(rec.imageByType(3, &failed), nullptr);
    EXPECT_TRUE(failed);
    EXPECT_EQ(rec.imageByType(0, &failed), nullptr);
    EXPECT_FALSE(failed);

    // A failure hides an image filed before it.
    rec.setImage(img, true, 10, 0);
    EXPECT_EQ(rec.imageByType(10, &failed), nullptr);
    EXPECT_TRUE(failed);
    EXPECT_EQ(rec.failedImageTypeMask(), bit(9) | bit(3) | bit(10));
}

TEST(NavFileInfo, FreeingKeepsWhatTheModeKeeps)
{
    LMNavFileInfo rec(LMPathString("/p/a.jpg", false));
    rec.setImage(imageOfWidth(4000), false, 1, 0);
    rec.setImage(imageOfWidth(160), false, 8, 0);
    rec.setImage(imageOfWidth(1024), false, 10, 0);
    rec.setImage(nullptr, true, 11, 0);
    rec.freeImages(1);
    EXPECT_EQ(rec.images().keys(), QList<int>{8});
    EXPECT_EQ(rec.failedImageTypeMask(), bit(11));
    rec.freeImages(4); // unknown mode
    EXPECT_EQ(rec.images().size(), 1);
    rec.freeImages(3);
    EXPECT_TRUE(rec.images().isEmpty());
    EXPECT_EQ(rec.failedImageTypeMask(), 0);

    // A full-size image that is also the fit-in image stays with mode 2, and goes with mode 1.
    rec.setImage(imageOfWidth(1000), false, 10, bit(1) | bit(2));
    rec.setImage(imageOfWidth(500), false, 3, 0);
    rec.freeImages(2);
    QList<int> keys = rec.images().keys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (QList<int>{1, 2, 10}));
    rec.freeImages(1);
    EXPECT_TRUE(rec.images().isEmpty());
    EXPECT_TRUE(rec.equivalentImageTypeMask().isEmpty());
}

TEST(NavFileInfo, MatchingPrefersTheNearestLargerImage)
{
    LMNavFileInfo rec(LMPathString("/p/a.jpg", false));
    rec.setImgBaseInfo(source());
    const auto quarter = imageOfWidth(1000); // type 3
    const auto full = imageOfWidth(4000);    // type 1
    const auto thumb = imageOfWidth(160);
    rec.setImage(quarter, false, 3, 0);
    rec.setImage(full, false, 1, 0);
    rec.setImage(thumb, false, 8, 0);

    int preferred = -1;
    EXPECT_EQ(rec.matchImageByScale(0, &preferred), thumb);
    EXPECT_EQ(preferred, -1); // untouched
    EXPECT_EQ(rec.matchImageByScale(-1, &preferred), thumb);

    // log2(0.45) = -1.152: 0.848 below (type 3), 1.152 above (type 1): the nearer floor wins.
    EXPECT_EQ(rec.matchImageByScale(0.45, &preferred), quarter);
    EXPECT_EQ(preferred, 2);
    EXPECT_EQ(rec.matchImageByScale(0.3, &preferred), quarter);
    EXPECT_EQ(preferred, 0);
    EXPECT_EQ(rec.matchImageByScale(2.0, &preferred), full);
    EXPECT_EQ(preferred, 0);

    // Same floors: the image above wins while its fraction is at most 0.65.
    LMNavFileInfo two(LMPathString("/p/a.jpg", false));
    two.setImage(imageOfWidth(4000), false, 1, 0); // d = 0
    two.setImage(imageOfWidth(1000), false, 3, 0); // d = -2
    const auto atDist = [](double distAbove) { return std::exp2(0 - distAbove); };
    EXPECT_EQ(two.matchImageByScale(atDist(0.65))->width(), 4000u); // above 0.65, below 1.35: smaller floor
    EXPECT_EQ(two.matchImageByScale(atDist(0.6))->width(), 4000u);
    LMNavFileInfo far(LMPathString("/p/a.jpg", false));
    far.setImage(imageOfWidth(4000), false, 1, 0); // d = 0
    far.setImage(imageOfWidth(250), false, 5, 0);  // d = -4
    // L = -1.7: above 1.7, below 2.3 -> floors 1 and 2: above.
    EXPECT_EQ(far.matchImageByScale(std::exp2(-1.7))->width(), 4000u);
    // L = -2.0: both distances 2.0, fractions 0: above.
    EXPECT_EQ(far.matchImageByScale(0.25)->width(), 4000u);
    // L = -2.8: above 2.8, below 1.2 -> floors differ: below.
    EXPECT_EQ(far.matchImageByScale(std::exp2(-2.8))->width(), 250u);
    LMNavFileInfo tie(LMPathString("/p/a.jpg", false));
    tie.setImage(imageOfWidth(4000), false, 1, 0); // d = 0
    tie.setImage(imageOfWidth(125), false, 6, 0);  // d = -5
    // L = -2.4: above 2.4 (r 0.4 <= 0.65) / below 2.6: above.
    EXPECT_EQ(tie.matchImageByScale(std::exp2(-2.4))->width(), 4000u);
    // L = -2.7: above 2.7 (r 0.7) / below 2.3 (r 0.3 <= 0.35): below.
    EXPECT_EQ(tie.matchImageByScale(std::exp2(-2.7))->width(), 125u);
    // L = -2.5: both 2.5 (fractions 0.5): above.
    EXPECT_EQ(tie.matchImageByScale(std::exp2(-2.5))->width(), 4000u);

    // A GIF is only kept at the raw size: the ideal load is type 1.
    LMNavFileInfo gif(LMPathString("/p/a.gif", false));
    gif.setImgBaseInfo(source(4));
    gif.setImage(imageOfWidth(1000), false, 10, 0);
    EXPECT_EQ(gif.matchImageByScale(0.25, &preferred)->width(), 1000u);
    EXPECT_EQ(preferred, 1);

    // Nothing filed: the small thumbnail's answer, with its failure.
    LMNavFileInfo none(LMPathString("/p/a.jpg", false));
    none.setImage(nullptr, true, 8, 0);
    bool failed = false;
    preferred = -1;
    EXPECT_EQ(none.matchImageByScale(0.5, &preferred, &failed), nullptr);
    EXPECT_TRUE(failed);
    EXPECT_EQ(preferred, -1);
}

TEST(NavFileInfo, NearestReducedType)
{
    struct Row {
        double scale;
        int loose;
        int real;
    } rows[] = {{0, 0, 0},     {1, 1, 1},      {4, 1, 1},   {0.5, 2, 2},  {0.6, 2, 2},   {0.7, 0, 1},
                {0.011, 0, 7}, {1.0 / 64, 7, 7}, {0.005, 0, 0}, {-0.5, 0, 0},
                // At the thresholds: within 0.35 of a power of two from below, or 0.65 from above.
                {std::exp2(-1.34), 2, 2}, {std::exp2(-1.36), 0, 2}, {std::exp2(-1.64), 0, 2}, {std::exp2(-1.66), 3, 3}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.scale);
        EXPECT_EQ(LMNavFileInfo::estimateImageScaleTypeNearScale(r.scale, false), r.loose);
        EXPECT_EQ(LMNavFileInfo::estimateImageScaleTypeNearScale(r.scale, true), r.real);
    }
}

TEST(NavFileInfo, SmallThumbUpdatesOnlyForTheSameVersion)
{
    LMNavFileInfo rec(LMPathString("/p/a.jpg", false));
    const auto better = imageOfWidth(160);
    EXPECT_FALSE(rec.updateSmallThumb(better)); // none filed yet
    rec.setImage(imageOfWidth(100), false, 8, 0);
    EXPECT_FALSE(rec.updateSmallThumb(nullptr));
    EXPECT_FALSE(rec.updateSmallThumb(imageOfWidth(160, source(2, 999)))); // another version of the file
    EXPECT_TRUE(rec.updateSmallThumb(better));
    EXPECT_EQ(rec.imageByType(8), better);

    LMNavFileInfo shared(LMPathString("/p/a.jpg", false));
    shared.setImage(imageOfWidth(256), false, 8, bit(9));
    EXPECT_FALSE(shared.updateSmallThumb(better)); // one image with the large thumbnail
}

TEST(NavFileInfo, RecordForANewPathKeepsImagesAndFailures)
{
    auto rec = std::make_shared<LMNavFileInfo>(LMPathString("/p/a.jpg", false));
    rec->setImgBaseInfo(source());
    const auto img = imageOfWidth(1000);
    rec->setImage(img, false, 10, bit(3));
    rec->setImage(nullptr, true, 9, 0);
    auto moved = rec->navFileInfoByReplaceFilePath(LMPathString("/p/b.jpg", false));
    EXPECT_EQ(moved->filePath().path(), "/p/b.jpg");
    EXPECT_EQ(moved->imgBaseInfo()->filePath().path(), "/p/b.jpg");
    EXPECT_EQ(moved->imageByType(3), img);
    EXPECT_EQ(moved->failedImageTypeMask(), bit(9));
    EXPECT_EQ(moved->equivalentImageTypeMask().value(10), bit(3));
    EXPECT_EQ(img->originalImgBaseInfo()->filePath().path(), "/p/a.jpg");

    LMNavFileInfo bare(LMPathString("/p/c.jpg", false));
    EXPECT_EQ(bare.navFileInfoByReplaceFilePath(LMPathString("/p/d.jpg", false))->imgBaseInfo(), nullptr);
}

TEST(NavFileInfo, WorkersFileWhileTheMainThreadMatches)
{
    auto rec = std::make_shared<LMNavFileInfo>(LMPathString("/p/a.jpg", false));
    rec->setImgBaseInfo(source());
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([rec, w, &stop] {
            int i = 0;
            while (!stop.load()) {
                const int type = 1 + (i + w) % 11;
                rec->setImage(imageOfWidth(uint64_t(4000 >> std::min(type - 1, 6))), (i % 17) == 0, type,
                              (i % 5) == 0 ? bit(1 + (i % 11)) : 0);
                if (i % 13 == 0)
                    rec->freeImages(1 + (i % 3));
                if (i % 7 == 0)
                    rec->updateSmallThumb(imageOfWidth(160));
                ++i;
            }
        });
    }
    // Keep matching until the workers have been seen at work: on a busy machine they may not
    // have run at all during the first 20,000 rounds.
    int found = 0;
    for (int i = 0; i < 20000 || (found == 0 && i < 20000000); ++i) {
        int preferred = 0;
        bool failed = false;
        if (rec->matchImageByScale(1.0 / double(1 + i % 70), &preferred, &failed))
            ++found;
        if (i % 50 == 0) {
            EXPECT_LE(rec->images().size(), 11);
            EXPECT_EQ(rec->failedImageTypeMask() & ~int64_t(0x7FF), 0);
        }
        if (i % 100 == 0) {
            auto moved = rec->navFileInfoByReplaceFilePath(LMPathString("/p/b.jpg", false));
            EXPECT_EQ(moved->filePath().path(), "/p/b.jpg");
        }
    }
    stop = true;
    for (auto &t : workers)
        t.join();
    EXPECT_GT(found, 0);
}

} // namespace
