#pragma once
// Puts an intro tip's overlay into its parent view and takes it out again. While the overlay is
// out it is owned here; while it is in, the parent owns it. A tip still shown when its controller
// goes is deleted with it, since the overlay points back at the controller as its delegate.

#include "appkit/View.h"

#include <memory>

class IntroTipsPresence {
public:
    IntroTipsPresence() = default;
    IntroTipsPresence(const IntroTipsPresence&) = delete;
    IntroTipsPresence& operator=(const IntroTipsPresence&) = delete;
    ~IntroTipsPresence()
    {
        if (!m_detached && m_view)
            delete m_view;
    }

    // Takes the overlay, not yet in any parent.
    void adopt(std::unique_ptr<kpv::View> overlay)
    {
        m_view = overlay.get();
        m_detached = std::move(overlay);
    }

    kpv::View* parentView() const { return m_parentView; }
    void setParentView(kpv::View* v) { m_parentView = v; }
    bool showStatus() const { return m_shown; }

    // Showing or hiding twice does nothing the second time. Without a parent view a shown tip
    // stays out of sight until it is hidden and shown again.
    void show()
    {
        if (m_shown)
            return;
        m_shown = true;
        apply();
    }
    void hide()
    {
        if (!m_shown)
            return;
        m_shown = false;
        apply();
    }

private:
    void apply()
    {
        if (!m_view)
            return;
        if (m_shown && !m_view->superview()) {
            if (!m_parentView)
                return;
            m_view->setFrame(m_parentView->bounds());
            m_parentView->addSubview(m_detached.release());
        } else if (!m_shown && m_view->superview()) {
            m_view->removeFromSuperview();
            m_detached.reset(m_view);
        }
    }

    std::unique_ptr<kpv::View> m_detached;
    kpv::View* m_view = nullptr;
    kpv::View* m_parentView = nullptr;
    bool m_shown = false;
};
