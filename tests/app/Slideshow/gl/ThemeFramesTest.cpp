// Every shipped 3D theme drawn through the host view in a shown window (Mesa's software
// renderer under the test X server) at fixed times of its animation, with six test photos, and
// compared as whole frames with golden images in tests/data/golden/slideshow. The mean error over
// all channels must stay below one level and almost every pixel within a few levels, so that
// software and hardware drivers may differ in the last bits but a moved or missing mesh, a
// photo in the wrong place or without its colour fails. KPV_UPDATE_GOLDEN=1 writes the goldens;
// a mismatch writes expected, actual and diff images below golden-out/. The tests never skip.
#include "Slideshow/SlideshowDovePresenter.h"
#include "Slideshow/SlideshowThemeMgr.h"
#include "Slideshow/SlideshowView.h"
#include "Slideshow/SlideshowViewController.h"
#include "Slideshow/SlideshowViewHost.h"

#include "DoveHostRenderSystem.h"
#include "DoveOGLFrameBuffer.h"
#include "DoveOpenGLLayer.h"
#include "DoveRenderEngine.h"
#include "DoveRenderView.h"
#include "DoveTime.h"
#include "DoveViewport.h"
#include "ZephraResource.h"
#include "Model/MainConfig.h"
#include "appkit/Event.h"
#include "appkit/OpenGLView.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDateTime>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "ThemeTestPhotos.h"
#include "../../../support/DesktopStandIns.h"
#include "../SlideshowTestHost.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 180;

// Two frames drawn alike: the same tolerance as against a golden image.
::testing::AssertionResult framesAlike(QImage actual, QImage expected)
{
    actual = actual.convertToFormat(QImage::Format_RGB32);
    expected = expected.convertToFormat(QImage::Format_RGB32);
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << "frames of different sizes";
    double sum = 0;
    long far = 0;
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
            const int d[3] = {std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)), std::abs(qBlue(a) - qBlue(e))};
            sum += d[0] + d[1] + d[2];
            far += std::max({d[0], d[1], d[2]}) > 24;
        }
    const double mean = sum / (3.0 * actual.width() * actual.height());
    if (mean < 1.0 && double(far) / (actual.width() * actual.height()) < 0.002)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "mean error " << mean << ", " << far << " pixels off by more than 24";
}

::testing::AssertionResult matchesGolden(const QString& name, QImage actual, bool writesGolden = true)
{
    actual = actual.convertToFormat(QImage::Format_RGB32);
    const QString path = QStringLiteral(KPV_TEST_DATA_DIR) + "/golden/slideshow/" + name + ".png";
    if (writesGolden && qEnvironmentVariableIntValue("KPV_UPDATE_GOLDEN") == 1) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        actual.save(path);
        return ::testing::AssertionSuccess();
    }
    QImage expected(path);
    if (expected.isNull())
        return ::testing::AssertionFailure() << "no golden image " << path.toStdString();
    expected = expected.convertToFormat(QImage::Format_RGB32);
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << "frame " << actual.width() << "x" << actual.height() << ", golden "
                                             << expected.width() << "x" << expected.height();
    double sum = 0;
    long far = 0;
    QImage diff(actual.size(), QImage::Format_RGB32);
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
            const int d[3] = {std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)), std::abs(qBlue(a) - qBlue(e))};
            sum += d[0] + d[1] + d[2];
            const int worst = std::max({d[0], d[1], d[2]});
            if (worst > 24)
                ++far;
            diff.setPixel(x, y, qRgb(std::min(255, worst * 8), 0, 0));
        }
    const double mean = sum / (3.0 * actual.width() * actual.height());
    const double farShare = double(far) / (actual.width() * actual.height());
    if (mean < 1.0 && farShare < 0.002)
        return ::testing::AssertionSuccess();
    QDir().mkpath("golden-out");
    expected.save("golden-out/" + name + "-expected.png");
    actual.save("golden-out/" + name + "-actual.png");
    diff.save("golden-out/" + name + "-diff.png");
    return ::testing::AssertionFailure() << name.toStdString() << ": mean error " << mean << ", " << far
                                         << " pixels off by more than 24; images in golden-out/";
}

class ThemeFramesTest : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite()
    {
        if (QApplication::instance())
            return;
        kpv::OpenGLView::configureSharedContext();
        static int argc = 1;
        static char name[] = "test_theme_frames";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv); // lives for the whole process
        Dove::installHostRenderSystem();
    }
    void SetUp() override
    {
        Dove::TimeGlobal::setClockSource([this](int64_t& s, int64_t& us) {
            s = int64_t(micros / 1000000);
            us = int64_t(micros % 1000000);
        });
        SlideshowThemeMgr::loadCatalogueFolder(QStringLiteral(KPV_THEMES_DIR), &themes, &problems);
        ASSERT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
        window = std::make_unique<kpv::Window>(kpv::Rect(40, 40, kWidth, kHeight), 0);
        window->makeKeyAndOrderFront();
    }
    void TearDown() override
    {
        presenter.reset();
        window.reset();
        Dove::TimeGlobal::setClockSource({});
    }
    const SlideshowTheme* theme(const QString& folder) const
    {
        for (const SlideshowTheme& t : themes)
            if (QFileInfo(t.folder).fileName() == folder)
                return &t;
        return nullptr;
    }
    // Starts the theme on photos of `size`, each of one colour: colour(0), colour(1)...
    ::testing::AssertionResult startOnColours(const SlideshowTheme& t, const SlideshowThemeParam& param,
                                              const std::function<QColor(int)>& colour, QSize size = QSize(120, 80))
    {
        presenter = std::make_unique<SlideshowDovePresenter>(window->contentView(), nullptr);
        auto next = std::make_shared<int>(0);
        QString error;
        if (presenter->start(t, param, [colour, size, next] {
                QImage img(size, QImage::Format_RGB32);
                img.fill(colour((*next)++));
                return img;
            }, &error))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << error.toStdString();
    }
    // The test's theme with its parameters read into *param; null, with the failure told, when
    // either is missing.
    const SlideshowTheme* themeWithParam(SlideshowThemeParam* param) const
    {
        const QString folder = QString::fromLatin1(GetParam());
        const SlideshowTheme* t = theme(folder);
        QString error;
        if (!t)
            ADD_FAILURE() << "no theme in " << folder.toStdString();
        else if (!SlideshowDovePresenter::loadThemeParam(*t, param, &error))
            ADD_FAILURE() << error.toStdString();
        else
            return t;
        return nullptr;
    }
    Dove::DoveOpenGLLayer* layer() const
    {
        auto* window = dynamic_cast<Dove::OGLRenderWindow*>(Dove::RenderEngine::getSingleton()->getScreenFrameBuffer());
        auto* view = window ? dynamic_cast<Dove::DoveRenderView*>(window->getView()) : nullptr;
        return view ? view->layer() : nullptr;
    }

    uint64_t micros = 1000000000ull * 1000;
    std::vector<SlideshowTheme> themes;
    QStringList problems;
    std::unique_ptr<kpv::Window> window;
    std::unique_ptr<SlideshowDovePresenter> presenter;
};

