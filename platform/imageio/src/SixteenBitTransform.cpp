// A PNG or TIFF of 16 bits per channel turned or mirrored and written at that depth a band of rows
// at a time, for pictures far larger than the decode budget holds whole at 16 bits.
//
// The file's header and metadata come from the writer's own road: a prototype of one row is coded
// and given the metadata exactly as writeImage does, then its pixel data is swapped for the real
// rows, coded as they come. In a PNG the header chunk gets the real height and the image data
// chunks are replaced; in a TIFF the strips are appended after the prototype and its first
// directory is pointed at them (height, rows per strip, strip offsets and byte counts).

#include "imageio/ImageDestination.h"

#include "Encoders.h"
#include "FormatDecoder.h"
#include "MFileReplace.h"
#include "MPngChunks.h"
#include "foundation/FileReplace.h"
#include "foundation/TerminationSignals.h"
#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"

#include <QDir>
#include <QFileInfo>
#include <QTransform>

#include <zlib.h>

#include <algorithm>
#include <optional>
#include <system_error>
#include <thread>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kpv {
namespace {

bool swapsSides(LosslessTransform t)
{
    using T = LosslessTransform;
    return t == T::Rotate90 || t == T::Rotate270 || t == T::Transpose || t == T::Transverse;
}

// The part of the stored picture (width x height) that gives rows [top, top + rows) of the
// transformed one.
QRect sourceOfBand(LosslessTransform t, quint32 width, quint32 height, int top, int rows)
{
    using T = LosslessTransform;
    switch (t) {
    case T::None:
    case T::FlipHorizontal: return QRect(0, top, int(width), rows);
    case T::FlipVertical:
    case T::Rotate180: return QRect(0, int(height) - top - rows, int(width), rows);
    case T::Rotate90:
    case T::Transpose: return QRect(top, 0, rows, int(height));
    case T::Rotate270:
    case T::Transverse: return QRect(int(width) - top - rows, 0, rows, int(height));
    }
    return {};
}

// Where the part `rect` of the stored picture (width x height) lands in the transformed one.
QRect targetOf(LosslessTransform t, quint32 width, quint32 height, const QRect& rect)
{
    using T = LosslessTransform;
    const auto map = [&](int x, int y) -> QPoint {
        const int w = int(width) - 1, h = int(height) - 1;
        switch (t) {
        case T::None: return {x, y};
        case T::FlipHorizontal: return {w - x, y};
        case T::FlipVertical: return {x, h - y};
        case T::Rotate180: return {w - x, h - y};
        case T::Rotate90: return {h - y, x};
        case T::Rotate270: return {y, w - x};
        case T::Transpose: return {y, x};
        case T::Transverse: return {h - y, w - x};
        }
        return {x, y};
    };
    const QPoint a = map(rect.left(), rect.top()), b = map(rect.right(), rect.bottom());
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())), QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

// The whole of `size` bytes written at, or read from, `at` (by pwrite or pread); false on an
// error or an early end.
template <class Byte, class Io>
bool wholeAt(Io io, int fd, Byte* data, size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t n = io(fd, data, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
        at += n;
    }
    return true;
}

bool pwriteAll(int fd, const void* data, size_t size, off_t at)
{
    return wholeAt(::pwrite, fd, static_cast<const char*>(data), size, at);
}

bool preadAll(int fd, void* data, size_t size, off_t at)
{
    return wholeAt(::pread, fd, static_cast<char*>(data), size, at);
}

