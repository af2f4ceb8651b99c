#pragma once
// A small spinning waiting indicator. It turns only between startAnimation and stopAnimation.

#include "appkit/GraphicsContext.h"
#include "appkit/View.h"
#include "foundation/Timer.h"

#include <cmath>
#include <memory>

namespace kpv {

class ProgressIndicator : public View {
public:
    explicit ProgressIndicator(const Rect& frame = Rect(0, 0, 16, 16)) : View(frame) {}
    ~ProgressIndicator() override { stopAnimation(); }

    bool isAnimating() const { return m_timer != nullptr; }
    void startAnimation()
    {
        if (m_timer)
            return;
        m_timer = Timer::scheduled(1.0 / 12.0, true, [this](Timer&) {
            m_step = (m_step + 1) % 12;
            setNeedsDisplay();
        });
    }
    void stopAnimation()
    {
        if (m_timer)
            m_timer->invalidate();
        m_timer.reset();
    }
    void drawRect(const Rect&) override
    {
        GraphicsContext* gc = GraphicsContext::current();
        if (!gc)
            return;
        const Rect b = bounds();
        const double r = std::min(b.width(), b.height()) / 2;
        for (int i = 0; i < 12; ++i) {
            const double a = (i - m_step) * M_PI / 6;
            const double alpha = 0.25 + 0.75 * ((12 + i - m_step) % 12) / 11.0;
            gc->strokeLine({b.midX() + std::cos(a) * r * 0.45, b.midY() + std::sin(a) * r * 0.45},
                           {b.midX() + std::cos(a) * r * 0.95, b.midY() + std::sin(a) * r * 0.95},
                           Color(1, 1, 1, alpha), 1.5);
        }
    }

private:
    std::shared_ptr<Timer> m_timer;
    int m_step = 0;
};

} // namespace kpv
