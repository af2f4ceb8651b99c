#pragma once
// An image file opened for reading: its type, its frames, their properties, and decoding of any
// frame at full size or scaled to a maximum pixel size. Decoded pixels are premultiplied RGBA,
// 8 bits per channel (QImage::Format_RGBA8888_Premultiplied), in the file's stored orientation.
//
// Every byte of the file is treated as hostile: a frame whose header claims more pixels than
// ImageLimits allows, or a file whose frames together exceed the decode budget, fails with an
// error text instead of exhausting memory.

#include <QImage>
#include <QRect>
#include <QString>
#include <QVariantMap>

#include <memory>

namespace kpv {

class FileContents;
class FormatDecoder;
class GifAnimation;

class ImageSource {
public:
    ~ImageSource();
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;

    // Opens the file and reads its header. Null when the file cannot be read or is of no
    // supported format; *error (when given) then says why. A large file is mapped, not copied:
    // its type, properties, stored thumbnail and pixels all come from that one mapping, and a
    // scaled decode touches no more of it than the decoder reads. A file another program cuts
    // short meanwhile makes the requests that read it fail with a message.
    static std::unique_ptr<ImageSource> createWithFile(const QString& path, QString* error = nullptr);
    // The same over bytes already in memory.
    static std::unique_ptr<ImageSource> createWithData(QByteArray data, QString* error = nullptr);
    // Whether a file that starts with `head` (its first few kilobytes) and is named `fileName` is
    // of a format the readers take: the choice createWithFile makes before it reads the picture.
    static bool isImageFormat(const QByteArray& head, const QString& fileName);

    // The content type identifier ("public.jpeg", "public.png", "com.compuserve.gif", ...).
    QString type() const;
    // Number of frames: more than 1 only for animated GIFs.
    int count() const;

    // Properties of frame `index`: pixel width and height, orientation, DPI, and the EXIF, TIFF,
    // GPS and GIF sub-dictionaries (key names in ImageProperties.h). Empty for a bad index.
    QVariantMap propertiesAtIndex(int index) const;

    // Full decode of frame `index`. A null image on failure, with *error set.
    QImage createImageAtIndex(int index, QString* error = nullptr) const;

    // Full decode of frame `index` with the alpha the file stores, not premultiplied
    // (QImage::Format_RGBA8888), so that writing it again keeps every colour level. Formats read
    // only premultiplied answer that (check the format). A null image on failure, with *error set.
    QImage createStraightImageAtIndex(int index, QString* error = nullptr) const;

    // Scaled decode: the longer side becomes `maxPixelSize` (never enlarged), aspect kept.
    // With `fromImageAlways` false only an embedded thumbnail is answered (null when the file
    // has none), scaled down to `maxPixelSize` when it is larger.
    QImage createThumbnailAtIndex(int index, int maxPixelSize, bool fromImageAlways,
                                  QString* error = nullptr) const;

    // An animated file's frames kept compact (a byte a pixel of each frame's own area) and
    // composed when asked for, instead of every frame decoded whole. Null, with *error set, for a
    // file without an animation or one that cannot be read.
    std::shared_ptr<const GifAnimation> createAnimation(QString* error = nullptr) const;
    // The part `rect` of frame `index` reduced by `reduction` (1, 2, 4 or 8): the reduced frame
    // measures ceil(width / reduction) x ceil(height / reduction) and `rect` lies inside it. Only
    // the part is decoded where the format allows (a JPEG; a PNG that is not interlaced reads
    // its rows down to the part's last; a TIFF reads the tiles or strips under the part; a still
    // WebP is cropped and scaled as it decodes), so a panorama far larger than the decode budget
    // can be shown piece by piece; other formats decode the frame whole at that scale, within the
    // budget. The bytes each request allocates are charged to the budget for its length. A
    // JPEG's, a PNG's, a TIFF's or a WebP's parts may be decoded from several threads at once. A
    // null image on failure, with *error set.
    QImage createImageInRect(int index, const QRect& rect, int reduction, QString* error = nullptr) const;
    // The size of frame `index` reduced by `reduction`, as createImageInRect counts it.
    QSize reducedFrameSize(int index, int reduction) const;

    // The file's bytes as opened (mapped or read), for another decoder of the same file; null for
    // a source made over bytes in memory.
    std::shared_ptr<const FileContents> contents() const { return m_contents; }

    // Every decode stops between rows when the load it runs for is cancelled
    // (DecodeBudget::CancelScope): it answers no picture, with DecodeBudget::cancelledError().

    // The last error of a decode, for callers that did not pass an error pointer.
    QString lastError() const { return m_lastError; }

private:
    ImageSource(QByteArray data, std::unique_ptr<FormatDecoder> decoder);
    QImage fullDecode(int index, bool straight, QString* error) const;
    // Whether the file's bytes went missing under a request (with *error, when given, saying so).
    bool cutShort(QString* error) const;
    // A request whose load was cancelled meanwhile answers no picture and the cancelled error.
    static void stoppedByCancel(QImage* image, QString* error);

    // Declared first so that it outlives the decoder, which refers to its bytes.
    std::shared_ptr<const FileContents> m_contents;
    QByteArray m_data;
    std::unique_ptr<FormatDecoder> m_decoder;
    mutable QVariantMap m_metadata;  // read once, on the first property request
    mutable bool m_metadataRead = false;
    mutable QString m_lastError;
};

}  // namespace kpv
