#pragma once

// The batch rename run: every file of the list gets the base name, a running number and its own
// extension, in its own folder. A number whose name is taken by a file outside the list is
// skipped, also when that file appears while the run goes; a file of the list that stands on an
// earlier file's new name is first moved aside to a free name. Nothing is ever overwritten. Runs
// on a worker thread.

#include "Model/LMPathString.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace kpv {
class Operation;
}

class BatchRenameWorker {
public:
    static constexpr int kFinished = 0;
    static constexpr int kCancelled = -2;

    using RenameMap = QHash<LMPathString, LMPathString>;
    using ProgressBlock = std::function<void(qint64 done)>;

    // The base name as used: spaces and tabs trimmed at both ends.
    static QString trimmedNameBase(const QString &text);
    // Whether a trimmed base can name files: not empty, no "/" or NUL, not starting with ".".
    static bool isUsableNameBase(const QString &trimmedBase);
    // "base" + number + "." + the old name's extension (letter case kept); no point without one.
    static QString newFileName(const QString &oldFileName, const QString &nameBase, qint64 number);

    // The run: kCancelled when a cancel left files undone, else kFinished. Renames done (also
    // files moved aside before a cancel) go to *outRenamedFilePaths, files that could not be moved
    // to *outFailedFilePaths and, when asked, why each one could not to *outFailureReasons (in the
    // same order).
    static int renameFilesOnThread(const QList<LMPathString> &srcFilePaths, const QString &newNameBaseString,
                                   RenameMap *outRenamedFilePaths, QList<LMPathString> *outFailedFilePaths,
                                   const kpv::Operation *operation, const ProgressBlock &progress = {},
                                   QStringList *outFailureReasons = nullptr);
};
