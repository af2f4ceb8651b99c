// Zoomed into a picture too large to decode whole, the view shows the file's own pixels, decoded
// part by part: the controller, the real photo loader and the OpenGL view as the program runs
// them, frames read back and compared with a reference decode of the part shown.

#include "View/LMOpenGLView.h"
#include "View/NavImageLoader.h"

#include "Model/LMPhotoLoader.h"
#include "appkit/Window.h"
#include "imageio/DecodeBudget.h"
#include "../nav_test_support.h"
#include "../../../support/LargePictures.h"
#include "../../../support/QtTestApplication.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

QTemporaryDir &scratch()
{
    static QTemporaryDir dir;
    return dir;
}

[[maybe_unused]] testing::Environment *const g_env =
    testing::AddGlobalTestEnvironment(new QtTestApplication("kpv-view-regions", [] {
        // Thumbnails the loader makes go to a cache of the test's own.
        qputenv("XDG_CACHE_HOME", scratch().filePath(QStringLiteral("cache")).toLocal8Bit());
        kpv::OpenGLView::configureSharedContext();
    }));

class ViewRegions : public ::testing::Test {
protected:
    void SetUp() override
    {
        kpv::RunLoop::main().setClock(&clock);
        defaults = std::make_unique<kpv::UserDefaults>(dir.filePath(QStringLiteral("defaults.plist")));
        config = std::make_unique<MainConfig>(*defaults);
        host = std::make_unique<navtest::FakeHost>(config.get());
        window = std::make_unique<kpv::Window>(kpv::Rect(0, 0, 400, 300), kpv::TitledWindowMask);
        view = new LMOpenGLView(kpv::Rect(0, 0, 400, 300));
        view->setPaintsFirstPictureWithoutOpenGL(paintsWithoutOpenGL);
        window->setContentView(view);
        window->orderFront();
        QApplication::processEvents();
        controller = std::make_unique<NavigateController>(view, host.get(), &loader);
        controller->awakeFromNib();
    }
    void TearDown() override
    {
        controller.reset();
        kpv::RunLoop::main().runOnce();
        window.reset();
        kpv::RunLoop::main().setClock(nullptr);
    }
    // Runs the queued loads and lets the view be still, until nothing more is asked for.
    void settle()
    {
        for (int round = 0; round < 8; ++round) {
            host->runQueue(*controller);
            clock.advance(0.3);
            kpv::RunLoop::main().runOnce();
            if (host->queue.empty())
                return;
        }
    }
    // What the view shows, against the reference decode of the part of the file under it (the
    // pattern itself for a PNG or a TIFF, which keep it exactly).
    double differenceFromFile(const QString &path, int width)
    {
        const QRect shown = view->convertToOriginalImageRectForRect(view->viewBounds()).toRect();
        EXPECT_EQ(shown.size(), QSize(400, 300));
        const QImage frame = view->grabFramebuffer().convertToFormat(QImage::Format_RGBA8888);
        const QRect inner(1, 1, 398, 298);
        const QRect part = inner.translated(shown.topLeft());
        return kpv::test::meanLevelDifference(frame.copy(inner), !path.endsWith(QLatin1String(".jpg"))
                                                                    ? kpv::test::largePicturePart(part, width)
                                                                    : kpv::test::referenceJpegPart(path, part, 1));
    }

    bool paintsWithoutOpenGL = false; // as the program's view does
    kpv::ManualClock clock;
    QTemporaryDir dir;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<MainConfig> config;
    std::unique_ptr<navtest::FakeHost> host;
    std::unique_ptr<kpv::Window> window;
    LMOpenGLView *view = nullptr;
    LMPhotoLoader photoLoader{QSizeF(400, 300)};
    NavPhotoLoaderAdapter loader{&photoLoader};
    std::unique_ptr<NavigateController> controller;
};

