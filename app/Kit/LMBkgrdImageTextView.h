#pragma once
// A text label on a nine-slice background that sizes itself to its text, centres itself in its
// superview (or keeps to its left edge) and can show a small waiting indicator that starts
// turning only after a short delay.

#include "Kit/LMNineSliceImageView.h"
#include "Model/LMBlockTimer.h"
#include "appkit/Control.h"
#include "appkit/ProgressIndicator.h"

#include <memory>

class LMBkgrdImageTextView : public LMNineSliceImageView {
public:
    static constexpr double kWaitingDelay = 0.02;

    explicit LMBkgrdImageTextView(const kpv::Rect& frame = kpv::Rect(), bool withWaitingIndicator = false);

    kpv::TextField* textField() const { return m_textField; }
    kpv::ProgressIndicator* waitingIndicator() const { return m_waitingIndicator; }
    double minWidth() const { return m_minWidth; }
    void setMinWidth(double w) { m_minWidth = w; }
    bool alignLeft() const { return m_alignLeft; }
    void setAlignLeft(bool a) { m_alignLeft = a; }

    void setText(const QString& text) { setText(text, false); }
    void setText(const QString& text, bool showWaiting);
    void stopDelayRunWaitingAnimationTimer();
    void updateFrame();
    void resizeWithOldSuperviewSize(kpv::Size oldSize) override;
    // How many times the label was laid out (to check that an unchanged text costs nothing).
    int layoutCount() const { return m_layoutCount; }

    struct Layout {
        kpv::Rect frame, textFrame;
        kpv::Point indicatorOrigin;
    };
    // The layout as a pure function of the superview's bounds, the text size, the indicator size
    // (zero when hidden), the slice widths and the alignment. A label never gets narrower than
    // `minWidth`; the text stays centred in the extra width.
    static Layout layoutFor(const kpv::Rect& superBounds, kpv::Size textSize, kpv::Size indicatorSize,
                            double sliceLeft, double sliceRight, bool alignLeft, double minWidth = 0);

private:
    kpv::TextField* m_textField;
    kpv::ProgressIndicator* m_waitingIndicator = nullptr;
    double m_minWidth = 0;
    bool m_alignLeft = false;
    std::unique_ptr<LMBlockTimer> m_delayRunWaitingAnimationTimer;
    int m_layoutCount = 0;
};
