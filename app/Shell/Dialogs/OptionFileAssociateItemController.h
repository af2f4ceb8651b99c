#pragma once
// One row of the preferences' association page: a check box titled with the type group's name.
// The row never changes the tick itself: a click asks its delegate, then shows the group's tick.
// Main thread only.

#include "Shell/Dialogs/OptionFileAssociateItemInfo.h"

#include "appkit/Geometry.h"

class LMNormalCheckButton;
class OptionFileAssociateItemController;

namespace kpv {
class View;
}

class OptionFileAssociateItemControllerDelegate {
public:
    virtual ~OptionFileAssociateItemControllerDelegate() = default;
    virtual void optionFileAssociateItemController(OptionFileAssociateItemController* item, int row) = 0;
};

class OptionFileAssociateItemController {
public:
    static constexpr double kItemWidth = 200;
    static constexpr double kItemHeight = 24;

    // The row's view is made here and handed to `parent` (which owns it from then on).
    OptionFileAssociateItemController(kpv::View* parent, const kpv::Rect& frame, int row,
                                      OptionFileAssociateItemControllerDelegate* delegate);

    int row() const { return m_row; }
    LMNormalCheckButton* chkFileType() const { return m_chkFileType; }
    // Shows the group's name and tick.
    void setItemInfo(const OptionFileAssociateItemInfo& info);
    void updateItemSelectState(const OptionFileAssociateItemInfo& info);
    void fileTypeCheckButtonClicked();

private:
    int m_row;
    OptionFileAssociateItemControllerDelegate* m_delegate;
    LMNormalCheckButton* m_chkFileType = nullptr;
};
