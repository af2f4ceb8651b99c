#include "Model/LMPhotoLoader.h"

#include "Model/LMBitmap.h"
#include "Model/LMImageTools.h"
#include "Model/LMNavFileInfo.h"
#include "Model/LMReadFailure.h"

#include "MStream.h"
#include "MdAGIF.h"
#include "imageio/GifAnimation.h"
#include "MdBitmapLoad.h"
#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "foundation/FileNames.h"
#include "imageio/ImageLimits.h"
#include "imageio/ImageProperties.h"
#include "imageio/FileAccess.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>

namespace {

// The codec path reads files whole, as the image reader does; the same ceiling applies.
constexpr std::int64_t kMaxCodecFileBytes = std::int64_t(1) << 30;

// Every load answers nullptr rather than passing an exception on (out of memory included).
template <typename F>
auto guarded(F &&body) -> decltype(body())
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        qWarning() << "image load failed: out of memory";
        LMReadFailure::tell(QString(), QStringLiteral("there was not enough memory to read it"));
    } catch (const std::exception &e) {
        qWarning() << "image load failed:" << e.what();
    } catch (...) {
        qWarning() << "image load failed";
    }
    return {};
}

// One decode of a file at a time, and all decodes together within the process's budget. The
// reader that allocates the pixels reserves them, at the size it really decodes (a scaled decode
// its scaled size, a part its part), so the slot reserves nothing itself: it only refuses a
// picture that could never fit, before the file is read, and lets a cancelled load stop waiting
// for memory. Holding a reservation here as well would count every decode twice, refusing
// pictures near the limit and halving what decodes may take together.
// entered() is false when the wait was cancelled or the picture alone exceeds the budget.
class DecodeSlot {
public:
    DecodeSlot(const LMPathString &path, const QSizeF &pictureSize, const kpv::Operation *operation)
        : m_cancelScope([operation] { return operation && operation->isCancelled(); })
    {
        kpv::DecodeBudget &budget = kpv::DecodeBudget::shared();
        const auto cancelled = [operation] { return operation && operation->isCancelled(); };
        bool gotTurn = false;
        m_turn = budget.takeTurn(path.path(), cancelled, &gotTurn);
        if (!gotTurn)
            return;
        // Counted in floating point and saturated: a size read from the file must not wrap into a
        // small number (or convert out of range) and so slip under the budget.
        const double bytes = std::max(std::ceil(pictureSize.width()), 1.0) * std::max(std::ceil(pictureSize.height()), 1.0) * 4;
        const uint64_t frameBytes = bytes < 0x1p63 ? uint64_t(bytes) : UINT64_MAX;
        QString refused;
        m_entered = budget.fits(frameBytes, &refused);
        if (!m_entered) {
            qWarning().noquote() << kpv::displayFileName(path.path()) << refused;
            LMReadFailure::tell(path.path(), refused);
        }
    }
    bool entered() const { return m_entered; }

private:
    kpv::DecodeBudget::CancelScope m_cancelScope;
    kpv::DecodeBudget::FileTurn m_turn;
    bool m_entered = false;
};

bool isFiniteSize(const QSizeF &size)
{
    return std::isfinite(size.width()) && std::isfinite(size.height());
}

// The scaled-decode request for a wanted size: its longer side, kept within int.
int maxPixelSizeFor(const QSizeF &want)
{
    const double side = std::max(want.width(), want.height());
    if (!(side >= 1))
        return 0;
    return int(std::min(side, double(INT_MAX)));
}

// Whether the file changed on disk since its description was read: its pixels are then not
// loaded against that description. Said in the log, as every other refusal of a file is.
bool changedOnDisk(const LMFileImgBaseInfo &info)
{
    if (!info.fileModified())
        return false;
    qWarning().noquote() << kpv::displayFileName(info.filePath().path()) << "changed on disk since it was read: not loaded as read";
    LMReadFailure::tell(info.filePath().path(), QStringLiteral("another program changed it while it was read"));
    return true;
}

} // namespace

LMPhotoLoader::LMPhotoLoader(const QSizeF &mainScreenSize, std::shared_ptr<const LMImageSourceFactory> sources)
    : m_sizeForCheckLargeFitin(mainScreenSize.isValid() ? mainScreenSize : QSizeF(0, 0)),
      m_sources(sources ? std::move(sources) : LMImageSourceFactory::platform())
{
}

// ---- Base information ----

bool LMPhotoLoader::isRawFile(const LMPathString &path) const
{
    if (!m_infoProvider)
        return false;
    return kpv::ContentTypes::conformsTo(m_infoProvider->fileUTIByPath(path), kpv::ContentTypes::kCameraRaw);
}

// ---- One opening per load ----

namespace {
thread_local LMPhotoLoader::LoadScope *t_innermostScope = nullptr;
}

LMPhotoLoader::LoadScope::LoadScope(const LMPathString &path) : m_path(path), m_outer(t_innermostScope)
{
    t_innermostScope = this;
}

LMPhotoLoader::LoadScope::~LoadScope()
{
    t_innermostScope = m_outer;
}

LMPhotoLoader::LoadScope *LMPhotoLoader::LoadScope::current(const LMPathString &path)
{
    for (LoadScope *scope = t_innermostScope; scope; scope = scope->m_outer)
        if (scope->m_path == path)
            return scope;
    return nullptr;
}

