#include "Browse/MiniWindowTitleBar.h"

#include "Browse/MiniWindowShell.h"
#include "Kit/LMButton.h"

#include "appkit/GraphicsContext.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"

MiniWindowTitleBar::MiniWindowTitleBar(const kpv::Rect& frame, MiniWindowShell& shell) : kpv::View(frame), m_shell(shell)
{
    setWantsLayer(true);
    m_closeButton = new kpv::Button(kpv::Rect(0, 0, 14, 16));
    m_minimizeButton = new kpv::Button(kpv::Rect(0, 0, 14, 16));
    m_zoomButton = new kpv::Button(kpv::Rect(0, 0, 14, 16));
    m_closeButton->setAction([this](kpv::View*) {
        if (kpv::Window* w = window())
            w->performClose();
    });
    m_minimizeButton->setAction([this](kpv::View*) { m_shell.miniaturize(); });
    m_zoomButton->setAction([this](kpv::View*) { m_shell.performZoom(); });
    addSubview(m_closeButton);
    addSubview(m_minimizeButton);
    addSubview(m_zoomButton);

    m_normalmodeButton = new LMButton(kpv::Rect(frame.width() - 30, 2, 24, 18));
    m_normalmodeButton->setAutoresizingMask(kpv::ViewMinXMargin);
    m_normalmodeButton->setImageName(QStringLiteral("mode_on"));
    m_normalmodeButton->setToolTip(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_SwitchToNormalMode")));
    m_normalmodeButton->setAction([this](kpv::View*) {
        m_normalmodeButton->normalizeRollState();
        m_shell.switchToNormalMode();
    });
    addSubview(m_normalmodeButton);
    updatetheFrame();
}

void MiniWindowTitleBar::setBackgroundcolor(const kpv::Color& color)
{
    if (color == m_backgroundcolor)
        return;
    m_backgroundcolor = color;
    setNeedsDisplay();
}

void MiniWindowTitleBar::updatetheFrame()
{
    const double y = 25 - frame().height();
    m_closeButton->setFrameOrigin({8, y});
    m_minimizeButton->setFrameOrigin({30, 3});
    m_zoomButton->setFrameOrigin({52, 3});
    for (kpv::Button* b : {m_closeButton, m_minimizeButton, m_zoomButton})
        b->setNeedsDisplay();
}

kpv::Rect MiniWindowTitleBar::buttonGroupRect() const
{
    const kpv::Rect c = m_closeButton->frame();
    const kpv::Rect z = m_zoomButton->frame();
    return kpv::Rect(c.x(), c.y(), z.x() + z.width(), c.height());
}

void MiniWindowTitleBar::updateTrackingAreas()
{
    if (m_buttonArea)
        removeTrackingArea(m_buttonArea);
    m_buttonArea = std::make_shared<kpv::TrackingArea>(
        buttonGroupRect(), kpv::TrackingMouseEnteredAndExited | kpv::TrackingActiveInKeyWindow, this);
    addTrackingArea(m_buttonArea);
}

void MiniWindowTitleBar::mouseEntered(const kpv::Event&)
{
    m_entered = true;
    for (kpv::Button* b : {m_closeButton, m_minimizeButton, m_zoomButton})
        b->setNeedsDisplay();
}

void MiniWindowTitleBar::mouseExited(const kpv::Event&)
{
    m_entered = false;
    for (kpv::Button* b : {m_closeButton, m_minimizeButton, m_zoomButton})
        b->setNeedsDisplay();
}

void MiniWindowTitleBar::drawRect(const kpv::Rect& dirtyRect)
{
    if (kpv::GraphicsContext* g = kpv::GraphicsContext::current())
        g->fillRect(dirtyRect, m_backgroundcolor);
}
