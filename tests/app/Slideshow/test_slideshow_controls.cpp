// The slideshow's controls, themes and music on the manual clock: pause and resume, the theme
// menu and the kept choice, a 3D theme that cannot play, the music menu with its recent files,
// mute, and a user's file that cannot be played. The music goes to a recording sink.
#include "SlideshowTestHost.h"

#include "Slideshow/SlideshowControlBar.h"
#include "Slideshow/SlideshowMenus.h"
#include "Slideshow/SlideshowMusic.h"
#include "Slideshow/SlideshowNoticeView.h"
#include "Slideshow/SlideshowThemeMgr.h"
#include "Slideshow/SlideshowView.h"
#include "Slideshow/SlideshowViewController.h"

#include "Kit/LMButton.h"
#include "Kit/LMPopMenuView.h"
#include "Model/MainConfig.h"
#include "appkit/Event.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kpv::RunLoop::main().setClock(&clock);
        defaults = std::make_unique<kpv::UserDefaults>(dir.filePath("settings.json"));
        config = std::make_unique<MainConfig>(*defaults);
        // A catalogue of two cross-fades with music and a 3D theme whose parameter file is missing.
        const QString themes = dir.filePath("SSThemes");
        ASSERT_NO_FATAL_FAILURE(writeFile(themes + "/a/a.wav", "RIFF"));
        ASSERT_NO_FATAL_FAILURE(writeFile(themes + "/b/b.wav", "RIFF"));
        ASSERT_NO_FATAL_FAILURE(writeFile(themes + "/broken/theme.ziz", "not a scene"));
        ASSERT_NO_FATAL_FAILURE(writeFile(themes + "/SlideShowTheme.xml", R"(<SlideShowTheme>
            <Theme ID="1" GroupID="1" Type="2D" Name="Fade A" Folder="a" Music="a.wav"/>
            <Theme ID="2" GroupID="1" Type="2D" Name="Fade B" Folder="b" Music="b.wav"/>
            <Theme ID="11" GroupID="2" Type="3D" Name="Broken" Folder="broken" Scene="theme.ziz" Param="none.xml"/>
          </SlideShowTheme>)"));
        themeMgr = std::make_unique<SlideshowThemeMgr>(config.get());
        themeMgr->setThemeFolders(themes, QString());
        themeMgr->startLoad();
        themeMgr->waitUntilLoadFinished();
        kpv::RunLoop::main().runOnce();
        ASSERT_EQ(themeMgr->themes().size(), 3u);

        controller = std::make_unique<SlideshowViewController>(host, config.get());
        controller->setThemeMgr(themeMgr.get());
        controller->setMusicSinkFactory([this] { return std::make_unique<FakeMusicSink>(sound); });
        controller->setSlideLoader([](const SlideshowFileInfo& slide, QSize) {
            const int i = slide.filePath().path().section('/', -1).toInt();
            QImage img(8, 8, QImage::Format_RGBA8888_Premultiplied);
            img.fill(QColor(10 * i, 0, 0));
            return img;
        });
    }
    void TearDown() override
    {
        controller.reset();
        themeMgr.reset();
        kpv::RunLoop::main().setClock(nullptr);
    }
    std::vector<SlideshowFileInfoPtr> slides(int n) { return numberedSlides(n); }
    void run(double seconds) { runSlideshow(*controller, clock, seconds); }
    int shown() { return qRed(controller->view()->currentSlide().pixel(0, 0)) / 10; }
    QString themeFile(const char* relative) { return dir.filePath(QString("SSThemes/") + relative); }

    QTemporaryDir dir;
    kpv::ManualClock clock;
    FakeHost host;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<MainConfig> config;
    std::unique_ptr<SlideshowThemeMgr> themeMgr;
    std::shared_ptr<FakeMusicSink::Log> sound = std::make_shared<FakeMusicSink::Log>();
    std::unique_ptr<SlideshowViewController> controller;
};

