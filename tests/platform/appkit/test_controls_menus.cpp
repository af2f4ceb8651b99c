// Standard controls driven through the tracking loop, menus with validation, and the alpha
// animation of a view on the manual clock.
#include "appkit/Application.h"
#include "appkit/Control.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Menu.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"

#include <QAction>
#include <QBackingStore>
#include <QCoreApplication>
#include <QImage>
#include <QWidget>
#include <QKeySequence>
#include <QMenu>
#include <gtest/gtest.h>

#include <algorithm>

using namespace kpv;

TEST(Controls, ToggleButtonClickAndSliderDrag)
{
    Window w(Rect(0, 0, 200, 100), TitledWindowMask);
    w.orderFront();
    auto* button = new Button(Rect(10, 10, 40, 20));
    button->setButtonType(ToggleButton);
    int clicks = 0;
    button->setAction([&](View* sender) {
        EXPECT_EQ(sender, button);
        ++clicks;
    });
    w.contentView()->addSubview(button);
    Application& app = Application::shared();
    app.postEvent(Event::mouseEvent(LeftMouseUp, Point{20, 20}, &w));
    app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{20, 20}, &w));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button->state(), OnState);
    // Released outside: no click, no toggle.
    app.postEvent(Event::mouseEvent(LeftMouseUp, Point{150, 80}, &w));
    app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{20, 20}, &w));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button->state(), OnState);
    // Disabled: ignored.
    button->setEnabled(false);
    app.postEvent(Event::mouseEvent(LeftMouseUp, Point{20, 20}, &w));
    app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{20, 20}, &w));
    EXPECT_EQ(clicks, 1);
    app.discardQueuedEvents();

    auto* slider = new Slider(Rect(0, 50, 112, 20));
    slider->setMaxValue(100);
    w.contentView()->addSubview(slider);
    double last = -1;
    slider->setAction([&](View*) { last = slider->doubleValue(); });
    // A click on the track jumps there; dragging follows; the value is clamped at the ends.
    app.postEvent(Event::mouseEvent(LeftMouseDragged, Point{500, 60}, &w));
    app.postEvent(Event::mouseEvent(LeftMouseUp, Point{500, 60}, &w));
    app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{56, 60}, &w));
    EXPECT_DOUBLE_EQ(last, 100);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 100);
}

TEST(Menus, ValidationStatesAndActions)
{
    Menu menu("Edit");
    int copied = 0;
    auto copy = menu.addItemWithTitle("Copy", [&](MenuItem&) { ++copied; }, "c");
    auto paste = menu.addItemWithTitle("Paste", [&](MenuItem&) {});
    menu.addItem(MenuItem::separatorItem());
    auto sub = std::make_shared<Menu>("More");
    sub->addItemWithTitle("Inner", nullptr);
    auto more = menu.addItemWithTitle("More", nullptr);
    more->setSubmenu(sub);
    copy->setState(1);
    paste->setRepresentedObject(QVariant(42));
    menu.setValidator([](MenuItem& item) { return item.title() != "Paste"; });
    menu.update();
    EXPECT_TRUE(copy->isEnabled());
    EXPECT_FALSE(paste->isEnabled());
    EXPECT_EQ(menu.numberOfItems(), 4);
    EXPECT_TRUE(menu.itemAtIndex(2)->isSeparatorItem());
    EXPECT_EQ(menu.indexOfItem(paste.get()), 1);
    EXPECT_EQ(paste->representedObject().toInt(), 42);
    copy->performAction();
    paste->performAction(); // disabled: nothing
    EXPECT_EQ(copied, 1);

    QMenu* qm = menu.makeQMenu(nullptr);
    ASSERT_EQ(qm->actions().size(), 4);
    EXPECT_TRUE(qm->actions()[0]->isChecked());
    EXPECT_EQ(qm->actions()[0]->shortcut(), QKeySequence("Ctrl+C"));
    EXPECT_FALSE(qm->actions()[1]->isEnabled());
    EXPECT_TRUE(qm->actions()[2]->isSeparator());
    EXPECT_NE(qm->actions()[3]->menu(), nullptr);
    qm->actions()[0]->trigger();
    EXPECT_EQ(copied, 2);
    delete qm;
}

// Titles are plain text: a recent photo named "Tom & Jerry.jpg" reads so in its menu, and none
// of its letters becomes a key that opens it.
TEST(Menus, TitlesAreShownAsTheyStand)
{
    Menu menu("Open Recent");
    menu.addItemWithTitle("Tom & Jerry.jpg", nullptr);
    menu.addItemWithTitle("R&D", nullptr)->setSubmenu(std::make_shared<Menu>("R&D"));
    QMenu* qm = menu.makeQMenu(nullptr);
    ASSERT_EQ(qm->actions().size(), 2);
    EXPECT_EQ(qm->actions()[0]->iconText(), QString("Tom & Jerry.jpg"));
    EXPECT_EQ(qm->actions()[1]->iconText(), QString("R&D"));
    for (QAction* a : qm->actions())
        EXPECT_TRUE(QKeySequence::mnemonic(a->text()).isEmpty()) << a->text().toStdString();
    delete qm;
}