TEST_P(ThemeFramesTest, FramesAtFixedTimesMatchTheGoldens)
{
    const QString folder = QString::fromLatin1(GetParam());
    SlideshowThemeParam param;
    const SlideshowTheme* t = themeWithParam(&param);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->type, SlideshowTheme::ThreeD);
    QString error;
    ASSERT_GE(param.maskGroups.size(), 2u); // several groups of slides
    ASSERT_GE(SlideshowDovePresenter::photoCount(param), 4u);

    presenter = std::make_unique<SlideshowDovePresenter>(window->contentView(), nullptr);
    int next = 0;
    ASSERT_TRUE(presenter->start(*t, param, [&] { return testPhoto(next++); }, &error)) << error.toStdString();
    SlideshowPlayerDove* player = presenter->player();
    ASSERT_NE(player, nullptr);
    Dove::ZephraResource* resource = player->resource();
    ASSERT_NE(resource, nullptr);
    ASSERT_NE(resource->getCamera(), nullptr);
    ASSERT_NE(resource->animation, nullptr);
    EXPECT_EQ(player->slidesBound(), SlideshowDovePresenter::photoCount(param));
    Dove::DoveOpenGLLayer* l = layer();
    ASSERT_NE(l, nullptr);

    // The animation's clock starts with the first frame; frames then follow at fixed times, and
    // the work a group change queues runs between them.
    const uint64_t start = micros;
    l->grabFrame();
    const double duration = resource->animation->getDuration();
    const double times[4] = {0.6, duration * 0.35, duration * 0.7, duration - 0.2};
    for (double at : times) {
        micros = start + uint64_t(at * 1e6);
        const QImage frame = l->grabFrame();
        player->performPendingWork();
        ASSERT_EQ(frame.size(), QSize(kWidth, kHeight));
        EXPECT_TRUE(matchesGolden(QStringLiteral("%1-%2ms").arg(folder).arg(qint64(at * 1000)), frame));
    }
    // A bigger slideshow: the theme fills it again, 16:9 across its whole width.
    window->contentView()->setFrameSize(kpv::Size{kWidth * 2.0, kHeight * 2.0});
    EXPECT_EQ(resource->getViewport()->getActualWidth(), kWidth * 2);
    EXPECT_EQ(resource->getViewport()->getActualHeight(), kHeight * 2);

    // By the end every group has had new photos once, and the theme plays again.
    micros = start + uint64_t((duration + 0.1) * 1e6);
    l->grabFrame();
    player->performPendingWork();
    EXPECT_EQ(player->loopCount(), 1);
    EXPECT_GT(player->slidesBound(), SlideshowDovePresenter::photoCount(param));
    EXPECT_TRUE(player->isPlaying());
}

// A slideshow of few photos, or one whose decoding lags behind: the source runs dry after `count`
// photos. Every card must still show a photo through a whole pass and into the next: with one
// photo on every card, each frame must match the frame drawn from an endless source.
TEST_P(ThemeFramesTest, NoCardIsEverBlankWhateverTheNumberOfPhotos)
{
    const QString folder = QString::fromLatin1(GetParam());
    SlideshowThemeParam param;
    const SlideshowTheme* t = themeWithParam(&param);
    ASSERT_NE(t, nullptr);
    QString error;
    const QImage photo = testPhoto(3);
    const uint64_t base = micros;
    for (int count : {-1, 1, 2, 3, 11, 200}) { // -1: endless, which draws the goldens
        SCOPED_TRACE(count);
        micros = base; // each run sees the very same times
        presenter = std::make_unique<SlideshowDovePresenter>(window->contentView(), nullptr);
        int given = 0;
        ASSERT_TRUE(presenter->start(*t, param, [&]() -> QImage {
            return count < 0 || given++ < count ? photo : QImage();
        }, &error)) << error.toStdString();
        SlideshowPlayerDove* player = presenter->player();
        ASSERT_NE(player, nullptr);
        const double duration = player->resource()->animation->getDuration();
        Dove::DoveOpenGLLayer* l = layer();
        ASSERT_NE(l, nullptr);
        const uint64_t start = micros;
        l->grabFrame();
        for (int step = 1; step <= 10; ++step) {
            const double at = duration * step / 8.0 - 0.05; // a whole pass and a quarter of the next
            micros = start + uint64_t(at * 1e6);
            const QImage frame = l->grabFrame();
            player->performPendingWork();
            EXPECT_EQ(player->meshesWithoutPhoto(), 0u) << "at " << at << " s";
            EXPECT_TRUE(matchesGolden(QStringLiteral("%1-filled-%2").arg(folder).arg(step), frame, count < 0)) << "at " << at << " s";
        }
        EXPECT_EQ(player->loopCount(), 1);
        presenter.reset();
    }
}

// A photo of a single pixel (or a few) keeps its shape on the cards, as a large photo of the same
// shape does, instead of filling each card it lands on: the frames of square one-pixel photos
// match the goldens drawn with square photos of 64 pixels.
TEST_P(ThemeFramesTest, ATinyPhotoKeepsItsShapeOnTheCards)
{
    const QString folder = QString::fromLatin1(GetParam());
    SlideshowThemeParam param;
    const SlideshowTheme* t = themeWithParam(&param);
    ASSERT_NE(t, nullptr);
    const uint64_t base = micros;
    for (int side : {64, 1}) {
        SCOPED_TRACE(side);
        micros = base;
        ASSERT_TRUE(startOnColours(*t, param, [](int i) { return QColor::fromHsv((i * 50) % 360, 255, 235); },
                                   QSize(side, side)));
        SlideshowPlayerDove* player = presenter->player();
        ASSERT_NE(player, nullptr);
        const double duration = player->resource()->animation->getDuration();
        const uint64_t start = micros;
        layer()->grabFrame();
        for (int step = 1; step <= 3; ++step) {
            micros = start + uint64_t(duration * step / 4.0 * 1e6);
            const QImage frame = layer()->grabFrame();
            player->performPendingWork();
            EXPECT_TRUE(matchesGolden(QStringLiteral("%1-square-%2").arg(folder).arg(step), frame, side > 1));
        }
        presenter.reset();
    }
}

