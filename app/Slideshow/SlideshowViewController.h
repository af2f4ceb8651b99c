#pragma once
// The slideshow mode (show mode 32): a full-window slideshow over file records, starting at a
// given slide, round and round until Esc, a click or the End button ends it and the mode shown
// before comes back (a click while a menu of the controls is open only puts the menu away). It
// plays the theme the settings keep: the cross-fade (each slide for a few seconds, cross-fading
// to the next over the settings' transition duration) or a 3D theme, whose player takes the
// slides as its groups need them. The theme's music, or a file of the user's own, plays
// meanwhile.
//
// Controls: a bar with Pause/Play, Themes, Music and End shows while the pointer moves; the
// music menu also opens when the pointer rests on the music button. Space pauses and resumes;
// Right and Left show the next and the previous slide at once, paused or not, and Home and End
// the first and the last. In a 3D theme they play the theme again from its start with that photo
// (for the arrows, the one after or before the photo seen largest on screen), as soon as that
// photo is decoded; as at the start, the other cards show it until their own photos come.
//
// Slides are decoded on the controller's own queue, ahead of the one shown, for the screen's
// pixels; a slide the viewer had already decoded is used as it is while its file is unchanged. A
// slide that cannot be read is passed over, as is one whose file has gone since it was decoded
// ahead; when none can be read the slideshow ends and the user is told why. A 3D theme that
// cannot be played falls back to the cross-fade. While its window is minimised or hidden the show
// holds where it is, drawing nothing and with no timer running, and goes on when the window is back.
// Timers run on the main run loop, so tests drive them with the manual clock. Main thread only.

#include "Slideshow/SlideshowControlBar.h"
#include "Slideshow/SlideshowFileInfo.h"
#include "Slideshow/SlideshowTheme.h"
#include "Slideshow/SlideshowViewHost.h"

#include "Kit/LMEquivalentResponder.h"
#include "Kit/ShowModeController.h"

#include <QDateTime>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <QSize>
#include <deque>
#include <map>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace Dove {
struct ZephraSceneFile;
}
class MainConfig;
class SlideshowDovePresenter;
class SlideshowMenus;
class SlideshowMusic;
class SlideshowMusicSink;
class SlideshowNoticeView;
class SlideshowThemeMgr;
class SlideshowView;
namespace kpv {
class OperationQueue;
class Timer;
}

