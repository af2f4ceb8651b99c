#include "Edit/CropSaveWorker.h"

#include "Edit/EditFileTools.h"
#include "Model/LMImage.h"
#include "Model/LMImageTools.h"
#include "Model/LMPathTools.h"
#include "Model/LMPhotoLoader.h"
#include "Model/LMSaveStages.h"

#include "foundation/Operation.h"
#include "imageio/DecodeBudget.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageDestination.h"

#include <QTransform>

#include <cmath>
#include <optional>

namespace {
bool cancelled(const kpv::Operation *op) { return op && op->isCancelled(); }

// Whether the file at `path` is still the photo the record read: the same file, not rewritten.
bool sourceFileStillAsRead(const LMNavFileInfoPtr &record, const QString &path)
{
    const kpv::FileIdentity now = kpv::fileIdentity(path);
    if (!now.isValid())
        return false;
    if (!record)
        return true;
    // The identity of the decode the crop was cut from, else that of the record's information.
    LMFileImgBaseInfoPtr read;
    if (const LMImagePtr original = record->imageByType(1))
        read = original->originalImgBaseInfo();
    if (!read || !read->fileIdentity().isValid())
        read = record->imgBaseInfo();
    return !read || !read->fileIdentity().isValid() || read->fileIdentity() == now;
}

// The part of the file's stored picture under the raw crop rectangle, as the decoded picture is
// cut: the rectangle within the frame, its corner and size truncated. Empty when nothing is left.
QRect storedPart(const QRectF &rect, const QSizeF &frame)
{
    if (!std::isfinite(rect.x()) || !std::isfinite(rect.y()) || !std::isfinite(rect.width()) || !std::isfinite(rect.height()))
        return {};
    const QRectF cut = rect.intersected(QRectF(QPointF(0, 0), frame));
    if (cut.isEmpty() || int(cut.width()) <= 0 || int(cut.height()) <= 0)
        return {};
    return QRect(int(cut.x()), int(cut.y()), int(cut.width()), int(cut.height()));
}

// The crop read from the file's own 16-bit samples, turned as cropImage turns the decoded pixels:
// the file's orientation, then the view's quarter turns and flips. Null for a turn by another angle.
QImage turnedSixteenBitCrop(QImage part, const LMFileImgBaseInfoPtr &info, const LMImageRotateAngle &viewAngle)
{
    if (info)
        part = LMImage::uprightImage(part, *info);
    if (!part.isNull() && viewAngle.isRotatedOrFlipped()) {
        const double angle = viewAngle.angleRotate();
        if (std::fmod(angle, 90.0) != 0.0)
            return {};
        if (angle != 0.0)
            part = part.transformed(QTransform().rotate(angle));
        part = part.mirrored(viewAngle.isHorizontalFlipped(), viewAngle.isVerticalFlipped());
    }
    return part;
}

// The turn of turnedSixteenBitCrop as one of the eight turns of whole pixels; none for another angle.
std::optional<kpv::LosslessTransform> sixteenBitCropTurn(const LMFileImgBaseInfoPtr &info,
                                                         const LMImageRotateAngle &viewAngle)
{
    // A 3 x 2 probe whose pixels all differ goes the way the crop goes.
    QImage probe(3, 2, QImage::Format_RGBA64);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            probe.setPixel(x, y, qRgb(40 * x + 10, 100 * y + 20, 7));
    const QImage turned = turnedSixteenBitCrop(probe, info, viewAngle);
    using T = kpv::LosslessTransform;
    for (T t : {T::None, T::FlipHorizontal, T::FlipVertical, T::Rotate90, T::Rotate180, T::Rotate270, T::Transpose,
                T::Transverse})
        if (!turned.isNull() && kpv::ImageDestination::transformed(probe, t) == turned)
            return t;
    return std::nullopt;
}

// The crop's own base information: its pixel size, the source's properties marked upright.
LMFileImgBaseInfoPtr memoryInfoFor(const QSizeF &size, const LMFileImgBaseInfoPtr &source)
{
    const auto props = LMImageTools::createPropertiesFrom(source ? source->properties() : QVariantMap(), 1);
    return LMFileImgBaseInfo::createMemoryFileImgBaseInfoWithRawFrameSize(size, props.value_or(QVariantMap()));
}
} // namespace

