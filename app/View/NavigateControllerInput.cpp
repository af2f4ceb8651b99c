// The input side of the view-mode controller: folder-search batches, single steps with the tip at
// either end, held-key auto-navigation, keys, the mouse wheel and swipes, the command gate, and
// the reaction to modified and deleted files.

#include "View/NavigateController.h"
#include "Model/LMPhotoLibrary.h"

#include "Model/LMImageTools.h"
#include "Model/MainConfig.h"
#include "Model/PhotoSearchHandler.h"
#include "View/LMImageViewModel.h"
#include "View/NavGestureScrollFileSession.h"
#include "View/NavImageLoader.h"
#include "View/NavLoadPlanner.h"
#include "View/NavigateSaveFileSession.h"

#include "appkit/Event.h"
#include "foundation/RunLoop.h"
#include "foundation/FolderWatcher.h"
#include "foundation/Timer.h"

#include <cmath>

namespace {

constexpr double kAutoNavFirstInterval = 0.2;
constexpr double kAutoNavDelayEnd = 0.15;
// While a held step waits for the quick picture, how often it looks whether the load is still
// under way; and how long after the picture came it waits for a view that draws no frame.
constexpr double kHeldStepRecheck = 0.25;
constexpr double kHeldStepFrameWait = 0.1;
// The longest a held step waits for a quick picture: a result that was dropped on its way never
// reports, and the stepping then goes on as it did without waiting.
constexpr double kHeldStepLongestWait = 2.0;
constexpr double kArrowKeyZoomDelayEnd = 0.1;
constexpr double kArrowKeyPanStep = 20;

constexpr uint64_t kShiftFlag = 1 << 17;
constexpr uint64_t kControlFlag = 1 << 18;
constexpr uint64_t kOptionFlag = 1 << 19;
constexpr uint64_t kCommandFlag = 1 << 20;
constexpr uint64_t kNumericPadFlag = 1 << 21;

constexpr char16_t kUpArrow = 0xF700;
constexpr char16_t kDownArrow = 0xF701;
constexpr char16_t kLeftArrow = 0xF702;
constexpr char16_t kRightArrow = 0xF703;
// Backspace: the previous photo, as on every viewer of this desktop.
constexpr char16_t kBackspaceChar = 0x7F;
// The Delete key: moves the photo to the Trash.
constexpr char16_t kDeleteKeyChar = 0xF728;
constexpr char16_t kHomeChar = 0xF729;
constexpr char16_t kEndChar = 0xF72B;
constexpr char16_t kPageUpChar = 0xF72C;
constexpr char16_t kPageDownChar = 0xF72D;

constexpr int kPhaseBegan = 1;
constexpr int kPhaseChanged = 4;
constexpr int kPhaseEnded = 8;
constexpr int kPhaseCancelled = 16;

} // namespace

LMImageViewModel *NavigateController::currentView() const
{
    const int64_t mode = m_host ? m_host->showMode() : 0;
    if ((mode == NavShowModeMiniImage || mode == NavShowModeMiniEmpty) && m_host && m_host->miniWindowOpenGLView())
        return m_host->miniWindowOpenGLView();
    return m_openGLView;
}

// ---- Folder search ----

void NavigateController::startSearchFiles()
{
    std::weak_ptr<NavigateController *> self = m_self;
    m_photoSearchHandler->startSearchWithProcessBlock(
        [self](const NavSortFileInfoList &list) {
            if (auto s = self.lock(); s && *s)
                (*s)->processSearchBatch(list);
        },
        [self](bool accessRefused) {
            auto s = self.lock();
            if (s && *s && accessRefused && (*s)->m_host)
                (*s)->m_host->showSandboxAccessTips();
        });
}

