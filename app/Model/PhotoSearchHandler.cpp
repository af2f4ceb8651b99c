#include "Model/PhotoSearchHandler.h"

#include "Model/LMAppServices.h"
#include "Model/LMBlockOperation.h"
#include "Model/LMPathTools.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/MainConfig.h"
#include "Model/PhotoSearchTaskInfo.h"
#include "foundation/FileNames.h"
#include "foundation/OperationQueue.h"

#include "MFileReplace.h"

#include <QDateTime>
#include <QFile>
#include <QSet>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ---------------------------------------------------------------------------------------------
// Walking a folder
// ---------------------------------------------------------------------------------------------

namespace {

// The extension test: the text after the last point of the name, lower-cased, must be one of the
// supported extensions. ASCII names (nearly all) are tested without building a QString.
class ExtensionMatcher {
public:
    explicit ExtensionMatcher(const QStringList& extensions)
    {
        for (const QString& e : extensions) {
            const QString lower = e.toLower();
            unicode_.insert(lower);
            const QByteArray utf8 = lower.toUtf8();
            ascii_.insert(std::string(utf8.constData(), size_t(utf8.size())));
        }
    }

    bool matches(const char* name) const
    {
        const char* dot = std::strrchr(name, '.');
        if (!dot || dot == name || dot[1] == '\0')
            return false;
        const char* ext = dot + 1;
        std::string lower;
        for (const char* c = ext; *c; ++c) {
            const unsigned char u = static_cast<unsigned char>(*c);
            if (u >= 0x80)
                return unicode_.contains(kpv::decodeFileName(ext).toLower());
            lower.push_back(static_cast<char>(u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u));
        }
        return ascii_.count(lower) != 0;
    }

private:
    std::unordered_set<std::string> ascii_;
    QSet<QString> unicode_;
};

int errorCodeForErrno(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
        return PhotoSearchError::kFileReadNoPermissionError;
    case ENOENT:
    case ENOTDIR:
        return PhotoSearchError::kFileReadNoSuchFileError;
    default:
        return PhotoSearchError::kFileReadUnknownError;
    }
}

void setError(PhotoSearchError* error, int err, const QString& path)
{
    if (!error)
        return;
    error->code = errorCodeForErrno(err);
    error->path = path;
    error->message = QString::fromLocal8Bit(std::strerror(err));
}

std::string joinPath(const std::string& dir, const char* name)
{
    std::string out = dir;
    if (out.empty() || out.back() != '/')
        out.push_back('/');
    out.append(name);
    return out;
}

std::string resolvedPath(const std::string& path)
{
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf))
        return {};
    return std::string(buf);
}

