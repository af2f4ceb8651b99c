// The mini window's views: always borderless, the drop target's decisions, the tiled background
// of the empty form and the title bar's button layout.
#include "browse_support.h"

#include "Browse/MiniWindow.h"
#include "Browse/MiniWindowContentView.h"
#include "Browse/MiniWindowShell.h"
#include "Browse/MiniWindowTitleBar.h"

#include "appkit/Event.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

namespace {

struct FakeShell : MiniWindowShell {
    long mode = 256;
    bool subfolders = false;
    bool rotating = false;
    QStringList opened;
    long showMode() const override { return mode; }
    bool isImageRotating() const override { return rotating; }
    bool viewPhotosInSubfolder() const override { return subfolders; }
    bool hasSupportedFileInPaths(const QStringList& paths, bool includeSubDir) const override
    {
        for (const QString& p : paths) {
            if (p.endsWith(QLatin1String(".jpg")))
                return true;
            if (includeSubDir && p.endsWith(QLatin1String("/nested")))
                return true;
        }
        return false;
    }
    void openFiles(const QStringList& paths, bool) override { opened = paths; }
    int zooms = 0, normals = 0, miniaturized = 0;
    void performZoom() override { ++zooms; }
    void switchToNormalMode() override { ++normals; }
    void miniaturize() override { ++miniaturized; }
};

// A zoom lays the window out anew under a pointer that did not move: the button marks follow
// where the pointer is over the new layout, not where it was over the old one.
TEST(MiniWindowViews, ButtonMarksFollowThePointerWhenTheLayoutChanges)
{
    FakeShell shell;
    shell.mode = 128;
    MiniWindow w(kpv::Rect(100, 100, 300, 200), kpv::BorderlessWindowMask);
    auto* bar = new MiniWindowTitleBar(kpv::Rect(0, 178, 300, 22), shell);
    w.contentView()->addSubview(bar);
    w.makeKeyAndOrderFront();
    ASSERT_TRUE(w.isKeyWindow());
    const kpv::Rect group = bar->buttonGroupRect();
    const kpv::Point overGroup = bar->convertPointToView({group.midX(), group.midY()}, nullptr);
    w.setMouseLocationInternal(overGroup);
    bar->mouseEntered(*kpv::Event::mouseEvent(kpv::MouseEntered, overGroup, &w));
    ASSERT_TRUE(bar->mouseInGroup());
    // The bar moves away from the pointer (the window grew downwards beneath it).
    bar->setFrame(kpv::Rect(0, 40, 600, 22));
    EXPECT_FALSE(bar->mouseInGroup());
    // And back under it: the marks show without a move of the pointer.
    bar->setFrame(kpv::Rect(0, 178, 300, 22));
    EXPECT_TRUE(bar->mouseInGroup());
    w.orderOut();
}

// The wheel or the zoom button grows the window under the pointer; the pointer then leaves
// without moving inside it first. The title bar goes with it, as after any other visit.
TEST(MiniWindowViews, TitleBarGoesWhenThePointerLeavesAWindowThatGrewUnderIt)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    FakeShell shell;
    shell.mode = 128;
    MiniWindow w(kpv::Rect(100, 100, 300, 200));
    auto* content = new MiniWindowContentView(kpv::Rect(0, 0, 300, 200), shell);
    w.setContentView(content);
    MiniWindowView* background = content->nineSliceImageViewBkgrd();
    auto* bar = new MiniWindowTitleBar(kpv::Rect(0, 178, 300, 22), shell);
    bar->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMinYMargin);
    bar->setHidden(true);
    background->addSubview(bar);
    background->setWindowTitleBar(bar);
    w.makeKeyAndOrderFront();
    ASSERT_TRUE(w.isKeyWindow());
    const auto moved = kpv::Event::mouseEvent(kpv::MouseMoved, {150, 100}, &w);
    w.updateTrackingForMouse({150, 100}, true, moved.get());
    clock.advance(1);
    ASSERT_FALSE(bar->isHidden());

    w.setFrame(kpv::Rect(50, 50, 400, 300), true);
    w.updateTrackingForMouse({500, 400}, false, nullptr);
    clock.advance(1);
    EXPECT_TRUE(bar->isHidden()) << "the title bar stayed over the picture";
    w.orderOut();
    kpv::RunLoop::main().setClock(nullptr);
}

