#pragma once
// Helpers for the editing-tool tests: a photo loader over the platform's image reader with the
// usual type table, and generated image files.

#include "../../support/FileSizeLimit.h"
#include "Model/LMPhotoLoader.h"
#include "Model/LMPhotoLoaderInfoProvider.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class EditTestTypes final : public LMPhotoLoaderInfoProvider {
public:
    AMCMHandle currentTheadAMCMHandle() override { return nullptr; }
    uint64_t imageTypeToAMCMType(const QString &uti) const override;
    QString fileUTIByPath(const LMPathString &path) const override;
    // Called on the worker's thread each time a run asks a file's type, before it reads the file.
    std::function<void(const LMPathString &)> onTypeAsked;
};

// One loader for the whole test program, with the type table above.
LMPhotoLoader &editTestLoader();
EditTestTypes &editTestTypes();

// Writes a picture of `size` filled with `colour` (a lighter left half, so turns can be seen) to
// `path` (type by extension), with an EXIF orientation and a resolution when they are not 0.
bool writeTestImage(const QString &path, QSize size, QColor colour = Qt::blue, int orientation = 0, double dpi = 0);
// The pixel size of an image file as stored, or an invalid size.
QSize storedImageSize(const QString &path);
// The stored orientation (1 when absent, 0 when unreadable).
int storedOrientation(const QString &path);
QImage readImage(const QString &path);

// A full disk for the length of a scope: no file of this process may grow past `bytes` (writes
// past it fail with "file too large" instead of raising the signal).
class DiskFullScope {
public:
    explicit DiskFullScope(unsigned long bytes) : m_limit(bytes) {}

private:
    kpv::test::FileSizeLimit m_limit;
};

// The bytes of a file, hashed, to prove that it was not touched; empty when it cannot be read.
QByteArray fileChecksum(const QString &path);

// A folder nobody may write into for the length of a scope: its mode bits are cleared, and where
// they do not stop the process (it runs as root) the folder is made immutable as well.
class ReadOnlyFolderScope {
public:
    explicit ReadOnlyFolderScope(const QString &path);
    ~ReadOnlyFolderScope();
    ReadOnlyFolderScope(const ReadOnlyFolderScope &) = delete;
    ReadOnlyFolderScope &operator=(const ReadOnlyFolderScope &) = delete;
    // Whether writing into the folder now fails.
    bool isReadOnly() const;

private:
    QString m_path;
    bool m_immutable = false;
};
