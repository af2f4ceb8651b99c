// View geometry in y-up coordinates, its Qt placement, conversion, hit testing, autoresizing,
// drawing orientation, tracking areas, monitors and the nested tracking loop.
#include "appkit/Application.h"
#include "appkit/GraphicsContext.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPalette>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <cstdlib>
#include <vector>

using namespace kpv;

namespace {
class FlippedView : public View {
public:
    using View::View;
    bool isFlipped() const override { return true; }
};

class SquareAtOrigin : public View {
public:
    SquareAtOrigin(const Rect& f, bool flipped) : View(f), m_flipped(flipped) {}
    bool isFlipped() const override { return m_flipped; }
    void drawRect(const Rect&) override { GraphicsContext::current()->fillRect(Rect(0, 0, 4, 4), Color(1, 0, 0)); }

private:
    bool m_flipped;
};

class Recorder : public View {
public:
    using View::View;
    std::vector<int> events;
    void mouseDown(const Event&) override { events.push_back(LeftMouseDown); }
    void mouseUp(const Event&) override { events.push_back(LeftMouseUp); }
    void mouseEntered(const Event&) override { events.push_back(MouseEntered); }
    void mouseExited(const Event&) override { events.push_back(MouseExited); }
    void keyDown(const Event& e) override { events.push_back(1000 + e.keyCode()); }
    bool acceptsFirstResponder() const override { return true; }
};
} // namespace

TEST(ViewGeometry, FrameMapsToQtGeometryForFlippedAndUnflippedSuperviews)
{
    View parent(Rect(0, 0, 200, 100));
    auto* child = new View(Rect(10, 20, 30, 40));
    parent.addSubview(child);
    // Unflipped: 20 up from the bottom of a 100-high parent puts the top at 100 - 20 - 40.
    EXPECT_EQ(child->widget()->geometry(), QRect(10, 40, 30, 40));

    FlippedView fparent(Rect(0, 0, 200, 100));
    auto* fchild = new View(Rect(10, 20, 30, 40));
    fparent.addSubview(fchild);
    EXPECT_EQ(fchild->widget()->geometry(), QRect(10, 20, 30, 40));

    // The parent grows: an unmasked child keeps its distance to the bottom-left corner.
    parent.setFrameSize(Size{200, 150});
    EXPECT_EQ(child->frame(), Rect(10, 20, 30, 40));
    EXPECT_EQ(child->widget()->geometry(), QRect(10, 90, 30, 40));
}

TEST(ViewGeometry, AutoresizingFollowsTheMask)
{
    View parent(Rect(0, 0, 100, 100));
    auto* stretch = new View(Rect(10, 10, 80, 80));
    stretch->setAutoresizingMask(ViewWidthSizable | ViewHeightSizable);
    auto* topRight = new View(Rect(70, 70, 20, 20));
    topRight->setAutoresizingMask(ViewMinXMargin | ViewMinYMargin);
    parent.addSubview(stretch);
    parent.addSubview(topRight);
    parent.setFrameSize(Size{200, 150});
    EXPECT_EQ(stretch->frame(), Rect(10, 10, 180, 130));
    EXPECT_EQ(topRight->frame(), Rect(170, 120, 20, 20));
}

TEST(ViewGeometry, ConversionAndHitTesting)
{
    Window window(Rect(100, 100, 300, 200), TitledWindowMask);
    View* content = window.contentView();
    auto* box = new FlippedView(Rect(50, 40, 100, 60));
    auto* inner = new View(Rect(10, 10, 20, 20));
    content->addSubview(box);
    box->addSubview(inner);
    // inner's bottom-left: box is flipped, so inner's frame hangs from box's top.
    // box's top in window coordinates is 40 + 60 = 100; inner's top is 10 below, its bottom 30 below.
    EXPECT_EQ(inner->convertPointToView(Point{0, 0}, nullptr), (Point{60, 70}));
    EXPECT_EQ(box->convertPointFromView(Point{60, 70}, nullptr), (Point{10, 30}));
    EXPECT_EQ(inner->convertPointFromView(Point{15, 25}, box), (Point{5, 5}));
    EXPECT_EQ(content->hitTest(Point{65, 75}), inner);
    EXPECT_EQ(content->hitTest(Point{140, 45}), box);
    EXPECT_EQ(content->hitTest(Point{10, 10}), content);
    inner->setHidden(true);
    EXPECT_EQ(content->hitTest(Point{65, 75}), box);
}

