// Stepped and animated zoom of the image view.

#include "View/LMImageViewModel.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kZoomSource = QStringLiteral("zoomSource");
const QString kZoomIn = QStringLiteral("zoomIn");
const QString kBeginTime = QStringLiteral("beginTime");
const QString kBeginScale = QStringLiteral("beginScale");
const QString kEndScale = QStringLiteral("endScale");
const QString kSessionEnterTime = QStringLiteral("zoomSessionEnterTime");
const QString kArrowKeyFirstZoom = QStringLiteral("arrowKeyFirstZoom");
const QString kEndLimitScale = QStringLiteral("endLimitScale");
const QString kHoldPosition = QStringLiteral("holdPosition");

constexpr double kZoomTick = 1.0 / 30.0;
// A step eases over 1.5 s; an arrow key held through the first 0.75 s hands over to faster steps.
constexpr double kStepDuration = 1.5;
constexpr double kArrowKeyHandOver = 0.75;

} // namespace

double LMImageViewModel::calcLimitScaleEndZoom(double scale, bool zoomIn, bool skipOriginalScale, double minScale,
                                               double maxScale)
{
    if (zoomIn)
        return scale >= 1.0 || skipOriginalScale ? maxScale : 1.0;
    return !skipOriginalScale && scale > 1.0 ? 1.0 : minScale;
}

double LMImageViewModel::calcScaleEndZoom(double scale, bool zoomIn, double multiple, bool skipOriginalScale,
                                          double minScale, double maxScale)
{
    const double limit = calcLimitScaleEndZoom(scale, zoomIn, skipOriginalScale, minScale, maxScale);
    // Every step moves at least 0.01.
    if (zoomIn)
        return std::max(scale + 0.01, std::min(1.15 * scale * multiple, limit));
    return std::min(std::max(limit, scale / 1.15 / multiple), std::max(minScale, scale - 0.01));
}

bool LMImageViewModel::canZoom(bool zoomIn, bool skipOriginalScale) const
{
    if (!imageNormal())
        return false;
    const double s = scale();
    const double limit = calcLimitScaleEndZoom(s, zoomIn, skipOriginalScale, curMinScale(), curMaxScale());
    return zoomIn ? s < limit : limit < s;
}

void LMImageViewModel::beginArrowKeyZoom(bool zoomIn)
{
    if (!enable() || m_inArrowKeyZoomSession || !imageNormal())
        return;
    endRotate();
    if (!animationZoom()) {
        zoomWithoutAnimation(zoomIn, std::nullopt);
        return;
    }
    if (!canZoom(zoomIn, false))
        return;
    const double s = scale();
    const double limit = calcLimitScaleEndZoom(s, zoomIn, false, curMinScale(), curMaxScale());
    if (isZoomTimerRunning() && zoomTimerUserInfo().value(kZoomIn).toBool() == zoomIn && std::fabs(limit - s) <= 0.01)
        return;
    m_inArrowKeyZoomSession = true;
    startZoomTimerForType(ZoomSourceStep, zoomIn, calcScaleEndZoom(s, zoomIn, 1.0, false, curMinScale(), curMaxScale()),
                          std::nullopt, 0.0, true, limit);
}

bool LMImageViewModel::beginZoomByDelta(double delta, const std::optional<QPointF> &holdPosition)
{
    if (!enable() || m_inArrowKeyZoomSession || !imageNormal())
        return false;
    if (delta == 0 || !std::isfinite(delta))
        return true;
    endRotate();
    const bool zoomIn = delta > 0;
    if (!animationZoom()) {
        zoomWithoutAnimation(zoomIn, holdPosition);
        return true;
    }
    if (!canZoom(zoomIn, false))
        return true;
    const double multiple = std::max(1.15, std::min(std::sqrt(std::fabs(delta)) + 1, 3.0));
    startZoomTimerForType(ZoomSourceStep, zoomIn,
                          calcScaleEndZoom(scale(), zoomIn, multiple, false, curMinScale(), curMaxScale()),
                          holdPosition, 0.0, false, curMaxScale());
    return true;
}

void LMImageViewModel::zoomWithoutAnimation(bool zoomIn, const std::optional<QPointF> &holdPosition)
{
    abortZoom();
    const double s = scale();
    const double f = calcFitinScale();
    // The scale times or divided by 2^0.2, to hundredths; the immediate step also halts at the
    // fit-in scale.
    const double t = std::round(std::pow(2.0, std::log2(s) + (zoomIn ? 0.2 : -0.2)) * 100) / 100;
    double r;
    if (zoomIn) {
        const double stop = s < f ? f : (s < 1.0 ? 1.0 : curMaxScale());
        r = std::min(std::max(s + 0.01, t), stop);
        if (r >= stop - 0.01)
            r = stop;
    } else {
        const double stop = s > 1.0 ? 1.0 : (s > f ? f : curMinScale());
        r = std::max(stop, std::min(t, s - 0.01));
        if (r <= stop + 0.01)
            r = stop;
    }
    setScale(r, holdPosition, true);
}

