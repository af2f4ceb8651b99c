#pragma once
// The status box of the view mode: short status texts with an optional waiting indicator.

#include "Kit/LMBkgrdImageTextView.h"

class NavStatusView : public LMBkgrdImageTextView {
public:
    explicit NavStatusView(const kpv::Rect& frame = kpv::Rect()) : LMBkgrdImageTextView(frame, true)
    {
        awakeFromNib();
    }
    void awakeFromNib() { setMinWidth(60); }
};