TEST_F(ControlsTest, SpaceAndThePauseButtonHoldTheSlideAndTheMusic)
{
    controller->startSlideshowWithFileInfos(slides(3), 0);
    controller->waitForSlideLoads();
    ASSERT_EQ(shown(), 0);
    EXPECT_EQ(sound->played.last(), themeFile("a/a.wav")); // the first cross-fade, nothing chosen yet
    auto space = kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Space, " ", " ", nullptr);
    EXPECT_TRUE(controller->performKeyDownEquivalent(*space));
    EXPECT_TRUE(controller->isPaused());
    EXPECT_TRUE(sound->paused);
    EXPECT_TRUE(controller->controlBar()->isPaused()); // the button shows Play
    run(30);
    EXPECT_EQ(shown(), 0);
    controller->controlBar()->pauseButton()->sendAction();
    EXPECT_FALSE(controller->isPaused());
    EXPECT_FALSE(sound->paused);
    run(controller->slideDuration() + controller->fadeDuration() + 0.2);
    EXPECT_EQ(shown(), 1);

    // Paused in the middle of a fade: the new slide stays, fully shown.
    run(controller->slideDuration() + 0.3);
    controller->togglePause();
    EXPECT_DOUBLE_EQ(controller->view()->fade(), 1.0);
    EXPECT_EQ(shown(), 2);
    controller->controlBar()->endButton()->sendAction();
    EXPECT_EQ(host.mode, 4);
    EXPECT_EQ(sound->played.last(), QString()); // the music stops with the slideshow

    // Ended while paused, the next slideshow plays and its button says Pause.
    controller->startSlideshowWithFileInfos(slides(3), 0);
    EXPECT_FALSE(controller->isPaused());
    EXPECT_FALSE(controller->controlBar()->isPaused());
}

TEST_F(ControlsTest, RightAndLeftShowTheNextAndThePreviousSlideAtOnce)
{
    controller->startSlideshowWithFileInfos(slides(4), 0);
    controller->waitForSlideLoads();
    ASSERT_EQ(shown(), 0);
    auto key = [](unsigned short code) { return kpv::Event::keyEvent(kpv::KeyDown, code, "", "", nullptr); };
    EXPECT_TRUE(controller->performKeyDownEquivalent(*key(kpv::KeyCode::RightArrow)));
    run(0.1);
    EXPECT_EQ(shown(), 1);
    EXPECT_DOUBLE_EQ(controller->view()->fade(), 1.0); // no cross-fade to wait for
    EXPECT_TRUE(controller->performKeyDownEquivalent(*key(kpv::KeyCode::LeftArrow)));
    run(0.1);
    EXPECT_EQ(shown(), 0);
    controller->performKeyDownEquivalent(*key(kpv::KeyCode::LeftArrow)); // round to the last
    run(0.1);
    EXPECT_EQ(shown(), 3);
    // The stepped-to slide gets its whole time before the show goes on.
    run(controller->slideDuration() - 0.3);
    EXPECT_EQ(shown(), 3);
    run(controller->fadeDuration() + 0.5);
    EXPECT_EQ(shown(), 0);

    // Paused, the keys still step and the show stays paused.
    controller->togglePause();
    controller->performKeyDownEquivalent(*key(kpv::KeyCode::RightArrow));
    run(0.1);
    EXPECT_EQ(shown(), 1);
    EXPECT_TRUE(controller->isPaused());
    run(30);
    EXPECT_EQ(shown(), 1);
    controller->performKeyDownEquivalent(*key(kpv::KeyCode::RightArrow));
    run(0.1);
    EXPECT_EQ(shown(), 2);

    // Home and End show the first and the last slide, paused or not.
    EXPECT_TRUE(controller->performKeyDownEquivalent(*key(kpv::KeyCode::End)));
    run(0.1);
    EXPECT_EQ(shown(), 3);
    EXPECT_TRUE(controller->isPaused());
    EXPECT_TRUE(controller->performKeyDownEquivalent(*key(kpv::KeyCode::Home)));
    run(0.1);
    EXPECT_EQ(shown(), 0);
    controller->togglePause();
    controller->performKeyDownEquivalent(*key(kpv::KeyCode::End));
    run(0.1);
    EXPECT_EQ(shown(), 3);
    EXPECT_DOUBLE_EQ(controller->view()->fade(), 1.0);
}

