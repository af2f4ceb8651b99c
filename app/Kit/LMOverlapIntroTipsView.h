#pragma once
// The dimmed overlay over the window while an introductory tip is shown: it reports clicks and
// keeps clicks, mouse-ups and wheel events from the views beneath.

#include "Kit/LMNineSliceImageView.h"

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

private:
    LMOverlapIntroTipsViewDelegate* m_delegate = nullptr;
};
