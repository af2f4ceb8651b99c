#pragma once
// The picture that flies between the image view and the favourites box when a file is added to
// or removed from the favourites. It draws one image, turned by an angle, into its bounds or into
// the rectangle the animation gives it at each step.

#include "appkit/View.h"

#include <QImage>
#include <cstdint>

class FavFileSnapshotView : public kpv::View {
public:
    explicit FavFileSnapshotView(const kpv::Rect& frame = kpv::Rect()) : kpv::View(frame) {}

    // A new image or angle resets the visible rectangle to the whole bounds.
    void setImage(const QImage& image, std::int64_t angle);
    void zoomImageToRect(const kpv::Rect& rect);
    const kpv::Rect& imageVisibleRect() const { return m_imageVisibleRect; }
    // Where the picture is drawn now.
    kpv::Rect targetRect() const { return m_imageVisibleRect == kpv::Rect() ? bounds() : m_imageVisibleRect; }
    void drawRect(const kpv::Rect& dirtyRect) override;

private:
    QImage m_image;
    std::int64_t m_imageAngle = 0;
    kpv::Rect m_imageVisibleRect;
};
