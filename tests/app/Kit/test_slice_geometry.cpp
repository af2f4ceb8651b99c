// Sliced drawing: the division tables, the row conversion, corner sizes in real renders and
// the lower-cased image lookup.
#include "Kit/LMMultiSliceImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Kit/LMTiledImageView.h"
#include "kit_support.h"

#include <gtest/gtest.h>

using Divs = LMMultiSliceImageView::Divs;

TEST(SliceDivisions, TableOfCases)
{
    struct Row {
        const char* what;
        double draw, image;
        Divs divs;
        std::optional<Divs> expected;
    };
    const Row rows[] = {
        {"larger, two: outer bands keep their size", 100, 30, {10, 20}, Divs{10, 90}},
        {"same size scales by one", 30, 30, {10, 20}, Divs{10, 20}},
        {"smaller scales down, rounded", 15, 30, {10, 20}, Divs{5, 10}},
        {"smaller, odd ratio rounds", 20, 30, {10, 25}, Divs{7, 17}},
        {"larger, four: free space shared by bands 2 and 4", 100, 40, {5, 15, 25, 35}, Divs{5, 45, 55, 95}},
        {"larger, four, unequal bands", 70, 40, {5, 10, 20, 35}, Divs{5, 18, 28, 65}},
        {"three values", 100, 30, {5, 10, 20}, std::nullopt},
        {"value at the image size", 100, 30, {10, 30}, std::nullopt},
        {"first value zero", 100, 30, {0, 20}, std::nullopt},
        {"empty list", 100, 30, {}, std::nullopt},
        {"image without extent", 100, 0, {10, 20}, std::nullopt},
    };
    for (const Row& r : rows)
        EXPECT_EQ(LMMultiSliceImageView::calcDrawDivsWithMaxDrawSize(r.draw, r.image, r.divs), r.expected) << r.what;
}

TEST(SliceDivisions, RowsFromTheTopAreStoredFromTheBottom)
{
    clearSkinImages();
    writeSkinImage("rowtest", 20, 40, Qt::red);
    LMMultiSliceImageView v(kpv::Rect(0, 0, 50, 50));
    v.setBackgroundImage(LMNineSliceImageRep::loadImageWithoutExtension("RowTest"), {5, 30}, {3, 17});
    EXPECT_EQ(v.imageRowDivValues(), (Divs{10, 35}));
    EXPECT_EQ(v.imageColDivValues(), (Divs{3, 17}));
}

TEST(NineSliceRecord, LookupAndContentsCenter)
{
    clearSkinImages();
    writeSkinImage("mixedcase", 40, 20, Qt::blue);
    EXPECT_NE(LMNineSliceImageRep::loadImageWithoutExtension("MixedCASE"), nullptr);
    EXPECT_EQ(LMNineSliceImageRep::loadImageWithoutExtension(""), nullptr);
    LMNineSliceImageRep rep("MixedCase", kpv::Point{10, 4}, kpv::Point{6, 2});
    EXPECT_EQ(rep.contentsCenterForLayer(), kpv::Rect(0.25, 0.1, 0.6, 0.7));
    LMNineSliceImageRep none("missing-image", kpv::Point{10, 4}, kpv::Point{6, 2});
    EXPECT_EQ(none.nineSliceImage(), nullptr);
    EXPECT_EQ(none.contentsCenterForLayer(), kpv::Rect(0, 0, 1, 1));
}

namespace {
// A 30 x 30 image with 10-point bands: each corner, edge and the centre a different colour.
QImage ninePatch()
{
    static const QColor colors[3][3] = {{Qt::red, Qt::green, Qt::blue},
                                        {Qt::cyan, Qt::magenta, Qt::yellow},
                                        {Qt::black, Qt::white, Qt::gray}};
    QImage img(30, 30, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x)
            img.setPixelColor(x, y, colors[y / 10][x / 10]);
    return img;
}
} // namespace

TEST(NineSliceView, CornersKeepTheirSizeAndTheCentreStretches)
{
    clearSkinImages();
    writeSkinImage("ninepatch", ninePatch());
    auto rep = std::make_shared<LMNineSliceImageRep>("ninepatch", kpv::Point{10, 10}, kpv::Point{10, 10});
    LMNineSliceImageView view(kpv::Rect(0, 0, 100, 60), rep);
    const QImage out = view.renderToImage(1.0);
    // Top-left corner red for exactly 10 points; the top edge green from there on.
    EXPECT_EQ(out.pixelColor(9, 9), QColor(Qt::red));
    EXPECT_EQ(out.pixelColor(10, 2), QColor(Qt::green));
    EXPECT_EQ(out.pixelColor(89, 2), QColor(Qt::green));
    EXPECT_EQ(out.pixelColor(90, 2), QColor(Qt::blue));
    EXPECT_EQ(out.pixelColor(50, 30), QColor(Qt::magenta));
    EXPECT_EQ(out.pixelColor(2, 59), QColor(Qt::black));
    EXPECT_EQ(out.pixelColor(99, 59), QColor(Qt::gray));
    EXPECT_EQ(out.pixelColor(2, 50), QColor(Qt::black));
    EXPECT_EQ(out.pixelColor(2, 49), QColor(Qt::cyan));

    // Smaller than the image: corners shrink in proportion (15 of 30 -> 5-point corners).
    LMNineSliceImageView small(kpv::Rect(0, 0, 15, 15), rep);
    const QImage s = small.renderToImage(1.0);
    EXPECT_EQ(s.pixelColor(4, 4), QColor(Qt::red));
    EXPECT_EQ(s.pixelColor(7, 7), QColor(Qt::magenta));
}

