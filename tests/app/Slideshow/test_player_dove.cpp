// The 3D player on the engine's null backend: set-up order, photos on the theme's meshes in
// colour with the mesh's own picture as their mask, groups that get new photos, loops, pause,
// resume and stop, and a clean-up that leaves only the scene manager behind.
#include "Slideshow/SlideshowPlayerDove.h"

#include "../../scene3d/SceneFileWriter.h"

#include "DoveAnimation.h"
#include "DoveContext.h"
#include "DoveElement.h"
#include "DoveMaterial.h"
#include "DoveMesh.h"
#include "DoveNullRender.h"
#include "DoveRenderEngine.h"
#include "DoveResManager.h"
#include "DoveScene.h"
#include "DoveSceneManager.h"
#include "DoveTime.h"
#include "DoveCamera.h"
#include "DoveViewport.h"
#include "ZephraResource.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dove::TimeGlobal::setClockSource([this](int64_t& s, int64_t& us) {
            s = int64_t(micros / 1000000);
            us = int64_t(micros % 1000000);
        });
        Dove::RenderEngine::resetFrameLimiter();
        theme.type = SlideshowTheme::ThreeD;
        theme.folder = dir.path();
        theme.sceneFile = dir.path() + "/scene.3ds";
        const std::vector<uint8_t> scene = makeSampleScene("photo.png");
        QFile f(theme.sceneFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(scene.data()), qint64(scene.size()));
        f.close();
        QImage photo(4, 4, QImage::Format_RGB32);
        photo.fill(Qt::red);
        ASSERT_TRUE(photo.save(dir.path() + "/photo.png"));
        param.frameRate = 24;
        param.maskGroups = {{"Plane", "NoSuchMask"}};
        host.width = 640;
        host.height = 480;
    }
    void TearDown() override
    {
        Dove::SceneManager::releaseSingleton();
        Dove::Context::releaseSingleton();
        Dove::TimeGlobal::setClockSource({});
    }
    static std::vector<QImage> slides(int n)
    {
        std::vector<QImage> out;
        for (int i = 0; i < n; ++i) {
            QImage img(8, 6, QImage::Format_RGBA8888_Premultiplied);
            img.fill(QColor(i * 20, 0, 0));
            out.push_back(img);
        }
        return out;
    }
    Dove::NullRenderEngine* engine()
    {
        return static_cast<Dove::NullRenderEngine*>(Dove::RenderEngine::peekSingleton());
    }

    uint64_t micros = 1000000000ull * 1000;
    QTemporaryDir dir;
    SlideshowTheme theme;
    SlideshowThemeParam param;
    Dove::NullHostView host;
};

TEST_F(PlayerTest, StartBindsSlidesToTheMasksAndPlaysTheTheme)
{
    SlideshowPlayerDove player(theme, param);
    ASSERT_TRUE(player.start(&host, host.width, host.height, slides(2))) << player.lastError().toStdString();
    ASSERT_NE(engine(), nullptr);
    EXPECT_EQ(engine()->window()->getWidth(), 640u);
    EXPECT_TRUE(engine()->window()->isRunning());
    EXPECT_TRUE(Dove::Context::getSingleton()->getBitmapConverter() != nullptr);

    Dove::SceneManager* sm = Dove::SceneManager::getSingleton();
    EXPECT_FLOAT_EQ(sm->getRenderWidth(), 640);
    ASSERT_NE(player.resource(), nullptr);
    EXPECT_EQ(sm->getRoot3DScene()->getChildren().size(), 1u);
    Dove::Element* plane = sm->getElementByName("Plane");
    ASSERT_NE(plane, nullptr);
    // The photo is the mesh's colour, fitted to the 4:3 quad; the theme's own picture (4 x 4,
    // through the application's converter) became its mask.
    Dove::Texture* photo = plane->getTexture(Dove::TU_BASE);
    Dove::Texture* mask = plane->getTexture(Dove::TU_MASK);
    ASSERT_NE(photo, nullptr);
    ASSERT_NE(mask, nullptr);
    EXPECT_NE(photo, mask);
    // An 8 x 6 photo gets room for its margins: 64 pixels on the shorter side.
    EXPECT_EQ(photo->getWidth(), 85u);
    EXPECT_EQ(photo->getHeight(), 64u);
    EXPECT_EQ(mask->getWidth(), 4u);
    EXPECT_EQ(plane->getMesh()->getMaterial()->getTexture(Dove::TU_BASE), mask);
    EXPECT_EQ(player.slidesBound(), 1u); // the missing mesh is skipped
    EXPECT_TRUE(player.isPlaying());

    micros += 30000;
    engine()->window()->render();
    EXPECT_EQ(engine()->window()->swaps(), 1);
}

