#pragma once

// The batch convert run: every file written again in the chosen type with the chosen options
// (PNG and BMP files of the same type are copied), upright, under a free name in the destination
// folder. A code per file (0 done, -1 failed, -2 cancelled); failures are collected, with their reasons, for one
// report. Runs on a worker thread.

#include "Edit/BatchFileWorker.h"

// Settings keys of a convert run.
namespace BatchConvertKeys {
inline constexpr char kFileTypeUTI[] = "FileTypeUTI";
inline constexpr char kCompressionQuality[] = "CompressionQuality";
inline constexpr char kTIFFCompression[] = "TIFFCompression";
inline constexpr char kDestFolderPath[] = "DestFolderPath";
} // namespace BatchConvertKeys

class BatchConvertWorker : public BatchFileWorker {
public:
    // Holds the finished progress bar up for a moment after a run without failures; tests replace it.
    using PauseBlock = std::function<void()>;

    explicit BatchConvertWorker(const LMPhotoLoader &loader);

    void setPauseBlock(PauseBlock pause) { m_pause = std::move(pause); }

    int convertFilesOnThread(const FileInfoList &files, const QString &dstFolderPath, const QString &fileTypeUti,
                             const QVariantMap &saveParameters, LMFailedFiles *outFailures,
                             const kpv::Operation *operation, const ProgressBlock &progress = {}) const;
    // One file; *why (when given) says why it failed.
    int convertOneFileOnThread(const std::shared_ptr<LMFileInfo> &file, const QString &dstFolderPath,
                               const QString &fileTypeUti, const QVariantMap &saveParameters,
                               const kpv::Operation *operation, QString *why = nullptr) const;

private:
    QString typeOfPath(const LMPathString &path) const;

    PauseBlock m_pause;
};
