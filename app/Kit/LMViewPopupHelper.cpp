#include "Kit/LMViewPopupHelper.h"

#include <QPointF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
const QString kShowFlag = QStringLiteral("showFlag");
const QString kLocation = QStringLiteral("locationInWindow");

std::vector<LMViewPopupHelper*>& liveHelpers()
{
    static std::vector<LMViewPopupHelper*> helpers;
    return helpers;
}
} // namespace

LMViewPopupHelper::LMViewPopupHelper(kpv::View* view) : m_viewPopup(view) { liveHelpers().push_back(this); }

LMViewPopupHelper::~LMViewPopupHelper() { std::erase(liveHelpers(), this); }

void LMViewPopupHelper::showPendingAtOnceInWindow(const kpv::Window* window)
{
    // Showing may make or destroy helpers: the waiting ones are picked first.
    std::vector<LMViewPopupHelper*> waiting;
    for (LMViewPopupHelper* helper : liveHelpers())
        if (helper->hasPendingShow() && helper->m_viewPopMenuContainer &&
            helper->m_viewPopMenuContainer->window() == window)
            waiting.push_back(helper);
    for (LMViewPopupHelper* helper : waiting)
        if (std::find(liveHelpers().begin(), liveHelpers().end(), helper) != liveHelpers().end() &&
            helper->hasPendingShow()) {
            const QPointF p = helper->m_showHideTimer->userInfo().value(kLocation).toPointF();
            helper->stopShowHideTimer();
            helper->showWithouDelayAtLocationInWindow({p.x(), p.y()});
        }
}

kpv::Point LMViewPopupHelper::popupOrigin(kpv::Point p, double viewWidth, bool alignLeft)
{
    if (alignLeft)
        return p;
    return {std::floor(p.x - viewWidth * 0.5), std::floor(p.y)};
}

void LMViewPopupHelper::setViewFrameOriginByLocationInWindow(kpv::Point p)
{
    kpv::Point inContainer = p;
    if (m_viewPopMenuContainer)
        inContainer = m_viewPopMenuContainer->convertPointFromView(p, nullptr);
    m_viewPopup->setFrameOrigin(popupOrigin(inContainer, m_viewPopup->bounds().width(), m_popViewAlignLeft));
}

bool LMViewPopupHelper::hasPendingShow() const
{
    return m_showHideTimer && m_showHideTimer->isTimerRunning() &&
           m_showHideTimer->userInfo().value(kShowFlag).toBool();
}

bool LMViewPopupHelper::hasPendingHide() const
{
    return m_showHideTimer && m_showHideTimer->isTimerRunning() &&
           !m_showHideTimer->userInfo().value(kShowFlag).toBool();
}

void LMViewPopupHelper::startTimer(double interval, QVariantMap info)
{
    if (!m_showHideTimer)
        m_showHideTimer = std::make_unique<LMBlockTimer>();
    m_showHideTimer->start(interval, [this] { showHideTimerHandler(); }, std::move(info));
}

void LMViewPopupHelper::showAtLocationInWindow(kpv::Point p, bool delay)
{
    p = {std::floor(p.x), std::floor(p.y)};
    if (isShown()) {
        setViewFrameOriginByLocationInWindow(p);
        stopShowHideTimer();
        return;
    }
    if (m_showHideTimer && m_showHideTimer->isTimerRunning()) {
        const QVariantMap info = m_showHideTimer->userInfo();
        const QPointF pending = info.value(kLocation).toPointF();
        if (delay && info.value(kShowFlag).toBool() && pending == QPointF(p.x, p.y))
            return;
        stopShowHideTimer();
    }
    if (!delay) {
        showWithouDelayAtLocationInWindow(p);
        return;
    }
    startTimer(kShowDelay, {{kShowFlag, true}, {kLocation, QPointF(p.x, p.y)}});
}

void LMViewPopupHelper::hide(bool delay)
{
    if (!isShown()) {
        stopShowHideTimer();
        return;
    }
    if (m_showHideTimer && m_showHideTimer->isTimerRunning()) {
        if (delay && !m_showHideTimer->userInfo().value(kShowFlag).toBool())
            return;
        stopShowHideTimer();
    }
    if (!delay) {
        hideWithoutDelay();
        return;
    }
    startTimer(kHideDelay, {{kShowFlag, false}});
}

void LMViewPopupHelper::showWithouDelayAtLocationInWindow(kpv::Point p)
{
    if (m_delegate)
        m_delegate->viewPopupHelper_willViewShowed(this, true);
    setViewFrameOriginByLocationInWindow(p);
    if (m_viewPopMenuContainer && !isShown())
        m_viewPopMenuContainer->addSubview(m_viewPopup);
    if (m_delegate)
        m_delegate->viewPopupHelper_didViewShowed(this, true);
}

void LMViewPopupHelper::hideWithoutDelay()
{
    if (m_delegate)
        m_delegate->viewPopupHelper_willViewShowed(this, false);
    if (isShown())
        m_viewPopup->removeFromSuperview(); // the popup view's owner holds it again
    if (m_delegate)
        m_delegate->viewPopupHelper_didViewShowed(this, false);
}

void LMViewPopupHelper::showHideTimerHandler()
{
    if (!m_showHideTimer)
        return;
    const QVariantMap info = m_showHideTimer->userInfo();
    if (info.value(kShowFlag).toBool()) {
        const QPointF p = info.value(kLocation).toPointF();
        showWithouDelayAtLocationInWindow({p.x(), p.y()});
    } else {
        hideWithoutDelay();
    }
}

void LMViewPopupHelper::stopShowHideTimer()
{
    if (m_showHideTimer)
        m_showHideTimer->stop();
}

void LMViewPopupHelper::stopDelayHide()
{
    if (hasPendingHide())
        m_showHideTimer->stop();
}