void NavigateController::processSearchBatch(const NavSortFileInfoList &list)
{
    if (list.count() < 2)
        return;
    m_navSortFileInfoList = std::make_unique<NavSortFileInfoList>(list);
    const qsizetype old = m_curFileIndex;
    const qsizetype index = m_curFilePath.isEmpty() ? -1 : list.sortedFilePaths().indexOf(m_curFilePath);
    if (index >= 0) {
        m_curFileIndex = index;
    } else {
        m_curFileIndex = 0;
        m_curFilePath = list.sortedFilePaths().first();
        // Another file became current: its loads must be requested afresh.
        clearLoadMasks();
    }
    const int64_t mode = m_host ? m_host->showMode() : 0;
    if (mode == NavShowModeView || mode == NavShowModeMiniImage)
        submitCacheOperation(true, false);
    updateWatchedFolders();
    postNotification(NavDidChangeFileListNotification, {{QStringLiteral("filePathList"), QVariant::fromValue(filePaths())}});
    updateWindowTitle();
    if (m_curFileIndex != old || index < 0) {
        postNotification(NavDidChangeCurFileNotification, {{QStringLiteral("filePath"), QVariant::fromValue(m_curFilePath)},
                                                           {QStringLiteral("quickNav"), false}});
    }
}

// ---- Steps ----

bool NavigateController::navFile(bool next, bool quick)
{
    const qsizetype n = fileCount();
    if (n < 2)
        return false;
    const qsizetype i = m_curFileIndex;
    const bool wraps = next ? i >= n - 1 : i <= 0;
    const qsizetype target = next ? (wraps ? 0 : i + 1) : (wraps ? n - 1 : i - 1);
    if (!wraps) {
        m_reachHeadOrTailAtLastTime = false;
    } else if (m_reachHeadOrTailAtLastTime) {
        // Going round re-arms the tip, so that passing the other end afterwards shows it too.
        m_reachHeadOrTailAtLastTime = false;
    } else {
        m_reachHeadOrTailAtLastTime = true;
        if (m_host) {
            m_host->updateStatusInfo(
                m_host->localizedString(next ? QStringLiteral("IDS_TIPS_NAVIGATENEXT") : QStringLiteral("IDS_TIPS_NAVIGATEPREV")),
                false, 0);
        }
        m_reachTopOrBottomInfoShowed = true;
        updatePreviewStatusShowProxyAutoHideInterval(false);
        if (m_host)
            m_host->showPreviewStatus(true, true);
        // The next press goes round: the picture it shows is decoded now.
        const int64_t mode = m_host ? m_host->showMode() : 0;
        if (mode == NavShowModeView || mode == NavShowModeMiniImage)
            submitCacheOperation(next, false);
        return false;
    }
    if (m_host)
        m_host->cancelAllOperations();
    navCurFileToIndex(target, false, next, quick);
    return true;
}

void NavigateController::doNavCurFileByPageUp(bool up)
{
    const qsizetype n = fileCount();
    if (n == 0)
        return;
    // A page is the photo bin's whole visible items less one; without a photo bin (or with room
    // for one item) it is one file, so that an enabled page command always moves.
    const qsizetype p = m_host ? m_host->photoBinWholeVisibleItemCountOfCurPage() : 0;
    const qsizetype s = p > 2 ? p - 1 : 1;
    const qsizetype i = m_curFileIndex;
    const qsizetype target = up ? (i < s ? 0 : i - s) : (i + s + 1 > n ? n - 1 : i + s);
    doNavCurFileToIndex(target, false, {});
}

void NavigateController::doNavCurFileToFirst(bool first)
{
    const qsizetype n = fileCount();
    if (n == 0)
        return;
    doNavCurFileToIndex(first ? 0 : n - 1, false, {});
}

void NavigateController::doNavCurFileToIndex(qsizetype index, bool byGestureScroll, std::function<void(bool)> completeBlock)
{
    // Held off while auto-navigation steps.
    if (m_autoNavTimer)
        return;
    if (index == m_curFileIndex || index < 0 || index >= fileCount()) {
        if (completeBlock)
            completeBlock(false);
        return;
    }
    if (m_host)
        m_host->hidePreviewStatus(false, false);
    if (!byGestureScroll)
        abortScrollSession();
    if (m_openGLView)
        m_openGLView->endRotate();
    const LMPathString target = m_navSortFileInfoList->sortedFilePaths().at(index);
    auto go = [this, index, target, completeBlock](int outcome) {
        // A save under another name that failed or was cancelled, or a save in place cancelled
        // with Esc, keeps the current file with its turn.
        if (outcome >= 6 || outcome == 3) {
            if (completeBlock)
                completeBlock(true); // the jump was cancelled
            return;
        }
        if (m_host)
            m_host->cancelAllOperations();
        qsizetype to = index;
        // Saving under another name put a file into the list: the target may have moved.
        if (outcome == 5 && m_navSortFileInfoList) {
            const qsizetype now = m_navSortFileInfoList->sortedFilePaths().indexOf(target);
            if (now >= 0)
                to = now;
        }
        navCurFileToIndex(to, false, true, false);
        if (completeBlock)
            completeBlock(false);
    };
    const LMImageViewModel *view = currentView();
    if (m_unsavedRotationCheck && view && view->angleRotate().isRotatedOrFlipped())
        m_unsavedRotationCheck(false, go);
    else
        go(0);
}

