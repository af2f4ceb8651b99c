#pragma once
// What the thumbnail mode needs of the main window controller and the navigator. The shell
// connects an adapter; tests use a fake.

#include "Model/LMPathString.h"

#include <QDateTime>
#include <QList>
#include <cstddef>
#include <functional>

namespace kpv {
class View;
class Window;
}

class ThumbnailViewHost {
public:
    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
    virtual ~ThumbnailViewHost() = default;
    virtual long showMode() const = 0;
    virtual void setShowMode(long mode) = 0;
    virtual kpv::View* containerViewByShowMode(long) const { return nullptr; }
    virtual kpv::Window* window() const { return nullptr; }
    // The navigator's sorted list with each file's modification date (invalid when unknown).
    virtual QList<LMPathString> sortedFilePaths() const = 0;
    virtual QDateTime fileModificationDate(const LMPathString& path) const { return path.dateModified(); }
    virtual std::size_t curFileIndex() const = 0;
    virtual bool isCurFileModifiedAndCannotOverwriteable() const { return false; }
    // `done` gets true when the navigation did not take place; it may be empty.
    virtual void doNavCurFileToIndex(std::size_t index, std::function<void(bool)> done) = 0;
    virtual void deleteFiles(const QList<LMPathString>&) {}
    virtual void revealFilesInFinder(const QList<LMPathString>&) {}
};
