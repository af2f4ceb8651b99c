#include "View/NavImageLoader.h"

#include "Model/LMNavFileInfo.h"
#include "Model/LMPhotoLoader.h"
#include "View/NavLaunchPicture.h"

namespace {

// The small thumbnail of the file the program was started with, made while it started (it costs
// no decode here); nullptr for any other file, or once it was taken.
LMImagePtr launchSmallThumb(const LMFileImgBaseInfoPtr &imageBaseInfo)
{
    NavLaunchPicture *launch = NavLaunchPicture::current();
    if (!launch || !imageBaseInfo)
        return nullptr;
    return LMPhotoLoader::createImageByImageRef(launch->take(*imageBaseInfo), imageBaseInfo);
}

} // namespace

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
                                            int *equivalentImageType, const FramesSoFarSink &framesSoFar) const
{
    if (imageScaleType == LMNavFileInfo::kSmallThumbType) {
        if (LMImagePtr quick = launchSmallThumb(imageBaseInfo)) {
            if (equivalentImageType)
                *equivalentImageType = 0;
            return quick;
        }
    }
    return m_loader ? m_loader->loadImage(path, imageScaleType, std::move(imageBaseInfo), true, operation,
                                          equivalentImageType, framesSoFar)
                    : nullptr;
}

LMImagePtr NavPhotoLoaderAdapter::resizeImage(const LMImagePtr &image, const QSizeF &toSize,
                                              const kpv::Operation *operation) const
{
    return m_loader ? m_loader->resizeImage(image, toSize, operation) : nullptr;
}

LMImagePtr NavPhotoLoaderAdapter::loadStoredSmallThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                                       const kpv::Operation *operation) const
{
    if (LMImagePtr quick = launchSmallThumb(imageBaseInfo))
        return quick;
    return m_loader ? m_loader->loadStoredSmallThumb(path, imageBaseInfo, operation) : nullptr;
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
