#include "Kit/LMImageBrowserExtraItemViewController.h"

LMImageBrowserExtraItemViewController::LMImageBrowserExtraItemViewController(std::unique_ptr<kpv::View> view)
    : m_view(view ? view.release() : new kpv::View())
{
}

LMImageBrowserExtraItemViewController::~LMImageBrowserExtraItemViewController()
{
    // A view in the browser belongs to it; one never placed is still ours.
    if (!m_view->superview())
        delete m_view;
}

FavBrowserExtraItemViewController::FavBrowserExtraItemViewController()
    : LMImageBrowserExtraItemViewController(std::make_unique<LMNineSliceImageView>())
{
}

const LMNineSliceImageRepPtr& FavBrowserExtraItemViewController::shadowRep(bool selected)
{
    static const LMNineSliceImageRepPtr normal =
        std::make_shared<LMNineSliceImageRep>("BG_ThumShadow", kpv::Point{15, 15}, kpv::Point{19, 18});
    static const LMNineSliceImageRepPtr on =
        std::make_shared<LMNineSliceImageRep>("BG_ThumShadow_on", kpv::Point{15, 15}, kpv::Point{19, 18});
    return selected ? on : normal;
}

void FavBrowserExtraItemViewController::updateUIWithCellFrame(const kpv::Rect&, const kpv::Rect&, bool selected)
{
    shadowView()->setBackgroundImageRep(shadowRep(selected));
}
