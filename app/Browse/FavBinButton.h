#pragma once
// The viewer toolbar's favourites button. Its face summarises the favourites: an empty-bin icon
// without favourites, else the last favourite's thumbnail (turned by its angle, filling a frame)
// and a count badge whose font shrinks as the count grows.

#include "appkit/Control.h"
#include "appkit/Image.h"

#include <QImage>
#include <cstdint>

class FavBinButton : public kpv::Button {
public:
    explicit FavBinButton(const kpv::Rect& frame = kpv::Rect());

    void setPhotoCount(std::int64_t count);
    std::int64_t photoCount() const { return m_photoCount; }
    void setThumb(const QImage& thumb, std::int64_t angle);
    const QImage& thumb() const { return m_thumb; }
    bool isMouseIn() const { return m_isMouseIn; }

    // How many points smaller than the button's font the badge's text is drawn for a title of
    // `length` characters, and how far its rectangle moves (dx, dy).
    static double fontSizeReduction(qsizetype length);
    static kpv::Point badgeTextOffset(qsizetype length);
    // The rectangle the thumbnail of `size` turned by `angle` covers when it fills `frame`.
    static kpv::Rect thumbDestRect(kpv::Size size, std::int64_t angle, const kpv::Rect& frame);

    void drawRect(const kpv::Rect& dirtyRect) override;
    void mouseEntered(const kpv::Event& e) override;
    void mouseExited(const kpv::Event& e) override;
    void mouseDown(const kpv::Event& e) override;
    void updateTrackingAreas() override;

private:
    QImage m_thumb;
    std::int64_t m_thumbAngle = 0;
    std::int64_t m_photoCount = 0;
    bool m_isMouseIn = false;
    bool m_isMouseDown = false;
    kpv::TrackingAreaPtr m_trackingArea;
};
