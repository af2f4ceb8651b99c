#include "Edit/BatchFileWorker.h"

#include "Model/LMImage.h"
#include "Model/LMImageTools.h"
#include "Model/LMPhotoLoader.h"

#include "foundation/Operation.h"

bool BatchFileWorker::cancelled(const kpv::Operation *operation) { return operation && operation->isCancelled(); }

LMFileImgBaseInfoPtr BatchFileWorker::currentImgBaseInfo(LMFileInfo &file, const kpv::Operation *operation) const
{
    LMFileImgBaseInfoPtr info = file.imgBaseInfo();
    if (info && !file.fileModified())
        return info;
    info = m_loader.loadImgBaseInfo(file.filePath(), operation);
    if (cancelled(operation) || !info)
        return nullptr;
    file.setImgBaseInfo(info);
    return info;
}

QImage BatchFileWorker::loadUprightImage(const LMPathString &path, int scaleType, const LMFileImgBaseInfoPtr &info,
                                         const std::optional<QSizeF> &size, const kpv::Operation *operation) const
{
    LMImagePtr image = m_loader.loadImage(path, scaleType, info, operation);
    if (cancelled(operation) || !image)
        return {};
    if (size) {
        image = m_loader.resizeImage(image, *size, operation);
        if (cancelled(operation) || !image)
            return {};
    }
    const QImage picture = image->convertToImage();
    if (cancelled(operation) || picture.isNull())
        return {};
    const QImage upright = LMImage::uprightImage(picture, *info);
    return cancelled(operation) ? QImage() : upright;
}

bool BatchFileWorker::saveImage(const QImage &picture, const QString &out, const std::optional<QVariantMap> &properties,
                                const LMPathString &source)
{
    return LMImageTools::saveImage(picture, out, properties.value_or(QVariantMap()),
                                   LMImageTools::writeOptionsKeepingMetadataOf(source.path()));
}

bool BatchFileWorker::saveImageAsNewFile(const QImage &picture, const std::function<QString()> &nextName,
                                         const std::optional<QVariantMap> &properties, const LMPathString &source)
{
    // Names tried before giving up when other writers keep taking them.
    constexpr int kNameAttempts = 100;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString out = nextName();
        if (out.isEmpty())
            return false;
        bool taken = false;
        kpv::ImageWriteOptions options = LMImageTools::writeOptionsKeepingMetadataOf(source.path());
        options.createNew = true;
        options.nameTaken = &taken;
        if (LMImageTools::saveImage(picture, out, properties.value_or(QVariantMap()), options))
            return true;
        if (!taken)
            return false;
    }
    return false;
}
