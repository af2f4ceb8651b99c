#include "View/NavGestureScrollFileSession.h"

#include "View/LMImageViewModel.h"
#include "View/NavigateController.h"

#include "appkit/Event.h"
#include "foundation/RunLoop.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kPhaseBegan = 1;
constexpr int kPhaseEnded = 8;
constexpr int kPhaseCancelled = 16;
constexpr double kAnimationTick = 1.0 / 60.0;

} // namespace

NavGestureScrollFileSession::NavGestureScrollFileSession(NavigateController *controller, LMImageViewModel *openGLView,
                                                         NavPagingViewFactory *overlapViewContainer)
    : m_controller(controller)
    , m_openGLView(openGLView)
    , m_container(overlapViewContainer)
{
    m_imageViewMove = m_container->createPagingView();
    m_imageViewStay = m_container->createPagingView();
}

NavGestureScrollFileSession::~NavGestureScrollFileSession() = default;

bool NavGestureScrollFileSession::scrollSessionRunning() const
{
    return m_inPhaseScrollSession || m_gestureScrollTimer.isTimerRunning() || m_scrollAnimationTimer.isTimerRunning();
}

void NavGestureScrollFileSession::abortScrollSession()
{
    if (!scrollSessionRunning())
        return;
    m_gestureScrollTimer.stop();
    m_inPhaseScrollSession = false;
    m_scrollAnimationTimer.stop();
    endScrollWithoutCheckAnimation(false);
}

void NavGestureScrollFileSession::startGestureScrollTimer()
{
    m_gestureScrollTimer.start(kGestureEndDelay, [this] { endScroll(); });
}

void NavGestureScrollFileSession::scrollWheel(const kpv::Event &event)
{
    const int p = event.phase();
    const int mp = event.momentumPhase();
    if (p == 0 && mp == 0)
        return;
    const bool wasActive = m_gestureScrollTimer.isTimerRunning() || m_inPhaseScrollSession;
    if (p & kPhaseBegan) {
        m_gestureScrollTimer.stop();
        m_inPhaseScrollSession = true;
    } else if (p & (kPhaseEnded | kPhaseCancelled)) {
        if (m_inPhaseScrollSession) {
            startGestureScrollTimer();
            m_inPhaseScrollSession = false;
        }
    } else if (mp & kPhaseBegan) {
        m_inPhaseScrollSession = false;
        startGestureScrollTimer();
    } else if (mp != 0 && !(mp & (kPhaseEnded | kPhaseCancelled))) {
        if (m_gestureScrollTimer.isTimerRunning())
            startGestureScrollTimer();
    }
    if (!m_gestureScrollTimer.isTimerRunning() && !m_inPhaseScrollSession)
        return;
    if (!wasActive)
        beginScroll();
    doScroll(QPointF(event.scrollingDeltaX(), event.scrollingDeltaY()), mp != 0);
}

void NavGestureScrollFileSession::beginScroll()
{
    if (m_scrollAnimationTimer.isTimerRunning()) {
        // A new swipe during the finishing animation completes the earlier one at once.
        const bool shouldScroll = m_animationShouldScrollFile;
        m_scrollAnimationTimer.stop();
        endScrollWithoutCheckAnimation(shouldScroll);
    }
    m_scrollDirection = None;
    m_openGLEnableStatusBeforeScroll = m_openGLView->enable();
}

