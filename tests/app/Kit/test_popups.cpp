// Pop-up views and menus: delayed show and hide on the manual clock, placement, Esc and outside
// clicks through the monitor centre, the menu's sizing around its rows and its data source.
#include "Kit/LMButton.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMPopMenuItemView.h"
#include "Kit/LMPopMenuViewController.h"
#include "Kit/LMPopupViewController.h"
#include "appkit/Application.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "kit_support.h"

#include <gtest/gtest.h>

using namespace kpv;

namespace {

class Hooks : public LMPopupView {
public:
    using LMPopupView::LMPopupView;
    int didShows = 0, didHides = 0;
    void didViewShowed(bool shown) override { ++(shown ? didShows : didHides); }
};

class Answering : public LMPopupViewDelegate {
public:
    int calls = 0;
    bool popupView_viewShowed(LMPopupView*, bool) override
    {
        ++calls;
        return true;
    }
};

class PopupTest : public testing::Test {
protected:
    void SetUp() override
    {
        RunLoop::main().setClock(&clock);
        container = new View(Rect(0, 0, 400, 300));
        window.setContentView(container);
        auto v = std::make_unique<Hooks>(Rect(0, 0, 101, 40));
        view = v.get();
        controller = std::make_unique<LMPopupViewController>(std::move(v), container);
    }
    void TearDown() override
    {
        controller.reset();
        clock.advance(0);
        RunLoop::main().setClock(nullptr);
    }
    ManualClock clock;
    Window window{Rect(0, 0, 400, 300), TitledWindowMask};
    View* container = nullptr;
    Hooks* view = nullptr;
    std::unique_ptr<LMPopupViewController> controller;
};

} // namespace

TEST(PopupPlacement, CentredOnThePointOrAlignedLeft)
{
    EXPECT_EQ(LMViewPopupHelper::popupOrigin({200, 50}, 101, false), (Point{149, 50}));
    EXPECT_EQ(LMViewPopupHelper::popupOrigin({200.5, 50.5}, 101, true), (Point{200.5, 50.5}));
    // Near the left edge the panel is placed as the rule says; the container clips it.
    EXPECT_EQ(LMViewPopupHelper::popupOrigin({10, 0}, 101, false), (Point{-41, 0}));
}

TEST_F(PopupTest, ShownAtARoundedPointInTheContainer)
{
    view->showAtLocationInWindow({200.7, 50.2}, false);
    ASSERT_TRUE(view->isShown());
    EXPECT_EQ(view->frame().origin, (Point{149, 50}));
    EXPECT_EQ(view->didShows, 1);
    ASSERT_NE(view->eventMonitor(), nullptr); // held exactly while shown
    view->hide(false);
    EXPECT_FALSE(view->isShown());
    EXPECT_EQ(view->eventMonitor(), nullptr);
    EXPECT_EQ(view->didHides, 1);
}

TEST_F(PopupTest, DelayedShowsForOnePointShowOnceAfterTheFirstDelay)
{
    view->showAtLocationInWindow({100, 100}, true);
    clock.advance(0.3);
    view->showAtLocationInWindow({100, 100}, true); // the pending show stands
    clock.advance(0.25);
    EXPECT_TRUE(view->isShown());
    EXPECT_EQ(view->didShows, 1);
}

TEST_F(PopupTest, DelayedShowElsewhereRestartsTheWait)
{
    view->showAtLocationInWindow({100, 100}, true);
    clock.advance(0.3);
    view->showAtLocationInWindow({150, 100}, true);
    clock.advance(0.3);
    EXPECT_FALSE(view->isShown());
    clock.advance(0.25);
    EXPECT_TRUE(view->isShown());
    EXPECT_EQ(view->frame().origin.x, 99); // floor(150 - 50.5)
}

TEST_F(PopupTest, HidePendingOrCancelled)
{
    view->showAtLocationInWindow({100, 100}, false);
    view->hide(true);
    clock.advance(0.05);
    view->mouseEntered(Event(MouseEntered)); // the pointer comes back
    clock.advance(0.2);
    EXPECT_TRUE(view->isShown());

    view->hide(true);
    clock.advance(0.06);
    view->hide(true); // keeps the first deadline
    clock.advance(0.05);
    EXPECT_FALSE(view->isShown());

    view->showAtLocationInWindow({100, 100}, false);
    view->hide(true);
    view->hide(false); // at once, even with a hide pending
    EXPECT_FALSE(view->isShown());
    view->showAtLocationInWindow({100, 100}, true);
    view->hide(true); // a hidden view: cancels the pending show
    clock.advance(1);
    EXPECT_FALSE(view->isShown());
}

