#pragma once
// A picture turned and mirrored the way the main image view shows it: rotated by the angle's
// rotation and mirrored by its flips, fitted into the bounds by a scaling mode and centred.
// The picture lives in a layer of its own, made at that layer's content scale, so it stays
// sharp on a dense screen. Main thread only.

#include "Kit/LMLayerView.h"
#include "Model/LMImageRotateAngle.h"
#include "appkit/Image.h"

#include <QImage>

class LM3DRotateImageView : public LMLayerView {
public:
    explicit LM3DRotateImageView(const kpv::Rect& frame = kpv::Rect());

    const kpv::ImagePtr& image() const { return m_image; }
    const LMImageRotateAngle& imageAngle() const { return m_imageAngle; }
    // Nothing happens when both are unchanged; a null image keeps the picture shown.
    void setImage(kpv::ImagePtr image, const LMImageRotateAngle& angle);
    std::int64_t imageScaling() const { return m_imageScaling; }
    void setImageScaling(std::int64_t mode);
    // Where the picture lies in the bounds (empty without a picture).
    kpv::Rect imageRect() const;
    void drawRect(const kpv::Rect& dirty) override;
    // The layer that carries the picture.
    const std::shared_ptr<kpv::Layer>& imgLayer() const { return m_imgLayer; }
    // The pixels of the picture as last drawn: the fitted size times the layer's content scale.
    QSize drawnPixelSize() const { return m_drawn.size(); }

private:
    std::shared_ptr<kpv::Layer> m_imgLayer = kpv::Layer::layer();
    QImage m_drawn; // the shown picture scaled once for its place and content scale
    qint64 m_drawnSource = 0;
    kpv::ImagePtr m_image;
    kpv::ImagePtr m_shownImage;
    LMImageRotateAngle m_imageAngle;
    std::int64_t m_imageScaling = 0;
};