class SlideshowViewController : public ShowModeController,
                                public LMEquivalentResponder,
                                private SlideshowControlBarDelegate {
public:
    static constexpr long kShowMode = 32;
    static constexpr double kSlideDuration = 3.0;
    static constexpr double kDefaultFadeDuration = 1.0;
    static constexpr double kFadeStep = 1.0 / 30.0;
    // The controls hide when the pointer has rested this long.
    static constexpr double kControlsHideDelay = 3.0;
    // Photos a 3D theme keeps decoded ahead of its groups, at most.
    static constexpr std::size_t kMaxPhotosAhead = 12;

    // Decodes a slide to fit `size` (the screen's pixels); runs on a worker thread. A null image:
    // unreadable, with the reason in `error` when the loader knows it.
    using SlideLoader = std::function<QImage(const SlideshowFileInfo& slide, QSize size, QString* error)>;
    using PlainSlideLoader = std::function<QImage(const SlideshowFileInfo& slide, QSize size)>;
    // The frames of an animated slide (an animated GIF) with each frame's time in seconds; empty
    // for a still picture. The cross-fade plays them while the slide is shown.
    struct SlideFrames {
        std::vector<QImage> frames;
        std::vector<double> delays;
    };
    using FramesLoader = std::function<SlideFrames(const SlideshowFileInfo& slide, QSize size)>;
    static SlideFrames defaultFramesLoader(const SlideshowFileInfo& slide, QSize size);
    // Frames kept of one animation, and the pixels they may take together, at most.
    static constexpr std::size_t kMaxAnimationFrames = 500;
    static constexpr qint64 kMaxAnimationBytes = 256ll * 1024 * 1024;
    // ... and no more than this many bytes of frames for each byte of the file: a frame of a few
    // bytes is a whole screen once drawn, and a kilobyte of one-pixel frames on a large screen
    // would otherwise keep hundreds of megabytes. Real animations keep far less for each byte
    // (a GIF's data holds no more than 4,096 pixels a byte), and a long one plays what fits.
    static constexpr qint64 kMaxAnimationBytesPerFileByte = 4096 * 4;
    // An animated slide stays for one pass of its animation, up to this long.
    static constexpr double kMaxAnimatedSlideDuration = 20.0;

    // `mainConfig` (not owned, may be null) gives the transition duration.
    explicit SlideshowViewController(SlideshowViewHost& host, MainConfig* mainConfig = nullptr);
    ~SlideshowViewController() override;
    SlideshowViewController(const SlideshowViewController&) = delete;
    SlideshowViewController& operator=(const SlideshowViewController&) = delete;

    void setSlideLoader(SlideLoader loader) { m_loader = std::move(loader); }
    void setSlideLoader(PlainSlideLoader loader);
    void setFramesLoader(FramesLoader loader) { m_framesLoader = std::move(loader); }
    static QImage defaultSlideLoader(const SlideshowFileInfo& slide, QSize size, QString* error = nullptr);
    // What a look at a slide's file finds: whether it is there, and its size and when it was last
    // written, which tell a photo rewritten by another program since it was decoded. A check that
    // answers only whether the file is there leaves the rest unknown, and never tells a rewrite.
    struct FileState {
        FileState(bool there = false)
            : exists(there)
        {
        }
        bool exists = false;
        qint64 size = -1;
        QDateTime modified;
        bool rewrittenSince(const FileState& before) const
        {
            return exists && before.exists && (size != before.size || modified != before.modified);
        }
    };
    // Looks at a slide's file. It runs on a worker thread, never the main one: a folder on the
    // network may take long to answer, and the show's frames must not wait for it.
    using FileCheck = std::function<FileState(const QString& path)>;
    void setFileCheck(FileCheck check) { m_fileCheck = std::move(check); }
    // A 3D theme looks this often whether the files of the photos to come are still there.
    static constexpr double kFileCheckInterval = 1.0;
    // Reads a 3D theme's scene file and the pictures it names, for the player to build from. It
    // runs on a worker thread while the first photos decode: the window stays alive meanwhile,
    // and Esc ends the start.
    using SceneReader = std::function<std::shared_ptr<Dove::ZephraSceneFile>(const SlideshowTheme& theme)>;
    void setSceneReader(SceneReader reader) { m_sceneReader = std::move(reader); }
    // The themes to offer (not owned, may be null: the cross-fade only).
    void setThemeMgr(SlideshowThemeMgr* themeMgr) { m_themeMgr = themeMgr; }
    // Where the music goes: the program gives the sound device's sink; without one the
    // slideshow is silent and never touches the sound system.
    void setMusicSinkFactory(std::function<std::unique_ptr<SlideshowMusicSink>()> factory);

    // Starts the slideshow mode at `startFromIndex` (an index outside the list starts at the first
    // slide). An empty list does nothing.
    void startSlideshowWithFileInfos(std::vector<SlideshowFileInfoPtr> fileInfos, long startFromIndex);
    // Leaves the slideshow mode for the mode shown before it.
    void endSlideshow();
    // Plays `theme` from the slide on screen on, and keeps it in the settings as the choice.
    void chooseTheme(const SlideshowTheme& theme);
    void togglePause();
    // Shows the slide `delta` places on (negative: back) at once, round the list. A paused
    // slideshow stays paused on that slide.
    void stepSlides(long delta);
    // Shows slide `index` at once, as a step does (Home: the first, End: the last).
    void showSlideAt(long index);

    // ---- State, for the shell and tests ----
    bool isPlaying() const { return m_playing; }
    bool isPaused() const { return m_paused; }
    // Whether the slideshow waits for its window to come back on screen (minimised, or hidden).
    bool isHeldOffScreen() const { return m_heldOffScreen; }
    // The theme that plays (none: the cross-fade without a catalogue entry).
    const std::optional<SlideshowTheme>& currentTheme() const { return m_theme; }
    bool isPlaying3D() const { return m_dove != nullptr; }
    SlideshowDovePresenter* dovePresenter() const { return m_dove.get(); }
    SlideshowControlBar* controlBar() const { return m_bar; }
    SlideshowMenus* menus() const { return m_menus.get(); }
    SlideshowMusic* music() const { return m_music.get(); }
    // Why the chosen 3D theme did not play (empty when it did).
    QString lastThemeProblem() const { return m_themeProblem; }
    // The message over the slideshow (hidden when there is none).
    SlideshowNoticeView* notice() const { return m_notice; }
    static constexpr double kNoticeDuration = 5.0;
    long curSlideIndex() const { return m_curIndex; }
    bool firstFrameDisplayed() const { return m_firstFrameDisplayed; }
    // How long a slide stays after its transition, and how long the transition takes.
    double slideDuration() const { return kSlideDuration; }
    double fadeDuration() const;
    SlideshowView* view();
    // Blocks until the queued slide loads and scene readings have finished and been applied (tests).
    void waitForSlideLoads();
    // Blocks until the reading of a 3D theme's scene has finished and been applied (tests).
    void waitForSceneRead();
    // Blocks until the queued file checks have finished and been applied (tests).
    void waitForFileChecks();

    // ---- Show-mode controller: the slideshow shows in the main window, keeps no favourites and
    // takes no menu command (its keys leave it) ----
    bool canDoAction(long) override { return false; }
    void doAction(long, long) override {}
    bool isFavoriteFile(const LMPathString&) const override { return false; }
    void popUpContextMenuWithEvent(const kpv::Event&) override {}
    kpv::Window* window() const override { return nullptr; }

    // ---- LMEquivalentResponder ----
    bool performKeyDownEquivalent(const kpv::Event& e) override;

private:
    // ---- SlideshowControlBarDelegate ----
    void controlBarPauseClicked() override { togglePause(); }
    void controlBarThemesClicked(LMButton* button) override;
    void controlBarMusicClicked(LMButton* button) override;
    void controlBarEndClicked() override { endSlideshow(); }
    void controlBarMusicHovered(LMButton* button, bool inside) override;

    // ---- themes, 3D, controls and music (SlideshowViewControllerThemes.cpp) ----
    std::optional<SlideshowTheme> chosenTheme() const;
    void beginPresentation(long index);
    void endPresentation();
    void requestPhotos();
    void photoLoaded(unsigned long long generation, long index, QImage image);
    void startDove();
    // Reads the theme's scene file off the main thread; the theme starts once it and the first
    // photo are there.
    void readDoveScene();
    void stepDoveTo(long target);
    // The slide the user is looking at: in a 3D theme the photo seen largest on screen.
    long slideOnScreen() const;
    void restartDove();
    QImage takePhoto();
    // Photos whose files are gone (moved to the trash, deleted by another program) are not shown
    // again: those decoded ahead are dropped, those kept to stand in are forgotten, and the cards
    // that wait with one to come forward take another photo.
    // What the latest check of the files found; the checks run on their own queue.
    bool slideGone(long index) const;
    void forgetGoneStandIns();
    // The numbers, as the player counts them, of the photos on its cards and kept to stand in
    // whose files are gone.
    std::vector<long> gonePhotosInUse() const;
    void checkDoveFiles();
    void doveFilesChecked(const std::vector<std::pair<long, QString>>& gone,
                          const std::vector<std::pair<long, QString>>& there, const std::map<long, FileState>& now);
    // A photo rewritten by another program since it was decoded: decoded again, and the photos
    // decoded ahead and the cards that show it take the picture as it is now.
    bool rewrittenSinceDecoded(long index, const FileState& now) const;
    void dovePhotoRewritten(unsigned long long generation, long index, QImage image);
    void updateFileCheckTimer();
    // Photos to keep decoded ahead of a 3D theme that plays.
    std::size_t dovePhotosAhead() const;
    // The theme started before the photos for all its cards were decoded: the cards that show
    // a photo shown before take the photos decoded since.
    void fillDoveStandIns();
    // The window has grown under a 3D theme: the photos on its cards and those kept to stand in,
    // decoded for the smaller window, are decoded again at its size and put in their place.
    void redecodeDovePhotos();
    void dovePhotoRedecoded(unsigned long long generation, long index, QImage image);
    void fallBackTo2D(const QString& why, long index);
    void startMusic();
    void ensureMusicAndMenus();
    void chooseMusicFile();
    void showControls();
    void hideControlsLater();
    void showNotice(const QString& text);
    kpv::Point windowPointAbove(kpv::View* button) const;

    void didChangeMainShowMode(long oldMode, long newMode);
    void stopTimers();
    void requestSlide(long index);
    // Decodes slide `index` on the queue and hands it to `loaded` on the main thread.
    using SlideLoaded = void (SlideshowViewController::*)(unsigned long long, long, QImage);
    void loadSlide(long index, SlideLoaded loaded);
    // Decodes slide `index` again for a 3D theme's cards, once while `pending` holds it.
    void requestDoveDecode(std::set<long>& pending, long index, SlideLoaded loaded);
    // The size in the screen's pixels that slides are decoded for now.
    QSize decodeSize();
    // The screen's pixels per point.
    double backingScale();
    // The window has grown: the slide on screen, decoded for the smaller window, is decoded again
    // (after the resizing has settled) and the one ready next is dropped, so that neither is shown
    // smaller than the window.
    void slideshowResized();
    void redecodeForNewSize();
    void slideRedecoded(unsigned long long generation, long index, QImage image);
    // Counts a slide that could not be read; true when none can, and the slideshow has ended
    // with the user told why.
    bool slideFailed(long index);
    void slideLoaded(unsigned long long generation, long index, QImage image);
    void showSlide(long index, QImage image);
    void startAnimation();
    void nextAnimationFrame();
    void scheduleNext();
    // Shows the slide decoded ahead, as the show's next slide or as the one stepped to, once its
    // file has been looked at off the main thread: one gone since it was decoded (moved to the
    // trash, deleted by another program) is passed over, and one rewritten by another program is
    // decoded again and shown as it is now.
    void showReadySlideOnceLookedAt();
    void advance();
    // Shows slide `target` at once: the slide the user stepped to.
    void goToSlide(long target);
    // The slide a step not yet on screen is waiting for.
    long steppingTo() const;
    void fadeStep();
    long nextIndex(long index) const;
    // The slide that comes instead of one that cannot be shown: the one beyond it in the way the
    // user stepped (Left and End step back), else the one after it.
    long passOverIndex(long index) const;
    // The slide a step to `target` (an arrow, Home or End) lands on: the first the way the user
    // steps whose file is not known to be gone.
    long passOverGone(long target) const;

    SlideshowViewHost& m_host;
    MainConfig* m_mainConfig;
    SlideLoader m_loader;
    FramesLoader m_framesLoader;
    // Frames of slides loaded for the cross-fade, by slide index, until shown; those of the slide
    // on screen and the frame it shows.
    std::map<long, SlideFrames> m_loadedFrames;
    SlideFrames m_readyFrames;
    SlideFrames m_curFrames;
    std::size_t m_curFrame = 0;
    std::shared_ptr<kpv::Timer> m_frameTimer;
    std::unique_ptr<SlideshowView> m_view;
    // A superview deletes its subviews: when the window's content view goes first, it takes our
    // view with it, which this guard (the view's widget) notices.
    QPointer<QWidget> m_viewGuard;
    std::unique_ptr<kpv::OperationQueue> m_queue;
    std::shared_ptr<bool> m_alive;
    std::vector<SlideshowFileInfoPtr> m_slides;
    long m_modeBefore = 0;
    long m_curIndex = -1;
    // The slide the presentation (a start, or a theme chosen) began with.
    long m_presentationStart = 0;
    bool m_playing = false;
    bool m_firstFrameDisplayed = false;
    // Each start bumps the generation, so that loads of an earlier slideshow are dropped.
    unsigned long long m_generation = 0;
    // The slide being loaded and the one that is ready to come next.
    long m_loadingIndex = -1;
    long m_readyIndex = -1;
    QImage m_readyImage;
    bool m_waitingForSlide = false;
    // The slide awaited was asked for by the user: it comes at once, without the cross-fade.
    bool m_stepping = false;
    // The way the user's last step went: 1 forward, -1 back.
    long m_stepDirection = 1;
    long m_failedInARow = 0;
    // The sizes the slide on screen and the one ready next were decoded for, and that of the load
    // being handed over.
    QSize m_curDecodeSize;
    QSize m_readyDecodeSize;
    QSize m_loadedDecodeSize;
    // Whether the file of the slide ready next, and of the load being handed over, was there
    // when it was decoded (a picture handed in without a file is never looked for), and as what.
    bool m_readyHadFile = false;
    bool m_loadedHadFile = false;
    FileState m_readyFileState;
    FileState m_loadedFileState;
    std::shared_ptr<kpv::Timer> m_resizeTimer;
    static constexpr double kResizeSettleDelay = 0.3;
    // Why the latest slide could not be read, by slide index (filled by the loads).
    std::map<long, QString> m_loadErrors;
    std::shared_ptr<kpv::Timer> m_slideTimer;
    std::shared_ptr<kpv::Timer> m_fadeTimer;
    double m_fadeProgress = 1.0;
    QImage m_previousImage;
    bool m_paused = false;
    // While its window cannot be seen the slideshow holds where it is, as paused but without the
    // user's say: nothing changes on screen and no timer runs until the window is back.
    bool m_heldOffScreen = false;
    bool m_heldFading = false;
    bool held() const { return m_paused || m_heldOffScreen; }
    void windowOnScreenChanged(bool onScreen);
    void startFade();

    // Themes and the 3D player.
    SlideshowThemeMgr* m_themeMgr = nullptr;
    std::optional<SlideshowTheme> m_theme;
    SlideshowThemeParam m_param;
    std::unique_ptr<SlideshowDovePresenter> m_dove;
    QString m_themeProblem;
    // A photo decoded for the 3D player: its slide, its pixels, and the size it was reduced to
    // fit (invalid: the whole picture, never worth decoding again).
    struct DovePhoto {
        long index;
        QImage image;
        QSize reducedFor;
        FileState state;
    };
    // Photos decoded for the 3D player, in slide order.
    std::deque<DovePhoto> m_photos;
    long m_nextPhotoIndex = 0;
    int m_photosLoading = 0;
    std::size_t m_photosWanted = 0;
    bool m_doveWaiting = false;
    // The theme's scene file, read on m_sceneQueue (the reading drops a result of an earlier
    // presentation by the generation).
    SceneReader m_sceneReader;
    std::unique_ptr<kpv::OperationQueue> m_sceneQueue;
    std::shared_ptr<Dove::ZephraSceneFile> m_doveScene;
    bool m_doveSceneRead = false;
    // A step in a 3D theme waits for the photo it starts from; that photo's slide.
    bool m_doveRestarting = false;
    long m_doveStepTarget = -1;
    // The slide index of each photo the player took since it (re)started, the oldest dropped.
    std::deque<long> m_takenSlides;
    std::deque<QSize> m_takenReducedFor;
    std::deque<FileState> m_takenFileState;
    long m_takenFirst = 0;
    // Slides being decoded again, larger, for the cards of a grown window, and as they are now
    // for those rewritten.
    std::set<long> m_doveRedecoding;
    std::set<long> m_doveRewriting;
    static constexpr std::size_t kTakenKept = 64;
    // The files of the photos to come and of those in use, looked at off the main thread: the
    // slides found gone, one check at a time, and another wanted once it is done.
    FileCheck m_fileCheck;
    std::unique_ptr<kpv::OperationQueue> m_checkQueue;
    std::set<long> m_goneSlides;
    bool m_checking = false;
    bool m_checkAgain = false;
    std::shared_ptr<kpv::Timer> m_fileCheckTimer;

    // Controls and music.
    SlideshowControlBar* m_bar = nullptr; // owned by the view
    SlideshowNoticeView* m_notice = nullptr; // owned by the view
    std::shared_ptr<kpv::Timer> m_noticeTimer;
    std::shared_ptr<kpv::Timer> m_controlsTimer;
    std::function<std::unique_ptr<SlideshowMusicSink>()> m_sinkFactory;
    std::unique_ptr<SlideshowMusic> m_music;
    std::unique_ptr<SlideshowMenus> m_menus;
};