LMImageSourceReader *LMPhotoLoader::LoadScope::reader(const LMImageSourceFactory &sources, bool *shared)
{
    if (!m_openedBy) {
        m_openedBy = &sources;
        m_reader = sources.createWithFile(m_path.path());
    }
    *shared = m_openedBy == &sources;
    return *shared ? m_reader.get() : nullptr;
}

LMImageSourceReader *LMPhotoLoader::OpenedFile::reader()
{
    if (!m_opened) {
        m_opened = true;
        bool shared = false;
        if (LoadScope *scope = LoadScope::current(m_path))
            m_shared = scope->reader(m_sources, &shared);
        if (!shared)
            m_reader = m_sources.createWithFile(m_path.path());
    }
    return m_shared ? m_shared : m_reader.get();
}

kpv::FileIdentity LMPhotoLoader::OpenedFile::identity()
{
    LMImageSourceReader *opened = reader();
    const std::shared_ptr<const kpv::FileContents> contents = opened ? opened->contents() : nullptr;
    return contents ? contents->identity() : kpv::FileIdentity();
}

LMFileImgBaseInfoPtr LMPhotoLoader::loadImgBaseInfo(const LMPathString &path, const kpv::Operation *operation) const
{
    OpenedFile file(*m_sources, path);
    return loadImgBaseInfo(path, operation, file);
}

LMFileImgBaseInfoPtr LMPhotoLoader::loadImgBaseInfo(const LMPathString &path, const kpv::Operation *operation,
                                                    OpenedFile &file) const
{
    const bool raw = isRawFile(path);
    LMFileImgBaseInfoPtr info = raw ? loadImgBaseInfoByAMCM(path, operation) : loadImgBaseInfoByCore(path, operation, file);
    if (!info && !isCancelled(operation))
        info = raw ? loadImgBaseInfoByCore(path, operation, file) : loadImgBaseInfoByAMCM(path, operation);
    return info;
}

LMFileImgBaseInfoPtr LMPhotoLoader::loadImgBaseInfoByCore(const LMPathString &path, const kpv::Operation *operation) const
{
    OpenedFile file(*m_sources, path);
    return loadImgBaseInfoByCore(path, operation, file);
}

LMFileImgBaseInfoPtr LMPhotoLoader::loadImgBaseInfoByCore(const LMPathString &path, const kpv::Operation *,
                                                          OpenedFile &file) const
{
    return guarded([&]() -> LMFileImgBaseInfoPtr {
        // The identity and date are those of the opened file, taken when it was opened, before any
        // of its bytes are read: a file rewritten meanwhile then shows up as changed, instead of
        // carrying the new date with the old contents. A reader that does not tell them has them
        // taken from the name, before the bytes are read, for the same reason.
        kpv::FileIdentity identity;
        QDateTime modified;
        if (file.identity().isValid()) {
            identity = file.identity();
            modified = QDateTime::fromMSecsSinceEpoch(kpv::fileTimeMsecs(identity.modifiedSecs, long(identity.modifiedNsec)));
        } else {
            modified = path.dateModified();
            identity = kpv::fileIdentity(path.path());
        }
        if (!modified.isValid())
            return nullptr;
        LMImageSourceReader *source = file.reader();
        if (!source)
            return nullptr;
        const QVariantMap properties = source->propertiesAtIndex(0);
        double width = properties.value(kpv::kCGImagePropertyPixelWidth).toDouble();
        double height = properties.value(kpv::kCGImagePropertyPixelHeight).toDouble();
        if (width == 0 && height == 0) {
            // The size only a decode tells.
            const QImage image = source->createImageAtIndex(0);
            width = image.width();
            height = image.height();
        }
        // A picture without pixels on either side cannot be shown, and every size computed from it
        // would divide by zero.
        if (!(width >= 1 && height >= 1) || !std::isfinite(width) || !std::isfinite(height))
            return nullptr;
        const int64_t orientation = properties.value(kpv::kCGImagePropertyOrientation, 0).toLongLong();
        const QString type = source->type();
        const uint64_t codecType = m_infoProvider ? m_infoProvider->imageTypeToAMCMType(type) : 0;
        return std::make_shared<const LMFileImgBaseInfo>(path, type, codecType, modified, QSizeF(width, height),
                                                         orientation, properties, identity);
    });
}

LMFileImgBaseInfoPtr LMPhotoLoader::loadImgBaseInfoByAMCM(const LMPathString &, const kpv::Operation *) const
{
    return nullptr;
}

LMImagePtr LMPhotoLoader::loadThumbByAMCM(const LMPathString &, const LMFileImgBaseInfoPtr &, const kpv::Operation *) const
{
    return nullptr;
}

// ---- Sizes ----

QSizeF LMPhotoLoader::imageSizeByScaleType(int imageScaleType, const LMFileImgBaseInfoPtr &imageBaseInfo)
{
    if (!imageBaseInfo || imageScaleType < 1 || imageScaleType > 7)
        return QSizeF(0, 0);
    const double f = double(1 << (imageScaleType - 1));
    const QSizeF raw = imageBaseInfo->rawFrameSize();
    return QSizeF(std::floor((raw.width() + f - 1) / f), std::floor((raw.height() + f - 1) / f));
}

int LMPhotoLoader::estimateImageScaleTypeNearSize(const QSizeF &size, const LMFileImgBaseInfoPtr &imageBaseInfo)
{
    if (!imageBaseInfo)
        return 0;
    const QSizeF raw = imageBaseInfo->rawFrameSize();
    const QSizeF fitted = LMImageTools::calcScalingSize(raw, size, LMImageTools::ScaleProportionallyDown);
    if (fitted.width() == 0 || !(raw.width() > 0))
        return 0;
    return LMNavFileInfo::estimateImageScaleTypeNearScale(fitted.width() / raw.width(), false);
}

