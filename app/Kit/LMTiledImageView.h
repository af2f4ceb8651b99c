#pragma once
// A view covered with copies of one image, the first one at the view's origin.

#include "appkit/Image.h"
#include "appkit/View.h"

class LMTiledImageView : public kpv::View {
public:
    explicit LMTiledImageView(const kpv::Rect& frame = kpv::Rect()) : kpv::View(frame) {}

    const kpv::ImagePtr& tileImage() const { return m_tileImage; }
    void setTileImage(kpv::ImagePtr image);
    // The flag has no effect on drawing.
    void setTileImage(kpv::ImagePtr image, bool samePixels);
    void drawRect(const kpv::Rect& dirty) override;

private:
    kpv::ImagePtr m_tileImage;
};
