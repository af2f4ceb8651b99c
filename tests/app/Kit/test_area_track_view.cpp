// The tracking rectangle: hit rectangles of its handles, drags through every handle with the
// view's own geometry and with an owner that keeps an aspect ratio, the minimum size, clicks that
// place the rectangle, new rectangles drawn outside, double clicks and drags whose mouse-up never
// comes. Drags run through the view's own nested loop, fed from the application's event queue.
#include "Kit/LMAreaTrackView.h"
#include "appkit/Application.h"
#include "appkit/Window.h"
#include "kit_support.h"

#include <gtest/gtest.h>
#include <cmath>
#include <string>
#include <vector>

using namespace kpv;

namespace {

struct Call {
    std::string what;
    Rect rect;
    LMTrackPosition position = 0;
    Rect actual;
    bool hadPointer = false;
};

// Records every report; the answers it gives are switched on per test.
class Owner : public LMAreaTrackViewDelegate {
public:
    std::vector<Call> calls;
    std::optional<bool> canDragAnswer;
    bool canLocate = false;
    // Keeps height = width * aspect (the edge opposite the grabbed one fixed) and reports the
    // owner's own rectangle at twice the view's scale.
    double aspect = 0;
    Rect actualBeforeDrag{7, 7, 7, 7};
    std::vector<Rect> actualStartsSeen;

    std::optional<bool> areaTrackView_canDrag(LMAreaTrackView*, LMTrackPosition) override { return canDragAnswer; }
    bool canLocateTrackAtUnknownPositionForAreaTrackView(LMAreaTrackView*) override { return canLocate; }
    void areaTrackView_locateTrackRect(LMAreaTrackView*, const Rect& r) override { calls.push_back({"locate", r}); }
    void areaTrackView_beginDrag(LMAreaTrackView*, const Rect& r, LMTrackPosition p, Rect* actual) override
    {
        if (actual)
            *actual = actualBeforeDrag;
        calls.push_back({"begin", r, p, Rect(), actual != nullptr});
    }
    void areaTrackView_doDragging(LMAreaTrackView*, const Rect& r, LMTrackPosition p, const Rect& a) override
    {
        calls.push_back({"drag", r, p, a});
    }
    void areaTrackView_endDrag(LMAreaTrackView*, const Rect& r, LMTrackPosition p, const Rect& a) override
    {
        calls.push_back({"end", r, p, a});
    }
    std::optional<Rect> calcDraggingTrackRectForAreaTrackView(LMAreaTrackView* v, const Rect& start, LMTrackPosition p,
                                                              Size d, bool, const Rect& actualStart,
                                                              Rect* actualNow) override
    {
        if (aspect == 0)
            return std::nullopt;
        actualStartsSeen.push_back(actualStart);
        Rect r = LMAreaTrackView::calcDraggingTrackRect(start, p, d, v->wholeTrackableRect());
        const double h = std::round(r.width() * aspect);
        if (p == 1 || p == 7 || p == 8) // the bottom edge moves: the top stays
            r = Rect(r.x(), r.maxY() - h, r.width(), h);
        else
            r = Rect(r.x(), r.y(), r.width(), h);
        if (actualNow)
            *actualNow = Rect(r.x() * 2, r.y() * 2, r.width() * 2, r.height() * 2);
        return r;
    }
};

// A 300 x 300 view filling its window's content, so view and window coordinates agree. The
// window is never shown: a drag whose queue runs dry ends as an abandoned one instead of waiting.
class AreaTrackTest : public testing::Test {
protected:
    void SetUp() override
    {
        Application::shared().discardQueuedEvents();
        view = new LMAreaTrackView(Rect(0, 0, 300, 300));
        window.contentView()->addSubview(view);
        view->setTrackImage(std::make_shared<LMNineSliceImageRep>(ImagePtr(), Point{8, 8}, Point{8, 8}), Point{4, 4},
                            Point{4, 4});
        view->setTrackResizeEnabled(true);
        view->setWholeTrackableRect(Rect(0, 0, 300, 300));
        view->setCropTrackRect(Rect(100, 100, 100, 80));
        view->setDelegate(&owner);
    }
    void TearDown() override { Application::shared().discardQueuedEvents(); }