void NavigateController::doNavCurFileToNext(bool next, bool quick, std::function<void(bool)> completeNavBlock)
{
    if (m_autoNavTimer || !canDoAction(next ? 41 : 40))
        return;
    if (m_host)
        m_host->hidePreviewStatus(false, false);
    abortScrollSession();
    if (LMImageViewModel *view = currentView())
        view->endRotate();
    auto go = [this, next, quick, completeNavBlock](int outcome) {
        if (outcome >= 6 || outcome == 3)
            return; // the current file stays, with its turn (Esc cancelled the save)
        if (outcome >= 4) {
            // After a question the step is never a quick one, and the caller does not go on.
            navFile(next, false);
            if (completeNavBlock)
                completeNavBlock(false);
            return;
        }
        const bool ok = navFile(next, quick);
        if (completeNavBlock)
            completeNavBlock(ok);
    };
    const LMImageViewModel *view = currentView();
    if (m_unsavedRotationCheck && view && view->angleRotate().isRotatedOrFlipped())
        m_unsavedRotationCheck(false, go);
    else
        go(0);
}

// ---- Auto-navigation ----

void NavigateController::beginAutoNav(bool next, bool delayEnd)
{
    m_autoNavStarted = true;
    if (delayEnd)
        m_autoNavDelayEndTimer.start(kAutoNavDelayEnd, [this] { endAutoNav(); });
    doNavCurFileToNext(next, true, [this, next](bool ok) {
        if (!ok)
            return;
        if (!m_autoNavStarted) {
            submitCacheOperation(true, false);
            return;
        }
        scheduleAutoNavTimer(kAutoNavFirstInterval, next, kpv::RunLoop::main().now());
        if (LMImageViewModel *view = currentView())
            view->setEnable(false);
    });
}

void NavigateController::scheduleAutoNavTimer(double interval, bool next, double beginTime)
{
    if (m_autoNavTimer)
        m_autoNavTimer->invalidate();
    ++m_autoNavGeneration;
    m_autoNavNext = next;
    m_autoNavBeginTime = beginTime;
    m_autoNavTimer = kpv::Timer::scheduled(interval, false, [this, next, beginTime](kpv::Timer &) {
        timerForAutoNav(next, beginTime);
    });
}

void NavigateController::timerForAutoNav(bool next, double beginTime)
{
    const bool waitedLongEnough =
        m_autoNavWaitsForPicture && kpv::RunLoop::main().now() - m_autoNavWaitSince >= kHeldStepLongestWait;
    if (quickPictureOnItsWay() && !waitedLongEnough) {
        waitForQuickPictureBeforeStep(next, beginTime);
        return;
    }
    m_autoNavWaitsForPicture = false;
    if (navFile(next, true)) {
        const double t = kpv::RunLoop::main().now() - beginTime;
        scheduleAutoNavTimer(NavLoadPlanner::autoNavInterval(t), next, beginTime);
    } else {
        // Stopped at an end: the timer stays set (so guarded steps are held off) until the key or
        // button is released.
        if (m_autoNavTimer)
            m_autoNavTimer->invalidate();
        submitLoadsAfterHeldSteps();
    }
}

void NavigateController::waitForQuickPictureBeforeStep(bool next, double beginTime)
{
    if (!m_autoNavWaitsForPicture)
        m_autoNavWaitSince = kpv::RunLoop::main().now();
    m_autoNavWaitsForPicture = true;
    scheduleAutoNavTimer(kHeldStepRecheck, next, beginTime);
}

