#pragma once

// The crop pipeline's worker: cuts the current file's full-size image to the raw crop rectangle,
// turns it upright by the file's orientation and the view's angle, and, depending on the action,
// keeps it in memory (preview), or writes it (favourite, copy, Save As). Runs on the crop save
// queue; everything it needs is captured when the operation is made.

#include "Model/LMImage.h"
#include "Model/LMNavFileInfo.h"
#include "Model/LMPathString.h"
#include "Model/LMImageRotateAngle.h"
#include "imageio/FileAccess.h"

#include <QRectF>
#include <QVariantMap>

#include <functional>
#include <optional>

class LMPhotoLoader;
namespace kpv {
class Operation;
}

class CropSaveWorker {
public:
    enum ActionType : int { Preview = 0, Favorite = 1, Copy = 2, SaveAs = 3 };
    static constexpr int kDone = 0;
    static constexpr int kFailed = -1;
    static constexpr int kCancelled = -2;

    struct Result {
        int code = kFailed;
        LMImagePtr croppedImage;   // nullptr when no crop was made
        LMImagePtr thumb;          // the written file's small thumbnail (favourite only)
        bool fileExisted = false;  // a file stood at the destination before writing
        QString error;             // why the file could not be written, when it could not
        bool tagsLeftOut = false;  // written without the photo's tags and comments (the folder stores none)
        bool sixteenBitsKept = false; // written from the photo's own samples at 16 bits per channel
    };

    // Hands the outcome of a load of the original made here to the view mode, which files it in
    // the record as for its own loads ({"filePath", "result", "ImageScaleType", "image",
    // "equivalentImageScaleType"}); called on the worker thread.
    using LoadRelay = std::function<void(const QVariantMap &loadResult)>;

    explicit CropSaveWorker(const LMPhotoLoader &loader) : m_loader(loader) {}

    // What may stand at the destination when the written file takes its place. mustBeNew:
    // nothing (the user chose a free name; one that appears meanwhile is left alone and the
    // write fails). A valid replaceOnly: only that file, as it was when the user agreed to
    // replace it (one changed since is left alone and the write fails).
    struct Destination {
        bool mustBeNew = false;
        kpv::FileIdentity replaceOnly;
    };
    void setDestination(const Destination &destination) { m_destination = destination; }

    Result beginSaveCropImageOnThread(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &angleRotate,
                                      const std::optional<LMPathString> &toFile,
                                      const std::optional<QVariantMap> &saveParameters, int actionType,
                                      const LMImagePtr &alreadyCroppedOriginalImage, const QRectF &cropRectOfRawImageFrame,
                                      const kpv::Operation *operation, const LoadRelay &relay = {}) const;

    // The crop alone (step one of the pipeline); *platformImage receives the picture made on the
    // way, when one was made. nullptr on failure, with the reason in *error when one is known.
    // A photo whose full-size picture is more than decodes may hold is cropped from the part
    // the user chose, read alone at full size.
    LMImagePtr cropImage(const LMNavFileInfoPtr &fileInfo, const LMImageRotateAngle &angleRotate,
                         const QRectF &rawRect, const kpv::Operation *operation, const LoadRelay &relay,
                         QImage *platformImage, QString *error = nullptr) const;

    // A free path for a temporary copy of `sourceFileName` in `folder`: its stem with ".jpg".
    static QString temporaryCropFilePath(const QString &folder, const QString &sourceFileName);

private:
    // The part `rawRect` of the file's stored picture at full size, read without the whole; null
    // (with *error) when it cannot be read, is itself more than decodes may hold, or the file
    // changed since `info` was read.
    QImage readRawPart(const LMNavFileInfoPtr &record, const LMFileImgBaseInfoPtr &info, const QRectF &rawRect,
                       const kpv::Operation *operation, QString *error) const;

    const LMPhotoLoader &m_loader;
    Destination m_destination;
};
