#include "View/LMOpenGLLayer.h"

#include "View/LMShareGLContext.h"

namespace {
constexpr double kAsynchronousFrameInterval = 1.0 / 60.0;
}

LMOpenGLLayer::~LMOpenGLLayer()
{
    if (m_displayTimer)
        m_displayTimer->invalidate();
}

void LMOpenGLLayer::setAsynchronous(bool asynchronous)
{
    if (asynchronous == m_asynchronous)
        return;
    m_asynchronous = asynchronous;
    if (m_displayTimer) {
        m_displayTimer->invalidate();
        m_displayTimer.reset();
    }
    if (!asynchronous)
        return;
    m_displayTimer = kpv::Timer::scheduled(
        kAsynchronousFrameInterval, true, [this](kpv::Timer &) { setNeedsDisplay(); }, kpv::TimerMode::Common);
    // The first frame of the animation now, not a frame interval later.
    setNeedsDisplay();
}

void LMOpenGLLayer::setNeedsDisplay()
{
    if (m_displayHandler)
        m_displayHandler();
}

void LMOpenGLLayer::didCreateContext()
{
    if (m_delegate)
        m_delegate->prepareDrawContent(this);
}

bool LMOpenGLLayer::canDrawInContext(double layerTime)
{
    if (m_delegate) {
        if (const std::optional<bool> answer = m_delegate->canDrawLayer(this, layerTime))
            return *answer;
    }
    return true;
}

void LMOpenGLLayer::drawInContext(double layerTime)
{
    if (!m_delegate)
        return;
    m_delegate->drawLayer(this, layerTime);
}