    // Press at `from`, drag through `path`, release at the last point (unless `release` is off).
    void drag(Point from, const std::vector<Point>& path, bool release = true, int clicks = 1)
    {
        Application& app = Application::shared();
        for (Point p : path)
            app.postEvent(Event::mouseEvent(LeftMouseDragged, p, &window));
        if (release)
            app.postEvent(Event::mouseEvent(LeftMouseUp, path.empty() ? from : path.back(), &window));
        view->mouseDown(*Event::mouseEvent(LeftMouseDown, from, &window, 0, clicks));
    }
    std::vector<std::string> callNames() const
    {
        std::vector<std::string> names;
        for (const Call& c : owner.calls)
            names.push_back(c.what);
        return names;
    }

    Window window{Rect(0, 0, 300, 300), TitledWindowMask};
    LMAreaTrackView* view = nullptr;
    Owner owner;
};

using Names = std::vector<std::string>;

// The frame is the rectangle (100, 100, 100, 80) grown by 4 on every side, (96, 96, 108, 88);
// its slices are 8 wide.
TEST_F(AreaTrackTest, HandlesAreFoundByTheirHitRectangles)
{
    const struct {
        Point at;
        LMTrackPosition expected;
    } rows[] = {
        {{98, 98}, 1},   {{98, 140}, 2},  {{98, 180}, 3},  {{150, 180}, 4}, {{200, 180}, 5},
        {{200, 140}, 6}, {{200, 98}, 7},  {{150, 98}, 8},  {{150, 140}, 9}, {{95, 140}, 0},
        {{204, 140}, 0}, {{150, 184}, 0}, // max edges are outside
        {{104, 140}, 9},                  // the inner border of the left edge belongs to the inside
        {{103.5, 104}, 2},                // the corner slice's top edge belongs to the edge above it
    };
    for (const auto& row : rows)
        EXPECT_EQ(view->trackPositonByLocation(row.at), row.expected) << row.at.x << "," << row.at.y;

    // A rectangle smaller than its slices: the hit rectangles overlap, the lowest number wins.
    view->setCropTrackRect(Rect(100, 100, 4, 4));
    EXPECT_EQ(view->trackPositonByLocation({100, 100}), 1);
    EXPECT_EQ(view->trackPositonByLocation({103, 103}), 1);

    // Hit rectangles stop at the view's edge.
    view->setCropTrackRect(Rect(0, 0, 50, 50));
    EXPECT_EQ(view->rectbyTrackPosition(1), Rect(0, 0, 4, 4));
    EXPECT_EQ(view->rectbyTrackPosition(2), Rect(0, 4, 4, 42));
}

TEST_F(AreaTrackTest, WithoutResizingOnlyTheWholeInsideIsActive)
{
    view->setTrackResizeEnabled(false);
    EXPECT_EQ(view->trackPositonByLocation({100, 100}), 9); // the corner of the rectangle itself
    EXPECT_EQ(view->trackPositonByLocation({199, 179}), 9);
    EXPECT_EQ(view->trackPositonByLocation({98, 98}), 0); // the frame's margin
    for (LMTrackPosition p = 1; p <= 8; ++p)
        EXPECT_EQ(view->rectbyTrackPosition(p), Rect()) << p;
    drag({101, 101}, {{111, 106}});
    EXPECT_EQ(view->cropTrackRect(), Rect(110, 105, 100, 80));
}

TEST_F(AreaTrackTest, EveryHandleDragsItsEdgesByTheDelta)
{
    const struct {
        Point grab;
        LMTrackPosition position;
        Rect expected;
    } rows[] = {
        {{98, 98}, 1, Rect(110, 105, 90, 75)},   {{98, 140}, 2, Rect(110, 100, 90, 80)},
        {{98, 180}, 3, Rect(110, 100, 90, 85)},  {{150, 180}, 4, Rect(100, 100, 100, 85)},
        {{200, 180}, 5, Rect(100, 100, 110, 85)}, {{200, 140}, 6, Rect(100, 100, 110, 80)},
        {{200, 98}, 7, Rect(100, 105, 110, 75)},  {{150, 98}, 8, Rect(100, 105, 100, 75)},
        {{150, 140}, 9, Rect(110, 105, 100, 80)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.position);
        view->setCropTrackRect(Rect(100, 100, 100, 80));
        owner.calls.clear();
        drag(row.grab, {{row.grab.x + 4, row.grab.y + 2}, {row.grab.x + 10, row.grab.y + 5}});
        EXPECT_FALSE(view->inDragSession());
        EXPECT_EQ(view->cropTrackRect(), row.expected);
        ASSERT_EQ(callNames(), (Names{"begin", "drag", "drag", "end"}));
        EXPECT_EQ(owner.calls[0].rect, Rect(100, 100, 100, 80));
        EXPECT_TRUE(owner.calls[0].hadPointer);
        for (const Call& c : owner.calls)
            EXPECT_EQ(c.position, row.position);
        EXPECT_EQ(owner.calls[2].rect, row.expected);
        EXPECT_EQ(owner.calls[3].rect, row.expected);
        EXPECT_EQ(owner.calls[3].actual, Rect()); // the view's own geometry leaves it untouched
    }
}

TEST_F(AreaTrackTest, EdgesFlipAcrossTheOppositeEdgeAndStayInTheArea)
{
    drag({200, 140}, {{70, 140}}); // the right edge 30 points left of the left edge
    EXPECT_EQ(view->cropTrackRect(), Rect(70, 100, 30, 80));

    view->setCropTrackRect(Rect(100, 100, 100, 80));
    drag({150, 180}, {{150, 600}}); // the top edge stops at the area's top
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 100, 200));

    view->setCropTrackRect(Rect(100, 100, 100, 80));
    drag({150, 140}, {{650, 640}}); // a move stops at the edge with its size kept
    EXPECT_EQ(view->cropTrackRect(), Rect(200, 220, 100, 80));
    view->setCropTrackRect(Rect(100, 100, 100, 80));
    drag({150, 140}, {{-350, -360}});
    EXPECT_EQ(view->cropTrackRect(), Rect(0, 0, 100, 80));
}

