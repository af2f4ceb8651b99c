#include "Slideshow/SlideshowViewController.h"

#include "Slideshow/SlideshowBitmapConverter.h"
#include "Slideshow/SlideshowDovePresenter.h"
#include "Slideshow/SlideshowMenus.h"
#include "Slideshow/SlideshowMusic.h"
#include "Slideshow/SlideshowNoticeView.h"
#include "Slideshow/SlideshowNotifications.h"
#include "Slideshow/SlideshowView.h"

#include "Model/MainConfig.h"
#include "appkit/Event.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"
#include "imageio/DecodeBudget.h"
#include "imageio/FileAccess.h"
#include "imageio/ToolkitReadLimit.h"

#include <QBuffer>
#include <QDebug>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {
constexpr long kShowModeView = 4;

// An image decoded to fit `decodedFor` was made smaller than the picture when it touches that
// box; a window larger than the box then deserves a larger copy.
bool reducedAndTooSmall(const QImage& image, QSize decodedFor, QSize now)
{
    if (image.isNull() || !decodedFor.isValid())
        return false;
    const bool reduced = image.width() >= decodedFor.width() - 1 || image.height() >= decodedFor.height() - 1;
    return reduced && (now.width() > decodedFor.width() || now.height() > decodedFor.height());
}

// What the viewer decoded stands for a file only while the file is as it was then: a photo that
// another program changed or removed since is shown as it is now, or passed over.
bool handedOverImageIsCurrent(const LMImage& image, const QString& path)
{
    if (!kpv::pathStatus(path).exists)
        return false;
    const LMFileImgBaseInfoPtr& info = image.originalImgBaseInfo();
    const bool known = info && (info->fileModificationDate().isValid() || info->fileIdentity().isValid());
    return !known || !info->fileModified();
}
} // namespace

SlideshowViewController::SlideshowViewController(SlideshowViewHost& host, MainConfig* mainConfig)
    : m_host(host)
    , m_mainConfig(mainConfig)
    , m_loader(&SlideshowViewController::defaultSlideLoader)
    , m_framesLoader(&SlideshowViewController::defaultFramesLoader)
    , m_queue(std::make_unique<kpv::OperationQueue>())
    , m_alive(std::make_shared<bool>(true))
    , m_fileCheck([](const QString& path) {
        const kpv::PathStatus status = kpv::pathStatus(path);
        FileState state(status.exists);
        state.size = status.size;
        state.modified = status.modified;
        return state;
    })
    , m_checkQueue(std::make_unique<kpv::OperationQueue>())
    , m_sceneReader(&SlideshowPlayerDove::readScene)
    , m_sceneQueue(std::make_unique<kpv::OperationQueue>())
{
    // One slide at a time: the next slide is all that is ever needed ahead.
    m_queue->setName(QStringLiteral("SlideshowPreload"));
    m_queue->setMaxConcurrentOperationCount(1);
    m_checkQueue->setName(QStringLiteral("SlideshowFileCheck"));
    m_checkQueue->setMaxConcurrentOperationCount(1);
    m_sceneQueue->setName(QStringLiteral("SlideshowScene"));
    m_sceneQueue->setMaxConcurrentOperationCount(1);
    auto& center = kpv::NotificationCenter::defaultCenter();
    center.addObserver(this, QStringLiteral("didChangeMainShowMode"), nullptr, [this](const kpv::Notification& n) {
        didChangeMainShowMode(n.userInfo.value(QStringLiteral("old")).toLongLong(),
                              n.userInfo.value(QStringLiteral("new")).toLongLong());
    });
    center.addObserver(this, QLatin1String(QueryAutoHideCursorNotification), nullptr,
                       [this](const kpv::Notification& n) {
                           // While the slideshow is shown but no slide is on screen yet, the
                           // pointer stays: the user is waiting for the first picture.
                           if (!m_playing || m_firstFrameDisplayed)
                               return;
                           const auto reply = n.userInfo.value(QLatin1String(QueryAutoHideCursorReplyKey))
                                                  .value<SlideshowQueryReply>();
                           if (reply)
                               reply->insert(QLatin1String(DisableAutoHideCursorKey), true);
                       });
    center.addObserver(this, QLatin1String(kpv::WindowDidChangeOnScreenNotification), nullptr,
                       [this](const kpv::Notification& n) {
                           const kpv::Window* window = m_playing && m_viewGuard && m_view ? m_view->window() : nullptr;
                           if (window && n.object == window)
                               windowOnScreenChanged(window->isOnScreen());
                       });
}

