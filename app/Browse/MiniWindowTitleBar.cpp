#include "Browse/MiniWindowTitleBar.h"

#include "Browse/MiniWindowShell.h"
#include "Kit/LMButton.h"

#include "appkit/GraphicsContext.h"
#include "appkit/Image.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"

#include <cmath>

namespace {

// One of the bar's window buttons, drawn with the title bar buttons of the skin: the bare plate
// while the pointer is away from the group of three, and its mark (a cross to close, a bar to
// minimise, a plus to zoom) while the pointer is over the group or the button is pressed.
class WindowButton final : public kpv::Button {
public:
    WindowButton(QString imageName, const MiniWindowTitleBar& bar)
        : kpv::Button(kpv::Rect(0, 0, 14, 16)), m_imageName(std::move(imageName)), m_bar(bar)
    {
    }

    void drawRect(const kpv::Rect&) override
    {
        kpv::GraphicsContext* g = kpv::GraphicsContext::current();
        if (!g)
            return;
        QString name = QStringLiteral("bt_winplate");
        if (isHighlighted())
            name = m_imageName + QStringLiteral("_push");
        else if (m_bar.mouseInGroup())
            name = m_imageName;
        const kpv::ImagePtr image = kpv::Image::imageNamed(name);
        if (!image || !image->isValid())
            return;
        const kpv::Rect b = bounds();
        const kpv::Size size = image->size();
        g->drawImage(*image, kpv::Rect(std::floor(b.midX() - size.width / 2), std::floor(b.midY() - size.height / 2),
                                       size.width, size.height));
    }

private:
    QString m_imageName;
    const MiniWindowTitleBar& m_bar;
};

} // namespace

MiniWindowTitleBar::MiniWindowTitleBar(const kpv::Rect& frame, MiniWindowShell& shell) : kpv::View(frame), m_shell(shell)
{
    setWantsLayer(true);
    m_closeButton = new WindowButton(QStringLiteral("bt_winclose"), *this);
    m_minimizeButton = new WindowButton(QStringLiteral("bt_winminimize"), *this);
    m_zoomButton = new WindowButton(QStringLiteral("bt_winzoom"), *this);
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    m_closeButton->setToolTip(bundle.localizedString(QStringLiteral("IDS_Close")));
    m_minimizeButton->setToolTip(bundle.localizedString(QStringLiteral("IDS_MENU_Minimize")));
    m_zoomButton->setToolTip(bundle.localizedString(QStringLiteral("IDS_Zoom")));
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
    m_normalmodeButton->setToolTip(bundle.localizedString(QStringLiteral("IDS_SwitchToNormalMode")));
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
    // The area is laid out anew (a zoom or a turn resized the window): the group is under the
    // pointer as it stands now, not as it stood over the old layout, which no exit will end.
    kpv::Window* w = window();
    const bool inside = w && w->isVisible() && w->isKeyWindow() && !isHiddenOrHasHiddenAncestor() &&
                        kpv::mouseInRect(convertPointFromView(w->mouseLocationOutsideOfEventStream(), nullptr),
                                         buttonGroupRect(), isFlipped());
    m_buttonArea->setInside(inside);
    addTrackingArea(m_buttonArea);
    setEntered(inside);
}

void MiniWindowTitleBar::mouseEntered(const kpv::Event&)
{
    setEntered(true);
}

void MiniWindowTitleBar::mouseExited(const kpv::Event&)
{
    setEntered(false);
}

void MiniWindowTitleBar::setEntered(bool entered)
{
    m_entered = entered;
    for (kpv::Button* b : {m_closeButton, m_minimizeButton, m_zoomButton})
        if (b)
            b->setNeedsDisplay();
}

void MiniWindowTitleBar::drawRect(const kpv::Rect& dirtyRect)
{
    if (kpv::GraphicsContext* g = kpv::GraphicsContext::current())
        g->fillRect(dirtyRect, m_backgroundcolor);
}
