#pragma once
// A view hosting a layer of its own whose content scale follows the backing scale of its window,
// so layer content stays sharp between standard and dense screens. A change of the window's
// scale without a move is not followed.

#include "appkit/Layer.h"
#include "appkit/View.h"

#include <memory>

class LMLayerView : public kpv::View {
public:
    explicit LMLayerView(const kpv::Rect& frame = kpv::Rect());

    const std::shared_ptr<kpv::Layer>& layer() const { return m_layer; }
    void awakeFromNib() { updateLayerContentsScale(); }
    void viewDidMoveToWindow() override;
    void updateLayerContentsScale() { updateLayerContentsScale(this); }
    static void updateLayerContentsScale(LMLayerView* view);

private:
    std::shared_ptr<kpv::Layer> m_layer;
};
