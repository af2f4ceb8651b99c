#pragma once
// The favourites grid's scroller: the skinned image scroller with the grid's knob images.

#include "Kit/LMImageScroller.h"

class FavBrowserViewScroller : public LMImageScroller {
public:
    explicit FavBrowserViewScroller(const kpv::Rect& frame = kpv::Rect()) : LMImageScroller(frame)
    {
        setKnobImageName(QStringLiteral("bt_scrpicthm"), QStringLiteral("bt_scrpicthmr"));
    }
};
