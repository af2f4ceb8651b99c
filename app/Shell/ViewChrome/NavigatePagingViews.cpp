#include "Shell/ViewChrome/NavigatePagingViews.h"

#include "View/LMOpenGLView.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Image.h"
#include "appkit/View.h"

namespace {

// The image of one side of the swipe, stretched over the view; wheel and mouse events go through
// to what lies beneath.
class PagingImageView final : public kpv::View {
public:
    using kpv::View::View;
    void setPicture(kpv::ImagePtr picture)
    {
        m_picture = std::move(picture);
        setNeedsDisplay();
    }
    kpv::View* hitTest(kpv::Point) override { return nullptr; }
    void drawRect(const kpv::Rect&) override
    {
        kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
        if (gc && m_picture)
            gc->drawImage(*m_picture, bounds());
    }

private:
    kpv::ImagePtr m_picture;
};

// A paging view owned by the container once added; the session keeps this handle to it.
class PagingView final : public NavPagingView {
public:
    explicit PagingView(kpv::View* container) : m_container(container), m_view(new PagingImageView(kpv::Rect()))
    {
        m_view->setHidden(true);
    }
    ~PagingView() override
    {
        if (m_added) {
            m_view->removeFromSuperview();
        }
        delete m_view;
    }
    void setImage(const LMImagePtr& image) override
    {
        m_image = image;
        const QImage picture = image ? image->convertToImage() : QImage();
        m_view->setPicture(picture.isNull() ? nullptr : std::make_shared<kpv::Image>(picture));
    }
    LMImagePtr image() const override { return m_image; }
    QRectF frame() const override
    {
        const kpv::Rect f = m_view->frame();
        return QRectF(f.x(), f.y(), f.width(), f.height());
    }
    void setFrame(const QRectF& frame) override { m_view->setFrame(kpv::Rect(frame.x(), frame.y(), frame.width(), frame.height())); }
    double alpha() const override { return m_view->alphaValue(); }
    void setAlpha(double alpha) override { m_view->setAlphaValue(alpha); }
    bool isHidden() const override { return m_view->isHidden(); }
    void setHidden(bool hidden) override { m_view->setHidden(hidden); }
    bool isInContainer() const override { return m_added; }
    void addToContainer() override
    {
        if (m_added || !m_container)
            return;
        m_container->addSubview(m_view);
        m_added = true;
    }

private:
    kpv::View* m_container;
    PagingImageView* m_view;
    LMImagePtr m_image;
    bool m_added = false;
};

} // namespace

std::unique_ptr<NavPagingView> NavigatePagingViews::createPagingView() { return std::make_unique<PagingView>(m_container); }

QRectF NavigatePagingViews::containerBounds() const
{
    if (!m_container)
        return {};
    const kpv::Rect b = m_container->bounds();
    return QRectF(b.x(), b.y(), b.width(), b.height());
}

QRectF NavigatePagingViews::convertFromMainView(const QRectF& rect) const
{
    if (!m_container || !m_imageView)
        return rect;
    const kpv::Rect r = m_container->convertRectFromView(kpv::Rect(rect.x(), rect.y(), rect.width(), rect.height()), m_imageView);
    return QRectF(r.x(), r.y(), r.width(), r.height());
}

void NavigatePagingViews::setMainViewImageNotDraw(bool notDraw)
{
    if (m_imageView)
        m_imageView->setImageNotDraw(notDraw);
}
