#pragma once
// What the mini window's views ask of the shell: the show mode, the controller's rotation state,
// opening dropped files and the window buttons' commands. Connected by the shell; tests use a fake.

#include <QStringList>

class MiniWindowShell {
public:
    virtual ~MiniWindowShell() = default;
    virtual long showMode() const = 0;
    virtual bool isImageRotating() const = 0;
    virtual bool viewPhotosInSubfolder() const = 0;
    // Whether the paths hold a supported image (folders searched, with sub-folders when asked).
    virtual bool hasSupportedFileInPaths(const QStringList& paths, bool includeSubDir) const = 0;
    virtual void openFiles(const QStringList& paths, bool includeSubDir) = 0;
    virtual void performZoom() = 0;
    virtual void switchToNormalMode() = 0;
    virtual void miniaturize() = 0;
};