// The turned picture's pixels between the one pass over the source and the coding of the new
// file: blocks of RGBA64 rows in a file without a name, which goes with its descriptor however
// the write ends. It lies in the first of the folders with room for it (and, in the target's
// own folder, for the new file beside it), its room taken before anything is written.
class Spill {
public:
    Spill() = default;
    Spill(const Spill&) = delete;
    Spill& operator=(const Spill&) = delete;
    ~Spill()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // `folders` with what each needs besides the blocks' `bytes`.
    bool open(const std::vector<std::pair<QString, quint64>>& folders, quint64 bytes)
    {
        for (const auto& [folder, besides] : folders) {
            const QByteArray name = QFile::encodeName(folder);
            struct statvfs fs {};
            if (name.isEmpty() || ::statvfs(name.constData(), &fs) != 0 ||
                quint64(fs.f_bavail) * fs.f_frsize < bytes + besides + (quint64(64) << 20))
                continue;
            int fd = ::open(name.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
            if (fd < 0) {
                // A file system without unnamed files: a hidden name, gone as soon as it is open.
                QByteArray pattern = name + "/.kestrane-turn-XXXXXX";
                fd = ::mkostemp(pattern.data(), O_CLOEXEC);
                if (fd >= 0)
                    ::unlink(pattern.constData());
            }
            if (fd < 0)
                continue;
            if (::fallocate(fd, 0, 0, off_t(bytes)) != 0 && errno != EOPNOTSUPP) {
                ::close(fd);
                continue;
            }
            m_fd = fd;
            return true;
        }
        return false;
    }
    // A block of the transformed picture (RGBA64), to stand at `target` in it.
    bool append(const QImage& block, const QRect& target)
    {
        const size_t rowBytes = size_t(block.width()) * 8;
        for (int y = 0; y < block.height(); ++y)
            if (!pwriteAll(m_fd, block.constScanLine(y), rowBytes, off_t(m_end + quint64(y) * rowBytes)))
                return false;
        m_blocks.push_back({target, m_end});
        m_end += quint64(block.height()) * rowBytes;
        return true;
    }
    // The rows of `band` (RGBA64 as wide as the picture) from row `top`, from the blocks under them.
    bool fill(int top, QImage* band)
    {
        const int bottom = top + band->height() - 1;
        for (const Block& block : m_blocks) {
            const int from = std::max(top, block.target.top()), to = std::min(bottom, block.target.bottom());
            if (from > to)
                continue;
            const size_t rowBytes = size_t(block.target.width()) * 8;
            m_scratch.resize(rowBytes * size_t(to - from + 1));
            if (!preadAll(m_fd, m_scratch.data(), m_scratch.size(), off_t(block.at + quint64(from - block.target.top()) * rowBytes)))
                return false;
            for (int y = from; y <= to; ++y)
                std::memcpy(band->scanLine(y - top) + size_t(block.target.left()) * 8,
                            m_scratch.data() + size_t(y - from) * rowBytes, rowBytes);
        }
        return true;
    }

private:
    struct Block {
        QRect target;
        quint64 at;
    };
    int m_fd = -1;
    quint64 m_end = 0;
    std::vector<Block> m_blocks;
    std::vector<uchar> m_scratch;
};

quint32 readBig32(const uchar* p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}
void putBig32(uchar* p, quint32 v)
{
    p[0] = uchar(v >> 24);
    p[1] = uchar(v >> 16);
    p[2] = uchar(v >> 8);
    p[3] = uchar(v);
}

// Sequential output to the new file, with its position.
struct Out {
    int fd = -1;
    quint64 pos = 0;
    int err = 0;  // of the write that failed
    bool put(const void* data, size_t size)
    {
        if (!MFileWriteAll(fd, data, size)) {
            err = errno;
            return false;
        }
        pos += size;
        return true;
    }
    bool put(const QByteArray& bytes) { return put(bytes.constData(), size_t(bytes.size())); }
};

// The samples kept of an RGBA64 pixel: grey (red), grey and alpha, RGB or RGBA.
void packRow(const quint16* rgba, int width, int channels, bool bigEndian, uchar* to)
{
    static constexpr int kGreyAlpha[2] = {0, 3};
    for (int x = 0; x < width; ++x)
        for (int c = 0; c < channels; ++c) {
            const int from = channels == 1 ? 0 : channels == 2 ? kGreyAlpha[c] : c;
            const quint16 v = rgba[size_t(x) * 4 + size_t(from)];
            uchar* p = to + (size_t(x) * size_t(channels) + size_t(c)) * 2;
            if (bigEndian) {
                p[0] = uchar(v >> 8);
                p[1] = uchar(v);
            } else {
                p[0] = uchar(v);
                p[1] = uchar(v >> 8);
            }
        }
}

// PNG rows filtered (the filter of least absolute sum per row, PNG 12.8) and deflated into image
// data chunks as they come. A gigabyte of samples takes a minute to deflate on one core: the rows
// are deflated in pieces of a few megabytes on as many cores as there are, each piece primed with
// the 32 KB before it and ended on a byte (a sync flush), so that the pieces, one after the other,
// make the one zlib stream of the file (RFC 1950 and 1951), its checksum summed as they come.
class PngRows {
public:
    PngRows(Out& out, size_t rowBytes, int bytesPerPixel, int level)
        : m_out(out),
          m_bpp(size_t(bytesPerPixel)),
          m_level(level < 0 ? Z_DEFAULT_COMPRESSION : std::clamp(level, 0, 9)),
          m_pieceBytes(std::max(kPieceBytes, rowBytes + 1)),
          m_cores(std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16))
    {
        m_previous.assign(rowBytes, 0);
        m_filtered.resize(rowBytes + 1);
        m_best.resize(rowBytes + 1);
        m_pieces.emplace_back();
    }
    bool add(const uchar* row)
    {
        const size_t n = m_previous.size();
        unsigned long bestSum = ~0ul;
        for (uchar filter = 0; filter <= 4; ++filter) {
            m_filtered[0] = filter;
            unsigned long sum = 0;
            for (size_t i = 0; i < n; ++i) {
                const int a = i >= m_bpp ? row[i - m_bpp] : 0, b = m_previous[i], c = i >= m_bpp ? m_previous[i - m_bpp] : 0;
                int predicted = 0;
                switch (filter) {
                case 1: predicted = a; break;
                case 2: predicted = b; break;
                case 3: predicted = (a + b) / 2; break;
                case 4: {
                    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                    predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                    break;
                }
                default: break;
                }
                const uchar v = uchar(row[i] - predicted);
                m_filtered[i + 1] = v;
                sum += v < 128 ? v : 256 - v;
            }
            if (sum < bestSum) {
                bestSum = sum;
                m_best.swap(m_filtered);
            }
        }
        std::memcpy(m_previous.data(), row, n);
        std::vector<uchar>& piece = m_pieces.back();
        piece.insert(piece.end(), m_best.begin(), m_best.end());
        if (piece.size() < m_pieceBytes)
            return true;
        if (m_pieces.size() < m_cores) {
            m_pieces.emplace_back();
            return true;
        }
        return deflatePieces(false);
    }
    bool finish() { return deflatePieces(true); }

private:
    static constexpr size_t kPieceBytes = size_t(4) << 20;
    static constexpr size_t kWindow = size_t(1) << 15;