QString CropSaveWorker::temporaryCropFilePath(const QString &folder, const QString &sourceFileName)
{
    const QString name = EditFileTools::fileNameWithoutExtension(sourceFileName) + QStringLiteral(".jpg");
    return LMPathTools::writableFilePathInDirectory(folder, name);
}

LMImagePtr CropSaveWorker::cropImage(const LMNavFileInfoPtr &record, const LMImageRotateAngle &angle,
                                     const QRectF &rect, const kpv::Operation *operation, const LoadRelay &relay,
                                     QImage *platformImage, QString *error) const
{
    if (!record || rect.width() <= 0 || rect.height() <= 0)
        return nullptr;
    bool failed = false;
    LMImagePtr source = record->imageByType(1, &failed);
    if (!source && !failed) {
        int equivalent = 0;
        source = m_loader.loadImage(record->filePath(), 1, record->imgBaseInfo(), operation, &equivalent);
        if (relay) {
            QVariantMap result{{QStringLiteral("filePath"), QVariant::fromValue(record->filePath())},
                               {QStringLiteral("result"), source ? 0 : (cancelled(operation) ? -2 : -1)},
                               {QStringLiteral("ImageScaleType"), 1}};
            if (source) {
                result.insert(QStringLiteral("image"), QVariant::fromValue(source));
                result.insert(QStringLiteral("equivalentImageScaleType"), equivalent);
            }
            relay(result);
        }
    }
    if (!source && cancelled(operation))
        return nullptr;
    const LMFileImgBaseInfoPtr sourceInfo = source && source->originalImgBaseInfo() ? source->originalImgBaseInfo()
                                                                                    : record->imgBaseInfo();
    const bool fileTurned = sourceInfo && (sourceInfo->orientationAngle() != 0 || sourceInfo->isOrientationMirrored());
    const LMImageRotateAngle viewAngle = angle.normalizeAngle();

    if (source && QSizeF(double(source->width()), double(source->height())) == rect.size() &&
        rect.topLeft() == QPointF(0, 0) && !fileTurned && !viewAngle.isRotatedOrFlipped()) {
        // The whole image: share its pixels under the crop's own information.
        auto whole = std::make_shared<LMImage>(*source);
        whole->setOriginalImgBaseInfo(memoryInfoFor(rect.size(), sourceInfo));
        return whole;
    }
    // Without the full-size picture (more than decodes may hold at once) the part the user chose
    // is read alone: a crop that fits is made all the same.
    QImage cut = source ? source->cropImage(rect) : readRawPart(record, sourceInfo, rect, operation, error);
    if (cut.isNull() || cancelled(operation))
        return nullptr;
    // The pixels the user saw: the file's orientation (a mirror included), then the view's turn
    // and flips, in the order the crop page draws them.
    if (sourceInfo)
        cut = LMImage::uprightImage(cut, *sourceInfo);
    if (!cut.isNull() && viewAngle.isRotatedOrFlipped())
        cut = LMImageTools::imageRotatedByAngle(cut, viewAngle);
    if (cut.isNull())
        return nullptr;
    auto crop = std::make_shared<LMImage>(cut, memoryInfoFor(QSizeF(cut.size()), sourceInfo));
    if (crop->width() == 0)
        return nullptr;
    if (platformImage)
        *platformImage = cut;
    return crop;
}

