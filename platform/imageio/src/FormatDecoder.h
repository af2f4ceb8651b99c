#pragma once
// The seam between ImageSource and the per-format readers. Each reader works on the whole file
// held in memory; it never reads past the span it was given.

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <thread>

namespace kpv {

class GifAnimation;

class FormatDecoder {
public:
    virtual ~FormatDecoder() = default;

    // Reads the header. False (with *error) when the bytes are not a usable file of the format.
    virtual bool open(const QByteArray& data, QString* error) = 0;
    virtual QString type() const = 0;
    virtual int frameCount() const { return 1; }
    // Stored pixel size of a frame (before any orientation).
    virtual QSize frameSize(int index) const = 0;
    // Decodes frame `index` as premultiplied RGBA. With `maxPixelSize` > 0 the reader may decode
    // at a reduced size no smaller than that (DCT scaling); the caller makes the exact size.
    virtual QImage decode(int index, int maxPixelSize, QString* error) = 0;
    // Full-size decode of frame `index` with alpha kept as stored (QImage::Format_RGBA8888).
    // Readers whose format has no partial alpha, or whose library only hands out premultiplied
    // pixels, answer their premultiplied decode, labelled as such.
    virtual QImage decodeStraight(int index, QString* error) { return decode(index, 0, error); }
    // The pixels inside `rect` of frame `index` reduced by `reduction` (1, 2, 4 or 8; the reduced
    // frame is ceil(size / reduction)), as premultiplied RGBA of the rect's size. The rect lies
    // inside the reduced frame (the caller checks). By default the frame is decoded whole at that
    // scale, within the decode budget, and the rect copied out; readers that can decode a part of
    // a frame do only that.
    virtual QImage decodeRegion(int index, const QRect& rect, int reduction, QString* error);
    // Properties the format itself carries (GIF delays, PNG density, ...), merged over the
    // metadata read from the file's EXIF block.
    virtual QVariantMap formatProperties(int index) const { return {}; }
    // An embedded preview stored in the file (besides the EXIF thumbnail), if any.
    virtual QImage embeddedThumbnail() { return {}; }
    // The frames of an animation, kept compact and composed on demand; null for a format
    // without one.
    virtual std::shared_ptr<const GifAnimation> animation(QString* error)
    {
        if (error)
            *error = QStringLiteral("the format holds no animation");
        return nullptr;
    }
};

// Sniffs the first bytes and makes the matching reader; null for an unknown format.
std::unique_ptr<FormatDecoder> makeDecoderFor(const QByteArray& data, const QString& fileName);

std::unique_ptr<FormatDecoder> makeJpegDecoder();
std::unique_ptr<FormatDecoder> makePngDecoder();
std::unique_ptr<FormatDecoder> makeGifDecoder();
std::unique_ptr<FormatDecoder> makeTiffDecoder();
std::unique_ptr<FormatDecoder> makeWebpDecoder();
std::unique_ptr<FormatDecoder> makeJpeg2000Decoder();
std::unique_ptr<FormatDecoder> makeBmpIcoDecoder(bool ico);
std::unique_ptr<FormatDecoder> makeRawDecoder();
// A reader of a further format the toolkit knows, by the bytes or else by the file's extension;
// null when neither names one.
std::unique_ptr<FormatDecoder> makeToolkitDecoder(const QByteArray& data, const QString& extension);

// Shared helpers of the readers.
namespace imageio_detail {
// A premultiplied copy of straight-alpha RGBA rows (in place when possible).
void premultiplyRgba(QImage& image);
// Charges `bytes` a reader is about to allocate to the process-wide decode budget, for as long
// as the ImageSource request that runs the decode lasts (waiting while other decodes hold too
// much). False, with *error set, when they exceed the whole budget.
bool reserveDecodeBytes(uint64_t bytes, QString* error);
// Whether the load this decode runs for was cancelled (DecodeBudget::CancelScope); when it was,
// *error (when given) says so, and the reader stops with no picture: never the rows it has so
// far, which would pass for a damaged file. Readers ask every kCancelPollRows rows, or between
// bands, tiles and strips.
bool decodeCancelled(QString* error);
constexpr unsigned kCancelPollRows = 16;
// A QImage of the given size in premultiplied RGBA, charged to the decode budget, or null when
// the size is refused by the limits or the budget or memory runs out (with *error set).
QImage allocateFrame(int width, int height, QString* error);
// While it lives, the memory of a large frame that a reader fills row by row from the top is made
// resident on a thread of its own, from the bottom row up to the rows written so far. A new frame's
// pages are cleared by the system when first written; for a frame of a gigabyte that costs as long
// as inflating its rows, and is done here beside the decode instead of after it. Touches no pixel;
// does nothing for a small frame or where the system cannot do it. Stopped (and joined) by its
// destructor, before the frame is handed on.
class FramePages {
public:
    explicit FramePages(const QImage& frame);
    ~FramePages();
    FramePages(const FramePages&) = delete;
    FramePages& operator=(const FramePages&) = delete;
    // The reader has written the rows above `row`.
    void written(int row) { m_written.store(row, std::memory_order_relaxed); }

private:
    void run();
    const uchar* m_bits = nullptr;
    qsizetype m_rowBytes = 0;
    int m_rows = 0;
    std::atomic<int> m_written{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
// The DPI entries of a property dictionary; empty unless both densities are positive.
QVariantMap densityProperties(double dpiX, double dpiY);
// Whether a JPEG (or PNG) file of this many bytes can hold the pixels its header declares; the
// frame is allocated only then, so a few hostile bytes never cost a gigabyte. Cut-off files that
// still hold a fair share of their data pass and decode in part.
bool jpegCanHold(uint64_t fileBytes, uint64_t width, uint64_t height);
// A PNG's `fileBytes` after its header must hold its rows at deflate's best, or, cut short, the
// rows of image data that arrived must be a fair share of the picture.
bool pngCanHold(const QByteArray& data, uint64_t fileBytes, uint64_t rawRowBytes, uint64_t width, uint64_t height);
bool gifCanHold(uint64_t fileBytes, uint64_t width, uint64_t height);
// Whether the bytes start as a TIFF file does: either byte order, the classic layout or the one of
// 64-bit offsets (BigTIFF) that scanners and slide readers write for files past 4 GB.
bool isTiffHeader(const QByteArray& data);
// Pages of a TIFF file and the largest bits per sample among them, and whether any page holds
// floating-point samples; false when the bytes are no readable TIFF.
bool tiffPages(const QByteArray& data, int* pages, int* bitsPerSample, bool* floatingPoint = nullptr);
// The samples of a TIFF file's first page, the picture shown and the one a rewrite keeps: their
// bits and whether they are floating point. False when the file cannot be read as a TIFF.
bool tiffFirstPageSamples(const QByteArray& data, int* bitsPerSample, bool* floatingPoint);
// Whether a GIF or WebP file holds more than one frame, by its blocks or chunks alone; false for
// any other bytes.
bool gifHasMoreFrames(const QByteArray& data);
bool webpHasMoreFrames(const QByteArray& data);
// Whether the file stops before the end its own header, blocks or chunks give for its picture
// data (a download that stopped, a copy cut off): such a file shows only what arrived. Told from
// the lengths alone, every one checked against the bytes present; nothing is decoded. False for
// bytes of another format, and for a file damaged so that no end can be told.
bool gifEndsEarly(const QByteArray& data);
bool webpEndsEarly(const QByteArray& data);
bool bmpEndsEarly(const QByteArray& data);
// A binary any-map file (P4, P5, P6).
bool pnmEndsEarly(const QByteArray& data);
// A TGA file has no signature at its start: only a header whose every field is one the format
// allows is taken for one.
bool tgaEndsEarly(const QByteArray& data);
// A TIFF whose first page (the picture shown) has a strip or tile running past the end of the file.
bool tiffEndsEarly(const QByteArray& data);
// The part `rect` of a PNG or TIFF picture of 16 bits a sample (grey or RGB, with or without
// alpha), as stored (not turned upright), as RGBA64: only the rows down to the part's last are
// read (all passes of an interlaced PNG), or the tiles under the part. The caller charges the
// part to the decode budget. A null picture, with *error set, for a file not so stored or damaged.
QImage pngSixteenBitPart(const QByteArray& data, const QRect& rect, QString* error);
QImage tiffSixteenBitPart(const QByteArray& data, const QRect& rect, QString* error);
// The rows of a PNG of 16 bits a sample that is not interlaced, read once from the top: each
// read() fills the next rows, as many as the band has, with the band's columns from `left`, as
// RGBA64 with straight alpha. The data must outlive the reader.
class PngSixteenBitRows {
public:
    PngSixteenBitRows();
    ~PngSixteenBitRows();
    PngSixteenBitRows(const PngSixteenBitRows&) = delete;
    PngSixteenBitRows& operator=(const PngSixteenBitRows&) = delete;
    // False, *error saying why, for a file not so stored or damaged; interlaced() then says
    // whether it was only the interlacing (whose rows come in passes over the whole picture).
    bool open(const QByteArray& data, QString* error);
    bool interlaced() const { return m_interlaced; }
    bool read(QImage* band, int left, QString* error);

private:
    struct State;
    std::unique_ptr<State> m_state;
    bool m_interlaced = false;
};
// Decodes a JPEG held in memory (used by the RAW reader for embedded previews).
QImage decodeJpegBytes(const unsigned char* data, size_t size, int maxPixelSize, QString* error);
}  // namespace imageio_detail

}  // namespace kpv