void NavigateController::stepOnAfterQuickPicture()
{
    if (!m_autoNavWaitsForPicture || !m_autoNavTimer)
        return;
    m_autoNavWaitsForPicture = false;
    const bool next = m_autoNavNext;
    const double beginTime = m_autoNavBeginTime;
    const double interval = NavLoadPlanner::autoNavInterval(kpv::RunLoop::main().now() - beginTime);
    scheduleAutoNavTimer(kHeldStepFrameWait + interval, next, beginTime);
    if (!m_host)
        return;
    const uint64_t generation = m_autoNavGeneration;
    std::weak_ptr<NavigateController *> self = m_self;
    m_host->performAfterImageViewFrame([self, generation, next, beginTime, interval] {
        auto s = self.lock();
        if (s && *s && (*s)->m_autoNavTimer && (*s)->m_autoNavGeneration == generation)
            (*s)->scheduleAutoNavTimer(interval, next, beginTime);
    });
}

void NavigateController::submitLoadsAfterHeldSteps()
{
    submitCacheOperation(true, false);
    const int64_t mode = m_host ? m_host->showMode() : 0;
    if (!m_autoNavTimer && mode == NavShowModeView)
        updateOpenGLViewImage(ImageModeNormal);
}

void NavigateController::endAutoNav()
{
    m_autoNavStarted = false;
    m_autoNavWaitsForPicture = false;
    m_autoNavDelayEndTimer.stop();
    if (LMImageViewModel *view = currentView())
        view->setEnable(true);
    if (m_autoNavTimer) {
        m_autoNavTimer->invalidate();
        m_autoNavTimer.reset();
        ++m_autoNavGeneration;
        submitLoadsAfterHeldSteps();
    }
}

// ---- Keys, mouse, wheel ----

bool NavigateController::performKeyDownEquivalent(const kpv::Event &event)
{
    const QString chars = event.charactersIgnoringModifiers();
    if (chars.size() != 1)
        return false;
    const char16_t c = chars.at(0).unicode();
    const uint64_t f = event.modifierFlags();
    if ((f & (kNumericPadFlag | kShiftFlag | kControlFlag | kOptionFlag)) == kNumericPadFlag) {
        const bool command = (f & kCommandFlag) != 0;
        if (!command && canPanImageWithKeys()) {
            QPointF delta(0, 0);
            switch (c) {
            case kUpArrow: delta = QPointF(0, -kArrowKeyPanStep); break;
            case kDownArrow: delta = QPointF(0, kArrowKeyPanStep); break;
            case kLeftArrow: delta = QPointF(kArrowKeyPanStep, 0); break;
            case kRightArrow: delta = QPointF(-kArrowKeyPanStep, 0); break;
            default: break;
            }
            if (LMImageViewModel *view = currentView())
                view->moveImageByDeltaPoint(delta);
            return true;
        }
        if (c == kLeftArrow || c == kRightArrow) {
            // The key's own repeats keep its stepping going; a new press while the last one's
            // steps are under way is a step of its own: two quick taps take two steps.
            if (!event.isARepeat() && m_autoNavStarted)
                endAutoNav();
            // A repeat that comes after the stepping ended between two repeats (the first repeat,
            // or one late on a busy machine) holds its step for the quick picture as the stepping
            // does, unless a question must come before the step.
            const bool next = c == kRightArrow;
            const LMImageViewModel *view = currentView();
            if (event.isARepeat() && !m_autoNavTimer && quickPictureOnItsWay() && canDoAction(next ? 41 : 40) &&
                !(view && view->angleRotate().isRotatedOrFlipped())) {
                m_autoNavStarted = true;
                m_autoNavDelayEndTimer.start(kAutoNavDelayEnd, [this] { endAutoNav(); });
                waitForQuickPictureBeforeStep(next, kpv::RunLoop::main().now());
                if (LMImageViewModel *shown = currentView())
                    shown->setEnable(false);
                return true;
            }
            beginAutoNav(next, true);
            return true;
        }
        if (command && (c == kUpArrow || c == kDownArrow)) {
            beginArrowKeyZoom(c == kUpArrow, true);
            return true;
        }
    }
    // The zoom keys of this desktop's viewers, bare or on the keypad: + (= on the same key) and -
    // a step in and out, 1 the actual size, 0 the picture fitted. Shift makes + on most layouts.
    if ((f & (kControlFlag | kOptionFlag | kCommandFlag)) == 0) {
        switch (c) {
        case u'+':
        case u'=':
        case u'-': doZoomCurFile(c != u'-'); return true;
        case u'1':
            if (canDoAction(30))
                switchToOriginal();
            return true;
        case u'0':
            if (canDoAction(31))
                switchToFitin();
            return true;
        default: break;
        }
    }
    if ((f & (kShiftFlag | kControlFlag | kOptionFlag | kCommandFlag)) != 0)
        return false;
    switch (c) {
    case kDeleteKeyChar:
        // One press, one photo: a Delete held a moment too long would trash photo after photo,
        // each shown for a blink, so its repeats are passed over.
        if (!event.isARepeat())
            deleteCurFile();
        return true;
    case kBackspaceChar: doNavCurFileToNext(false); return true;
    case u' ': doNavCurFileToNext(true); return true;
    case kHomeChar:
    case kEndChar:
        if (canDoAction(c == kHomeChar ? 44 : 45))
            doNavCurFileToFirst(c == kHomeChar);
        return true;
    case kPageUpChar:
    case kPageDownChar:
        if (canDoAction(c == kPageUpChar ? 42 : 43))
            doNavCurFileByPageUp(c == kPageUpChar);
        return true;
    default: return false;
    }
}