QImage CropSaveWorker::readRawPart(const LMNavFileInfoPtr &record, const LMFileImgBaseInfoPtr &info,
                                   const QRectF &rawRect, const kpv::Operation *operation, QString *error) const
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return QImage();
    };
    if (!info || info->filePath().isMemoryFilePathString())
        return fail(QStringLiteral("its full-size picture could not be read"));
    // As the decoded picture is cut: the rectangle within the frame, its corner and size truncated.
    if (!std::isfinite(rawRect.x()) || !std::isfinite(rawRect.y()) || !std::isfinite(rawRect.width()) ||
        !std::isfinite(rawRect.height()))
        return {};
    const QRectF within = rawRect.intersected(info->rawFrameRect());
    if (within.isEmpty() || int(within.width()) <= 0 || int(within.height()) <= 0)
        return {};
    const QRect part(int(within.x()), int(within.y()), int(within.width()), int(within.height()));
    // A part more than decodes may hold is told before the file is opened.
    QString refused;
    if (!kpv::DecodeBudget::shared().fits(uint64_t(part.width()) * uint64_t(part.height()) * 4, &refused))
        return fail(QStringLiteral("the cropped part of %1 x %2 pixels is too large: %3")
                        .arg(part.width())
                        .arg(part.height())
                        .arg(refused));
    if (info->fileModified())
        return fail(QStringLiteral("the file was changed or removed since it was opened"));
    const std::unique_ptr<LMImageSourceReader> reader = m_loader.sources().createWithFile(record->filePath().path());
    if (!reader)
        return fail(QStringLiteral("the file could not be opened"));
    // A cancelled save stops waiting for memory other decodes hold.
    const kpv::DecodeBudget::CancelScope stopWaiting([operation] { return cancelled(operation); });
    const QImage pixels = reader->createImageInRect(0, part, 1);
    if (cancelled(operation))
        return {};
    // Bytes read while another program rewrote the file would not be the photo that was opened.
    if (info->fileModified())
        return fail(QStringLiteral("the file was changed or removed since it was opened"));
    if (pixels.isNull())
        return fail(QStringLiteral("the chosen part of %1 x %2 pixels could not be read")
                        .arg(part.width())
                        .arg(part.height()));
    // In the pixel format the decoded picture has, so the crop is the same either way.
    const LMImagePtr image = LMPhotoLoader::createImageByImageRef(pixels, info);
    return image ? image->convertToImage() : fail(QStringLiteral("out of memory for the cropped part"));
}