// A photo that cannot be shown (deleted meanwhile) is passed over the way the user steps: Left
// goes on to the one before it, not back to the photo the step left.
TEST_F(ControlsTest, LeftPassesOverAGonePhotoToTheOneBeforeIt)
{
    controller->setSlideLoader([](const SlideshowFileInfo& slide, QSize) {
        const int i = slide.filePath().path().section('/', -1).toInt();
        QImage img(8, 8, QImage::Format_RGBA8888_Premultiplied);
        img.fill(QColor(10 * i, 0, 0));
        return i == 1 || i == 4 ? QImage() : img;
    });
    controller->startSlideshowWithFileInfos(slides(5), 2);
    controller->waitForSlideLoads();
    ASSERT_EQ(shown(), 2);
    controller->togglePause();
    auto key = [](unsigned short code) { return kpv::Event::keyEvent(kpv::KeyDown, code, "", "", nullptr); };
    controller->performKeyDownEquivalent(*key(kpv::KeyCode::LeftArrow));
    run(0.1);
    EXPECT_EQ(shown(), 0);
    controller->performKeyDownEquivalent(*key(kpv::KeyCode::RightArrow));
    run(0.1);
    EXPECT_EQ(shown(), 2);
    // The last photo gone: End shows the one before it.
    controller->performKeyDownEquivalent(*key(kpv::KeyCode::End));
    run(0.1);
    EXPECT_EQ(shown(), 3);
    EXPECT_TRUE(controller->isPaused());
}

// Quick presses each count, also before the slide of the one before is on screen (its file still
// being looked at) and during a cross-fade: two presses, two slides on.
TEST_F(ControlsTest, EachQuickPressOfAnArrowStepsOneSlide)
{
    controller->setFileCheck([](const QString&) { return SlideshowViewController::FileState(true); });
    controller->startSlideshowWithFileInfos(slides(5), 0);
    controller->waitForSlideLoads();
    ASSERT_EQ(shown(), 0);
    auto key = [](unsigned short code) { return kpv::Event::keyEvent(kpv::KeyDown, code, "", "", nullptr); };
    controller->performKeyDownEquivalent(*key(kpv::KeyCode::RightArrow));
    controller->performKeyDownEquivalent(*key(kpv::KeyCode::RightArrow));
    run(0.1);
    EXPECT_EQ(shown(), 2);
    run(controller->slideDuration() + controller->fadeDuration() / 2);
    ASSERT_EQ(shown(), 3);
    ASSERT_LT(controller->view()->fade(), 1.0);
    for (int i = 0; i < 3; ++i)
        controller->performKeyDownEquivalent(*key(kpv::KeyCode::LeftArrow));
    run(0.1);
    EXPECT_EQ(shown(), 0);
}

// An arrow key held over slides slow to decode comes to its slide once let go, without first
// decoding every slide it passed.
TEST_F(ControlsTest, AHeldArrowKeyDecodesOnlyTheSlideItComesTo)
{
    controller->startSlideshowWithFileInfos(slides(25), 0);
    run(0.2);
    auto decodes = std::make_shared<std::atomic<int>>(0);
    std::promise<void> letGo;
    controller->setSlideLoader([decodes, released = letGo.get_future().share()](const SlideshowFileInfo& slide, QSize) {
        ++*decodes;
        released.wait();
        QImage img(8, 8, QImage::Format_RGBA8888_Premultiplied);
        img.fill(QColor(10 * slide.filePath().path().section('/', -1).toInt(), 0, 0));
        return img;
    });
    for (int i = 0; i < 20; ++i)
        controller->performKeyDownEquivalent(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::RightArrow, "", "", nullptr));
    letGo.set_value();
    run(0.1);
    EXPECT_EQ(shown(), 20);
    EXPECT_LE(decodes->load(), 3); // the one under way when the key went down, the 20th and the next
}

// A theme chosen before the first slide is on screen (a large photo still decoding) starts from
// the slide the show was started from, not from the first of the list.
TEST_F(ControlsTest, AThemeChosenBeforeTheFirstSlideShowsStartsFromTheStartSlide)
{
    controller->startSlideshowWithFileInfos(slides(5), 3);
    ASSERT_LT(controller->curSlideIndex(), 0); // still decoding
    controller->chooseTheme(themeMgr->themes()[1]);
    controller->waitForSlideLoads();
    EXPECT_EQ(controller->curSlideIndex(), 3);
    EXPECT_EQ(shown(), 3);
}

