#pragma once
// One cell of the photo bin: a thumbnail turned by its angle on a white face, with a selection
// or roll-over frame and a favourite mark.

#include "Kit/LMNineSliceImageView.h"

#include "appkit/Image.h"

#include <QImage>
#include <cstdint>
#include <memory>

class PhotoBinItemView : public LMNineSliceImageView {
public:
    PhotoBinItemView(const kpv::Rect& frame, LMNineSliceImageRepPtr background, kpv::ImagePtr rollImage,
                     kpv::ImagePtr selectImage, kpv::ImagePtr loveImage);
    // A new cell with the same frame, background and overlay images.
    std::unique_ptr<PhotoBinItemView> copy() const;

    // Nothing while the bounds are empty or when neither value changes.
    void setImage(const QImage& image, std::int64_t angle);
    const QImage& image() const { return m_image; }
    std::int64_t imageAngle() const { return m_imageAngle; }
    void setSelect(bool v);
    void setRollover(bool v);
    void setLoved(bool v);
    bool select() const { return m_select; }
    bool rollover() const { return m_rollover; }
    bool loved() const { return m_loved; }

    void drawRect(const kpv::Rect& dirtyRect) override;
    void mouseEntered(const kpv::Event&) override { setRollover(true); }
    void mouseExited(const kpv::Event&) override { setRollover(false); }
    void updateTrackingAreas() override;

private:
    QImage m_image;
    std::int64_t m_imageAngle = 0;
    kpv::ImagePtr m_rollImage, m_selectImage, m_loveImage;
    bool m_select = false, m_rollover = false, m_loved = false;
    kpv::TrackingAreaPtr m_trackingArea;
};
