#pragma once
// What the thumbnail mode needs of the main window controller and the navigator. The shell
// connects an adapter; tests use a fake. Every operation is the shell's to answer.

#include "Model/LMPathString.h"

#include <QDateTime>
#include <QList>
#include <cstddef>
#include <functional>

namespace kpv {
class Event;
class View;
class Window;
}

class ThumbnailViewHost {
public:
    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
    virtual ~ThumbnailViewHost() = default;
    virtual long showMode() const = 0;
    virtual void setShowMode(long mode) = 0;
    // Where the mode's view goes while it is shown (nullptr: nowhere to go).
    virtual kpv::View* containerViewByShowMode(long mode) const = 0;
    virtual kpv::Window* window() const = 0;
    // The navigator's sorted list with each file's modification date (invalid when unknown).
    virtual QList<LMPathString> sortedFilePaths() const = 0;
    virtual QDateTime fileModificationDate(const LMPathString& path) const = 0;
    virtual std::size_t curFileIndex() const = 0;
    virtual bool isCurFileModifiedAndCannotOverwriteable() const = 0;
    // `done` gets true when the navigation did not take place; it may be empty.
    virtual void doNavCurFileToIndex(std::size_t index, std::function<void(bool)> done) = 0;
    virtual void deleteFiles(const QList<LMPathString>& paths) = 0;
    // Sorts the navigator's list (and so the grid) by a sort type of the settings.
    virtual void sortFiles(long sortType) = 0;
    virtual void revealFilesInFinder(const QList<LMPathString>& paths) = 0;
    // Tells the user what a command of the grid could not do.
    virtual void tellFailure(const QString& message) = 0;
    // Runs a batch tool (18 rename, 19 resize, 20 convert) on the files.
    virtual void batchFiles(long actionId, const QList<LMPathString>& paths) = 0;
    // The grid's context menu at the event's location in `view`.
    virtual void popUpContextMenu(const kpv::Event& e, kpv::View* view) = 0;
};