void NavGestureScrollFileSession::setupFirstDelta(QPointF delta)
{
    const double dx = delta.x(), dy = delta.y();
    int direction;
    if (std::abs(dy) <= std::abs(dx))
        direction = dx < 0 ? NextHorizontal : PrevHorizontal;
    else
        direction = dy < 0 ? NextVertical : PrevVertical;
    const bool next = direction == NextHorizontal || direction == NextVertical;

    const qsizetype c = m_controller->curFileIndex();
    const qsizetype n = m_controller->fileCount();
    qsizetype moveIndex = c, stayIndex = kNotFound, target = kNotFound;
    if (next) {
        if (c + 1 < n)
            stayIndex = target = c + 1;
    } else if (c > 0) {
        moveIndex = target = c - 1;
        stayIndex = c;
    }

    auto imageAndScale = [this, c](qsizetype index, LMImagePtr *image, double *scale) {
        *image = nullptr;
        *scale = 0;
        if (index == kNotFound)
            return;
        const LMNavFileInfoPtr info = m_controller->fileInfoByIndex(index);
        if (!info)
            return;
        *scale = index == c ? m_controller->curScale()
                            : m_openGLView->calcFitinScaleForImage(info->imgBaseInfo(), LMImageRotateAngle::zeroAngle());
        bool failed = false;
        *image = info->matchImageByScale(*scale, nullptr, &failed);
        if (failed) {
            *image = m_controller->acquireBadFileImage();
            *scale = *image ? m_openGLView->calcFitinScaleForImage((*image)->originalImgBaseInfo(),
                                                                    LMImageRotateAngle::zeroAngle())
                            : 0;
        }
    };
    LMImagePtr moveImage, stayImage;
    double moveScale = 0, stayScale = 0;
    imageAndScale(moveIndex, &moveImage, &moveScale);
    imageAndScale(stayIndex, &stayImage, &stayScale);

    const int pos = c == 0 ? 0 : (c == n - 1 ? 2 : 1);
    m_imageViewRectBeforeScroll = calcImageViewRect(direction, moveImage, moveScale, pos, true);
    m_imageViewRectAfterScroll = calcImageViewRect(direction, moveImage, moveScale, pos, false);
    const QRectF stayRect = calcImageViewRect(None, stayImage, stayScale, 1, true);

    m_imageViewMove->setImage(moveImage);
    m_imageViewStay->setImage(stayImage);
    m_container->setMainViewImageNotDraw(true);
    m_imageViewMove->setFrame(m_imageViewRectBeforeScroll);
    m_imageViewStay->setFrame(stayRect);
    m_imageViewStay->setAlpha(next ? 0.0 : 1.0);
    m_imageViewMove->setHidden(false);
    m_imageViewStay->setHidden(false);
    if (!m_imageViewStay->isInContainer())
        m_imageViewStay->addToContainer();
    if (!m_imageViewMove->isInContainer())
        m_imageViewMove->addToContainer();

    m_scrollDirection = direction;
    m_fileIndexScrollTo = target;
    m_openGLView->setEnable(false);
}

void NavGestureScrollFileSession::doScroll(QPointF delta, bool momentumPhase)
{
    if (delta.x() == 0 && delta.y() == 0)
        return;
    if (m_scrollDirection == None)
        setupFirstDelta(delta);
    if (momentumPhase && m_scrollAnimationTimer.isTimerRunning())
        return;

    const QPointF before = m_imageViewRectBeforeScroll.topLeft();
    const QPointF after = m_imageViewRectAfterScroll.topLeft();
    QPointF origin = m_imageViewMove->frame().topLeft();
    switch (m_scrollDirection) {
    case PrevHorizontal:
        origin.setX(std::max(before.x(), std::min(origin.x() + delta.x(), after.x())));
        break;
    case NextHorizontal:
        origin.setX(std::max(after.x(), std::min(origin.x() + delta.x(), before.x())));
        break;
    case PrevVertical:
        origin.setY(std::min(before.y(), std::max(origin.y() - delta.y(), after.y())));
        break;
    case NextVertical:
        origin.setY(std::min(after.y(), std::max(origin.y() - delta.y(), before.y())));
        break;
    default:
        return;
    }
    const double span = std::abs(axisValue(after) - axisValue(before));
    const double progress = span > 0 ? std::min(1.0, std::abs(axisValue(origin) - axisValue(before)) / span) : 1.0;
    m_imageViewStay->setAlpha(isNext() ? progress : 1.0 - progress);
    QRectF frame = m_imageViewMove->frame();
    frame.moveTopLeft(origin);
    m_imageViewMove->setFrame(frame);

    if (momentumPhase) {
        if (m_fileIndexScrollTo == kNotFound) {
            if (axisValue(origin) == axisValue(after)) {
                createScrollAnimationTimer(false);
                m_gestureScrollTimer.stop();
            }
        } else if (canScrollFile()) {
            createScrollAnimationTimer(true);
            m_gestureScrollTimer.stop();
        }
    }
}

QRectF NavGestureScrollFileSession::calcImageViewRect(int direction, const LMImagePtr &image, double scale,
                                                      int curFilePos, bool beforeScroll) const
{
    QRectF r = image ? m_container->convertFromMainView(
                           m_openGLView->calcVisibleViewRectForImageWithoutModified(image, scale))
                     : m_container->containerBounds();
    if (direction == None)
        return r;
    const bool next = direction == NextHorizontal || direction == NextVertical;
    const bool horizontal = direction == PrevHorizontal || direction == NextHorizontal;
    const QRectF bounds = m_openGLView->viewBounds();
    const double qW = std::round(bounds.width() * 0.25);
    const double qH = std::round(bounds.height() * 0.25);
    if ((curFilePos == 2 && next) || (curFilePos == 0 && !next)) {
        if (beforeScroll)
            return r;
        // At either end the image can be pulled a quarter of the view and springs back.
        const double sign = next ? 1 : -1;
        if (horizontal)
            r.moveLeft(r.x() - sign * qW);
        else
            r.moveTop(r.y() + sign * qH);
        return r;
    }
    if (next != beforeScroll) {
        if (horizontal)
            r.moveLeft(-r.width());
        else
            r.moveTop(m_container->containerBounds().height());
    }
    return r;
}

