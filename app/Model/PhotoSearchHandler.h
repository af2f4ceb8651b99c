#pragma once
// Finds the other image files that belong to an opening: the files in the sub-folders of the chosen
// folders (when sub-folders are wanted), or the other files of the folder of a single chosen file.
// The walk runs as one operation on the handler's own queue; what it finds reaches the main thread
// in batches of 200 (the folder of a single file in one hand-over when its walk ends), is merged
// into the task's sorted list there, and a copy of the whole list goes to the process block.
//
// All instance operations are for the main thread. Work of a task that is no longer current (a
// new submission or stopSearch came in between) is recognised on the main thread and dropped.

#include "Model/LMPathString.h"
#include "Model/NavSortFileInfoList.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class PhotoSearchTaskInfo;

namespace kpv {
class Operation;
class OperationQueue;
} // namespace kpv

// Why a folder could not be walked. The codes are those the rest of the application tests for.
struct PhotoSearchError {
    static constexpr int kFileReadUnknownError = 256;
    static constexpr int kFileReadNoPermissionError = 257; // the folder may not be read
    static constexpr int kFileReadNoSuchFileError = 260;   // no such folder

    int code = 0;
    QString path;
    QString message;
};

class PhotoSearchHandler {
public:
    using ProcessBlock = std::function<void(const NavSortFileInfoList&)>;
    using CompleteBlock = std::function<void(bool accessRefused)>;
    using FileEnumCallback = std::function<void(const LMPathString&)>;

    // What the search asks of the application: the supported extensions (lower case) and the
    // sort type in force. By default both come from the application's services.
    struct Environment {
        std::function<QStringList()> allowedFileExtensions;
        std::function<int()> sortByType;
    };

    PhotoSearchHandler();
    explicit PhotoSearchHandler(Environment environment);
    ~PhotoSearchHandler(); // stops the search
    PhotoSearchHandler(const PhotoSearchHandler&) = delete;
    PhotoSearchHandler& operator=(const PhotoSearchHandler&) = delete;

    // Stops any search, makes a new task and answers a copy of its list. Nothing runs yet.
    NavSortFileInfoList submitSearchTaskWithSearchedFilePaths(const QList<LMPathString>& searchedFilePaths,
                                                              const QStringList& choosedOriginalPaths,
                                                              bool includeSubDir);
    // Whether the current task needs a walk that has not been started.
    bool needStartSearch() const;
    // Queues the walk when needStartSearch(). `processBlock` receives the whole list after each
    // hand-over; `completeBlock` follows the last one, told whether reading a chosen folder was
    // refused. Neither is called for a task that was stopped or replaced.
    void startSearchWithProcessBlock(ProcessBlock processBlock, CompleteBlock completeBlock);
    // Cancels the walk and forgets the task.
    void stopSearch();

    // Keep the task's list in step with the caller's while batches may still arrive.
    bool removeFromSearchedFiles(const QList<LMPathString>& files);
    qsizetype insertToSearchedFiles(const LMPathString& file, const LMPathString& afterFile);
    bool renameForSearchedFiles(const QHash<LMPathString, LMPathString>& oldToNew);

    // The current task (nullptr when idle), for tests and the view's checks.
    const PhotoSearchTaskInfo* taskInfo() const;
    bool searchTaskStarted() const;

    // Walks one folder synchronously, on any thread: the regular files (links followed, broken
    // links skipped, hidden entries and their contents skipped) whose extension, lower-cased, is
    // one of `allowedFileExtensions`, each named by its path with links resolved. Unreadable
    // sub-folders are skipped. Answers nullopt when nothing matched, when the operation was
    // cancelled, or when the folder itself could not be read (then `error` tells why).
    static std::optional<QList<LMPathString>> EnumDirectoryFiles(const QUrl& folderURL, bool includeSubDir,
                                                                 const QStringList& allowedFileExtensions,
                                                                 bool stopWhileFindFirst,
                                                                 const kpv::Operation* operation = nullptr,
                                                                 PhotoSearchError* error = nullptr,
                                                                 const FileEnumCallback& fileEnumCallback = {});

    // Files handed to the main thread per batch.
    static constexpr int kBatchSize = 200;

private:
    struct Shared;
    static void didEnumFilesOnThread(QList<std::shared_ptr<NavSortFileInfo>> files,
                                     const std::shared_ptr<PhotoSearchTaskInfo>& curTaskInfo,
                                     const std::weak_ptr<Shared>& shared, const ProcessBlock& processBlock);

    std::shared_ptr<Shared> shared_;
    std::unique_ptr<kpv::OperationQueue> operationQueue_;
};
