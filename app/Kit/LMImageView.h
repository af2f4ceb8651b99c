#pragma once
// Shows an image turned by its angle and fitted by a scaling mode. The class routine draws a
// turned thumbnail for any view that draws one itself.

#include "appkit/Image.h"
#include "appkit/View.h"

#include <cstdint>

class LMImageView : public kpv::View {
public:
    explicit LMImageView(const kpv::Rect& frame = kpv::Rect()) : kpv::View(frame) {}

    const kpv::ImagePtr& image() const { return m_image; }
    std::int64_t imageAngle() const { return m_imageAngle; }
    void setImage(kpv::ImagePtr image, std::int64_t angle);
    std::int64_t imageScaling() const { return m_imageScaling; }
    void setImageScaling(std::int64_t mode);
    void drawRect(const kpv::Rect& dirty) override;

    // The integral target rectangle of the turned, scaled image in `r` (empty when nothing is
    // drawn).
    static kpv::Rect imageTargetRect(kpv::Size imageSize, std::int64_t angle, std::int64_t scaling, const kpv::Rect& r);
    static void drawImage(const kpv::Image* image, std::int64_t angle, std::int64_t scaling, const kpv::Rect& r);

private:
    kpv::ImagePtr m_image;
    std::int64_t m_imageAngle = 0;
    std::int64_t m_imageScaling = 0;
};
