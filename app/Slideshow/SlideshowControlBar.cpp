#include "Slideshow/SlideshowControlBar.h"

#include "Kit/LMButton.h"
#include "appkit/Color.h"
#include "appkit/GraphicsContext.h"
#include "appkit/TrackingArea.h"
#include "foundation/Bundle.h"

#include <QPainter>
#include <QPainterPath>

namespace {
QString text(const char* key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }
} // namespace

SlideshowControlBar::SlideshowControlBar(SlideshowControlBarDelegate& delegate)
    : kpv::View(kpv::Rect(0, 0, kWidth, kHeight))
    , m_delegate(delegate)
{
    // Stays centred and at the bottom when the slideshow is resized.
    setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxXMargin | kpv::ViewMaxYMargin);
    m_pause = addButton(0, "ss_pause", "IDS_SS_PAUSE");
    m_pause->setAction([this](kpv::View*) { m_delegate.controlBarPauseClicked(); });
    m_themes = addButton(1, "ss_theme", "IDS_SS_THEME");
    m_themes->setAction([this](kpv::View*) { m_delegate.controlBarThemesClicked(m_themes); });
    m_music = addButton(2, "ss_music", "IDS_SS_MUSIC");
    m_music->setAction([this](kpv::View*) { m_delegate.controlBarMusicClicked(m_music); });
    m_end = addButton(3, "ss_exit", "IDS_SS_EXIT");
    m_end->setAction([this](kpv::View*) { m_delegate.controlBarEndClicked(); });
    // Entering and leaving the bar, always, wherever it is placed.
    addTrackingArea(std::make_shared<kpv::TrackingArea>(
        bounds(), kpv::TrackingMouseEnteredAndExited | kpv::TrackingActiveAlways | kpv::TrackingInVisibleRect, this));
}

LMButton* SlideshowControlBar::addButton(int slot, const char* image, const char* tip)
{
    const double x = 8 + slot * 40 + (40 - kButtonSize) / 2;
    auto* button = new LMButton(kpv::Rect(x, (kHeight - kButtonSize) / 2, kButtonSize, kButtonSize));
    button->setImageName(QString::fromLatin1(image));
    button->setToolTip(text(tip));
    button->setButtonDelegate(this);
    addSubview(button); // the bar owns its buttons
    return button;
}

void SlideshowControlBar::setPaused(bool paused)
{
    if (m_paused == paused)
        return;
    m_paused = paused;
    m_pause->setImageName(QString::fromLatin1(paused ? "ss_play" : "ss_pause"));
    m_pause->setToolTip(text(paused ? "IDS_SS_PLAY" : "IDS_SS_PAUSE"));
    m_pause->setNeedsDisplay();
}

void SlideshowControlBar::setHidden(bool hidden)
{
    kpv::View::setHidden(hidden);
    if (!hidden)
        return;
    m_pointerInside = false;
    // The window's record too, so that the pointer coming onto the bar when it shows again is an
    // entering, not a move inside a bar it never left.
    for (const kpv::TrackingAreaPtr& area : trackingAreas())
        area->setInside(false);
}

void SlideshowControlBar::placeIn(const kpv::Rect& bounds)
{
    setFrame(kpv::Rect(bounds.origin.x + (bounds.width() - kWidth) / 2, bounds.origin.y + kBottomMargin, kWidth, kHeight));
}

void SlideshowControlBar::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    QPainter* p = gc->painter();
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(0.5, 0.5, kWidth - 1, kHeight - 1), 10, 10);
    p->fillPath(path, QColor(20, 21, 23, 200));
    p->setPen(QPen(QColor(255, 255, 255, 40), 1));
    p->drawPath(path);
    p->restore();
}

void SlideshowControlBar::buttonMouseEntered(LMButton* button)
{
    if (button == m_music)
        m_delegate.controlBarMusicHovered(button, true);
}

void SlideshowControlBar::buttonMouseExited(LMButton* button)
{
    if (button == m_music)
        m_delegate.controlBarMusicHovered(button, false);
}
