#include "Edit/BatchConvertWorker.h"

#include "Edit/EditFileTools.h"
#include "Edit/LMImageSaveParamController.h"
#include "Model/LMImage.h"
#include "Model/LMImageTools.h"
#include "Model/LMPathTools.h"
#include "Model/LMPhotoLoader.h"

#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/Operation.h"
#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageDestination.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <climits>
#include <thread>

BatchConvertWorker::BatchConvertWorker(const LMPhotoLoader &loader)
    : BatchFileWorker(loader), m_pause([] { std::this_thread::sleep_for(std::chrono::seconds(1)); })
{
}

QString BatchConvertWorker::typeOfPath(const LMPathString &path) const
{
    if (m_loader.infoProvider())
        return m_loader.infoProvider()->fileUTIByPath(path);
    return kpv::ContentTypes::typeForExtension(QFileInfo(path.path()).suffix().toLower());
}


int BatchConvertWorker::convertOneFileOnThread(const std::shared_ptr<LMFileInfo> &file, const QString &dstFolderPath,
                                               const QString &fileTypeUti, const QVariantMap &saveParameters,
                                               const kpv::Operation *operation, QString *why) const
{
    // Why the file could not be read, as its reader said.
    const LMReadFailure readFailure;
    const auto unreadable = [&] { return cannotReadPicture(readFailure); };
    auto finish = [operation](int code) { return cancelled(operation) ? kCancelled : code; };
    auto failBecause = [&](const QString &reason) {
        if (why)
            *why = reason;
        return finish(kFailed);
    };
    if (!file)
        return finish(kFailed);
    using namespace kpv::ContentTypes;
    const LMPathString src = file->filePath();
    if (const QString reason = unreadableReason(src); !reason.isEmpty())
        return failBecause(reason);
    const QString srcType = typeOfPath(src);
    const bool sameFolder = EditFileTools::isSameFolder(src.parentDirectory().path(), dstFolderPath);
    const QString ext = LMImageSaveParamController::savedFileExtensionAndUtis().value(fileTypeUti);
    if (ext.isEmpty())
        return failBecause(QStringLiteral("the chosen type cannot be written"));
    const QString newName =
        EditFileTools::fileNameWithoutExtension(LMPathString::lastPathComponent(src.path())) + QLatin1Char('.') + ext;

    // Types without options are copied as they are; JPEG, JPEG 2000 and TIFF take the new options.
    if (srcType == fileTypeUti && fileTypeUti != kJpeg && fileTypeUti != kJpeg2000 && fileTypeUti != kTiff) {
        if (sameFolder)
            return finish(kDone);
        QString error;
        bool tagsLeftOut = false;
        QString out;
        if (!copyAsNewFile(src, [&] { return out = LMPathTools::writableFilePathInDirectory(dstFolderPath, newName); },
                           &error, &tagsLeftOut))
            return failBecause(error);
        if (why)
            *why = joinNotes(shortenedNameNote(newName, out), lostInCopy(tagsLeftOut));
        return finish(kDone);
    }

    const LMFileImgBaseInfoPtr info = currentImgBaseInfo(*file, operation);
    if (!info)
        return failBecause(unreadable());
    const auto upright = LMImageTools::createPropertiesFrom(info->properties(), 1);
    // The output is a new file: a name taken meanwhile (by another run, another program) is left
    // alone and the next free name is taken instead.
    QString out;
    const auto nextName = [&] { return out = LMPathTools::writableFilePathInDirectory(dstFolderPath, newName); };
    const bool typeKeepsSixteenBits = kpv::ImageDestination::typeKeepsSixteenBits(fileTypeUti);
    const bool sixteenBits = typeKeepsSixteenBits && kpv::ImageDestination::keepsSixteenBitsOnRewrite(src.path());
    // Done, with what the new file could not take from the photo told beside the run's failures.
    bool tagsLeftOut = false;
    QImage picture;
    const auto written = [&] {
        if (why)
            *why = joinNotes(shortenedNameNote(newName, out),
                             lostInNewFile(src, fileTypeUti, typeKeepsSixteenBits && !sixteenBits, tagsLeftOut, &picture));
        return finish(kDone);
    };
    if (sixteenBits && !kpv::ImageDestination::sixteenBitPartFits(info->rawFrameSize().toSize())) {
        // Too large to hold whole at 16 bits: turned upright and written a band of rows at a time.
        QString error;
        if (!saveSixteenBitsUprightAsNewFile(src, *info, fileTypeUti, nextName,
                                             LMImageTools::createPropertiesFrom(upright, saveParameters), operation,
                                             &error, &tagsLeftOut))
            return failBecause(error);
        return written();
    }
    if (sixteenBits) {
        // A photo of 16 bits per channel written as PNG or TIFF keeps them; one that cannot be read
        // at that depth fails with the reason instead of losing them unasked.
        QString error;
        const QSize size = info->rawFrameSize().toSize();
        const kpv::DecodeBudget::CancelScope stopWaiting([operation] { return cancelled(operation); });
        picture = kpv::ImageDestination::readSixteenBitPart(src.path(), QRect(QPoint(0, 0), size), &error);
        if (picture.isNull() || cancelled(operation))
            return failBecause(error.isEmpty() ? unreadable() : error);
        picture = LMImage::uprightImage(picture, *info);
        if (picture.isNull())
            return failBecause(unreadable());
    } else {
        picture = loadUprightImage(src, 1, info, std::nullopt, operation);
        if (picture.isNull())
            return failBecause(unreadable());
        // Transparency is written only where the picture has some: an opaque photo stays opaque.
        if (picture.hasAlphaChannel() && !kpv::ImageDestination::hasTransparentPixel(picture))
            picture = picture.convertToFormat(QImage::Format_RGB32);
    }

    QString error;
    if (!saveImageAsNewFile(picture, nextName, LMImageTools::createPropertiesFrom(upright, saveParameters), src, &error,
                            &tagsLeftOut))
        return failBecause(error);
    return written();
}

int BatchConvertWorker::convertFilesOnThread(const FileInfoList &files, const QString &dstFolderPath,
                                             const QString &fileTypeUti, const QVariantMap &saveParameters,
                                             LMFailedFiles *outFailures, const kpv::Operation *operation,
                                             const ProgressBlock &progress) const
{
    return runFiles(
        files, outFailures, operation, progress,
        [&](const std::shared_ptr<LMFileInfo> &file, QString *why) {
            return convertOneFileOnThread(file, dstFolderPath, fileTypeUti, saveParameters, operation, why);
        },
        [this](bool lastWithoutFailures) {
            if (lastWithoutFailures && m_pause)
                m_pause();
        });
}