void LMImageViewModel::startZoomTimerForType(int zoomSource, bool zoomIn, double endScale,
                                             const std::optional<QPointF> &holdPosition, double zoomSessionEnterTime,
                                             bool arrowKeyFirstZoom, double limitScale)
{
    if (!m_zoomTimer)
        m_zoomTimer = std::make_unique<LMBlockRepeatTimer>();
    const bool wasRunning = m_zoomTimer->isTimerRunning();
    // A step that follows one about the same hold point (a wheel turned on, a held key's next
    // step) keeps aiming at the image point the first one took there.
    if (!wasRunning || zoomHoldPosition() != holdPosition)
        m_zoomImagePoint = imagePointHeldAt(zoomHoldViewPoint(holdPosition));
    if (wasRunning)
        m_zoomTimer->stop();
    const double t = now();
    QVariantMap info;
    info.insert(kZoomSource, zoomSource);
    info.insert(kZoomIn, zoomIn);
    info.insert(kBeginTime, t);
    info.insert(kBeginScale, scale());
    info.insert(kEndScale, endScale);
    info.insert(kSessionEnterTime, zoomSessionEnterTime == 0.0 ? t : zoomSessionEnterTime);
    info.insert(kArrowKeyFirstZoom, arrowKeyFirstZoom);
    info.insert(kEndLimitScale, limitScale);
    if (holdPosition)
        info.insert(kHoldPosition, *holdPosition);
    m_zoomTimer->start(
        kZoomTick, nullptr,
        [this](bool *stop) {
            if (zoomTimerHandler())
                *stop = true;
        },
        nullptr, info);
    if (!wasRunning)
        setLayerAsynchronous(true);
}

std::optional<QPointF> LMImageViewModel::zoomHoldPosition() const
{
    const QVariantMap info = zoomTimerUserInfo();
    if (!info.contains(kHoldPosition))
        return std::nullopt;
    return info.value(kHoldPosition).toPointF();
}

double LMImageViewModel::calcScaleByZoomTimer(bool *end, bool *resetTimer) const
{
    if (!isZoomTimerRunning())
        return scale();
    const QVariantMap info = zoomTimerUserInfo();
    const double t = std::min(now() - info.value(kBeginTime).toDouble(), kStepDuration);
    // 1 - 1/(t+1)^4 reaches 0.9744 at t = 1.5; dividing by it makes the curve end exactly at 1.
    const double p = (1 - 1 / std::pow(t + 1, 4)) / 0.9744;
    const double b = info.value(kBeginScale).toDouble();
    const double e = info.value(kEndScale).toDouble();
    double s = b + (e - b) * p;
    bool ends = false, continues = false;
    const int source = info.value(kZoomSource).toInt();
    if (source != ZoomSourceStep) {
        ends = source >= ZoomSourceUnused && source <= ZoomSourceFitinEnlarge && t >= kStepDuration;
    } else {
        const bool first = info.value(kArrowKeyFirstZoom).toBool();
        const bool held = m_inArrowKeyZoomSession;
        const double limit = info.value(kEndLimitScale).toDouble();
        if (!first && held && e != limit) {
            continues = true;
        } else if (t >= kStepDuration || (first && held && t >= kArrowKeyHandOver)) {
            continues = first && held;
            ends = !continues;
        }
    }
    if (ends)
        s = e;
    if (end)
        *end = ends;
    if (resetTimer)
        *resetTimer = continues;
    return s;
}

bool LMImageViewModel::zoomTimerHandler()
{
    const QVariantMap info = zoomTimerUserInfo();
    const int source = info.value(kZoomSource).toInt();
    const bool zoomIn = info.value(kZoomIn).toBool();
    bool end = false, continues = false;
    double s = calcScaleByZoomTimer(&end, &continues);
    const std::optional<QPointF> hold = zoomHoldPosition();
    if (source == ZoomSourceStep) {
        applyZoomScale(s, end);
        if (continues) {
            // The next step takes over on the same timer; the layer stays asynchronous.
            const double enter = info.value(kSessionEnterTime).toDouble();
            const double multiple = std::sqrt(std::max(0.0, now() - enter)) + 1;
            const double limit = info.value(kEndLimitScale).toDouble();
            startZoomTimerForType(ZoomSourceStep, zoomIn,
                                  calcScaleEndZoom(s, zoomIn, multiple, false, curMinScale(), curMaxScale()), hold,
                                  enter, false, limit);
        } else if (end) {
            stopZoomTimer();
        }
    } else {
        // A fit-in zoom lands on the fit-in scale of this moment, even if it changed meanwhile.
        if (end && source == ZoomSourceFitin)
            s = calcFitinScale();
        applyZoomScale(s, end);
        if (end)
            stopZoomTimer();
    }
    return end;
}

void LMImageViewModel::advanceZoomForFrame()
{
    if (!isLayerAsynchronous())
        return;
    applyZoomScale(calcScaleByZoomTimer(nullptr, nullptr), true);
}

double LMImageViewModel::zoomLandingScale() const
{
    if (!isZoomTimerRunning())
        return scale();
    const QVariantMap info = zoomTimerUserInfo();
    // As the last tick does: a zoom to fit lands on the fit-in scale of that moment.
    const double e = info.value(kZoomSource).toInt() == ZoomSourceFitin ? calcFitinScale()
                                                                         : info.value(kEndScale).toDouble();
    return std::min(std::max(minScaleByNewAngle(angleRotate()), e), curMaxScale());
}

void LMImageViewModel::finishZoom(bool notify)
{
    if (!isZoomTimerRunning())
        return;
    const double s = zoomLandingScale();
    const QPointF o = zoomOffsetForScale(s);
    stopZoomTimer();
    setNewScale(s, true, angleRotate(), o, false, notify);
}

void LMImageViewModel::stopZoomTimer()
{
    if (!isZoomTimerRunning())
        return;
    setLayerAsynchronous(false);
    m_zoomTimer->stop();
    setNeedsUpdateDrawContent();
    invalidateCursorRects();
}