// A photo full of fine detail (here a checkerboard of single pixels, made for a large screen) is
// drawn on the small cards as the even grey it averages to, as a photo of that grey is: sampled at
// scattered pixels instead, it came out in coarse bands of black and white that shimmered as the
// cards moved.
TEST_P(ThemeFramesTest, AFinelyDetailedPhotoShowsNoBandsOnTheSmallCards)
{
    const QString folder = QString::fromLatin1(GetParam());
    SlideshowThemeParam param;
    const SlideshowTheme* t = themeWithParam(&param);
    ASSERT_NE(t, nullptr);
    QImage checker(1280, 720, QImage::Format_RGB32);
    for (int y = 0; y < checker.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(checker.scanLine(y));
        for (int x = 0; x < checker.width(); ++x)
            row[x] = (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    }
    QImage grey(checker.size(), QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    const uint64_t base = micros;
    std::vector<QImage> frames;
    for (const QImage& photo : {grey, checker}) {
        micros = base;
        presenter = std::make_unique<SlideshowDovePresenter>(window->contentView(), nullptr);
        QString error;
        ASSERT_TRUE(presenter->start(*t, param, [photo] { return photo; }, &error)) << error.toStdString();
        layer()->grabFrame();
        micros = base + 600000;
        frames.push_back(layer()->grabFrame());
        presenter.reset();
    }
    EXPECT_TRUE(framesAlike(frames[1], frames[0]));
}

// A photo with see-through parts (a PNG with alpha) lies over its card as it looks in the viewer:
// a half-transparent white photo gives, at every pixel, the mean of the frame with the photo opaque
// and the frame with it fully transparent. Its alpha counted twice, it came out a muddy grey
// instead.
TEST_P(ThemeFramesTest, AHalfTransparentPhotoIsTheMeanOfTheOpaqueAndTheClearOne)
{
    const QString folder = QString::fromLatin1(GetParam());
    SlideshowThemeParam param;
    const SlideshowTheme* t = themeWithParam(&param);
    ASSERT_NE(t, nullptr);
    const uint64_t base = micros;
    std::vector<QImage> frames;
    for (int alpha : {255, 0, 128}) {
        SCOPED_TRACE(alpha);
        QImage photo(240, 160, QImage::Format_ARGB32);
        photo.fill(QColor(255, 255, 255, alpha));
        micros = base;
        presenter = std::make_unique<SlideshowDovePresenter>(window->contentView(), nullptr);
        QString error;
        ASSERT_TRUE(presenter->start(*t, param, [photo] { return photo; }, &error)) << error.toStdString();
        layer()->grabFrame();
        micros = base + 600000;
        frames.push_back(layer()->grabFrame().convertToFormat(QImage::Format_RGB32));
        presenter.reset();
    }
    QImage mean(frames[0].size(), QImage::Format_RGB32);
    for (int y = 0; y < mean.height(); ++y)
        for (int x = 0; x < mean.width(); ++x) {
            const QRgb o = frames[0].pixel(x, y), c = frames[1].pixel(x, y);
            mean.setPixel(x, y, qRgb((qRed(o) + qRed(c)) / 2, (qGreen(o) + qGreen(c)) / 2, (qBlue(o) + qBlue(c)) / 2));
        }
    EXPECT_FALSE(framesAlike(frames[0], frames[1])); // the photo is on screen
    EXPECT_TRUE(framesAlike(frames[2], mean));
}

// A card's soft rim blends over what lies behind it as the card's picture shows it. The theme's
// pictures are made over into a small yellow card with rounded, antialiased corners (so that the
// engine spreads each rim pixel over several on screen) and a blue backdrop, and the photos are
// clear: every pixel of a frame is then a mix of yellow (255, 255, 0) and blue (0, 0, 255) by the
// coverage a, whose red is 255 a and blue 255 (1 - a), so that red and blue add up to 255. The rim
// handed over premultiplied had its alpha counted twice (red 255 a^2), and one sampled towards
// the black kept under the picture's transparent pixels came out darker too: a dark fringe.
TEST_P(ThemeFramesTest, TheCardsSoftRimBlendsAsItsPictureShowsIt)
{
    const QString folder = QString::fromLatin1(GetParam());
    QTemporaryDir copy;
    ASSERT_TRUE(copy.isValid());
    const QDir source(QStringLiteral(KPV_THEMES_DIR));
    ASSERT_TRUE(QFile::copy(source.filePath("SlideShowTheme.xml"), copy.filePath("SlideShowTheme.xml")));
    const QDir themeDir(source.filePath(folder));
    ASSERT_TRUE(QDir(copy.path()).mkdir(folder));
    for (const QString& name : themeDir.entryList(QDir::Files)) {
        const QString target = copy.filePath(folder + "/" + name);
        if (name.endsWith("-card.png")) {
            QImage card(48, 33, QImage::Format_ARGB32_Premultiplied);
            card.fill(Qt::transparent);
            QPainter p(&card);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 0));
            p.drawRoundedRect(QRectF(1, 1, 46, 31), 7, 7);
            p.end();
            ASSERT_TRUE(card.save(target));
        } else if (name.contains("-background") || name.endsWith("-cover.png")) {
            QImage backdrop(64, 36, QImage::Format_RGB32);
            backdrop.fill(QColor(0, 0, 255));
            ASSERT_TRUE(backdrop.save(target));
        } else {
            ASSERT_TRUE(QFile::copy(themeDir.filePath(name), target));
        }
    }
    std::vector<SlideshowTheme> made;
    QStringList madeProblems;
    SlideshowThemeMgr::loadCatalogueFolder(copy.path(), &made, &madeProblems);
    ASSERT_TRUE(madeProblems.isEmpty()) << madeProblems.join('\n').toStdString();
    const auto t = std::find_if(made.begin(), made.end(), [&](const SlideshowTheme& m) {
        return QFileInfo(m.folder).fileName() == folder;
    });
    ASSERT_NE(t, made.end());
    SlideshowThemeParam param;
    QString error;
    ASSERT_TRUE(SlideshowDovePresenter::loadThemeParam(*t, &param, &error)) << error.toStdString();
    QImage clear(120, 80, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    presenter = std::make_unique<SlideshowDovePresenter>(window->contentView(), nullptr);
    ASSERT_TRUE(presenter->start(*t, param, [clear] { return clear; }, &error)) << error.toStdString();
    const double duration = presenter->player()->resource()->animation->getDuration();
    const uint64_t start = micros;
    layer()->grabFrame();
    long rim = 0;
    for (double at : {0.6, duration * 0.35, duration * 0.7}) {
        micros = start + uint64_t(at * 1e6);
        const QImage frame = layer()->grabFrame().convertToFormat(QImage::Format_RGB32);
        presenter->player()->performPendingWork();
        int worst = 0;
        long dark = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb c = frame.pixel(x, y);
                const int deficit = 255 - qRed(c) - qBlue(c);
                worst = std::max(worst, deficit);
                dark += deficit > 8;
                rim += qRed(c) > 40 && qRed(c) < 215;
            }
        EXPECT_EQ(dark, 0) << "at " << at << " s: " << dark << " pixels darker than the mix, by up to " << worst;
    }
    EXPECT_GT(rim, 50); // the soft rims are on screen
}