QSizeF LMPhotoLoader::calcPreferredImageSizeForImageScaleType(int imageScaleType, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                                              int *equivalentImageType) const
{
    if (equivalentImageType)
        *equivalentImageType = 0;
    if (!imageBaseInfo || imageScaleType < 8 || imageScaleType > 11)
        return QSizeF(0, 0);
    const QSizeF raw = imageBaseInfo->rawFrameSize();
    const bool gif = imageBaseInfo->AMCMImageType() == kAMCMImageTypeGIF;
    // An animated picture is shown fitted from its full-size frames.
    if (gif && imageScaleType >= 10) {
        if (equivalentImageType)
            *equivalentImageType = 1;
        return raw;
    }
    QSizeF box(kLargeThumbBox, kLargeThumbBox);
    if (imageScaleType == 10)
        box = m_sizeForCheckSmallFitin;
    else if (imageScaleType == 11)
        box = m_sizeForCheckLargeFitin;
    int near = 0;
    if (!gif) {
        near = estimateImageScaleTypeNearSize(box, imageBaseInfo);
        if (equivalentImageType)
            *equivalentImageType = near;
        if (near >= 1 && near <= 7)
            return imageSizeByScaleType(near, imageBaseInfo);
    }
    const QSizeF fitted = LMImageTools::calcScalingSize(raw, box, LMImageTools::ScaleProportionallyDown);
    return QSizeF(std::floor(fitted.width()), std::floor(fitted.height()));
}

bool LMPhotoLoader::isSmallFitinTypeByCheckSize(const QSizeF &size) const
{
    if (size.width() == 0 && size.height() == 0)
        return true;
    // Without a screen the large box is empty and every large fit-in load would fail; the small box
    // is then the only one that serves.
    if (!(m_sizeForCheckLargeFitin.width() > 0 && m_sizeForCheckLargeFitin.height() > 0))
        return true;
    const double s = std::min(size.width() / m_sizeForCheckSmallFitin.width(),
                              size.height() / m_sizeForCheckSmallFitin.height());
    const double l = std::min(m_sizeForCheckLargeFitin.width() / size.width(),
                              m_sizeForCheckLargeFitin.height() / size.height());
    return l >= s;
}

bool LMPhotoLoader::hasAlphaByAMCMType(uint64_t AMCMImageType)
{
    return AMCMImageType != kAMCMImageTypeJPEG;
}

// ---- Loading ----

LMImagePtr LMPhotoLoader::loadImage(const LMPathString &path, int imageScaleType, LMFileImgBaseInfoPtr imageBaseInfo,
                                    const kpv::Operation *operation, int *equivalentImageType) const
{
    return loadImage(path, imageScaleType, std::move(imageBaseInfo), true, operation, equivalentImageType);
}

LMImagePtr LMPhotoLoader::loadImage(const LMPathString &path, int imageScaleType, LMFileImgBaseInfoPtr imageBaseInfo,
                                    bool multipleFramesFlag, const kpv::Operation *operation,
                                    int *equivalentImageType, const FramesSoFarSink &framesSoFar) const
{
    if (imageScaleType < LMNavFileInfo::kMinScaleType || imageScaleType > LMNavFileInfo::kMaxScaleType)
        return nullptr;
    OpenedFile file(*m_sources, path);
    if (!imageBaseInfo) {
        imageBaseInfo = loadImgBaseInfo(path, operation, file);
        if (!imageBaseInfo)
            return nullptr;
    } else if (changedOnDisk(*imageBaseInfo)) {
        return nullptr;
    }
    // No reader makes a side longer than an int holds: such a header is no picture to show.
    const QSizeF raw = imageBaseInfo->rawFrameSize();
    if (!(raw.width() <= INT_MAX && raw.height() <= INT_MAX))
        return nullptr;

    // Two loads of a file's large thumbnail at once (the small thumbnail's load makes it too) take
    // turns: the second then finds the first one's in the desktop's cache instead of decoding the
    // file again. The turn is held until the thumbnail is stored.
    kpv::DecodeBudget::FileTurn thumbnailTurn;
    if (imageScaleType == LMNavFileInfo::kLargeThumbType) {
        bool gotTurn = false;
        thumbnailTurn = kpv::DecodeBudget::shared().takeTurn(
            path.path(), [operation] { return isCancelled(operation); }, &gotTurn);
        if (!gotTurn)
            return nullptr;
        if (LMImagePtr stored = loadStoredLargeThumb(path, imageBaseInfo, operation, file)) {
            if (equivalentImageType)
                *equivalentImageType = 0;
            return stored;
        }
        if (isCancelled(operation))
            return nullptr;
    }

    if (imageScaleType == LMNavFileInfo::kSmallThumbType) {
        std::optional<DecodeSlot> slot(std::in_place, path, QSizeF(kSmallThumbMaxPixelSize, kSmallThumbMaxPixelSize),
                                       operation);
        if (!slot->entered())
            return nullptr;
        // The desktop's thumbnail of the file as this load opened it.
        LMImagePtr quick = guarded([&]() -> LMImagePtr {
            LMImageSourceReader *reader = file.reader();
            if (!reader)
                return loadThumbByQL(path, imageBaseInfo, operation, *m_sources);
            return createImageByImageRef(m_sources->thumbnail(path.path(), kSmallThumbMaxPixelSize, *reader,
                                                              int(imageBaseInfo->rawOrientation()),
                                                              imageBaseInfo->fileIdentity()),
                                         imageBaseInfo);
        });
        slot.reset();
        if (LMImagePtr thumb = quick) {
            if (changedOnDisk(*imageBaseInfo))
                return nullptr;
            if (equivalentImageType)
                *equivalentImageType = 0;
            return thumb;
        }
        if (isCancelled(operation))
            return nullptr;
        if (LMImagePtr thumb = loadThumbByAMCM(path, imageBaseInfo, operation)) {
            if (equivalentImageType)
                *equivalentImageType = 0;
            return thumb;
        }
        if (isCancelled(operation))
            return nullptr;
    }

    int equivalent = 0;
    QSizeF size;
    bool multiple = multipleFramesFlag;
    if (imageScaleType >= LMNavFileInfo::kSmallThumbType) {
        size = calcPreferredImageSizeForImageScaleType(imageScaleType, imageBaseInfo, &equivalent);
        multiple = multipleFramesFlag && imageScaleType >= 10;
    } else {
        size = imageSizeByScaleType(imageScaleType, imageBaseInfo);
    }
    if (size.width() < 1 || size.height() < 1)
        equivalent = 0;

    LMImagePtr image;
    if (imageScaleType == LMNavFileInfo::kSmallThumbType || imageScaleType == LMNavFileInfo::kLargeThumbType)
        image = loadJpegThumbnailByEighth(path, imageBaseInfo, size, operation, file);
    if (!image && !isCancelled(operation))
        image = loadImage(path, imageBaseInfo, size, multiple, operation, framesSoFar, file);
    if (image && equivalentImageType)
        *equivalentImageType = equivalent;
    // A large thumbnail decoded from the picture is kept in the desktop's thumbnail cache: the
    // next visit of the folder finds it there instead of decoding the file again.
    if (image && imageScaleType == LMNavFileInfo::kLargeThumbType && !isCancelled(operation))
        storeThumbnail(image);
    return image;
}

