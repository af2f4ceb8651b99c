#include "Kit/LMLayerView.h"

#include "appkit/Window.h"

LMLayerView::LMLayerView(const kpv::Rect& frame) : kpv::View(frame), m_layer(kpv::Layer::layer())
{
    setWantsLayer(true);
}

void LMLayerView::viewDidMoveToWindow()
{
    kpv::View::viewDidMoveToWindow();
    updateLayerContentsScale();
}

void LMLayerView::updateLayerContentsScale(LMLayerView* view)
{
    if (!view || !view->window())
        return;
    const double scale = view->window()->backingScaleFactor();
    kpv::Layer& layer = *view->m_layer;
    if (layer.contentsScale() == scale)
        return;
    layer.setContentsScale(scale);
    for (const auto& sub : layer.sublayers()) // direct sublayers only
        sub->setContentsScale(scale);
}