SlideshowViewController::~SlideshowViewController()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    *m_alive = false;
    stopTimers();
    m_queue->cancelAllOperations();
    m_checkQueue->cancelAllOperations();
    m_sceneQueue->cancelAllOperations();
    m_queue->waitUntilAllOperationsAreFinished();
    m_checkQueue->waitUntilAllOperationsAreFinished();
    m_sceneQueue->waitUntilAllOperationsAreFinished();
    // The 3D player and the menus go while the view they live in is still there.
    m_dove.reset();
    m_menus.reset();
    m_music.reset();
    if (m_controlsTimer)
        m_controlsTimer->invalidate();
    if (m_noticeTimer)
        m_noticeTimer->invalidate();
    if (m_view && !m_viewGuard)
        (void)m_view.release(); // already deleted with its superview
    else if (m_view)
        m_view->removeFromSuperview();
}

SlideshowView* SlideshowViewController::view()
{
    if (m_view && !m_viewGuard)
        (void)m_view.release(); // deleted with its superview
    if (!m_view) {
        m_view = std::make_unique<SlideshowView>();
        // A click beside an open menu puts the menu away, as it does beside any menu; the show
        // goes on, and the next click ends it.
        m_view->setEndHandler([this] {
            if (m_menus && m_menus->isAnyShown()) {
                m_menus->hideAll();
                return;
            }
            endSlideshow();
        });
        m_view->setPointerMovedHandler([this] { showControls(); });
        m_view->setResizedHandler([this] { slideshowResized(); });
        m_viewGuard = m_view->widget();
        m_bar = new SlideshowControlBar(*this);
        m_bar->setHidden(true);
        m_view->addSubview(m_bar);
        m_notice = new SlideshowNoticeView();
        m_notice->setHidden(true);
        m_view->addSubview(m_notice);
        m_menus.reset(); // its menus lived in the old view
    }
    return m_view.get();
}

double SlideshowViewController::fadeDuration() const
{
    if (m_mainConfig) {
        const qint64 seconds = m_mainConfig->curSlideshowEffectDuration();
        if (seconds > 0)
            return double(std::min<qint64>(seconds, 60));
    }
    return kDefaultFadeDuration;
}

void SlideshowViewController::setSlideLoader(PlainSlideLoader loader)
{
    if (!loader) {
        m_loader = nullptr;
        return;
    }
    m_loader = [loader = std::move(loader)](const SlideshowFileInfo& slide, QSize size, QString*) {
        return loader(slide, size);
    };
}

