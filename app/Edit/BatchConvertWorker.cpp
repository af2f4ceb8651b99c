#include "Edit/BatchConvertWorker.h"

#include "Edit/EditFileTools.h"
#include "Edit/LMImageSaveParamController.h"
#include "Model/LMImageTools.h"
#include "Model/LMPathTools.h"
#include "Model/LMPhotoLoader.h"

#include "foundation/Operation.h"
#include "imageio/ContentTypes.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
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

namespace {
bool isOpaque(const QImage &picture)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(line[x]) != 255)
                return false;
    }
    return true;
}
} // namespace

int BatchConvertWorker::convertOneFileOnThread(const std::shared_ptr<LMFileInfo> &file, const QString &dstFolderPath,
                                               const QString &fileTypeUti, const QVariantMap &saveParameters,
                                               const kpv::Operation *operation) const
{
    auto finish = [operation](int code) { return cancelled(operation) ? kCancelled : code; };
    if (!file)
        return finish(kFailed);
    using namespace kpv::ContentTypes;
    const LMPathString src = file->filePath();
    const QString srcType = typeOfPath(src);
    const bool sameFolder = EditFileTools::isSameFolder(src.parentDirectory().path(), dstFolderPath);
    const QString ext = LMImageSaveParamController::savedFileExtensionAndUtis().value(fileTypeUti);
    if (ext.isEmpty())
        return finish(kFailed);
    const QString newName =
        EditFileTools::fileNameWithoutExtension(LMPathString::lastPathComponent(src.path())) + QLatin1Char('.') + ext;

    // Types without options are copied as they are; JPEG, JPEG 2000 and TIFF take the new options.
    if (srcType == fileTypeUti && fileTypeUti != kJpeg && fileTypeUti != kJpeg2000 && fileTypeUti != kTiff) {
        if (sameFolder)
            return finish(kDone);
        const QString out = LMPathTools::writableFilePathInDirectory(dstFolderPath, newName);
        if (out.isEmpty())
            return finish(kFailed);
        return finish(QFile::copy(src.path(), out) ? kDone : kFailed);
    }

    const LMFileImgBaseInfoPtr info = currentImgBaseInfo(*file, operation);
    if (!info)
        return finish(kFailed);
    QImage picture = loadUprightImage(src, 1, info, std::nullopt, operation);
    if (picture.isNull())
        return finish(kFailed);
    // Transparency is written only where the picture has some: an opaque photo stays opaque.
    if (picture.hasAlphaChannel() && isOpaque(picture))
        picture = picture.convertToFormat(QImage::Format_RGB32);

    const auto upright = LMImageTools::createPropertiesFrom(info->properties(), 1);
    // The output is a new file: a name taken meanwhile (by another run, another program) is left
    // alone and the next free name is taken instead.
    const auto nextName = [&] { return LMPathTools::writableFilePathInDirectory(dstFolderPath, newName); };
    return finish(saveImageAsNewFile(picture, nextName, LMImageTools::createPropertiesFrom(upright, saveParameters), src)
                      ? kDone
                      : kFailed);
}

int BatchConvertWorker::convertFilesOnThread(const FileInfoList &files, const QString &dstFolderPath,
                                             const QString &fileTypeUti, const QVariantMap &saveParameters,
                                             QList<LMPathString> *outFailedFilePaths, const kpv::Operation *operation,
                                             const ProgressBlock &progress) const
{
    QList<LMPathString> failed;
    const qsizetype count = files.size();
    for (qsizetype i = 0; i < count; ++i) {
        const std::shared_ptr<LMFileInfo> &file = files[i];
        if (!file)
            continue;
        const int code = convertOneFileOnThread(file, dstFolderPath, fileTypeUti, saveParameters, operation);
        if (code == kCancelled)
            break;
        if (code == kFailed)
            failed.append(file->filePath());
        if (progress)
            progress(qint64(i) + 1);
        if (i == count - 1 && failed.isEmpty() && m_pause)
            m_pause();
    }
    if (outFailedFilePaths)
        *outFailedFilePaths = failed;
    return cancelled(operation) ? kCancelled : kDone;
}