bool NavGestureScrollFileSession::canScrollFile() const
{
    if (m_fileIndexScrollTo == kNotFound)
        return false;
    const QRectF bounds = m_openGLView->viewBounds();
    const QPointF origin = m_imageViewMove->frame().topLeft();
    const QPointF before = m_imageViewRectBeforeScroll.topLeft();
    if (isHorizontal())
        return std::abs(origin.x() - before.x()) > std::round(0.25 * bounds.width());
    return std::abs(origin.y() - before.y()) > std::round(0.25 * bounds.height());
}

void NavGestureScrollFileSession::endScroll()
{
    if (m_scrollAnimationTimer.isTimerRunning())
        return;
    const bool ok = canScrollFile();
    const QPointF origin = m_imageViewMove->frame().topLeft();
    const QPointF after = m_imageViewRectAfterScroll.topLeft();
    bool atEnd = false;
    switch (m_scrollDirection) {
    case PrevHorizontal: atEnd = origin.x() >= after.x(); break;
    case NextHorizontal: atEnd = origin.x() <= after.x(); break;
    case PrevVertical: atEnd = origin.y() <= after.y(); break;
    case NextVertical: atEnd = origin.y() >= after.y(); break;
    default: break;
    }
    if (ok && atEnd)
        endScrollWithoutCheckAnimation(true);
    else
        createScrollAnimationTimer(ok);
}

void NavGestureScrollFileSession::createScrollAnimationTimer(bool shouldScrollFile)
{
    const QPointF target = shouldScrollFile ? m_imageViewRectAfterScroll.topLeft() : m_imageViewRectBeforeScroll.topLeft();
    const QPointF start = m_imageViewMove->frame().topLeft();
    const double alphaFrom = m_imageViewStay->alpha();
    const double alphaTo = isNext() ? (shouldScrollFile ? 1.0 : 0.0) : (shouldScrollFile ? 0.0 : 1.0);
    const bool horizontal = isHorizontal();
    const double begin = kpv::RunLoop::main().now();
    m_animationShouldScrollFile = shouldScrollFile;
    m_scrollAnimationTimer.start(
        kAnimationTick, {},
        [this, target, start, alphaFrom, alphaTo, horizontal, begin](bool *stop) {
            const double t = std::min(kpv::RunLoop::main().now() - begin, kAnimationDuration);
            const double p = std::sin(t / kAnimationDuration * M_PI / 2);
            QPointF origin = start;
            if (horizontal)
                origin.setX(start.x() + (target.x() - start.x()) * p);
            else
                origin.setY(start.y() + (target.y() - start.y()) * p);
            QRectF frame = m_imageViewMove->frame();
            frame.moveTopLeft(origin);
            m_imageViewMove->setFrame(frame);
            m_imageViewStay->setAlpha(alphaFrom + (alphaTo - alphaFrom) * p);
            if (t >= kAnimationDuration)
                *stop = true;
        },
        [this, shouldScrollFile](bool stoppedFromOutside) {
            if (!stoppedFromOutside)
                endScrollWithoutCheckAnimation(shouldScrollFile);
        },
        {{QStringLiteral("shouldScrollFile"), shouldScrollFile}});
}

void NavGestureScrollFileSession::endScrollWithoutCheckAnimation(bool shouldScrollFile)
{
    if (m_imageViewMove->isHidden())
        return;
    m_imageViewMove->setHidden(true);
    m_imageViewStay->setHidden(true);
    m_imageViewMove->setImage(nullptr);
    m_imageViewStay->setImage(nullptr);
    if (shouldScrollFile && m_fileIndexScrollTo != kNotFound)
        m_controller->doNavCurFileToIndex(m_fileIndexScrollTo, true, {});
    m_container->setMainViewImageNotDraw(false);
    m_openGLView->setEnable(m_openGLEnableStatusBeforeScroll);
    m_controller->updatePreviewStatusUIForCurFile(true);
}