    // Deflates the pieces gathered (the last of the stream with `last`) and writes them in order.
    bool deflatePieces(bool last)
    {
        if (m_pieces.back().empty() && m_pieces.size() > 1)
            m_pieces.pop_back();
        const size_t count = m_pieces.size();
        std::vector<std::vector<uchar>> packed(count);
        std::vector<char> ok(count, 0);
        const auto deflatePiece = [&](size_t i) {
            const std::vector<uchar>& piece = m_pieces[i];
            const std::vector<uchar>& before = i == 0 ? m_window : m_pieces[i - 1];
            z_stream z{};
            if (deflateInit2(&z, m_level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
                return;
            const size_t primed = std::min(before.size(), kWindow);
            if (primed > 0 && deflateSetDictionary(&z, before.data() + before.size() - primed, uInt(primed)) != Z_OK) {
                deflateEnd(&z);
                return;
            }
            std::vector<uchar>& to = packed[i];
            to.resize(deflateBound(&z, uLong(piece.size())) + 64);
            z.next_in = const_cast<uchar*>(piece.data());
            z.avail_in = uInt(piece.size());
            z.next_out = to.data();
            z.avail_out = uInt(to.size());
            const int flush = last && i + 1 == count ? Z_FINISH : Z_SYNC_FLUSH;
            const int r = deflate(&z, flush);
            ok[i] = (flush == Z_FINISH ? r == Z_STREAM_END : r == Z_OK && z.avail_out > 0) && z.avail_in == 0;
            to.resize(to.size() - z.avail_out);
            deflateEnd(&z);
        };
        std::vector<std::thread> helpers;
        for (size_t i = 1; i < count; ++i) {
            try {
                helpers.emplace_back(deflatePiece, i);
            } catch (const std::system_error&) {
                deflatePiece(i);  // no thread to be had: on this one
            }
        }
        deflatePiece(0);
        for (std::thread& helper : helpers)
            helper.join();
        QByteArray data;
        if (!m_started) {
            data.append("\x78\x9c", 2);  // deflate, a 32 KB window
            m_started = true;
        }
        for (size_t i = 0; i < count; ++i) {
            if (!ok[i])
                return false;
            m_adler = adler32_z(m_adler, m_pieces[i].data(), m_pieces[i].size());
            data.append(reinterpret_cast<const char*>(packed[i].data()), qsizetype(packed[i].size()));
        }
        if (last) {
            uchar sum[4];
            putBig32(sum, quint32(m_adler));
            data.append(reinterpret_cast<const char*>(sum), 4);
        }
        const std::vector<uchar>& final = m_pieces.back();
        m_window.assign(final.end() - qsizetype(std::min(final.size(), kWindow)), final.end());
        m_pieces.assign(1, {});
        return chunk(data);
    }
    bool chunk(const QByteArray& data)
    {
        uchar head[8];
        putBig32(head, quint32(data.size()));
        std::memcpy(head + 4, "IDAT", 4);
        uLong crc = crc32(0, head + 4, 4);
        crc = crc32_z(crc, reinterpret_cast<const uchar*>(data.constData()), size_t(data.size()));
        uchar tail[4];
        putBig32(tail, quint32(crc));
        return m_out.put(head, 8) && m_out.put(data) && m_out.put(tail, 4);
    }

    Out& m_out;
    size_t m_bpp;
    int m_level;
    size_t m_pieceBytes;
    size_t m_cores;
    std::vector<uchar> m_previous, m_filtered, m_best;
    std::vector<std::vector<uchar>> m_pieces;  // filtered rows not deflated yet
    std::vector<uchar> m_window;               // the last 32 KB deflated
    uLong m_adler = 1;
    bool m_started = false;
};

// The first directory of a classic TIFF and the entries that the strips change.
struct TiffLayout {
    bool bigEndian = false;
    quint32 ifd = 0;
    quint16 entries = 0;
    int length = -1, offsets = -1, rowsPerStrip = -1, byteCounts = -1;  // entry indexes
    int compression = 1, samples = 1, bits = 0;

    quint16 get16(const QByteArray& b, quint64 at) const
    {
        const auto* p = reinterpret_cast<const uchar*>(b.constData()) + at;
        return bigEndian ? quint16(p[0] << 8 | p[1]) : quint16(p[1] << 8 | p[0]);
    }
    quint32 get32(const QByteArray& b, quint64 at) const
    {
        const auto* p = reinterpret_cast<const uchar*>(b.constData()) + at;
        return bigEndian ? readBig32(p) : quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
    }
    void put16(uchar* p, quint16 v) const
    {
        p[bigEndian ? 0 : 1] = uchar(v >> 8);
        p[bigEndian ? 1 : 0] = uchar(v);
    }
    void put32(uchar* p, quint32 v) const
    {
        if (bigEndian) {
            putBig32(p, v);
        } else {
            p[0] = uchar(v);
            p[1] = uchar(v >> 8);
            p[2] = uchar(v >> 16);
            p[3] = uchar(v >> 24);
        }
    }
    bool parse(const QByteArray& b)
    {
        if (b.size() < 8 || (!b.startsWith("II*") && !b.startsWith("MM\0*")))
            return false;
        bigEndian = b.startsWith("MM");
        ifd = get32(b, 4);
        if (quint64(ifd) + 2 > quint64(b.size()))
            return false;
        entries = get16(b, ifd);
        if (quint64(ifd) + 2 + quint64(entries) * 12 > quint64(b.size()))
            return false;
        for (int i = 0; i < entries; ++i) {
            const quint64 at = quint64(ifd) + 2 + quint64(i) * 12;
            const quint16 tag = get16(b, at), type = get16(b, at + 2);
            const quint32 count = get32(b, at + 4);
            const quint32 value = type == 3 ? get16(b, at + 8) : get32(b, at + 8);
            switch (tag) {
            case 257: length = i; break;
            case 273: offsets = i; break;
            case 278: rowsPerStrip = i; break;
            case 279: byteCounts = i; break;
            case 259: compression = int(value); break;
            case 277: samples = int(value); break;
            case 258: {
                // One SHORT a sample, inline while they fit in four bytes.
                const quint32 from = type == 3 && count > 2 ? get32(b, at + 8) : quint32(at + 8);
                bits = quint64(from) + 2 <= quint64(b.size()) ? int(get16(b, from)) : 0;
                break;
            }
            case 284: if (value != 1) return false; break;   // samples of a pixel together
            case 317: if (value != 1) return false; break;   // no predictor
            case 322: return false;                          // tiles
            default: break;
            }
        }
        return length >= 0 && offsets >= 0 && rowsPerStrip >= 0 && byteCounts >= 0 && bits == 16 &&
               samples >= 1 && samples <= 4 && (compression == 1 || compression == 8 || compression == 32946);
    }
    // Entry `index` as one LONG value, or `count` of them at `at`.
    void setLong(uchar* ifdBytes, int index, quint32 count, quint32 valueOrOffset) const
    {
        uchar* e = ifdBytes + 2 + size_t(index) * 12;
        put16(e + 2, 4);
        put32(e + 4, count);
        put32(e + 8, valueOrOffset);
    }
};

}  // namespace

QImage ImageDestination::transformed(const QImage& image, LosslessTransform transform)
{
    using T = LosslessTransform;
    switch (transform) {
    case T::None: return image;
    case T::FlipHorizontal: return image.mirrored(true, false);
    case T::FlipVertical: return image.mirrored(false, true);
    case T::Rotate90: return image.transformed(QTransform().rotate(90));
    case T::Rotate180: return image.transformed(QTransform().rotate(180));
    case T::Rotate270: return image.transformed(QTransform().rotate(270));
    case T::Transpose: return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case T::Transverse: return image.transformed(QTransform().rotate(270)).mirrored(true, false);
    }
    return image;
}

bool ImageDestination::writeSixteenBitTransformed(const QString& sourcePath, LosslessTransform transform,
                                                  const QString& path, const QString& type,
                                                  const QVariantMap& properties, QString* error,
                                                  const ImageWriteOptions& options,
                                                  const std::function<bool()>& cancelled, const QRect& part)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (type != ContentTypes::kPng && type != ContentTypes::kTiff)
        return fail(QStringLiteral("only PNG and TIFF files keep 16 bits per channel"));
    quint32 width = 0, height = 0;
    QString why;
    // The source is mapped once for the whole write: every part of it is read from this mapping.
    const auto contents = FileContents::open(sourcePath, qint64(1) << 30, &why);
    if (!contents)
        return fail(QStringLiteral("its 16 bits per channel could not be read: %1").arg(why));
    if (!imageio_detail::sixteenBitPicture(contents->bytes(), &width, &height))
        return fail(QStringLiteral("its 16 bits per channel could not be read: the file no longer holds such a picture"));
    // Only the part asked for, when one is: a crop.
    QPoint corner(0, 0);
    if (!part.isNull()) {
        if (part.isEmpty() || part.x() < 0 || part.y() < 0 || quint64(part.x()) + quint64(part.width()) > width ||
            quint64(part.y()) + quint64(part.height()) > height)
            return fail(QStringLiteral("the part lies outside the picture"));
        corner = part.topLeft();
        width = quint32(part.width());
        height = quint32(part.height());
    }
    const FileIdentity source = fileIdentity(sourcePath);
    const bool swapped = swapsSides(transform);
    const quint32 outWidth = swapped ? height : width, outHeight = swapped ? width : height;
    // A band and its turned copy take at most a quarter of the budget; a row at least.
    const quint64 bandRows =
        std::clamp<quint64>(DecodeBudget::shared().capacity() / 4 / (quint64(outWidth) * 8 * 2), 1, outHeight);

