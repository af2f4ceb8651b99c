#include "View/NavImageLoader.h"

#include "Model/LMNavFileInfo.h"
#include "Model/LMPhotoLoader.h"
#include "View/NavLaunchPicture.h"

#include "foundation/Operation.h"

#include "imageio/DecodeBudget.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageProperties.h"

#include <algorithm>

namespace {

// The fit-in scale types (the photo loader's 10 and 11).
constexpr int kSmallFitinScaleType = 10;
constexpr int kLargeFitinScaleType = 11;

// The small thumbnail of the file the program was started with, made while it started (it costs
// no decode here); nullptr for any other file, or once it was taken.
LMImagePtr launchSmallThumb(const LMFileImgBaseInfoPtr &imageBaseInfo)
{
    NavLaunchPicture *launch = NavLaunchPicture::current();
    if (!launch || !imageBaseInfo)
        return nullptr;
    return LMPhotoLoader::createImageByImageRef(launch->take(*imageBaseInfo), imageBaseInfo);
}

// The fit-in image of the file the program was started with, decoded while it started; nullptr
// for any other file or type, a picture of another size than the loader would decode, or once it
// was taken.
LMImagePtr launchFitin(const NavImageLoader &loader, int imageScaleType, const LMFileImgBaseInfoPtr &imageBaseInfo,
                       int *equivalentImageType)
{
    NavLaunchPicture *launch = NavLaunchPicture::current(NavLaunchPicture::SharpPicture);
    if (!launch || !imageBaseInfo ||
        (imageScaleType != kSmallFitinScaleType && imageScaleType != kLargeFitinScaleType))
        return nullptr;
    const QImage picture = launch->take(*imageBaseInfo);
    int equivalent = 0;
    const QSizeF size = loader.calcPreferredImageSizeForImageScaleType(imageScaleType, imageBaseInfo, &equivalent);
    if (picture.isNull() || QSizeF(picture.size()) != size)
        return nullptr;
    LMImagePtr image = LMPhotoLoader::createImageByImageRef(picture, imageBaseInfo);
    if (image && equivalentImageType)
        *equivalentImageType = equivalent;
    return image;
}

} // namespace

QImage NavPhotoLoaderAdapter::decodeLaunchFitin(const QString &path, const QSizeF &screenSize)
{
    const LMPathString file(path, false);
    const QDateTime modified = file.dateModified();
    const kpv::FileIdentity identity = kpv::fileIdentity(path);
    // One read of the file for its description and its pixels.
    std::unique_ptr<LMImageSourceReader> source = LMImageSourceFactory::platform()->createWithFile(path);
    if (!source || source->type() != QLatin1String("public.jpeg") || !modified.isValid())
        return {};
    const QVariantMap properties = source->propertiesAtIndex(0);
    const QSizeF raw(properties.value(kpv::kCGImagePropertyPixelWidth).toDouble(),
                     properties.value(kpv::kCGImagePropertyPixelHeight).toDouble());
    if (!(raw.width() >= 1 && raw.height() >= 1))
        return {};
    const auto base = std::make_shared<const LMFileImgBaseInfo>(
        file, source->type(), LMPhotoLoader::kAMCMImageTypeJPEG, modified, raw,
        properties.value(kpv::kCGImagePropertyOrientation, 1).toLongLong(), properties, identity);
    const QSizeF size = LMPhotoLoader(screenSize).calcPreferredImageSizeForImageScaleType(
        kLargeFitinScaleType, base);
    const int longer = int(std::max(size.width(), size.height()));
    if (longer < 1)
        return {};
    return source->createThumbnailAtIndex(0, longer, true);
}

LMImagePtr NavImageLoader::thumbnailFromImage(const LMImagePtr &image, int imageScaleType,
                                              const kpv::Operation *operation, int *equivalentImageType) const
{
    if (!image || (imageScaleType != LMNavFileInfo::kSmallThumbType && imageScaleType != LMNavFileInfo::kLargeThumbType))
        return nullptr;
    int equivalent = 0;
    const QSizeF size = calcPreferredImageSizeForImageScaleType(imageScaleType, image->originalImgBaseInfo(), &equivalent);
    if (!(size.width() >= 1 && size.height() >= 1) || size.width() > double(image->width()) ||
        size.height() > double(image->height()))
        return nullptr;
    // A picture no larger than the thumbnail is its own thumbnail.
    const bool same = size.width() == double(image->width()) && size.height() == double(image->height());
    LMImagePtr thumb = same && image->frameCount() == 1 ? image : resizeImage(image, size, operation);
    if (thumb && equivalentImageType)
        *equivalentImageType = equivalent;
    return thumb;
}