TEST_F(ControlsTest, ThemeMenuOffersTheCatalogueAndTheChoiceIsKept)
{
    controller->startSlideshowWithFileInfos(slides(3), 0);
    controller->waitForSlideLoads();
    SlideshowMenus* menus = controller->menus();
    ASSERT_NE(menus, nullptr);
    EXPECT_EQ(menus->themeTitles(), QStringList({"Fade A", "Fade B", "Broken"}));
    run(controller->slideDuration() + controller->fadeDuration() + 0.2);
    ASSERT_EQ(controller->curSlideIndex(), 1);

    menus->clickThemeRow(1);
    ASSERT_TRUE(controller->currentTheme());
    EXPECT_EQ(controller->currentTheme()->name, "Fade B");
    EXPECT_EQ(sound->played.last(), themeFile("b/b.wav"));
    controller->waitForSlideLoads();
    EXPECT_EQ(shown(), 1); // goes on from the slide that was shown
    const QVariantMap kept = config->curSlideshowThemeID();
    EXPECT_EQ(kept.value("ThemeID").toLongLong(), 2);
    EXPECT_EQ(kept.value("SlideshowType").toLongLong(), 0);

    // The next slideshow plays the kept theme.
    controller->endSlideshow();
    controller->startSlideshowWithFileInfos(slides(2), 0);
    EXPECT_EQ(controller->currentTheme()->name, "Fade B");

    // A 3D theme that cannot be played falls back to the cross-fade, and says why.
    menus->clickThemeRow(2);
    EXPECT_EQ(controller->currentTheme()->name, "Broken");
    EXPECT_FALSE(controller->isPlaying3D());
    EXPECT_FALSE(controller->lastThemeProblem().isEmpty());
    ASSERT_NE(controller->notice(), nullptr);
    EXPECT_FALSE(controller->notice()->isHidden());
    EXPECT_TRUE(controller->notice()->text().contains("Broken"));
    controller->waitForSlideLoads();
    EXPECT_TRUE(controller->isPlaying());
    EXPECT_FALSE(controller->view()->currentSlide().isNull());
    run(SlideshowViewController::kNoticeDuration + 0.1);
    EXPECT_TRUE(controller->notice()->isHidden());
}

TEST_F(ControlsTest, MusicMenuChoosesTheThemesOrTheUsersMusicAndMutes)
{
    const QString song1 = dir.filePath("one.mp3"), song2 = dir.filePath("two.mp3");
    const QString song3 = dir.filePath("three.mp3"), song4 = dir.filePath("four.mp3");
    for (const QString& s : {song1, song2, song3, song4})
        ASSERT_NO_FATAL_FAILURE(writeFile(s, "ID3"));
    controller->startSlideshowWithFileInfos(slides(2), 0);
    SlideshowMenus* menus = controller->menus();
    SlideshowMusic* music = controller->music();
    ASSERT_TRUE(menus && music);
    EXPECT_EQ(menus->musicTitles(), QStringList({"Theme Music", "Choose Music…", "Mute"}));

    for (const QString& s : {song1, song2, song3, song4})
        music->chooseUserMusic(LMPathString(s, false));
    EXPECT_EQ(sound->played.last(), song4);
    // The three newest, newest first.
    EXPECT_EQ(menus->musicTitles(), QStringList({"Theme Music", "four.mp3", "three.mp3", "two.mp3", "Choose Music…", "Mute"}));
    menus->clickMusicRow(3); // two.mp3
    EXPECT_EQ(sound->played.last(), song2);
    EXPECT_FALSE(music->isUsingThemeMusic());
    menus->clickMusicRow(0);
    EXPECT_EQ(sound->played.last(), themeFile("a/a.wav"));
    EXPECT_TRUE(config->isUsingDefaultThemeBkgrdMusic());

    menus->clickMusicRow(5); // Mute
    EXPECT_TRUE(sound->muted);
    EXPECT_TRUE(config->slideshowMute());
    menus->clickMusicRow(5);
    EXPECT_FALSE(sound->muted);

    // A user's file that is gone plays the theme's music instead; one that cannot be played
    // gives way to it and is reported.
    music->chooseUserMusic(LMPathString(song3, false));
    EXPECT_EQ(sound->played.last(), song3);
    ASSERT_TRUE(sound->fail);
    sound->fail(song3, "no decoder");
    EXPECT_FALSE(controller->notice()->isHidden()); // the user hears why
    EXPECT_TRUE(controller->notice()->text().contains("three.mp3"));
    EXPECT_EQ(sound->played.last(), themeFile("a/a.wav"));
    EXPECT_EQ(config->curPlayingMusicPath()->path(), song3); // the choice itself is kept
    QFile::remove(song4);
    EXPECT_EQ(SlideshowMusic::musicToPlay("/theme.wav", false, LMPathString(song4, false)), QString());
    EXPECT_EQ(SlideshowMusic::musicToPlay(themeFile("a/a.wav"), false, LMPathString(song4, false)), themeFile("a/a.wav"));
    EXPECT_EQ(SlideshowMusic::musicToPlay(themeFile("a/a.wav"), false, LMPathString(song1, false)), song1);
    EXPECT_EQ(SlideshowMusic::musicToPlay(themeFile("a/a.wav"), true, LMPathString(song1, false)), themeFile("a/a.wav"));
}

