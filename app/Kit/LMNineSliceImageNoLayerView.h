#pragma once
// A view whose background is a nine-slice skin record.

#include "Kit/LMMultiSliceImageView.h"

class LMNineSliceImageNoLayerView : public LMMultiSliceImageView {
public:
    explicit LMNineSliceImageNoLayerView(const kpv::Rect& frame = kpv::Rect());

    void setBackgroundImageRep(LMNineSliceImageRepPtr rep);
    const LMNineSliceImageRepPtr& bkNineSliceImageRep() const { return m_bkNineSliceImageRep; }

private:
    LMNineSliceImageRepPtr m_bkNineSliceImageRep;
};
