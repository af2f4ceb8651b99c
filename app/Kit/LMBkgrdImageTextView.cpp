#include "Kit/LMBkgrdImageTextView.h"

#include <algorithm>
#include <cmath>

LMBkgrdImageTextView::LMBkgrdImageTextView(const kpv::Rect& frame, bool withWaitingIndicator)
    : LMNineSliceImageView(frame), m_textField(new kpv::TextField(kpv::Rect(0, 0, 10, 16)))
{
    m_textField->setFont(kpv::Font(12));
    addSubview(m_textField);
    if (withWaitingIndicator) {
        m_waitingIndicator = new kpv::ProgressIndicator(kpv::Rect(0, 0, 16, 16));
        m_waitingIndicator->setHidden(true);
        addSubview(m_waitingIndicator);
    }
}

void LMBkgrdImageTextView::stopDelayRunWaitingAnimationTimer()
{
    if (m_delayRunWaitingAnimationTimer)
        m_delayRunWaitingAnimationTimer->stop();
}

void LMBkgrdImageTextView::setText(const QString& text, bool showWaiting)
{
    if (text == m_textField->stringValue()) {
        if (!m_waitingIndicator || m_waitingIndicator->isHidden() == !showWaiting)
            return;
    }
    m_textField->setStringValue(text);
    if (m_waitingIndicator) {
        m_waitingIndicator->setHidden(!showWaiting);
        stopDelayRunWaitingAnimationTimer();
        if (showWaiting) {
            if (!m_delayRunWaitingAnimationTimer)
                m_delayRunWaitingAnimationTimer = std::make_unique<LMBlockTimer>();
            m_delayRunWaitingAnimationTimer->start(kWaitingDelay, [this] { m_waitingIndicator->startAnimation(); });
        } else {
            m_waitingIndicator->stopAnimation();
        }
    }
    updateFrame();
}

LMBkgrdImageTextView::Layout LMBkgrdImageTextView::layoutFor(const kpv::Rect& s, kpv::Size text, kpv::Size indicator,
                                                             double L, double R, bool alignLeft, double minWidth)
{
    const double tw = std::round(text.width);
    double th = std::round(text.height);
    double iw = 0, ih = 0;
    if (indicator.width > 0) {
        iw = indicator.width + 8;
        ih = indicator.height;
    }
    th = std::max(th, ih);
    const double c = tw + 10 + iw;
    const double p = alignLeft ? 0 : 8;
    const double W = std::max(p + c + L + R + p, minWidth);
    const double H = th + 8 + 9;
    const double x = alignLeft ? 0 : std::max(0.0, s.x() + s.width() * 0.5 - W * 0.5);
    const double y = std::max(0.0, s.y() + s.height() * 0.5 - H * 0.5);
    const double o = (W - c) * 0.5;
    const double t = iw + o;
    const double ty = (H - th) * 0.5 + 2;
    Layout out;
    out.frame = kpv::integralRect(kpv::Rect(x, y, W, H));
    out.indicatorOrigin = {std::floor(o), std::floor(ty)};
    out.textFrame = kpv::integralRect(kpv::Rect(t + 2, ty, W - t, th));
    return out;
}

void LMBkgrdImageTextView::updateFrame()
{
    ++m_layoutCount;
    const kpv::Rect s = superview() ? superview()->bounds() : kpv::Rect();
    const bool waiting = m_waitingIndicator && !m_waitingIndicator->isHidden();
    const kpv::Size indicator = waiting ? m_waitingIndicator->frame().size : kpv::Size{};
    double L = 0, R = 0;
    if (const auto& rep = bkNineSliceImageRep()) {
        L = rep->nineSliceSizeLeftTop().x;
        R = rep->nineSliceSizeRightBottom().x;
    }
    const Layout l = layoutFor(s, m_textField->attributedStringValueSize(), indicator, L, R, m_alignLeft, m_minWidth);
    if (waiting && m_waitingIndicator->frame().origin != l.indicatorOrigin)
        m_waitingIndicator->setFrameOrigin(l.indicatorOrigin);
    if (m_textField->frame() != l.textFrame)
        m_textField->setFrame(l.textFrame);
    if (frame() != l.frame)
        setFrame(l.frame);
}

void LMBkgrdImageTextView::resizeWithOldSuperviewSize(kpv::Size oldSize)
{
    LMNineSliceImageView::resizeWithOldSuperviewSize(oldSize);
    updateFrame();
}