TEST(NineSliceView, RecordDrawingHonoursUnequalTopAndBottom)
{
    // Top band 5, bottom band 15: the record's own drawing must match the view's.
    QImage img(20, 30, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 20; ++x)
            img.setPixelColor(x, y, y < 5 ? QColor(Qt::red) : y < 15 ? QColor(Qt::green) : QColor(Qt::blue));
    clearSkinImages();
    writeSkinImage("unequal", img);
    auto rep = std::make_shared<LMNineSliceImageRep>("unequal", kpv::Point{4, 5}, kpv::Point{4, 15});
    LMNineSliceImageView view(kpv::Rect(0, 0, 20, 60), rep);
    class RecordView : public kpv::View {
    public:
        RecordView(LMNineSliceImageRepPtr r) : kpv::View(kpv::Rect(0, 0, 20, 60)), rep(std::move(r)) {}
        void drawRect(const kpv::Rect&) override { LMMultiSliceImageView::drawMultiSliceImageImage(rep.get(), bounds()); }
        LMNineSliceImageRepPtr rep;
    } record(rep);
    const QImage a = view.renderToImage(1.0);
    const QImage b = record.renderToImage(1.0);
    EXPECT_EQ(maxChannelDifference(a, b), 0);
    EXPECT_EQ(b.pixelColor(10, 2), QColor(Qt::red));
    EXPECT_EQ(b.pixelColor(10, 46), QColor(Qt::blue)); // the bottom 15 points stay blue
    EXPECT_EQ(b.pixelColor(10, 44), QColor(Qt::green));
}

// The slices are drawn once and copied at later paints; a new size, scale or image draws them
// again instead of showing the old drawing.
TEST(NineSliceView, ANewSizeScaleOrImageIsDrawnAfresh)
{
    clearSkinImages();
    writeSkinImage("ninepatch", ninePatch());
    writeSkinImage("plain", 20, 20, Qt::red);
    LMMultiSliceImageView view(kpv::Rect(0, 0, 100, 60));
    view.setBackgroundImage(LMNineSliceImageRep::loadImageWithoutExtension("ninepatch"), {10, 20}, {10, 20});
    EXPECT_EQ(view.renderToImage(1.0).pixelColor(95, 2), QColor(Qt::blue));
    EXPECT_EQ(view.renderToImage(1.0).pixelColor(95, 2), QColor(Qt::blue)); // copied, the same

    view.setFrame(kpv::Rect(0, 0, 160, 60));
    QImage wide = view.renderToImage(1.0);
    EXPECT_EQ(wide.pixelColor(155, 2), QColor(Qt::blue)) << "the right edge moved with the size";
    EXPECT_EQ(wide.pixelColor(95, 2), QColor(Qt::green));

    const QImage sharp = view.renderToImage(2.0);
    EXPECT_EQ(sharp.width(), 320);
    EXPECT_EQ(sharp.pixelColor(315, 4), QColor(Qt::blue));
    EXPECT_EQ(sharp.pixelColor(200, 60), QColor(Qt::magenta));

    view.setBackgroundImage(LMNineSliceImageRep::loadImageWithoutExtension("plain"), {}, {});
    EXPECT_EQ(view.renderToImage(1.0).pixelColor(155, 2), QColor(Qt::red));
}

TEST(NineSliceView, UnusableDivisionsDrawNothing)
{
    clearSkinImages();
    writeSkinImage("plain", 20, 20, Qt::red);
    LMMultiSliceImageView v(kpv::Rect(0, 0, 40, 40));
    v.setBackgroundImage(LMNineSliceImageRep::loadImageWithoutExtension("plain"), {5, 10, 15}, {5, 15});
    EXPECT_EQ(v.renderToImage(1.0).pixelColor(20, 20).alpha(), 0);
    v.setBackgroundImage(LMNineSliceImageRep::loadImageWithoutExtension("plain"), {}, {});
    EXPECT_EQ(v.renderToImage(1.0).pixelColor(20, 20), QColor(Qt::red)); // one band stretched
}

TEST(TiledView, TilesRepeatFromTheOrigin)
{
    QImage tile(4, 4, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::blue);
    tile.setPixelColor(0, 3, Qt::red); // bottom-left pixel of each tile
    LMTiledImageView v(kpv::Rect(0, 0, 10, 10));
    v.setTileImage(std::make_shared<kpv::Image>(tile));
    const QImage out = v.renderToImage(1.0);
    EXPECT_EQ(out.pixelColor(0, 9), QColor(Qt::red));
    EXPECT_EQ(out.pixelColor(4, 9), QColor(Qt::red));
    EXPECT_EQ(out.pixelColor(8, 5), QColor(Qt::red));
    EXPECT_EQ(out.pixelColor(1, 9), QColor(Qt::blue));
}