// What a family watches for: every photo of a pass comes close at least once, seen whole at 60%
// of the screen's height or more, on a wide (16:9) and a less wide (16:10) screen, and the theme fills
// the screen. Each photo is one bright colour of its own; its height on screen is measured in
// frames taken every quarter of a second through a whole pass.
TEST_P(ThemeFramesTest, EveryPhotoComesCloseOnceAndTheThemeFillsTheScreen)
{
    const QString folder = QString::fromLatin1(GetParam());
    SlideshowThemeParam param;
    const SlideshowTheme* t = themeWithParam(&param);
    ASSERT_NE(t, nullptr);
    const int photos = int(SlideshowDovePresenter::photoCount(param));
    auto colour = [](int i) { return QColor::fromHsv((i * 360 / 12) % 360, 255, 235); };
    for (const QSize size : {QSize(kWidth, kHeight), QSize(kWidth * 9 / 10, kHeight)}) {
        SCOPED_TRACE(size.width());
        window->contentView()->setFrameSize(kpv::Size{double(size.width()), double(size.height())});
        ASSERT_TRUE(startOnColours(*t, param, colour));
        SlideshowPlayerDove* player = presenter->player();
        Dove::ZephraResource* resource = player->resource();
        EXPECT_EQ(resource->getViewport()->getActualWidth(), size.width());
        EXPECT_EQ(resource->getViewport()->getActualHeight(), size.height());
        std::vector<double> tallest(std::size_t(photos), 0.0);
        const double duration = resource->animation->getDuration();
        const uint64_t start = micros;
        layer()->grabFrame();
        for (double at = 0.25; at < duration; at += 0.25) {
            micros = start + uint64_t(at * 1e6);
            const QImage frame = layer()->grabFrame().convertToFormat(QImage::Format_RGB32);
            player->performPendingWork();
            ASSERT_EQ(frame.size(), size);
            for (int i = 0; i < photos; ++i) {
                const QColor want = colour(i);
                int top = -1, bottom = -1;
                for (int y = 0; y < frame.height(); ++y) {
                    int hits = 0;
                    for (int x = 0; x < frame.width() && hits < 3; ++x) {
                        const QRgb p = frame.pixel(x, y);
                        hits += std::abs(qRed(p) - want.red()) < 40 && std::abs(qGreen(p) - want.green()) < 40 &&
                                std::abs(qBlue(p) - want.blue()) < 40;
                    }
                    if (hits >= 3) {
                        top = top < 0 ? y : top;
                        bottom = y;
                    }
                }
                // Seen whole: a photo cut by the screen's edge does not count.
                if (top > 0 && bottom < frame.height() - 1)
                    tallest[std::size_t(i)] = std::max(tallest[std::size_t(i)], double(bottom - top + 1) / frame.height());
            }
        }
        for (int i = 0; i < photos; ++i)
            EXPECT_GE(tallest[std::size_t(i)], 0.6) << "photo " << i + 1 << " of " << photos;
        presenter.reset();
        micros += 10'000'000;
    }
}

