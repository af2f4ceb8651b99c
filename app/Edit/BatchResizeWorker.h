#pragma once

// The batch resize run: for every file, the output size from the settings, copy or decode-scale-
// write, the output name in the destination folder, and a code per file (0 done, -1 failed,
// -2 cancelled). Existing files are never overwritten: a taken name moves on to the next running
// number or to a free "_N" name. Runs on a worker thread; the naming functions also serve the
// sheet's preview on the main thread.

#include "Edit/BatchFileWorker.h"

#include <optional>

// Settings keys of a resize run (the dictionary the sheet stores).
namespace BatchResizeKeys {
inline constexpr char kClassicSizeType[] = "ClassicSizeType";
inline constexpr char kClassicSizeWidth[] = "ClassicSizeWidth";
inline constexpr char kClassicSizeHeight[] = "ClassicSizeHeight";
inline constexpr char kCustomSizeUnitType[] = "CustomSizeUnitType";
inline constexpr char kCustomSizeWidth[] = "CustomSizeWidth";
inline constexpr char kCustomSizeHeight[] = "CustomSizeHeight";
inline constexpr char kCustomSizePercent[] = "CustomSizePercent";
inline constexpr char kDpi[] = "Dpi";
inline constexpr char kNotEnlarge[] = "NotEnlarge";
inline constexpr char kKeepAlpha[] = "KeepAlpha";
inline constexpr char kNewNameBase[] = "NewNameBase";
inline constexpr char kDestFolderPath[] = "DestFolderPath";
} // namespace BatchResizeKeys

class BatchResizeWorker : public BatchFileWorker {
public:
    explicit BatchResizeWorker(const LMPhotoLoader &loader) : BatchFileWorker(loader) {}

    // The whole run; the failed files go to *outFailures in batch order, with their reasons.
    int resizeFilesOnThread(const FileInfoList &files, const QVariantMap &resizeConfigInfos,
                            LMFailedFiles *outFailures, const kpv::Operation *operation,
                            const ProgressBlock &progress = {}) const;
    // One file; *curRenameNumber is the run's running number; *why (when given) says why it failed.
    int resizeOneFileOnThread(const std::shared_ptr<LMFileInfo> &file, const QVariantMap &resizeConfigInfos,
                              qint64 *curRenameNumber, const kpv::Operation *operation,
                              QString *why = nullptr) const;

    // The output name for an old name: the base and number ("%@%ld") or the old stem, then the old
    // extension when it is kept (gif, jpg, jpeg; with keepAlpha also png, bmp, tif, tiff), else "jpg".
    static QString newFileNameBy(const QString &oldFileName, const QString &newFileNameBase, bool keepAlpha,
                                 qint64 renameNumber);
    // A free output path in the destination folder; raises *renameNumber while numbered candidates
    // are taken. nullopt for a missing source or folder, or when no free name exists.
    static std::optional<LMPathString> newFilePathBy(const LMPathString &srcFilePath, const QString &newFileNameBase,
                                                     bool keepAlpha, qint64 *renameNumber,
                                                     const LMPathString &dstFolderPath);

    // The pixel size a source of `rawSize` gets under the settings (not rounded).
    static QSizeF targetSizeForSource(const QSizeF &rawSize, const QVariantMap &resizeConfigInfos);
    // The scale type 1..7 to decode for a target: the smallest power-of-two reduction that still
    // covers its longer side.
    static int decodeScaleTypeFor(const QSizeF &rawSize, const QSizeF &targetSize);
};
