#include "Kit/LMPopMenuViewController.h"

LMPopMenuViewController::LMPopMenuViewController(LMPopMenuViewDelegate* delegate, kpv::View* parentView)
    : LMPopupViewController(loadView(), parentView)
{
    popMenuView()->setDelegate(delegate);
}

std::unique_ptr<LMPopMenuView> LMPopMenuViewController::loadView()
{
    auto view = std::make_unique<LMPopMenuView>(kpv::Rect(0, 0, 120, 40));
    view->awakeFromNib();
    return view;
}

std::unique_ptr<LMPopMenuViewController>
LMPopMenuViewController::popMenuViewControllerWithDataSource(LMPopMenuViewDataSource* dataSource,
                                                             LMPopMenuViewDelegate* delegate, kpv::View* parentView)
{
    auto controller = std::make_unique<LMPopMenuViewController>(delegate, parentView);
    controller->popMenuView()->setDataSource(dataSource);
    return controller;
}
