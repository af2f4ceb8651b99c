#pragma once

// Produces the image the user sees after turning or flipping it in the viewer, from the file's
// full-size original, on a queue of its own; optionally writes it to a path with the file's
// metadata. While a save works, user input is held back (key-up and left-mouse-up pass) and Esc
// cancels it, up to the moment the new file takes the old one's place: after that the save is
// done, Esc or not. Results come back on the main thread.
//
// The written pixels are always upright: the decoded pixels are first turned by the file's whole
// orientation transform (rotation and mirror), then by the user's turn, and the file is tagged
// with orientation 1. Writes go through the image destination, which replaces a file only by a
// complete new one, so a failed or cancelled save leaves the original as it was. A JPEG turned in
// place is transformed on its DCT blocks instead where that gives exactly the same picture.

#include "Model/LMNavFileInfo.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageDestination.h"
#include "Model/LMImageRotateAngle.h"

#include <QImage>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <vector>
#include <memory>
#include <optional>

class NavImageLoader;
namespace kpv {
class OperationQueue;
}

class NavigateSaveFileSession {
public:
    // Result codes of a save.
    enum Result : int { Done = 0, Failed = -1, Cancelled = -2 };
    // Originals of at least this many pixels make the begin block run even when no image is wanted.
    static constexpr double kBigImagePixels = 6000000.0;

    // A copy of the photo's bytes kept in memory: a path they can be read from, the identity of
    // the file they were copied from and the copy's own (what the path names is the copy only
    // while it has that identity). Empty when there is none.
    struct HeldCopy {
        QString path;
        kpv::FileIdentity copiedFrom;
        kpv::FileIdentity copy;
        bool isValid() const { return !path.isEmpty() && copiedFrom.isValid() && copy.isValid(); }
        bool stillThere() const { return isValid() && kpv::fileIdentity(path) == copy; }
    };

    using BeginBlock = std::function<void()>;
    using CompleteBlock = std::function<void(int result, const QImage &image)>;

    // `loader` decodes originals that are not decoded yet; not owned, outlives the session.
    explicit NavigateSaveFileSession(const NavImageLoader *loader);
    ~NavigateSaveFileSession();
    NavigateSaveFileSession(const NavigateSaveFileSession &) = delete;
    NavigateSaveFileSession &operator=(const NavigateSaveFileSession &) = delete;

    // Returns at once. Without a record, or with neither a path nor `convertOriginalImage`, the
    // complete block gets Failed at once on the calling thread. `asNewFile`: the user chose the
    // path for a new file (Save As), which may be the photo's own name once another program
    // moved the photo away; otherwise the photo's own path means writing the turn into it.
    // `heldSource`: the photo's bytes, still to be read (its metadata, its whole picture) once
    // another program moved it away or removed it; empty when there is none.
    void beginSaveFile(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &rotatedAngle, const QString &toPath,
                       const std::optional<QVariantMap> &saveParameters, bool convertOriginalImage,
                       BeginBlock beginBlock, CompleteBlock completeBlock, bool asNewFile = false,
                       const HeldCopy &heldSource = {});

    // The picture of the photo for printing, upright with the user's turn, at no more pixels than a
    // page takes; otherwise as beginSaveFile with no path.
    void beginPrintPicture(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &rotatedAngle,
                           BeginBlock beginBlock, CompleteBlock completeBlock);

    // Why the save whose complete block is running failed (empty when it did not fail); read it
    // inside the complete block.
    QString lastError() const;
    // Whether the save whose complete block is running wrote its file without the photo's tags
    // and comments (the folder stores none); read it inside the complete block.
    bool lastTagsLeftOut() const;
    // The type a file is written as over itself: the type its bytes have, when that is one this
    // program writes (JPEG, PNG, BMP, TIFF); the type its name gives when the bytes were never
    // read; empty when it cannot be written in place.
    static QString writeTypeOf(const LMFileImgBaseInfoPtr &info, const QString &path);
    // Why a turn cannot go into the file at `path`: another program moved or removed it.
    static QString goneError(const QString &path);

    // Cancels every save still queued or working (what Esc does).
    void cancelAll();
    // Saves begun whose complete block has not run yet.
    int runningSaves() const;
    // Runs `block` on the main thread after the complete block of the last running save, or at
    // once when none runs; with true when every save that ended meanwhile was done, false when
    // one failed or was cancelled.
    void performWhenIdle(std::function<void(bool allDone)> block);
    // Blocks until the queue is idle (tests and shut-down); results still arrive on the main loop.
    void waitUntilAllOperationsAreFinished();

    // The upright, turned image of a decoded original: the full orientation transform of the
    // source, then the user's turn. Null for a null original.
    static QImage uprightImage(const LMImage &original, const LMImageRotateAngle &userAngle);
    // uprightImage at no more than a page's pixels on its longer side.
    static QImage printPicture(const LMImage &original, const LMImageRotateAngle &userAngle);
    // The transform of the stored pixels that uprightImage makes for a file of this orientation
    // and this turn, as one of the eight a JPEG takes without re-encoding.
    static std::optional<kpv::LosslessTransform> losslessTransformFor(const LMFileImgBaseInfoPtr &info,
                                                                      const LMImageRotateAngle &userAngle);
    // `shown` (the premultiplied pixels uprightImage made) written as the file stores them: where
    // the picture has transparency, premultiplying loses colour levels, so the file at `path` is
    // decoded again with its alpha as stored and turned the same way. Answers `shown` itself when
    // nothing would be lost, or when the file no longer decodes to exactly what was shown.
    static QImage pixelsToWrite(const QImage &shown, const QString &path, const LMFileImgBaseInfoPtr &info,
                                const LMImageRotateAngle &userAngle);
    // Whether the file of `fileInfo`, turned by `userAngle` and written to `toPath`, is turned from
    // the file a band at a time: a PNG or TIFF of 16 bits per channel, written as PNG or TIFF, too
    // large to be held whole at that depth.
    static bool turnsInBands(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &userAngle,
                             const QString &toPath);

private:
    // beginSaveFile, or with `forPrint` the picture for a page (see beginPrintPicture).
    void beginWork(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &rotatedAngle, const QString &toPath,
                   const std::optional<QVariantMap> &saveParameters, bool convertOriginalImage, bool forPrint,
                   BeginBlock beginBlock, CompleteBlock completeBlock, bool asNewFile, const HeldCopy &heldSource);
    class Reporter;
    const NavImageLoader *m_loader;
    std::unique_ptr<kpv::OperationQueue> m_operationQueue;
    std::shared_ptr<bool> m_alive;
    std::shared_ptr<QString> m_lastError;
    std::shared_ptr<bool> m_lastTagsLeftOut;
    // Main thread only.
    struct Running {
        int count = 0;
        bool allDone = true;
        std::vector<std::function<void(bool)>> whenIdle;
    };
    std::shared_ptr<Running> m_running;
};