    // A PNG's rows are inflated in order from the top, so any band but the next costs a pass over
    // the rows above it; a TIFF's row bands lie in strips or tiles of their own, its columns do not.
    imageio_detail::PngSixteenBitRows pngRows;
    const bool pngFile = contents->bytes().startsWith("\x89PNG");
    const bool inOrder = pngFile && pngRows.open(contents->bytes(), &why);
    if (pngFile && !inOrder && !pngRows.interlaced())
        return fail(QStringLiteral("its 16 bits per channel could not be read: %1").arg(why));
    const bool keepsRowOrder = transform == LosslessTransform::None || transform == LosslessTransform::FlipHorizontal;
    // The source rows [top, top + rows) of the part, asked for in order from the top (a PNG's).
    const auto readRows = [&](int top, int rows, QString* rowsError) -> QImage {
        if (!inOrder)
            return readSixteenBitPart(sourcePath, QRect(corner.x(), corner.y() + top, int(width), rows), rowsError);
        if (top == 0 && corner.y() > 0) {
            QImage above(int(width), 1, QImage::Format_RGBA64);
            for (int y = 0; y < corner.y(); ++y)
                if (above.isNull() || !pngRows.read(&above, corner.x(), rowsError))
                    return {};
        }
        QImage band(int(width), rows, QImage::Format_RGBA64);
        if (band.isNull()) {
            *rowsError = QStringLiteral("out of memory for %1 rows of the picture").arg(rows);
            return {};
        }
        if (!pngRows.read(&band, corner.x(), rowsError)) {
            *rowsError = QStringLiteral("its 16 bits per channel could not be read: %1").arg(*rowsError);
            return {};
        }
        return band;
    };

