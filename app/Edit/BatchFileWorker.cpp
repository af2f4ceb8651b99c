#include "Edit/BatchFileWorker.h"

#include "Edit/EditFileTools.h"

#include "Model/LMImage.h"
#include "Model/LMImageTools.h"
#include "Model/LMPhotoLoader.h"

#include "foundation/Bundle.h"
#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"
#include "foundation/Operation.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageDestination.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

bool BatchFileWorker::cancelled(const kpv::Operation *operation) { return operation && operation->isCancelled(); }

QString BatchFileWorker::unreadableReason(const LMPathString &path)
{
    struct stat st {};
    if (::stat(kpv::encodeFileName(path.path()).constData(), &st) != 0) {
        // Chosen when the run began, then moved or deleted by another program.
        if (errno == ENOENT)
            return kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_SourceGone"));
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode))
        return kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_NotARegularFile"));
    return {};
}

QString BatchFileWorker::cannotReadPicture(const LMReadFailure &failure)
{
    const kpv::Bundle &bundle = kpv::Bundle::mainBundle();
    if (failure.reason().isEmpty())
        return bundle.localizedString(QStringLiteral("IDS_CannotReadPicture"));
    return bundle.localizedStringWithFormat(QStringLiteral("IDS_CannotReadPictureBecause_Fmt"), failure.reason());
}

namespace {

// Writes a new file under the names `nextName` offers, one after another while another writer
// takes them first; `write` sets its flag when the name was taken and answers whether it wrote.
bool writeUnderNewName(const std::function<QString()> &nextName, QString *error,
                       const std::function<bool(const QString &out, bool *taken)> &write)
{
    // Names tried before giving up when other writers keep taking them.
    constexpr int kNameAttempts = 100;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString out = nextName();
        if (out.isEmpty())
            break;
        bool taken = false;
        if (write(out, &taken))
            return true;
        if (!taken)
            return false;
    }
    if (error)
        *error = QStringLiteral("no free name was left in the destination folder");
    return false;
}

} // namespace

bool BatchFileWorker::copyAsNewFile(const LMPathString &source, const std::function<QString()> &nextName, QString *error,
                                    bool *tagsLeftOut)
{
    return writeUnderNewName(nextName, error, [&](const QString &out, bool *taken) {
        return kpv::copyFileToNewName(source.path(), out, taken, error, tagsLeftOut);
    });
}

int BatchFileWorker::runFiles(const FileInfoList &files, LMFailedFiles *outFailures, const kpv::Operation *operation,
                              const ProgressBlock &progress,
                              const std::function<int(const std::shared_ptr<LMFileInfo> &, QString *why)> &one,
                              const std::function<void(bool lastWithoutFailures)> &afterEach) const
{
    LMFailedFiles failures;
    const qsizetype count = files.size();
    for (qsizetype i = 0; i < count; ++i) {
        const std::shared_ptr<LMFileInfo> &file = files[i];
        if (!file)
            continue;
        QString why;
        const int code = one(file, &why);
        if (code == kCancelled)
            break;
        if (code == kDone && !why.isEmpty())
            failures.addNote(file->filePath(), why);
        if (code == kFailed) {
            failures.add(file->filePath(), why);
            if (failures.stoppedForRoom()) {
                failures.setNotTried(count - i - 1);
                if (progress)
                    progress(qint64(i) + 1);
                break;
            }
        }
        if (progress)
            progress(qint64(i) + 1);
        if (afterEach)
            afterEach(i == count - 1 && failures.isEmpty());
    }
    if (outFailures)
        *outFailures = failures;
    return cancelled(operation) ? kCancelled : kDone;
}

QString BatchFileWorker::shortenedNameNote(const QString &plannedName, const QString &writtenPath)
{
    if (writtenPath.isEmpty())
        return {};
    const QString written = LMPathString::lastPathComponent(writtenPath);
    if (EditFileTools::fileNameWithoutExtension(written).startsWith(EditFileTools::fileNameWithoutExtension(plannedName)))
        return {};
    return kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_SavedUnderShorterName_Fmt"),
                                                               kpv::displayFileName(written));
}

