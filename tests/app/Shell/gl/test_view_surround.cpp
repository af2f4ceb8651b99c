// The viewer as main() assembles it, drawn by OpenGL under an X server and read back: a photo
// smaller than the view stands on the window's tile colour with the drop shadow along its edges.
// The shadow's fall-off is compared with the shadow picture the program loads, composited over
// the tile as the view blends it, by the largest and by the mean difference, so that a shadow
// drawn one level too dark or too light everywhere fails. And the arrows that fade in and out
// over a photo as the pointer comes near the window's side.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/Panels/NavigateWindowController.h"
#include "Shell/Panels/PropertiesPanelWindow.h"
#include "Shell/ViewChrome/NavigateOverlays.h"
#include "Shell/Program/ViewerProgram.h"

#include "Kit/LMNormalCustomWindow.h"
#include "Model/LMImage.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "appkit/Application.h"
#include "appkit/OpenGLView.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "../ProgramTestSetup.h"
#include "../../../support/QtTestApplication.h"

#include <QApplication>
#include <QDir>
#include <QBackingStore>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QRegion>
#include <QWidget>
#include <QWindow>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

namespace {

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(
    new QtTestApplication("kestrane-viewer", &kpv::OpenGLView::configureSharedContext));

// The window's tile, as the skin draws it.
constexpr int kTile[3] = {24, 25, 27};

using ViewSurround = ProgramTest;

TEST_F(ViewSurround, SmallPhotoStandsOnTheTileWithItsShadow)
{
    QImage photo(QSize(200, 150), QImage::Format_RGB32);
    photo.fill(QColor(200, 120, 60));
    ASSERT_TRUE(photo.save(QDir(folder).filePath(QStringLiteral("small.png"))));

    LaunchedProgram launched(scratch, {folder});
    std::unique_ptr<AppDelegate>& delegate = launched.delegate;
    std::unique_ptr<ViewerProgram>& program = launched.program;
    settleProgram(*delegate, clock, 2.0);
    ASSERT_EQ(program->controller().showMode(), MainShowModeView);

    LMOpenGLView& view = *program->viewMode().imageView();
    const QImage frame = view.grabFramebuffer().convertToFormat(QImage::Format_RGBA8888);
    ASSERT_FALSE(frame.isNull());
    const QRectF shown = view.imageVisibleViewRect();
    ASSERT_EQ(shown.size(), QSizeF(200, 150)) << "a small photo is shown at its own size";
    const double k = frame.width() / view.frame().width();
    // Colour at a view point (bottom-left origin, points).
    auto at = [&](double x, double y) {
        return frame.pixelColor(int(std::floor(x * k)), frame.height() - 1 - int(std::floor(y * k)));
    };

    // The tile all round, away from the picture and its shadow.
    for (const QPointF p : {QPointF(5, 5), QPointF(view.frame().width() - 5, view.frame().height() - 5),
                            QPointF(shown.left() - 30, shown.center().y()), QPointF(shown.center().x(), shown.y() + shown.height() + 30)}) {
        const QColor c = at(p.x(), p.y());
        EXPECT_EQ(c.red(), kTile[0]) << p.x() << "," << p.y();
        EXPECT_EQ(c.green(), kTile[1]) << p.x() << "," << p.y();
        EXPECT_EQ(c.blue(), kTile[2]) << p.x() << "," << p.y();
    }
    const QColor inside = at(shown.center().x(), shown.center().y());
    EXPECT_EQ(inside, QColor(200, 120, 60));

    // To the right of the picture, half-way up, the shadow's right slice lies one texel per point:
    // texel column (width - 12 + i) over the tile at the i-th point past the edge.
    const LMImagePtr shadowImage = program->viewMode().controller().acquireShadowImage();
    ASSERT_TRUE(shadowImage);
    const QImage shadow = shadowImage->convertToImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(shadow.isNull());
    ASSERT_EQ(k, 1.0) << "the shadow model below is for a standard-density screen";
    const int row = shadow.height() / 2; // inside the stretched middle slice
    double sumError = 0, maxError = 0;
    int darker = 0;
    const int reach = 12;
    for (int i = 0; i < reach; ++i) {
        const double alpha = qAlpha(shadow.pixel(shadow.width() - reach + i, row)) / 255.0;
        const QColor c = at(shown.right() + i + 0.5, shown.center().y());
        const int got[3] = {c.red(), c.green(), c.blue()};
        for (int ch = 0; ch < 3; ++ch) {
            const double expected = kTile[ch] * (1 - alpha);
            sumError += got[ch] - expected;
            maxError = std::max(maxError, std::abs(got[ch] - expected));
        }
        darker += c.red() < kTile[0];
    }
    EXPECT_LE(maxError, 2.0);
    EXPECT_LT(std::abs(sumError / (3 * reach)), 0.5) << "the shadow is biased";
    EXPECT_GE(darker, 4) << "no shadow along the picture's right edge";
    // Nearer the picture the shadow is darker.
    EXPECT_LT(at(shown.right() + 1.5, shown.center().y()).red(), at(shown.right() + reach - 1.5, shown.center().y()).red());
    // Past its reach the tile shows again.
    EXPECT_EQ(at(shown.right() + reach + 2.5, shown.center().y()).red(), kTile[0]);
    // Below the picture (view points grow upwards) the shadow reaches further than above it.
    EXPECT_LT(at(shown.center().x(), shown.y() - 3.5).red(), kTile[0]);
    EXPECT_EQ(at(shown.center().x(), shown.y() + shown.height() + 4.5).red(), kTile[0]);

    program.reset();
    delegate.reset();
    kpv::RunLoop::main().runOnce();
    kpv::RunLoop::main().setClock(nullptr);
}

// The pointer comes near the window's right side: the arrows fade in over the photo, and out again
// once it has rested there a while. Each step of either fade repaints the arrows, not the photo
// beneath them, and after every step the window shows what a full redraw of it shows.
TEST_F(ViewSurround, ArrowsFadeInAndOutWithoutRepaintingThePhoto)
{
    // The parts of the photo's view repainted.
    class PaintRecorder : public QObject {
    public:
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint)
                painted += static_cast<QPaintEvent*>(e)->region();
            return false;
        }
        QRegion painted;
    };
    for (int i = 0; i < 3; ++i) {
        QImage photo(QSize(1600, 1200), QImage::Format_RGB32);
        photo.fill(QColor::fromHsv(i * 100, 180, 200));
        ASSERT_TRUE(photo.save(QDir(folder).filePath(QStringLiteral("p%1.png").arg(i))));
    }
    LaunchedProgram launched(scratch, {QDir(folder).filePath(QStringLiteral("p1.png"))});
    std::unique_ptr<AppDelegate>& delegate = launched.delegate;
    std::unique_ptr<ViewerProgram>& program = launched.program;
    kpv::Window* w = program->controller().window();
    settleProgram(*delegate, clock, 5.0); // the controls shown at the start have faded out
    ASSERT_EQ(program->controller().showMode(), MainShowModeView);
    auto* screen = dynamic_cast<QImage*>(w->widget()->backingStore()->paintDevice());
    ASSERT_NE(screen, nullptr);
    if (screen->devicePixelRatio() != 1.0)
        GTEST_SKIP() << "the window's pixels below are compared for a standard-density screen";
    auto shows = [&] { return screen->copy(QRect(QPoint(0, 0), w->widget()->size())).convertToFormat(QImage::Format_RGB32); };
    QWidget* photo = program->viewMode().imageView()->widget();
    const long photoArea = long(photo->width()) * photo->height();
    // The middle of the arrow on the right: 8 points in from the side, 48 wide, half-way up.
    const QPoint arrowAt = photo->mapTo(w->widget(), QPoint(photo->width() - 8 - 24, photo->height() / 2));
    const QImage before = shows();
    PaintRecorder recorder;
    photo->installEventFilter(&recorder);

    // The program is the one in front, as when its user moves the pointer over it.
    kpv::Application& app = kpv::Application::shared();
    const bool wasActive = app.isActive();
    app.setActive(true);
    // The pointer enters the window and moves on near its right side, beside the arrow, as the
    // toolkit reports it.
    for (const int x : {photo->width() / 2, photo->width() - 70}) {
        const QPointF at(x, photo->height() / 2.0);
        QMouseEvent move(QEvent::MouseMove, at, photo->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(photo, &move);
    }
    int steps = 0;
    bool arrowSeen = false;
    for (double t = 0; t < 5.0; t += 0.04) {
        recorder.painted = QRegion();
        clock.advance(0.04); // coarse steps: the last one before a fade ends leaves the arrows faint, not gone
        QCoreApplication::processEvents();
        if (recorder.painted.isEmpty())
            continue;
        ++steps;
        long area = 0;
        for (const QRect& r : recorder.painted)
            area += long(r.width()) * r.height();
        EXPECT_LT(area, photoArea / 20) << "step " << steps << " repainted " << recorder.painted.boundingRect().width()
                                         << "x" << recorder.painted.boundingRect().height() << " of the photo";
        const QImage now = shows();
        arrowSeen = arrowSeen || now.pixelColor(arrowAt) != before.pixelColor(arrowAt);
        EXPECT_EQ(now, w->widget()->grab().toImage().convertToFormat(QImage::Format_RGB32)) << "step " << steps;
    }
    photo->removeEventFilter(&recorder);
    app.setActive(wasActive);
    EXPECT_TRUE(arrowSeen) << "the arrows did not show";
    EXPECT_GE(steps, 12) << "a fade in and a fade out, step by step";
    EXPECT_EQ(shows(), before) << "the arrows left something behind";

    program.reset();
    delegate.reset();
    kpv::RunLoop::main().runOnce();
    kpv::RunLoop::main().setClock(nullptr);
}