bool NavigateController::performMouseMovedEquivalent(const kpv::Event &event)
{
    if (fileCount() < 2 || !m_host)
        return false;
    const kpv::Point location = event.locationInWindow();
    switch (m_host->arrowHitTest(QPointF(location.x, location.y))) {
    case NavArrowHit::NextButton:
    case NavArrowHit::PrevButton:
        m_host->showNextPrev(true, false);
        break;
    case NavArrowHit::NextHitArea:
    case NavArrowHit::PrevHitArea:
        m_host->showNextPrev(true, true);
        break;
    case NavArrowHit::None:
        m_host->hideNextPrev(true, true);
        break;
    }
    return false;
}

bool NavigateController::gestureScrollAcceptablePhase(int phase) const
{
    if (phase == kPhaseBegan || phase == kPhaseChanged || phase == kPhaseEnded)
        return true;
    if (phase == kPhaseCancelled)
        return m_navGestureScrollFileSession && m_navGestureScrollFileSession->scrollSessionRunning();
    return false;
}

void NavigateController::ensureScrollSession()
{
    if (!m_navGestureScrollFileSession && m_pagingViews && m_openGLView)
        m_navGestureScrollFileSession =
            std::make_unique<NavGestureScrollFileSession>(this, m_openGLView, m_pagingViews);
}

void NavigateController::abortScrollSession()
{
    if (m_navGestureScrollFileSession)
        m_navGestureScrollFileSession->abortScrollSession();
}

bool NavigateController::performScrollWheelEquivalent(const kpv::Event &event)
{
    const bool gesture = gestureScrollAcceptablePhase(event.phase()) || gestureScrollAcceptablePhase(event.momentumPhase());
    if (gesture && !canPanImageWithKeys() && fileCount() >= 2 && !m_autoNavTimer) {
        if (m_openGLView) {
            // A zoom on its way to a picture that fits lands there before the page turns; any
            // other stops where it is.
            if (m_openGLView->canDragImageWhenSettled())
                m_openGLView->abortZoom();
            else
                m_openGLView->finishZoom(true);
            m_openGLView->endRotate();
        }
        const LMImageViewModel *view = currentView();
        if (view && view->angleRotate().isRotatedOrFlipped()) {
            if ((event.phase() & kPhaseBegan) || (event.momentumPhase() & kPhaseBegan))
                m_gestureScrollDeltaForModifiedFile = 0.0;
            const double d = std::abs(event.scrollingDeltaX()) >= std::abs(event.scrollingDeltaY())
                ? event.scrollingDeltaX() : event.scrollingDeltaY();
            if (m_gestureScrollDeltaForModifiedFile && d != 0)
                m_gestureScrollDeltaForModifiedFile = d;
        } else {
            m_gestureScrollDeltaForModifiedFile.reset();
        }
        if (m_gestureScrollDeltaForModifiedFile && *m_gestureScrollDeltaForModifiedFile == 0)
            return true;
        const std::optional<double> kept = m_gestureScrollDeltaForModifiedFile;
        // The event is copied: the check may finish after the caller's event is gone.
        auto copy = std::make_shared<kpv::Event>(event);
        auto done = [this, kept, copy](int outcome) { handleGestureAfterCheck(outcome, kept, *copy); };
        if (m_unsavedRotationCheck && kept)
            m_unsavedRotationCheck(false, done);
        else
            done(0);
        return true;
    }
    MainConfig *c = config();
    if (!c || c->zoomWhileMouseWheel())
        return false;
    if (c->mouseWheelEnabled() && event.scrollingDeltaY() != 0) {
        doNavCurFileToNext(event.scrollingDeltaY() < 0);
        return true;
    }
    return false;
}