    // Columns, or rows from the bottom up, of a file read in order: the source is read once, a
    // band of rows at a time, and the turned bands wait in a spill file for the new file's rows.
    // Where there is no room for them (or the PNG is interlaced, each of its bands a pass over the
    // whole), each band is read from the source as it is wanted.
    Spill spill;
    bool spilled = false;
    const bool direct = inOrder && keepsRowOrder;
    if (!direct && (inOrder || (swapped && !pngFile))) {
        const quint64 pixels = quint64(outWidth) * outHeight * 8;
        const QString folder = QFileInfo(path).absolutePath();
        struct stat target {}, temporary {};
        const bool together = ::stat(QFile::encodeName(folder).constData(), &target) == 0 &&
                              ::stat(QFile::encodeName(QDir::tempPath()).constData(), &temporary) == 0 &&
                              target.st_dev == temporary.st_dev;
        spilled = spill.open({{folder, pixels}, {QDir::tempPath(), together ? pixels : 0}}, pixels);
    }
    std::optional<DecodeBudget::Reservation> held;
    if (spilled || direct) {
        // The bands read and turned here, beside those written.
        const quint64 passRows = std::clamp<quint64>(DecodeBudget::shared().capacity() / 4 / (quint64(width) * 8 * 2), 1, height);
        held = DecodeBudget::shared().reserve(std::max(passRows * width, bandRows * outWidth) * 8 * 2, &why, cancelled);
        if (!held->isValid())
            return fail(cancelled && cancelled() ? cancelledError(path) : why);
        for (quint64 top = 0; spilled && top < height; top += passRows) {
            if (cancelled && cancelled())
                return fail(cancelledError(path));
            const int rows = int(std::min<quint64>(passRows, height - top));
            const QImage band = readRows(int(top), rows, &why);
            if (band.isNull())
                return fail(why);
            if (!spill.append(transformed(band, transform), targetOf(transform, width, height, QRect(0, int(top), int(width), rows))))
                return fail(QStringLiteral("the turned picture could not be set aside: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        }
    }
    const auto readBand = [&](int top, int rows, QString* bandError) -> QImage {
        if (spilled) {
            QImage band(int(outWidth), rows, QImage::Format_RGBA64);
            if (band.isNull()) {
                *bandError = QStringLiteral("out of memory for %1 rows of the picture").arg(rows);
                return {};
            }
            if (!spill.fill(top, &band)) {
                *bandError = QStringLiteral("the turned picture could not be read back: %1")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)));
                return {};
            }
            return band;
        }
        if (direct) {
            const QImage stored = readRows(top, rows, bandError);
            return stored.isNull() ? stored : transformed(stored, transform);
        }
        const QRect rect = sourceOfBand(transform, width, height, top, rows).translated(corner);
        const QImage stored = readSixteenBitPart(sourcePath, rect, bandError);
        return stored.isNull() ? stored : transformed(stored, transform);
    };