QString BatchFileWorker::joinNotes(const QString &first, const QString &second)
{
    if (first.isEmpty() || second.isEmpty())
        return first + second;
    return first + QStringLiteral("; ") + second;
}

QString BatchFileWorker::lostInNewFile(const LMPathString &source, const QString &type, bool depthTold,
                                       bool tagsLeftOut, const QImage *picture)
{
    QStringList lost = kpv::ImageDestination::contentLostInNewFile(source.path(), type, !depthTold);
    // A JPEG has no transparency: the writer lays such a picture over white.
    if (picture && type == kpv::ContentTypes::kJpeg && kpv::ImageDestination::hasTransparentPixel(*picture))
        lost << QStringLiteral("its transparency (the transparent parts were made white)");
    QStringList notes;
    if (!lost.isEmpty())
        notes << kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_NewFileLacks_Fmt"),
                                                                     lost.join(QStringLiteral(", ")));
    if (const QString tags = lostInCopy(tagsLeftOut); !tags.isEmpty())
        notes << tags;
    return notes.join(QStringLiteral("; "));
}

QString BatchFileWorker::lostInCopy(bool tagsLeftOut)
{
    return tagsLeftOut ? kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_TagsNotKeptThere")) : QString();
}

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
                                const LMPathString &source, QString *error)
{
    return LMImageTools::saveImage(picture, out, properties.value_or(QVariantMap()),
                                   LMImageTools::writeOptionsKeepingMetadataOf(source.path()), error);
}

bool BatchFileWorker::saveImageAsNewFile(const QImage &picture, const std::function<QString()> &nextName,
                                         const std::optional<QVariantMap> &properties, const LMPathString &source,
                                         QString *error, bool *tagsLeftOut)
{
    return writeUnderNewName(nextName, error, [&](const QString &out, bool *taken) {
        kpv::ImageWriteOptions options = LMImageTools::writeOptionsKeepingMetadataOf(source.path());
        options.createNew = true;
        options.nameTaken = taken;
        options.attributesLeftOut = tagsLeftOut;
        return LMImageTools::saveImage(picture, out, properties.value_or(QVariantMap()), options, error);
    });
}

bool BatchFileWorker::saveSixteenBitsUprightAsNewFile(const LMPathString &source, const LMFileImgBaseInfo &info,
                                                      const QString &type, const std::function<QString()> &nextName,
                                                      const std::optional<QVariantMap> &properties,
                                                      const kpv::Operation *operation, QString *error,
                                                      bool *tagsLeftOut)
{
    // The file's orientation as one of the eight turns of whole pixels: a quarter turn clockwise,
    // then a mirror left to right.
    using T = kpv::LosslessTransform;
    const bool mirrored = info.isOrientationMirrored();
    T upright = mirrored ? T::FlipHorizontal : T::None;
    switch (int(info.orientationAngle())) {
    case 90: upright = mirrored ? T::Transpose : T::Rotate90; break;
    case 180: upright = mirrored ? T::FlipVertical : T::Rotate180; break;
    case 270: upright = mirrored ? T::Transverse : T::Rotate270; break;
    default: break;
    }
    return writeUnderNewName(nextName, error, [&](const QString &out, bool *taken) {
        kpv::ImageWriteOptions options = LMImageTools::writeOptionsKeepingMetadataOf(source.path());
        options.createNew = true;
        options.nameTaken = taken;
        options.attributesLeftOut = tagsLeftOut;
        return kpv::ImageDestination::writeSixteenBitTransformed(source.path(), upright, out, type,
                                                                 properties.value_or(QVariantMap()), error, options,
                                                                 [operation] { return cancelled(operation); });
    });
}
