#include "Kit/PhotoBinScrollView.h"

#include <cmath>

void PhotoBinScrollView::stopGestureScrollTimer()
{
    if (m_gestureScrollTimer)
        m_gestureScrollTimer->stop();
}

void PhotoBinScrollView::startGestureScrollTimer()
{
    if (!m_gestureScrollTimer)
        m_gestureScrollTimer = std::make_unique<LMBlockTimer>();
    m_gestureScrollTimer->start(kSnapDelay, [this] { endGestureScroll(); });
}

void PhotoBinScrollView::endGestureScroll()
{
    if (m_photoBinView)
        m_photoBinView->scrollToItemByCenterPositionWithDelta(m_lastScrollDelta);
}

void PhotoBinScrollView::scrollWheel(const kpv::Event& e)
{
    const int phase = e.phase();
    const int momentum = e.momentumPhase();
    if (phase != kpv::PhaseNone || momentum != kpv::PhaseNone) {
        if (phase & kpv::PhaseBegan) {
            stopGestureScrollTimer();
            m_inPhaseScrollSession = true;
        } else if (phase & (kpv::PhaseEnded | kpv::PhaseCancelled)) {
            if (m_inPhaseScrollSession) {
                startGestureScrollTimer();
                m_inPhaseScrollSession = false;
            }
        } else if (momentum & kpv::PhaseBegan) {
            stopGestureScrollTimer();
            startGestureScrollTimer();
        } else if (momentum != kpv::PhaseNone && !(momentum & (kpv::PhaseEnded | kpv::PhaseCancelled))) {
            if (isGestureScrollTimerRunning()) {
                stopGestureScrollTimer();
                startGestureScrollTimer();
            }
        }
        if (!isGestureScrollTimerRunning() && !m_inPhaseScrollSession)
            return;
        m_lastScrollDelta = e.scrollingDeltaX();
        if (m_lastScrollDelta != 0 && m_photoBinView &&
            m_photoBinView->scrollWithoutChangeItemByDelta(m_lastScrollDelta) && isGestureScrollTimerRunning()) {
            stopGestureScrollTimer();
            endGestureScroll();
        }
        return;
    }
    double dy = e.scrollingDeltaY();
    if (dy == 0 || !m_photoBinView)
        return;
    if (e.hasPreciseScrollingDeltas())
        dy /= kPixelsPerStep;
    // Parts of a notch add up until they make a whole one, so a smooth wheel moves one photo per
    // notch, not one per report; turning back starts afresh.
    if ((dy < 0) != (m_wheelSteps < 0))
        m_wheelSteps = 0;
    m_wheelSteps += dy;
    // A fast wheel may report several notches at once: each one is a step, and what is left of
    // a notch waits for the next report.
    const bool forward = m_wheelSteps < 0;
    while (std::abs(m_wheelSteps) >= 1 - 1e-9) {
        m_wheelSteps += forward ? 1 : -1;
        m_photoBinView->scrollToNextItem(forward);
    }
    if (std::abs(m_wheelSteps) < 1e-9)
        m_wheelSteps = 0;
}
