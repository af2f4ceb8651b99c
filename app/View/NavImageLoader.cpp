#include "View/NavImageLoader.h"

#include "Model/LMPhotoLoader.h"

QSizeF NavImageLoader::imageSizeByScaleType(int imageScaleType, const LMFileImgBaseInfoPtr &imageBaseInfo) const
{
    return LMPhotoLoader::imageSizeByScaleType(imageScaleType, imageBaseInfo);
}

LMFileImgBaseInfoPtr NavPhotoLoaderAdapter::loadImgBaseInfo(const LMPathString &path,
                                                            const kpv::Operation *operation) const
{
    return m_loader ? m_loader->loadImgBaseInfo(path, operation) : nullptr;
}

LMImagePtr NavPhotoLoaderAdapter::loadImage(const LMPathString &path, int imageScaleType,
                                            LMFileImgBaseInfoPtr imageBaseInfo, const kpv::Operation *operation,
                                            int *equivalentImageType, const FirstFrameSink &firstFrame) const
{
    return m_loader ? m_loader->loadImage(path, imageScaleType, std::move(imageBaseInfo), true, operation,
                                          equivalentImageType, firstFrame)
                    : nullptr;
}

LMImagePtr NavPhotoLoaderAdapter::resizeImage(const LMImagePtr &image, const QSizeF &toSize,
                                              const kpv::Operation *operation) const
{
    return m_loader ? m_loader->resizeImage(image, toSize, operation) : nullptr;
}

QSizeF NavPhotoLoaderAdapter::calcPreferredImageSizeForImageScaleType(int imageScaleType,
                                                                      const LMFileImgBaseInfoPtr &imageBaseInfo,
                                                                      int *equivalentImageType) const
{
    if (!m_loader) {
        if (equivalentImageType)
            *equivalentImageType = 0;
        return {};
    }
    return m_loader->calcPreferredImageSizeForImageScaleType(imageScaleType, imageBaseInfo, equivalentImageType);
}

bool NavPhotoLoaderAdapter::isSmallFitinTypeByCheckSize(const QSizeF &size) const
{
    return !m_loader || m_loader->isSmallFitinTypeByCheckSize(size);
}
