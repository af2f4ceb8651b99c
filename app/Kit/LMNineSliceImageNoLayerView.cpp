#include "Kit/LMNineSliceImageNoLayerView.h"

LMNineSliceImageNoLayerView::LMNineSliceImageNoLayerView(const kpv::Rect& frame) : LMMultiSliceImageView(frame)
{
    setWantsLayer(true);
}

void LMNineSliceImageNoLayerView::setBackgroundImageRep(LMNineSliceImageRepPtr rep)
{
    if (rep == m_bkNineSliceImageRep)
        return;
    m_bkNineSliceImageRep = std::move(rep);
    const LMNineSliceImageRep* r = m_bkNineSliceImageRep.get();
    kpv::ImagePtr image = r ? r->nineSliceImage() : nullptr;
    if (!image) {
        setBackgroundImage(nullptr, {}, {});
        return;
    }
    const kpv::Size s = image->size();
    setBackgroundImage(image, {r->nineSliceSizeLeftTop().y, s.height - r->nineSliceSizeRightBottom().y},
                       {r->nineSliceSizeLeftTop().x, s.width - r->nineSliceSizeRightBottom().x});
}