// Music that is not there any more (the user's chosen file deleted or on a drive taken away, or
// a theme's own file missing) is told when the show starts; the show goes on with what can play.
TEST_F(ControlsTest, AMissingMusicFileIsToldAndTheShowGoesOn)
{
    const QString song = dir.filePath("gone.mp3");
    ASSERT_NO_FATAL_FAILURE(writeFile(song, "ID3"));
    config->setCurPlayingMusic(false, LMPathString(song, false), true);
    QFile::remove(song);
    controller->startSlideshowWithFileInfos(slides(2), 0);
    controller->waitForSlideLoads();
    ASSERT_FALSE(controller->notice()->isHidden());
    EXPECT_TRUE(controller->notice()->text().contains("gone.mp3"));
    EXPECT_EQ(sound->played.last(), themeFile("a/a.wav"));
    EXPECT_EQ(shown(), 0);
    run(controller->slideDuration() + controller->fadeDuration() + 0.2);
    EXPECT_EQ(shown(), 1);
    controller->endSlideshow();

    controller->music()->chooseThemeMusic();
    QFile::remove(themeFile("a/a.wav"));
    controller->startSlideshowWithFileInfos(slides(2), 0);
    ASSERT_FALSE(controller->notice()->isHidden());
    EXPECT_TRUE(controller->notice()->text().contains("a.wav"));
    EXPECT_TRUE(controller->isPlaying());
}

// Two problems at one start, the user's music gone and the chosen 3D theme unplayable: the
// notice tells both, the second below the first, rather than the second hiding the first.
TEST_F(ControlsTest, TwoProblemsAtOneStartAreBothTold)
{
    const QString song = dir.filePath("gone.mp3");
    config->setCurPlayingMusic(false, LMPathString(song, false), true);
    controller->startSlideshowWithFileInfos(slides(2), 0);
    controller->menus()->clickThemeRow(2); // the 3D theme that cannot play; the music starts again
    const QString text = controller->notice()->text();
    EXPECT_TRUE(text.contains("gone.mp3")) << text.toStdString();
    EXPECT_TRUE(text.contains("Broken")) << text.toStdString();
    EXPECT_EQ(text.count("gone.mp3"), 1);
    EXPECT_GE(controller->notice()->lines().size(), 2);
}

// A menu's button clicked while its menu is open (a second click, or a click after the pointer
// resting on the music button opened it) leaves the menu open with all its rows, not empty.
TEST_F(ControlsTest, AMenuOpenAlreadyKeepsItsRowsWhenItsButtonIsClicked)
{
    controller->startSlideshowWithFileInfos(slides(2), 0);
    SlideshowControlBar* bar = controller->controlBar();
    ASSERT_NE(bar, nullptr);
    bar->themesButton()->sendAction();
    SlideshowMenus* menus = controller->menus();
    ASSERT_NE(menus, nullptr);
    LMPopMenuView* themes = menus->themeMenuView();
    ASSERT_NE(themes, nullptr);
    ASSERT_TRUE(themes->isShown());
    ASSERT_EQ(themes->viewItems().size(), 3u);
    bar->themesButton()->sendAction();
    EXPECT_TRUE(themes->isShown());
    EXPECT_EQ(themes->viewItems().size(), 3u) << "the theme menu clicked twice";

    bar->buttonMouseEntered(bar->musicButton());
    run(1.0);
    LMPopMenuView* music = menus->musicMenuView();
    ASSERT_NE(music, nullptr);
    ASSERT_TRUE(music->isShown());
    EXPECT_FALSE(themes->isShown());
    ASSERT_EQ(music->viewItems().size(), 3u);
    bar->musicButton()->sendAction();
    EXPECT_TRUE(music->isShown());
    EXPECT_EQ(music->viewItems().size(), 3u) << "the music menu clicked after it opened by itself";
}