TEST(MiniWindowViews, WindowIsAlwaysBorderless)
{
    MiniWindow w(kpv::Rect(0, 0, 300, 200), kpv::TitledWindowMask);
    EXPECT_EQ(w.styleMask(), unsigned(kpv::BorderlessWindowMask));
    EXPECT_TRUE(w.isMovableByWindowBackground());
    EXPECT_TRUE(w.canBecomeKeyWindow());
}

TEST(MiniWindowViews, DropsAndBackground)
{
    FakeShell shell;
    MiniWindowContentView view(kpv::Rect(0, 0, 300, 200), shell);
    EXPECT_TRUE(view.nineSliceImageViewBkgrd()->bkNineSliceImageRep());
    EXPECT_FALSE(view.canAcceptDrop({"/a.jpg"}, true)) << "drags from our own views are refused";
    EXPECT_FALSE(view.canAcceptDrop({"/folder/nested"}, false));
    shell.subfolders = true;
    EXPECT_TRUE(view.canAcceptDrop({"/folder/nested"}, false));
    EXPECT_TRUE(view.performDrop({"/notes.txt"}));
    EXPECT_TRUE(shell.opened.isEmpty());
    view.performDrop({"/a.jpg"});
    EXPECT_EQ(shell.opened, QStringList{"/a.jpg"});

    shell.mode = 128;
    view.updateBackgroundImage();
    EXPECT_FALSE(view.nineSliceImageViewBkgrd()->bkNineSliceImageRep());
    shell.mode = 4;
    view.updateBackgroundImage();
    EXPECT_FALSE(view.nineSliceImageViewBkgrd()->bkNineSliceImageRep()) << "other modes change nothing";
}

TEST(MiniWindowViews, TitleBarLayoutAndHover)
{
    FakeShell shell;
    shell.mode = 128;
    MiniWindowTitleBar bar(kpv::Rect(0, 0, 300, 22), shell);
    EXPECT_EQ(bar.closeButton()->frame().origin, (kpv::Point{8, 3}));
    EXPECT_EQ(bar.zoomButton()->frame().origin, (kpv::Point{52, 3}));
    EXPECT_EQ(bar.buttonGroupRect().width(), 52 + bar.zoomButton()->frame().width());

    // The three buttons look alike while the pointer is away, and each shows its own mark while
    // it is over the group, so that close is told from zoom.
    const auto pictureOf = [&bar](kpv::Button* button) {
        const QImage all = bar.renderToImage();
        const kpv::Rect f = button->frame();
        return all.copy(int(f.x()), all.height() - int(f.maxY()), int(f.width()), int(f.height()));
    };
    EXPECT_EQ(pictureOf(bar.closeButton()), pictureOf(bar.zoomButton()));
    EXPECT_EQ(pictureOf(bar.closeButton()), pictureOf(bar.minimizeButton()));
    const QImage plate = pictureOf(bar.closeButton());
    bar.mouseEntered(*kpv::Event::mouseEvent(kpv::MouseEntered, {20, 10}, nullptr));
    const QImage close = pictureOf(bar.closeButton()), minimize = pictureOf(bar.minimizeButton()),
                 zoom = pictureOf(bar.zoomButton());
    EXPECT_NE(close, plate);
    EXPECT_NE(close, zoom);
    EXPECT_NE(close, minimize);
    EXPECT_NE(minimize, zoom);
    bar.mouseExited(*kpv::Event::mouseEvent(kpv::MouseExited, {200, 10}, nullptr));
    EXPECT_EQ(pictureOf(bar.zoomButton()), plate);

    MiniWindowView hover(kpv::Rect(0, 0, 300, 200), shell);
    hover.setWindowTitleBar(&bar);
    bar.setHidden(true);
    shell.rotating = true;
    hover.showTitleBar();
    EXPECT_TRUE(bar.isHidden()) << "no title bar while a rotation runs";
    shell.rotating = false;
    hover.showTitleBar();
    EXPECT_FALSE(bar.isHidden());
}

} // namespace
