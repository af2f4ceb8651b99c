#include "Browse/FavBinButton.h"

#include "Kit/LMNineSliceImageRep.h"

#include "appkit/Color.h"
#include "appkit/GraphicsContext.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {
kpv::ImagePtr skin(const char* name)
{
    return LMNineSliceImageRep::loadImageWithoutExtension(QString::fromLatin1(name));
}

kpv::Rect centred(kpv::Size s, const kpv::Rect& b)
{
    return kpv::Rect(std::floor(b.x() + b.width() / 2 - s.width / 2), std::floor(b.y() + b.height() / 2 - s.height / 2),
                     s.width, s.height);
}

constexpr double kButtonFontSize = 12.0;
} // namespace

FavBinButton::FavBinButton(const kpv::Rect& frame) : kpv::Button(frame) {}

void FavBinButton::setPhotoCount(std::int64_t count)
{
    m_photoCount = count;
    setTitle(count == 0 ? QString() : QString::number(count));
    setNeedsDisplay();
}

void FavBinButton::setThumb(const QImage& thumb, std::int64_t angle)
{
    m_thumb = thumb;
    m_thumbAngle = angle;
    setNeedsDisplay();
}

double FavBinButton::fontSizeReduction(qsizetype length)
{
    return length <= 1 ? 0 : (length == 2 ? 3 : 7);
}

kpv::Point FavBinButton::badgeTextOffset(qsizetype length)
{
    return length <= 1 ? kpv::Point{-1, -1} : (length == 2 ? kpv::Point{-1, 0} : kpv::Point{-1, 3});
}

kpv::Rect FavBinButton::thumbDestRect(kpv::Size s, std::int64_t angle, const kpv::Rect& frame)
{
    if (s.width <= 0 || s.height <= 0 || frame.isEmpty())
        return {};
    const bool quarter = (((angle % 180) + 180) % 180) == 90;
    const kpv::Size r = quarter ? kpv::Size{s.height, s.width} : s;
    // Fill the frame keeping the aspect: the larger of the two ratios.
    const double k = std::max(frame.width() / r.width, frame.height() / r.height);
    const double w = r.width * k, h = r.height * k;
    return kpv::Rect(std::floor(frame.midX() - w / 2), std::floor(frame.midY() - h / 2), std::ceil(w), std::ceil(h));
}

void FavBinButton::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* g = kpv::GraphicsContext::current();
    if (!g)
        return;
    const kpv::Rect b = bounds();
    if (m_photoCount <= 0) {
        // Without the bin's own icon the heart of the favourites stands in for it.
        kpv::ImagePtr icon = skin("E_LOVEBIN");
        if (!icon || !icon->isValid())
            icon = skin("E_LOVE");
        if (icon && icon->isValid())
            g->drawImage(*icon, integralRect(centred(icon->size(), b)));
        return;
    }
    kpv::ImagePtr background = skin(m_isMouseIn ? "E_LOVEBIN_ON_ROLL" : "E_LOVEBIN_ON");
    const bool skinned = background && background->isValid();
    // Without its skin the frame is drawn here, so the button never loses its face.
    const kpv::Rect G = skinned ? centred(background->size(), b)
                                : integralRect(kpv::Rect(b.x() + 2, b.y() + 2, b.width() - 4, b.height() - 4));
    if (skinned) {
        g->drawImage(*background, G);
    } else {
        g->fillRoundedRect(G, 3, m_isMouseIn ? kpv::Color(0.85, 0.85, 0.85, 1) : kpv::Color(0.6, 0.6, 0.6, 1));
        g->fillRect(kpv::Rect(G.x() + 2, G.y() + 2, G.width() - 4, G.height() - 4), kpv::Color(0.25, 0.25, 0.25, 1));
    }

    const kpv::Rect frame = integralRect(kpv::Rect(G.x() + 3, G.y() + 3, G.width() - 6, G.height() - 6));
    if (m_thumb.isNull()) {
        // The last favourite has no picture (its file is gone or unreadable): the missing mark.
        static const kpv::ImagePtr mark = kpv::Image::imageNamed(QStringLiteral("img_bad"));
        if (mark && mark->isValid() && !frame.isEmpty()) {
            const kpv::Size m = mark->size();
            const double k = std::min({1.0, frame.width() * 0.7 / std::max(1.0, m.width),
                                       frame.height() * 0.7 / std::max(1.0, m.height)});
            g->drawImage(*mark, integralRect(centred(kpv::Size{m.width * k, m.height * k}, frame)));
        }
    } else {
        const kpv::Size s{double(m_thumb.width()), double(m_thumb.height())};
        const kpv::Rect dest = thumbDestRect(s, m_thumbAngle, frame);
        const bool quarter = (((m_thumbAngle % 180) + 180) % 180) == 90;
        const kpv::Size r = quarter ? kpv::Size{s.height, s.width} : s;
        g->saveGraphicsState();
        g->clipToRect(intersectionRect(dest, frame));
        g->translate(std::floor(frame.midX()), std::floor(frame.midY()));
        g->scale(dest.width() / r.width, dest.height() / r.height);
        g->rotate(double(m_thumbAngle));
        g->translate(-std::floor(s.width / 2), -std::floor(s.height / 2));
        g->drawImage(kpv::Image(m_thumb), kpv::Rect(0, 0, s.width, s.height));
        g->restoreGraphicsState();
    }

    {
        kpv::ImagePtr badge = skin("E_NUMBER_BG");
        const bool badgeSkinned = badge && badge->isValid();
        const kpv::Size n = badgeSkinned ? badge->size() : kpv::Size{18, 18};
        const kpv::Rect N(b.x() + b.width() - n.width, b.y(), n.width, n.height);
        if (badgeSkinned)
            g->drawImage(*badge, N);
        else
            g->fillEllipse(N, kpv::Color(0.85, 0.2, 0.25, 1));
        const qsizetype len = title().size();
        const kpv::Point off = badgeTextOffset(len);
        const kpv::Font font(kButtonFontSize - fontSizeReduction(len));
        g->drawTextInRect(title(), kpv::Rect(N.x() + off.x, N.y() + off.y, N.width(), N.height()), font,
                          kpv::Color(1, 1, 1, 1), Qt::AlignCenter);
    }
    setAlphaValue(m_isMouseDown ? 0.3 : 1.0);
}

void FavBinButton::mouseEntered(const kpv::Event&)
{
    if (!isEnabled())
        return;
    m_isMouseIn = true;
    setNeedsDisplay();
}

void FavBinButton::mouseExited(const kpv::Event&)
{
    if (!isEnabled())
        return;
    m_isMouseIn = false;
    m_isMouseDown = false;
    setNeedsDisplay();
}

void FavBinButton::mouseDown(const kpv::Event& e)
{
    if (!isEnabled())
        return;
    m_isMouseDown = true;
    setNeedsDisplay();
    kpv::Button::mouseDown(e);
    m_isMouseDown = false;
    setNeedsDisplay();
}

void FavBinButton::updateTrackingAreas()
{
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    m_trackingArea = std::make_shared<kpv::TrackingArea>(
        bounds(), kpv::TrackingMouseEnteredAndExited | kpv::TrackingActiveInKeyWindow | kpv::TrackingInVisibleRect, this);
    addTrackingArea(m_trackingArea);
}
