// What the image view does with wheel, gesture and press input, and cropping what it shows.

#include "View/LMImageViewModel.h"

#include "appkit/Event.h"

#include <algorithm>
#include <cmath>

namespace {
// A rotation gesture turns the image a quarter once it gathers this many degrees within the window.
constexpr double kRotateGestureDegrees = 5.0;
constexpr double kRotateGestureWindow = 0.5;
} // namespace

bool LMImageViewModel::handleScrollWheel(const kpv::Event &event, QPointF pointInView)
{
    if (!enable())
        return false;
    if (event.phase() != kpv::PhaseNone || event.momentumPhase() != kpv::PhaseNone) {
        // Trackpad: pan an image larger than the bounds; otherwise the owner pages with it.
        if (!canDragImageWithoutCheckCursorPosition())
            return false;
        moveImageByDeltaPoint(QPointF(std::floor(event.scrollingDeltaX()), -std::floor(event.scrollingDeltaY())));
        return true;
    }
    const double dy = event.scrollingDeltaY();
    switch (mouseWheelAction()) {
    case MouseWheelActionZoom:
        return beginZoomByDelta(dy, pointInView);
    case MouseWheelActionPan:
        if (!canDragImageWithoutCheckCursorPosition())
            return false;
        moveImageByDeltaPoint(QPointF(0, -std::floor(dy * 3.0)));
        return true;
    case MouseWheelActionPassOn:
        return false;
    default:
        return true;
    }
}

bool LMImageViewModel::handleMagnify(const kpv::Event &event)
{
    if (!enable() || inArrowKeyZoomSession() || !imageNormal())
        return false;
    endRotate();
    double s = (1 + event.magnification()) * scale();
    s = std::min(s, curMaxScale());
    s = std::max(s, curMinScale());
    setScale(s, std::nullopt, true);
    return true;
}

bool LMImageViewModel::handleSmartMagnify()
{
    if (!enable())
        return false;
    switchToScaleMode(fitinMode() ? ScaleModeActualSize : ScaleModeFitin);
    return true;
}

bool LMImageViewModel::canRotate() const { return enable() && imageNormal() && imageSupportRotate(); }

bool LMImageViewModel::handleRotateGesture(const kpv::Event &event)
{
    if (!canRotate())
        return false;
    const double r = event.rotation();
    if (r == 0 || !std::isfinite(r) || isRotateTimerRunning())
        return true;
    const double ts = event.timestamp();
    if (ts - m_rotateDetectLastTime > kRotateGestureWindow) {
        m_rotateDetectBeginTime = 0;
        m_totalRotateDegreeFromBegin = 0;
        m_rotateDetectLastTime = 0;
    }
    const double total = m_totalRotateDegreeFromBegin;
    if (m_rotateDetectBeginTime == 0 || (total > 0 && r < 0) || (total < 0 && r > 0)) {
        m_totalRotateDegreeFromBegin = 0;
        m_rotateDetectBeginTime = ts;
        m_rotateDetectLastTime = ts;
    }
    m_totalRotateDegreeFromBegin += r;
    if (std::fabs(m_totalRotateDegreeFromBegin) > kRotateGestureDegrees) {
        const double sum = m_totalRotateDegreeFromBegin;
        m_rotateDetectBeginTime = 0;
        m_totalRotateDegreeFromBegin = 0;
        m_rotateDetectLastTime = 0;
        rotate(sum > 0 ? RotateActionLeft : RotateActionRight);
    }
    return true;
}

bool LMImageViewModel::takesMouseDown(QPointF pointInView, int clickCount) const
{
    return clickCount < 2 && enable() && !inArrowKeyZoomSession() && isPointOnImage(pointInView);
}

QImage LMImageViewModel::cropImageForRect(const QRectF &rect, int *angle) const
{
    const LMImagePtr image = imageNormal();
    if (angle) {
        const LMFileImgBaseInfoPtr info = image ? image->originalImgBaseInfo() : nullptr;
        const double total = double(info ? info->orientationAngle() : 0) + angleRotate().angleRotate();
        const double whole = std::isfinite(total) ? std::trunc(total) : 0.0;
        const int64_t n = std::fabs(whole) < 9e18 ? int64_t(whole) : 0;
        *angle = int(((n % 360) + 360) % 360);
    }
    if (!image)
        return QImage();
    const QRectF r = mapToImageRect(rect);
    if (r.isEmpty())
        return QImage();
    return image->cropImage(r);
}