bool NavImageLoader::quickPictureWorthDecoding(const QString &typeIdentifier, int64_t fileBytes)
{
    // The entropy decoding, which no DCT scale spares, grows with the file: past this size the
    // sharp picture of a JPEG takes well over a tenth of a second.
    constexpr int64_t kSlowJpegBytes = int64_t(10) << 20;
    // An animation is shown once its frames are decoded; its first frame alone comes at once.
    return (typeIdentifier == QLatin1String("public.jpeg") && fileBytes > kSlowJpegBytes) ||
           typeIdentifier == QLatin1String("com.compuserve.gif");
}

bool NavImageLoader::quickPictureWorthDecoding(const LMFileImgBaseInfoPtr &imageBaseInfo)
{
    if (!imageBaseInfo)
        return false;
    if (imageBaseInfo->AMCMImageType() == LMPhotoLoader::kAMCMImageTypeGIF)
        return true;
    return imageBaseInfo->AMCMImageType() == LMPhotoLoader::kAMCMImageTypeJPEG &&
           quickPictureWorthDecoding(QStringLiteral("public.jpeg"), imageBaseInfo->fileIdentity().size);
}

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
    if (LMImagePtr sharp = launchFitin(*this, imageScaleType, imageBaseInfo, equivalentImageType))
        return sharp;
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
                                                       const kpv::Operation *operation, bool inFileOnly) const
{
    // The launch picture is made by the same rule (see main()).
    if (LMImagePtr quick = launchSmallThumb(imageBaseInfo))
        return quick;
    return m_loader ? m_loader->loadStoredSmallThumb(path, imageBaseInfo, operation, inFileOnly) : nullptr;
}

LMImagePtr NavPhotoLoaderAdapter::loadStoredLargeThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                                       const kpv::Operation *operation) const
{
    return m_loader ? m_loader->loadStoredLargeThumb(path, imageBaseInfo, operation) : nullptr;
}

LMImagePtr NavPhotoLoaderAdapter::thumbnailFromImage(const LMImagePtr &image, int imageScaleType,
                                                     const kpv::Operation *operation, int *equivalentImageType) const
{
    LMImagePtr thumb = NavImageLoader::thumbnailFromImage(image, imageScaleType, operation, equivalentImageType);
    // Kept in the desktop's cache as a decoded one is: the next visit finds it there.
    if (thumb && m_loader && imageScaleType == LMNavFileInfo::kLargeThumbType)
        m_loader->storeThumbnail(thumb);
    return thumb;
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

LMImagePtr NavPhotoLoaderAdapter::loadImageRegion(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                                  const QRect &rect, int reduction,
                                                  const kpv::Operation *operation) const
{
    if (!m_loader || !imageBaseInfo || rect.isEmpty() || (operation && operation->isCancelled()))
        return nullptr;
    std::shared_ptr<const LMImageSourceReader> source;
    {
        std::lock_guard lock(m_regionMutex);
        if (m_regionSource && m_regionSourceInfo && m_regionSourceInfo->isEqual(*imageBaseInfo))
            source = m_regionSource;
    }
    if (!source) {
        if (imageBaseInfo->fileModified())
            return nullptr;
        source = m_loader->sources().createWithFile(path.path());
        if (!source)
            return nullptr;
        std::lock_guard lock(m_regionMutex);
        m_regionSource = source;
        m_regionSourceInfo = imageBaseInfo;
    }
    // The file stays open only while parts of it are being decoded: a view that rests on a zoomed
    // photo must not keep its drive busy. The next part opens it again by its name (the decoded
    // file's index of resume points is kept apart from the opening, so that costs little).
    struct Decoding {
        const NavPhotoLoaderAdapter &adapter;
        std::shared_ptr<const LMImageSourceReader> &source;
        Decoding(const NavPhotoLoaderAdapter &a, std::shared_ptr<const LMImageSourceReader> &s) : adapter(a), source(s)
        {
            std::lock_guard lock(adapter.m_regionMutex);
            ++adapter.m_regionDecodes;
        }
        ~Decoding()
        {
            source.reset(); // closed here, or by the last decode still using it
            std::shared_ptr<const LMImageSourceReader> gone;
            std::lock_guard lock(adapter.m_regionMutex);
            if (--adapter.m_regionDecodes == 0)
                gone = std::move(adapter.m_regionSource);
        }
    } decoding(*this, source);
    if (operation && operation->isCancelled())
        return nullptr;
    // A part the view no longer wants stops waiting for memory other decodes hold.
    const kpv::DecodeBudget::CancelScope stopWaiting([operation] { return operation && operation->isCancelled(); });
    const QImage part = source->createImageInRect(0, rect, reduction);
    // Bytes read before the file was rewritten would not match its description.
    if (part.isNull() || (operation && operation->isCancelled()) || imageBaseInfo->fileModified())
        return nullptr;
    return LMPhotoLoader::createImageByImageRef(part, imageBaseInfo);
}

void NavPhotoLoaderAdapter::releaseRegionSource() const
{
    std::shared_ptr<const LMImageSourceReader> gone;
    std::lock_guard lock(m_regionMutex);
    gone = std::move(m_regionSource); // a decode still running keeps its own reference
    m_regionSourceInfo.reset();
}