TEST_F(PopupTest, LeavingHidesUnlessToldToStay)
{
    view->showAtLocationInWindow({100, 100}, false);
    view->setStayWhenMouseLeave(true);
    view->mouseExited(Event(MouseExited));
    clock.advance(1);
    EXPECT_TRUE(view->isShown());
    view->setStayWhenMouseLeave(false);
    view->mouseExited(Event(MouseExited));
    clock.advance(0.11);
    EXPECT_FALSE(view->isShown());
}

TEST_F(PopupTest, EscAndOutsideClicksThroughTheMonitorCentre)
{
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    int olderSaw = 0;
    auto older = center.addLocalMonitorForEventsMatchingMask(AnyEventMask, [&](const Event&) {
        ++olderSaw;
        return false;
    });
    view->showAtLocationInWindow({100, 100}, false); // origin (50, 100), 101 x 40
    auto esc = Event::keyEvent(KeyDown, KeyCode::Escape, "\x1b", "\x1b", &window);
    EXPECT_EQ(center.dispatch(esc), nullptr);
    EXPECT_FALSE(view->isShown());
    EXPECT_EQ(olderSaw, 0);

    view->showAtLocationInWindow({100, 100}, false);
    auto outside = Event::mouseEvent(LeftMouseDown, {10, 10}, &window);
    EXPECT_NE(center.dispatch(outside), nullptr); // not staying: the click goes on
    EXPECT_TRUE(view->isShown());
    view->setStayWhenMouseLeave(true);
    auto inside = Event::mouseEvent(LeftMouseDown, {60, 110}, &window);
    EXPECT_NE(center.dispatch(inside), nullptr);
    EXPECT_TRUE(view->isShown());
    EXPECT_EQ(center.dispatch(outside), nullptr);
    EXPECT_FALSE(view->isShown());
    center.removeMonitor(older);
}

TEST_F(PopupTest, DelegateAnswerReplacesTheHookAndAutoHideHides)
{
    Answering d;
    view->setPopupViewDelegate(&d);
    view->showAtLocationInWindow({100, 100}, false);
    EXPECT_EQ(d.calls, 1);
    EXPECT_EQ(view->didShows, 0);
    NotificationCenter::defaultCenter().postNotification(kDidAutoHideCursorNotification);
    EXPECT_FALSE(view->isShown());
}

TEST_F(PopupTest, ViewDestroyedWithItsContainerLeavesNoMonitorBehind)
{
    view->showAtLocationInWindow({100, 100}, false);
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    window.setContentView(new View(Rect(0, 0, 10, 10))); // the old container goes, and the popup with it
    EXPECT_EQ(controller->popupView(), nullptr);
    auto esc = Event::keyEvent(KeyDown, KeyCode::Escape, "\x1b", "\x1b", &window);
    EXPECT_NE(center.dispatch(esc), nullptr); // nobody left to consume it
}

namespace {

class MenuSource : public LMPopMenuViewDataSource, public LMPopMenuViewDelegate {
public:
    QStringList titles;
    int asked = 0;
    QVariant clicked;
    QVariant disabled;
    unsigned long numberOfItemsInPopMenuView(LMPopMenuView*, const QVariant&) override
    {
        ++asked;
        return titles.size();
    }
    QVariant popMenuView_itemAtIndex(LMPopMenuView*, const QVariant&, unsigned long i) override { return titles[i]; }
    QString popMenuView_itemTitleForRepresentedObject(LMPopMenuView*, const QVariant& o) override
    {
        return o.toString();
    }
    QString popMenuView_iconImageNameForRepresentedObject(LMPopMenuView*, const QVariant&, bool check) override
    {
        return check ? QString() : QStringLiteral("menuicon");
    }
    void popMenuViewItemClicked(LMPopMenuView*, const QVariant& o, const QVariant&) override { clicked = o; }
    bool popMenuViewItemEnabled(LMPopMenuView*, const QVariant& o, const QVariant&) override { return o != disabled; }
};

} // namespace

