#pragma once
// One row of a popup menu: a view-based button with an icon or check mark at the left and a
// title beside it, its background coloured by the visual state.

#include "Kit/LMSimButtonBase.h"
#include "appkit/Color.h"
#include "appkit/Control.h"
#include "appkit/Image.h"

#include <map>

class LMPopMenuViewItem;

class LMPopMenuItemView : public LMSimButtonBase {
public:
    static constexpr double kDefaultRowHeight = 22;

    explicit LMPopMenuItemView(const kpv::Rect& frame = kpv::Rect(0, 0, 100, kDefaultRowHeight));

    LMPopMenuViewItem* popMenuViewItem() const { return m_popMenuViewItem; }
    void setPopMenuViewItem(LMPopMenuViewItem* item) { m_popMenuViewItem = item; }
    kpv::TextField* txtItemTitle() const { return m_txtItemTitle; }

    // Takes the title from the data source and the title field's colour as the normal colour.
    void awakeFromNib();
    QString itemTitle() const;
    QString buttonImageName() const { return iconImageName(false); }
    QString checkButtonImageName() const { return iconImageName(true); }
    QString iconImageName(bool check) const;

    void setItemTitleNormalColor(const kpv::Color& normal, const kpv::Color& push);
    void setItemBkgrdRollColor(const kpv::Color& color);
    kpv::Color itemTitleNormalColor() const { return m_itemTitleNormalColor; }
    kpv::Color itemTitlePushColor() const { return m_itemTitlePushColor; }
    kpv::Color bkColorByState(LMVisualState state);
    kpv::ImagePtr imageByState(LMVisualState state, bool forCheckButton);
    double buttonIconWidth();
    double itemWidthToFit();

    void setFrame(const kpv::Rect& frame) override;
    void updateButtonUI() override;
    void drawRect(const kpv::Rect& dirty) override;
    // The state the row draws in: disabled items always draw as disabled.
    LMVisualState drawingState() const;
    // Under the pointer, the row is the menu's marked one (see LMPopMenuView).
    void mouseEntered(const kpv::Event& e) override;
    // Marks the row as the pointer's roll-over does, for the menu's keys.
    void setKeyHighlighted(bool on)
    {
        setMouseIn(on);
        updateButtonUI();
    }

private:
    LMPopMenuViewItem* m_popMenuViewItem = nullptr;
    kpv::TextField* m_txtItemTitle; // a subview
    std::map<LMVisualState, kpv::Color> m_bkgrdColors;
    std::map<LMVisualState, kpv::ImagePtr> m_buttonImages;
    kpv::Color m_itemTitleNormalColor;
    kpv::Color m_itemTitlePushColor;
};
