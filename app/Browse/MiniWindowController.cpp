#include "Browse/MiniWindowController.h"

#include "Browse/MiniWindowGeometry.h"

#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Timer.h"

#include <algorithm>
#include <cmath>

MiniWindowController::MiniWindowController(MiniWindowHost& host) : m_host(host)
{
    kpv::NotificationCenter::defaultCenter().addObserver(
        this, QStringLiteral("didChangeMainShowMode"), nullptr,
        [this](const kpv::Notification& n) { didChangeMainShowMode(n.userInfo); });
}

MiniWindowController::~MiniWindowController()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_zoomStatusTimer)
        m_zoomStatusTimer->invalidate();
}

void MiniWindowController::updateMiniWindow(kpv::Size size)
{
    const kpv::Rect current = m_host.windowFrame();
    if (kpv::Rect(current.origin, size) == current)
        return;
    const kpv::Rect next = MiniWindowGeometry::fitFrame(current, size, m_host.visibleScreenFrame(), m_host.minWindowSize());
    if (next != current)
        m_host.setWindowFrame(next);
}

void MiniWindowController::updateMiniUI(int imageMode, double newAngle)
{
    const long mode = m_host.showMode();
    if ((mode == 4 || mode == 128) && m_host.hasCurFile()) {
        if (mode != 128)
            m_host.setShowMode(128);
        m_host.showImageForm(true);
        const kpv::Size pixels = m_host.curFileFrameSize();
        const bool sized = pixels.width > 0 && pixels.height > 0;
        // The last photo held on screen keeps its window until the next one's picture takes it:
        // a window of another size would let it go at once.
        const bool held = m_host.viewHoldsPicture();
        const auto fitWindow = [&] {
            updateMiniWindow(MiniWindowGeometry::imagePointSize(pixels, newAngle, m_host.backingScaleFactor()));
        };
        if (sized) {
            m_host.setNewScaleMode(1);
            if (!held)
                fitWindow();
        }
        m_host.updateOpenGLViewImage(1);
        m_host.updateOpenGLViewImage(imageMode);
        if (sized && held && !m_host.viewHoldsPicture())
            fitWindow();
    } else {
        if (mode != 256)
            m_host.setShowMode(256);
        m_host.showImageForm(false);
    }
    m_isWindowZoomed = false;
    m_oldWindowFrameBeforeZoom = kpv::Rect();
    m_host.orderFrontMiniWindow();
}

void MiniWindowController::performZoom()
{
    const long mode = m_host.showMode();
    const kpv::Rect frame = m_host.windowFrame();
    const kpv::Rect visible = m_host.visibleScreenFrame();
    if (mode == 256) {
        if (!m_isWindowZoomed && frame != visible) {
            m_oldWindowFrameBeforeZoom = frame;
            m_host.setWindowFrame(visible);
            m_isWindowZoomed = true;
        } else if (m_isWindowZoomed && m_oldWindowFrameBeforeZoom != kpv::Rect() && m_oldWindowFrameBeforeZoom != frame) {
            m_host.setWindowFrame(m_oldWindowFrameBeforeZoom);
            m_isWindowZoomed = false;
            m_oldWindowFrameBeforeZoom = kpv::Rect();
        }
        return;
    }
    if (mode != 128)
        return;
    if (!m_isWindowZoomed) {
        if (frame.width() == visible.width() || frame.height() == visible.height())
            return;
        const kpv::Size target = MiniWindowGeometry::zoomTargetSize(m_host.imageVisibleViewRect().size, m_host.viewScale(),
                                                                    m_host.viewMaxScale(), visible);
        if (target == frame.size || target == kpv::Size())
            return;
        m_host.setNewScaleMode(4);
        updateMiniWindow(target);
        m_host.switchToScaleMode(4);
        m_isWindowZoomed = true;
        m_oldWindowFrameBeforeZoom = frame;
    } else {
        m_host.setNewScaleMode(1);
        updateMiniWindow(m_host.imageVisibleViewRect().size);
        m_host.switchToScaleMode(1);
        m_isWindowZoomed = false;
        m_oldWindowFrameBeforeZoom = kpv::Rect();
    }
}

void MiniWindowController::doBeforeRotate()
{
    if (m_host.showMode() != 128)
        return;
    if (m_isWindowZoomed)
        performZoom();
    m_host.switchToScaleMode(1);
    m_host.setWindowFrame(m_host.visibleScreenFrame()); // room for the turning picture
}

void MiniWindowController::didEndRotate(double newAngle)
{
    m_isImageRotating = false;
    if (m_host.isWindowVisible())
        updateMiniUI(0, newAngle);
}

void MiniWindowController::doChangeScale()
{
    if (m_isImageRotating)
        return;
    updateMiniWindow(m_host.imageVisibleViewRect().size);
    m_host.updateOpenGLViewImage(0);
    const QString percent = QStringLiteral("%1%").arg(MiniWindowGeometry::zoomPercent(m_host.viewScale()));
    updateStatusInfo(percent, false);
    // The percentage is there while the user zooms, not over the picture for good.
    if (m_zoomStatusTimer)
        m_zoomStatusTimer->invalidate();
    m_zoomStatusTimer = kpv::Timer::scheduled(kZoomStatusHideDelay, false, [this, percent](kpv::Timer&) {
        m_zoomStatusTimer.reset();
        if (m_statusText == percent)
            updateStatusInfo(QString(), false);
    });
}

void MiniWindowController::updateStatusInfo(const QString& text, bool showWaiting)
{
    m_statusText = text;
    const double width = m_host.setStatusText(text, showWaiting);
    // A text wider than the window widens the window, keeping its height.
    if (!text.isEmpty() && width > m_host.windowFrame().width())
        updateMiniWindow({width, m_host.windowFrame().height()});
}

void MiniWindowController::switchToNormalMode()
{
    // A line about the photo ("Loading", a zoom) is the main window's from now on; it would come
    // back stale with the mini window.
    updateStatusInfo(QString(), false);
    m_host.orderFrontMainWindow();
    m_host.orderOutMiniWindow();
    const long mode = m_host.showMode();
    long next = m_oldShowModeBeforeMiniWindow;
    if (mode == 256)
        next = 2;
    else if (m_oldShowModeBeforeMiniWindow == 2)
        next = 4; // a file was dropped into the empty window: there is an image to view now
    m_host.setShowMode(next);
    m_host.restoreNavigatorView();
}

void MiniWindowController::didChangeMainShowMode(const QVariantMap& userInfo)
{
    const long oldMode = userInfo.value(QStringLiteral("old")).toLongLong();
    const long newMode = userInfo.value(QStringLiteral("new")).toLongLong();
    const bool oldMini = oldMode == 128 || oldMode == 256;
    const bool newMini = newMode == 128 || newMode == 256;
    if (!oldMini && newMini)
        m_oldShowModeBeforeMiniWindow = oldMode;
    if (newMode == 256)
        m_host.showImageForm(false);
    m_host.registEquivalentResponder(newMode == 128);
}

void MiniWindowController::registEquivalentResponder(LMEquivalentResponder* responder, bool regist)
{
    m_equivalentResponders.registEquivalentResponder(responder, regist);
}

bool MiniWindowController::doEquivalentResponder(const std::function<bool(LMEquivalentResponder&)>& block)
{
    return m_equivalentResponders.doEquivalentResponder(block);
}
