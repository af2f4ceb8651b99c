#pragma once
// The one-time tip over the main window that points at the add-to-favourites button and at the
// favourites button. The view-mode toolbar creates it, shows it on the first entry into the view
// mode and hides it when its delegate is told of a click. Main thread only.

#include "Kit/LMOverlapIntroTipsView.h"
#include "Shell/Tips/IntroTipsPresence.h"

#include <memory>

class LMButton;
class LMImageView;
class LoveIntroTipsViewController;
class MainConfig;

namespace kpv {
class TextField;
class View;
}

class LoveIntroTipsViewControllerDelegate {
public:
    virtual ~LoveIntroTipsViewControllerDelegate() = default;
    virtual void closeClickedOnLoveIntroTipsViewController(LoveIntroTipsViewController*) {}
};

class LoveIntroTipsViewController : public LMOverlapIntroTipsViewDelegate {
public:
    LoveIntroTipsViewController();
    ~LoveIntroTipsViewController() override;
    LoveIntroTipsViewController(const LoveIntroTipsViewController&) = delete;
    LoveIntroTipsViewController& operator=(const LoveIntroTipsViewController&) = delete;

    // True when entering `newMode` from `oldMode` is the first entry into the view mode that
    // should show the tip; the flag is then set at once, so the tip never returns, even when
    // the application quits while it is up.
    static bool takeFirstShowingOnModeChange(long oldMode, long newMode, MainConfig& config);

    kpv::View* view() const { return m_overlapIntroTipsView; }
    LMOverlapIntroTipsView* overlapIntroTipsView() const { return m_overlapIntroTipsView; }
    LMButton* btnClose() const { return m_btnClose; }
    kpv::TextField* txtTipsLeft() const { return m_txtTipsLeft; }
    kpv::TextField* txtTipsRight() const { return m_txtTipsRight; }
    LMImageView* imageViewLeftLine() const { return m_imageViewLeftLine; }
    LMImageView* imageViewRightLine() const { return m_imageViewRightLine; }

    kpv::View* parentView() const { return m_presence.parentView(); }
    void setParentView(kpv::View* v) { m_presence.setParentView(v); }
    LoveIntroTipsViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(LoveIntroTipsViewControllerDelegate* d) { m_delegate = d; }
    bool showStatus() const { return m_presence.showStatus(); }

    void showTips() { m_presence.show(); }
    // Ends the two pointer lines just above the add-to-favourites button and the favourites
    // button (rectangles in the tip's own coordinates), the texts beside them.
    void pointAt(const kpv::Rect& loveButton, const kpv::Rect& favoritesButton);
    void hideTips() { m_presence.hide(); }
    void closeButtonClicked();
    void mouseDownOnOverlapIntroTipsView(LMOverlapIntroTipsView*) override;

private:
    void loadView();
    void awakeFromNib();
    void placeTexts();

    IntroTipsPresence m_presence;
    LMOverlapIntroTipsView* m_overlapIntroTipsView = nullptr;
    LMButton* m_btnClose = nullptr;
    kpv::TextField* m_txtTipsLeft = nullptr;
    kpv::TextField* m_txtTipsRight = nullptr;
    LMImageView* m_imageViewLeftLine = nullptr;
    LMImageView* m_imageViewRightLine = nullptr;
    LoveIntroTipsViewControllerDelegate* m_delegate = nullptr;
};
