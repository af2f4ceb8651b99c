#pragma once
// The skinned strip behind the main window's title: "bg_title" stretched between 8-point end caps.

#include "appkit/Image.h"
#include "appkit/View.h"

class LMMainWindowTitleBkgrdView : public kpv::View {
public:
    using kpv::View::View;
    void drawRect(const kpv::Rect& dirty) override;

private:
    kpv::ImagePtr m_bkgrdImage;
};
