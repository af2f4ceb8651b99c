#pragma once
// The two views that carry the images while a two-finger swipe pages between files: plain views
// over the image view in the window's content view, each drawing its image stretched over its
// frame at its alpha; the image view stops drawing its own image meanwhile. Main thread only.

#include "View/NavGestureScrollFileSession.h"

class LMOpenGLView;
namespace kpv {
class View;
}

class NavigatePagingViews final : public NavPagingViewFactory {
public:
    // Neither owned: the container (the content view) holds the paging views it is given.
    NavigatePagingViews(kpv::View* container, LMOpenGLView* imageView) : m_container(container), m_imageView(imageView) {}

    std::unique_ptr<NavPagingView> createPagingView() override;
    QRectF containerBounds() const override;
    QRectF convertFromMainView(const QRectF& rect) const override;
    void setMainViewImageNotDraw(bool notDraw) override;

private:
    kpv::View* m_container;
    LMOpenGLView* m_imageView;
};
