#pragma once
// The slideshow mode (show mode 32): a full-window slideshow over file records, starting at a
// given slide, showing each for a few seconds and cross-fading to the next over the settings'
// transition duration,
// round and round until Esc or a click ends it and the mode shown before comes back.
//
// Slides are decoded one at a time on the controller's own queue, the next one while the current
// one is shown; a slide the viewer had already decoded is used as it is. A slide that cannot be
// read is passed over; when none can be read the slideshow ends. Timers run on the main run loop,
// so tests drive them with the manual clock. Main thread only.

#include "Slideshow/SlideshowFileInfo.h"
#include "Slideshow/SlideshowViewHost.h"

#include "Kit/LMEquivalentResponder.h"
#include "Kit/ShowModeController.h"

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <QSize>
#include <functional>
#include <memory>
#include <vector>

class MainConfig;
class SlideshowView;
namespace kpv {
class OperationQueue;
class Timer;
}

class SlideshowViewController : public ShowModeController, public LMEquivalentResponder {
public:
    static constexpr long kShowMode = 32;
    static constexpr double kSlideDuration = 3.0;
    static constexpr double kDefaultFadeDuration = 1.0;
    static constexpr double kFadeStep = 1.0 / 30.0;

    // Decodes a slide to fit `size` (points); runs on a worker thread. A null image: unreadable.
    using SlideLoader = std::function<QImage(const SlideshowFileInfo& slide, QSize size)>;

    // `mainConfig` (not owned, may be null) gives the transition duration.
    explicit SlideshowViewController(SlideshowViewHost& host, MainConfig* mainConfig = nullptr);
    ~SlideshowViewController() override;
    SlideshowViewController(const SlideshowViewController&) = delete;
    SlideshowViewController& operator=(const SlideshowViewController&) = delete;

    void setSlideLoader(SlideLoader loader) { m_loader = std::move(loader); }
    static QImage defaultSlideLoader(const SlideshowFileInfo& slide, QSize size);

    // Starts the slideshow mode at `startFromIndex` (an index outside the list starts at the first
    // slide). An empty list does nothing.
    void startSlideshowWithFileInfos(std::vector<SlideshowFileInfoPtr> fileInfos, long startFromIndex);
    // Leaves the slideshow mode for the mode shown before it.
    void endSlideshow();

    // ---- State, for the shell and tests ----
    bool isPlaying() const { return m_playing; }
    long curSlideIndex() const { return m_curIndex; }
    bool firstFrameDisplayed() const { return m_firstFrameDisplayed; }
    // How long a slide stays after its transition, and how long the transition takes.
    double slideDuration() const { return kSlideDuration; }
    double fadeDuration() const;
    SlideshowView* view();
    // Blocks until the queued slide loads have finished and been applied (tests).
    void waitForSlideLoads();

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
    void didChangeMainShowMode(long oldMode, long newMode);
    void stopTimers();
    void requestSlide(long index);
    void slideLoaded(unsigned long long generation, long index, QImage image);
    void showSlide(long index, QImage image);
    void scheduleNext();
    void advance();
    void fadeStep();
    long nextIndex(long index) const;

    SlideshowViewHost& m_host;
    MainConfig* m_mainConfig;
    SlideLoader m_loader;
    std::unique_ptr<SlideshowView> m_view;
    // A superview deletes its subviews: when the window's content view goes first, it takes our
    // view with it, which this guard (the view's widget) notices.
    QPointer<QWidget> m_viewGuard;
    std::unique_ptr<kpv::OperationQueue> m_queue;
    std::shared_ptr<bool> m_alive;
    std::vector<SlideshowFileInfoPtr> m_slides;
    long m_modeBefore = 0;
    long m_curIndex = -1;
    bool m_playing = false;
    bool m_firstFrameDisplayed = false;
    // Each start bumps the generation, so that loads of an earlier slideshow are dropped.
    unsigned long long m_generation = 0;
    // The slide being loaded and the one that is ready to come next.
    long m_loadingIndex = -1;
    long m_readyIndex = -1;
    QImage m_readyImage;
    bool m_waitingForSlide = false;
    long m_failedInARow = 0;
    std::shared_ptr<kpv::Timer> m_slideTimer;
    std::shared_ptr<kpv::Timer> m_fadeTimer;
    double m_fadeProgress = 1.0;
    QImage m_previousImage;
};