// A JPEG whose whole decode exceeds the frame limit and the budget, the widest a JPEG may be
// (65500 pixels), a PNG of 100,000 pixels and a tiled TIFF larger than the budget: 100% at the
// key, a pan, a step to the next.
TEST_F(ViewRegions, PanoramasShowTheirOwnPixelsAtOneHundredPercentAndWhenPanned)
{
    const QList<QSize> sizes = {QSize(24000, 12000), QSize(65500, 2000), QSize(100000, 2000), QSize(20000, 15000)};
    QList<LMPathString> files;
    for (int i = 0; i < sizes.size(); ++i) {
        const char *suffix = i == 3 ? "tif" : sizes[i].width() > 65500 ? "png" : "jpg";
        const QString path = dir.filePath(QStringLiteral("pano%1.%2").arg(i).arg(suffix));
        ASSERT_TRUE(i == 3 ? kpv::test::writeLargeTiledTiff(path, sizes[i].width(), sizes[i].height())
                    : sizes[i].width() > 65500 ? kpv::test::writeLargePng(path, sizes[i].width(), sizes[i].height())
                                               : kpv::test::writeLargeJpeg(path, sizes[i].width(), sizes[i].height()));
        files << LMPathString(path, false);
    }
    kpv::DecodeBudget &budget = kpv::DecodeBudget::shared();
    budget.resetPeak(); // what the tests before this one held is not counted
    controller->openFilePaths(files, {}, false);
    for (int i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].path().toStdString());
        if (i > 0) {
            ASSERT_TRUE(controller->navCurFileToIndex(i, false, true, false));
            EXPECT_TRUE(view->regionTiles().empty()); // the step dropped the last file's parts
        }
        settle();
        ASSERT_TRUE(view->imageNormal());
        EXPECT_TRUE(view->fitinMode());
        EXPECT_TRUE(view->regionTiles().empty()); // fitted, the picture held is fine enough

        // The key asks for the part where the zoom ends at once, and the frames on the way show
        // it as soon as it is in.
        controller->switchToOriginal();
        ASSERT_TRUE(view->isZoomTimerRunning());
        EXPECT_FALSE(host->queue.empty());
        host->runQueue(*controller);
        clock.advance(0.2);
        kpv::RunLoop::main().runOnce();
        view->grabFramebuffer();
        EXPECT_GT(view->regionTileDrawCount(), 0u);
        clock.advance(1.5);
        kpv::RunLoop::main().runOnce();
        settle();
        ASSERT_EQ(view->scale(), 1.0);
        EXPECT_LE(differenceFromFile(files[i].path(), sizes[i].width()), 1.0);

        // A drag to the lower right: the parts that come into view are decoded once it rests.
        view->moveImageByDeltaPoint(QPointF(-650, 420));
        settle();
        EXPECT_LE(differenceFromFile(files[i].path(), sizes[i].width()), 1.0);
        EXPECT_FALSE(controller->fileInfoByIndex(i)->imageByType(1)); // never decoded whole
    }
    EXPECT_LE(budget.peak(), budget.capacity());
    EXPECT_LT(budget.peak(), uint64_t(256) << 20);
}

// A JPEG 2000 in tiles, larger than the budget allows whole (lowered here so that a small file
// shows it): fitted from a coarse resolution level, at 100% and when panned the file's own
// pixels, decoded part by part.
TEST_F(ViewRegions, AJpeg2000BeyondTheBudgetShowsItsOwnPixelsAtOneHundredPercent)
{
    const QString path = dir.filePath(QStringLiteral("pano.jp2"));
    ASSERT_TRUE(kpv::test::writeLargeJp2(path, 2600, 1800, 256));
    kpv::DecodeBudget &budget = kpv::DecodeBudget::shared();
    struct Restore {
        kpv::DecodeBudget &budget;
        uint64_t former;
        ~Restore() { budget.setCapacity(former); }
    } restore{budget, budget.setCapacity(16u << 20)};  // the whole picture takes 18.7 MB, and its
                                                      // samples three times that while decoded
    budget.resetPeak();
    controller->openFilePaths({LMPathString(path, false)}, {}, false);
    settle();
    ASSERT_TRUE(view->imageNormal());
    EXPECT_TRUE(view->fitinMode());
    EXPECT_TRUE(view->regionTiles().empty());

    controller->switchToOriginal();
    clock.advance(1.5);
    kpv::RunLoop::main().runOnce();
    settle();
    ASSERT_EQ(view->scale(), 1.0);
    EXPECT_FALSE(view->regionTiles().empty());
    EXPECT_LE(differenceFromFile(path, 2600), 1.0);
    view->moveImageByDeltaPoint(QPointF(-650, 420));
    settle();
    EXPECT_LE(differenceFromFile(path, 2600), 1.0);
    EXPECT_FALSE(controller->fileInfoByIndex(0)->imageByType(1)); // never decoded whole
    EXPECT_LE(budget.peak(), budget.capacity());
}