TEST(ViewAnimation, AlphaAnimatesOnTheRunLoopAndCompletesOnce)
{
    ManualClock clock;
    RunLoop::main().setClock(&clock);
    View v(Rect(0, 0, 10, 10));
    int finished = 0, interrupted = 0;
    v.animateAlphaValue(0.0, 0.5, [&](bool done) { done ? ++finished : ++interrupted; });
    EXPECT_TRUE(v.isAnimatingAlpha());
    clock.advance(0.25);
    EXPECT_NEAR(v.alphaValue(), 0.5, 0.05);
    clock.advance(0.3);
    EXPECT_DOUBLE_EQ(v.alphaValue(), 0.0);
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(v.isAnimatingAlpha());

    // A new value replaces a running animation, which is told it did not finish.
    v.animateAlphaValue(1.0, 1.0, [&](bool done) { done ? ++finished : ++interrupted; });
    clock.advance(0.2);
    v.setAlphaValue(0.3);
    EXPECT_EQ(interrupted, 1);
    clock.advance(2.0);
    EXPECT_DOUBLE_EQ(v.alphaValue(), 0.3);
    EXPECT_EQ(finished, 1);
    RunLoop::main().setClock(nullptr);
}

// A fading overlay is drawn once for the whole fade: each step lays that picture over what lies
// below at the step's opacity. At rest, half transparent, a change inside it shows at once.
TEST(ViewAnimation, AFadeDrawsItsViewOnceAndShowsEveryStep)
{
    class Filled : public View {
    public:
        using View::View;
        void drawRect(const Rect&) override
        {
            ++draws;
            GraphicsContext::current()->fillRect(bounds(), colour);
        }
        int draws = 0;
        Color colour{1, 0, 0};
    };
    ManualClock clock;
    RunLoop::main().setClock(&clock);
    View root(Rect(0, 0, 20, 20));
    auto* overlay = new Filled(Rect(0, 0, 20, 20));
    root.addSubview(overlay);
    const int pictures = View::fadePicturesDrawnForTesting();
    overlay->animateAlphaValue(0.5, 0.3);
    std::vector<int> alphas;
    for (int step = 0; step < 5; ++step) {
        clock.advance(0.05);
        alphas.push_back(root.renderToImage(1.0).pixelColor(10, 10).alpha());
    }
    const int drawsWhileFading = overlay->draws;
    EXPECT_EQ(View::fadePicturesDrawnForTesting() - pictures, 1);
    EXPECT_LE(drawsWhileFading, 1);
    EXPECT_TRUE(std::is_sorted(alphas.rbegin(), alphas.rend()));
    EXPECT_GT(alphas.front(), alphas.back());

    clock.advance(0.2);
    EXPECT_FALSE(overlay->isAnimatingAlpha());
    overlay->colour = Color(0, 0, 1);
    overlay->setNeedsDisplay();
    const QColor rest = root.renderToImage(1.0).pixelColor(10, 10);
    EXPECT_GT(overlay->draws, drawsWhileFading);
    EXPECT_NEAR(rest.alpha(), 128, 3);
    EXPECT_GT(rest.blue(), 100);
    EXPECT_EQ(rest.red(), 0);
    RunLoop::main().setClock(nullptr);
}

