#include "Shell/Dialogs/OptionFileAssociateItemController.h"

#include "Kit/LMNormalCheckButton.h"
#include "appkit/Control.h"

OptionFileAssociateItemController::OptionFileAssociateItemController(kpv::View* parent, const kpv::Rect& frame, int row,
                                                                     OptionFileAssociateItemControllerDelegate* delegate)
    : m_row(row), m_delegate(delegate)
{
    auto* view = new kpv::View(frame);
    m_chkFileType = new LMNormalCheckButton(kpv::Rect(0, 0, frame.width(), frame.height()));
    auto* title = new kpv::TextField(kpv::Rect(22, 0, frame.width() - 22, frame.height()));
    title->setTextColor(kpv::Color::whiteColor());
    view->addSubview(m_chkFileType);
    view->addSubview(title);
    m_chkFileType->setTextButtonTitle(title);
    m_chkFileType->setIconLeftMargin(0);
    m_chkFileType->awakeFromNib();
    m_chkFileType->setImageName(QStringLiteral("icon_chck"));
    m_chkFileType->setAction([this](kpv::View*) { fileTypeCheckButtonClicked(); });
    parent->addSubview(view);
}

void OptionFileAssociateItemController::setItemInfo(const OptionFileAssociateItemInfo& info)
{
    m_chkFileType->setTitle(info.dispName());
    updateItemSelectState(info);
}

void OptionFileAssociateItemController::updateItemSelectState(const OptionFileAssociateItemInfo& info)
{
    m_chkFileType->setState(info.associated() ? 1 : 0);
}

void OptionFileAssociateItemController::fileTypeCheckButtonClicked()
{
    if (m_delegate)
        m_delegate->optionFileAssociateItemController(this, m_row);
}
