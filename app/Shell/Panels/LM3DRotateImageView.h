#pragma once
// A picture turned and mirrored the way the main image view shows it: rotated by the angle's
// rotation and mirrored by its flips, fitted into the bounds by a scaling mode and centred.
// Main thread only.

#include "Model/LMImageRotateAngle.h"
#include "appkit/Image.h"
#include "appkit/View.h"

class LM3DRotateImageView : public kpv::View {
public:
    explicit LM3DRotateImageView(const kpv::Rect& frame = kpv::Rect()) : kpv::View(frame) {}

    const kpv::ImagePtr& image() const { return m_image; }
    const LMImageRotateAngle& imageAngle() const { return m_imageAngle; }
    // Nothing happens when both are unchanged; a null image keeps the picture shown.
    void setImage(kpv::ImagePtr image, const LMImageRotateAngle& angle);
    std::int64_t imageScaling() const { return m_imageScaling; }
    void setImageScaling(std::int64_t mode);
    // Where the picture lies in the bounds (empty without a picture).
    kpv::Rect imageRect() const;
    void drawRect(const kpv::Rect& dirty) override;

private:
    kpv::ImagePtr m_image;
    kpv::ImagePtr m_shownImage;
    LMImageRotateAngle m_imageAngle;
    std::int64_t m_imageScaling = 0;
};