LMImagePtr LMPhotoLoader::loadJpegThumbnailByEighth(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                                    const QSizeF &size, const kpv::Operation *operation,
                                                    OpenedFile &file) const
{
    if (!imageBaseInfo || imageBaseInfo->AMCMImageType() != kAMCMImageTypeJPEG || !m_infoProvider)
        return nullptr;
    // The library's own decoder at an eighth reads only each block's average colour, and does so
    // sooner than the image reader's smallest scale; worth it when an eighth still covers the
    // thumbnail, that is for pictures eight times the thumbnail's size or more. A thumbnail half
    // the eighth or less (the cells of large photos) it makes at its own size, scaling the eighth
    // down itself: its chroma then needs only each block's average (at an eighth's own size it
    // takes a few coefficients of every chroma block, a third of the decode again). A larger one
    // needs that chroma anyway, and is made from the eighth with the resampling of any picture.
    const QSizeF raw = imageBaseInfo->rawFrameSize();
    const QSizeF eighth(std::ceil(raw.width() / 8), std::ceil(raw.height() / 8));
    if (!(size.width() >= 1 && size.height() >= 1) || eighth.width() < size.width() || eighth.height() < size.height())
        return nullptr;
    // The image reader's own checks hold on this road too: a file far too short for its frame
    // is left to the reader, which refuses it, and so is a progressive file, whose decode holds
    // the coefficients of the whole picture (the reader charges them to the budget).
    const QVariantMap jfif = imageBaseInfo->properties().value(QLatin1String(kpv::kCGImagePropertyJFIFDictionary)).toMap();
    if (jfif.value(QLatin1String(kpv::kCGImagePropertyJFIFIsProgressive)).toBool() ||
        !kpv::ImageLimits::jpegFileCanHold(uint64_t(std::max<int64_t>(imageBaseInfo->fileIdentity().size, 0)),
                                            uint64_t(raw.width()), uint64_t(raw.height())))
        return nullptr;
    const bool direct = size.width() * 2 <= eighth.width() && size.height() * 2 <= eighth.height();
    const QSizeF decodeSize = direct ? size : eighth;
    std::optional<DecodeSlot> slot(std::in_place, path, decodeSize, operation);
    if (!slot->entered())
        return nullptr;
    // The frame this road allocates is charged to the budget for as long as it decodes, as a
    // reader charges its own.
    QString refused;
    kpv::DecodeBudget::Reservation frame =
        kpv::DecodeBudget::shared().reserve(uint64_t(decodeSize.width()) * uint64_t(decodeSize.height()) * 4, &refused);
    if (!frame.isValid())
        return nullptr;
    // The file as the image reader opened it, when it did: taken from the disk once.
    LMImageSourceReader *reader = file.reader();
    LMImagePtr decoded = loadImageByAMCM(path, imageBaseInfo, decodeSize, false, operation,
                                         reader ? reader->contents() : nullptr);
    frame.release();
    slot.reset();
    if (!decoded || isCancelled(operation) || changedOnDisk(*imageBaseInfo))
        return nullptr;
    return decodeSize == size ? decoded : resizeImage(decoded, size, operation);
}

void LMPhotoLoader::storeThumbnail(const LMImagePtr &thumbnail) const
{
    const LMFileImgBaseInfoPtr info = thumbnail ? thumbnail->originalImgBaseInfo() : nullptr;
    if (!info || !info->fileIdentity().isValid() || info->fileModified())
        return;
    guarded([&] {
        m_sources->storeThumbnail(info->filePath().path(), thumbnail->convertToImage(), int(info->rawOrientation()),
                                  qint64(info->fileIdentity().modifiedSecs), info->fileIdentity().size);
        return 0;
    });
}

