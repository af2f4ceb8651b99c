#pragma once
// The usual dialog window: the "BG_POPWin" skin and a close button in its top-left corner.

#include "Kit/LMButton.h"
#include "Kit/LMCustomWindow.h"

class LMNormalCustomWindow : public LMCustomWindow {
public:
    explicit LMNormalCustomWindow(const kpv::Rect& contentRect, unsigned styleMask = kpv::ClosableWindowMask);

    LMButton* btnClose() const { return m_btnClose; }
    void awakeFromNib();
    void closeButtonClicked(kpv::View* sender);
    // A window that never becomes key still shows its close button's roll-over.
    void setCanBecomeKeyWindow(bool flag) override;

private:
    LMButton* m_btnClose = nullptr;
};