TEST_F(PopupTest, MenuSizesAroundItsRowsAndKeepsItsCentre)
{
    clearSkinImages();
    writeSkinImage("menuicon", 12, 12, Qt::white);
    writeSkinImage("menuiconR", 13, 12, Qt::white);
    MenuSource m;
    m.titles = {"Short", "A considerably longer entry"};
    auto c = LMPopMenuViewController::popMenuViewControllerWithDataSource(&m, &m, container);
    LMPopMenuView* menu = c->popMenuView();
    menu->setFrame(Rect(100, 50, 120, 40)); // centre x 160
    menu->showAtLocationInWindow({160, 50}, false);
    ASSERT_EQ(menu->viewItems().size(), 2u);
    double widest = 0;
    for (auto& item : menu->viewItems())
        widest = std::max(widest, item->itemWidthToFit());
    const double expected = std::floor((widest + 10) / 2 + 0.5) * 2;
    EXPECT_EQ(menu->frame().width(), expected);
    EXPECT_NEAR(menu->frame().midX(), 160, 1);
    EXPECT_EQ(menu->frame().y(), 50);
    EXPECT_EQ(menu->frame().height(), 28 + 2 * LMPopMenuItemView::kDefaultRowHeight);
    // The first item is the top row.
    auto* top = menu->viewItems()[0]->view();
    auto* bottom = menu->viewItems()[1]->view();
    EXPECT_GT(top->frame().y(), bottom->frame().y());
    EXPECT_EQ(top->frame().width(), widest); // the panel is made even, the rows are not

    // Roll-over image falls back; pressed has none of its own.
    EXPECT_EQ(top->imageByState(1, false)->size().width, 13);
    EXPECT_EQ(top->imageByState(2, false), nullptr);

    menu->hide(false);
    menu->showAtLocationInWindow({160, 50}, false);
    EXPECT_EQ(m.asked, 2); // every showing asks again
}

TEST_F(PopupTest, MenuMinimumWidthAndDisabledRows)
{
    clearSkinImages();
    MenuSource m;
    m.titles = {"a", "b"};
    m.disabled = "b";
    auto c = LMPopMenuViewController::popMenuViewControllerWithDataSource(&m, &m, container);
    LMPopMenuView* menu = c->popMenuView();
    menu->setMinWidth(150);
    menu->setPopViewAlignLeftFlag(true);
    menu->setFrame(Rect(20, 30, 60, 40));
    menu->showAtLocationInWindow({20, 30}, false);
    EXPECT_EQ(menu->frame(), Rect(20, 30, 150, 28 + 2 * LMPopMenuItemView::kDefaultRowHeight));
    auto* rowB = menu->viewItems()[1]->view();
    EXPECT_EQ(rowB->frame().width(), 140);
    EXPECT_EQ(rowB->drawingState(), 3);
    EXPECT_EQ(rowB->bkColorByState(3), Color::clearColor());
    EXPECT_EQ(rowB->bkColorByState(2), Color(253 / 255.0, 168 / 255.0, 19 / 255.0, 1));
    rowB->updateButtonUI();
    EXPECT_EQ(rowB->txtItemTitle()->textColor(), Color::disabledControlTextColor());
    // The row only looks disabled: the click still reaches the delegate.
    menu->viewItems()[1]->itemViewActionHandler();
    EXPECT_EQ(m.clicked.toString(), "b");
}

// A shown menu works by the keys as any menu: Up and Down mark a row past the disabled ones,
// wrapping at the ends, Return chooses it, and those keys reach nothing beneath the menu.
TEST_F(PopupTest, MenuRowsAreChosenByTheKeys)
{
    clearSkinImages();
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    int beneathSaw = 0;
    auto beneath = center.addLocalMonitorForEventsMatchingMask(AnyEventMask, [&](const Event&) {
        ++beneathSaw;
        return false;
    });
    MenuSource m;
    m.titles = {"Rename", "Resize", "Convert"};
    m.disabled = "Resize";
    auto c = LMPopMenuViewController::popMenuViewControllerWithDataSource(&m, &m, container);
    LMPopMenuView* menu = c->popMenuView();
    menu->setFrame(Rect(100, 50, 120, 40));
    menu->showAtLocationInWindow({160, 50}, false);
    auto key = [&](unsigned short code) { return center.dispatch(Event::keyEvent(KeyDown, code, QString(), QString(), &window)); };
    auto marked = [&] {
        QStringList rows;
        for (auto& item : menu->viewItems())
            if (item->view()->visualState() == 1)
                rows << item->representedObject().toString();
        return rows;
    };
    EXPECT_EQ(key(KeyCode::DownArrow), nullptr);
    EXPECT_EQ(marked(), QStringList{"Rename"});
    // The marked row stands out from the others on the menu's dark panel.
    auto shownGrey = [](LMPopMenuItemView* row) {
        const QColor c = row->renderToImage(1.0).pixelColor(int(row->bounds().width()) - 4, 4);
        return (c.red() * c.alpha() + 49 * (255 - c.alpha())) / 255; // laid over the panel's grey
    };
    EXPECT_GE(shownGrey(menu->viewItems()[0]->view()) - shownGrey(menu->viewItems()[2]->view()), 20);
    key(KeyCode::DownArrow);
    EXPECT_EQ(marked(), QStringList{"Convert"}) << "the disabled row is passed over";
    key(KeyCode::DownArrow);
    EXPECT_EQ(marked(), QStringList{"Rename"}) << "past the last row, round to the first";
    key(KeyCode::UpArrow);
    EXPECT_EQ(marked(), QStringList{"Convert"});
    // The pointer over a row marks that one alone, and the keys go on from it.
    menu->viewItems()[0]->view()->mouseEntered(*Event::mouseEvent(MouseMoved, Point{110, 60}, &window));
    EXPECT_EQ(marked(), QStringList{"Rename"});
    key(KeyCode::DownArrow);
    EXPECT_EQ(marked(), QStringList{"Convert"});
    EXPECT_NE(key(KeyCode::LeftArrow), nullptr) << "other keys go on";
    EXPECT_EQ(key(KeyCode::Return), nullptr);
    EXPECT_EQ(m.clicked.toString(), "Convert");
    EXPECT_EQ(beneathSaw, 1) << "only the key the menu left alone reached beneath it";
    menu->hide(false);
    EXPECT_NE(key(KeyCode::DownArrow), nullptr) << "a hidden menu takes no keys";
    center.removeMonitor(beneath);
}

