#include "Kit/LMNineSliceImageRep.h"

LMNineSliceImageRep::LMNineSliceImageRep(kpv::ImagePtr image, kpv::Point lt, kpv::Point rb)
    : m_image(std::move(image)), m_leftTop(lt), m_rightBottom(rb)
{
}

LMNineSliceImageRep::LMNineSliceImageRep(const QString& name, kpv::Point lt, kpv::Point rb)
    : LMNineSliceImageRep(loadImageWithoutExtension(name), lt, rb)
{
}

kpv::ImagePtr LMNineSliceImageRep::loadImageWithoutExtension(const QString& name)
{
    if (name.isEmpty())
        return nullptr;
    return kpv::Image::imageNamed(name.toLower());
}

kpv::Rect LMNineSliceImageRep::contentsCenterForLayer() const
{
    if (!m_image || m_image->size().width <= 0 || m_image->size().height <= 0)
        return kpv::Rect(0, 0, 1, 1);
    const double w = m_image->size().width;
    const double h = m_image->size().height;
    return kpv::Rect(m_leftTop.x / w, m_rightBottom.y / h, (w - m_leftTop.x - m_rightBottom.x) / w,
                     (h - m_leftTop.y - m_rightBottom.y) / h);
}