// A photo at rest, fitted: what 100% shows is decoded ahead, only the middle of the file, at full
// size, and held once (no texture of it while the picture rests fitted); the 100% key then
// decodes nothing, and the first frame of its zoom draws those parts. A step lets them go.
TEST_F(ViewRegions, AStillPhotoZoomsToOneHundredPercentOnItsOwnPixelsFromTheFirstFrame)
{
    const QSizeF raw(6000, 4000);
    QList<LMPathString> files;
    for (int i = 0; i < 2; ++i) {
        const QString path = dir.filePath(QStringLiteral("photo%1.jpg").arg(i));
        ASSERT_TRUE(kpv::test::writeLargeJpeg(path, int(raw.width()), int(raw.height())));
        files << LMPathString(path, false);
    }
    controller->openFilePaths(files, {}, false);
    settle();
    ASSERT_TRUE(view->imageNormal());
    const auto decodedAhead = [&] { return !view->regionTiles().empty() && host->queue.empty(); };
    for (int i = 0; i < 200 && !decodedAhead(); ++i) {
        clock.advance(0.05);
        kpv::RunLoop::main().runOnce();
        host->runQueue(*controller);
    }
    ASSERT_TRUE(decodedAhead());
    QRectF decoded;
    for (const LMRegionTilePtr &tile : view->regionTiles()) {
        EXPECT_EQ(tile->reduction, 1);
        decoded |= tile->rawRect(raw);
    }
    // The middle, where 100% ends (400 x 300 about the middle), and around it what the first
    // frames show; the rest of the file is never decoded at full size.
    EXPECT_TRUE(decoded.contains(QRectF(2800, 1850, 400, 300)));
    EXPECT_LE(decoded.width() * decoded.height(), raw.width() * raw.height() / 4);
    EXPECT_FALSE(controller->fileInfoByIndex(0)->imageByType(1));
    view->grabFramebuffer();
    EXPECT_EQ(view->regionTileDrawCount(), 0u); // fitted, the picture keeps its own look
    EXPECT_EQ(view->regionTextureCount(), 0u);

    controller->switchToOriginal();
    ASSERT_TRUE(view->isZoomTimerRunning());
    EXPECT_TRUE(host->queue.empty()); // nothing to decode: the file's pixels are there
    clock.advance(1.0 / 60);
    view->grabFramebuffer();
    EXPECT_EQ(view->regionTileDrawCount(), view->regionTiles().size());
    EXPECT_EQ(view->regionTextureCount(), view->regionTiles().size());
    clock.advance(1.6);
    kpv::RunLoop::main().runOnce();
    settle();
    ASSERT_EQ(view->scale(), 1.0);
    EXPECT_LE(differenceFromFile(files[0].path(), int(raw.width())), 1.0);

    ASSERT_TRUE(controller->navCurFileToIndex(1, false, true, false));
    EXPECT_TRUE(view->regionTiles().empty());
    EXPECT_EQ(view->regionTextureCount(), 0u);
    EXPECT_FALSE(controller->fileInfoByIndex(0)->imageByType(1)); // held for the current file only
}

// A step out of 100% asks at the key for the part where it ends, and the frames of its easing draw
// it as soon as it is in, not once the view has come to rest.
TEST_F(ViewRegions, AZoomStepAsksAtTheKeyForWhereItEnds)
{
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(kpv::test::writeLargeJpeg(path, 8000, 6000));
    controller->openFilePaths({LMPathString(path, false)}, {}, false);
    settle();
    controller->switchToOriginal();
    clock.advance(1.6);
    kpv::RunLoop::main().runOnce();
    settle();
    ASSERT_EQ(view->scale(), 1.0);

    // Dragged to a corner none of whose parts were decoded, and zoomed out at once.
    view->moveImageByDeltaPoint(QPointF(2500, -2000));
    controller->doZoomCurFile(false);
    ASSERT_TRUE(view->isZoomTimerRunning());
    EXPECT_FALSE(host->queue.empty());
    const size_t before = view->regionTiles().size();
    host->runQueue(*controller);
    clock.advance(0.2);
    kpv::RunLoop::main().runOnce();
    ASSERT_TRUE(view->isZoomTimerRunning());
    EXPECT_GT(view->regionTiles().size(), before);
    view->grabFramebuffer();
    EXPECT_GT(view->regionTileDrawCount(), 0u);
}

class PaintedRegions : public ViewRegions {
protected:
    PaintedRegions() { paintsWithoutOpenGL = true; }

