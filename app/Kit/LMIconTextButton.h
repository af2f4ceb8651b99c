#pragma once
// An image-named button that draws its state image at its own size at the left edge and its
// title in white to the right of it.

#include "Kit/LMButton.h"

#include <cstdint>

class LMIconTextButton : public LMButton {
public:
    explicit LMIconTextButton(const kpv::Rect& frame = kpv::Rect()) : LMButton(frame) {}
    std::int64_t iconWidth() const { return m_iconWidth; }
    void drawImage(const kpv::Image& image, double fraction) override;
    void drawRect(const kpv::Rect& dirty) override;

private:
    std::int64_t m_iconWidth = 0;
};