// The Info and Navigation panels were kept on top of the other windows but belonged to none: in
// full screen the window manager put the photo over them, and they opened where nobody could see
// them. They are the main window's now, which the window manager keeps them over in every state.
TEST_F(ViewSurround, TheInfoAndNavigationPanelsBelongToTheMainWindowToStayOverItInFullScreen)
{
    QImage image(QSize(3000, 2000), QImage::Format_RGB32);
    image.fill(Qt::darkYellow);
    ASSERT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("large.png"))));
    LaunchedProgram launched(scratch, {folder});
    const auto settle = [&](double seconds) { settleProgram(*launched.delegate, clock, seconds); };
    settle(2.0);
    MainWndController& controller = launched.program->controller();
    controller.toggleFullScreen();
    settle(0.5);
    controller.performMenuAction(29); // Show Info
    controller.performMenuAction(30); // Actual Size: the photo runs past the view, the navigator shows
    settle(1.0);

    QWindow* main = controller.window()->widget()->windowHandle();
    ASSERT_TRUE(main);
    NavigateViewMode& viewMode = launched.program->viewMode();
    for (kpv::Window* panel : {static_cast<kpv::Window*>(viewMode.propertiesPanel().window()),
                               static_cast<kpv::Window*>(viewMode.navigateWindowController().window())}) {
        ASSERT_TRUE(panel && panel->isVisible());
        ASSERT_TRUE(panel->widget()->windowHandle());
        EXPECT_EQ(panel->widget()->windowHandle()->transientParent(), main) << panel->title().toStdString();
    }
}

} // namespace
