#pragma once

// The base information of an image file as the photo loader read it: type, codec image type,
// modification date, stored pixel size, EXIF orientation and the display rotation that follows,
// the property dictionary and an animated GIF's frame delay. Immutable after construction and
// shared (std::shared_ptr<const LMFileImgBaseInfo>) by the file records and every decoded image.
//
// Orientation: the stored pixels are turned clockwise by orientationAngle() and then, when
// isOrientationMirrored(), mirrored left to right. Orientations 2, 4, 5 and 7 carry that mirror
// (4 = turn 180 then mirror, 5 = turn 90 then mirror, 7 = turn 270 then mirror).

#include "Model/LMPathString.h"
#include "imageio/FileAccess.h"

#include <QDateTime>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <memory>

class LMFileImgBaseInfo {
public:
    // Orientation 0 is stored as 1. The orientation alone decides the turn and the mirror, whatever
    // the shape of the stored pixels: a portrait photo stored portrait and tagged 6 is turned too,
    // as the camera asked and as every other program shows it.
    LMFileImgBaseInfo(const LMPathString &filePath, const QString &imageUTI, uint64_t AMCMImageType,
                      const QDateTime &fileModificationDate, const QSizeF &rawFrameSize, int64_t orientation,
                      const QVariantMap &properties, const kpv::FileIdentity &fileIdentity = {});

    // An image held only in memory: the memory-file path, no type, no date, orientation 1.
    static std::shared_ptr<const LMFileImgBaseInfo> createMemoryFileImgBaseInfoWithRawFrameSize(const QSizeF &rawFrameSize,
                                                                                                const QVariantMap &properties);
    // The same information under another path (a renamed file).
    std::shared_ptr<const LMFileImgBaseInfo> fileImgBaseInfoByReplaceFilePath(const LMPathString &filePath) const;
    // The same for a copy of the file at `filePath`, which is told from other versions by its own
    // identity.
    std::shared_ptr<const LMFileImgBaseInfo> fileImgBaseInfoByReplaceFilePath(const LMPathString &filePath,
                                                                             const kpv::FileIdentity &fileIdentity) const;

    // Display rotation of an EXIF orientation: 3 and 4 give 180, 5 and 6 give 90, 7 and 8 give 270,
    // anything else 0.
    static int64_t angleByOrientation(int64_t orientation);
    // Whether an EXIF orientation mirrors the picture (2, 4, 5 and 7).
    static bool isMirroredOrientation(int64_t orientation);

    const LMPathString &filePath() const { return m_filePath; }
    const QString &imageUTI() const { return m_imageUTI; }
    uint64_t AMCMImageType() const { return m_AMCMImageType; }
    // Invalid for a memory image.
    const QDateTime &fileModificationDate() const { return m_fileModificationDate; }
    QSizeF rawFrameSize() const { return m_rawFrameSize; }
    int64_t rawOrientation() const { return m_rawOrientation; }
    int64_t orientationAngle() const { return m_orientationAngle; }
    bool isOrientationMirrored() const { return m_orientationMirrored; }
    const QVariantMap &properties() const { return m_properties; }
    // Seconds per frame of an animated GIF: 0.03 without a stored delay; stored delays below
    // 0.02 s (0 among them, which means "as fast as possible") play at 0.1 s, as browsers do.
    double delayTime() const { return m_delayTime; }

    QRectF rawFrameRect() const { return QRectF(QPointF(0, 0), m_rawFrameSize); }
    // The raw rectangle turned by orientationAngle about the origin (the bounding box of its
    // corners, with the y-up rotation used by the view's matrices).
    QRectF frameRect() const;
    // The displayed pixel size: width and height exchanged for 90 and 270 degrees.
    QSizeF frameSize() const;

    // True when the file changed on disk since this information was read (or is gone); never for
    // a memory image. With the file's identity known (taken before it was read) another inode,
    // size or modification time counts as a change, so a file replaced by rename or rewritten
    // within the same second is caught too; without it the modification date decides.
    bool fileModified() const;
    // The identity of the file as it was read; invalid when not known.
    const kpv::FileIdentity &fileIdentity() const { return m_fileIdentity; }
    // Same path and same modification date; information without a date equals nothing.
    bool isEqual(const LMFileImgBaseInfo &other) const;
    // The file's size in bytes, 0 when it cannot be read.
    uint64_t fileSize() const;
    // Resolution from the properties (single precision, as stored); 0 for missing values.
    QSizeF dpi() const;

private:
    LMPathString m_filePath;
    QString m_imageUTI;
    uint64_t m_AMCMImageType = 0;
    QDateTime m_fileModificationDate;
    QSizeF m_rawFrameSize;
    int64_t m_rawOrientation = 1;
    int64_t m_orientationAngle = 0;
    bool m_orientationMirrored = false;
    QVariantMap m_properties;
    double m_delayTime = 0.03;
    kpv::FileIdentity m_fileIdentity;
};

using LMFileImgBaseInfoPtr = std::shared_ptr<const LMFileImgBaseInfo>;
