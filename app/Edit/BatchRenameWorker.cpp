#include "Edit/BatchRenameWorker.h"

#include "Edit/EditFileTools.h"
#include "Model/LMPathTools.h"

#include "foundation/FileNames.h"
#include "foundation/Operation.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <cerrno>
#include <cstring>

#include <vector>

namespace {
bool cancelled(const kpv::Operation *op) { return op && op->isCancelled(); }

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

// Names a folder full of numbered files could make the search run long; past this many taken
// numbers for one file the file counts as failed.
constexpr int kMaxSkippedNumbers = 1000000;
} // namespace

QString BatchRenameWorker::trimmedNameBase(const QString &text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    return text.mid(b, e - b);
}

bool BatchRenameWorker::isUsableNameBase(const QString &base)
{
    return !base.isEmpty() && !base.startsWith(QLatin1Char('.')) && !base.contains(QLatin1Char('/')) &&
           !base.contains(QChar(0));
}

QString BatchRenameWorker::newFileName(const QString &oldFileName, const QString &nameBase, qint64 number)
{
    const QString ext = EditFileTools::fileExtension(oldFileName);
    QString name = nameBase + QString::number(number);
    if (!ext.isEmpty())
        name += QLatin1Char('.') + ext;
    return name;
}

int BatchRenameWorker::renameFilesOnThread(const QList<LMPathString> &sources, const QString &nameBaseText,
                                           RenameMap *outRenamed, QList<LMPathString> *outFailed,
                                           const kpv::Operation *operation, const ProgressBlock &progress,
                                           QStringList *outFailureReasons)
{
    const QString base = trimmedNameBase(nameBaseText);
    QSet<LMPathString> pending(sources.begin(), sources.end());
    RenameMap renamed;
    QList<LMPathString> failed;
    QStringList reasons;
    auto fail = [&](const LMPathString &path, const QString &why) {
        failed.append(path);
        reasons.append(why);
    };
    RenameMap movedAside;
    // Every rename made, in order: the file it belongs to, where it was, where it went.
    struct Step {
        LMPathString original, from, to;
    };
    std::vector<Step> done;
    // A cancel that comes once every file is done leaves nothing undone: the run counts as finished.
    bool stoppedEarly = false;

    if (!isUsableNameBase(base)) {
        for (const LMPathString &path : sources)
            fail(path, QStringLiteral("the name cannot be used for a file"));
    } else if (cancelled(operation)) {
        stoppedEarly = true;
    } else {
        qint64 n = 1;
        qsizetype i = 0;
        while (i < sources.size()) {
            if (cancelled(operation)) {
                stoppedEarly = true;
                break;
            }
            const LMPathString &S = sources[i];
            pending.remove(S);
            const QString folder = S.parentDirectory().path();
            const QString oldName = LMPathString::lastPathComponent(S.path());
            int skipped = 0;
            for (;;) {
                const QString newName = newFileName(oldName, base, n);
                const LMPathString P(QDir(folder).filePath(newName), false);
                if (P == S) {
                    // Already bears its name.
                    ++i;
                    ++n;
                    if (progress)
                        progress(i);
                    break;
                }
                if (movedAside.value(S) == P) {
                    // Moved aside earlier onto exactly the name it gets now.
                    movedAside.remove(S);
                    renamed.insert(S, P);
                    ++i;
                    ++n;
                    if (progress)
                        progress(i);
                    break;
                }
                const LMPathString current = movedAside.contains(S) ? movedAside.value(S) : S;
                // Nothing standing at the new name is ever replaced, and the name is not looked
                // at first: the move itself finds out whether the name is free, so a file another
                // program makes there at any moment, even after the name was planned, is kept.
                if (kpv::renameWithoutReplacing(current.path(), P.path())) {
                    movedAside.remove(S);
                    renamed.insert(S, P);
                    done.push_back({S, current, P});
                } else if (const int err = errno; err == EEXIST || err == ENOTEMPTY) {
                    // The name is taken. A later file of the list holding it is moved out of the
                    // way and the move tried again; a file outside the list keeps its name, and
                    // this file takes the next number.
                    if (pending.contains(P) && !movedAside.contains(P)) {
                        const QString T = LMPathTools::writableFilePathInDirectory(folder, newName);
                        if (!T.isEmpty() && kpv::renameWithoutReplacing(P.path(), T)) {
                            movedAside.insert(P, LMPathString(T, false));
                            renamed.insert(P, LMPathString(T, false));
                            done.push_back({P, P, LMPathString(T, false)});
                            continue;
                        }
                    }
                    ++n;
                    if (++skipped > kMaxSkippedNumbers) {
                        fail(S, QStringLiteral("no free name was left in its folder"));
                        ++i;
                        if (progress)
                            progress(i);
                        break;
                    }
                    continue;
                } else if (err == ENOENT && current != S) {
                    // Another program removed the file while it stood aside: there is nothing
                    // left to put back, and the renames made meanwhile stay as they are.
                    movedAside.remove(S);
                    renamed.remove(S);
                    fail(S, QStringLiteral("it was removed by another program while it stood under a temporary name"));
                } else {
                    // What the system said: a folder that refuses changes, a file gone meanwhile.
                    // A file still aside stays known to the rollback below.
                    fail(S, QString::fromLocal8Bit(std::strerror(err)));
                }
                ++i;
                if (progress)
                    progress(i);
                ++n;
                break;
            }
        }
    }
    // Stopped half-way, some files may still stand under the names they were moved aside to,
    // names nobody asked for. The renames are undone, last first, until none does.
    while (!movedAside.isEmpty() && !done.empty()) {
        const Step step = done.back();
        done.pop_back();
        if (!kpv::renameWithoutReplacing(step.to.path(), step.from.path()))
            break;
        if (step.from == step.original) {
            renamed.remove(step.original);
            movedAside.remove(step.original);
        } else {
            renamed.insert(step.original, step.from);
            movedAside.insert(step.original, step.from);
        }
    }
    if (outRenamed)
        *outRenamed = renamed;
    if (outFailed)
        *outFailed = failed;
    if (outFailureReasons)
        *outFailureReasons = reasons;
    return stoppedEarly ? kCancelled : kFinished;
}
