#include "Edit/BatchConvertWorker.h"

#include "Edit/EditFileTools.h"
#include "Edit/EditImageTools.h"
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

namespace {
// Names tried for one output before giving up when other writers keep taking them.
constexpr int kNameAttempts = 100;
bool cancelled(const kpv::Operation *op) { return op && op->isCancelled(); }
} // namespace

BatchConvertWorker::BatchConvertWorker(const LMPhotoLoader &loader)
    : m_loader(loader), m_pause([] { std::this_thread::sleep_for(std::chrono::seconds(1)); })
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

    LMFileImgBaseInfoPtr info = file->imgBaseInfo();
    if (!info || file->fileModified()) {
        info = m_loader.loadImgBaseInfo(src, operation);
        if (cancelled(operation) || !info)
            return finish(kFailed);
        file->setImgBaseInfo(info);
    }
    const LMImagePtr decoded = m_loader.loadImage(src, 1, info, operation);
    if (cancelled(operation) || !decoded)
        return finish(kFailed);
    QImage picture = decoded->convertToImage();
    if (cancelled(operation) || picture.isNull())
        return finish(kFailed);
    picture = EditImageTools::uprightImage(picture, *info);
    if (cancelled(operation) || picture.isNull())
        return finish(kFailed);

    const auto upright = LMImageTools::createPropertiesFrom(info->properties(), 1);
    const auto props = LMImageTools::createPropertiesFrom(upright, saveParameters);
    // The output is a new file: a name taken meanwhile (by another run, another program) is left
    // alone and the next free name is taken instead.
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString out = LMPathTools::writableFilePathInDirectory(dstFolderPath, newName);
        if (out.isEmpty())
            return finish(kFailed);
        bool taken = false;
        kpv::ImageWriteOptions options = LMImageTools::writeOptionsKeepingMetadataOf(src.path());
        options.createNew = true;
        options.nameTaken = &taken;
        if (LMImageTools::saveImage(picture, out, props.value_or(QVariantMap()), options))
            return finish(kDone);
        if (!taken)
            return finish(kFailed);
    }
    return finish(kFailed);
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
