#include "Slideshow/SlideshowFileInfo.h"

LMImagePtr SlideshowFileInfo::prevLoadedLargeFitInImage() const
{
    std::lock_guard lock(m_lock);
    return m_largeFitIn;
}

void SlideshowFileInfo::setPrevLoadedLargeFitInImage(LMImagePtr image)
{
    std::lock_guard lock(m_lock);
    m_largeFitIn = std::move(image);
}

LMImagePtr SlideshowFileInfo::prevLoadedOriginalImage() const
{
    std::lock_guard lock(m_lock);
    return m_original;
}

void SlideshowFileInfo::setPrevLoadedOriginalImage(LMImagePtr image)
{
    std::lock_guard lock(m_lock);
    m_original = std::move(image);
}

LMImagePtr SlideshowFileInfo::bestPrevLoadedImage() const
{
    std::lock_guard lock(m_lock);
    return m_original ? m_original : m_largeFitIn;
}