qint64 mtimeMsecs(const struct stat& st)
{
    return kpv::fileTimeMsecs(qint64(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
}

// A file found: its path with links resolved and, when asked for, its modification time.
using FoundCallback = std::function<void(LMPathString&&, std::optional<qint64> mtimeMsecs)>;

// The walk behind EnumDirectoryFiles. Depth first with an explicit stack (deep trees cannot
// overflow anything) and one open directory at a time. Links to folders are not followed, so a
// link loop cannot trap the walk. Answers whether anything was found; false with `error` set when
// the folder itself cannot be read.
bool walkFolder(const QString& folder, bool includeSubDir, const ExtensionMatcher& matcher, bool stopWhileFindFirst,
                const kpv::Operation* operation, bool wantDates, PhotoSearchError* error,
                const FoundCallback& found)
{
    const auto cancelled = [operation] { return operation && operation->isCancelled(); };

    // Resolving the root once lets every entry below it be named without a resolve of its own.
    const std::string root = resolvedPath(kpv::encodeFileName(folder).toStdString());
    if (root.empty()) {
        setError(error, errno, folder);
        return false;
    }

    bool anyFound = false;
    std::vector<std::string> pending{root};
    std::vector<std::string> leftovers;
    bool isRoot = true;
    while (!pending.empty()) {
        const std::string dirPath = std::move(pending.back());
        pending.pop_back();
        DIR* dir = ::opendir(dirPath.c_str());
        if (!dir) {
            if (isRoot) {
                setError(error, errno, folder);
                return false;
            }
            continue; // an unreadable sub-folder costs its own files only
        }
        isRoot = false;
        const int dirFd = ::dirfd(dir);
        while (const dirent* entry = ::readdir(dir)) {
            if (cancelled())
                break;
            const char* name = entry->d_name;
            if (name[0] == '.') {
                // Hidden, and "." and "..". A save killed mid-write leaves its hidden temporary
                // file beside the photo: noted here, removed once the folder is read through
                // (a removal while reading could make the reading skip a photo).
                if (MFileIsTemporaryName(name))
                    leftovers.emplace_back(name);
                continue;
            }
            unsigned char type = entry->d_type;
            struct stat st {};
            bool haveStat = false;
            if (type == DT_UNKNOWN) {
                if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                haveStat = true;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                if (includeSubDir)
                    pending.push_back(joinPath(dirPath, name));
                continue;
            }
            if ((type != DT_REG && type != DT_LNK) || !matcher.matches(name))
                continue;
            std::string path = joinPath(dirPath, name);
            if (type == DT_LNK) {
                // Listed under its target; a broken link, a link to a folder or to anything but
                // a regular file is skipped.
                if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                    continue;
                haveStat = true;
                path = resolvedPath(path);
                if (path.empty())
                    continue;
            }
            std::optional<qint64> mtime;
            if (wantDates) {
                if (!haveStat && ::fstatat(dirFd, name, &st, 0) != 0)
                    continue; // vanished meanwhile
                mtime = mtimeMsecs(st);
            }
            anyFound = true;
            found(LMPathString(kpv::decodeFileName(QByteArray::fromStdString(path)), false), mtime);
            if (stopWhileFindFirst)
                break;
        }
        // Only those whose writer is surely gone.
        for (const std::string& leftover : leftovers)
            MFileRemoveStaleTemporary(dirFd, leftover.c_str());
        leftovers.clear();
        ::closedir(dir);
        if (cancelled() || (stopWhileFindFirst && anyFound))
            break;
    }
    return anyFound;
}

} // namespace

std::optional<QList<LMPathString>> PhotoSearchHandler::EnumDirectoryFiles(const QUrl& folderURL, bool includeSubDir,
                                                                          const QStringList& allowedFileExtensions,
                                                                          bool stopWhileFindFirst,
                                                                          const kpv::Operation* operation,
                                                                          PhotoSearchError* error,
                                                                          const FileEnumCallback& fileEnumCallback)
{
    if (!folderURL.isLocalFile() || folderURL.toLocalFile().isEmpty()) {
        if (error) {
            error->code = PhotoSearchError::kFileReadNoSuchFileError;
            error->path = folderURL.toString();
            error->message = QStringLiteral("not a local folder");
        }
        return std::nullopt;
    }
    const ExtensionMatcher matcher(allowedFileExtensions);
    QList<LMPathString> result;
    walkFolder(folderURL.toLocalFile(), includeSubDir, matcher, stopWhileFindFirst, operation, false, error,
               [&](LMPathString&& path, std::optional<qint64>) {
                   result.append(path);
                   if (fileEnumCallback)
                       fileEnumCallback(result.back());
               });
    if ((operation && operation->isCancelled()) || result.isEmpty())
        return std::nullopt;
    return result;
}

// ---------------------------------------------------------------------------------------------
// The handler
// ---------------------------------------------------------------------------------------------

// What the main-thread halves of the worker's hand-overs need. They hold it weakly, so hand-overs
// that arrive after the handler is gone are dropped.
struct PhotoSearchHandler::Shared {
    Environment environment;
    std::shared_ptr<PhotoSearchTaskInfo> taskInfo;
    bool searchTaskStarted = false;
};

namespace {

PhotoSearchHandler::Environment defaultEnvironment()
{
    PhotoSearchHandler::Environment env;
    env.allowedFileExtensions = [] {
        LMAppServices* services = LMAppServices::shared();
        return services ? services->allowedFileExtensions() : QStringList();
    };
    env.sortByType = [] {
        LMAppServices* services = LMAppServices::shared();
        MainConfig* config = services ? services->mainConfig() : nullptr;
        return config ? int(config->sortByType()) : int(NavSortByName);
    };
    return env;
}

} // namespace

PhotoSearchHandler::PhotoSearchHandler() : PhotoSearchHandler(defaultEnvironment()) {}

PhotoSearchHandler::PhotoSearchHandler(Environment environment) : shared_(std::make_shared<Shared>())
{
    shared_->environment = std::move(environment);
}

PhotoSearchHandler::~PhotoSearchHandler()
{
    stopSearch();
    // The queue's destructor waits for the cancelled walk to notice and return.
    operationQueue_.reset();
}

const PhotoSearchTaskInfo* PhotoSearchHandler::taskInfo() const { return shared_->taskInfo.get(); }

bool PhotoSearchHandler::searchTaskStarted() const { return shared_->searchTaskStarted; }

NavSortFileInfoList PhotoSearchHandler::submitSearchTaskWithSearchedFilePaths(const QList<LMPathString>& searchedFilePaths,
                                                                              const QStringList& choosedOriginalPaths,
                                                                              bool includeSubDir)
{
    stopSearch();
    shared_->taskInfo = std::make_shared<PhotoSearchTaskInfo>(searchedFilePaths, choosedOriginalPaths, includeSubDir);
    shared_->searchTaskStarted = false;
    return shared_->taskInfo->createNavSortFileInfoList();
}

bool PhotoSearchHandler::needStartSearch() const
{
    if (shared_->searchTaskStarted || !shared_->taskInfo)
        return false;
    return shared_->taskInfo->needEnumFileParentFolder() || shared_->taskInfo->needSearchSubFolders();
}

void PhotoSearchHandler::stopSearch()
{
    if (operationQueue_)
        operationQueue_->cancelAllOperations();
    shared_->taskInfo.reset();
    shared_->searchTaskStarted = false;
}

void PhotoSearchHandler::startSearchWithProcessBlock(ProcessBlock processBlock, CompleteBlock completeBlock)
{
    if (!needStartSearch())
        return;
    const std::shared_ptr<PhotoSearchTaskInfo> task = shared_->taskInfo;

    // Walk no folder twice: keep only folders that lie in no other chosen folder.
    QStringList folders;
    for (const QString& folder : task->folderPathsForSearch()) {
        const bool covered = std::any_of(folders.cbegin(), folders.cend(),
                                         [&](const QString& kept) { return LMPathTools::isPath(folder, kept); });
        if (covered)
            continue;
        folders.removeIf([&](const QString& kept) { return LMPathTools::isPath(kept, folder); });
        folders.append(folder);
    }

    if (!operationQueue_)
        operationQueue_ = std::make_unique<kpv::OperationQueue>();

    const QStringList extensions =
        shared_->environment.allowedFileExtensions ? shared_->environment.allowedFileExtensions() : QStringList();
    const int sortType = shared_->environment.sortByType ? shared_->environment.sortByType() : NavSortByName;
    // Dates for a sort by date are read here on the worker, never file by file on the main thread.
    const bool wantDates = (sortType & ~NavSortDescending) == NavSortByDate;
    QList<NavSortFileInfoList::Entry> knownEntries;
    if (wantDates) {
        for (const auto& entry : task->dictFileInfos())
            knownEntries.append(entry);
    }
    const std::weak_ptr<Shared> weakShared = shared_;
    const bool parentFolderCase = task->needEnumFileParentFolder();
    const bool searchSubFolders = task->needSearchSubFolders();

    auto operation = LMBlockOperation::blockOperationWithBlock(
        [folders, task, extensions, wantDates, knownEntries, weakShared, parentFolderCase, searchSubFolders,
         processBlock, completeBlock](LMBlockOperation* op) {
            for (const auto& entry : knownEntries) {
                if (op->isCancelled())
                    break;
                entry->fileModificationDate(); // read once, kept in the shared entry
            }
            const ExtensionMatcher matcher(extensions);
            bool accessRefused = false;
            for (const QString& folder : folders) {
                if (op->isCancelled())
                    break;
                QList<NavSortFileInfoList::Entry> batch;
                PhotoSearchError error;
                walkFolder(folder, searchSubFolders, matcher, false, op, wantDates, &error,
                           [&](LMPathString&& path, std::optional<qint64> mtime) {
                               auto entry = std::make_shared<NavSortFileInfo>(path);
                               if (mtime)
                                   entry->setFileModificationDate(QDateTime::fromMSecsSinceEpoch(*mtime, Qt::UTC));
                               batch.append(std::move(entry));
                               if (!parentFolderCase && batch.size() >= kBatchSize) {
                                   didEnumFilesOnThread(std::move(batch), task, weakShared, processBlock);
                                   batch = {};
                               }
                           });
                if (error.code == PhotoSearchError::kFileReadNoPermissionError)
                    accessRefused = true;
                if (op->isCancelled())
                    break;
                didEnumFilesOnThread(std::move(batch), task, weakShared, processBlock);
            }
            // Queued behind the last batch, so the complete block follows it.
            LMPerformSelectorWrapper().performOnMainThreadWithBlock(
                [task, weakShared, completeBlock, accessRefused] {
                    const auto shared = weakShared.lock();
                    if (!shared || shared->taskInfo != task)
                        return;
                    // The handler is idle again before the caller hears of it, so the caller may
                    // submit a new task from the complete block.
                    shared->taskInfo.reset();
                    shared->searchTaskStarted = false;
                    if (completeBlock)
                        completeBlock(accessRefused);
                },
                false);
        });
    operationQueue_->addOperation(operation);
    shared_->searchTaskStarted = true;
}

void PhotoSearchHandler::didEnumFilesOnThread(QList<std::shared_ptr<NavSortFileInfo>> files,
                                              const std::shared_ptr<PhotoSearchTaskInfo>& curTaskInfo,
                                              const std::weak_ptr<Shared>& shared, const ProcessBlock& processBlock)
{
    if (files.isEmpty())
        return;
    LMPerformSelectorWrapper().performOnMainThreadWithBlock(
        [files = std::move(files), curTaskInfo, shared, processBlock]() mutable {
            const auto state = shared.lock();
            if (!state || state->taskInfo != curTaskInfo)
                return; // a batch of a task that was stopped or replaced
            const int sortType = state->environment.sortByType ? state->environment.sortByType() : NavSortByName;
            curTaskInfo->mergeFileInfos(std::move(files), sortType);
            if (processBlock)
                processBlock(curTaskInfo->createNavSortFileInfoList());
        },
        false);
}

bool PhotoSearchHandler::removeFromSearchedFiles(const QList<LMPathString>& files)
{
    return shared_->taskInfo ? shared_->taskInfo->removeFromFiles(files) : false;
}

qsizetype PhotoSearchHandler::insertToSearchedFiles(const LMPathString& file, const LMPathString& afterFile)
{
    if (!shared_->taskInfo)
        return 0;
    shared_->taskInfo->invalidateSortOrder();
    return shared_->taskInfo->insertToFiles(file, afterFile);
}

bool PhotoSearchHandler::renameForSearchedFiles(const QHash<LMPathString, LMPathString>& oldToNew)
{
    if (!shared_->taskInfo)
        return false;
    shared_->taskInfo->invalidateSortOrder();
    return shared_->taskInfo->renameForFiles(oldToNew);
}