// A window of another shape than the theme's 16:9 frame (a 4:3 or 5:4 screen, a square or upright
// window, a very wide screen): the theme still fills it to every edge through a whole pass, with
// its backdrop where the widened view reaches past the frame, and never the black behind the
// scene (a band of it showed below Carousel on a 4:3 screen).
TEST_P(ThemeFramesTest, TheThemeFillsAWindowOfAnyShapeToItsEdges)
{
    SlideshowThemeParam param;
    const SlideshowTheme* t = themeWithParam(&param);
    ASSERT_NE(t, nullptr);
    auto colour = [](int i) { return QColor::fromHsv((i * 360 / 12) % 360, 255, 235); };
    for (const QSize size : {QSize(240, 180), QSize(225, 180), QSize(180, 180), QSize(180, 320), QSize(640, 180)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        window->contentView()->setFrameSize(kpv::Size{double(size.width()), double(size.height())});
        ASSERT_TRUE(startOnColours(*t, param, colour));
        SlideshowPlayerDove* player = presenter->player();
        const double duration = player->resource()->animation->getDuration();
        const uint64_t start = micros;
        layer()->grabFrame();
        for (int step = 1; step <= 8; ++step) {
            const double at = duration * step / 8.0 - 0.05;
            micros = start + uint64_t(at * 1e6);
            const QImage frame = layer()->grabFrame().convertToFormat(QImage::Format_RGB32);
            player->performPendingWork();
            ASSERT_EQ(frame.size(), size);
            const auto black = [&](int x, int y) {
                const QRgb p = frame.pixel(x, y);
                return std::max({qRed(p), qGreen(p), qBlue(p)}) <= 2;
            };
            int blackAtEdges = 0;
            for (int x = 0; x < size.width(); ++x)
                blackAtEdges += black(x, 0) + black(x, size.height() - 1);
            for (int y = 0; y < size.height(); ++y)
                blackAtEdges += black(0, y) + black(size.width() - 1, y);
            EXPECT_EQ(blackAtEdges, 0) << "at " << at << " s";
        }
        presenter.reset();
        micros += 10'000'000;
    }
}

INSTANTIATE_TEST_SUITE_P(ShippedThemes, ThemeFramesTest, ::testing::Values("wall", "carousel", "pages", "cards"));

using FlyingCardsTest = ThemeFramesTest;

// Each card of Flying Cards rests where the one before it rested, and that one flies off as it
// lands: the one leaving passes in front, whole. Seen from the front, the arriving card shows
// only at the left edge, and no wedge of its photo cuts through the photo of the card in front.
TEST_P(FlyingCardsTest, TheCardLeavingPassesWholeInFrontOfTheCardArriving)
{
    SlideshowThemeParam param;
    const SlideshowTheme* t = themeWithParam(&param);
    ASSERT_NE(t, nullptr);
    auto colour = [](int i) { return QColor::fromHsv((i * 45) % 360, 255, 235); };
    ASSERT_TRUE(startOnColours(*t, param, colour));
    SlideshowPlayerDove* player = presenter->player();
    const double rate = player->resource()->getAnimationFrameRate();
    const uint64_t start = micros;
    layer()->grabFrame();
    // Card k + 1 (photo k) lands at frame 36 k while card k starts to fly off to the right; a
    // frame later the card leaving still covers all but the left edge of the card arriving.
    for (int k = 1; k <= 7; ++k) {
        const double at = (36.0 * k + 1) / rate;
        micros = start + uint64_t(at * 1e6);
        const QImage frame = layer()->grabFrame().convertToFormat(QImage::Format_RGB32);
        player->performPendingWork();
        const QColor arriving = colour(k);
        int wedge = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = frame.width() / 2; x < frame.width(); ++x) {
                const QRgb p = frame.pixel(x, y);
                wedge += std::abs(qRed(p) - arriving.red()) < 30 && std::abs(qGreen(p) - arriving.green()) < 30 &&
                         std::abs(qBlue(p) - arriving.blue()) < 30;
            }
        EXPECT_LE(wedge, 4) << wedge << " pixels of card " << k + 1 << " show through card " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(ShippedThemes, FlyingCardsTest, ::testing::Values("cards"));

} // namespace

namespace {

// The main window as the slideshow sees it: its content view is the test window's.
class WindowHost : public ShowModeHost {
public:
    explicit WindowHost(kpv::Window& window) : m_window(window) {}
    kpv::View* contentView() const override { return m_window.contentView(); }
    void registEquivalentResponder(LMEquivalentResponder*, bool) override {}

private:
    kpv::Window& m_window;
};

// The slideshow mode playing a shipped 3D theme, driven by the keys a user presses.
class ThemeKeysTest : public ThemeFramesTest {
protected:
    void SetUp() override
    {
        ThemeFramesTest::SetUp();
        kpv::RunLoop::main().setClock(&clock);
        defaults = std::make_unique<kpv::UserDefaults>(dir.filePath("settings.json"));
        config = std::make_unique<MainConfig>(*defaults);
        themeMgr = std::make_unique<SlideshowThemeMgr>(config.get());
        themeMgr->setThemeFolders(QStringLiteral(KPV_THEMES_DIR), QString());
        themeMgr->startLoad();
        themeMgr->waitUntilLoadFinished();
        kpv::RunLoop::main().runOnce();
        host = std::make_unique<WindowHost>(*window);
    }
    void TearDown() override
    {
        closeGate(false);
        controller.reset();
        themeMgr.reset();
        kpv::RunLoop::main().setClock(nullptr);
        ThemeFramesTest::TearDown();
    }
    // A slideshow of `count` photos, photo i of colour(i), playing the test's theme from `from`;
    // unless asked not to wait, once all the photos it asked for are decoded.
    void startShow(int count, long from, bool wait = true)
    {
        if (controller)
            controller->endSlideshow();
        controller.reset();
        controller = std::make_unique<SlideshowViewController>(*host, config.get());
        controller->setThemeMgr(themeMgr.get());
        if (sceneReader)
            controller->setSceneReader(sceneReader);
        controller->setSlideLoader([this](const SlideshowFileInfo& slide, QSize size) {
            const int i = slide.filePath().path().section('/', -1).toInt();
            if (!QFileInfo::exists(slide.filePath().path()))
                return QImage();
            if (photoMaker)
                return photoMaker(i, size);
            QImage img(120, 80, QImage::Format_RGB32);
            img.fill(colour(i));
            return img;
        });
        for (const SlideshowTheme& t : themeMgr->themes())
            if (QFileInfo(t.folder).fileName() == QLatin1String(GetParam()))
                controller->chooseTheme(t);
        // Photo i is the file named i, which the test may remove while the show plays.
        std::vector<SlideshowFileInfoPtr> slides;
        for (int i = 0; i < count; ++i) {
            QFile(dir.filePath(QString::number(i))).open(QIODevice::WriteOnly);
            slides.push_back(std::make_shared<SlideshowFileInfo>(LMPathString(dir.filePath(QString::number(i)), false)));
        }
        controller->startSlideshowWithFileInfos(std::move(slides), from);
        if (!wait)
            return;
        settle();
        ASSERT_TRUE(controller->isPlaying3D()) << controller->lastThemeProblem().toStdString();
    }
    // Lets the photo decodes finish and the work they queue run.
    void settle()
    {
        for (int i = 0; i < 4; ++i) {
            controller->waitForSlideLoads();
            clock.advance(0.001);
        }
    }
    void press(unsigned short code)
    {
        controller->performKeyDownEquivalent(*kpv::Event::keyEvent(kpv::KeyDown, code, "", "", nullptr));
        settle();
    }
    // The frame `seconds` into the pass that starts now.
    QImage frameAt(double seconds)
    {
        const uint64_t start = micros;
        layer()->grabFrame();
        micros = start + uint64_t(seconds * 1e6);
        return layer()->grabFrame();
    }
    // The frame `seconds` into a show started in the window made half as large again, the one a
    // show that grows to that size should come to; the window then has its first size again.
    QImage frameOfAShowStartedLarge(double seconds)
    {
        window->contentView()->setFrameSize(kpv::Size{kWidth * 1.5, kHeight * 1.5});
        startShow(7, 0);
        const QImage frame = frameAt(seconds);
        controller->endSlideshow();
        window->contentView()->setFrameSize(kpv::Size{kWidth * 1.0, kHeight * 1.0});
        return frame;
    }
    static QColor colour(int i) { return QColor::fromHsv((i * 47) % 360, 255, 235); }
    // Photo i as a large camera photo of fine stripes, decoded to fit the size asked for.
    static QImage stripedPhoto(int i, QSize fitInto)
    {
        QImage img(960, 640, QImage::Format_RGB32);
        img.fill(colour(i));
        QPainter p(&img);
        for (int x = 0; x < img.width(); x += 16)
            p.fillRect(QRect(x, 0, 8, img.height()), Qt::black);
        p.fillRect(QRect(0, 60, img.width(), 120), Qt::white);
        p.end();
        return fitInto.isValid() ? img.scaled(fitInto, Qt::KeepAspectRatio, Qt::SmoothTransformation) : img;
    }

    // Photos slow to decode: while the gate is closed, the decodes of the photos `held` picks wait.
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool closed = false;
        bool waiting = false;
    };
    void holdPhotos(std::function<bool(int)> held)
    {
        photoMaker = [gate = gate, held](int i, QSize) {
            std::unique_lock lock(gate->mutex);
            if (held(i) && gate->closed) {
                gate->waiting = true;
                gate->changed.notify_all();
                gate->changed.wait(lock, [&] { return !gate->closed; });
            }
            QImage img(120, 80, QImage::Format_RGB32);
            img.fill(colour(i));
            return img;
        };
    }
    void closeGate(bool closed)
    {
        std::lock_guard lock(gate->mutex);
        gate->closed = closed;
        gate->waiting = false;
        gate->changed.notify_all();
    }
    void waitForHeldDecode()
    {
        std::unique_lock lock(gate->mutex);
        gate->changed.wait(lock, [&] { return gate->waiting; });
    }
    // Pixels of photo i's colour in a frame.
    static long pixelsOf(const QImage& frame, int i)
    {
        const QColor want = colour(i);
        long n = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb p = frame.pixel(x, y);
                n += std::abs(qRed(p) - want.red()) < 30 && std::abs(qGreen(p) - want.green()) < 30 &&
                     std::abs(qBlue(p) - want.blue()) < 30;
            }
        return n;
    }

    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    QTemporaryDir dir;
    kpv::ManualClock clock;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<MainConfig> config;
    std::unique_ptr<SlideshowThemeMgr> themeMgr;
    std::unique_ptr<WindowHost> host;
    std::unique_ptr<SlideshowViewController> controller;
    // Makes photo i for a decode to fit a size; none: a 120 x 80 photo of colour(i).
    std::function<QImage(int, QSize)> photoMaker;
    // Reads the theme's scene file; none: the slideshow's own reader.
    SlideshowViewController::SceneReader sceneReader;
};