TEST(ViewDrawing, OriginIsBottomLeftUnlessFlipped)
{
    for (bool flipped : {false, true}) {
        SquareAtOrigin v(Rect(0, 0, 20, 10), flipped);
        QImage img = v.renderToImage(1.0);
        const QColor bottomLeft = img.pixelColor(1, 8);
        const QColor topLeft = img.pixelColor(1, 1);
        if (flipped) {
            EXPECT_EQ(topLeft.red(), 255);
            EXPECT_EQ(bottomLeft.alpha(), 0);
        } else {
            EXPECT_EQ(bottomLeft.red(), 255);
            EXPECT_EQ(topLeft.alpha(), 0);
        }
    }
}

TEST(ViewDrawing, ImagesStandUprightInBothKindsOfContext)
{
    // A 2x2 image: top row red, bottom row blue.
    QImage px(2, 2, QImage::Format_ARGB32_Premultiplied);
    px.setPixelColor(0, 0, Qt::red);
    px.setPixelColor(1, 0, Qt::red);
    px.setPixelColor(0, 1, Qt::blue);
    px.setPixelColor(1, 1, Qt::blue);
    Image image(px);
    for (bool flipped : {false, true}) {
        class V : public View {
        public:
            V(Image& i, bool f) : View(Rect(0, 0, 2, 2)), img(i), fl(f) {}
            bool isFlipped() const override { return fl; }
            void drawRect(const Rect&) override { GraphicsContext::current()->drawImage(img, bounds()); }
            Image& img;
            bool fl;
        } v(image, flipped);
        QImage out = v.renderToImage(1.0);
        EXPECT_EQ(out.pixelColor(0, 0).red(), 255) << flipped;
        EXPECT_EQ(out.pixelColor(0, 1).blue(), 255) << flipped;
    }
}

TEST(WindowEvents, DispatchMonitorsAndTrackingAreas)
{
    Window window(Rect(0, 0, 200, 100), TitledWindowMask);
    window.orderFront();
    window.makeKeyWindow();
    auto* rec = new Recorder(Rect(10, 10, 50, 50));
    window.contentView()->addSubview(rec);
    auto area = std::make_shared<TrackingArea>(Rect(), TrackingMouseEnteredAndExited | TrackingActiveInKeyWindow |
                                                          TrackingInVisibleRect, rec);
    rec->addTrackingArea(area);

    Application& app = Application::shared();
    app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{20, 20}, &window));
    app.sendEvent(Event::mouseEvent(LeftMouseUp, Point{150, 90}, &window)); // up goes to the down view
    EXPECT_EQ(rec->events, (std::vector<int>{LeftMouseDown, LeftMouseUp}));
    EXPECT_EQ(window.firstResponder(), rec);

    rec->events.clear();
    window.updateTrackingForMouse(Point{20, 20}, true, nullptr);
    window.updateTrackingForMouse(Point{30, 20}, true, nullptr);
    window.updateTrackingForMouse(Point{150, 20}, true, nullptr);
    EXPECT_EQ(rec->events, (std::vector<int>{MouseEntered, MouseExited}));

    // A monitor sees events first and can consume them.
    rec->events.clear();
    int seen = 0;
    auto token = app.addLocalMonitorForEventsMatchingMask(KeyDownMask, [&](const EventPtr& e) -> EventPtr {
        ++seen;
        return e->keyCode() == KeyCode::Escape ? nullptr : e;
    });
    app.sendEvent(Event::keyEvent(KeyDown, KeyCode::Escape, "\x1b", "\x1b", &window));
    app.sendEvent(Event::keyEvent(KeyDown, KeyCode::A, "a", "a", &window));
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(rec->events, (std::vector<int>{1000 + KeyCode::A}));
    app.removeMonitor(token);
}

TEST(WindowEvents, NestedLoopTakesQueuedEventsAndIsAbandonedOnDeactivation)
{
    Window window(Rect(0, 0, 100, 100), TitledWindowMask);
    window.orderFront();
    Application& app = Application::shared();
    app.postEvent(Event::mouseEvent(MouseMoved, Point{1, 1}, &window));
    app.postEvent(Event::mouseEvent(LeftMouseDragged, Point{5, 6}, &window));
    app.postEvent(Event::mouseEvent(LeftMouseUp, Point{7, 8}, &window));
    auto e1 = window.nextEventMatchingMask(LeftMouseUpMask | LeftMouseDraggedMask);
    ASSERT_TRUE(e1);
    EXPECT_EQ(e1->type(), LeftMouseDragged);
    EXPECT_EQ(window.mouseLocationOutsideOfEventStream(), (Point{5, 6}));
    auto e2 = window.nextEventMatchingMask(LeftMouseUpMask | LeftMouseDraggedMask);
    ASSERT_TRUE(e2);
    EXPECT_EQ(e2->type(), LeftMouseUp);
    app.discardQueuedEvents();

    // With nothing queued the loop waits; deactivating the application abandons it.
    RunLoop::main().performAfterDelay(0, [&] { app.setActive(false); }, TimerMode::Common);
    EXPECT_EQ(window.nextEventMatchingMask(LeftMouseUpMask), nullptr);
    app.setActive(true);
}

