#pragma once
// The application's own menu for tool-bar buttons: a skinned panel floating above the content,
// one row per item of its data source, sized around its rows and rebuilt at every showing. While
// it is shown the keys work it as any menu of the desktop: Up and Down (and Home and End) mark a
// row, passing over rows that are not enabled, and Return, Enter or Space choose the marked row.

#include "Kit/LMMultiSliceImageView.h"
#include "Kit/LMPopMenuDelegates.h"
#include "Kit/LMPopMenuViewItem.h"
#include "Kit/LMPopupView.h"
#include "appkit/Color.h"

#include <memory>
#include <vector>

class LMPopMenuView : public LMPopupView {
public:
    explicit LMPopMenuView(const kpv::Rect& frame = kpv::Rect(0, 0, 120, 40));
    ~LMPopMenuView() override;

    // The skin and margins of the menu; called once the parts are in place.
    void awakeFromNib();

    LMPopMenuViewDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(LMPopMenuViewDataSource* ds) { m_dataSource = ds; }
    LMPopMenuViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(LMPopMenuViewDelegate* d) { m_delegate = d; }
    LMMultiSliceImageView* multiSliceImageViewBkgrd() const { return m_multiSliceImageViewBkgrd; }
    kpv::View* itemContainerView() const { return m_itemContainerView; }
    LMPopMenuViewItem* viewItemPrototype() const { return m_viewItemPrototype.get(); }
    void setViewItemPrototype(std::unique_ptr<LMPopMenuViewItem> p) { m_viewItemPrototype = std::move(p); }

    void setBackgroundImage(kpv::ImagePtr image, const std::vector<double>& rowDivs, const std::vector<double>& colDivs);
    void setItemContainerMarginLeftTop(kpv::Point leftTop, kpv::Point rightBottom);
    void setItemTitleNormalColor(const kpv::Color& normal, const kpv::Color& push);
    void setItemBkgrdRollColor(const kpv::Color& c) { m_itemBkgrdRollColor = c; }
    double minWidth() const { return m_minWidth; }
    void setMinWidth(double w) { m_minWidth = w; }
    // Empty while no rows are built.
    const std::vector<std::unique_ptr<LMPopMenuViewItem>>& viewItems() const { return m_viewItems; }
    bool hasItems() const { return m_hasItems; }

    void reloadData();
    void updateItems();
    void setHidden(bool hidden) override;
    void viewDidMoveToSuperview() override;
    void scrollWheel(const kpv::Event&) override {}
    // A row's click handler brackets its delegate call with these, so that rows retired by a
    // reload inside the click are not destroyed before the click has returned.
    void beginItemClick() { ++m_itemClicksRunning; }
    void endItemClick() { --m_itemClicksRunning; }

    // The row the keys have marked; npos while none is.
    static constexpr std::size_t npos = std::size_t(-1);
    std::size_t keyItemIndex() const { return m_keyItemIndex; }
    // The pointer came over a row: it becomes the one marked, the keys going on from there, so that
    // the menu never shows two rows marked.
    void rowEnteredByPointer(const LMPopMenuItemView* row);
    // A press that began outside the menu (on the button that opened it) and is dragged over it:
    // the row under the pointer is marked, and releasing on an enabled row chooses it, as menus of
    // the desktop do. Every menu shown in the event's window is offered the drag or release; true
    // when a row was chosen.
    static bool trackPressFromOutside(kpv::Window* window, const kpv::Event& e);
    bool pointerTrackedFromOutside(const kpv::Event& e);

protected:
    void willViewShowed(bool shown) override;
    void didViewShowed(bool shown) override;
    bool keyDownWhileShown(const kpv::Event& e) override;

private:
    void markKeyItem(std::size_t index);

    LMPopMenuViewDataSource* m_dataSource = nullptr;
    LMPopMenuViewDelegate* m_delegate = nullptr;
    LMMultiSliceImageView* m_multiSliceImageViewBkgrd; // subviews
    kpv::View* m_itemContainerView;
    std::unique_ptr<LMPopMenuViewItem> m_viewItemPrototype;
    kpv::Point m_itemContainerMarginLeftTop;
    kpv::Point m_itemContainerMarginRightBottom;
    kpv::Color m_itemTitleNormalColor;
    kpv::Color m_itemTitlePushColor;
    kpv::Color m_itemBkgrdRollColor;
    double m_minWidth = 0;
    std::vector<std::unique_ptr<LMPopMenuViewItem>> m_viewItems;
    bool m_hasItems = false;
    // Rows taken down by reloadData, kept until the next build: a click handler that reloads
    // the menu must not destroy the row whose click is still being handled.
    std::vector<std::unique_ptr<LMPopMenuViewItem>> m_retiredItems;
    std::vector<std::unique_ptr<kpv::View>> m_retiredViews;
    int m_itemClicksRunning = 0;
    std::size_t m_keyItemIndex = npos;
};