LMImagePtr LMPhotoLoader::loadImage(const LMPathString &path, LMFileImgBaseInfoPtr imageBaseInfo,
                                    const QSizeF &wantImageSize, bool multipleFramesFlag,
                                    const kpv::Operation *operation, const FramesSoFarSink &framesSoFar) const
{
    OpenedFile file(*m_sources, path);
    return loadImage(path, std::move(imageBaseInfo), wantImageSize, multipleFramesFlag, operation, framesSoFar, file);
}

LMImagePtr LMPhotoLoader::loadImage(const LMPathString &path, LMFileImgBaseInfoPtr imageBaseInfo,
                                    const QSizeF &wantImageSize, bool multipleFramesFlag,
                                    const kpv::Operation *operation, const FramesSoFarSink &framesSoFar,
                                    OpenedFile &file) const
{
    if (imageBaseInfo) {
        if (changedOnDisk(*imageBaseInfo))
            return nullptr;
    } else {
        imageBaseInfo = loadImgBaseInfo(path, operation, file);
        if (!imageBaseInfo)
            return nullptr;
    }
    const QSizeF raw = imageBaseInfo->rawFrameSize();
    if (!isFiniteSize(wantImageSize) || !(raw.width() >= 1 && raw.height() >= 1))
        return nullptr;
    // No reader makes a side longer than an int holds: such a header is no picture to show.
    if (!(raw.width() <= INT_MAX && raw.height() <= INT_MAX))
        return nullptr;

    QSizeF decodeSize = wantImageSize;
    const bool resizeAfter = wantImageSize.width() < 1 || wantImageSize.height() < 1;
    if (resizeAfter) {
        decodeSize = wantImageSize.width() < 1 ? QSizeF(1, raw.height() / raw.width())
                                               : QSizeF(raw.width() / raw.height(), 1);
    }
    if (isCancelled(operation))
        return nullptr;
    const bool fullSize = (decodeSize.width() == 0 && decodeSize.height() == 0) || decodeSize == raw;
    const DecodeSlot slot(path, fullSize ? raw : decodeSize, operation);
    if (!slot.entered())
        return nullptr;
    LMImagePtr image = guarded([&] { return loadImageByCore(file.reader(), path, imageBaseInfo, decodeSize,
                                                            multipleFramesFlag, operation, framesSoFar); });
    if (!image || isCancelled(operation))
        return nullptr;
    // A file rewritten while it was decoded may no longer match its base information (its size
    // among it): drop the pixels rather than pair them with the wrong description.
    if (changedOnDisk(*imageBaseInfo))
        return nullptr;
    return resizeAfter ? resizeImage(image, wantImageSize, operation) : image;
}

LMImagePtr LMPhotoLoader::loadImageByCore(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                          const QSizeF &wantImageSize, bool multipleFramesFlag,
                                          const kpv::Operation *operation, const LMImageSourceFactory &sources,
                                          const FramesSoFarSink &framesSoFar)
{
    return guarded([&]() -> LMImagePtr {
        const std::unique_ptr<LMImageSourceReader> source =
            imageBaseInfo && isFiniteSize(wantImageSize) ? sources.createWithFile(path.path()) : nullptr;
        return loadImageByCore(source.get(), path, imageBaseInfo, wantImageSize, multipleFramesFlag, operation,
                               framesSoFar);
    });
}

LMImagePtr LMPhotoLoader::loadImageByCore(LMImageSourceReader *source, const LMPathString &path,
                                          const LMFileImgBaseInfoPtr &imageBaseInfo, const QSizeF &wantImageSize,
                                          bool multipleFramesFlag, const kpv::Operation *operation,
                                          const FramesSoFarSink &framesSoFar)
{
    if (!source || !imageBaseInfo || !isFiniteSize(wantImageSize))
        return nullptr;
    return guarded([&]() -> LMImagePtr {
        const QSizeF raw = imageBaseInfo->rawFrameSize();
        const bool full = (wantImageSize.width() == 0 && wantImageSize.height() == 0) || wantImageSize == raw;
        const int maxPixelSize = full ? 0 : maxPixelSizeFor(wantImageSize);
        if (!full && maxPixelSize < 1)
            return nullptr;

        int frames = 1;
        if (imageBaseInfo->AMCMImageType() == kAMCMImageTypeGIF && full && multipleFramesFlag) {
            frames = source->count();
            if (frames > 1) {
                if (LMImagePtr animated = loadAnimation(*source, imageBaseInfo, operation))
                    return animated;
                if (isCancelled(operation))
                    return nullptr;
                // All frames of an animation are held at once: a small file may claim thousands of
                // large frames, so the total is checked before anything is decoded.
                const auto width = uint64_t(raw.width()), height = uint64_t(raw.height());
                if (!kpv::ImageLimits::frameAllowed(width, height))
                    return nullptr;
                const uint64_t frameBytes = width * height * 4;
                if (uint64_t(frames) > kpv::ImageLimits::kMaxDecodedBytes / frameBytes) {
                    qWarning().noquote() << kpv::displayFileName(path.path()) << "has too many frames to decode:" << frames;
                    LMReadFailure::tell(path.path(), QStringLiteral("its %1 frames together exceed the size limit").arg(frames));
                    return nullptr;
                }
            }
        }

        QList<std::shared_ptr<LMBitmap>> bitmaps;
        for (int index = 0; index < frames; ++index) {
            const QImage picture =
                full ? source->createImageAtIndex(index) : source->createThumbnailAtIndex(index, maxPixelSize, true);
            if (!picture.isNull()) {
                std::shared_ptr<LMBitmap> bitmap = LMImage::createImageBitmapByImageRef(picture, imageBaseInfo);
                // Frames share one layout; a frame of another size would be read past its end.
                if (bitmap && (bitmaps.isEmpty() || (bitmap->width() == bitmaps.first()->width() &&
                                                     bitmap->height() == bitmaps.first()->height())))
                    bitmaps.append(bitmap);
            }
            // The frames decoded so far are shown while the others decode, told each time their
            // count doubles; those of a file changed meanwhile are not.
            const qsizetype count = bitmaps.size();
            if (framesSoFar && count == index + 1 && count < frames && (count & (count - 1)) == 0 &&
                !isCancelled(operation) && !imageBaseInfo->fileModified()) {
                auto partial = std::make_shared<const LMImage>(bitmaps, imageBaseInfo);
                if (!partial->frameDatas().isEmpty())
                    framesSoFar(partial);
            }
            if (isCancelled(operation))
                break;
        }
        if (isCancelled(operation) || bitmaps.isEmpty())
            return nullptr;
        auto image = std::make_shared<const LMImage>(bitmaps, imageBaseInfo);
        if (image->frameDatas().isEmpty())
            return nullptr;
        return image;
    });
}

