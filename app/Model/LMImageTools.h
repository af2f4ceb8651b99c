#pragma once

// Image arithmetic and image writing shared by the viewer, the loader, the batch tools, crop mode
// and sharing: turning, flipping and scaling a picture by a rotation angle, writing it through
// the image writer with the type chosen by the file name, building the property dictionary that
// goes with a save, and the size arithmetic for fitting and turning. Stateless; any thread.
//
// Angles are degrees; a positive angle turns the picture clockwise as seen on screen. Pictures are
// QImages; results are premultiplied RGBA.

#include "Model/LMImageRotateAngle.h"
#include "imageio/ImageDestination.h"

#include <QImage>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <optional>

class LMImageTools {
public:
    // Scaling modes of calcScalingSize.
    enum Scaling : int {
        ScaleProportionallyDown = 0,  // fit, never enlarge
        ScaleAxesIndependently = 1,   // the destination size
        ScaleNone = 2,                // the source size
        ScaleProportionallyUpOrDown = 3,
        ScaleProportionallyFill = 4,  // cover the destination
    };

    // The picture turned by whole degrees; null for a null picture.
    static QImage imageRotatedByAngle(const QImage &image, int angle);
    // The same picture when the angle neither turns nor flips, else a turned and flipped copy.
    static QImage imageRotatedByAngle(const QImage &image, const LMImageRotateAngle &angleObject);
    // The picture turned by whole degrees and scaled to `finalSize` pixels.
    static QImage convertImage(const QImage &image, int rotate, const QSizeF &finalSize);
    // The picture turned about its centre, scaled by the factors about the centre of the output,
    // then mirrored as the angle says. Null for a null picture or an empty output.
    static QImage convertImage(const QImage &image, const LMImageRotateAngle &rotate, double scaleX, double scaleY);

    // Writes the picture; the type comes from the path's extension ("jpg", "jpeg", "jp2", "png",
    // "bmp", "tif", "tiff", any case). False for an unknown extension or a failed write; an
    // existing file is replaced only by a complete new one.
    static bool saveImage(const QImage &image, const QString &toFile, const QVariantMap &properties);
    // The same with the source file whose metadata the new file keeps, and the identity the
    // target must still have to be replaced (ImageWriteOptions); *error says why a write failed.
    static bool saveImage(const QImage &image, const QString &toFile, const QVariantMap &properties,
                          const kpv::ImageWriteOptions &options, QString *error = nullptr);
    // Write options that carry the metadata of the file at `sourcePath` (none for a memory image).
    static kpv::ImageWriteOptions writeOptionsKeepingMetadataOf(const QString &sourcePath);

    // A copy of the properties with the orientation entries (root, TIFF, IPTC) that exist set to
    // `orientation`; nullopt for absent properties.
    static std::optional<QVariantMap> createPropertiesFrom(const std::optional<QVariantMap> &properties, int setOrientation);
    // The same, and with a resolution other than 0: DPI width and height in the root (added when
    // absent) and, when there is a TIFF dictionary, its resolutions with the unit inches.
    static std::optional<QVariantMap> createPropertiesFrom(const std::optional<QVariantMap> &properties, int setOrientation,
                                                           double setDpi);
    // Copies the sub-dictionary `key` of the old properties into the new ones and answers the copy
    // (as stored), or nullopt when the old properties have none.
    static std::optional<QVariantMap> rebuildPropertyDictForNewProperties(QVariantMap &newProperties,
                                                                          const QVariantMap &fromOldProperties,
                                                                          const QString &forKey);
    // Properties with the TIFF compression and the lossy quality of the save parameters merged in;
    // the properties unchanged without parameters; nullopt for absent properties.
    static std::optional<QVariantMap> createPropertiesFrom(const std::optional<QVariantMap> &properties,
                                                           const std::optional<QVariantMap> &mergeBySaveParameters);

    static QSizeF calcScalingSize(const QSizeF &source, const QSizeF &destination, int scaling);
    // Bounding size of a size turned by whole degrees (not made whole).
    static QSizeF calcRotatedSize(const QSizeF &size, int rotate);
    // 0: the turned image fits strictly inside; 1: one side equals the fit size; 2: otherwise.
    static int compareImageWithSize(const QSizeF &imageSize, int imageAngle, const QSizeF &toFitSize);
};