// Pressing the button of a menu, dragging onto a row and releasing there chooses that row,
// the rows marked as the pointer passes; a release off the rows or on a disabled row chooses
// nothing, and a click on the button then a click on a row still works.
TEST_F(PopupTest, PressDragAndReleaseOnARowChoosesIt)
{
    clearSkinImages();
    MenuSource m;
    m.titles = {"Rotate", "Flip", "Mirror"};
    m.disabled = "Mirror";
    auto c = LMPopMenuViewController::popMenuViewControllerWithDataSource(&m, &m, container);
    LMPopMenuView* menu = c->popMenuView();
    auto* button = new LMButton(Rect(150, 10, 20, 20));
    container->addSubview(button);
    int buttonClicks = 0;
    button->setAction([&](View*) {
        ++buttonClicks;
        menu->showAtLocationInWindow({160, 40}, false);
    });
    window.orderFront();
    Application& app = Application::shared();
    auto centre = [&](std::size_t row) {
        const View* v = menu->viewItems()[row]->view();
        const Rect r = v->convertRectToView(v->bounds(), nullptr);
        return Point{r.midX(), r.midY()};
    };
    auto pressDragRelease = [&](const std::vector<Point>& path, Point from = Point{160, 20}) {
        for (const Point& p : path)
            app.postEvent(Event::mouseEvent(LeftMouseDragged, p, &window));
        app.postEvent(Event::mouseEvent(LeftMouseUp, path.back(), &window));
        app.sendEvent(Event::mouseEvent(LeftMouseDown, from, &window));
    };
    menu->showAtLocationInWindow({160, 40}, false);
    ASSERT_EQ(menu->viewItems().size(), 3u);
    // The menu waiting for the pointer to rest on its button opens on the press.
    const std::vector<Point> path{centre(0), centre(2), centre(1)};
    menu->hide(false);
    menu->showAtLocationInWindow({160, 40}, true);
    pressDragRelease(path);
    EXPECT_EQ(m.clicked.toString(), "Flip");
    EXPECT_EQ(menu->keyItemIndex(), 1u) << "the row under the pointer is marked";
    EXPECT_EQ(buttonClicks, 0);
    // The same from a button drawn by the kit itself.
    container->addSubview(new LMNormalCustomButton(Rect(200, 10, 20, 20)));
    menu->hide(false);
    menu->showAtLocationInWindow({160, 40}, true);
    pressDragRelease({path[1], path[0]}, Point{210, 20});
    EXPECT_EQ(m.clicked.toString(), "Rotate");

    m.clicked = QVariant();
    pressDragRelease({centre(0), centre(2)});
    pressDragRelease({centre(0), Point{390, 290}});
    EXPECT_FALSE(m.clicked.isValid()) << m.clicked.toString().toStdString();
    EXPECT_EQ(menu->keyItemIndex(), LMPopMenuView::npos);

    // Click, release, then a click on a row.
    menu->hide(false);
    pressDragRelease({Point{161, 21}});
    EXPECT_EQ(buttonClicks, 1);
    ASSERT_TRUE(menu->isShown());
    app.postEvent(Event::mouseEvent(LeftMouseUp, centre(0), &window));
    app.sendEvent(Event::mouseEvent(LeftMouseDown, centre(0), &window));
    EXPECT_EQ(m.clicked.toString(), "Rotate");
}

