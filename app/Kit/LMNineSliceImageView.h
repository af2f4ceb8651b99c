#pragma once
// The nine-slice background view that windows, panels and pop-ups put their content on.

#include "Kit/LMNineSliceImageNoLayerView.h"

class LMNineSliceImageView : public LMNineSliceImageNoLayerView {
public:
    explicit LMNineSliceImageView(const kpv::Rect& frame = kpv::Rect(), LMNineSliceImageRepPtr rep = nullptr)
        : LMNineSliceImageNoLayerView(frame)
    {
        if (rep)
            setBackgroundImageRep(std::move(rep));
    }
};
