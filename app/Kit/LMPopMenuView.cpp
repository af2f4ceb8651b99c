#include "Kit/LMPopMenuView.h"

#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMPopMenuItemView.h"
#include "appkit/Event.h"
#include "appkit/Window.h"

#include <algorithm>
#include <cmath>

LMPopMenuView::LMPopMenuView(const kpv::Rect& frame)
    : LMPopupView(frame), m_multiSliceImageViewBkgrd(new LMMultiSliceImageView(bounds())),
      m_itemContainerView(new kpv::View(bounds())), m_viewItemPrototype(std::make_unique<LMPopMenuViewItem>())
{
    m_multiSliceImageViewBkgrd->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    addSubview(m_multiSliceImageViewBkgrd);
    addSubview(m_itemContainerView);
}

LMPopMenuView::~LMPopMenuView() = default;

void LMPopMenuView::awakeFromNib()
{
    m_multiSliceImageViewBkgrd->setWantsLayer(true);
    setBackgroundImage(LMNineSliceImageRep::loadImageWithoutExtension("bg_popbin"), {10, 16}, {16, 20, 40, 44});
    setItemContainerMarginLeftTop({5, 8}, {5, 20});
}

void LMPopMenuView::setBackgroundImage(kpv::ImagePtr image, const std::vector<double>& rowDivs,
                                       const std::vector<double>& colDivs)
{
    m_multiSliceImageViewBkgrd->setBackgroundImage(std::move(image), rowDivs, colDivs);
}

void LMPopMenuView::setItemContainerMarginLeftTop(kpv::Point leftTop, kpv::Point rightBottom)
{
    m_itemContainerMarginLeftTop = leftTop;
    m_itemContainerMarginRightBottom = rightBottom;
}

void LMPopMenuView::setItemTitleNormalColor(const kpv::Color& normal, const kpv::Color& push)
{
    m_itemTitleNormalColor = normal;
    m_itemTitlePushColor = push;
}

void LMPopMenuView::reloadData()
{
    for (kpv::View* row : std::vector<kpv::View*>(m_itemContainerView->subviews())) {
        row->removeFromSuperview();
        m_retiredViews.emplace_back(row);
    }
    for (auto& item : m_viewItems)
        m_retiredItems.push_back(std::move(item));
    m_viewItems.clear();
    m_hasItems = false;
    m_keyItemIndex = npos;
    // A menu on screen is built again at once: it is not added to its window again, where the
    // rows are built otherwise, and would stay an empty box.
    if (isShown())
        updateItems();
}

void LMPopMenuView::updateItems()
{
    if (m_hasItems || !m_dataSource)
        return;
    // Rows of an earlier build go once no click is running: a click that reloads and shows the
    // menu again builds new rows here while its own row is still on the stack.
    if (m_itemClicksRunning == 0) {
        m_retiredViews.clear();
        m_retiredItems.clear();
    }

    const unsigned long n = m_dataSource->numberOfItemsInPopMenuView(this, QVariant());
    double widest = 0;
    double totalHeight = 0;
    std::vector<std::unique_ptr<LMPopMenuItemView>> rowViews;
    for (unsigned long i = 0; i < n; ++i) {
        const QVariant object = m_dataSource->popMenuView_itemAtIndex(this, QVariant(), i);
        auto row = m_viewItemPrototype->newItemForRepresentedObject(object, QVariant(), this);
        row->view()->setItemTitleNormalColor(m_itemTitleNormalColor, m_itemTitlePushColor);
        row->view()->setItemBkgrdRollColor(m_itemBkgrdRollColor);
        widest = std::max(widest, row->itemWidthToFit());
        totalHeight += row->view()->bounds().height();
        rowViews.push_back(row->takeView());
        m_viewItems.push_back(std::move(row));
    }
    m_hasItems = true;

    const double h = m_itemContainerMarginLeftTop.x + m_itemContainerMarginRightBottom.x;
    const double v = m_itemContainerMarginLeftTop.y + m_itemContainerMarginRightBottom.y;
    double w = widest + h;
    if (m_minWidth > w) {
        widest = m_minWidth - h;
        w = m_minWidth;
    }
    const double height = v + totalHeight;
    w = std::floor(w / 2 + 0.5) * 2;

    const kpv::Rect old = frame();
    double x = old.x();
    if (!popViewAlignLeft())
        x = std::round(old.x() + old.width() / 2 - w / 2);
    setFrame(kpv::Rect(x, old.y(), w, height));

    m_itemContainerView->setFrame(
        kpv::Rect(m_itemContainerMarginLeftTop.x, m_itemContainerMarginRightBottom.y, widest, totalHeight));
    double y = totalHeight;
    for (auto& rowView : rowViews) {
        y -= rowView->bounds().height();
        rowView->setFrame(kpv::Rect(0, y, widest, rowView->frame().height()));
        m_itemContainerView->addSubview(rowView.release());
    }
}

