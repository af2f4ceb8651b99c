#pragma once

// The photo loader: turns an image file into its base information and into decoded images at one
// of the image scale types or at a wanted pixel size, and resizes decoded images. One loader serves
// the whole process from many worker threads at once; it keeps no per-call state.
//
// Scale types 1..11: 1 full size; 2..7 each side divided by 2^(type-1), rounded up; 8 small
// thumbnail (the desktop's thumbnail within 160 x 160, else as 9); 9 large thumbnail (fits
// 256 x 256); 10 small fit-in (fits sizeForCheckSmallFitin); 11 large fit-in (fits
// sizeForCheckLargeFitin). A thumbnail or fit-in load is served at the exact size of a nearby
// reduced type when there is one (its equivalent type); the fit-in types of a GIF load every
// frame at full size.
//
// Every load answers nullptr on failure: unreadable or undecodable files, a file that changed on
// disk since its base information was read (or while it was being decoded), cancellation, a
// resampling error, missing memory, or limits that protect memory. Exceptions never leave.
// Decoded pixels keep the file's stored orientation.

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImage.h"
#include "Model/LMImageSourceFactory.h"
#include "Model/LMPathString.h"
#include "Model/LMPhotoLoaderInfoProvider.h"

#include "MdBitmap.h"
#include "foundation/Operation.h"