TEST_F(PlayerTest, PauseResumeAndStopDriveTheAnimationAndTheRenderer)
{
    SlideshowPlayerDove player(theme, param);
    int finished = 0;
    player.setFinishedHandler([&] { ++finished; });
    ASSERT_TRUE(player.start(&host, 320, 240, slides(1)));
    player.pause();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_FALSE(engine()->window()->isRunning());
    player.resume();
    EXPECT_TRUE(player.isPlaying());
    EXPECT_TRUE(engine()->window()->isRunning());
    player.stop();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(finished, 1);
    player.cleanUp();
    EXPECT_EQ(finished, 1); // clean-up is no stop the caller hears of
}

TEST_F(PlayerTest, CleanUpReleasesEverythingButTheSceneManager)
{
    for (int round = 0; round < 2; ++round) {
        SlideshowPlayerDove player(theme, param);
        ASSERT_TRUE(player.start(&host, host.width, host.height, slides(3))) << round;
        player.cleanUp();
        EXPECT_FALSE(player.isStarted());
        EXPECT_EQ(Dove::ResManager::peekSingleton(), nullptr);
        EXPECT_EQ(Dove::RenderEngine::peekSingleton(), nullptr);
        Dove::SceneManager* sm = Dove::SceneManager::peekSingleton();
        ASSERT_NE(sm, nullptr);
        EXPECT_EQ(sm->elementCount(), 0u);
        EXPECT_TRUE(sm->getRoot3DScene()->getChildren().empty());
        player.cleanUp(); // twice is harmless
    }
    // The destructor cleans up a player that is still playing.
    {
        SlideshowPlayerDove player(theme, param);
        ASSERT_TRUE(player.start(&host, host.width, host.height, slides(1)));
    }
    EXPECT_EQ(Dove::ResManager::peekSingleton(), nullptr);
}