    // The prototype: the first row, coded and given its metadata as writeImage does. Its band is
    // kept for the first rows of the file.
    QImage firstBand = readBand(0, int(bandRows), &why);
    if (firstBand.isNull())
        return fail(why);
    const QImage first = firstBand.copy(0, 0, firstBand.width(), 1);
    QVariantMap protoProperties = properties;
    // The layout and coding of the file itself where the properties do not say.
    if (const auto stored = ImageSource::createWithFile(sourcePath)) {
        const QVariantMap own = stored->propertiesAtIndex(0);
        for (const char* key : {kCGImagePropertyHasAlpha, kCGImagePropertyColorModel})
            if (!protoProperties.contains(QLatin1String(key)) && own.contains(QLatin1String(key)))
                protoProperties.insert(QLatin1String(key), own.value(QLatin1String(key)));
        QVariantMap tiff = protoProperties.value(kCGImagePropertyTIFFDictionary).toMap();
        const QVariant coding = own.value(kCGImagePropertyTIFFDictionary).toMap().value(kCGImagePropertyTIFFCompression);
        if (!tiff.contains(kCGImagePropertyTIFFCompression) && coding.isValid()) {
            tiff.insert(kCGImagePropertyTIFFCompression, coding);
            protoProperties.insert(kCGImagePropertyTIFFDictionary, tiff);
        }
    }
    QVariantMap png = protoProperties.value(kCGImagePropertyPNGDictionary).toMap();
    png.remove(kCGImagePropertyPNGIsInterlaced);  // rows are written in order
    protoProperties.insert(kCGImagePropertyPNGDictionary, png);
    if (type == ContentTypes::kTiff) {
        // Stored or Deflate, the two codings written here a strip at a time; both lose nothing.
        QVariantMap tiff = protoProperties.value(kCGImagePropertyTIFFDictionary).toMap();
        const int was = tiff.value(kCGImagePropertyTIFFCompression, 1).toInt();
        tiff.insert(kCGImagePropertyTIFFCompression, was == 1 ? 1 : 8);
        protoProperties.insert(kCGImagePropertyTIFFDictionary, tiff);
    }
    QByteArray proto;
    imageio_detail::EncodeOptions used;
    if (!imageio_detail::encodeImageFile(first, type, protoProperties, options, &proto, &used, error))
        return false;