LMImagePtr LMPhotoLoader::loadAnimation(const LMImageSourceReader &source, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                        const kpv::Operation *operation)
{
    // The frames are read as the file's colour indexes, all at once (no colour is made yet), and
    // composed as they come on screen; the first is decoded whole, as every consumer of the
    // picture reads it.
    std::shared_ptr<const kpv::GifAnimation> animation = source.createAnimation();
    if (!animation || animation->frameCount() < 2 || isCancelled(operation))
        return nullptr;
    const QImage first = source.createImageAtIndex(0);
    std::shared_ptr<LMBitmap> bitmap = first.isNull() ? nullptr : LMImage::createImageBitmapByImageRef(first, imageBaseInfo);
    if (!bitmap || isCancelled(operation))
        return nullptr;
    auto image = std::make_shared<LMImage>(QList<std::shared_ptr<LMBitmap>>{bitmap}, imageBaseInfo);
    if (image->frameDatas().isEmpty() || !image->setAnimation(std::move(animation)))
        return nullptr;
    return image;
}

LMImagePtr LMPhotoLoader::loadThumbByQL(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                        const kpv::Operation *, const LMImageSourceFactory &sources)
{
    if (!imageBaseInfo)
        return nullptr;
    return guarded([&]() -> LMImagePtr {
        return createImageByImageRef(sources.thumbnail(path.path(), kSmallThumbMaxPixelSize), imageBaseInfo);
    });
}

LMImagePtr LMPhotoLoader::loadStoredSmallThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                               const kpv::Operation *operation, bool inFileOnly) const
{
    if (!imageBaseInfo || changedOnDisk(*imageBaseInfo) || isCancelled(operation))
        return nullptr;
    LMImagePtr thumb = guarded([&]() -> LMImagePtr {
        // The cache's picture turned by the orientation already known, or the one in the file.
        QImage stored = inFileOnly ? QImage()
                                   : m_sources->cachedThumbnail(path.path(), kSmallThumbMaxPixelSize,
                                                                int(imageBaseInfo->rawOrientation()),
                                                                imageBaseInfo->fileIdentity());
        if (stored.isNull() && !isCancelled(operation)) {
            OpenedFile file(*m_sources, path);
            if (LMImageSourceReader *reader = file.reader())
                stored = reader->createThumbnailAtIndex(0, kSmallThumbMaxPixelSize, false);
        }
        return createImageByImageRef(stored, imageBaseInfo);
    });
    return thumb && !changedOnDisk(*imageBaseInfo) ? thumb : nullptr;
}

LMImagePtr LMPhotoLoader::loadStoredLargeThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                               const kpv::Operation *operation) const
{
    OpenedFile file(*m_sources, path);
    return loadStoredLargeThumb(path, imageBaseInfo, operation, file);
}

LMImagePtr LMPhotoLoader::loadStoredLargeThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                               const kpv::Operation *operation, OpenedFile &file) const
{
    // A large thumbnail kept in the desktop's cache (ours of a former visit among them), or stored
    // in the file, is served as it is when it has the large thumbnail's size: no decode.
    if (!imageBaseInfo || imageBaseInfo->AMCMImageType() == kAMCMImageTypeGIF || changedOnDisk(*imageBaseInfo) ||
        isCancelled(operation))
        return nullptr;
    const QSizeF raw = imageBaseInfo->rawFrameSize();
    const double wanted = std::min(kLargeThumbBox, std::max(raw.width(), raw.height()));
    const auto bigEnough = [wanted](const QImage &picture) {
        return std::max(picture.width(), picture.height()) >= wanted;
    };
    LMImagePtr stored = guarded([&]() -> LMImagePtr {
        QImage picture = m_sources->cachedThumbnail(path.path(), int(kLargeThumbBox), int(imageBaseInfo->rawOrientation()),
                                                    imageBaseInfo->fileIdentity());
        if (!bigEnough(picture) && !isCancelled(operation))
            if (LMImageSourceReader *reader = file.reader())
                picture = reader->createThumbnailAtIndex(0, int(kLargeThumbBox), false);
        return bigEnough(picture) ? createImageByImageRef(picture, imageBaseInfo) : nullptr;
    });
    return stored && !changedOnDisk(*imageBaseInfo) ? stored : nullptr;
}