CropSaveWorker::Result CropSaveWorker::beginSaveCropImageOnThread(
    const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &angleRotate, const std::optional<LMPathString> &toFile,
    const std::optional<QVariantMap> &saveParameters, int actionType, const LMImagePtr &alreadyCropped,
    const QRectF &rawRect, const kpv::Operation *operation, const LoadRelay &relay) const
{
    Result r;
    if (toFile && !toFile->isEmpty() && actionType != Preview)
        LMSaveStages::reach(LMSaveStages::Preparing, toFile->path());
    auto fail = [&]() {
        r.code = cancelled(operation) ? kCancelled : kFailed;
        return r;
    };
    auto written = [&]() {
        LMSaveStages::reach(LMSaveStages::Replaced, toFile->path());
        if (actionType == Favorite)
            r.thumb = m_loader.loadImage(*toFile, 8, nullptr, operation);
        r.code = kDone;
        return r;
    };
    QImage picture;
    r.croppedImage = alreadyCropped ? alreadyCropped
                                    : cropImage(fileInfo, angleRotate, rawRect, operation, relay, &picture, &r.error);
    if (!r.croppedImage)
        return fail();
    if (cancelled(operation)) {
        r.code = kCancelled;
        return r;
    }
    if (actionType == Preview) {
        r.code = kDone;
        return r;
    }
    if (!toFile || toFile->isEmpty())
        return fail();
    r.fileExisted = EditFileTools::itemExistsAtPath(toFile->path());
    if (picture.isNull()) {
        picture = r.croppedImage->convertToImage();
        if (cancelled(operation))
            return fail();
    }
    if (picture.isNull())
        return fail();
    const LMFileImgBaseInfoPtr info = r.croppedImage->originalImgBaseInfo();
    std::optional<QVariantMap> props = info ? std::optional<QVariantMap>(info->properties()) : QVariantMap();
    if (saveParameters)
        props = LMImageTools::createPropertiesFrom(props, saveParameters);
    // The crop's information lives in memory; the metadata blocks (location, keywords, profile) come
    // from the photo it was cut from, while that file is still the one that was read. Removed or
    // replaced by another program since, it has nothing of this photo's left: the crop then keeps
    // what was read with its pixels (its properties), and can still be saved elsewhere.
    QString metadataSource = fileInfo ? fileInfo->filePath().path() : QString();
    if (metadataSource.isEmpty() && info)
        metadataSource = info->filePath().path();
    if (!metadataSource.isEmpty() && !sourceFileStillAsRead(fileInfo, metadataSource))
        metadataSource.clear();
    kpv::ImageWriteOptions options = LMImageTools::writeOptionsKeepingMetadataOf(metadataSource);
    options.createNew = m_destination.mustBeNew;
    options.replaceOnly = m_destination.replaceOnly;
    options.attributesLeftOut = &r.tagsLeftOut;
    const QString target = toFile->path();
    // A photo of 16 bits per channel keeps them in a format that holds them: the crop is cut from
    // the file's own samples. One that cannot be read so fails the save, nothing dropped unasked.
    if (!metadataSource.isEmpty() && fileInfo && metadataSource == fileInfo->filePath().path() &&
        kpv::ImageDestination::typeKeepsSixteenBits(kpv::ImageDestination::typeForPath(target)) &&
        kpv::ImageDestination::keepsSixteenBitsOnRewrite(metadataSource)) {
        LMFileImgBaseInfoPtr sourceInfo;
        if (const LMImagePtr original = fileInfo->imageByType(1))
            sourceInfo = original->originalImgBaseInfo();
        if (!sourceInfo)
            sourceInfo = fileInfo->imgBaseInfo();
        // Only the part under the crop is read, so a photo too large to read whole keeps its depth.
        const QRect part = sourceInfo ? storedPart(rawRect, sourceInfo->rawFrameSize()) : QRect();
        if (!part.isEmpty() && !kpv::ImageDestination::sixteenBitPartFits(part.size())) {
            // A part too large to hold at 16 bits is cut, turned and written a band of rows at a time.
            const auto turn = sixteenBitCropTurn(sourceInfo, angleRotate.normalizeAngle());
            if (!turn || !sourceFileStillAsRead(fileInfo, metadataSource)) {
                r.error = turn ? QStringLiteral("the file was changed or removed since it was opened")
                               : QStringLiteral("its 16 bits per channel could not be kept");
                return fail();
            }
            options.stillWanted = [operation, target] {
                LMSaveStages::reach(LMSaveStages::Writing, target);
                return !cancelled(operation);
            };
            if (!kpv::ImageDestination::writeSixteenBitTransformed(
                    metadataSource, *turn, target, kpv::ImageDestination::typeForPath(target),
                    props.value_or(QVariantMap()), &r.error, options, [operation] { return cancelled(operation); }, part))
                return fail();
            r.sixteenBitsKept = true;
            return written();
        }
        QImage stored;
        if (!part.isEmpty()) {
            const kpv::DecodeBudget::CancelScope stopWaiting([operation] { return cancelled(operation); });
            stored = kpv::ImageDestination::readSixteenBitPart(metadataSource, part, &r.error);
        }
        if (cancelled(operation))
            return fail();
        // Samples read while another program rewrote the file would not be the photo's.
        if (!stored.isNull() && !sourceFileStillAsRead(fileInfo, metadataSource)) {
            r.error = QStringLiteral("the file was changed or removed since it was opened");
            return fail();
        }
        if (stored.isNull()) {
            if (r.error.isEmpty())
                r.error = QStringLiteral("its 16 bits per channel could not be kept");
            return fail();
        }
        picture = turnedSixteenBitCrop(std::move(stored), sourceInfo, angleRotate.normalizeAngle());
        if (picture.isNull()) {
            r.error = QStringLiteral("its 16 bits per channel could not be kept");
            return fail();
        }
        r.sixteenBitsKept = true;
    }
    options.stillWanted = [operation, target] {
        LMSaveStages::reach(LMSaveStages::Writing, target);
        return !cancelled(operation);
    };
    if (!LMImageTools::saveImage(picture, target, props.value_or(QVariantMap()), options, &r.error))
        return fail();
    return written();
}