// Right and Left step through the photos in a 3D theme as they do in the cross-fade: the theme
// plays again from the photo after (or before) the one on the first card on screen, exactly as a
// slideshow started from that photo plays, paused or not; Home and End play it from the first and
// the last photo; Esc ends it on the photo on screen.
TEST_P(ThemeKeysTest, TheArrowKeysStepThePhotosAndEscEndsTheShow)
{
    const double at = 1.2;
    std::vector<QImage> fresh;
    for (long from : {0, 1, 2, 6}) {
        startShow(7, from);
        fresh.push_back(frameAt(at));
        controller->endSlideshow();
    }
    startShow(7, 0);
    frameAt(at);
    press(kpv::KeyCode::RightArrow);
    EXPECT_TRUE(framesAlike(frameAt(at), fresh[1])) << "Right: the second photo";
    press(kpv::KeyCode::RightArrow);
    EXPECT_TRUE(framesAlike(frameAt(at), fresh[2])) << "Right again: the third";
    press(kpv::KeyCode::LeftArrow);
    EXPECT_TRUE(framesAlike(frameAt(at), fresh[1])) << "Left: the second";
    press(kpv::KeyCode::LeftArrow);
    press(kpv::KeyCode::LeftArrow); // round to the last photo
    EXPECT_TRUE(framesAlike(frameAt(at), fresh[3])) << "Left twice: round to the last";
    press(kpv::KeyCode::Home);
    EXPECT_TRUE(framesAlike(frameAt(at), fresh[0])) << "Home: the first";
    press(kpv::KeyCode::End);
    EXPECT_TRUE(framesAlike(frameAt(at), fresh[3])) << "End: the last";

    // Paused, a step shows the first frame of the new order and stays paused.
    startShow(7, 0);
    const QImage firstFrame = frameAt(0);
    startShow(7, 1);
    const QImage firstFrameFrom1 = frameAt(0);
    startShow(7, 0);
    frameAt(at);
    controller->togglePause();
    press(kpv::KeyCode::RightArrow);
    EXPECT_TRUE(controller->isPaused());
    EXPECT_TRUE(controller->dovePresenter()->player()->isPaused());
    EXPECT_TRUE(framesAlike(frameAt(at), firstFrameFrom1)) << "paused step";
    EXPECT_FALSE(framesAlike(firstFrameFrom1, firstFrame)); // the photos did change

    press(kpv::KeyCode::Escape);
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_EQ(host->mode, 4);
    EXPECT_EQ(host->endedOn.section('/', -1), QStringLiteral("1")) << "the viewer goes to the photo on screen";
}

// A step back onto a photo deleted meanwhile goes on back to the one before it, as it does in the
// cross-fade, rather than playing on from the photo it left.
TEST_P(ThemeKeysTest, LeftPassesOverADeletedPhotoToTheOneBeforeIt)
{
    startShow(12, 2);
    frameAt(0.5);
    ASSERT_TRUE(QFile::remove(dir.filePath("1")));
    press(kpv::KeyCode::LeftArrow);
    frameAt(0.5);
    press(kpv::KeyCode::Escape);
    EXPECT_EQ(host->endedOn.section('/', -1), QStringLiteral("0"));
}

// End lands on the last photo that can be shown, counting back from the end, and Home on the
// first, counting on from the start: whether the show has found the files gone while their photos
// were on its cards, or finds out only when it comes to them.
TEST_P(ThemeKeysTest, HomeAndEndPassOverDeletedPhotosAtTheEnds)
{
    for (const bool looked : {false, true})
        for (const auto& [key, lands] : {std::pair{kpv::KeyCode::End, "9"}, std::pair{kpv::KeyCode::Home, "1"}}) {
            SCOPED_TRACE(testing::Message() << (key == kpv::KeyCode::End ? "End" : "Home") << (looked ? ", looked at" : ""));
            startShow(12, 10);
            frameAt(0.5);
            for (const char* name : {"11", "10", "0"})
                ASSERT_TRUE(QFile::remove(dir.filePath(QLatin1String(name))));
            if (looked) {
                clock.advance(SlideshowViewController::kFileCheckInterval);
                controller->waitForFileChecks();
            }
            press(key);
            frameAt(0.5);
            press(kpv::KeyCode::Escape);
            EXPECT_EQ(host->endedOn.section('/', -1), QLatin1String(lands));
        }
}

// A paused 3D theme stays on screen when the window changes size (or goes full screen): the
// paused moment is drawn again at the new size, as a show of that size draws it, never black.
TEST_P(ThemeKeysTest, APausedThemeIsDrawnAgainWhenTheWindowChangesSize)
{
    const double at = 2.0;
    const QImage expected = frameOfAShowStartedLarge(at);
    startShow(7, 0);
    frameAt(at);
    controller->togglePause();
    window->contentView()->setFrameSize(kpv::Size{kWidth * 1.5, kHeight * 1.5});
    const QImage paused = layer()->grabFrame();
    ASSERT_EQ(paused.size(), expected.size());
    EXPECT_TRUE(framesAlike(paused, expected));
    // Drawn again at the same size, the picture stays as it is.
    EXPECT_TRUE(framesAlike(layer()->grabFrame(), expected));
}

// A window the window manager minimises by marking it iconic on the display, telling the toolkit
// nothing, holds the theme where it is: no timer of the show is left to draw or to wake the
// program until the window is marked normal again, and then the theme plays on.
TEST_P(ThemeKeysTest, AWindowMarkedIconicHoldsTheThemeWithNoTimerRunning)
{
    QWidget* top = window->widget();
    for (QDeadlineTimer deadline(30000); !top->windowHandle()->isExposed() && !deadline.hasExpired();)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    const int idleTimers = kpv::RunLoop::main().timerCount();
    startShow(7, 0);
    frameAt(1.0);
    ASSERT_FALSE(controller->isPaused());
    const auto markState = [&](uint32_t state) {
        EXPECT_TRUE(kpv::test::setWindowManagerState(top, state));
        for (QDeadlineTimer deadline(5000); controller->isHeldOffScreen() != (state == 3) && !deadline.hasExpired();)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return controller->isHeldOffScreen() == (state == 3);
    };
    ASSERT_TRUE(markState(3));
    // Without a window manager the toolkit follows the display's word; the window managers this
    // stands for leave the toolkit counting the window shown.
    top->showNormal();
    QApplication::processEvents();
    EXPECT_TRUE(controller->isHeldOffScreen());
    for (int i = 0; i < 300; ++i)
        clock.advance(0.1);
    settle();
    EXPECT_EQ(kpv::RunLoop::main().timerCount(), idleTimers);
    EXPECT_FALSE(controller->isPaused()); // the user's pause is the user's

    ASSERT_TRUE(markState(1));
    EXPECT_GT(kpv::RunLoop::main().timerCount(), idleTimers);
    EXPECT_TRUE(controller->isPlaying3D());
}

// A theme started in a small window that is then made larger (full screen) shows its photos as
// sharp as a theme started at the larger size: the photos on the cards are decoded again for it
// and put in place while the theme plays on.
TEST_P(ThemeKeysTest, PhotosAreSharpAgainAfterTheWindowGrows)
{
    const double at = 2.0;
    photoMaker = &ThemeKeysTest::stripedPhoto;
    const QImage expected = frameOfAShowStartedLarge(at);
    startShow(7, 0);
    window->contentView()->setFrameSize(kpv::Size{kWidth * 1.5, kHeight * 1.5});
    clock.advance(1.0); // the window has settled at its new size
    settle();
    const QImage grown = frameAt(at);
    ASSERT_EQ(grown.size(), expected.size());
    EXPECT_TRUE(framesAlike(grown, expected));
}