    // Where the rows go, and how they are stored.
    int channels = 0;
    bool bigEndian = true;
    QByteArray head, tail;
    TiffLayout tiff;
    if (type == ContentTypes::kPng) {
        bool ok = false;
        int firstData = -1, afterData = -1;
        MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(proto.constData()), size_t(proto.size()),
                               [&](const MPngChunk& chunk) {
                                   if (chunk.is("IHDR") && chunk.length == 13) {
                                       const auto* h = reinterpret_cast<const uchar*>(proto.constData()) + chunk.offset + 8;
                                       static constexpr int kChannels[7] = {1, 0, 3, 0, 2, 0, 4};
                                       ok = h[8] == 16 && h[9] <= 6 && kChannels[h[9]] > 0 && h[12] == 0;
                                       channels = ok ? kChannels[h[9]] : 0;
                                   } else if (chunk.is("IDAT")) {
                                       if (firstData < 0)
                                           firstData = int(chunk.offset);
                                       afterData = int(chunk.offset + 12 + chunk.length);
                                   }
                                   return true;
                               });
        if (!ok || firstData < 0)
            return fail(QStringLiteral("the PNG file could not be laid out at 16 bits per channel"));
        head = proto.left(firstData);
        tail = proto.mid(afterData);
        // The header chunk (right after the signature) gets the real height.
        auto* ihdr = reinterpret_cast<uchar*>(head.data()) + 8 + 8;
        putBig32(ihdr + 4, outHeight);
        putBig32(ihdr + 13, quint32(crc32(crc32(0, ihdr - 4, 4), ihdr, 13)));
    } else {
        if (!tiff.parse(proto))
            return fail(QStringLiteral("the TIFF file could not be laid out at 16 bits per channel"));
        channels = tiff.samples;
        bigEndian = tiff.bigEndian;
        head = proto;
        if (head.size() % 2)
            head.append('\0');  // strips start on a word
        // Offsets of a classic TIFF are 32 bits: the stored samples and their tables must fit.
        const quint64 raw = quint64(outWidth) * outHeight * quint64(channels) * 2;
        if (quint64(head.size()) + raw + raw / 100 + quint64(outHeight) * 8 + 65536 > 0xFFFFFFFFull)
            return fail(QStringLiteral("a picture of %1 x %2 pixels at 16 bits per channel is too large for a TIFF file")
                            .arg(outWidth)
                            .arg(outHeight));
    }
    const size_t rowBytes = size_t(outWidth) * size_t(channels) * 2;

    const auto writeRowsTo = [&](Out& out, QString* writeWhy) -> bool {
        const int fd = out.fd;
        if (!out.put(head))
            return false;
        const auto stillGoing = [&] {
            if (cancelled && cancelled()) {
                *writeWhy = cancelledError(path);
                return false;
            }
            return true;
        };
        std::vector<uchar> row(rowBytes);
        std::unique_ptr<PngRows> pngRows;
        if (type == ContentTypes::kPng)
            pngRows = std::make_unique<PngRows>(out, rowBytes, channels * 2, used.pngCompressionLevel);
        // TIFF strips: about 32 KB of samples each.
        const quint32 stripRows = quint32(std::clamp<size_t>((size_t(1) << 15) / rowBytes, 1, outHeight));
        std::vector<quint32> stripOffsets, stripCounts;
        std::vector<uchar> strip, packed;
        const bool deflated = tiff.compression != 1;
        const auto endStrip = [&]() -> bool {
            if (strip.empty())
                return true;
            stripOffsets.push_back(quint32(out.pos));
            if (deflated) {
                uLongf size = compressBound(uLong(strip.size()));
                packed.resize(size);
                if (compress2(packed.data(), &size, strip.data(), uLong(strip.size()), Z_DEFAULT_COMPRESSION) != Z_OK) {
                    *writeWhy = QStringLiteral("the TIFF strips could not be compressed");
                    return false;
                }
                stripCounts.push_back(quint32(size));
                if (!out.put(packed.data(), size))
                    return false;
            } else {
                stripCounts.push_back(quint32(strip.size()));
                if (!out.put(strip.data(), strip.size()))
                    return false;
            }
            strip.clear();
            return true;
        };
        for (quint64 top = 0; top < outHeight; top += bandRows) {
            if (!stillGoing())
                return false;
            const int rows = int(std::min<quint64>(bandRows, outHeight - top));
            const QImage band = top == 0 ? std::exchange(firstBand, QImage()) : readBand(int(top), rows, writeWhy);
            if (band.isNull() || band.width() != int(outWidth) || band.height() != rows) {
                if (writeWhy->isEmpty())
                    *writeWhy = QStringLiteral("a part of the picture could not be read");
                return false;
            }
            for (int y = 0; y < rows; ++y) {
                packRow(reinterpret_cast<const quint16*>(band.constScanLine(y)), int(outWidth), channels, bigEndian,
                        row.data());
                if (pngRows) {
                    if (!pngRows->add(row.data()))
                        return false;
                    continue;
                }
                strip.insert(strip.end(), row.begin(), row.end());
                if (strip.size() >= size_t(stripRows) * rowBytes && !endStrip())
                    return false;
            }
        }
        if (pngRows)
            return pngRows->finish() && out.put(tail);
        if (!endStrip())
            return false;
        // The directory points at the strips: one inline, or tables after them.
        const quint32 count = quint32(stripOffsets.size());
        quint32 offsetsAt = stripOffsets[0], countsAt = stripCounts[0];
        if (count > 1) {
            if (out.pos % 2 && !out.put("", 1))
                return false;
            std::vector<uchar> table(size_t(count) * 4);
            offsetsAt = quint32(out.pos);
            for (quint32 i = 0; i < count; ++i)
                tiff.put32(&table[size_t(i) * 4], stripOffsets[i]);
            if (!out.put(table.data(), table.size()))
                return false;
            countsAt = quint32(out.pos);
            for (quint32 i = 0; i < count; ++i)
                tiff.put32(&table[size_t(i) * 4], stripCounts[i]);
            if (!out.put(table.data(), table.size()))
                return false;
        }
        const size_t ifdSize = 2 + size_t(tiff.entries) * 12;
        QByteArray ifd = head.mid(qsizetype(tiff.ifd), qsizetype(ifdSize));
        auto* d = reinterpret_cast<uchar*>(ifd.data());
        tiff.setLong(d, tiff.length, 1, outHeight);
        tiff.setLong(d, tiff.rowsPerStrip, 1, stripRows);
        tiff.setLong(d, tiff.offsets, count, offsetsAt);
        tiff.setLong(d, tiff.byteCounts, count, countsAt);
        if (!pwriteAll(fd, ifd.constData(), ifdSize, off_t(tiff.ifd))) {
            out.err = errno;
            return false;
        }
        return true;
    };
    const FileContentsWriter writeRows = [&](int fd, QString* writeWhy) {
        Out out{fd, 0, 0};
        const bool written = writeRowsTo(out, writeWhy);
        // The system's reason of a failed write (a full disk) is told by the caller.
        if (!written && writeWhy->isEmpty())
            errno = out.err ? out.err : EIO;
        return written;
    };

    // Written beside the target and put in its place as writeImage's files are, the source
    // checked once more: a file changed while it was read gives no mixture of two pictures.
    ImageWriteOptions checked = options;
    checked.stillWanted = [&] {
        if (fileIdentity(sourcePath) != source) {
            why = ImageDestination::changedOnDiskError(sourcePath);
            return false;
        }
        return !options.stillWanted || options.stillWanted();
    };
    why.clear();
    if (imageio_detail::replaceFileSafely(path, writeRows, checked, error))
        return true;
    if (!why.isEmpty() && error)
        *error = why;
    return false;
}

}  // namespace kpv
