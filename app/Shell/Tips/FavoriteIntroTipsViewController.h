#pragma once
// The one-time tip over the favourites mode that points at the way back out of it. The
// favourites controller creates it, shows it on the first entry into the mode and hides it when
// its delegate is told of a click or when the mode ends. Main thread only.

#include "Kit/LMOverlapIntroTipsView.h"
#include "Shell/Tips/IntroTipsPresence.h"

#include <memory>

class LMButton;
class LMImageView;
class FavoriteIntroTipsViewController;

namespace kpv {
class TextField;
class View;
}

class FavoriteIntroTipsViewControllerDelegate {
public:
    virtual ~FavoriteIntroTipsViewControllerDelegate() = default;
    virtual void closeClickedOnFavoriteIntroTipsViewController(FavoriteIntroTipsViewController*) {}
};

class FavoriteIntroTipsViewController : public LMOverlapIntroTipsViewDelegate {
public:
    FavoriteIntroTipsViewController();
    ~FavoriteIntroTipsViewController() override;
    FavoriteIntroTipsViewController(const FavoriteIntroTipsViewController&) = delete;
    FavoriteIntroTipsViewController& operator=(const FavoriteIntroTipsViewController&) = delete;

    kpv::View* view() const { return m_overlapIntroTipsView; }
    LMOverlapIntroTipsView* overlapIntroTipsView() const { return m_overlapIntroTipsView; }
    LMButton* btnClose() const { return m_btnClose; }
    kpv::TextField* txtTipsExitFavorite() const { return m_txtTipsExitFavorite; }
    LMImageView* imageViewExitFavorite() const { return m_imageViewExitFavorite; }

    kpv::View* parentView() const { return m_presence.parentView(); }
    void setParentView(kpv::View* v) { m_presence.setParentView(v); }
    FavoriteIntroTipsViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(FavoriteIntroTipsViewControllerDelegate* d) { m_delegate = d; }
    bool showStatus() const { return m_presence.showStatus(); }

    void showTips() { m_presence.show(); }
    void hideTips() { m_presence.hide(); }
    void closeButtonClicked();
    void mouseDownOnOverlapIntroTipsView(LMOverlapIntroTipsView*) override;

private:
    void loadView();
    void awakeFromNib();

    IntroTipsPresence m_presence;
    LMOverlapIntroTipsView* m_overlapIntroTipsView = nullptr;
    LMButton* m_btnClose = nullptr;
    kpv::TextField* m_txtTipsExitFavorite = nullptr;
    LMImageView* m_imageViewExitFavorite = nullptr;
    FavoriteIntroTipsViewControllerDelegate* m_delegate = nullptr;
};