// A music file with a long name keeps the music menu inside the slideshow: the name is shortened
// in its middle, its start and its type still shown.
TEST_F(ControlsTest, ALongMusicFileNameKeepsTheMusicMenuInsideTheShow)
{
    const QString name = QString("Summer evening by the lake with the whole family and the dog, ").repeated(2) + "take 7.mp3";
    const QString song = dir.filePath(name);
    ASSERT_NO_FATAL_FAILURE(writeFile(song, "ID3"));
    host.content.setFrameSize(kpv::Size{640, 480});
    controller->startSlideshowWithFileInfos(slides(2), 0);
    controller->music()->chooseUserMusic(LMPathString(song, false));
    SlideshowControlBar* bar = controller->controlBar();
    bar->musicButton()->sendAction();
    LMPopMenuView* menu = controller->menus()->musicMenuView();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->isShown());
    const kpv::Rect shown = menu->convertRectToView(menu->bounds(), controller->view());
    EXPECT_GE(shown.minX(), 0);
    EXPECT_LE(shown.maxX(), controller->view()->bounds().maxX());
    const QString title = controller->menus()->musicTitles().at(1);
    EXPECT_TRUE(title.startsWith("Summer evening")) << title.toStdString();
    EXPECT_TRUE(title.endsWith("take 7.mp3")) << title.toStdString();
}

// A click that lands on the control bar beside or between its buttons stays with the bar; only
// a click on the slideshow itself ends it.
TEST_F(ControlsTest, AClickOnTheBarBesideItsButtonsDoesNotEndTheShow)
{
    controller->startSlideshowWithFileInfos(slides(2), 0);
    SlideshowControlBar* bar = controller->controlBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_FALSE(bar->isHidden());
    auto clickAt = [&](kpv::Point p) {
        kpv::View* hit = host.content.hitTest(p);
        ASSERT_NE(hit, nullptr);
        hit->mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, p, nullptr));
    };
    const kpv::Rect r = bar->frame();
    const kpv::Rect pause = bar->pauseButton()->frame();
    for (const kpv::Point p : {kpv::Point{r.origin.x + 4, r.midY()}, kpv::Point{r.origin.x + pause.maxX() + 3, r.midY()},
                               kpv::Point{r.midX(), r.origin.y + 2}}) {
        ASSERT_NO_FATAL_FAILURE(clickAt(p));
        EXPECT_TRUE(controller->isPlaying()) << "a click at " << p.x << ", " << p.y;
    }
    ASSERT_NO_FATAL_FAILURE(clickAt(kpv::Point{r.midX(), r.maxY() + 40}));
    EXPECT_FALSE(controller->isPlaying());
}

// A click on the slideshow beside an open menu puts the menu away, as a click beside any menu
// does; the show goes on, and only the next click ends it.
TEST_F(ControlsTest, AClickBesideAnOpenMenuClosesTheMenuAndTheShowGoesOn)
{
    controller->startSlideshowWithFileInfos(slides(2), 0);
    SlideshowControlBar* bar = controller->controlBar();
    ASSERT_NE(bar, nullptr);
    const kpv::Point away{10, 10};
    for (LMButton* button : {bar->themesButton(), bar->musicButton()}) {
        button->sendAction();
        ASSERT_TRUE(controller->menus()->isAnyShown());
        kpv::View* hit = host.content.hitTest(away);
        ASSERT_EQ(hit, controller->view());
        hit->mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, away, nullptr));
        EXPECT_FALSE(controller->menus()->isAnyShown());
        EXPECT_TRUE(controller->isPlaying());
    }
    controller->view()->mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, away, nullptr));
    EXPECT_FALSE(controller->isPlaying());
}

// Why a theme cannot play is told whole in a narrow window: the message wraps onto more lines
// inside the slideshow instead of losing its middle, also when the window narrows meanwhile.
TEST_F(ControlsTest, ANoticeWiderThanTheWindowWrapsInsteadOfBeingCut)
{
    QFont font;
    font.setPixelSize(12); // the notice's
    const QFontMetricsF metrics(font);
    for (const double width : {360.0, 220.0}) {
        SCOPED_TRACE(width);
        host.content.setFrameSize(kpv::Size{width, 400});
        controller->startSlideshowWithFileInfos(slides(2), 0);
        ASSERT_NO_FATAL_FAILURE(controller->menus()->clickThemeRow(2)); // the 3D theme that cannot play
        SlideshowNoticeView* notice = controller->notice();
        ASSERT_FALSE(notice->isHidden());
        const QString text = notice->text();
        ASSERT_TRUE(text.contains("Broken"));
        auto check = [&] {
            const kpv::Rect b = controller->view()->bounds(), f = notice->frame();
            EXPECT_GE(f.minX(), b.minX());
            EXPECT_LE(f.maxX(), b.maxX());
            EXPECT_GE(f.minY(), b.minY());
            EXPECT_GT(notice->lines().size(), 1);
            // Every word is there, in order, and each line fits in the box.
            EXPECT_EQ(notice->lines().join(' ').simplified().remove(' '), QString(text).remove(' '));
            for (const QString& line : notice->lines())
                EXPECT_LE(metrics.horizontalAdvance(line), f.width() - 20) << line.toStdString();
        };
        check();
        host.content.setFrameSize(kpv::Size{width - 60, 400});
        check();
        controller->endSlideshow();
    }
}

