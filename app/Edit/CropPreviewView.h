#pragma once
// The result page's preview of a crop: the cut picture placed by the image view's own geometry
// (fit-in with margins, scale limits, stepped and animated zoom, panning), drawn with the painter
// over a nine-slice drop shadow. The wheel zooms or pans as the settings say, a pinch zooms, a
// two-finger double tap switches between fitted and actual size, and a drag pans a picture that is
// larger than the page. The crop is always upright, so no turn is drawn.

#include "View/LMImageViewModel.h"
#include "appkit/Image.h"
#include "appkit/View.h"

#include <memory>

namespace kpv {
class Timer;
}

class CropPreviewView final : public kpv::View, public LMImageViewModel {
public:
    explicit CropPreviewView(const kpv::Rect &frame = kpv::Rect());
    ~CropPreviewView() override;

    // The picture to show (the crop, filed as the normal image); nullptr empties the view.
    void showImage(const LMImagePtr &image);

    // The shadow picture and where it is cut (left, top / right, bottom) and how far it reaches
    // outside the picture on each side.
    void setShadowImage(const kpv::ImagePtr &image, QPointF sliceSizeLeftTop, QPointF sliceSizeRightBottom,
                        QPointF drawOffsetLeftTop, QPointF drawOffsetRightBottom);
    bool hasShadowImage() const { return m_shadow != nullptr; }
    // Where the shadow is drawn: the shown picture grown by the draw offsets (view points, y up);
    // empty without a picture or a shadow.
    QRectF shadowRect() const;

    void setFrame(const kpv::Rect &frame) override;
    void drawRect(const kpv::Rect &dirty) override;

    void scrollWheel(const kpv::Event &e) override;
    void magnifyWithEvent(const kpv::Event &e) override;
    void smartMagnifyWithEvent(const kpv::Event &e) override;
    void mouseDown(const kpv::Event &e) override;
    void mouseDragged(const kpv::Event &e) override;
    void mouseUp(const kpv::Event &e) override;

    // ---- Model hooks ----
    void setNeedsUpdateDrawContent() override;
    // While a zoom animates, every frame applies the animated scale and redraws.
    void setLayerAsynchronous(bool asynchronous) override;

private:
    QPointF pointInView(const kpv::Event &e) const;

    kpv::ImagePtr m_picture; // the normal image as the painter draws it
    kpv::ImagePtr m_shadow;
    QPointF m_sliceLeftTop, m_sliceRightBottom, m_drawOffsetLeftTop, m_drawOffsetRightBottom;
    std::shared_ptr<kpv::Timer> m_frameTimer;
    bool m_dragging = false;
    QPointF m_dragPoint;
};
