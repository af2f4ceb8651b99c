#pragma once

// What the view-mode controller's load workers ask of the photo loader, as an interface so that
// the scheduling and filing can be tested with a loader that decodes nothing. The application uses
// NavPhotoLoaderAdapter over the one shared LMPhotoLoader. Every operation may run on any worker
// thread at the same time as the others.

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImage.h"
#include "Model/LMImageSourceReader.h"
#include "Model/LMPathString.h"

#include <QRect>
#include <QSizeF>

#include <functional>
#include <memory>
#include <mutex>

namespace kpv {
class Operation;
}
class LMPhotoLoader;

class NavImageLoader {
public:
    virtual ~NavImageLoader() = default;

    virtual LMFileImgBaseInfoPtr loadImgBaseInfo(const LMPathString &path, const kpv::Operation *operation) const = 0;
    // Told the frames of an animation decoded so far (an image of 1, 2, 4, ... frames) on the
    // loading thread, while the others decode.
    using FramesSoFarSink = std::function<void(const LMImagePtr &)>;

    // *equivalentImageType receives the scale type the image actually has (0 when none). An
    // animation decoded whole tells `framesSoFar` its frames as they decode.
    virtual LMImagePtr loadImage(const LMPathString &path, int imageScaleType, LMFileImgBaseInfoPtr imageBaseInfo,
                                 const kpv::Operation *operation, int *equivalentImageType,
                                 const FramesSoFarSink &framesSoFar) const = 0;
    virtual LMImagePtr resizeImage(const LMImagePtr &image, const QSizeF &toSize,
                                   const kpv::Operation *operation) const = 0;
    // The small thumbnail when one costs no decode (a cached or stored one), else nullptr: the
    // caller then makes it from the large thumbnail, so that the file is decoded once for both.
    // `inFileOnly`: only one the file stores, not the desktop cache's.
    virtual LMImagePtr loadStoredSmallThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                            const kpv::Operation *operation, bool inFileOnly) const = 0;
    // The large thumbnail when one costs no decode (a cached one, or one stored in the file at
    // the large thumbnail's size), else nullptr. None by default.
    virtual LMImagePtr loadStoredLargeThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                            const kpv::Operation *operation) const
    {
        (void)path, (void)imageBaseInfo, (void)operation;
        return nullptr;
    }
    // A thumbnail (type 8 or 9) made from a larger picture of the file already decoded, at the
    // size and with the equivalent type a decode would give; nullptr when `image` is smaller.
    virtual LMImagePtr thumbnailFromImage(const LMImagePtr &image, int imageScaleType,
                                          const kpv::Operation *operation, int *equivalentImageType) const;
    // Whether a quick picture is worth a decode of its own when the file stores none: for a JPEG
    // so large that its sharp picture takes a while, whose quick one a smaller DCT scale makes
    // sooner, and for an animation (its first frame). Other files are shown first by their sharp
    // picture.
    static bool quickPictureWorthDecoding(const QString &typeIdentifier, int64_t fileBytes);
    static bool quickPictureWorthDecoding(const LMFileImgBaseInfoPtr &imageBaseInfo);
    // Pixel size of the reduced types 1..7 (0 x 0 otherwise).
    virtual QSizeF imageSizeByScaleType(int imageScaleType, const LMFileImgBaseInfoPtr &imageBaseInfo) const;
    // Pixel size to load for types 8..11; *equivalentImageType always receives a type or 0.
    virtual QSizeF calcPreferredImageSizeForImageScaleType(int imageScaleType,
                                                           const LMFileImgBaseInfoPtr &imageBaseInfo,
                                                           int *equivalentImageType) const = 0;
    // Whether a view of that size shows the small fit-in type (10) rather than the large one (11).
    virtual bool isSmallFitinTypeByCheckSize(const QSizeF &size) const = 0;
    // The part `rect` of the picture reduced by `reduction` (1, 2, 4 or 8; pixels of the reduced
    // picture), for the view's sharp regions; nullptr when it cannot be decoded, the operation was
    // cancelled or the file changed since `imageBaseInfo` was read. None by default.
    virtual LMImagePtr loadImageRegion(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                       const QRect &rect, int reduction, const kpv::Operation *operation) const
    {
        (void)path, (void)imageBaseInfo, (void)rect, (void)reduction, (void)operation;
        return nullptr;
    }
    // No more regions of the file are wanted for now: what was kept open for them goes.
    virtual void releaseRegionSource() const {}
};

class NavPhotoLoaderAdapter final : public NavImageLoader {
public:
    // Not owned; the loader outlives every load operation (it lives as long as the process).
    explicit NavPhotoLoaderAdapter(const LMPhotoLoader *loader) : m_loader(loader) {}

    // The large fit-in image of a JPEG as the loader decodes it for a screen of `screenSize`, made
    // by a NavLaunchPicture of the sharp kind while the program starts; null for other files.
    static QImage decodeLaunchFitin(const QString &path, const QSizeF &screenSize);

    LMFileImgBaseInfoPtr loadImgBaseInfo(const LMPathString &path, const kpv::Operation *operation) const override;
    LMImagePtr loadImage(const LMPathString &path, int imageScaleType, LMFileImgBaseInfoPtr imageBaseInfo,
                         const kpv::Operation *operation, int *equivalentImageType,
                         const FramesSoFarSink &framesSoFar) const override;
    LMImagePtr resizeImage(const LMImagePtr &image, const QSizeF &toSize,
                           const kpv::Operation *operation) const override;
    LMImagePtr loadStoredSmallThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                    const kpv::Operation *operation, bool inFileOnly) const override;
    LMImagePtr loadStoredLargeThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                    const kpv::Operation *operation) const override;
    LMImagePtr thumbnailFromImage(const LMImagePtr &image, int imageScaleType, const kpv::Operation *operation,
                                  int *equivalentImageType) const override;
    QSizeF calcPreferredImageSizeForImageScaleType(int imageScaleType, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                                   int *equivalentImageType) const override;
    bool isSmallFitinTypeByCheckSize(const QSizeF &size) const override;
    LMImagePtr loadImageRegion(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo, const QRect &rect,
                               int reduction, const kpv::Operation *operation) const override;
    void releaseRegionSource() const override;

private:
    const LMPhotoLoader *m_loader;
    // The file the regions are decoded from, opened once for those decoded side by side, and
    // closed when the last of them is done.
    mutable std::mutex m_regionMutex;
    mutable std::shared_ptr<const LMImageSourceReader> m_regionSource;
    mutable int m_regionDecodes = 0;
    mutable LMFileImgBaseInfoPtr m_regionSourceInfo;
};