// A theme over photos that take long to decode (very large ones) starts as soon as the first is
// decoded, instead of a black screen until all are: its backdrop and its cards, each showing
// that photo for now. The photos that follow take their cards as they come, and the theme then
// looks as it does when all the photos were there at its start.
// A step over such photos does the same.
TEST_P(ThemeKeysTest, TheThemeStartsWithItsFirstPhotoAndTheOthersFollow)
{
    const double at = 1.2;
    startShow(7, 0);
    const QImage allThere = frameAt(at);
    controller->endSlideshow();

    // Photos after the first decode only when the test lets them.
    holdPhotos([](int i) { return i != 0; });
    closeGate(true);
    startShow(7, 0, false);
    waitForHeldDecode();
    controller->waitForSceneRead();
    kpv::RunLoop::main().runOnce(); // the first photo is handed over
    ASSERT_TRUE(controller->isPlaying3D());
    SlideshowPlayerDove* player = controller->dovePresenter()->player();
    ASSERT_TRUE(player && player->isStarted());
    EXPECT_EQ(player->meshesWithoutPhoto(), 0u);
    EXPECT_TRUE(controller->firstFrameDisplayed());
    EXPECT_TRUE(matchesGolden(QStringLiteral("%1-first-photo").arg(GetParam()), frameAt(at)));

    closeGate(false);
    settle();
    EXPECT_EQ(player->standInCount(), 0u);
    EXPECT_TRUE(framesAlike(layer()->grabFrame(), allThere));

    // A step moves the same way at once, instead of going on with the old photos until all the
    // new ones are decoded: Left from photo 1 plays from photo 0 as soon as it is decoded.
    startShow(7, 1);
    frameAt(at);
    closeGate(true);
    controller->performKeyDownEquivalent(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::LeftArrow, "", "", nullptr));
    waitForHeldDecode();
    kpv::RunLoop::main().runOnce();
    player = controller->dovePresenter()->player();
    EXPECT_EQ(player->meshesWithoutPhoto(), 0u);
    EXPECT_TRUE(matchesGolden(QStringLiteral("%1-first-photo").arg(GetParam()), frameAt(at), false));
    closeGate(false);
    settle();
    EXPECT_EQ(player->standInCount(), 0u);
    EXPECT_TRUE(framesAlike(layer()->grabFrame(), allThere));
}

// Starting a 3D theme keeps the window alive: the theme's scene file and its pictures are read
// off the main thread while the first photos decode, and the window meanwhile takes keys. Esc
// then ends the start cleanly: the scene read after all never comes on screen and leaves no
// engine, layer or timer behind. Without Esc, the theme starts once its scene is there, with a
// photo on every card.
TEST_P(ThemeKeysTest, TheWindowTakesEscWhileTheThemeIsRead)
{
    const std::thread::id mainThread = std::this_thread::get_id();
    auto readOnMain = std::make_shared<std::atomic<int>>(0);
    // The fixture's gate, which the tear-down opens: a failed check leaves no reading waiting.
    const std::shared_ptr<Gate> reading = gate;
    sceneReader = [=](const SlideshowTheme& theme) {
        if (std::this_thread::get_id() == mainThread) {
            ++*readOnMain; // the window would be frozen now: not waited for
        } else {
            std::unique_lock lock(reading->mutex);
            reading->waiting = true;
            reading->changed.notify_all();
            reading->changed.wait(lock, [&] { return !reading->closed; });
        }
        return SlideshowPlayerDove::readScene(theme);
    };
    const auto readingHeld = [&] {
        std::unique_lock lock(reading->mutex);
        return reading->changed.wait_for(lock, std::chrono::seconds(30), [&] { return reading->waiting; });
    };
    const auto release = [&](bool closed) { closeGate(closed); };
    const int idleTimers = kpv::RunLoop::main().timerCount();
    const bool engineUp = Dove::RenderEngine::peekSingleton() != nullptr;

    release(true);
    startShow(7, 0, false);
    ASSERT_EQ(*readOnMain, 0) << "the theme's scene was read on the main thread";
    ASSERT_TRUE(readingHeld());
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(host->mode, SlideshowViewController::kShowMode);
    controller->performKeyDownEquivalent(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Escape, "", "", nullptr));
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_NE(host->mode, SlideshowViewController::kShowMode);
    release(false);
    settle();
    EXPECT_FALSE(controller->isPlaying3D());
    EXPECT_FALSE(controller->firstFrameDisplayed());
    EXPECT_EQ(controller->dovePresenter(), nullptr);
    EXPECT_EQ(Dove::RenderEngine::peekSingleton() != nullptr, engineUp) << "the engine was started";
    EXPECT_EQ(kpv::RunLoop::main().timerCount(), idleTimers);

    // The photos come first this time: the theme waits for its scene, then plays with them.
    auto decodes = std::make_shared<Gate>();
    auto begun = std::make_shared<int>(0);
    photoMaker = [decodes, begun](int i, QSize) {
        {
            std::lock_guard lock(decodes->mutex);
            ++*begun;
            decodes->changed.notify_all();
        }
        QImage img(120, 80, QImage::Format_RGB32);
        img.fill(colour(i));
        return img;
    };
    release(true);
    startShow(7, 0, false);
    ASSERT_EQ(*readOnMain, 0);
    ASSERT_TRUE(readingHeld());
    {
        // One decode at a time: the first photo is handed over before the second decode begins.
        std::unique_lock lock(decodes->mutex);
        ASSERT_TRUE(decodes->changed.wait_for(lock, std::chrono::seconds(30), [&] { return *begun >= 2; }));
    }
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(controller->dovePresenter()->player(), nullptr);
    release(false);
    settle();
    ASSERT_TRUE(controller->isPlaying3D()) << controller->lastThemeProblem().toStdString();
    SlideshowPlayerDove* player = controller->dovePresenter()->player();
    ASSERT_TRUE(player && player->isStarted());
    EXPECT_EQ(player->meshesWithoutPhoto(), 0u);
    EXPECT_TRUE(controller->firstFrameDisplayed());
    EXPECT_GT(pixelsOf(layer()->grabFrame(), 0), 0);
}

