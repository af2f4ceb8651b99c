#pragma once
// An image file opened for reading: its type, its frames, their properties, and decoding of any
// frame at full size or scaled to a maximum pixel size. Decoded pixels are premultiplied RGBA,
// 8 bits per channel (QImage::Format_RGBA8888_Premultiplied), in the file's stored orientation.
//
// Every byte of the file is treated as hostile: a frame whose header claims more pixels than
// ImageLimits allows, or a file whose frames together exceed the decode budget, fails with an
// error text instead of exhausting memory.

#include <QImage>
#include <QString>
#include <QVariantMap>

#include <memory>

namespace kpv {

class FileContents;
class FormatDecoder;

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

    // The last error of a decode, for callers that did not pass an error pointer.
    QString lastError() const { return m_lastError; }

private:
    ImageSource(QByteArray data, std::unique_ptr<FormatDecoder> decoder);
    QImage fullDecode(int index, bool straight, QString* error) const;
    // Whether the file's bytes went missing under a request (with *error and the last error set).
    bool cutShort(QString* error) const;

    // Declared first so that it outlives the decoder, which refers to its bytes.
    std::shared_ptr<const FileContents> m_contents;
    QByteArray m_data;
    std::unique_ptr<FormatDecoder> m_decoder;
    mutable QVariantMap m_metadata;  // read once, on the first property request
    mutable bool m_metadataRead = false;
    mutable QString m_lastError;
};

}  // namespace kpv
