// The load scheduling decisions: the two windows around the current file, the order of one
// scheduling pass, which larger types one decoded image serves, and the auto-navigation pace.

#include "View/NavLoadPlanner.h"

#include "Model/LMData.h"

#include <gtest/gtest.h>

using namespace NavLoadPlanner;

namespace {

std::vector<std::pair<qsizetype, int>> loads(const std::vector<Request> &requests)
{
    std::vector<std::pair<qsizetype, int>> out;
    for (const auto &r : requests)
        if (!r.isSearchMarker())
            out.emplace_back(r.index, r.type);
    return out;
}

LMImagePtr image(uint64_t w, uint64_t h, uint64_t amcm = 8)
{
    auto info = std::make_shared<LMFileImgBaseInfo>(LMPathString(QStringLiteral("/x.png"), false),
                                                    QStringLiteral("public.png"), amcm, QDateTime(), QSizeF(w, h), 1,
                                                    QVariantMap());
    return std::make_shared<LMImage>(1u, 32u, w * 4, w, h, QList<LMDataBlock>{LMData::create(w * h * 4)}, info);
}

} // namespace

TEST(NavLoadPlannerWindows, ShortAndLongLists)
{
    // Five files, a bin showing four: one before and two after; fit-ins for two on each side.
    EXPECT_EQ(infoWindow(5, 4).following, 2);
    EXPECT_EQ(infoWindow(5, 4).preceding, 1);
    EXPECT_EQ(imageWindow(5).following, 2);
    EXPECT_EQ(imageWindow(5).preceding, 2);
    // Eight files or more: three on each side.
    EXPECT_EQ(imageWindow(8).following, 3);
    EXPECT_EQ(imageWindow(500).preceding, 3);
    // One file: nothing around it; none at all: nothing.
    EXPECT_EQ(infoWindow(1, 40).following, 0);
    EXPECT_EQ(imageWindow(1).following, 0);
    EXPECT_EQ(imageWindow(0).following, 0);
    // Two files: the other one follows.
    EXPECT_EQ(imageWindow(2).following, 1);
    EXPECT_EQ(imageWindow(2).preceding, 0);
    // A bin that reports no items still counts the current file.
    EXPECT_EQ(infoWindow(10, 0).following, 0);
}

TEST(NavLoadPlannerWindows, InterleavedOrderWrapsAndMembershipMatches)
{
    const Window w{2, 1};
    EXPECT_EQ(interleavedNeighbours(0, 5, w), (std::vector<qsizetype>{1, 4, 2}));
    EXPECT_EQ(interleavedNeighbours(4, 5, w), (std::vector<qsizetype>{0, 3, 1}));
    EXPECT_TRUE(isInWindow(4, 0, 5, w));
    EXPECT_TRUE(isInWindow(2, 0, 5, w));
    EXPECT_FALSE(isInWindow(3, 0, 5, w));
    EXPECT_TRUE(isInWindow(0, 0, 5, w));
    EXPECT_FALSE(isInWindow(7, 0, 5, w));
}

TEST(NavLoadPlannerPass, FullPassOrder)
{
    const auto r = requestsForPass(5, 20, 10, true, false, Window{2, 1}, Window{3, 3});
    const std::vector<std::pair<qsizetype, int>> expected = {
        {5, 8}, {5, 10}, {5, 9},                  // current: high priority, never the full size
        {6, 10},                                  // next in travel direction
        {6, 8}, {4, 8}, {7, 8},                   // small thumbnails, nearest first
        {6, 9}, {4, 9}, {7, 9},                   // large thumbnails
        {6, 10}, {4, 10}, {7, 10}, {3, 10}, {8, 10}, {2, 10}, // fit-ins of the image window
    };
    EXPECT_EQ(loads(r), expected);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(r[i < 2 ? i : i + 1].high);
    EXPECT_FALSE(r[4].high);
    EXPECT_FALSE(r.back().high);
    // The folder search starts after the current file's first two requests.
    EXPECT_TRUE(r[2].isSearchMarker());
    // The small thumbnail and the fit-in start at once; everything else waits for the fit-in.
    EXPECT_TRUE(r[1].firstPicture);
    // The next file's fit-in comes before the neighbours' loads, which wait for it; it waits for
    // the first picture like them, so that no other decode runs beside the first picture's.
    for (size_t i = 0; i < r.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r[i].firstPicture, i == 1);
        EXPECT_EQ(r[i].waits, i > 2);
        EXPECT_EQ(r[i].nextPicture, i == 4);
        EXPECT_EQ(r[i].afterNextPicture, i > 4);
    }
}