void LMPopMenuView::setHidden(bool hidden)
{
    if (!hidden)
        updateItems();
    LMPopupView::setHidden(hidden);
}

void LMPopMenuView::viewDidMoveToSuperview()
{
    updateItems();
    LMPopupView::viewDidMoveToSuperview();
}

void LMPopMenuView::willViewShowed(bool shown)
{
    if (shown)
        reloadData();
}

void LMPopMenuView::didViewShowed(bool shown)
{
    if (m_delegate)
        m_delegate->popMenuView_viewShowed(this, shown);
}

void LMPopMenuView::markKeyItem(std::size_t index)
{
    m_keyItemIndex = index;
    // One marked row: the key's, not also the one the pointer last passed over.
    for (std::size_t i = 0; i < m_viewItems.size(); ++i)
        if (LMPopMenuItemView* row = m_viewItems[i]->view())
            row->setKeyHighlighted(i == index);
}

void LMPopMenuView::rowEnteredByPointer(const LMPopMenuItemView* row)
{
    for (std::size_t i = 0; i < m_viewItems.size(); ++i)
        if (m_viewItems[i]->view() == row) {
            markKeyItem(m_viewItems[i]->itemEnabled() ? i : npos);
            return;
        }
}

bool LMPopMenuView::pointerTrackedFromOutside(const kpv::Event& e)
{
    if (!isShown() || isHiddenOrHasHiddenAncestor())
        return false;
    std::size_t under = npos;
    for (std::size_t i = 0; i < m_viewItems.size(); ++i) {
        LMPopMenuItemView* row = m_viewItems[i]->view();
        if (row && row->mouseInBounds(row->convertPointFromView(e.locationInWindow(), nullptr))) {
            under = m_viewItems[i]->itemEnabled() ? i : npos;
            break;
        }
    }
    markKeyItem(under);
    if (e.type() != kpv::LeftMouseUp || under == npos)
        return false;
    // As a click on the row: the delegate decides what follows (it may hide or rebuild the menu).
    m_viewItems[under]->itemViewActionHandler();
    return true;
}

namespace {

void collectShownMenus(kpv::View* view, std::vector<LMPopMenuView*>& out)
{
    for (kpv::View* sub : view->subviews()) {
        if (sub->isHidden())
            continue;
        if (auto* menu = dynamic_cast<LMPopMenuView*>(sub))
            out.push_back(menu);
        else
            collectShownMenus(sub, out);
    }
}

} // namespace

bool LMPopMenuView::trackPressFromOutside(kpv::Window* window, const kpv::Event& e)
{
    if (!window || !window->contentView())
        return false;
    std::vector<LMPopMenuView*> menus;
    collectShownMenus(window->contentView(), menus);
    // A choice may hide or destroy the menus: nothing is offered after it.
    for (LMPopMenuView* menu : menus)
        if (menu->pointerTrackedFromOutside(e))
            return true;
    return false;
}

bool LMPopMenuView::keyDownWhileShown(const kpv::Event& e)
{
    const std::size_t n = m_viewItems.size();
    if (n == 0)
        return false;
    const unsigned short key = e.keyCode();
    auto enabled = [&](std::size_t i) { return m_viewItems[i]->itemEnabled(); };
    // The next enabled row from `from` (npos: from outside the list) in a direction, wrapping.
    auto step = [&](std::size_t from, bool down) {
        std::size_t i = from;
        for (std::size_t tried = 0; tried < n; ++tried) {
            i = i >= n ? (down ? 0 : n - 1) : down ? (i + 1) % n : (i + n - 1) % n;
            if (enabled(i))
                return i;
        }
        return npos;
    };
    switch (key) {
    case kpv::KeyCode::DownArrow:
    case kpv::KeyCode::UpArrow:
        if (const std::size_t i = step(m_keyItemIndex, key == kpv::KeyCode::DownArrow); i != npos)
            markKeyItem(i);
        return true;
    case kpv::KeyCode::Home:
    case kpv::KeyCode::End:
        if (const std::size_t i = step(npos, key == kpv::KeyCode::Home); i != npos)
            markKeyItem(i);
        return true;
    case kpv::KeyCode::Return:
    case kpv::KeyCode::KeypadEnter:
    case kpv::KeyCode::Space:
        if (m_keyItemIndex >= n)
            return false;
        // As a click on the row: the delegate decides what follows (it may hide or rebuild the menu).
        m_viewItems[m_keyItemIndex]->itemViewActionHandler();
        return true;
    default:
        return false;
    }
}