#include <QImage>
#include <QSizeF>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class LMPhotoLoader {
public:
    // One load of a file is often several calls: its description, then a thumbnail kept in it,
    // then a decode. While a scope lives on a thread, the loader's calls for its file on that
    // thread share one opening of the file (one mapping, never a copy of it), and the desktop's
    // thumbnail cache is checked against the file's identity as that opening saw it rather than
    // by looking at the file again. Made on the stack around the calls of one load; scopes nest,
    // the innermost one for the file serves.
    class LoadScope {
    public:
        explicit LoadScope(const LMPathString &path);
        ~LoadScope();
        LoadScope(const LoadScope &) = delete;
        LoadScope &operator=(const LoadScope &) = delete;

    private:
        friend class LMPhotoLoader;
        // The innermost scope of this thread for `path`, or null.
        static LoadScope *current(const LMPathString &path);
        // The file opened through `sources` on first use (null when it cannot be); null as well for
        // a loader over other sources than the one that opened it, which then opens its own.
        LMImageSourceReader *reader(const LMImageSourceFactory &sources, bool *shared);

        LMPathString m_path;
        LoadScope *m_outer = nullptr;
        const LMImageSourceFactory *m_openedBy = nullptr;
        std::unique_ptr<LMImageSourceReader> m_reader;
    };

    // Codec image types the loader tells apart.
    static constexpr uint64_t kAMCMImageTypeJPEG = 2;
    static constexpr uint64_t kAMCMImageTypeGIF = 4;
    // Box of the large thumbnail and longest side of the desktop thumbnail of type 8.
    static constexpr double kLargeThumbBox = 256;
    static constexpr int kSmallThumbMaxPixelSize = 160;

    // Told the frames of an animation decoded so far, as an image of 1, 2, 4, 8, ... frames, while
    // the others decode (never the whole animation, which the load answers); called on the
    // decoding thread.
    using FramesSoFarSink = std::function<void(const LMImagePtr &)>;

    // `mainScreenSize` is the main screen's frame size at start (empty without a screen); it is the
    // box of type 11 for the loader's whole life. Without `sources` the platform's image reader is
    // used.
    explicit LMPhotoLoader(const QSizeF &mainScreenSize = QSizeF(0, 0),
                           std::shared_ptr<const LMImageSourceFactory> sources = nullptr);
    LMPhotoLoader(const LMPhotoLoader &) = delete;
    LMPhotoLoader &operator=(const LMPhotoLoader &) = delete;

    LMPhotoLoaderInfoProvider *infoProvider() const { return m_infoProvider; }
    // Not owned. Set once, before the loader is used from worker threads.
    void setInfoProvider(LMPhotoLoaderInfoProvider *provider) { m_infoProvider = provider; }
    QSizeF sizeForCheckSmallFitin() const { return m_sizeForCheckSmallFitin; }
    QSizeF sizeForCheckLargeFitin() const { return m_sizeForCheckLargeFitin; }
    const LMImageSourceFactory &sources() const { return *m_sources; }

    // The file's base information, or nullptr. A null operation is never cancelled.
    LMFileImgBaseInfoPtr loadImgBaseInfo(const LMPathString &path, const kpv::Operation *operation) const;

    // An image of a scale type, with every frame of an animated file for the fit-in types.
    LMImagePtr loadImage(const LMPathString &path, int imageScaleType, LMFileImgBaseInfoPtr imageBaseInfo,
                         const kpv::Operation *operation, int *equivalentImageType = nullptr) const;
    // An image of a scale type. *equivalentImageType is written only when an image results: the
    // reduced type 1..7 whose exact size the image has when it was loaded for a type 8..11, else 0.
    // An animation decoded whole tells `framesSoFar` its frames as they decode.
    LMImagePtr loadImage(const LMPathString &path, int imageScaleType, LMFileImgBaseInfoPtr imageBaseInfo,
                         bool multipleFramesFlag, const kpv::Operation *operation, int *equivalentImageType,
                         const FramesSoFarSink &framesSoFar = {}) const;
    // An image of a wanted pixel size. A side below 1 decodes a one-pixel-wide (or -high) picture
    // and resizes it to the wanted size.
    LMImagePtr loadImage(const LMPathString &path, LMFileImgBaseInfoPtr imageBaseInfo, const QSizeF &wantImageSize,
                         bool multipleFramesFlag, const kpv::Operation *operation,
                         const FramesSoFarSink &framesSoFar = {}) const;

    // A new one-frame image of `toSize` pixels (sides below 1 count as 1); nullptr for a missing
    // image, a size of 0 x 0, an image whose file changed, or a size beyond the pixel limit.
    LMImagePtr resizeImage(const LMImagePtr &image, const QSizeF &toSize, const kpv::Operation *operation) const;

    // The pixel size to load for types 8..11 (0 x 0 for other types or without base information);
    // *equivalentImageType, when given, always receives the equivalent type or 0.
    QSizeF calcPreferredImageSizeForImageScaleType(int imageScaleType, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                                   int *equivalentImageType = nullptr) const;
    // Whether a display size calls for the small fit-in type 10 rather than the large one 11.
    bool isSmallFitinTypeByCheckSize(const QSizeF &size) const;
    // Whether the file's type (from the information provider) is a camera-raw type.
    bool isRawFile(const LMPathString &path) const;

    // Base information read through the image reader.
    LMFileImgBaseInfoPtr loadImgBaseInfoByCore(const LMPathString &path, const kpv::Operation *operation) const;
    // The codec-library readings: not available, always nullptr.
    LMFileImgBaseInfoPtr loadImgBaseInfoByAMCM(const LMPathString &path, const kpv::Operation *operation) const;
    LMImagePtr loadThumbByAMCM(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                               const kpv::Operation *operation) const;
    // The codec-library decode: a JPEG, PNG or BMP through the bitmap load, an animated GIF frame by
    // frame; bitmaps with alpha are premultiplied.
    LMImagePtr loadImageByAMCM(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                               const QSizeF &wantImageSize, bool multipleFramesFlag,
                               const kpv::Operation *operation) const;

    // Premultiplies an RGBA bitmap (format 0x37001777) in place: c = (a * c + 127) / 255. Other
    // formats, empty bitmaps and records without a plane are left alone.
    void premultiplyAlpha(MBITMAP *bitmap) const;
    // The premultiplication table, [alpha * 256 + value], built on first use (any thread).
    const uint8_t *preMtTable() const;

    // Decodes through the image reader at the wanted size (0 x 0 or the raw size: full size).
    static LMImagePtr loadImageByCore(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                      const QSizeF &wantImageSize, bool multipleFramesFlag,
                                      const kpv::Operation *operation,
                                      const LMImageSourceFactory &sources = *LMImageSourceFactory::platform(),
                                      const FramesSoFarSink &framesSoFar = {});
    // An animation with its first frame decoded and the others kept compact; null when the
    // source keeps no animation (the frames are then decoded whole).
    static LMImagePtr loadAnimation(const LMImageSourceReader &source, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                    const kpv::Operation *operation);
    // The desktop's thumbnail within 160 x 160.
    static LMImagePtr loadThumbByQL(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                    const kpv::Operation *operation,
                                    const LMImageSourceFactory &sources = *LMImageSourceFactory::platform());
    // The small thumbnail (within 160 x 160) when one costs no decode of the picture: the desktop's
    // cache (unless `inFileOnly`) or the thumbnail stored in the file; nullptr otherwise.
    LMImagePtr loadStoredSmallThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                    const kpv::Operation *operation, bool inFileOnly = false) const;
    // The large thumbnail (within 256 x 256) when one costs no decode of the picture: the desktop's
    // cache or the thumbnail stored in the file, when it has the large thumbnail's size (the
    // picture's own size for a smaller picture); nullptr otherwise and for a GIF.
    LMImagePtr loadStoredLargeThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                    const kpv::Operation *operation) const;
    // The thumbnail stored in the file (within 256 x 256), turned to match the raw frame's shape.
    static LMImagePtr loadThumbByCore(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                      const kpv::Operation *operation,
                                      const LMImageSourceFactory &sources = *LMImageSourceFactory::platform());
    // Keeps a large thumbnail made from the file's pixels in the desktop's thumbnail cache (see
    // LMImageSourceFactory::storeThumbnail), unless the file changed since it was read.
    void storeThumbnail(const LMImagePtr &thumbnail) const;
    // An image of one picture; nullptr when either is missing or the picture cannot be converted.
    static LMImagePtr createImageByImageRef(const QImage &image, const LMFileImgBaseInfoPtr &imageBaseInfo);
    // The reduced type 1..7 nearest to the scale that fits the raw size in `size`, or 0.
    static int estimateImageScaleTypeNearSize(const QSizeF &size, const LMFileImgBaseInfoPtr &imageBaseInfo);
    // The pixel size of types 1..7; 0 x 0 for other types or without base information.
    static QSizeF imageSizeByScaleType(int imageScaleType, const LMFileImgBaseInfoPtr &imageBaseInfo);
    // False only for JPEG.
    static bool hasAlphaByAMCMType(uint64_t AMCMImageType);