// A drag and its release that reach the program together (it was busy drawing) both reach the
// tracker: the release is not lost with the loop that the drag ended.
TEST(WindowEvents, ReleaseArrivingWithTheDragIsKept)
{
    Window window(Rect(0, 0, 100, 100), TitledWindowMask);
    window.orderFront();
    QWidget* w = window.contentView()->widget();
    const QPointF a(10, 10), b(30, 10);
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseMove, a, w->mapToGlobal(a), Qt::NoButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonRelease, b, w->mapToGlobal(b), Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    Application& app = Application::shared();
    QTimer rescue; // a lost release would leave the loop waiting: end it instead of hanging
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [&app] { app.abandonTrackingLoops(); });
    rescue.start(3000);
    auto drag = window.nextEventMatchingMask(LeftMouseUpMask | LeftMouseDraggedMask);
    ASSERT_TRUE(drag);
    EXPECT_EQ(drag->type(), LeftMouseDragged);
    auto up = window.nextEventMatchingMask(LeftMouseUpMask | LeftMouseDraggedMask);
    ASSERT_TRUE(up) << "the release was lost";
    EXPECT_EQ(up->type(), LeftMouseUp);
    rescue.stop();
    app.discardQueuedEvents();
}

TEST(WindowState, KeyNotificationsAndSheets)
{
    Window a(Rect(0, 0, 100, 100), TitledWindowMask);
    Window b(Rect(0, 0, 100, 100), TitledWindowMask);
    std::vector<QString> names;
    NotificationCenter::defaultCenter().addObserver(&names, {}, &a, [&](const Notification& n) {
        names.push_back(n.name);
    });
    a.makeKeyAndOrderFront();
    b.makeKeyAndOrderFront();
    EXPECT_TRUE(b.isKeyWindow());
    EXPECT_FALSE(a.isKeyWindow());
    auto became = std::find(names.begin(), names.end(), QString(WindowDidBecomeKeyNotification));
    auto resigned = std::find(names.begin(), names.end(), QString(WindowDidResignKeyNotification));
    EXPECT_NE(became, names.end());
    EXPECT_NE(resigned, names.end());
    EXPECT_LT(became, resigned);
    NotificationCenter::defaultCenter().removeObserver(&names);

    Window sheet(Rect(0, 0, 50, 30), BorderlessWindowMask);
    long code = -99;
    a.beginSheet(&sheet, [&](long rc) { code = rc; });
    EXPECT_EQ(a.attachedSheet(), &sheet);
    EXPECT_EQ(sheet.sheetParent(), &a);
    a.endSheet(&sheet, 7);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(a.attachedSheet(), nullptr);

    // A window with its own title strip: the sheet hangs below the strip, centred.
    struct StripWindow : Window {
        using Window::Window;
        double sheetTopInset() const override { return 26; }
    };
    StripWindow strip(Rect(100, 100, 400, 300), BorderlessWindowMask);
    strip.beginSheet(&sheet, [](long) {});
    EXPECT_DOUBLE_EQ(sheet.frame().maxY(), strip.frame().maxY() - 26);
    EXPECT_DOUBLE_EQ(sheet.frame().midX(), strip.frame().midX());
    strip.endSheet(&sheet);

    // A sheet larger than its window in the screen's bottom-left corner comes up whole on the
    // screen, its top and left edges first where it is larger than the screen.
    const Rect visible = strip.screen().visibleFrame;
    ASSERT_GT(visible.width(), 0);
    Window corner(Rect(visible.x(), visible.y(), 120, 80), TitledWindowMask);
    Window big(Rect(0, 0, 300, 200), BorderlessWindowMask);
    corner.beginSheet(&big, [](long) {});
    EXPECT_GE(big.frame().x(), visible.x());
    EXPECT_GE(big.frame().y(), visible.y());
    EXPECT_LE(big.frame().maxY(), visible.maxY());
    corner.endSheet(&big);
    Window huge(Rect(0, 0, visible.width() + 100, visible.height() + 100), BorderlessWindowMask);
    corner.beginSheet(&huge, [](long) {});
    EXPECT_DOUBLE_EQ(huge.frame().x(), visible.x());
    EXPECT_DOUBLE_EQ(huge.frame().maxY(), visible.maxY());
    corner.endSheet(&huge);

    // A parent that goes away while its sheet is up leaves the sheet intact.
    {
        auto parent = std::make_unique<Window>(Rect(0, 0, 100, 100), TitledWindowMask);
        int ended = 0;
        parent->beginSheet(&sheet, [&](long) { ++ended; });
        parent.reset();
        EXPECT_EQ(sheet.sheetParent(), nullptr);
        EXPECT_EQ(ended, 0);
        sheet.orderFront();
        EXPECT_TRUE(sheet.isVisible());
    }

    // Borderless windows never become key unless they say so.
    Window borderless(Rect(0, 0, 10, 10), BorderlessWindowMask);
    borderless.makeKeyWindow();
    EXPECT_FALSE(borderless.isKeyWindow());
}

