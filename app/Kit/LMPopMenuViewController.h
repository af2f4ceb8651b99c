#pragma once
// Makes a popup menu and is the base of the application's menu controllers.

#include "Kit/LMPopMenuView.h"
#include "Kit/LMPopupViewController.h"

#include <memory>

class LMPopMenuViewController : public LMPopupViewController {
public:
    LMPopMenuViewController(LMPopMenuViewDelegate* delegate, kpv::View* parentView);

    LMPopMenuView* popMenuView() const { return static_cast<LMPopMenuView*>(popupView()); }

    static std::unique_ptr<LMPopMenuViewController>
    popMenuViewControllerWithDataSource(LMPopMenuViewDataSource* dataSource, LMPopMenuViewDelegate* delegate,
                                        kpv::View* parentView);

    // The menu's view tree ("PopMenuView").
    static std::unique_ptr<LMPopMenuView> loadView();
};

// The owner of one colour for drawing code that wants a plain colour value.
class CGColorRefWrapper {
public:
    CGColorRefWrapper(double red, double green, double blue, double alpha) : m_colorRef(red, green, blue, alpha) {}
    const kpv::Color& CGColor() const { return m_colorRef; }

    static std::unique_ptr<CGColorRefWrapper> colorWithCalibratedRed(double r, double g, double b, double a)
    {
        return std::make_unique<CGColorRefWrapper>(r, g, b, a);
    }
    static std::unique_ptr<CGColorRefWrapper> colorWithCalibratedWhite(double white, double alpha)
    {
        return colorWithCalibratedRed(white, white, white, alpha);
    }
    static std::unique_ptr<CGColorRefWrapper> clearColor() { return colorWithCalibratedWhite(0, 0); }
    static std::unique_ptr<CGColorRefWrapper> whiteColor() { return colorWithCalibratedWhite(1, 1); }

private:
    kpv::Color m_colorRef;
};
