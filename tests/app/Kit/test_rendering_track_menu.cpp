// Rendered pictures of a pop-up menu on the pop-up bin skin and of the tracking rectangle with its
// darkened outside, frame and guide lines, compared with stored pictures within a tolerance. Run
// with KPV_UPDATE_GOLDEN=1 to rewrite them after a deliberate change.
#include "Kit/LMAreaTrackView.h"
#include "Kit/LMPopMenuViewController.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "kit_support.h"

#include <QDir>
#include <QPainter>
#include <gtest/gtest.h>

using namespace kpv;

namespace {
constexpr int kTolerance = 8; // software rasterisers may differ in the last bits of edges and glyphs

void compareWithGolden(const QImage& actual, const QString& name)
{
    const QString path = QStringLiteral(KPV_TEST_DATA_DIR) + "/golden/" + name + ".png";
    if (qEnvironmentVariableIsSet("KPV_UPDATE_GOLDEN")) {
        QDir().mkpath(QStringLiteral(KPV_TEST_DATA_DIR) + "/golden");
        ASSERT_TRUE(actual.save(path, "PNG"));
        return;
    }
    QImage expected(path);
    ASSERT_FALSE(expected.isNull()) << "missing golden picture " << path.toStdString();
    const int diff = maxChannelDifference(actual, expected);
    if (diff < 0 || diff > kTolerance) {
        QDir().mkpath("golden-actual");
        actual.save("golden-actual/" + name + ".png", "PNG");
    }
    EXPECT_GE(diff, 0) << name.toStdString() << ": size differs";
    EXPECT_LE(diff, kTolerance) << name.toStdString();
}

class MenuRows : public LMPopMenuViewDataSource, public LMPopMenuViewDelegate {
public:
    QStringList titles{"Rotate", "Flip", "Delete"};
    unsigned long numberOfItemsInPopMenuView(LMPopMenuView*, const QVariant&) override { return titles.size(); }
    QVariant popMenuView_itemAtIndex(LMPopMenuView*, const QVariant&, unsigned long i) override { return titles[i]; }
    QString popMenuView_itemTitleForRepresentedObject(LMPopMenuView*, const QVariant& o) override
    {
        return o.toString();
    }
};

// A frame of 24 x 24 points with 8-point slices: a light two-point border, open inside.
QImage trackFrame(int scale)
{
    QImage img(24 * scale, 24 * scale, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.scale(scale, scale);
    p.setPen(QPen(QColor(240, 240, 240), 2));
    p.drawRect(QRectF(3, 3, 18, 18));
    p.setPen(QPen(QColor(240, 240, 240), 4));
    for (QPointF c : {QPointF(3, 3), QPointF(21, 3), QPointF(3, 21), QPointF(21, 21)})
        p.drawPoint(c);
    return img;
}

QImage line(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(QColor(255, 255, 255, 140));
    return img;
}
} // namespace

TEST(RenderingTrackMenu, PopMenuMatchesItsPicture)
{
    clearSkinImages(); // the generated skin only
    ManualClock clock;
    RunLoop::main().setClock(&clock);
    {
        Window window(Rect(0, 0, 300, 200), TitledWindowMask);
        auto* container = new View(Rect(0, 0, 300, 200));
        window.setContentView(container);
        MenuRows m;
        auto c = LMPopMenuViewController::popMenuViewControllerWithDataSource(&m, &m, container);
        LMPopMenuView* menu = c->popMenuView();
        menu->setMinWidth(110);
        menu->setFrame(Rect(50, 20, 110, 40));
        menu->showAtLocationInWindow({105, 20}, false);
        ASSERT_NO_FATAL_FAILURE(compareWithGolden(menu->renderToImage(1.0), "kit_pop_menu_1x"));
        ASSERT_NO_FATAL_FAILURE(compareWithGolden(menu->renderToImage(2.0), "kit_pop_menu_2x"));
        menu->hide(false);
    }
    clock.advance(0);
    RunLoop::main().setClock(nullptr);
}

TEST(RenderingTrackMenu, TrackRectangleMatchesItsPicture)
{
    clearSkinImages();
    writeSkinImage("test_track_frame", trackFrame(1));
    QImage dense = trackFrame(2);
    dense.save(kitResourceDir() + "/test_track_frame@2x.png", "PNG");
    writeSkinImage("test_track_hori", line(12, 1));
    writeSkinImage("test_track_vert", line(1, 12));
    for (double scale : {1.0, 2.0}) {
        Window window(Rect(0, 0, 160, 120), TitledWindowMask);
        window.setBackingScaleFactorOverride(scale);
        auto* view = new LMAreaTrackView(Rect(0, 0, 160, 120));
        window.contentView()->addSubview(view);
        view->setTrackImage(std::make_shared<LMNineSliceImageRep>("test_track_frame", Point{8, 8}, Point{8, 8}),
                            Point{3, 3}, Point{3, 3});
        view->setReferenceHoriLineImage(Image::imageNamed("test_track_hori"), Image::imageNamed("test_track_vert"),
                                        {});
        view->setWholeTrackableRect(Rect(10, 10, 140, 100));
        view->setDarkOnTrackableRect(true);
        view->setCropTrackRect(Rect(40, 25, 90, 60));
        ASSERT_NO_FATAL_FAILURE(compareWithGolden(view->renderToImage(scale), QString("kit_track_rect_%1x").arg(int(scale))));
    }
    // Too small for guide lines, and no rectangle at all: the whole area is darkened.
    Window window(Rect(0, 0, 160, 120), TitledWindowMask);
    auto* view = new LMAreaTrackView(Rect(0, 0, 160, 120));
    window.contentView()->addSubview(view);
    view->setWholeTrackableRect(Rect(0, 0, 160, 120));
    const QImage empty = view->renderToImage(1.0);
    EXPECT_EQ(qAlpha(empty.pixel(80, 60)), int(0.6 * 255 + 0.5));
}
