#pragma once
// Writes one image to a file as JPEG, JPEG 2000, PNG, BMP or TIFF, with the orientation,
// resolution, compression and quality given in a property dictionary (ImageProperties.h).
//
// The file is written beside the target under a temporary name and renamed over it only when
// everything was written: a failed save never damages an existing file.

#include "imageio/FileAccess.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace kpv {

// How a write treats the file it replaces and the file it came from.
struct ImageWriteOptions {
    // The file the picture was read from. Its metadata (EXIF with GPS, IPTC, XMP, the ICC
    // profile and the comment) is carried into the new file, with the orientation set to the one
    // the properties give (1 when they give none), the pixel dimensions to the new ones and the
    // stale EXIF thumbnail left out. JPEG, PNG and TIFF keep it; a write that cannot keep the
    // metadata of a source that has some fails instead of dropping it silently. A new file takes
    // the source's tags and comments kept beside its bytes (extended attributes) as well;
    // *attributesLeftOut, when given, is set when some could not be kept (a file system that
    // stores none), the file written all the same.
    QString metadataSourcePath;
    bool* attributesLeftOut = nullptr;
    // When valid: the file at the target path is replaced only while it is still this file (it
    // was read and decoded as such). A file replaced or rewritten by someone else meanwhile is
    // left alone and the write fails with kChangedOnDiskError.
    FileIdentity replaceOnly;
    // A new file: nothing standing at the path, or appearing there meanwhile, is replaced; the
    // write fails and *nameTaken (when given) is set, so the caller may take the next free name.
    bool createNew = false;
    bool* nameTaken = nullptr;
    // Asked once the new file is complete beside the target, just before it takes the target's
    // place: false abandons the write (the target stays as it was, the new file goes) and it
    // fails with cancelledError(). A user's cancel reaches into a long write this way.
    std::function<bool()> stillWanted;
};

// Turns and mirrors that a JPEG takes without decoding (the eight EXIF orientation transforms).
enum class LosslessTransform {
    None,
    FlipHorizontal,  // left and right exchanged
    FlipVertical,    // top and bottom exchanged
    Transpose,       // across the top-left to bottom-right diagonal
    Transverse,      // across the top-right to bottom-left diagonal
    Rotate90,        // clockwise
    Rotate180,
    Rotate270,
};

class ImageDestination {
public:
    // The content type that a file name asks for by its extension ("jpg", "jpeg", "jp2", "png",
    // "bmp", "tif", "tiff", compared in lower case); empty for any other name.
    static QString typeForPath(const QString& path);

    // Writes `image` (any QImage format; premultiplied alpha is undone where the file format
    // stores straight alpha) as `type`. Properties read:
    //   kCGImagePropertyOrientation (1 to 8), kCGImagePropertyDPIWidth / DPIHeight,
    //   kCGImageDestinationLossyCompressionQuality (JPEG and JPEG 2000; 1.0 is lossless for
    //   JPEG 2000), TIFF dictionary -> kCGImagePropertyTIFFCompression (1, 5, 32773, JPEG's 6
    //   and 7 or Deflate's 8 and 32946), and the text, number and rational entries of the EXIF
    //   and TIFF dictionaries, which JPEG, PNG and TIFF files carry on. What the source file's
    //   properties say of its storage is kept where the format has it: kCGImagePropertyColorModel
    //   "Gray" writes one grey channel (JPEG, PNG, TIFF; while the pixels are grey) and
    //   kCGImagePropertyHasAlpha true keeps an alpha channel even when every pixel is opaque.
    static bool writeImage(const QImage& image, const QString& path, const QString& type,
                           const QVariantMap& properties, QString* error = nullptr);
    static bool writeImage(const QImage& image, const QString& path, const QString& type,
                           const QVariantMap& properties, QString* error, const ImageWriteOptions& options);

    // Rewrites the JPEG at `path` turned or mirrored without decoding and encoding its pixels
    // again, so nothing of its quality is lost. Every marker is kept, with the metadata of
    // options.metadataSourcePath (the file itself when empty) carried as writeImage does and the
    // orientation set to 1. False, with the file untouched, when the file is no JPEG or its edge
    // blocks are partial so that the transform could not give exactly the turned picture; the
    // caller then writes the decoded pixels instead.
    static bool transformJpegLosslessly(const QString& path, LosslessTransform transform,
                                        const ImageWriteOptions& options, QString* error = nullptr);

    // The error text of a write refused because the target changed on disk since it was read.
    static QString changedOnDiskError(const QString& path);
    // The error text of a write abandoned because it was no longer wanted (stillWanted).
    static QString cancelledError(const QString& path);

