#pragma once

// The view's per-file cache of decoded images: one slot per image scale type, with the masks that
// record which types failed to load and which types share one decoded image. Loader threads file
// images while the main thread matches them to the view's scale, so every operation that reads or
// changes the slots holds the record's own (recursive) lock.
//
// Scale types 1..11: 1 full size; 2..7 the raw size divided by 2^(type-1); 8 small thumbnail;
// 9 large thumbnail; 10 small fit-in; 11 large fit-in. A set of types is a mask with bit (type-1).

#include "Model/LMFileInfo.h"
#include "Model/LMImage.h"
#include "imageio/FileAccess.h"

#include <QHash>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace LMScaleTypeMask {
inline constexpr int64_t kThumbnails = 0x180;          // types 8 and 9
inline constexpr int64_t kThumbnailsAndFitIn = 0x780;  // types 8 to 11
inline constexpr int64_t bit(int type) { return int64_t(1) << (type - 1); }
} // namespace LMScaleTypeMask

class LMNavFileInfo : public LMFileInfo {
public:
    static constexpr int kMinScaleType = 1;
    static constexpr int kMaxScaleType = 11;
    static constexpr int kSmallThumbType = 8;
    static constexpr int kLargeThumbType = 9;

    explicit LMNavFileInfo(const LMPathString &filePath) : LMFileInfo(filePath) {}

    // The image filed under `type`, or nullptr; *failFlag (when given) tells whether that type
    // failed to load, in which case the answer is always nullptr.
    LMImagePtr imageByType(int type, bool *failFlag = nullptr) const;
    // The same without taking the lock, for use inside locked operations.
    LMImagePtr atomImageByType(int type, bool *failFlag = nullptr) const;

    // Files an image under `type` and the types of `mask` (remembering the mask as the type's
    // equivalents), or, for a failure or a null image, marks the type and the mask's types failed.
    // Types outside 1..11 change nothing.
    void setImage(LMImagePtr image, bool failFlag, int type, int64_t equivalentImageTypeMask);
    // Mode 1 keeps the thumbnails, mode 2 the thumbnails and fit-in images (and any image that is
    // also filed under a kept type); failures stay. Mode 3 drops everything, failures included.
    void freeImages(int mode);
    // The image to show at `scale` (1 = raw pixel size). *preferredImageType, when given and a type
    // was found, becomes 0 or the type whose load would serve this scale better.
    LMImagePtr matchImageByScale(double scale, int *preferredImageType = nullptr, bool *failFlag = nullptr) const;
    // Replaces the small thumbnail by a better one of the same file version; false (and nothing
    // changed) when there is none yet, it failed, the versions differ or it is one image with the
    // large thumbnail.
    bool updateSmallThumb(LMImagePtr image);
    // A record for the same file under a new path, holding this record's images and failures. The
    // caller replaces this record by the new one.
    std::shared_ptr<LMNavFileInfo> navFileInfoByReplaceFilePath(const LMPathString &filePath) const;

    // The reduced type 1..7 nearest to `scale`, or 0 when the scale lies between two of them (with
    // onlyRealScale, the next larger reduced type instead).
    static int estimateImageScaleTypeNearScale(double scale, bool onlyRealScale);

    // Whole-table accessors. They take the lock too (it is recursive), so that reading them while a
    // loader files an image is never a data race.
    QHash<int, LMImagePtr> images() const;
    void setImages(const QHash<int, LMImagePtr> &images);
    QHash<int, int64_t> equivalentImageTypeMask() const;
    void setEquivalentImageTypeMask(const QHash<int, int64_t> &masks);
    int64_t failedImageTypeMask() const;
    void setFailedImageTypeMask(int64_t mask);
    // Why the file could not be read, in words for a person, as the first failed load told it;
    // empty while nothing failed or nothing said why. Dropped with the failures.
    QString failureReason() const;
    void setFailureReason(const QString &reason);

    // Whether the file is known to have changed since it was read (written over, replaced, gone):
    // its identity when it was read, or when a reading that learnt nothing of it failed, is not
    // its identity now. False when no identity was taken.
    bool fileChangedSinceRead() const;

private:
    mutable std::recursive_mutex m_lock;
    QHash<int, LMImagePtr> m_images;
    QHash<int, int64_t> m_equivalentImageTypeMask;
    int64_t m_failedImageTypeMask = 0;
    QString m_failureReason;
    // The file as it was when a load first failed without base information (none when missing).
    std::optional<kpv::FileIdentity> m_failedFileIdentity;
};

using LMNavFileInfoPtr = std::shared_ptr<LMNavFileInfo>;