LMImagePtr LMPhotoLoader::loadThumbByCore(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                          const kpv::Operation *operation, const LMImageSourceFactory &sources)
{
    if (!imageBaseInfo)
        return nullptr;
    return guarded([&]() -> LMImagePtr {
        std::unique_ptr<LMImageSourceReader> source = sources.createWithFile(path.path());
        if (!source)
            return nullptr;
        QImage thumb = source->createThumbnailAtIndex(0, int(kLargeThumbBox), false);
        if (thumb.isNull())
            return nullptr;
        const QSizeF raw = imageBaseInfo->rawFrameSize();
        if (raw.width() != raw.height()) {
            if (isCancelled(operation))
                return nullptr;
            const bool thumbLandscape = thumb.width() > thumb.height();
            const bool rawLandscape = raw.width() > raw.height();
            // A stored thumbnail of the other shape was made upright by the camera: turn it back
            // to the raw frame's shape.
            if (thumb.width() != thumb.height() && thumbLandscape != rawLandscape) {
                int64_t angle = LMFileImgBaseInfo::angleByOrientation(imageBaseInfo->rawOrientation());
                if (angle == 0)
                    angle = 270;
                thumb = LMImageTools::imageRotatedByAngle(thumb, int(angle));
                if (thumb.isNull())
                    return nullptr;
            }
        }
        return createImageByImageRef(thumb, imageBaseInfo);
    });
}

LMImagePtr LMPhotoLoader::createImageByImageRef(const QImage &image, const LMFileImgBaseInfoPtr &imageBaseInfo)
{
    if (image.isNull() || !imageBaseInfo)
        return nullptr;
    auto result = std::make_shared<const LMImage>(image, imageBaseInfo);
    return result->frameDatas().isEmpty() ? nullptr : result;
}

// ---- Resizing ----

LMImagePtr LMPhotoLoader::resizeImage(const LMImagePtr &image, const QSizeF &toSize, const kpv::Operation *operation) const
{
    if (!image || (toSize.width() == 0 && toSize.height() == 0) || !isFiniteSize(toSize))
        return nullptr;
    const LMFileImgBaseInfoPtr &info = image->originalImgBaseInfo();
    if (!info || info->fileModified())
        return nullptr;
    const double w = std::max(1.0, toSize.width()), h = std::max(1.0, toSize.height());
    // Checked as doubles first: a huge side must not overflow the integer conversion.
    const double limit = double(kpv::ImageLimits::kMaxPixelsPerFrame);
    if (w > limit || h > limit || !kpv::ImageLimits::frameAllowed(uint64_t(w), uint64_t(h))) {
        qWarning() << "resize target too large:" << toSize;
        return nullptr;
    }
    const auto width = int64_t(w), height = int64_t(h);

    return guarded([&]() -> LMImagePtr {
        std::shared_ptr<LMBitmap> source = image->preferredBitmap();
        AMCMHandle manager = (source && m_infoProvider) ? m_infoProvider->currentTheadAMCMHandle() : nullptr;
        // Without a component manager the codec library cannot run: resize through the platform.
        if (source && manager) {
            if (isCancelled(operation))
                return nullptr;
            std::shared_ptr<LMBitmap> target =
                LMBitmap::initEmptyBitmapWithPixelArrayFormat(source->bitmap()->dwPixelArrayFormat, width, height);
            if (!target || !target->isValid())
                return nullptr;
            if (MdBitmapResample(manager, source->bitmap(), target->bitmap()) != 0)
                return nullptr;
            auto result = std::make_shared<const LMImage>(QList<std::shared_ptr<LMBitmap>>{target}, info);
            return result->frameDatas().isEmpty() ? nullptr : result;
        }
        const QImage picture = image->convertToImage();
        if (picture.isNull() || isCancelled(operation))
            return nullptr;
        const QImage scaled = LMImageTools::convertImage(picture, 0, QSizeF(double(width), double(height)));
        if (scaled.isNull() || isCancelled(operation))
            return nullptr;
        return createImageByImageRef(scaled, info);
    });
}

// ---- Codec-library path ----

const uint8_t *LMPhotoLoader::preMtTable() const
{
    std::call_once(m_preMtTableOnce, [this] {
        auto table = std::make_unique<uint8_t[]>(256 * 256);
        for (int a = 0; a < 256; ++a)
            for (int c = 0; c < 256; ++c)
                table[size_t(a) * 256 + size_t(c)] = uint8_t((a * c + 127) / 255);
        m_preMtTable = std::move(table);
    });
    return m_preMtTable.get();
}

void LMPhotoLoader::premultiplyAlpha(MBITMAP *bitmap) const
{
    if (!bitmap || bitmap->dwPixelArrayFormat != LMBitmap::kPixelArrayFormatRGBA || bitmap->lHeight < 1 ||
        !bitmap->pPlane[0] || bitmap->lPitch[0] < 4)
        return;
    const uint8_t *table = preMtTable();
    const auto pitch = size_t(bitmap->lPitch[0]);
    const size_t pixelsPerRow = pitch / 4;
    for (int64_t y = 0; y < bitmap->lHeight; ++y) {
        uint8_t *p = bitmap->pPlane[0] + size_t(y) * pitch;
        for (size_t x = 0; x < pixelsPerRow; ++x, p += 4) {
            const uint8_t *row = table + size_t(p[3]) * 256;
            p[0] = row[p[0]];
            p[1] = row[p[1]];
            p[2] = row[p[2]];
        }
    }
}