TEST_F(ControlsTest, ControlsShowWhileThePointerMovesAndHideWhenItRests)
{
    controller->startSlideshowWithFileInfos(slides(2), 0);
    SlideshowControlBar* bar = controller->controlBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isHidden()); // shown when the slideshow starts
    EXPECT_EQ(bar->superview(), controller->view());
    EXPECT_NEAR(bar->frame().midX(), controller->view()->bounds().midX(), 1);
    run(SlideshowViewController::kControlsHideDelay + 0.1);
    EXPECT_TRUE(bar->isHidden());
    auto move = kpv::Event::mouseEvent(kpv::MouseMoved, kpv::Point{100, 100}, nullptr);
    controller->view()->mouseMoved(*move);
    EXPECT_FALSE(bar->isHidden());
    run(SlideshowViewController::kControlsHideDelay - 0.5);
    controller->view()->mouseMoved(*move); // each move starts the wait again
    run(SlideshowViewController::kControlsHideDelay - 0.5);
    EXPECT_FALSE(bar->isHidden());
    run(1);
    EXPECT_TRUE(bar->isHidden());

    // The pointer resting on the bar keeps it, however long: a click on the theme button then
    // lands on the button and opens the theme menu, never on the slideshow behind, which ends.
    controller->view()->mouseMoved(*move);
    const kpv::Rect theme = bar->themesButton()->convertRectToView(bar->themesButton()->bounds(), nullptr);
    const kpv::Point onTheme{theme.midX(), theme.midY()};
    bar->mouseEntered(*kpv::Event::mouseEvent(kpv::MouseEntered, onTheme, nullptr));
    run(SlideshowViewController::kControlsHideDelay * 3);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(host.content.hitTest(onTheme), bar->themesButton());
    bar->themesButton()->sendAction();
    EXPECT_TRUE(controller->isPlaying());
    EXPECT_TRUE(controller->menus()->isAnyShown());
    controller->menus()->hideAll();
    bar->mouseExited(*kpv::Event::mouseEvent(kpv::MouseExited, kpv::Point{100, 100}, nullptr));
    run(SlideshowViewController::kControlsHideDelay + 0.1);
    EXPECT_TRUE(bar->isHidden());

    controller->endSlideshow();
    controller->view()->mouseMoved(*move);
    EXPECT_TRUE(bar->isHidden()); // not outside the slideshow
}

// The End button ends the show with the pointer on the bar, and the bar leaves the window before
// the pointer leaves the bar. The next show, the pointer resting elsewhere, still hides its
// controls when the pointer rests, rather than keeping them over the photos.
TEST_F(ControlsTest, ControlsOfTheNextShowHideAfterTheEndButtonEndedTheLast)
{
    controller->startSlideshowWithFileInfos(slides(2), 0);
    SlideshowControlBar* bar = controller->controlBar();
    ASSERT_NE(bar, nullptr);
    const kpv::Rect end = bar->endButton()->convertRectToView(bar->endButton()->bounds(), nullptr);
    bar->mouseEntered(*kpv::Event::mouseEvent(kpv::MouseEntered, kpv::Point{end.midX(), end.midY()}, nullptr));
    bar->endButton()->sendAction();
    ASSERT_FALSE(controller->isPlaying());

    controller->startSlideshowWithFileInfos(slides(2), 0);
    ASSERT_EQ(controller->controlBar(), bar);
    EXPECT_FALSE(bar->isHidden());
    run(SlideshowViewController::kControlsHideDelay + 0.1);
    EXPECT_TRUE(bar->isHidden()) << "the controls stay up with the pointer away from them";
}

} // namespace