TEST_F(AreaTrackTest, LastStepKeepsTheMinimumSideWithTheTopEdgeInPlace)
{
    view->setMinTrackSidePixels(20);
    owner.calls.clear();
    drag({200, 140}, {{105, 140}});
    EXPECT_EQ(owner.calls[1].rect, Rect(100, 100, 5, 80)); // while dragging, thinner than the minimum
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 20, 80));

    view->setCropTrackRect(Rect(100, 100, 100, 80));
    drag({150, 180}, {{150, 105}});
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 85, 100, 20)); // the top edge stays at 105

    // Against the area's bottom the grown rectangle's top moves up instead.
    view->setCropTrackRect(Rect(100, 0, 100, 80));
    drag({150, 78}, {{150, 3}});
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 0, 100, 20));
}

TEST_F(AreaTrackTest, OwnersCalculationIsUsedUnchangedWithItsOwnRectangle)
{
    owner.aspect = 0.5;
    drag({200, 180}, {{220, 190}, {240, 200}});
    // Corner 5 dragged by (40, 20): the width 140 decides the height 70.
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 140, 70));
    ASSERT_EQ(callNames(), (Names{"begin", "drag", "drag", "end"}));
    EXPECT_EQ(owner.calls[1].rect, Rect(100, 100, 120, 60));
    EXPECT_EQ(owner.calls[1].actual, Rect(200, 200, 240, 120));
    EXPECT_EQ(owner.calls[3].actual, Rect(200, 200, 280, 140));
    // The owner's own start rectangle, stored at the begin, comes back with every step.
    ASSERT_EQ(owner.actualStartsSeen.size(), 3u);
    for (const Rect& r : owner.actualStartsSeen)
        EXPECT_EQ(r, owner.actualBeforeDrag);

    // A bottom corner keeps the top edge.
    view->setCropTrackRect(Rect(100, 100, 100, 80));
    drag({98, 98}, {{78, 98}});
    EXPECT_EQ(view->cropTrackRect(), Rect(80, 120, 120, 60));
}

TEST_F(AreaTrackTest, OwnerRefusalAndDoubleClicksStartNoDrag)
{
    owner.canDragAnswer = false;
    drag({150, 140}, {{170, 160}});
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 100, 80));
    EXPECT_TRUE(owner.calls.empty());
    Application::shared().discardQueuedEvents();

    owner.canDragAnswer.reset();
    drag({150, 140}, {{170, 160}}, true, 2);
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 100, 80));
    EXPECT_TRUE(owner.calls.empty());
    EXPECT_FALSE(view->inDragSession());
    Application::shared().discardQueuedEvents();

    // Without an owner's answer a click outside does nothing either.
    drag({20, 20}, {{60, 60}});
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 100, 80));
    EXPECT_TRUE(owner.calls.empty());
}