    // Whether any pixel of a picture whose fourth sample is its alpha (RGBA8888 or RGBA64, straight or
    // premultiplied) is less than opaque: only such a picture, or one from a file that had an
    // alpha channel, is written with one.
    static bool hasTransparency(const QImage& rgba);
    // Whether any pixel of a picture of any format is less than opaque (false for a format
    // without alpha).
    static bool hasTransparentPixel(const QImage& picture);
    // A rewrite as PNG or TIFF of a PNG or TIFF file whose picture has 16 bits per channel (grey
    // or RGB, with or without alpha) keeps them; of a TIFF of several pages, the first page's.
    // Whether the file at `path` is one, by its header.
    static bool keepsSixteenBitsOnRewrite(const QString& path);
    // Its picture at full depth as stored (not turned upright), as RGBA64 with straight alpha; a
    // null picture, *error saying why, when it cannot be read so.
    static QImage readSixteenBitPicture(const QString& path, QString* error = nullptr);
    // The part `rect` of that picture, at full depth as stored (not turned upright), as RGBA64
    // with straight alpha, read without the whole: a picture far larger than decodes may hold
    // keeps its depth in a crop. The part is charged to the decode budget while it is read; a
    // null picture, *error saying why, when it cannot be read so.
    static QImage readSixteenBitPart(const QString& path, const QRect& rect, QString* error = nullptr);
    // That picture read once from the top, a band of rows at a time, at full depth as stored (not
    // turned upright), as RGBA64 with straight alpha: a picture far larger than the decode budget
    // holds whole at 16 bits is scaled or turned as its rows come.
    class SixteenBitRows {
    public:
        explicit SixteenBitRows(const QString& path);
        ~SixteenBitRows();
        SixteenBitRows(const SixteenBitRows&) = delete;
        SixteenBitRows& operator=(const SixteenBitRows&) = delete;
        // Empty when the file holds no such picture or cannot be read; error() says why.
        QSize size() const;
        QString error() const;
        // The next rows, as many as `band` has (RGBA64, as wide as the picture), charged to the
        // decode budget while they are read. False, error() saying why, past the last row or when
        // the file is damaged.
        bool read(QImage* band);

    private:
        struct State;
        std::unique_ptr<State> m_state;
    };
    // Writes that picture turned or mirrored by `transform` as `type` (PNG or TIFF) at `path`,
    // keeping its 16 bits per channel, a band of rows at a time, so a picture far larger than the
    // decode budget holds whole at 16 bits is turned too. The source is read once from the top: a
    // turn that takes columns, or rows from the bottom up, sets its turned bands aside in a file
    // without a name (in the target's folder, else the temporary one, where there is room for it;
    // gone with the write however it ends) and codes the new file's rows from there. Without the
    // room, each band is read from the source as it is wanted. The file is written beside the
    // target and put in its place as writeImage's are (the same properties and options, the
    // metadata carried alike); the source changed meanwhile, the write fails and the target stays.
    // The layout is the source's (grey or colour, alpha or not), rows are stored in order (not
    // interlaced) and a compressed TIFF is written with Deflate. `cancelled`, asked between bands,
    // abandons the write. With `part`, only that part of the stored picture is written (a crop).
    static bool writeSixteenBitTransformed(const QString& sourcePath, LosslessTransform transform, const QString& path,
                                           const QString& type, const QVariantMap& properties, QString* error,
                                           const ImageWriteOptions& options,
                                           const std::function<bool()>& cancelled = {}, const QRect& part = {});
    // `image` turned or mirrored by `transform`.
    static QImage transformed(const QImage& image, LosslessTransform transform);
    // Whether a part of `size` could be read so within the decode budget, *error saying why not.
    static bool sixteenBitPartFits(const QSize& size, QString* error = nullptr);
    // Whether a picture written as `type` keeps 16 bits per channel (PNG and TIFF).
    static bool typeKeepsSixteenBits(const QString& type);

    // How a file is rewritten: turned (a JPEG whose edges are whole blocks is turned on its
    // blocks and keeps its inks) or replaced by a new picture coded from RGB pixels (a crop).
    enum class Rewrite { Turn, NewPicture };
    // What rewriting the file at `path` as one 8-bit picture would drop, in words for a question
    // ("3 pages", "the animation", "16 bits per channel", the CMYK colours of a file whose rewrite
    // must be coded from RGB); empty when nothing. Files that cannot
    // be read answer empty: the write itself then reports the failure.
    // With `keepsSixteenBits`, the picture written keeps 16 bits per channel: only more is lost.
    static QStringList contentLostByRewriting(const QString& path, Rewrite how = Rewrite::Turn,
                                              bool keepsSixteenBits = false);
    // The same over the file's bytes.
    static QStringList contentLostByRewritingData(const QByteArray& data, Rewrite how = Rewrite::Turn,
                                                  bool keepsSixteenBits = false);
    // What a new file of `type`, written from the photo at `path` as one picture, lacks of it, in
    // words for a report after it was written: what rewriting it drops (as above), and the
    // photo's camera data, IPTC and XMP blocks, colour profile and comment where it has them and
    // the type cannot hold them. Read from the file's headers and metadata blocks, never its
    // picture; empty when nothing, or when the file cannot be read.
    static QStringList contentLostInNewFile(const QString& path, const QString& type, bool keepsSixteenBits);
    // The same over the file's bytes.
    static QStringList contentLostInNewFileData(const QByteArray& data, const QString& type, bool keepsSixteenBits);

private:
    static QStringList lostByRewriting(const QByteArray& data, Rewrite how, bool keepsSixteenBits, bool written);
    static QStringList metadataNotHeldBy(const QByteArray& data, const QString& type);
};

}  // namespace kpv