void NavigateController::handleGestureAfterCheck(int outcome, std::optional<double> delta, const kpv::Event &event)
{
    if (outcome < 6 && outcome != 3) {
        if (!delta || *delta == 0) {
            if (m_host)
                m_host->hidePreviewStatus(false, false);
            ensureScrollSession();
            if (m_navGestureScrollFileSession)
                m_navGestureScrollFileSession->scrollWheel(event);
            return;
        }
        const bool next = *delta < 0;
        if (!navFile(next, false))
            submitCacheOperation(next, false);
    }
    m_gestureScrollDeltaForModifiedFile.reset();
}

// ---- Zoom and view state ----

void NavigateController::beginArrowKeyZoom(bool zoomIn, bool delayEnd)
{
    m_imageZoomTimer.stop();
    abortScrollSession();
    LMImageViewModel *view = currentView();
    if (!view)
        return;
    view->beginArrowKeyZoom(zoomIn);
    if (view->animationZoom())
        view->setEnable(false);
    if (delayEnd)
        m_imageZoomTimer.start(kArrowKeyZoomDelayEnd, [this] { endArrowKeyZoom(); });
    if (view == m_openGLView)
        requestRegionsForZoomTarget();
}

void NavigateController::endArrowKeyZoom()
{
    LMImageViewModel *view = currentView();
    if (!view)
        return;
    if (view->animationZoom())
        view->setEnable(true);
    view->endArrowKeyZoom();
}

void NavigateController::switchToScaleMode(int64_t mode)
{
    const int64_t action = mode == 1 ? 31 : mode == 2 ? 30 : mode == 3 ? 32 : 0;
    if (action == 0 || !canDoAction(action))
        return;
    abortScrollSession();
    if (LMImageViewModel *view = currentView())
        view->switchToScaleMode(mode);
    // The zoom's first frame shows the finest picture held for where it is going; where it ends
    // shows the file's own pixels, decoded from the key on when they are not held.
    if (m_openGLView && currentView() == m_openGLView && m_openGLView->isZoomTimerRunning())
        updateOpenGLViewImage(ImageModeNormal);
    requestRegionsForZoomTarget();
}

void NavigateController::setScale(double scale)
{
    if (m_openGLView)
        m_openGLView->setScale(scale);
}

bool NavigateController::canZoom(bool zoomIn, bool checkCurFileState) const
{
    if (checkCurFileState && curFileState() != 1)
        return false;
    const LMImageViewModel *view = currentView();
    return view && view->canZoom(zoomIn);
}

double NavigateController::curScale() const
{
    const LMImageViewModel *view = currentView();
    return view ? view->scale() : 0;
}

double NavigateController::curMinScale() const
{
    const LMImageViewModel *view = currentView();
    return view ? view->curMinScale() : 0;
}

double NavigateController::curMaxScale() const
{
    const LMImageViewModel *view = currentView();
    return view ? view->curMaxScale() : 0;
}

bool NavigateController::fitinMode() const
{
    const LMImageViewModel *view = currentView();
    return view && view->fitinMode();
}

bool NavigateController::canDragImageWithoutCheckCursorPosition() const
{
    const LMImageViewModel *view = currentView();
    return view && view->canDragImageWithoutCheckCursorPosition();
}

bool NavigateController::canPanImageWithKeys() const
{
    // While a zoom runs, the picture must be larger than its bounds now and where it lands:
    // a key pressed while a zoom to fit eases out steps to the next photo instead of panning a
    // picture that is about to fit.
    const LMImageViewModel *view = currentView();
    return view && view->canDragImageWithoutCheckCursorPosition() && view->canDragImageWhenSettled();
}

void NavigateController::screenShotForRectInView(const QRectF &rect)
{
    if (!m_openGLView || !m_host)
        return;
    int angle = 0;
    QImage image = m_openGLView->cropImageForRect(rect, &angle);
    if (image.isNull())
        return;
    if (angle != 0 || QSizeF(image.size()) != rect.size())
        image = LMImageTools::convertImage(image, angle, rect.size());
    if (!image.isNull())
        m_host->writeImageToPasteboard(image);
}