// Quitting (the menu's Quit, log-out, Ctrl+C) closes every window through its own close and ends
// the event loop in one go, with a secondary window or a sheet up; a window whose delegate keeps
// it open still holds the quit back.
TEST(WindowState, QuitClosesEveryWindowUnlessOneRefuses)
{
    struct Refuser : WindowDelegate {
        bool refuse = true;
        bool windowShouldClose(Window*) override { return !refuse; }
    };
    auto runQuit = [](const std::vector<Window*>& windows) {
        QTimer::singleShot(0, qApp, [windows] {
            QCoreApplication::quit();
            // A refused quit leaves the loop running: end it so the test reports instead of hanging.
            for (Window* w : windows) {
                if (w->isVisible()) {
                    QCoreApplication::exit(2);
                    return;
                }
            }
        });
        return QCoreApplication::exec();
    };

    Window main(Rect(0, 0, 200, 200), TitledWindowMask | ClosableWindowMask);
    Window info(Rect(0, 0, 80, 120), TitledWindowMask | ClosableWindowMask);
    Window options(Rect(0, 0, 120, 80), TitledWindowMask | ClosableWindowMask);
    Window sheet(Rect(0, 0, 50, 30), BorderlessWindowMask);
    main.makeKeyAndOrderFront();
    info.orderFront();
    options.makeKeyAndOrderFront();
    long sheetCode = -99;
    main.beginSheet(&sheet, [&](long rc) { sheetCode = rc; });
    int willClose = 0;
    NotificationCenter::defaultCenter().addObserver(&willClose, WindowWillCloseNotification, nullptr,
                                                    [&](const Notification&) { ++willClose; });

    Refuser refuser;
    info.setDelegate(&refuser);
    EXPECT_EQ(runQuit({&main, &info, &options, &sheet}), 2) << "a window that refuses to close keeps the viewer running";
    EXPECT_TRUE(info.isVisible());

    refuser.refuse = false;
    for (Window* w : {&main, &info, &options})
        w->orderFront();
    willClose = 0;
    EXPECT_EQ(runQuit({&main, &info, &options, &sheet}), 0);
    for (Window* w : {&main, &info, &options, &sheet})
        EXPECT_FALSE(w->isVisible());
    EXPECT_GE(willClose, 3) << "each window closes as its close box would close it";
    info.setDelegate(nullptr);
    NotificationCenter::defaultCenter().removeObserver(&willClose);
}

// A control whose face is the highlight colour (a chosen tab or site button) still shows the
// keyboard focus: the ring stands out from it, not only from a grey face.
TEST(ViewDrawing, TheFocusRingShowsOnAFaceOfTheHighlightColour)
{
    struct Face : View {
        using View::View;
        bool acceptsKeyFocus() const override { return true; }
        void drawRect(const Rect&) override
        {
            const QColor c = QGuiApplication::palette().color(QPalette::Highlight);
            GraphicsContext::current()->fillRect(bounds(), Color(c.redF(), c.greenF(), c.blueF()));
        }
    };
    Window w(Rect(0, 0, 200, 100), TitledWindowMask);
    auto* face = new Face(Rect(20, 20, 100, 28));
    w.contentView()->addSubview(face);
    w.orderFront();
    // The face and what lies round it, where the ring stands.
    QWidget* around = w.contentView()->widget();
    const QRect area = face->widget()->geometry().adjusted(-4, -4, 4, 4);
    const QImage plain = around->grab(area).toImage();
    ASSERT_TRUE(w.makeFirstResponder(face));
    QCoreApplication::processEvents();
    const QImage focused = around->grab(area).toImage();
    int marked = 0; // pixels the ring changes plainly
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x) {
            const QColor a = plain.pixelColor(x, y), b = focused.pixelColor(x, y);
            marked += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 120;
        }
    EXPECT_GT(marked, plain.width() + plain.height()) << "the ring would not be seen";

    // The ring stands beside the face in its parent: taken out of it, or gone, the face leaves
    // no ring behind there.
    const QWidget* ring = face->focusRing();
    ASSERT_NE(ring, nullptr);
    ASSERT_TRUE(ring->isVisible());
    face->removeFromSuperview();
    EXPECT_FALSE(ring->isVisible());
    delete face;
    QCoreApplication::processEvents();
    EXPECT_TRUE(around->findChildren<QWidget*>(QStringLiteral("focusRing")).isEmpty());
}