QImage SlideshowViewController::defaultSlideLoader(const SlideshowFileInfo& slide, QSize size, QString* error)
{
    QImage image;
    const LMImagePtr prev = slide.bestPrevLoadedImage();
    if (prev && handedOverImageIsCurrent(*prev, slide.filePath().path()))
        image = prev->convertToUprightImage(0);
    if (image.isNull())
        image = loadSlideshowImageChecked(slide.filePath().path(), size, error);
    if (image.isNull())
        return {};
    // Keep no more pixels than the window can show.
    if (size.isValid() && (image.width() > size.width() || image.height() > size.height()))
        image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

SlideshowViewController::SlideFrames SlideshowViewController::defaultFramesLoader(const SlideshowFileInfo& slide,
                                                                                 QSize size)
{
    // Read as bytes first: the file is opened without blocking and must be a regular file, so a
    // pipe named like a photo costs nothing instead of holding the slideshow for good.
    constexpr std::int64_t kMaxAnimationFileBytes = std::int64_t(256) << 20;
    QByteArray bytesOnDisk;
    if (!kpv::readRegularFile(slide.filePath().path(), kMaxAnimationFileBytes, &bytesOnDisk))
        return {};
    QBuffer buffer(&bytesOnDisk);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.supportsAnimation() || reader.imageCount() == 1)
        return {};
    // The toolkit draws a GIF's frames on its whole logical screen, whatever size it tells
    // (that of the first frame).
    QSize full = reader.size();
    if (bytesOnDisk.startsWith("GIF8") && bytesOnDisk.size() >= 10) {
        const auto* head = reinterpret_cast<const uchar*>(bytesOnDisk.constData());
        full = full.expandedTo(QSize(head[6] | head[7] << 8, head[8] | head[9] << 8));
    }
    if (!full.isValid() || !slideshowRgbaByteCount(full.width(), full.height(), nullptr))
        return {};
    if (size.isValid() && (full.width() > size.width() || full.height() > size.height()))
        reader.setScaledSize(full.scaled(size, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    // The reader's full-size canvas and the frame it reads into, then every frame kept, count
    // against the process's decode budget while the frames decode, as every other decode does.
    kpv::DecodeBudget& budget = kpv::DecodeBudget::shared();
    std::vector<kpv::DecodeBudget::Reservation> held;
    QString refused;
    held.push_back(budget.reserve(uint64_t(full.width()) * uint64_t(full.height()) * 8, &refused));
    if (!held.back().isValid()) {
        qWarning().noquote() << kpv::displayFileName(slide.filePath().path()) << refused;
        return {};
    }
    SlideFrames out;
    qint64 bytes = 0;
    const qint64 mostBytes = std::min<qint64>(kMaxAnimationBytes, qint64(bytesOnDisk.size()) * kMaxAnimationBytesPerFileByte);
    while (out.frames.size() < kMaxAnimationFrames) {
        QImage frame;
        {
            const kpv::ToolkitReadLimit limit(int(kMaxAnimationBytes / (1024 * 1024)));
            frame = reader.read();
        }
        if (frame.isNull())
            break;
        bytes += frame.sizeInBytes();
        if (bytes > mostBytes)
            break; // a very long animation plays the part that fits
        held.push_back(budget.reserve(uint64_t(frame.sizeInBytes()), &refused));
        if (!held.back().isValid())
            break;
        // Frames of (almost) no time are shown as a tenth of a second, as viewers commonly do.
        const int ms = reader.nextImageDelay();
        out.delays.push_back(ms > 10 ? ms / 1000.0 : 0.1);
        out.frames.push_back(std::move(frame));
    }
    if (out.frames.size() < 2)
        return {};
    return out;
}

void SlideshowViewController::startSlideshowWithFileInfos(std::vector<SlideshowFileInfoPtr> fileInfos,
                                                          long startFromIndex)
{
    fileInfos.erase(std::remove(fileInfos.begin(), fileInfos.end(), nullptr), fileInfos.end());
    if (fileInfos.empty())
        return;
    if (startFromIndex < 0 || startFromIndex >= long(fileInfos.size()))
        startFromIndex = 0;
    stopTimers();
    m_queue->cancelAllOperations();
    ++m_generation;
    m_slides = std::move(fileInfos);
    m_curIndex = -1;
    m_readyIndex = -1;
    m_readyImage = QImage();
    m_loadingIndex = -1;
    m_failedInARow = 0;
    m_loadErrors.clear();
    m_goneSlides.clear();
    m_firstFrameDisplayed = false;
    m_previousImage = QImage();
    m_stepping = false;
    view()->setSlides(QImage(), QImage(), 1.0);
    m_playing = true;
    m_paused = false;
    m_heldOffScreen = false;
    // A slideshow ended while paused leaves its bar showing Play; this one plays.
    if (m_bar)
        m_bar->setPaused(false);
    const long mode = m_host.showMode();
    if (mode != kShowMode) {
        m_modeBefore = mode;
        m_host.setShowMode(kShowMode);
    }
    beginPresentation(startFromIndex);
}

void SlideshowViewController::endSlideshow()
{
    if (!m_playing)
        return;
    if (m_host.showMode() == kShowMode) {
        const long back = m_modeBefore == 0 || m_modeBefore == kShowMode ? kShowModeView : m_modeBefore;
        const long shown = slideOnScreen();
        if (shown >= 0 && shown < long(m_slides.size()))
            m_host.slideshowWillEnd(m_slides[std::size_t(shown)]->filePath(), back);
        m_host.setShowMode(back);
    } else
        didChangeMainShowMode(kShowMode, m_host.showMode());
}

void SlideshowViewController::didChangeMainShowMode(long oldMode, long newMode)
{
    if (newMode == kShowMode) {
        if (kpv::View* container = m_host.contentView()) {
            SlideshowView* v = view();
            if (v->superview() != container) {
                v->removeFromSuperview();
                container->addSubview(v);
            }
            v->setFrame(container->bounds());
            v->setHidden(false);
            showControls();
        }
        m_host.registEquivalentResponder(this, true);
        return;
    }
    if (oldMode != kShowMode)
        return;
    // Leaving the mode stops everything; loads still queued are dropped by the generation.
    m_playing = false;
    m_paused = false;
    m_heldOffScreen = false;
    endPresentation();
    if (m_music)
        m_music->stop();
    if (m_menus)
        m_menus->hideAll();
    if (m_controlsTimer)
        m_controlsTimer->invalidate();
    m_controlsTimer.reset();
    if (m_noticeTimer)
        m_noticeTimer->invalidate();
    m_noticeTimer.reset();
    if (m_bar && m_viewGuard) {
        m_bar->setHidden(true);
        m_notice->setHidden(true);
    }
    m_queue->cancelAllOperations();
    m_sceneQueue->cancelAllOperations();
    m_host.registEquivalentResponder(this, false);
    if (m_view && m_viewGuard) {
        m_view->removeFromSuperview();
        m_view->setSlides(QImage(), QImage(), 1.0);
    }
    m_slides.clear();
    m_readyImage = QImage();
    m_previousImage = QImage();
}

void SlideshowViewController::stopTimers()
{
    if (m_slideTimer)
        m_slideTimer->invalidate();
    if (m_fadeTimer)
        m_fadeTimer->invalidate();
    if (m_frameTimer)
        m_frameTimer->invalidate();
    if (m_resizeTimer)
        m_resizeTimer->invalidate();
    if (m_fileCheckTimer)
        m_fileCheckTimer->invalidate();
    m_fileCheckTimer.reset();
    m_resizeTimer.reset();
    m_slideTimer.reset();
    m_fadeTimer.reset();
    m_frameTimer.reset();
}

long SlideshowViewController::nextIndex(long index) const
{
    return m_slides.empty() ? -1 : (index + 1) % long(m_slides.size());
}

long SlideshowViewController::passOverIndex(long index) const
{
    // A 3D theme's step waits for its photos while the theme restarts.
    const bool stepping = m_dove ? m_doveRestarting : m_stepping;
    if (!stepping || m_stepDirection > 0 || m_slides.empty())
        return nextIndex(index);
    const long count = long(m_slides.size());
    return (index - 1 + count) % count;
}

long SlideshowViewController::passOverGone(long target) const
{
    const long count = long(m_slides.size());
    for (long tries = 1; slideGone(target) && tries < count; ++tries)
        target = ((target + m_stepDirection) % count + count) % count;
    return target;
}

void SlideshowViewController::requestSlide(long index)
{
    if (index < 0 || index >= long(m_slides.size()) || index == m_loadingIndex || index == m_readyIndex)
        return;
    m_loadingIndex = index;
    loadSlide(index, &SlideshowViewController::slideLoaded);
}

double SlideshowViewController::backingScale()
{
    const kpv::Window* window = view()->window();
    return window ? std::clamp(window->backingScaleFactor(), 1.0, 4.0) : 1.0;
}

QSize SlideshowViewController::decodeSize()
{
    // Decoded for the screen's pixels, not its points: on a double-density screen a photo made
    // for the points would be drawn twice as large as it is, and soft.
    const kpv::Rect bounds = view()->bounds();
    const double scale = backingScale();
    return QSize(int(std::ceil(std::max(1.0, bounds.width()) * scale)),
                 int(std::ceil(std::max(1.0, bounds.height()) * scale)));
}

void SlideshowViewController::loadSlide(long index, SlideLoaded loaded)
{
    const SlideshowFileInfoPtr slide = m_slides[std::size_t(index)];
    const unsigned long long generation = m_generation;
    const kpv::Rect bounds = view()->bounds();
    const QSize size = decodeSize();
    const double scale = backingScale();
    const bool sized = bounds.width() >= 1 && bounds.height() >= 1;
    std::weak_ptr<bool> alive = m_alive;
    SlideLoader loader = m_loader;
    // The cross-fade plays an animated slide's frames; a 3D theme takes still photos.
    FramesLoader framesLoader = loaded == &SlideshowViewController::slideLoaded ? m_framesLoader : FramesLoader();
    FileCheck fileCheck = m_fileCheck;
    m_queue->addOperationWithBlock([this, alive, loader, framesLoader, fileCheck, slide, generation, index, size,
                                    scale, sized, loaded] {
        // The file as it is before it is read: a rewrite that comes during the decode, or after
        // it, is told by a later look.
        const FileState before = fileCheck ? fileCheck(slide->filePath().path()) : FileState();
        QString error;
        QImage image = loader ? loader(*slide, sized ? size : QSize(), &error) : QImage();
        SlideFrames frames;
        if (!image.isNull() && framesLoader)
            frames = framesLoader(*slide, sized ? size : QSize());
        const bool hadFile = !image.isNull() && before.exists;
        // Drawn pixel for pixel on the screen: a photo smaller than the window keeps its size in
        // the screen's pixels, as the viewer shows it.
        // A 3D theme's photo is put in the layout of the engine's textures here, off the main
        // thread, so that putting it on a card only copies it.
        if (!image.isNull() && loaded != &SlideshowViewController::slideLoaded)
            image = textureReadyImage(image);
        if (!image.isNull())
            image.setDevicePixelRatio(scale);
        for (QImage& frame : frames.frames)
            frame.setDevicePixelRatio(scale);
        kpv::RunLoop::performOnMainThread(
            [this, alive, generation, index, loaded, image = std::move(image), frames = std::move(frames),
             error = std::move(error), decodedFor = sized ? size : QSize(), hadFile, before]() mutable {
                const auto a = alive.lock();
                if (!a || !*a)
                    return;
                if (generation == m_generation && !frames.frames.empty())
                    m_loadedFrames[index] = std::move(frames);
                if (generation == m_generation && image.isNull())
                    m_loadErrors[index] = error;
                m_loadedDecodeSize = decodedFor;
                m_loadedHadFile = hadFile;
                m_loadedFileState = before;
                (this->*loaded)(generation, index, std::move(image));
            },
            false);
    });
}

void SlideshowViewController::slideLoaded(unsigned long long generation, long index, QImage image)
{
    if (generation != m_generation || !m_playing)
        return;
    if (m_loadingIndex == index)
        m_loadingIndex = -1;
    if (image.isNull()) {
        // Pass over the unreadable slide; a list with nothing readable ends the slideshow.
        if (slideFailed(index))
            return;
        requestSlide(passOverIndex(index));
        return;
    }
    m_failedInARow = 0;
    if (reducedAndTooSmall(image, m_loadedDecodeSize, decodeSize())) {
        // Decoded for the window before it grew: once more, at its size now.
        m_loadedFrames.erase(index);
        requestSlide(index);
        return;
    }
    m_readyIndex = index;
    m_readyImage = std::move(image);
    m_readyDecodeSize = m_loadedDecodeSize;
    m_readyHadFile = m_loadedHadFile;
    m_readyFileState = m_loadedFileState;
    m_readyFrames = SlideFrames();
    if (auto it = m_loadedFrames.find(index); it != m_loadedFrames.end()) {
        m_readyFrames = std::move(it->second);
        m_loadedFrames.erase(it);
    }
    if (m_waitingForSlide)
        advance();
}

bool SlideshowViewController::slideFailed(long index)
{
    if (++m_failedInARow < long(m_slides.size()))
        return false;
    // Nothing in the list can be shown: the slideshow ends, and says why rather than closing
    // without a word.
    const long count = long(m_slides.size());
    const SlideshowFileInfoPtr slide = index >= 0 && index < count ? m_slides[std::size_t(index)] : nullptr;
    const QString name = slide ? kpv::displayFileName(LMPathString::lastPathComponent(slide->filePath().path())) : QString();
    QString why = m_loadErrors.count(index) ? m_loadErrors[index] : QString();
    if (why.isEmpty())
        why = QStringLiteral("the picture cannot be read");
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    const QString message =
        count == 1 ? bundle.localizedStringWithFormat(QStringLiteral("IDS_SS_NOTHING_TO_SHOW_ONE"), name, why)
                   : bundle.localizedStringWithFormat(QStringLiteral("IDS_SS_NOTHING_TO_SHOW"), QString::number(count),
                                                      name, why);
    m_loadErrors.clear();
    endSlideshow();
    m_host.reportProblem(message);
    return true;
}

void SlideshowViewController::advance()
{
    if (held() && !m_stepping)
        return; // resuming shows the next slide
    if (m_readyIndex < 0) {
        m_waitingForSlide = true;
        requestSlide(nextIndex(m_curIndex));
        return;
    }
    m_waitingForSlide = false;
    const long index = m_readyIndex;
    QImage image = std::move(m_readyImage);
    m_readyIndex = -1;
    m_readyImage = QImage();
    if (m_frameTimer)
        m_frameTimer->invalidate();
    m_frameTimer.reset();
    m_curFrames = std::move(m_readyFrames);
    m_readyFrames = SlideFrames();
    m_curFrame = 0;
    m_curDecodeSize = m_readyDecodeSize;
    if (!m_stepping) {
        showSlide(index, std::move(image));
        return;
    }
    // The slide the user stepped to replaces the one shown at once; its time starts now.
    m_stepping = false;
    m_previousImage = QImage();
    m_curIndex = index;
    view()->setSlides(image, QImage(), 1.0);
    if (held())
        requestSlide(nextIndex(index));
    else
        scheduleNext();
}

void SlideshowViewController::stepSlides(long delta)
{
    if (!m_playing || m_doveWaiting || m_slides.size() < 2)
        return;
    // Each press counts: a step still waiting for its slide (decoding, or its file being looked
    // at) is where the next one goes on from, not the slide still on screen.
    const long from = m_dove ? slideOnScreen() : m_stepping ? steppingTo() : m_curIndex;
    if (from < 0)
        return;
    const long count = long(m_slides.size());
    m_stepDirection = delta < 0 ? -1 : 1;
    goToSlide(passOverGone(((from + delta) % count + count) % count));
}

long SlideshowViewController::steppingTo() const
{
    // The step's slide is on its way (decoding) or decoded ahead (its file being looked at); a
    // slide passed over on the way hands the step on to the one after it.
    if (m_loadingIndex >= 0)
        return m_loadingIndex;
    if (m_readyIndex >= 0)
        return m_readyIndex;
    return m_curIndex;
}

void SlideshowViewController::showSlideAt(long index)
{
    if (!m_playing || m_doveWaiting || m_slides.size() < 2 || index < 0 || index >= long(m_slides.size()))
        return;
    m_stepDirection = index == 0 ? 1 : -1; // the last photo gone: the one before it
    goToSlide(passOverGone(index));
}

void SlideshowViewController::goToSlide(long target)
{
    if (m_dove) {
        stepDoveTo(target);
        return;
    }
    if (m_curIndex < 0)
        return;
    stopTimers();
    if (m_readyIndex != target) {
        // The slide on its way is not the one wanted now, nor are those queued behind it: a held
        // arrow key queues no decodes for the slides it passes to wait behind.
        ++m_generation;
        m_queue->cancelAllOperations();
        m_loadingIndex = -1;
        m_readyIndex = -1;
        m_readyImage = QImage();
        m_readyFrames = SlideFrames();
    }
    m_stepping = true;
    m_waitingForSlide = true;
    if (m_readyIndex == target)
        showReadySlideOnceLookedAt(); // decoded ahead: its file may have changed since
    else
        requestSlide(target);
}

void SlideshowViewController::showSlide(long index, QImage image)
{
    const bool first = m_curIndex < 0;
    m_previousImage = view()->currentSlide();
    m_curIndex = index;
    if (first) {
        view()->setSlides(image, QImage(), 1.0);
        view()->display();
        if (!m_firstFrameDisplayed) {
            m_firstFrameDisplayed = true;
            kpv::NotificationCenter::defaultCenter().postNotification(
                QLatin1String(DidSlideshowFirstFrameDisplayedNotification), this);
        }
        scheduleNext();
        return;
    }
    // Cross-fade from the previous slide; the slide's time starts when the fade has finished.
    m_fadeProgress = 0.0;
    view()->setSlides(image, m_previousImage, 0.0);
    startFade();
}

void SlideshowViewController::startFade()
{
    if (m_fadeTimer)
        m_fadeTimer->invalidate();
    m_fadeTimer = kpv::Timer::scheduled(kFadeStep, true, [this](kpv::Timer&) { fadeStep(); },
                                        kpv::TimerMode::Common);
}

void SlideshowViewController::windowOnScreenChanged(bool onScreen)
{
    if (m_heldOffScreen == !onScreen)
        return;
    m_heldOffScreen = !onScreen;
    if (m_heldOffScreen)
        m_heldFading = m_fadeTimer != nullptr;
    if (m_paused)
        return; // the user's pause holds it already, and the user's resume lets it go
    if (m_dove) {
        // The 3D scene stops drawing; the photos it has wait for it.
        m_heldOffScreen ? m_dove->pause() : m_dove->resume();
        updateFileCheckTimer();
        return;
    }
    if (m_heldOffScreen) {
        // The slide and a fade under way stay as they are, to go on from there.
        stopTimers();
        return;
    }
    const bool fading = std::exchange(m_heldFading, false);
    if (m_curIndex < 0 || m_waitingForSlide)
        advance();
    else if (fading && !m_previousImage.isNull())
        startFade();
    else
        scheduleNext();
}

void SlideshowViewController::fadeStep()
{
    m_fadeProgress = std::min(1.0, m_fadeProgress + kFadeStep / fadeDuration() + 1e-9);
    SlideshowView* v = view();
    if (m_fadeProgress >= 1.0) {
        if (m_fadeTimer)
            m_fadeTimer->invalidate();
        m_fadeTimer.reset();
        m_previousImage = QImage();
        v->setSlides(v->currentSlide(), QImage(), 1.0);
        scheduleNext();
        return;
    }
    v->setSlides(v->currentSlide(), m_previousImage, m_fadeProgress);
}

void SlideshowViewController::startAnimation()
{
    if (m_frameTimer)
        m_frameTimer->invalidate();
    m_frameTimer.reset();
    if (m_curFrames.frames.size() < 2)
        return;
    const double delay = m_curFrames.delays[m_curFrame % m_curFrames.delays.size()];
    m_frameTimer = kpv::Timer::scheduled(delay, false, [this](kpv::Timer&) {
        m_frameTimer.reset();
        nextAnimationFrame();
    }, kpv::TimerMode::Common);
}

void SlideshowViewController::nextAnimationFrame()
{
    if (!m_playing || held() || m_curFrames.frames.size() < 2 || !m_viewGuard)
        return;
    m_curFrame = (m_curFrame + 1) % m_curFrames.frames.size();
    view()->setSlides(m_curFrames.frames[m_curFrame], QImage(), 1.0);
    startAnimation();
}

void SlideshowViewController::scheduleNext()
{
    startAnimation();
    if (m_slides.size() < 2)
        return; // one slide stays until the slideshow ends
    requestSlide(nextIndex(m_curIndex));
    if (m_slideTimer)
        m_slideTimer->invalidate();
    // An animated slide stays for a whole pass of its animation.
    double duration = slideDuration();
    if (m_curFrames.frames.size() > 1) {
        double pass = 0;
        for (double d : m_curFrames.delays)
            pass += d;
        duration = std::clamp(pass, duration, std::max(duration, kMaxAnimatedSlideDuration));
    }
    m_slideTimer = kpv::Timer::scheduled(duration, false, [this](kpv::Timer&) {
        m_slideTimer.reset();
        showReadySlideOnceLookedAt(); // the slide's time is up
    }, kpv::TimerMode::Common);
}

void SlideshowViewController::showReadySlideOnceLookedAt()
{
    if (m_readyIndex < 0 || !m_readyHadFile || !m_fileCheck) {
        advance();
        return;
    }
    const long index = m_readyIndex;
    const unsigned long long generation = m_generation;
    const bool stepping = m_stepping;
    std::weak_ptr<bool> alive = m_alive;
    m_checkQueue->addOperationWithBlock(
        [this, alive, generation, index, stepping, decoded = m_readyFileState, check = m_fileCheck,
         path = m_slides[std::size_t(index)]->filePath().path()] {
            const FileState now = check(path);
            const bool there = now.exists;
            const bool rewritten = now.rewrittenSince(decoded);
            kpv::RunLoop::performOnMainThread(
                [this, alive, generation, index, stepping, there, rewritten] {
                    const auto a = alive.lock();
                    // A new start, the end, or another slide wanted meanwhile has seen to the
                    // slides. The slide's time gives way to a step and to a time begun again (a
                    // resume); a step gives way to nothing but another step.
                    if (!a || !*a || generation != m_generation || !m_playing || m_readyIndex != index ||
                        m_stepping != stepping || (!stepping && m_slideTimer))
                        return;
                    if (there && !rewritten) {
                        advance();
                        return;
                    }
                    m_readyIndex = -1;
                    m_readyImage = QImage();
                    m_readyFrames = SlideFrames();
                    m_waitingForSlide = true;
                    // Gone: the slide after it comes instead. Rewritten by another program since
                    // it was decoded ahead: it is decoded again, and shown as it is now.
                    requestSlide(rewritten ? index : passOverIndex(index));
                },
                false);
        });
}

void SlideshowViewController::waitForSlideLoads()
{
    m_sceneQueue->waitUntilAllOperationsAreFinished();
    m_queue->waitUntilAllOperationsAreFinished();
    m_checkQueue->waitUntilAllOperationsAreFinished(); // the file of the slide coming next
    kpv::RunLoop::main().runOnce();
}

void SlideshowViewController::waitForSceneRead()
{
    m_sceneQueue->waitUntilAllOperationsAreFinished();
    kpv::RunLoop::main().runOnce();
}

void SlideshowViewController::waitForFileChecks()
{
    m_checkQueue->waitUntilAllOperationsAreFinished();
    kpv::RunLoop::main().runOnce();
}

bool SlideshowViewController::performKeyDownEquivalent(const kpv::Event& e)
{
    if (!m_playing)
        return false;
    if (e.keyCode() == kpv::KeyCode::Space) {
        togglePause();
        return true;
    }
    if (e.keyCode() == kpv::KeyCode::RightArrow || e.keyCode() == kpv::KeyCode::LeftArrow) {
        stepSlides(e.keyCode() == kpv::KeyCode::RightArrow ? 1 : -1);
        return true;
    }
    if (e.keyCode() == kpv::KeyCode::Home || e.keyCode() == kpv::KeyCode::End) {
        showSlideAt(e.keyCode() == kpv::KeyCode::Home ? 0 : long(m_slides.size()) - 1);
        return true;
    }
    if (e.keyCode() != kpv::KeyCode::Escape)
        return false;
    endSlideshow();
    return true;
}

void SlideshowViewController::slideshowResized()
{
    // A message on screen is laid out again for the new width.
    if (m_playing && m_notice && m_viewGuard && !m_notice->isHidden())
        m_notice->placeIn(view()->bounds());
    if (!m_playing)
        return;
    // A window dragged larger changes size many times a second: decode once it has settled.
    if (m_resizeTimer)
        m_resizeTimer->invalidate();
    m_resizeTimer = kpv::Timer::scheduled(kResizeSettleDelay, false, [this](kpv::Timer&) {
        m_resizeTimer.reset();
        redecodeForNewSize();
    }, kpv::TimerMode::Common);
}

void SlideshowViewController::redecodeForNewSize()
{
    if (!m_playing || !m_viewGuard)
        return;
    if (m_dove) {
        redecodeDovePhotos();
        return;
    }
    const QSize now = decodeSize();
    if (m_readyIndex >= 0 && reducedAndTooSmall(m_readyImage, m_readyDecodeSize, now)) {
        // Asked for again when its turn comes, at the new size.
        m_readyIndex = -1;
        m_readyImage = QImage();
        m_readyFrames = SlideFrames();
    }
    // An animation keeps its frames; a still slide on screen is decoded again.
    if (m_curIndex >= 0 && m_curFrames.frames.size() < 2 &&
        reducedAndTooSmall(view()->currentSlide(), m_curDecodeSize, now))
        loadSlide(m_curIndex, &SlideshowViewController::slideRedecoded);
}

void SlideshowViewController::slideRedecoded(unsigned long long generation, long index, QImage image)
{
    if (generation != m_generation || !m_playing || m_dove || index != m_curIndex || image.isNull() ||
        m_curFrames.frames.size() > 1)
        return;
    m_curDecodeSize = m_loadedDecodeSize;
    // The same picture, larger: put in place without a transition, during a fade as well.
    SlideshowView* v = view();
    if (m_fadeTimer)
        v->setSlides(image, m_previousImage, v->fade());
    else
        v->setSlides(image, QImage(), 1.0);
}