    // Whether two frames show the same, but for the filters' rounding.
    static void expectSameFrame(const QImage &painted, const QImage &drawn)
    {
        ASSERT_FALSE(painted.isNull());
        EXPECT_LT(kpv::test::meanLevelDifference(painted, drawn), 1.0);
    }
    QImage painted() { return view->widget()->grab().toImage(); }
    // Opens a 6000 x 4000 JPEG written at `path`, lets its middle be decoded ahead, and leaves it
    // alone for 10 s; `atRest` is what was painted before that.
    void openPhotoAndLeaveIt(const QString &path, QImage *atRest)
    {
        ASSERT_TRUE(kpv::test::writeLargeJpeg(path, 6000, 4000));
        controller->openFilePaths({LMPathString(path, false)}, {}, false);
        settle();
        for (int i = 0; i < 200 && (view->regionTiles().empty() || !host->queue.empty()); ++i) {
            clock.advance(0.05);
            kpv::RunLoop::main().runOnce();
            host->runQueue(*controller);
        }
        ASSERT_FALSE(view->regionTiles().empty());
        *atRest = painted();
        ASSERT_FALSE(atRest->isNull());
        clock.advance(10);
        kpv::RunLoop::main().runOnce();
        QApplication::processEvents();
    }
};

// A photo opened and left alone is shown, with its shadow, without OpenGL: at rest, through the
// 100% key's zoom (the fitted picture enlarged under the middle decoded ahead) and at 100%. Each
// painted frame is what OpenGL draws of the same moment.
TEST_F(PaintedRegions, AStillPhotoIsShownWithoutOpenGLAtRestAndThroughTheZoomToOneHundredPercent)
{
    auto block = LMData::create(30 * 30 * 4);
    for (int i = 0; i < 900; ++i) // dark, premultiplied
        std::memcpy(block->mutableBytes() + i * 4, "\x08\x08\x08\xe0", 4);
    view->setShadowImage(std::make_shared<LMImage>(1u, 32u, 120u, 30u, 30u, QList<LMDataBlock>{block},
                                                   LMFileImgBaseInfo::createMemoryFileImgBaseInfoWithRawFrameSize(
                                                       QSizeF(30, 30), {})),
                         QPointF(10, 10), QPointF(10, 10), QPointF(8, 8), QPointF(12, 12));
    view->setBackgroundColor(QColor(90, 100, 110));
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    QImage atRest;
    ASSERT_NO_FATAL_FAILURE(openPhotoAndLeaveIt(path, &atRest));
    EXPECT_FALSE(view->openGLStarted());

    controller->switchToOriginal();
    clock.advance(0.25);
    const QImage midZoom = painted();
    EXPECT_LT(view->scale(), 1.0);
    EXPECT_FALSE(view->openGLStarted());
    clock.advance(1.5);
    kpv::RunLoop::main().runOnce();
    settle();
    ASSERT_EQ(view->scale(), 1.0);
    const QImage actualSize = painted();
    QApplication::processEvents();
    EXPECT_FALSE(view->openGLStarted());
    EXPECT_LE(kpv::test::meanLevelDifference(actualSize.copy(1, 1, 398, 298),
                                             kpv::test::referenceJpegPart(path, QRect(2801, 1851, 398, 298), 1)),
              1.0);

    // The same moments drawn by OpenGL.
    expectSameFrame(actualSize, view->grabFramebuffer());
    EXPECT_TRUE(view->openGLStarted());
    controller->switchToFitin();
    clock.advance(1.6);
    kpv::RunLoop::main().runOnce();
    settle();
    expectSameFrame(atRest, view->grabFramebuffer());
    controller->switchToOriginal();
    clock.advance(0.25);
    const QImage midZoomAgain = view->paintedWithoutOpenGL();
    expectSameFrame(midZoomAgain, view->grabFramebuffer());
    expectSameFrame(midZoom, midZoomAgain);
}

// On a view of more pixels than a large monitor has, the painter would fall behind a zoom's frames:
// the photo at rest is still shown without OpenGL, and OpenGL draws the zoom.
TEST_F(PaintedRegions, OnAViewLargerThanAMonitorOpenGLDrawsTheZoom)
{
    window->setContentSize(kpv::Size{1700, 1400});
    QApplication::processEvents();
    QImage atRest;
    ASSERT_NO_FATAL_FAILURE(openPhotoAndLeaveIt(dir.filePath(QStringLiteral("photo.jpg")), &atRest));
    EXPECT_FALSE(view->openGLStarted());

    controller->switchToOriginal();
    clock.advance(0.25);
    ASSERT_FALSE(painted().isNull());
    EXPECT_TRUE(view->openGLStarted());
}