private:
    static bool isCancelled(const kpv::Operation *operation) { return operation && operation->isCancelled(); }

    // The file of one call, opened when first needed: its description, its stored thumbnail and
    // its pixels then come from that one opening (one mapping of the file, never a copy of it),
    // the opening of the thread's LoadScope for the file when there is one.
    class OpenedFile {
    public:
        OpenedFile(const LMImageSourceFactory &sources, const LMPathString &path) : m_sources(sources), m_path(path) {}
        // Null when the file cannot be opened (asked once).
        LMImageSourceReader *reader();
        // The identity of the file as it was opened (from the opening itself, not from its name);
        // invalid when it was not opened or its reader does not tell.
        kpv::FileIdentity identity();

    private:
        const LMImageSourceFactory &m_sources;
        const LMPathString &m_path;
        std::unique_ptr<LMImageSourceReader> m_reader;
        LMImageSourceReader *m_shared = nullptr;
        bool m_opened = false;
    };

    LMFileImgBaseInfoPtr loadImgBaseInfo(const LMPathString &path, const kpv::Operation *operation,
                                         OpenedFile &file) const;
    LMImagePtr loadStoredLargeThumb(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                    const kpv::Operation *operation, OpenedFile &file) const;
    // A JPEG's thumbnail of `size` made from the library's own decode at an eighth of the picture's
    // size; nullptr for other files, for pictures whose eighth is smaller than `size`, and when
    // that decoder does not take the file (the image reader then decodes it).
    LMImagePtr loadJpegThumbnailByEighth(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                                         const QSizeF &size, const kpv::Operation *operation, OpenedFile &file) const;
    LMImagePtr loadImageByAMCM(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo,
                               const QSizeF &wantImageSize, bool multipleFramesFlag, const kpv::Operation *operation,
                               std::shared_ptr<const kpv::FileContents> contents) const;
    LMFileImgBaseInfoPtr loadImgBaseInfoByCore(const LMPathString &path, const kpv::Operation *operation,
                                               OpenedFile &file) const;
    LMImagePtr loadImage(const LMPathString &path, LMFileImgBaseInfoPtr imageBaseInfo, const QSizeF &wantImageSize,
                         bool multipleFramesFlag, const kpv::Operation *operation,
                         const FramesSoFarSink &framesSoFar, OpenedFile &file) const;
    static LMImagePtr loadImageByCore(LMImageSourceReader *source, const LMPathString &path,
                                      const LMFileImgBaseInfoPtr &imageBaseInfo, const QSizeF &wantImageSize,
                                      bool multipleFramesFlag, const kpv::Operation *operation,
                                      const FramesSoFarSink &framesSoFar);

    LMPhotoLoaderInfoProvider *m_infoProvider = nullptr;
    QSizeF m_sizeForCheckSmallFitin{1024, 768};
    QSizeF m_sizeForCheckLargeFitin;
    std::shared_ptr<const LMImageSourceFactory> m_sources;
    mutable std::once_flag m_preMtTableOnce;
    mutable std::unique_ptr<uint8_t[]> m_preMtTable;
};
