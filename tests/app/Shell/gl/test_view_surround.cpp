// The viewer as main() assembles it, drawn by OpenGL under an X server and read back: a photo
// smaller than the view stands on the window's tile colour with the drop shadow along its edges.
// The shadow's fall-off is compared with the shadow picture the program loads, composited over
// the tile as the view blends it, by the largest and by the mean difference, so that a shadow
// drawn one level too dark or too light everywhere fails.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/Program/ViewerProgram.h"

#include "Model/LMImage.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "appkit/OpenGLView.h"
#include "foundation/Clock.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "../ProgramTestSetup.h"
#include "../../../support/QtTestApplication.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

namespace {

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(
    new QtTestApplication("kestrane-viewer", &kpv::OpenGLView::configureSharedContext));

// The window's tile, as the skin draws it.
constexpr int kTile[3] = {24, 25, 27};

TEST(ViewSurround, SmallPhotoStandsOnTheTileWithItsShadow)
{
    ASSERT_TRUE(qApp);
    kpv::ManualClock clock;
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString folder = startProgramTest(scratch, clock);
    ASSERT_FALSE(folder.isEmpty());
    QImage photo(QSize(200, 150), QImage::Format_RGB32);
    photo.fill(QColor(200, 120, 60));
    ASSERT_TRUE(photo.save(QDir(folder).filePath(QStringLiteral("small.png"))));

    kpv::UserDefaults defaults(scratch.filePath(QStringLiteral("defaults.json")));
    auto delegate = std::make_unique<AppDelegate>(programTestSetup(defaults, scratch));
    auto program = std::make_unique<ViewerProgram>(*delegate);
    program->controller().window()->makeKeyAndOrderFront();
    delegate->applicationOpenFiles({folder});
    delegate->applicationDidFinishLaunching();
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

} // namespace
