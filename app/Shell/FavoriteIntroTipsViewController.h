#pragma once
// The one-time tip over the favourites mode that points at the way back out of it. The
// favourites controller creates it, shows it on the first entry into the mode and hides it when
// its delegate is told of a click or when the mode ends. Main thread only.

#include "Kit/LMOverlapIntroTipsView.h"

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

    kpv::View* parentView() const { return m_parentView; }
    void setParentView(kpv::View* v) { m_parentView = v; }
    FavoriteIntroTipsViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(FavoriteIntroTipsViewControllerDelegate* d) { m_delegate = d; }
    bool showStatus() const { return m_showStatus; }

    void showTips();
    void hideTips();
    void closeButtonClicked();
    void mouseDownOnOverlapIntroTipsView(LMOverlapIntroTipsView*) override;

private:
    void loadView();
    void awakeFromNib();
    void applyShowStatus();

    // Owns the view while it is not in the parent view; the parent owns it while it is.
    std::unique_ptr<kpv::View> m_detachedView;
    LMOverlapIntroTipsView* m_overlapIntroTipsView = nullptr;
    LMButton* m_btnClose = nullptr;
    kpv::TextField* m_txtTipsExitFavorite = nullptr;
    LMImageView* m_imageViewExitFavorite = nullptr;
    kpv::View* m_parentView = nullptr;
    FavoriteIntroTipsViewControllerDelegate* m_delegate = nullptr;
    bool m_showStatus = false;
};