LMImagePtr LMPhotoLoader::loadImageByAMCM(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                          const QSizeF &wantImageSize, bool multipleFramesFlag,
                                          const kpv::Operation *operation) const
{
    return loadImageByAMCM(path, imageBaseInfo, wantImageSize, multipleFramesFlag, operation, nullptr);
}

LMImagePtr LMPhotoLoader::loadImageByAMCM(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                          const QSizeF &wantImageSize, bool multipleFramesFlag,
                                          const kpv::Operation *operation,
                                          std::shared_ptr<const kpv::FileContents> contents) const
{
    if (!imageBaseInfo)
        return nullptr;
    AMCMHandle manager = m_infoProvider ? m_infoProvider->currentTheadAMCMHandle() : nullptr;
    if (!manager)
        return nullptr;
    const QSizeF raw = imageBaseInfo->rawFrameSize();
    const QSizeF size = (wantImageSize.width() == 0 && wantImageSize.height() == 0) ? raw : wantImageSize;
    if (!isFiniteSize(size) || size.width() < 1 || size.height() < 1 ||
        size.width() > double(kpv::ImageLimits::kMaxPixelsPerFrame) ||
        size.height() > double(kpv::ImageLimits::kMaxPixelsPerFrame))
        return nullptr;
    const auto width = int64_t(size.width()), height = int64_t(size.height());
    if (!kpv::ImageLimits::frameAllowed(uint64_t(width), uint64_t(height)))
        return nullptr;

    return guarded([&]() -> LMImagePtr {
        // A large file is mapped rather than copied: a scaled decode reads no more of it than the
        // decoder needs. The stream only reads the bytes.
        if (!contents)
            contents = kpv::FileContents::open(path.path(), kMaxCodecFileBytes);
        if (!contents || contents->size() == 0)
            return nullptr;
        contents->willReadAll();
        MSTREAM stream = MStreamOpenFromMemoryBlock(const_cast<char *>(contents->bytes().constData()),
                                                    MInt64(contents->size()));
        if (!stream)
            return nullptr;
        AGIFDecodeHandle gif = nullptr;
        // The decoder and the stream are released on every way out.
        struct Release {
            MSTREAM &stream;
            AGIFDecodeHandle &gif;
            ~Release()
            {
                MdUtilsAGIFDecode_Destroy(gif);
                MStreamClose(stream);
            }
        } release{stream, gif};

        QList<std::shared_ptr<LMBitmap>> bitmaps;
        const uint64_t type = imageBaseInfo->AMCMImageType();
        if (type == kAMCMImageTypeGIF && size == raw && multipleFramesFlag) {
            MInt64 wanted[2] = {width, height}, frames = 0;
            if (MdUtilsAGIFDecode_Create(manager, stream, LMBitmap::kPixelArrayFormatRGBA, wanted, &frames, &gif) != 0 || !gif ||
                frames < 1)
                return nullptr;
            // Every frame is held at once: the total is checked before anything is decoded.
            const uint64_t frameBytes = uint64_t(width) * uint64_t(height) * 4;
            if (uint64_t(frames) > kpv::ImageLimits::kMaxDecodedBytes / frameBytes)
                return nullptr;
            for (MInt64 i = 0; i < frames && !isCancelled(operation); ++i) {
                std::shared_ptr<LMBitmap> frame =
                    LMBitmap::initEmptyBitmapWithPixelArrayFormat(LMBitmap::kPixelArrayFormatRGBA, width, height);
                if (!frame || !frame->isValid())
                    return nullptr;
                // Each frame starts from the one before it, as the animation shows it.
                if (!bitmaps.isEmpty())
                    std::memcpy(frame->bitmap()->pPlane[0], bitmaps.last()->bitmap()->pPlane[0],
                                size_t(frame->bitmap()->lPitch[0] * height));
                if (MdUtilsAGIFDecode_DecodeFrame(gif, frame->bitmap()) != 0)
                    return nullptr;
                bitmaps.append(frame);
            }
            for (const auto &frame : bitmaps)
                premultiplyAlpha(frame->bitmap());
        } else {
            std::shared_ptr<LMBitmap> bitmap = LMBitmap::initEmptyBitmapWithPixelArrayFormat(LMBitmap::kPixelArrayFormatRGBA, width, height);
            if (!bitmap || !bitmap->isValid())
                return nullptr;
            // Between bands of rows the decoder asks whether the load was cancelled (the user
            // stepped past the photo), and stops with no picture when it was.
            const auto cancelled = [](MInt32, MVoid *user) -> MInt32 {
                const auto *op = static_cast<const kpv::Operation *>(user);
                return (op && op->isCancelled()) || kpv::DecodeBudget::cancelRequested() ? 1 : 0;
            };
            if (MdBitmapLoadWithProgress(manager, stream, MInt64(type), bitmap->bitmap(), 255, cancelled,
                                         const_cast<kpv::Operation *>(operation)) != 0)
                return nullptr;
            if (hasAlphaByAMCMType(type))
                premultiplyAlpha(bitmap->bitmap());
            bitmaps.append(bitmap);
        }
        // Bytes of a file another program cut short meanwhile are not the file's.
        if (isCancelled(operation) || contents->wasCutShort())
            return nullptr;
        auto result = std::make_shared<const LMImage>(bitmaps, imageBaseInfo);
        return result->frameDatas().isEmpty() ? nullptr : result;
    });
}
