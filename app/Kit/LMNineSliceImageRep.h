#pragma once
// A skin image with the sizes of its corner slices: the corners keep their size when the image
// is drawn larger, the bands between them stretch.

#include "appkit/Geometry.h"
#include "appkit/Image.h"

#include <QString>
#include <memory>

class LMNineSliceImageRep {
public:
    // leftTop.x: width of the left column, leftTop.y: height of the top row; rightBottom.x:
    // width of the right column, rightBottom.y: height of the bottom row.
    LMNineSliceImageRep(kpv::ImagePtr image, kpv::Point sliceSizeLeftTop, kpv::Point sliceSizeRightBottom);
    // The named skin image (a missing image gives a record without image).
    LMNineSliceImageRep(const QString& nameWithoutExtension, kpv::Point sliceSizeLeftTop,
                        kpv::Point sliceSizeRightBottom);

    // Every skin image is looked up by its lower-cased name; an empty name gives nothing.
    static kpv::ImagePtr loadImageWithoutExtension(const QString& name);

    // The stretchable centre in unit coordinates (origin bottom-left); the whole unit square
    // without an image.
    kpv::Rect contentsCenterForLayer() const;

    const kpv::ImagePtr& nineSliceImage() const { return m_image; }
    kpv::Point nineSliceSizeLeftTop() const { return m_leftTop; }
    kpv::Point nineSliceSizeRightBottom() const { return m_rightBottom; }

private:
    kpv::ImagePtr m_image;
    kpv::Point m_leftTop;
    kpv::Point m_rightBottom;
};

using LMNineSliceImageRepPtr = std::shared_ptr<LMNineSliceImageRep>;