// Fine detail drawn smaller than the pixels it was decoded at: zoomed to just above a quarter
// or a half, the view shows parts decoded at the next finer reduction, or a picture held whole,
// shrunk by less than half. What it shows at rest, painted or drawn by OpenGL, is the photo
// averaged over the area of each screen pixel, as a float box filter of the photo gives it, not
// the beat pattern of a filter that skips the pixels between its samples.
TEST_F(PaintedRegions, FineDetailShownSmallerIsAveragedNotBeaten)
{
    // A grey grating whose period the view shows at 1.1 screen pixels: averaged, it is nearly
    // flat; sampled, it beats.
    const auto writeGrating = [](const QString &path, int width, int height, double period) {
        std::vector<double> wave(size_t(std::max(width, height)));
        for (size_t i = 0; i < wave.size(); ++i)
            wave[i] = 60 * std::cos(2 * M_PI * double(i) / period);
        std::vector<unsigned char> row(size_t(width) * 3);
        const auto fillRow = [&](int y) {
            for (size_t x = 0; x < size_t(width); ++x)
                std::memset(&row[x * 3], int(std::lround(128 + wave[x] + wave[size_t(y)])), 3);
            return row.data();
        };
        return kpv::test::writeJpegRows(path, width, height, 98, fillRow);
    };
    // How far the painted frame lies from the photo's pixels under the view averaged over each
    // screen pixel in float: the mean, and the share of levels off by more than 16. `photo`
    // holds the photo's pixels from `corner` on.
    struct Error {
        double mean = 1e9, far = 1;
    };
    const auto errorFromBoxModel = [&](const QImage &photo, QPoint corner, const QImage &frame) {
        const double s = view->scale();
        // Where the frame's top left lies on the photo.
        const QRectF placed = view->imageVisibleViewRect();
        const QPointF origin = QPointF(-placed.x() / s, (placed.bottom() - view->viewBounds().height()) / s) - corner;
        const QImage drawn = frame.convertToFormat(QImage::Format_RGBA8888);
        Error e;
        double sum = 0, far = 0, count = 0;
        for (int y = 2; y < drawn.height() - 2; ++y)
            for (int x = 2; x < drawn.width() - 2; ++x) {
                const double x0 = origin.x() + x / s, x1 = x0 + 1 / s, y0 = origin.y() + y / s, y1 = y0 + 1 / s;
                double level[3] = {0, 0, 0};
                for (int v = int(std::floor(y0)); v < y1; ++v)
                    for (int u = int(std::floor(x0)); u < x1; ++u) {
                        const double w = (std::min(x1, u + 1.0) - std::max(x0, double(u))) *
                                         (std::min(y1, v + 1.0) - std::max(y0, double(v))) * s * s;
                        const uchar *p = photo.constScanLine(std::clamp(v, 0, photo.height() - 1)) +
                                         std::clamp(u, 0, photo.width() - 1) * 4;
                        for (int c = 0; c < 3; ++c)
                            level[c] += w * p[c];
                    }
                const uchar *q = drawn.constScanLine(y) + x * 4;
                for (int c = 0; c < 3; ++c) {
                    const double d = std::abs(level[c] - q[c]);
                    sum += d;
                    far += d > 16 ? 1 : 0;
                    ++count;
                }
            }
        e.mean = sum / count;
        e.far = far / count;
        return e;
    };

    struct Case {
        const char *name;
        QSize size;
        double scale;
    };
    // A photo too large to hold whole just above a quarter: parts decoded at half size (over its
    // quarter-size picture). One held whole just above a half: parts decoded at full size over
    // its half-size picture. Both drawn at 0.54 of their size.
    for (const Case &c : {Case{"large.jpg", QSize(8000, 6000), 0.27}, Case{"photo.jpg", QSize(3000, 2000), 0.54}}) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(writeGrating(path, c.size.width(), c.size.height(), 1 / (0.9 * c.scale)));
        controller->openFilePaths({LMPathString(path, false)}, {}, false);
        settle();
        ASSERT_TRUE(view->imageNormal());
        controller->setScale(c.scale);
        settle();
        ASSERT_DOUBLE_EQ(view->scale(), c.scale);
        const QRect under = view->mapToOriginalRect(view->viewBounds(), false).toAlignedRect().adjusted(-2, -2, 2, 2);
        const QImage photo = kpv::test::referenceJpegPart(path, under, 1);
        ASSERT_FALSE(photo.isNull());
        // Painted, as on a screen of common size, and drawn by OpenGL, as on a larger one.
        for (const QImage &frame : {view->paintedWithoutOpenGL(), view->grabFramebuffer()}) {
            const Error e = errorFromBoxModel(photo, under.topLeft(), frame);
            // Sampled, the grating beat by 17 to 24 levels on average, nearly half the levels by
            // more than 16; averaged, what is left is the decoder's own reduction.
            EXPECT_LT(e.mean, 4.0);
            EXPECT_LT(e.far, 0.001);
        }
    }
}

} // namespace