TEST(NavLoadPlannerPass, BackwardQuickAndSingleFile)
{
    auto back = loads(requestsForPass(0, 20, 11, false, false, Window{1, 0}, Window{0, 0}));
    EXPECT_EQ(back[3], (std::pair<qsizetype, int>{19, 11}));
    // Quick navigation: only the current file's thumbnails, and neither waits for a fit-in that
    // is never asked for.
    const auto quick = requestsForPass(3, 20, 10, true, true, Window{2, 1}, Window{3, 3});
    EXPECT_EQ(loads(quick), (std::vector<std::pair<qsizetype, int>>{{3, 8}, {3, 9}}));
    for (const auto &q : quick)
        EXPECT_FALSE(q.waits || q.firstPicture);
    // One file: the current file's three loads and nothing else.
    EXPECT_EQ(loads(requestsForPass(0, 1, 10, true, false, infoWindow(1, 40), imageWindow(1))),
              (std::vector<std::pair<qsizetype, int>>{{0, 8}, {0, 10}, {0, 9}}));
    // Two files: the other file is next in either direction.
    auto two = loads(requestsForPass(0, 2, 10, false, false, infoWindow(2, 40), imageWindow(2)));
    EXPECT_EQ(two[3], (std::pair<qsizetype, int>{1, 10}));
    // One file has no next picture, and nothing waits for one.
    for (const auto &q : requestsForPass(0, 1, 10, true, false, infoWindow(1, 40), imageWindow(1)))
        EXPECT_FALSE(q.nextPicture || q.afterNextPicture);
    EXPECT_TRUE(requestsForPass(0, 0, 10, true, false, {}, {}).empty());
    EXPECT_TRUE(requestsForPass(3, 2, 10, true, false, {}, {}).empty());
}

TEST(NavLoadPlannerServed, EquivalentTypesAndExactSizes)
{
    // The loader says every larger type is the full-size image: a thumbnail that already is the
    // full size serves them all.
    auto allOriginal = [](int, int *e) {
        *e = 1;
        return QSizeF(100, 80);
    };
    EXPECT_EQ(servedTypesMask(8, 1, image(100, 80), false, allOriginal), 0x780 - 0x80);
    // No equivalence: served only by an exact size match.
    auto sizes = [](int u, int *e) {
        *e = 0;
        return u == 9 ? QSizeF(100, 80) : QSizeF(400, 300);
    };
    EXPECT_EQ(servedTypesMask(8, 0, image(100, 80), false, sizes), int64_t(1) << 8);
    // An equivalent type of 0 never matches the loader's 0.
    auto zero = [](int, int *e) {
        *e = 0;
        return QSizeF(1, 1);
    };
    EXPECT_EQ(servedTypesMask(8, 0, image(100, 80), false, zero), 0);
    // GIF: the small thumbnail may serve the large one only; the large one serves nothing.
    EXPECT_EQ(servedTypesMask(8, 1, image(100, 80, 4), true, allOriginal), int64_t(1) << 8);
    EXPECT_EQ(servedTypesMask(9, 1, image(100, 80, 4), true, allOriginal), 0);
    // Types other than 8 to 10 serve nothing; no image serves nothing.
    EXPECT_EQ(servedTypesMask(11, 1, image(100, 80), false, allOriginal), 0);
    EXPECT_EQ(servedTypesMask(8, 1, nullptr, false, allOriginal), 0);
}

TEST(NavLoadPlannerAutoNav, PaceShrinksTowardsFiftyStepsASecond)
{
    EXPECT_NEAR(autoNavInterval(0), 0.193, 0.001);
    EXPECT_NEAR(autoNavInterval(1), 0.089, 0.001);
    EXPECT_NEAR(autoNavInterval(3.3), 0.040, 0.001);
    EXPECT_GT(autoNavInterval(1000), 0.02);
    EXPECT_LT(autoNavInterval(1000), 0.0201);
}

// Thumbnails cost a decode each: a pass asks only for those of the photo bin's cells around the
// current file (the bin does not wrap) and of the files whose fit-ins it decodes anyway.
TEST(NavLoadPlannerThumbnails, OnlyForTheCellsThePhotoBinShows)
{
    const Window image{3, 3};
    auto wanted = [&](qsizetype current, bool shown) {
        std::vector<qsizetype> out;
        for (qsizetype i = 0; i < 40; ++i)
            if (thumbnailsWanted(i, current, 40, 9, shown, image, 1))
                out.push_back(i);
        return out;
    };
    EXPECT_EQ(wanted(0, true), (std::vector<qsizetype>{0, 1, 2, 3, 4, 5, 37, 38, 39}));
    EXPECT_EQ(wanted(20, true), (std::vector<qsizetype>{15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25}));
    EXPECT_EQ(wanted(0, false), (std::vector<qsizetype>{0, 1, 2, 3, 37, 38, 39}));
    // Ten whole cells across the strip: the current one centred, four whole on each side and a
    // cut one at the end, whose decode waits for a step as the cell beyond does.
    std::vector<qsizetype> ten;
    for (qsizetype i = 0; i < 40; ++i)
        if (thumbnailsWanted(i, 20, 40, 10, true, Window{}, 0))
            ten.push_back(i);
    EXPECT_EQ(ten, (std::vector<qsizetype>{16, 17, 18, 19, 20, 21, 22, 23, 24}));
}