TEST_F(PlayerTest, BrokenOrMissingScenesFailCleanly)
{
    SlideshowTheme missing = theme;
    missing.sceneFile = dir.path() + "/none.3ds";
    SlideshowPlayerDove a(missing, param);
    EXPECT_FALSE(a.start(&host, 100, 100, slides(1)));
    EXPECT_FALSE(a.lastError().isEmpty());
    EXPECT_EQ(Dove::ResManager::peekSingleton(), nullptr);

    QFile f(theme.sceneFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("MM\x05\x00\x00\x00garbage");
    f.close();
    SlideshowPlayerDove b(theme, param);
    EXPECT_FALSE(b.start(&host, 100, 100, slides(1)));
    EXPECT_EQ(Dove::ResManager::peekSingleton(), nullptr);

    // No slides at all: the theme still plays, with nothing bound.
    SlideshowTheme good = theme;
    const std::vector<uint8_t> scene = makeSampleScene("photo.png");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(reinterpret_cast<const char*>(scene.data()), qint64(scene.size()));
    f.close();
    SlideshowPlayerDove c(good, param);
    ASSERT_TRUE(c.start(&host, 100, 100, {}));
    EXPECT_EQ(c.slidesBound(), 0u);
}

// Two groups on one timeline of 2 s: group 1 starts at frame 24 (1 s). When it starts, group 0
// gets the next photo; at the end group 1 does and the theme plays again. Texture memory stays
// flat however many slides go by.
TEST_F(PlayerTest, GroupsGetNewPhotosAndTheThemeLoopsWithFlatTextureMemory)
{
    param.maskGroups = {{"Plane"}, {"Plane"}};
    param.groupStartFrames = {0, 24};
    SlideshowPlayerDove player(theme, param);
    int finished = 0;
    player.setFinishedHandler([&] { ++finished; });
    long served = 0;
    player.setSlideSource([&] {
        QImage img(160 + 20 * int(served % 3), 120, QImage::Format_RGBA8888_Premultiplied);
        img.fill(QColor(int(served++ % 256), 0, 0));
        return img;
    });
    ASSERT_TRUE(player.start(&host, 320, 240));
    EXPECT_EQ(player.slidesBound(), 2u);
    Dove::Element* plane = Dove::SceneManager::getSingleton()->getElementByName("Plane");
    ASSERT_NE(plane, nullptr);
    const std::size_t textures = Dove::ResManager::getSingleton()->textureCount();

    auto frame = [&](uint64_t millis) {
        micros += millis * 1000;
        engine()->window()->render();
    };
    frame(0); // the animation's clock starts with the first frame
    frame(500);
    player.performPendingWork();
    EXPECT_EQ(player.slidesBound(), 2u);
    frame(600); // 1.1 s: group 1 has started
    player.performPendingWork();
    EXPECT_EQ(player.slidesBound(), 3u);
    EXPECT_EQ(plane->getTexture(Dove::TU_BASE)->getWidth(), 200u); // the third photo is 200 wide
    frame(1000); // past the end
    EXPECT_FALSE(player.isPlaying());
    player.performPendingWork();
    EXPECT_EQ(player.slidesBound(), 4u);
    EXPECT_EQ(player.loopCount(), 1);
    EXPECT_TRUE(player.isPlaying());
    EXPECT_EQ(finished, 0); // a loop is no end

    // 200 more slides: one texture per photo mesh, as before.
    for (int loop = 0; loop < 100; ++loop) {
        frame(10);
        frame(1100);
        player.performPendingWork();
        frame(1000);
        player.performPendingWork();
        ASSERT_EQ(Dove::ResManager::getSingleton()->textureCount(), textures) << loop;
    }
    EXPECT_EQ(player.slidesBound(), 204u);
    EXPECT_EQ(player.loopCount(), 101);

    // Paused, the theme stands still; resumed, it plays on to its end and starts again.
    frame(10);
    player.pause();
    frame(3000);
    player.performPendingWork();
    EXPECT_EQ(player.loopCount(), 101);
    player.resume();
    frame(3000);
    player.performPendingWork();
    EXPECT_EQ(player.loopCount(), 102);
    player.stop();
    EXPECT_EQ(finished, 1);
}

// A pause and a resume leave the photos on the cards as they were, and a group that comes on
// screen in the first frame after a resume still gives the group before it new photos (it was
// passed over, and that card showed the same photo again on the next pass).
TEST_F(PlayerTest, PauseAndResumeKeepThePhotosOnTheCardsAndMissNoGroup)
{
    param.maskGroups = {{"Plane"}, {"Plane"}};
    param.groupStartFrames = {0, 24};
    SlideshowPlayerDove player(theme, param);
    long served = 0;
    player.setSlideSource([&] {
        QImage img(160, 120, QImage::Format_RGBA8888_Premultiplied);
        img.fill(QColor(int(served++ % 256), 0, 0));
        return img;
    });
    ASSERT_TRUE(player.start(&host, 320, 240));
    auto frame = [&](uint64_t millis) {
        micros += millis * 1000;
        engine()->window()->render();
    };
    frame(0);
    frame(1100); // group 1 has started
    player.performPendingWork();
    ASSERT_EQ(player.slidesBound(), 3u);
    for (int pause = 0; pause < 3; ++pause) {
        frame(20);
        player.pause();
        frame(4000);
        player.resume();
        frame(20);
        player.performPendingWork();
        EXPECT_EQ(player.slidesBound(), 3u) << pause;
    }
    // The theme ends and starts again; group 1 starts at 1 s of the next pass.
    frame(900);
    player.performPendingWork();
    ASSERT_EQ(player.loopCount(), 1);
    ASSERT_EQ(player.slidesBound(), 4u);
    frame(10); // the first frame of the pass
    frame(980); // just before group 1 starts
    player.performPendingWork();
    ASSERT_EQ(player.slidesBound(), 4u);
    player.pause();
    frame(4000);
    player.resume();
    frame(30); // group 1 starts in this frame
    player.performPendingWork();
    EXPECT_EQ(player.slidesBound(), 5u);
    EXPECT_EQ(player.loopCount(), 1);
}

// A slideshow window of any shape is filled by the theme, without bars: a narrower window than
// the theme's frame sees more above and below (the frame's width still fits), a wider one more at
// the sides.
TEST_F(PlayerTest, ResizingTheHostPlacesTheViewportAgain)
{
    SlideshowPlayerDove player(theme, param);
    ASSERT_TRUE(player.start(&host, 640, 480, slides(1)));
    Dove::Viewport* vp = player.resource()->getViewport();
    Dove::Camera* camera = player.resource()->getCamera();
    ASSERT_NE(vp, nullptr);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(vp->getActualWidth(), 640); // the sample camera is 3:2
    EXPECT_EQ(vp->getActualHeight(), 480);
    EXPECT_FLOAT_EQ(camera->getAspect(), 640.0f / 480.0f);
    const float narrowFov = camera->getFov().valueRadians();
    player.resize(1280, 720);
    EXPECT_EQ(vp->getActualWidth(), 1280);
    EXPECT_EQ(vp->getActualHeight(), 720);
    EXPECT_EQ(vp->getActualLeft(), 0);
    EXPECT_FLOAT_EQ(camera->getAspect(), 1280.0f / 720.0f);
    // The width seen at 4:3 is the width the theme's 3:2 frame has.
    const float wideFov = camera->getFov().valueRadians();
    EXPECT_GT(narrowFov, wideFov);
    EXPECT_NEAR(std::tan(narrowFov / 2) * 4 / 3, std::tan(wideFov / 2) * 3 / 2, 1e-4);
}

// The engine's shader programs are freed while its context is current: a program freed without
// one stays in the driver for good, one more with every slideshow.
TEST_F(PlayerTest, CleanUpFreesShaderProgramsWithTheEnginesContextCurrent)
{
    const int before = Dove::NullShaderProgram::sDeletedWithoutContext;
    for (int run = 0; run < 3; ++run) {
        SlideshowPlayerDove player(theme, param);
        ASSERT_TRUE(player.start(&host, 320, 240, slides(2)));
        micros += 30000;
        engine()->window()->render(); // draws, so the mesh's program exists
        player.cleanUp();
    }
    EXPECT_EQ(Dove::NullShaderProgram::sDeletedWithoutContext, before);
}

} // namespace
