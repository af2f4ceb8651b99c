#pragma once
// The dimmed overlay over the window while an introductory tip is shown: it reports clicks and
// keeps clicks, mouse-ups and wheel events from the views beneath.

#include "Kit/LMNineSliceImageView.h"

#include <optional>

class LMOverlapIntroTipsView;
namespace kpv {
class TextField;
}

class LMOverlapIntroTipsViewDelegate {
public:
    virtual ~LMOverlapIntroTipsViewDelegate() = default;
    virtual void mouseDownOnOverlapIntroTipsView(LMOverlapIntroTipsView*) {}
};

class LMOverlapIntroTipsView : public LMNineSliceImageView {
public:
    explicit LMOverlapIntroTipsView(const kpv::Rect& frame = kpv::Rect()) : LMNineSliceImageView(frame) {}

    LMOverlapIntroTipsViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(LMOverlapIntroTipsViewDelegate* d) { m_delegate = d; }

    void mouseDown(const kpv::Event&) override
    {
        if (m_delegate)
            m_delegate->mouseDownOnOverlapIntroTipsView(this);
    }
    void mouseUp(const kpv::Event&) override {}
    void scrollWheel(const kpv::Event&) override {}

    // Places a tip's text in `frame`, wrapped at its width: the frame grows upwards when the
    // wrapped text needs more lines than it has room for, and moves right when it would start
    // left of `bounds` (the overlay's), so no word is cut off.
    static void placeTipText(kpv::TextField* field, kpv::Rect frame, const kpv::Rect& bounds);

    // The round light in the dimmed ground is the middle of the mask image, drawn with its
    // bottom-right corner at the overlay's. These move it onto a point (overlay coordinates) or
    // onto the middle of a view in the same window, as far as the mask reaches without leaving
    // part of the window undimmed. The light keeps its distance from the bottom-right corner when
    // the overlay is resized, as views pinned to that corner do.
    void setSpotlightCentre(kpv::Point centre);
    void setSpotlightOn(const kpv::View* target);
    kpv::Point spotlightCentre() const;

protected:
    kpv::Rect backgroundDrawRect() const override;

private:
    kpv::Size maskSize() const;

    LMOverlapIntroTipsViewDelegate* m_delegate = nullptr;
    // The light's distance from the right edge and from the bottom edge; unset: the mask's own.
    std::optional<kpv::Point> m_spotlightFromCorner;
};
