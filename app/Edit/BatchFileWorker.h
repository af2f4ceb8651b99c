#pragma once

// What the batch convert and resize runs share: the code each file ends with, the progress
// callback, and the steps between a source file and its new copy: its current facts, its pixels
// decoded (and scaled) and turned upright, and the writing of the result with the source's
// metadata kept. Runs on a worker thread.

#include "Model/LMFailedFiles.h"
#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMFileInfo.h"
#include "Model/LMPathString.h"
#include "Model/LMReadFailure.h"

#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class LMPhotoLoader;
namespace kpv {
class Operation;
}

class BatchFileWorker {
public:
    // Per-file and run results.
    static constexpr int kDone = 0;
    static constexpr int kFailed = -1;
    static constexpr int kCancelled = -2;

    using FileInfoList = QList<std::shared_ptr<LMFileInfo>>;
    // Called after each handled file with the number handled so far (on the worker's thread).
    using ProgressBlock = std::function<void(qint64 handled)>;

protected:
    explicit BatchFileWorker(const LMPhotoLoader &loader) : m_loader(loader) {}

    static bool cancelled(const kpv::Operation *operation);
    // Why a source cannot be read at all (gone, not a regular file), in words for the report; empty
    // when it is a regular file. Nothing is opened: a pipe named like a photo is never waited on.
    static QString unreadableReason(const LMPathString &path);
    // That a source could not be read as a picture, with the reader's reason when `failure` heard one.
    static QString cannotReadPicture(const LMReadFailure &failure);
    // A file copied as it is to a new name that `nextName` gives (never replacing anything).
    // *tagsLeftOut tells whether its tags and comments could not all be kept there.
    static bool copyAsNewFile(const LMPathString &source, const std::function<QString()> &nextName, QString *error,
                              bool *tagsLeftOut = nullptr);
    // The file's facts, read again when missing or when the file changed since; null on failure.
    LMFileImgBaseInfoPtr currentImgBaseInfo(LMFileInfo &file, const kpv::Operation *operation) const;
    // The pixels decoded at `scaleType`, scaled to `size` when one is given, and turned upright;
    // null on failure or when the run was cancelled.
    QImage loadUprightImage(const LMPathString &path, int scaleType, const LMFileImgBaseInfoPtr &info,
                            const std::optional<QSizeF> &size, const kpv::Operation *operation) const;
    // Writes the picture to `out` with `properties`, keeping the metadata of `source`.
    static bool saveImage(const QImage &picture, const QString &out, const std::optional<QVariantMap> &properties,
                          const LMPathString &source, QString *error = nullptr);
    // The same as a new file that never replaces anything: under the name `nextName` gives (empty:
    // none is free), and when another writer takes that name meanwhile, under the next one.
    // *tagsLeftOut tells whether the source's tags and comments could not all be kept there.
    static bool saveImageAsNewFile(const QImage &picture, const std::function<QString()> &nextName,
                                   const std::optional<QVariantMap> &properties, const LMPathString &source,
                                   QString *error = nullptr, bool *tagsLeftOut = nullptr);
    // The 16-bit picture of the PNG or TIFF at `source` (too large to hold whole at that depth)
    // turned upright and written as a new file of `type` (PNG or TIFF) a band of rows at a time,
    // at full depth, under the names `nextName` gives, as saveImageAsNewFile does.
    static bool saveSixteenBitsUprightAsNewFile(const LMPathString &source, const LMFileImgBaseInfo &info,
                                                const QString &type, const std::function<QString()> &nextName,
                                                const std::optional<QVariantMap> &properties,
                                                const kpv::Operation *operation, QString *error = nullptr,
                                                bool *tagsLeftOut = nullptr);
    // What the new file of `type` made from `source` lacks that the source has (its other pages,
    // the part of the picture that could not be read, metadata the type cannot hold, ...), in words
    // for the report; empty when nothing. With `depthTold`, 16 bits per channel not kept are told
    // too (the new file's type could keep them). With `tagsLeftOut`, that its tags and comments
    // could not be kept where it was written. With `picture` (what was written), transparency a
    // JPEG cannot hold is told too.
    static QString lostInNewFile(const LMPathString &source, const QString &type, bool depthTold,
                                 bool tagsLeftOut = false, const QImage *picture = nullptr);
    // The note of a file copied as it is: empty, or that its tags and comments were left out.
    static QString lostInCopy(bool tagsLeftOut);
    // Said of a file written under a name cut short to fit the 255 bytes a file name may have (its
    // planned name was too long, or too long with the number added to tell it from a name taken);
    // empty when it has the planned name, or that name with a number.
    static QString shortenedNameNote(const QString &plannedName, const QString &writtenPath);
    // Two notes of a file's report, either of them possibly empty.
    static QString joinNotes(const QString &first, const QString &second);
    // Runs `one` over the files in order with their progress, collecting the failures with their
    // reasons; stops when the run is cancelled, or at the first failure that found the destination
    // without room (every later file would fail too). A file done with a reason gets it as a note.
    int runFiles(const FileInfoList &files, LMFailedFiles *outFailures, const kpv::Operation *operation,
                 const ProgressBlock &progress,
                 const std::function<int(const std::shared_ptr<LMFileInfo> &, QString *why)> &one,
                 const std::function<void(bool lastWithoutFailures)> &afterEach = {}) const;

    const LMPhotoLoader &m_loader;
};