// The button of a hover menu, as the tool bar's "more" buttons: a press opens the menu and the
// release may land off the button, on a row or elsewhere. The button then shows at rest at once,
// not lit as if the pointer still lay on it, and the menu closes as when the pointer leaves the
// button; the pointer coming back lights it again.
TEST_F(PopupTest, MenuButtonShowsWhereThePointerIsOnceThePressEnds)
{
    clearSkinImages();
    writeSkinImage("t_more", 20, 20, QColor(40, 40, 40));
    writeSkinImage("t_more_roll", 20, 20, QColor(220, 40, 40));
    writeSkinImage("t_more_push", 20, 20, QColor(40, 40, 220));
    MenuSource m;
    m.titles = {"Rotate", "Flip"};
    auto c = LMPopMenuViewController::popMenuViewControllerWithDataSource(&m, &m, container);
    LMPopMenuView* menu = c->popMenuView();
    // Resting on the button opens its menu after a wait, leaving it closes the menu after a
    // short one, and a click opens it at once.
    struct Opener : LMButtonDelegate {
        LMPopMenuView* menu = nullptr;
        void buttonMouseEntered(LMButton*) override { menu->showAtLocationInWindow({160, 40}, true); }
        void buttonMouseExited(LMButton*) override { menu->hide(true); }
    } opener;
    opener.menu = menu;
    auto* button = new LMButton(Rect(150, 10, 20, 20));
    button->setImageName("t_more");
    button->setButtonDelegate(&opener);
    button->setAction([&](View*) { menu->showAtLocationInWindow({160, 40}, false); });
    container->addSubview(button);
    window.orderFront();
    window.makeKeyWindow();
    Application& app = Application::shared();
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    // As the platform tells a move of the pointer.
    auto moveTo = [&](Point p) {
        window.setMouseLocationInternal(p);
        window.updateTrackingForMouse(p, true, Event::mouseEvent(MouseMoved, p, &window).get());
    };
    auto press = [&](const std::vector<Point>& dragThenRelease) {
        for (const Point& p : dragThenRelease)
            app.postEvent(Event::mouseEvent(LeftMouseDragged, p, &window));
        app.postEvent(Event::mouseEvent(LeftMouseUp, dragThenRelease.back(), &window));
        app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{160, 20}, &window));
    };
    auto key = [&](unsigned short code) {
        center.dispatch(Event::keyEvent(KeyDown, code, QString(), QString(), &window));
    };
    auto drawn = [&] { return button->renderToImage(1.0).pixelColor(10, 10).red(); };
    const Point elsewhere{390, 290};

    moveTo({160, 20});
    ASSERT_EQ(drawn(), 220) << "lit under the pointer";
    // Pressed, dragged off onto the picture and released there: at rest at once, the keys working
    // the menu until its short wait to close ends.
    press({Point{160, 60}, elsewhere});
    ASSERT_TRUE(menu->isShown());
    EXPECT_EQ(drawn(), 40) << "the pointer has left the button";
    key(KeyCode::DownArrow);
    key(KeyCode::Return);
    EXPECT_EQ(m.clicked.toString(), "Rotate");
    EXPECT_EQ(drawn(), 40);
    clock.advance(1);
    EXPECT_FALSE(menu->isShown()) << "the pointer is on neither the button nor the menu";

    // Back on the button it is lit again, and a press dragged onto a row chooses it there.
    moveTo({160, 20});
    EXPECT_EQ(drawn(), 220);
    menu->showAtLocationInWindow({160, 40}, false);
    const View* row = menu->viewItems()[1]->view();
    const Rect r = row->convertRectToView(row->bounds(), nullptr);
    menu->hide(false);
    moveTo(elsewhere);
    moveTo({160, 20});
    press({Point{r.midX(), r.midY()}});
    EXPECT_EQ(m.clicked.toString(), "Flip");
    EXPECT_EQ(drawn(), 40);

    // Esc closes a menu opened by a click; the button, still under the pointer, stays lit.
    moveTo({160, 20});
    press({Point{161, 21}});
    ASSERT_TRUE(menu->isShown());
    key(KeyCode::Escape);
    EXPECT_FALSE(menu->isShown());
    EXPECT_EQ(drawn(), 220);
    moveTo(elsewhere);
    EXPECT_EQ(drawn(), 40);
}

TEST(PopMenuGeometry, EvenWidthFromAFractionalRow)
{
    // 97.3 + margins 10 = 107.3, made even: floor(53.65 + 0.5) * 2 = 108.
    EXPECT_EQ(std::floor(107.3 / 2 + 0.5) * 2, 108);
}