TEST_F(AreaTrackTest, ClickOutsidePlacesTheTopLeftCornerAndContinuesAsAMove)
{
    owner.canDragAnswer = false; // as the navigation panel answers for position 0
    owner.canLocate = true;
    drag({20, 250}, {{25, 245}});
    ASSERT_EQ(callNames(), (Names{"locate", "begin", "drag", "end"}));
    EXPECT_EQ(owner.calls[0].rect, Rect(20, 170, 100, 80));
    EXPECT_EQ(owner.calls[1].rect, Rect(20, 170, 100, 80));
    EXPECT_EQ(owner.calls[2].position, 9);
    EXPECT_EQ(view->cropTrackRect(), Rect(25, 165, 100, 80));

    // Near the area's edges the placed rectangle is clamped into it.
    owner.calls.clear();
    drag({280, 295}, {});
    EXPECT_EQ(owner.calls[0].rect, Rect(200, 215, 100, 80));
    owner.calls.clear();
    drag({5, 30}, {});
    EXPECT_EQ(owner.calls[0].rect, Rect(5, 0, 100, 80));
}

TEST_F(AreaTrackTest, NewRectangleAppearsOnlyPastTheThreshold)
{
    owner.canDragAnswer = true; // drawing a new rectangle starts from position 0
    drag({20, 20}, {{23, 23}});
    EXPECT_TRUE(owner.calls.empty()); // a 3 x 3 slip shows nothing and reports nothing
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 100, 80));

    drag({20, 20}, {{24, 22}, {40, 30}, {60, 5}});
    ASSERT_EQ(callNames(), (Names{"begin", "drag", "drag", "end"}));
    EXPECT_EQ(owner.calls[0].rect, Rect(20, 20, 4, 2)); // 4 wide and 2 high passes
    EXPECT_EQ(owner.calls[0].position, 7);
    EXPECT_FALSE(owner.calls[0].hadPointer);
    EXPECT_EQ(owner.calls[1].rect, Rect(20, 20, 20, 10));
    // Dragged below the start point the rectangle flips under it.
    EXPECT_EQ(view->cropTrackRect(), Rect(20, 5, 40, 15));
    EXPECT_EQ(owner.calls[3].rect, Rect(20, 5, 40, 15));
}

TEST_F(AreaTrackTest, AbandonedDragEndsAtTheLastPosition)
{
    // No mouse-up comes (the window lost the pointer): the drag ends where it was.
    drag({200, 140}, {{210, 140}, {230, 140}}, false);
    EXPECT_FALSE(view->inDragSession());
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 130, 80));
    ASSERT_EQ(callNames(), (Names{"begin", "drag", "drag", "end"}));
    EXPECT_EQ(owner.calls.back().rect, Rect(100, 100, 130, 80));

    // Abandoned before any movement: the end is reported at the start.
    owner.calls.clear();
    drag({150, 140}, {}, false);
    EXPECT_FALSE(view->inDragSession());
    EXPECT_EQ(callNames(), (Names{"begin", "end"}));
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 130, 80));
}

TEST_F(AreaTrackTest, TrackableAreaClipsTheRectangle)
{
    view->setWholeTrackableRect(Rect(0, 0, 150, 400)); // clipped to the bounds first
    EXPECT_EQ(view->wholeTrackableRect(), Rect(0, 0, 150, 300));
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 50, 80));

    view->setDarkOnTrackableRect(true);
    view->setCropTrackRect(Rect(100, 100, 100, 80));
    EXPECT_EQ(view->cropTrackRect(), Rect(100, 100, 50, 80));

    // Darkened bands: everything of the area but the rectangle; all of it without a rectangle.
    const auto bands = LMAreaTrackView::darkBands(Rect(0, 0, 150, 300), Rect(100, 100, 50, 80));
    double area = 0;
    for (const Rect& b : bands)
        area += b.width() * b.height();
    EXPECT_EQ(area, 150 * 300 - 50 * 80);
    EXPECT_EQ(LMAreaTrackView::darkBands(Rect(0, 0, 150, 300), Rect()), (std::vector<Rect>{Rect(0, 0, 150, 300)}));
}

} // namespace