// ---- Gate and commands ----

int NavigateController::curFileState() const
{
    const LMNavFileInfoPtr info = curFileInfo();
    if (!info)
        return 0;
    bool failed = false;
    const LMImagePtr thumb = info->imageByType(NavLoadPlanner::kSmallThumbType, &failed);
    return failed ? 2 : (thumb ? 1 : 0);
}

bool NavigateController::canDoAction(int64_t actionId) const
{
    if (m_host && m_host->curLoveIntroTipsShowStatus())
        return false;
    if (actionId == kUndoMoveToTrashAction)
        return canUndoMoveToTrash();
    if (actionId < 4 || actionId > 45)
        return false;
    const int state = curFileState();
    const qsizetype n = fileCount();
    const qsizetype i = m_curFileIndex;
    const bool loaded = state == 1;
    const LMImageViewModel *view = currentView();
    switch (actionId) {
    case 4: case 5:
        return loaded;
    case 6: case 8: case 28: case 29: case 34: case 35: case 36: case 37: case 38:
        return true;
    case 7: case 9:
        return loaded && !isGifFile(curFileInfo().get());
    case 14: case 15: case 16: case 17:
        // While a save works ("Saving…" shows) the photo on screen is the one being written: a
        // turn made now would be left behind unsaved when the viewer moves on. Clicks and keys
        // wait for the save; so do the menu's keys.
        return loaded && !isGifFile(curFileInfo().get()) &&
               !(m_navigateSaveFileSession && m_navigateSaveFileSession->runningSaves() > 0);
    case 10: case 12:
        return false;
    case 11:
        return (m_host && m_host->isFavoriteFile(m_curFilePath)) || loaded;
    case 13:
        return m_host && m_host->favoriteFileCount() > 0;
    case 18: case 19: case 20: case 39:
        return n > 0;
    case 21: case 22: case 23: case 24: case 25:
        return loaded;
    case 26:
        return loaded && m_host && m_host->fileExistsAtPath(LMPhotoLibrary::applicationPath());
    case 27:
        return loaded && !(m_host && m_host->isWindowFullScreen());
    case 30:
        return view && view->scale() != 1.0 && loaded;
    case 31:
        return view && !view->fitinMode() && loaded;
    case 32: case 33:
        return canZoom(actionId == 32, true);
    case 40: case 41:
        return n > 1;
    case 42: case 44:
        return n >= 2 && i > 0;
    case 43: case 45:
        return n >= 2 && i < n - 1;
    default:
        return false;
    }
}

void NavigateController::playSlideshow()
{
    if (!canDoAction(39))
        return;
    abortScrollSession();
    if (m_openGLView)
        m_openGLView->endRotate();
    const LMImageViewModel *view = currentView();
    if (!m_unsavedRotationCheck || !view || !view->angleRotate().isRotatedOrFlipped()) {
        startSlideshowNow();
        return;
    }
    m_unsavedRotationCheck(false, [this](int outcome) {
        if (outcome == 0 || outcome == 1 || outcome == 5) {
            startSlideshowNow();
        } else if (outcome == 2 || outcome == 4) {
            letTurnGo(m_openGLView);
            startSlideshowNow();
        }
    });
}

void NavigateController::startSlideshowNow()
{
    if (!m_host)
        return;
    QList<NavSlideshowFile> slides;
    const QList<LMPathString> paths = filePaths();
    for (qsizetype i = 0; i < paths.size(); ++i) {
        NavSlideshowFile slide;
        slide.filePath = paths.at(i);
        if (const LMNavFileInfoPtr info = fileInfoByPath(paths.at(i))) {
            slide.imgBaseInfo = info->imgBaseInfo();
            slide.prevLoadedLargeFitInImage = info->imageByType(NavLoadPlanner::kLargeFitinType);
            if (i == m_curFileIndex)
                slide.prevLoadedOriginalImage = info->imageByType(NavLoadPlanner::kOriginalType);
        }
        slides.push_back(slide);
    }
    m_host->startSlideshow(slides, m_curFileIndex);
}

void NavigateController::toggleFullScreen()
{
    abortScrollSession();
    if (m_host)
        m_host->toggleFullScreen();
}