// A photo moved to the trash or deleted by another program while the theme shows it may stay on
// its card for now, but when the theme comes round to it again it is gone, also where photos
// shown before stand in while the next ones decode slowly: the show goes on with the others, no
// card blank. With none left, the show ends and the user is told why. The files are looked at
// off the main thread, so that a slow folder on the network never holds up the frames.
TEST_P(ThemeKeysTest, ADeletedPhotoIsGoneWhenTheThemeComesRoundAgain)
{
    const std::thread::id mainThread = std::this_thread::get_id();
    auto checks = std::make_shared<std::atomic<int>>(0);
    auto checksOnMain = std::make_shared<std::atomic<int>>(0);
    const auto countChecks = [&] {
        controller->setFileCheck([=](const QString& path) {
            ++*checks;
            *checksOnMain += std::this_thread::get_id() == mainThread;
            return QFileInfo::exists(path);
        });
    };
    holdPhotos([](int) { return true; });
    startShow(4, 0);
    countChecks();
    SlideshowPlayerDove* player = controller->dovePresenter()->player();
    const double duration = player->resource()->animation->getDuration();
    closeGate(true); // the theme plays on the photos shown before
    ASSERT_TRUE(QFile::remove(dir.filePath("2")));
    const uint64_t start = micros;
    layer()->grabFrame();
    long seen = 0, others = 0;
    for (double at = 0.5; at < duration * 2.5; at += 0.5) {
        micros = start + uint64_t(at * 1e6);
        const QImage frame = layer()->grabFrame().convertToFormat(QImage::Format_RGB32);
        clock.advance(0.5);
        controller->waitForFileChecks();
        if (at > duration * 1.4) { // every card has had its turn since
            seen += pixelsOf(frame, 2);
            others += pixelsOf(frame, 0) + pixelsOf(frame, 1) + pixelsOf(frame, 3);
        }
    }
    EXPECT_EQ(seen, 0);
    EXPECT_GT(others, 0);
    EXPECT_EQ(player->meshesWithoutPhoto(), 0u);

    // The decodes go on; with every file gone the show ends, told.
    for (int i : {0, 1, 3})
        QFile::remove(dir.filePath(QString::number(i)));
    closeGate(false);
    for (double at = duration * 2.5; at < duration * 4 && controller->isPlaying(); at += 0.5) {
        micros = start + uint64_t(at * 1e6);
        layer()->grabFrame();
        settle();
    }
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_EQ(host->problems.size(), 1);
    EXPECT_GT(checks->load(), 0);
    EXPECT_EQ(checksOnMain->load(), 0);
}

// A photo deleted by another program while its card waits behind the others is taken off that
// card as soon as the files are next looked at: it never comes forward after the delete.
TEST_P(ThemeKeysTest, ADeletedPhotoWaitingOnItsCardNeverComesForward)
{
    startShow(7, 0);
    SlideshowPlayerDove* player = controller->dovePresenter()->player();
    const double duration = player->resource()->animation->getDuration();
    const uint64_t start = micros;
    layer()->grabFrame();
    ASSERT_TRUE(QFile::remove(dir.filePath("4")));
    clock.advance(SlideshowViewController::kFileCheckInterval);
    controller->waitForFileChecks();
    long seen = 0;
    for (double at = 0.5; at < duration * 1.2; at += 0.5) {
        micros = start + uint64_t(at * 1e6);
        seen += pixelsOf(layer()->grabFrame().convertToFormat(QImage::Format_RGB32), 4);
        clock.advance(0.5);
        settle();
    }
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(player->meshesWithoutPhoto(), 0u);
}

// A photo rewritten by another program while the theme plays (edited, or a newer copy saved over
// it) is shown as it is now: on the cards that show it, and when the theme comes round to it.
TEST_P(ThemeKeysTest, ARewrittenPhotoIsShownAsItIsNow)
{
    // Photo i is of colour(i) until its file says which colour it has now.
    photoMaker = [this](int i, QSize) {
        QFile file(dir.filePath(QString::number(i)));
        const QByteArray now = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        QImage img(120, 80, QImage::Format_RGB32);
        img.fill(colour(now.isEmpty() ? i : now.toInt()));
        return img;
    };
    startShow(4, 0);
    SlideshowPlayerDove* player = controller->dovePresenter()->player();
    const double duration = player->resource()->animation->getDuration();
    QFile rewritten(dir.filePath("2"));
    ASSERT_TRUE(rewritten.open(QIODevice::WriteOnly));
    rewritten.write("6");
    ASSERT_TRUE(rewritten.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    rewritten.close();
    const uint64_t start = micros;
    layer()->grabFrame();
    long old = 0, now = 0;
    for (double at = 0.5; at < duration * 2.5; at += 0.5) {
        micros = start + uint64_t(at * 1e6);
        const QImage frame = layer()->grabFrame().convertToFormat(QImage::Format_RGB32);
        clock.advance(0.5);
        settle();
        if (at > 2 * SlideshowViewController::kFileCheckInterval) { // the files have been looked at
            old += pixelsOf(frame, 2);
            now += pixelsOf(frame, 6);
        }
    }
    EXPECT_EQ(old, 0);
    EXPECT_GT(now, 0);
    EXPECT_EQ(player->meshesWithoutPhoto(), 0u);
}

// Another theme chosen from the menu goes on from the photo the user looks at in the 3D theme
// (the first, close up), not from the last one the theme took ahead of the screen.
TEST_P(ThemeKeysTest, AnotherThemeGoesOnFromThePhotoOnScreen)
{
    startShow(7, 0);
    frameAt(1.2);
    std::optional<SlideshowTheme> crossFade;
    for (const SlideshowTheme& t : themeMgr->themes())
        if (t.type == SlideshowTheme::Normal)
            crossFade = t;
    ASSERT_TRUE(crossFade);
    controller->chooseTheme(*crossFade);
    settle();
    EXPECT_FALSE(controller->isPlaying3D());
    EXPECT_EQ(controller->curSlideIndex(), 0);
    ASSERT_FALSE(controller->view()->currentSlide().isNull());
    EXPECT_EQ(controller->view()->currentSlide().pixel(0, 0), colour(0).rgb());
}

INSTANTIATE_TEST_SUITE_P(ShippedThemes, ThemeKeysTest, ::testing::Values("wall", "cards"));

using PhotoWallKeysTest = ThemeKeysTest;

// Four photos resting side by side on the wall, all of a size: the user reads them from the first,
// so Right plays on from the photo after the first and Left from the one before it. (Taken by a
// hair of perspective from another card, Left played the same four photos again, as if the key did
// nothing, and Right skipped photos.)
TEST_P(PhotoWallKeysTest, ArrowsStepFromTheFirstOfPhotosRestingSideBySide)
{
    const double resting = 14.0; // the third block of four at rest, no photo off the wall
    std::map<long, QImage> fresh;
    for (long from : {7, 9}) {
        startShow(16, from);
        fresh[from] = frameAt(0);
        controller->endSlideshow();
    }
    for (const auto& [key, from] : {std::pair{kpv::KeyCode::RightArrow, 9L}, std::pair{kpv::KeyCode::LeftArrow, 7L}}) {
        SCOPED_TRACE(from);
        startShow(16, 0);
        const QImage seen = frameAt(resting);
        controller->dovePresenter()->player()->performPendingWork();
        for (int i = 8; i <= 11; ++i)
            ASSERT_GT(pixelsOf(seen, i), 1000) << "photo " << i << " rests on the wall";
        controller->togglePause();
        press(key);
        EXPECT_TRUE(framesAlike(frameAt(0), fresh[from]));
        controller->endSlideshow();
    }
}

INSTANTIATE_TEST_SUITE_P(ShippedThemes, PhotoWallKeysTest, ::testing::Values("wall"));

} // namespace
