#include "Kit/LMNormalCustomWindow.h"

LMNormalCustomWindow::LMNormalCustomWindow(const kpv::Rect& contentRect, unsigned styleMask)
    : LMCustomWindow(contentRect, styleMask)
{
    // A dialog is worked with the keyboard too: Tab goes round its buttons and boxes in the order
    // they stand, and the control with the focus shows a ring and takes Space and Return.
    setAutorecalculatesKeyViewLoop(true);
    // The view tree of the dialog frame: the skin at the back, the close button at top left.
    setNineSliceImageBkgrdView(new LMNineSliceImageView(contentView()->bounds()));
    const double h = contentView()->bounds().height();
    m_btnClose = new LMButton(kpv::Rect(8, h - 8 - 16, 16, 16));
    m_btnClose->setAutoresizingMask(kpv::ViewMinYMargin | kpv::ViewMaxXMargin);
    m_btnClose->setAction([this](kpv::View* sender) { closeButtonClicked(sender); });
    contentView()->addSubview(m_btnClose);
    awakeFromNib();
}

void LMNormalCustomWindow::awakeFromNib()
{
    if (nineSliceImageBkgrdView())
        nineSliceImageBkgrdView()->setBackgroundImageRep(
            std::make_shared<LMNineSliceImageRep>(QStringLiteral("BG_POPWin"), kpv::Point{15, 15}, kpv::Point{15, 15}));
    if (m_btnClose)
        m_btnClose->setImageName(QStringLiteral("close"));
}

void LMNormalCustomWindow::closeButtonClicked(kpv::View*) { close(); }

void LMNormalCustomWindow::setCanBecomeKeyWindow(bool flag)
{
    if (!flag && m_btnClose)
        m_btnClose->setTrackingActiveInActiveApp(true);
    LMCustomWindow::setCanBecomeKeyWindow(flag);
}