LMImagePtr NavigateController::loadOriginalImageByFileName(const QString &fileName) const
{
    if (fileName.isEmpty() || !m_host || !m_loader)
        return nullptr;
    const QString path = m_host->resourcePath(fileName);
    if (path.isEmpty())
        return nullptr;
    return m_loader->loadImage(LMPathString(path, false), 1, nullptr, nullptr, nullptr, {});
}

LMImagePtr NavigateController::acquireBadFileImage()
{
    if (!m_badFileImage)
        m_badFileImage = loadOriginalImageByFileName(QStringLiteral("Img_Bad.PNG"));
    return m_badFileImage;
}

// ---- Notifications ----

void NavigateController::doChangeScale()
{
    updateOpenGLViewImage();
    updatePreviewStatusShowProxyAutoHideInterval(true);
    if (m_host) {
        m_host->showPreviewStatus(true, true);
        const double scale = m_openGLView ? m_openGLView->scale() : 0;
        m_host->updateStatusInfo(QStringLiteral("%1%").arg(qint64(std::trunc(scale * 100))), false, 0);
    }
    m_reachTopOrBottomInfoShowed = false;
    if (m_host)
        m_host->checkShowHideNavigationWindow();
}

void NavigateController::endHideFadeShowProxy()
{
    if (!m_reachTopOrBottomInfoShowed)
        return;
    m_reachTopOrBottomInfoShowed = false;
    updatePreviewStatusUIForCurFile(true);
}

void NavigateController::didFileModified(const LMPathString &filePath)
{
    const LMNavFileInfoPtr info = fileInfoByPath(filePath);
    if (!info || !(info->fileModified() || info->fileChangedSinceRead()))
        return;
    m_cacheFileInfos.remove(filePath);
    acquireFileInfoByPath(filePath);
    m_operationMasks[filePath] = 0;
    const int64_t mode = m_host ? m_host->showMode() : 0;
    if ((mode == NavShowModeView || mode == NavShowModeMiniImage) && !m_autoNavTimer)
        submitCacheOperation(true, false);
    if (filePath == m_curFilePath) {
        if (m_openGLView)
            m_openGLView->didChangeFile();
        updateOpenGLViewImage(ImageModeFitin);
        updateOpenGLViewImage();
        updatePreviewStatusUIForCurFile(false);
        if (m_host)
            m_host->checkShowHideNavigationWindow();
    }
}

void NavigateController::didFilesDeleted(const QList<LMPathString> &paths)
{
    bool currentDeleted = false;
    for (const LMPathString &p : paths) {
        m_cacheFileInfos.remove(p);
        currentDeleted = currentDeleted || p == m_curFilePath;
    }
    if (!m_navSortFileInfoList)
        return;
    const bool changed = m_navSortFileInfoList->removeFromFiles(paths);
    m_photoSearchHandler->removeFromSearchedFiles(paths);
    if (!changed)
        return;
    const qsizetype n = fileCount();
    if (n > 0) {
        qsizetype index = 0;
        if (currentDeleted)
            index = m_curFileIndex < n ? m_curFileIndex : n - 1;
        else
            index = std::max<qsizetype>(0, m_navSortFileInfoList->sortedFilePaths().indexOf(m_curFilePath));
        navCurFileToIndexByFileListChanged(index);
        return;
    }
    m_curFilePath = LMPathString();
    m_curFileIndex = 0;
    m_photoSearchHandler->stopSearch();
    m_watchedFolders.clear();
    if (m_folderWatcher)
        m_folderWatcher->watch({}, {});
    if (!m_host)
        return;
    const int64_t mode = m_host->showMode();
    if (mode & 0x44)
        m_host->setShowMode(NavShowModeEmpty);
    else if (mode == NavShowModeMiniImage)
        m_host->setShowMode(NavShowModeMiniEmpty);
}

void NavigateController::didChangeOptionSetting()
{
    updateOpenGLViewSettingsByCurConfig();
    if (m_host) {
        const LMNavFileInfoPtr info = curFileInfo();
        MainConfig *c = config();
        m_host->setFileImgBaseInfo(info ? info->imgBaseInfo() : nullptr, c ? c->filePropertyMask() : 0);
    }
}

void NavigateController::didResizeWindow()
{
    abortScrollSession();
    updateOpenGLViewImage();
    requestPhotoBinThumbnails();
}

void NavigateController::didResignWindow()
{
    abortScrollSession();
}