// A container over the whole window that shows only two small subviews at its sides (the arrows
// over a picture) fades as they do: each step shows them where they lie, and nothing elsewhere.
TEST(ViewAnimation, AContainerFadesItsSubviewsWhereTheyLie)
{
    class Filled : public View {
    public:
        Filled(const Rect& frame, Color colour) : View(frame), m_colour(colour) {}
        void drawRect(const Rect&) override { GraphicsContext::current()->fillRect(bounds(), m_colour); }
        Color m_colour;
    };
    class Container : public View {
    public:
        using View::View;
        bool drawsOwnContent() const override { return false; }
    };
    ManualClock clock;
    RunLoop::main().setClock(&clock);
    Window w(Rect(0, 0, 200, 100), TitledWindowMask);
    w.orderFront();
    auto* overlay = new Container(Rect(0, 0, 200, 100));
    overlay->addSubview(new Filled(Rect(4, 30, 20, 40), Color(1, 0, 0)));
    overlay->addSubview(new Filled(Rect(176, 30, 20, 40), Color(0, 0, 1)));
    w.contentView()->addSubview(overlay);
    overlay->animateAlphaValue(0.0, 0.4);
    clock.advance(0.2);
    const QImage half = w.contentView()->renderToImage(1.0);
    const QColor left = half.pixelColor(14, 49), right = half.pixelColor(186, 49);
    EXPECT_TRUE(left.alpha() > 40 && left.alpha() < 215 && left.red() > 200) << left.name(QColor::HexArgb).toStdString();
    EXPECT_TRUE(right.alpha() > 40 && right.alpha() < 215 && right.blue() > 200) << right.name(QColor::HexArgb).toStdString();
    for (const QPoint p : {QPoint(100, 50), QPoint(14, 10), QPoint(14, 90), QPoint(30, 50), QPoint(170, 50)})
        EXPECT_EQ(half.pixelColor(p).alpha(), 0) << p.x() << "," << p.y();
    // Faded in again, they show whole.
    overlay->animateAlphaValue(1.0, 0.4);
    clock.advance(0.5);
    const QImage shown = w.contentView()->renderToImage(1.0);
    EXPECT_EQ(shown.pixelColor(14, 49), QColor(255, 0, 0));
    EXPECT_EQ(shown.pixelColor(186, 49), QColor(0, 0, 255));
    RunLoop::main().setClock(nullptr);
}

// A view that has faded in and rests, holding a page that faded in too (a mode over the window
// and its page): a repaint of a part away from the window's corner, as the page's fade leaves
// behind, shows that part where it lies. It showed the page's picture shifted up and left by the
// part's corner, and kept it so until the next full repaint.
TEST(ViewAnimation, APartRepaintedInAFadedViewShowsWhereItLies)
{
    class Filled : public View {
    public:
        Filled(const Rect& frame, Color colour) : View(frame), m_colour(colour) {}
        void drawRect(const Rect&) override { GraphicsContext::current()->fillRect(bounds(), m_colour); }
        Color m_colour;
    };
    ManualClock clock;
    RunLoop::main().setClock(&clock);
    Window w(Rect(0, 0, 300, 200), TitledWindowMask);
    w.orderFront();
    auto* mode = new View(Rect(0, 0, 300, 200));
    auto* page = new View(Rect(0, 0, 300, 200));
    page->addSubview(new Filled(Rect(120, 60, 100, 80), Color(1, 0, 0)));
    page->addSubview(new Filled(Rect(130, 4, 40, 20), Color(0, 0, 1)));
    mode->addSubview(page);
    w.contentView()->addSubview(mode);
    mode->setAlphaValue(0);
    page->setAlphaValue(0);
    mode->animateAlphaValue(1.0, 0.3);
    page->animateAlphaValue(1.0, 0.3);
    for (int step = 0; step < 30; ++step) {
        clock.advance(1.0 / 60);
        QCoreApplication::processEvents();
    }
    ASSERT_FALSE(page->isAnimatingAlpha());
    QWidget* window = w.widget();
    auto* store = dynamic_cast<QImage*>(window->backingStore()->paintDevice());
    ASSERT_NE(store, nullptr);
    auto shows = [&] { return store->copy(QRect(QPoint(0, 0), window->size())).convertToFormat(QImage::Format_RGB32); };
    const QImage whole = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(whole.pixelColor(page->widget()->mapTo(window, QPoint(170, 100))), QColor(255, 0, 0));
    // The part the red square covers, in squares of 16 as a fade's picture has it.
    page->widget()->update(QRect(112, 48, 112, 96));
    QCoreApplication::processEvents();
    EXPECT_EQ(shows(), whole);
    RunLoop::main().setClock(nullptr);
}

TEST(CursorRects, DeepestViewWinsAndRectsAreRebuiltWhenDiscarded)
{
    class CursorView : public View {
    public:
        using View::View;
        int resets = 0;
        void resetCursorRects() override
        {
            ++resets;
            addCursorRect(bounds(), Cursor::openHandCursor());
        }
    };
    Window w(Rect(0, 0, 100, 100), TitledWindowMask);
    w.orderFront();
    auto* v = new CursorView(Rect(10, 10, 30, 30));
    w.contentView()->addSubview(v);
    w.updateTrackingForMouse(Point{20, 20}, true, nullptr);
    EXPECT_EQ(w.widget()->cursor().shape(), Qt::OpenHandCursor);
    w.updateTrackingForMouse(Point{80, 80}, true, nullptr);
    EXPECT_EQ(w.widget()->cursor().shape(), Qt::ArrowCursor);
    const int before = v->resets;
    w.updateTrackingForMouse(Point{20, 20}, true, nullptr);
    EXPECT_EQ(v->resets, before); // cached
    w.invalidateCursorRectsForView(v);
    w.updateTrackingForMouse(Point{20, 20}, true, nullptr);
    EXPECT_EQ(v->resets, before + 1);
}
