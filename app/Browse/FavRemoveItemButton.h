#pragma once
// The small remove button that follows the mouse over the favourites' pictures; it knows the
// index of the picture under it.

#include "Kit/LMButton.h"

#include <cstddef>

class FavRemoveItemButton : public LMButton {
public:
    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
    explicit FavRemoveItemButton(const kpv::Rect& frame = kpv::Rect()) : LMButton(frame) {}
    std::size_t itemIndex() const { return m_itemIndex; }
    void setItemIndex(std::size_t index) { m_itemIndex = index; }

private:
    std::size_t m_itemIndex = kNotFound;
};
