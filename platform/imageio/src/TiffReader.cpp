// TIFF through libtiff's RGBA interface, read from memory. The reader answers the pixels in
// stored order: the file's orientation tag travels in the properties instead.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageProperties.h"

#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace kpv {
namespace {

struct MemoryFile {
    const char* data = nullptr;
    toff_t size = 0;
    toff_t pos = 0;
    bool mapped = false;
};

extern "C" tmsize_t tiffRead(thandle_t h, void* out, tmsize_t n)
{
    auto* f = static_cast<MemoryFile*>(h);
    if (n <= 0 || f->pos >= f->size)
        return 0;
    const toff_t count = std::min<toff_t>(toff_t(n), f->size - f->pos);
    std::memcpy(out, f->data + f->pos, size_t(count));
    f->pos += count;
    return tmsize_t(count);
}
extern "C" tmsize_t tiffWrite(thandle_t, void*, tmsize_t) { return 0; }
extern "C" toff_t tiffSeek(thandle_t h, toff_t off, int whence)
{
    auto* f = static_cast<MemoryFile*>(h);
    toff_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->size : 0;
    if (off > UINT64_MAX - base)
        return toff_t(-1);
    f->pos = base + off;
    return f->pos;
}
extern "C" int tiffClose(thandle_t) { return 0; }
extern "C" toff_t tiffSize(thandle_t h) { return static_cast<MemoryFile*>(h)->size; }
// The bytes are in memory already: a mapped handle reads them in place. The library only reads
// what it maps for reading, so the constant bytes are never written.
extern "C" int tiffMap(thandle_t h, void** base, toff_t* size)
{
    auto* f = static_cast<MemoryFile*>(h);
    if (!f->mapped || f->size == 0)
        return 0;
    *base = const_cast<char*>(f->data);
    *size = f->size;
    return 1;
}
extern "C" void tiffUnmap(thandle_t, void*, toff_t) {}
extern "C" void tiffSilence(const char*, const char*, va_list) {}

// A reading handle on a TIFF held in memory. Strips are read through the library's reads, which
// hand a strip cut short by the end of the file over in part, so that its rows before the cut
// still show. Tiles are read in place instead: read through copies, a stored tile of under a
// kilobyte (tiles of 1 x 1 to 16 x 16 pixels) is refused, the library taking its byte count for
// a wrong one. A tile cut short is refused either way.
class TiffHandle {
public:
    explicit TiffHandle(const QByteArray& data)
    {
        static const bool silenced = [] {
            TIFFSetErrorHandler(tiffSilence);
            TIFFSetWarningHandler(tiffSilence);
            return true;
        }();
        (void)silenced;
        m_file.data = data.constData();
        m_file.size = toff_t(data.size());
        // The first page's directory alone tells strips from tiles: its strip or tile arrays
        // are left unread.
        m_tiff = open("rmD");
        if (!m_tiff)
            return;
        m_file.mapped = TIFFIsTiled(m_tiff);
        TIFFClose(m_tiff);
        m_file.pos = 0;
        // The arrays are read whole when the page opens: the library then checks that they hold
        // a place for every strip or tile, which it does not when it reads each place on demand.
        m_tiff = open(m_file.mapped ? "r" : "rm");
    }
    ~TiffHandle()
    {
        if (m_tiff)
            TIFFClose(m_tiff);
    }
    TIFF* get() const { return m_tiff; }

private:
    TIFF* open(const char* mode)
    {
        return TIFFClientOpen("memory", mode, &m_file, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap,
                              tiffUnmap);
    }

    MemoryFile m_file;
    TIFF* m_tiff = nullptr;
};

// Strips and tiles are coded each on its own: a page of many is read in bands on several cores.
// A band holds about this many pixels, so that a core's start (a handle of its own, the strip it
// starts inside read again) costs little beside it.
constexpr uint64_t kBandPixels = uint64_t(1) << 20;

unsigned decodeCores()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

// Of `cores`, those whose further ones' `extraBytes` each the decode budget has room for now: a
// decode never waits for memory to go faster, it goes on fewer cores.
unsigned sparedCores(unsigned cores, uint64_t extraBytes)
{
    const DecodeBudget& budget = DecodeBudget::shared();
    while (cores > 1 && budget.inUse() + extraBytes * (cores - 1) > budget.capacity())
        --cores;
    return cores;
}

// Of `cores`, those worth starting for `pixels` of a page of `blocks` strips or tiles: each further
// core opens a handle of its own, which reads the place of every strip or tile. A page of millions
// of tiles of a pixel or two is read on the calling core, as fast as opening a handle would take.
unsigned coresForBlocks(unsigned cores, uint64_t pixels, uint64_t blocks)
{
    return unsigned(std::clamp<uint64_t>(1 + pixels / (std::max<uint64_t>(blocks, 1) * 4), 1, cores));
}

// Runs job(core, band, stopped) for bands 0 to count - 1, each once, on `cores` threads, the
// calling one among them (core 0). Only the calling thread can ask whether the load was cancelled:
// it asks between its bands and whenever its job asks stopped(), and, once its own bands are done,
// once for each time another core's job asked (and every few milliseconds), so that a load is
// asked about as often for the rows it decodes as on one core. Once it was cancelled, no band
// starts, stopped() answers true on every core and *error says so. A core no thread can be had
// for leaves its bands to the others. False when cancelled.
bool runBands(unsigned cores, uint32_t count,
              const std::function<void(unsigned, uint32_t, const std::function<bool()>&)>& job, QString* error)
{
    std::atomic<uint32_t> next{0};
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = 0;
    const auto work = [&](unsigned core, const std::function<bool()>& stopped) {
        for (uint32_t band = 0; !stopped() && (band = next.fetch_add(1)) < count;)
            job(core, band, stopped);
    };
    std::atomic<uint64_t> asked{0};  // by other cores' jobs, not yet passed on
    const std::function<bool()> helperStopped = [&] {
        asked.fetch_add(1, std::memory_order_relaxed);
        finished.notify_one();
        return cancelled.load(std::memory_order_relaxed);
    };
    std::vector<std::thread> helpers;
    for (unsigned core = 1; core < cores; ++core) {
        try {
            {
                std::lock_guard lock(mutex);
                ++running;
            }
            helpers.emplace_back([&, core] {
                work(core, helperStopped);
                std::lock_guard lock(mutex);
                --running;
                finished.notify_all();
            });
        } catch (const std::system_error&) {
            std::lock_guard lock(mutex);
            --running;
            break;
        }
    }
    const std::function<bool()> ownStopped = [&] {
        if (!cancelled.load(std::memory_order_relaxed) && imageio_detail::decodeCancelled(nullptr))
            cancelled = true;
        return cancelled.load(std::memory_order_relaxed);
    };
    work(0, ownStopped);
    {
        // The others ask before they end: once none runs, what they asked is passed on last.
        std::unique_lock lock(mutex);
        for (;;) {
            const bool done = running == 0;
            lock.unlock();
            uint64_t questions = asked.exchange(0);
            if (questions == 0 && !done)
                questions = 1;  // a wait that timed out asks too
            while (questions-- > 0 && !ownStopped()) {
            }
            lock.lock();
            if (done)
                break;
            if (running > 0 && asked.load() == 0)
                finished.wait_for(lock, std::chrono::milliseconds(20));
        }
    }
    for (std::thread& helper : helpers)
        helper.join();
    if (cancelled && error)
        *error = DecodeBudget::cancelledError();
    return !cancelled;
}

// TIFF 6.0 sections 10 and 11, and the older run-length coding of section 10's basis: bilevel
// fax coding, whose rows cost as little as one bit whatever their width.
bool isFaxCoded(uint16_t compression)
{
    return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTRLEW ||
           compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
}

// Whether the strips or tiles the file holds can make the pixels its directory declares: stored
// data takes every byte (half of them present still decodes in part), and no compression a TIFF
// may use makes more than 4096 bytes of a byte, except fax coding: a blank row of a page costs
// it one bit, so a blank page scanned at 600 dpi is a file of 1 KB. Its rows are counted instead
// (each takes a bit at least), and its pixels are held to the size a frame may have, since every
// decode walks them all. Checked before the frame is allocated, so a directory of a few bytes
// never costs a gigabyte; what the decodes then allocate is held to the file's size again when
// they do (frameFitsFile()).
bool dataCanHold(TIFF* tiff, uint64_t fileBytes, uint32_t width, uint32_t height)
{
    uint16_t samples = 1, bits = 1, compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    uint64_t present = 0;
    const uint32_t count = TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    for (uint32_t i = 0; i < count && present < fileBytes; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tiff, i);
        const uint64_t bytes = TIFFGetStrileByteCount(tiff, i);
        if (offset < fileBytes)
            present += std::min(bytes, fileBytes - offset);
    }
    present = std::min(present, fileBytes);
    const uint64_t bitsPerPixel = uint64_t(samples) * std::max<uint16_t>(bits, 1);
    const double rows = std::ceil(double(width) * double(bitsPerPixel) / 8) * height;
    uint64_t storedBytes = rows < 0x1p63 ? uint64_t(rows) : UINT64_MAX;
    // Every tile is stored whole, the parts past the picture's edge too (and read whole): a
    // directory of tiles far larger than the picture declares all of them.
    uint32_t tileWidth = 0, tileHeight = 0;
    if (TIFFIsTiled(tiff) && TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth) &&
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight) && tileWidth > 0 && tileHeight > 0) {
        // Counted in floating point: the product of four 32-bit numbers may not fit 64 bits.
        const double across = std::ceil(double(width) / tileWidth), down = std::ceil(double(height) / tileHeight);
        const double tiles = across * down * std::ceil(double(tileWidth) * double(bitsPerPixel) / 8) * tileHeight;
        storedBytes = tiles < 0x1p63 ? std::max(storedBytes, uint64_t(tiles)) : UINT64_MAX;
    }
    // A file cut short (a download that stopped) shows the strips it holds, down to a
    // sixty-fourth of them: a few bytes still cannot declare a large picture.
    if (compression == COMPRESSION_NONE)
        return present * 64 >= storedBytes;
    if (isFaxCoded(compression) && bitsPerPixel == 1)
        return ImageLimits::frameAllowed(width, height) && present * 16 >= height;
    return storedBytes / 4096 <= present;
}

// Whether the page's strips or tiles decode in a time fair for its pixels. A coding that starts a
// decoder of its own for every strip or tile (JPEG, WebP and the others not named below) costs
// tens of microseconds a block: a file of a million JPEG tiles of one pixel takes a minute.
// Such blocks must hold a JPEG block's 64 pixels at least, unless there are few of them; the
// other codings cost a block little more than its bytes.
bool blocksDecodeInTime(TIFF* tiff, uint32_t width, uint32_t height, QString* error)
{
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    const bool cheap = compression == COMPRESSION_NONE || compression == COMPRESSION_LZW ||
                       compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE ||
                       compression == COMPRESSION_PACKBITS || compression == COMPRESSION_LZMA ||
                       compression == COMPRESSION_ZSTD || isFaxCoded(compression);
    constexpr uint64_t kFewBlocks = 4096, kBlockPixels = 64;
    const uint32_t count = TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    if (cheap || count <= kFewBlocks)
        return true;
    uint32_t across = width, down = 1;
    if (TIFFIsTiled(tiff)) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &across);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &down);
    } else {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &down);
        down = std::min(down, height);
    }
    const uint64_t pixels = uint64_t(across) * down;
    if (pixels >= kBlockPixels)
        return true;
    if (error)
        *error = QStringLiteral("the TIFF picture is coded in %1 pieces of %2 x %3 pixels, too many to decode in a reasonable time")
                     .arg(count)
                     .arg(across)
                     .arg(down);
    return false;
}

// Whether a frame of `frameBytes` suits a file of `fileBytes`: 65,536 bytes of frame for each
// byte of the file, more than any real coding but fax's reaches (a scanned page of text takes
// tens of kilobytes for its 140 MB at full size); and for a file of a kilobyte or more, the
// frame of a page of A4 or US Letter scanned at 600 dpi, since a blank one is a file of just
// over a kilobyte that is shown at 100% and cropped like any other. So a file under a kilobyte
// makes the viewer hold no more than 64 MB of frame, and no file more than one such page.
bool frameFitsFile(uint64_t frameBytes, uint64_t fileBytes, QString* error)
{
    constexpr uint64_t kFrameBytesPerFileByte = 65536;
    constexpr uint64_t kPageFileBytes = 1024;
    constexpr uint64_t kPageFrameBytes = uint64_t(5100) * 7016 * 4;  // 8.5 x 11.69 inches
    if (frameBytes / kFrameBytesPerFileByte <= fileBytes || (fileBytes >= kPageFileBytes && frameBytes <= kPageFrameBytes))
        return true;
    if (error)
        *error = QStringLiteral("a TIFF file of %1 bytes is too short to fill a frame of %2 MB").arg(fileBytes).arg(frameBytes >> 20);
    return false;
}

// TIFF 6.0 sections 4 to 6: the layouts whose rows are made RGBA here, the way the library's
// RGBA interface makes them: grey of up to 8 bits, and 8-bit RGB, with associated or
// unassociated alpha, its samples interleaved. Others are made by the interface's own
// conversions (StripRows), but for those the interface refuses or gets wrong: Cmyk, of 16 bits
// or with alpha (which the interface ignores), whose samples are taken to 8 bits and inked as the
// interface inks 8-bit CMYK, interleaved or in planes of their own; and Samples,
// grey or RGB whose samples are taken from 0 to their largest value (0 to 1 for floating-point
// ones, SampleFormat 3) to levels 0 to 255, anything beyond clamped, with alpha when there is
// one, interleaved or in planes of their own: samples of floating point, of 32 bits, grey with
// alpha (the interface takes unassociated alpha for associated, ignores alpha at 16 bits and
// fails in tiles), RGB of 1, 2 or 4 bits, and samples of a number of bits other than 1, 2, 4, 8
// and 16 (10, 12, ...).
struct RowLayout {
    enum Kind { None, Grey, Rgb, RgbAssociated, RgbUnassociated, Cmyk, Samples } kind = None;
    unsigned bits = 8;
    unsigned samples = 1;  // samples a pixel in a row handed to rowToRgba()
    unsigned char grey[256] = {};  // a grey sample's level, as the library maps it
    // Samples: grey (1) or RGB (3), then alpha when there is one; planes when each sample is
    // stored in a plane of its own (rows are then interleaved before rowToRgba()).
    unsigned colours = 1;
    bool floating = false, alpha = false, associated = false, whiteIsZero = false, planes = false;
};

// How a page's samples are stored, as its tags say (the TIFF defaults where a tag is missing).
struct SampleTags {
    uint16_t samples = 1, bits = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, extraCount = 0;
    uint16_t* extra = nullptr;  // the library's, while the page is read
    uint16_t photometric = 0;
    bool hasPhotometric = false;
};

SampleTags sampleTags(TIFF* tiff)
{
    SampleTags t;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &t.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &t.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &t.format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &t.extraCount, &t.extra);
    t.hasPhotometric = TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &t.photometric) != 0;
    return t;
}

RowLayout rowLayout(TIFF* tiff)
{
    RowLayout layout;
    const SampleTags tags = sampleTags(tiff);
    if (!tags.hasPhotometric)
        return layout;
    const auto [samples, bits, planar, format, extraCount, extra, photometric, hasPhotometric] = tags;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const unsigned colours = grey ? 1 : photometric == PHOTOMETRIC_RGB ? 3 : 0;
    const bool floating = format == SAMPLEFORMAT_IEEEFP;
    const bool describedAlpha = extraCount > 0 && extra && (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    // Grey with alpha the interface reads as stored only when premultiplied, of 8 bits, in strips.
    const bool greyAlphaRefused =
        grey && samples > 1 && describedAlpha && (extra[0] == EXTRASAMPLE_UNASSALPHA || bits != 8 || TIFFIsTiled(tiff));
    const bool samplesLayout =
        colours > 0 && samples >= colours &&
        (floating ? bits == 16 || bits == 32 || bits == 64
                  : format == SAMPLEFORMAT_UINT && bits >= 1 && (bits <= 16 || bits == 32) &&
                        (bits == 32 || greyAlphaRefused || (!grey && bits < 8) || (bits & (bits - 1)) != 0));
    if (samplesLayout) {
        layout.kind = RowLayout::Samples;
        layout.bits = bits;
        layout.colours = colours;
        layout.floating = floating;
        // As the references take it: the sample after the colours is alpha when the file
        // describes any sample after them, and a fourth sample of RGB is alpha always.
        layout.alpha = samples > colours && (extraCount > 0 || (colours == 3 && samples == 4));
        layout.associated = layout.alpha && extraCount > 0 && extra && extra[0] == EXTRASAMPLE_ASSOCALPHA;
        layout.whiteIsZero = photometric == PHOTOMETRIC_MINISWHITE;
        layout.planes = planar == PLANARCONFIG_SEPARATE && samples > 1;
        layout.samples = layout.planes ? colours + (layout.alpha ? 1 : 0) : samples;
        return layout;
    }
    uint16_t inks = INKSET_CMYK;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
    if (photometric == PHOTOMETRIC_SEPARATED && inks == INKSET_CMYK && format == SAMPLEFORMAT_UINT && samples >= 4 &&
        (bits == 16 || (bits == 8 && samples > 4 && describedAlpha))) {
        layout.kind = RowLayout::Cmyk;
        layout.bits = bits;
        layout.colours = 4;
        layout.alpha = samples > 4 && describedAlpha;
        layout.associated = layout.alpha && extra[0] == EXTRASAMPLE_ASSOCALPHA;
        layout.planes = planar == PLANARCONFIG_SEPARATE;
        layout.samples = layout.planes ? 4u + (layout.alpha ? 1 : 0) : samples;
        return layout;
    }
    if (planar != PLANARCONFIG_CONTIG && samples > 1)
        return layout;
    if (samples == 1 && extraCount == 0 && (bits == 1 || bits == 2 || bits == 4 || bits == 8) &&
        (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK)) {
        layout.kind = RowLayout::Grey;
        layout.bits = bits;
        const unsigned range = (1u << bits) - 1;
        for (unsigned x = 0; x <= range; ++x)
            layout.grey[x] = static_cast<unsigned char>(((photometric == PHOTOMETRIC_MINISWHITE ? range - x : x) * 255) / range);
    } else if (photometric == PHOTOMETRIC_RGB && bits == 8 && samples == 3 && extraCount == 0) {
        layout.kind = RowLayout::Rgb;
        layout.samples = 3;
    } else if (photometric == PHOTOMETRIC_RGB && bits == 8 && samples == 4 && extraCount == 1 && extra) {
        layout.samples = 4;
        if (extra[0] == EXTRASAMPLE_ASSOCALPHA)
            layout.kind = RowLayout::RgbAssociated;
        else if (extra[0] == EXTRASAMPLE_UNASSALPHA)
            layout.kind = RowLayout::RgbUnassociated;
    }
    return layout;
}

// Whether the rows of a layout are made here from the stored samples, the library's RGBA
// interface refusing it.
bool madeFromStoredRows(const RowLayout& layout)
{
    return layout.kind == RowLayout::Cmyk || layout.kind == RowLayout::Samples;
}

// Whether a page's pixels can be read here: by the library's RGBA interface, or by the rows made
// here (16-bit CMYK and floating-point samples, in strips or in tiles).
bool layoutReadable(TIFF* tiff, char* message)
{
    return madeFromStoredRows(rowLayout(tiff)) || TIFFRGBAImageOK(tiff, message);
}

// The sample of `bits` (at most 16) packed from bit `at` of a row, the first bit the highest.
// Reads only the bytes the sample lies in.
unsigned packedSample(const unsigned char* row, size_t at, unsigned bits)
{
    const size_t first = at / 8, last = (at + bits - 1) / 8;
    uint32_t window = 0;
    for (size_t b = first; b <= last; ++b)
        window = window << 8 | row[b];
    return (window >> ((last + 1) * 8 - at - bits)) & ((1u << bits) - 1);
}

// Sample `index` of a row of samples of `bits`, in the machine's order as the library hands
// them out, as a value from 0 to 1 (beyond it for floating-point samples that lie beyond).
double sampleValue(const unsigned char* row, size_t index, unsigned bits, bool floating)
{
    const unsigned char* p = row + index * (bits / 8);
    if (bits % 8 != 0)
        return double(packedSample(row, index * bits, bits)) / ((1u << bits) - 1);
    if (bits == 8)
        return *p / 255.0;
    if (bits == 16 && !floating) {
        uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return v / 65535.0;
    }
    if (bits == 32 && !floating) {
        uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v / 4294967295.0;
    }
    if (bits == 32) {
        float f;
        std::memcpy(&f, p, sizeof f);
        return f;
    }
    if (bits == 64) {
        double d;
        std::memcpy(&d, p, sizeof d);
        return d;
    }
    // IEEE half precision: a sign, 5 bits of exponent and 10 of fraction.
    uint16_t h;
    std::memcpy(&h, p, sizeof h);
    const int exponent = (h >> 10) & 0x1F;
    const double fraction = h & 0x3FF;
    const double v = exponent == 0x1F ? (fraction != 0 ? std::nan("") : HUGE_VAL)
                     : exponent == 0  ? std::ldexp(fraction, -24)
                                      : std::ldexp(1024 + fraction, exponent - 25);
    return (h & 0x8000) ? -v : v;
}

// A level of 0 to 255 for a value of 0 to 1: scaled, what lies beyond clamped, not-a-number
// black.
unsigned char levelOf(double v)
{
    if (!(v > 0))
        return 0;
    return v >= 1 ? 255 : static_cast<unsigned char>(v * 255 + 0.5);
}

// Columns [first, first + count) of a stored row made premultiplied RGBA into `out`.
void rowToRgba(const RowLayout& layout, const unsigned char* in, unsigned char* out, uint32_t first, uint32_t count)
{
    switch (layout.kind) {
    case RowLayout::Grey: {
        const unsigned bits = layout.bits, mask = (1u << bits) - 1;
        for (uint64_t bit = uint64_t(first) * bits, end = bit + uint64_t(count) * bits; bit < end; bit += bits, out += 4) {
            const unsigned char level = layout.grey[(in[bit / 8] >> (8 - bits - bit % 8)) & mask];
            out[0] = out[1] = out[2] = level;
            out[3] = 0xFF;
        }
        break;
    }
    case RowLayout::Rgb:
        for (const unsigned char *p = in + size_t(first) * 3, *end = p + size_t(count) * 3; p != end; p += 3, out += 4) {
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
            out[3] = 0xFF;
        }
        break;
    case RowLayout::RgbAssociated:
        std::memcpy(out, in + size_t(first) * 4, size_t(count) * 4);
        break;
    case RowLayout::RgbUnassociated:
        for (const unsigned char *p = in + size_t(first) * 4, *end = p + size_t(count) * 4; p != end; p += 4, out += 4) {
            const unsigned a = p[3];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<unsigned char>((p[c] * a + 127) / 255);
            out[3] = p[3];
        }
        break;
    case RowLayout::Cmyk: {
        // Samples in the machine's order, as the library hands them out.
        const size_t size = layout.bits / 8, step = size_t(layout.samples) * size;
        for (const unsigned char *p = in + size_t(first) * step, *end = p + size_t(count) * step; p != end; p += step, out += 4) {
            unsigned s[5] = {0, 0, 0, 0, 255};
            for (unsigned c = 0; c < (layout.alpha ? 5u : 4u); ++c) {
                if (size == 2) {
                    uint16_t v;
                    std::memcpy(&v, p + c * 2, sizeof v);
                    s[c] = (v + 128u) / 257;
                } else {
                    s[c] = p[c];
                }
            }
            const unsigned a = s[4];
            // Inks stored premultiplied are taken back to their own amounts first.
            if (layout.associated)
                for (unsigned c = 0; c < 4; ++c)
                    s[c] = a == 0 ? 0 : std::min(255u, (s[c] * 255 + a / 2) / a);
            const unsigned k = 255 - s[3];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<unsigned char>((k * (255 - s[c]) / 255 * a + 127) / 255);
            out[3] = static_cast<unsigned char>(a);
        }
        break;
    }
    case RowLayout::Samples: {
        const unsigned colours = layout.colours;
        for (size_t i = size_t(first) * layout.samples, end = i + size_t(count) * layout.samples; i != end; i += layout.samples, out += 4) {
            const unsigned a = layout.alpha ? levelOf(sampleValue(in, i + colours, layout.bits, layout.floating)) : 255;
            for (unsigned c = 0; c < 3; ++c) {
                double v = sampleValue(in, i + (colours == 1 ? 0 : c), layout.bits, layout.floating);
                if (layout.whiteIsZero)
                    v = 1 - v;
                // Stored premultiplied, the colour is kept (no more than its alpha); straight, it
                // is multiplied here.
                const unsigned level = levelOf(v);
                out[c] = static_cast<unsigned char>(layout.associated ? std::min(level, a) : (level * a + 127) / 255);
            }
            out[3] = static_cast<unsigned char>(a);
        }
        break;
    }
    case RowLayout::None:
        break;
    }
}

// The most planes a layout made here reads: four inks and alpha.
constexpr size_t kMaxPlanes = 5;

// Rows of samples of `bits` stored in planes of their own, one row of `width` samples a plane,
// interleaved into one row of `width` pixels.
void interleavePlanes(const unsigned char* const* planes, size_t count, unsigned bits, uint32_t width, unsigned char* out)
{
    if (bits % 8 == 0) {
        const size_t size = bits / 8;
        for (size_t s = 0; s < count; ++s) {
            const unsigned char* in = planes[s];
            unsigned char* to = out + s * size;
            for (uint32_t x = 0; x < width; ++x, in += size, to += count * size)
                std::memcpy(to, in, size);
        }
        return;
    }
    std::memset(out, 0, (size_t(width) * count * bits + 7) / 8);
    for (uint32_t x = 0; x < width; ++x)
        for (size_t s = 0; s < count; ++s) {
            const unsigned v = packedSample(planes[s], size_t(x) * bits, bits);
            // Written a bit at a time, the first the highest.
            for (size_t to = (size_t(x) * count + s) * bits, b = bits; b-- > 0; ++to)
                out[to / 8] = static_cast<unsigned char>(out[to / 8] | ((v >> b) & 1) << (7 - to % 8));
        }
}

// A page stored in strips, read a row at a time in increasing order and made premultiplied RGBA,
// so that no strip is ever held whole (a page of one strip would be). The layouts of RowLayout
// are made by rowToRgba(); every other layout the library's RGBA interface reads (palette, 16
// bits, CMYK, YCbCr, Lab, samples stored in planes of their own, ...) is made by the very
// conversions that interface applies to a strip (the put routines its public RGBA state holds),
// given the rows instead, so the pixels are its own. Planes are read through a handle each: one
// handle moving between the planes' strips would decode each from its start again at every row.
class StripRows {
public:
    StripRows() = default;
    StripRows(const StripRows&) = delete;
    StripRows& operator=(const StripRows&) = delete;
    ~StripRows()
    {
        if (m_began)
            TIFFRGBAImageEnd(&m_image);
    }

    // False when `tiff` is tiled, or of a layout whose rows are not read one at a time here.
    bool open(const QByteArray& data, TIFF* tiff, uint32_t width, uint32_t height)
    {
        if (TIFFIsTiled(tiff))
            return false;
        m_width = width;
        m_layout = rowLayout(tiff);
        uint64_t scanline = uint64_t(std::max<tmsize_t>(TIFFScanlineSize64(tiff), 0));
        if (m_layout.kind != RowLayout::None) {
            // Samples in planes of their own are read a plane a handle, and interleaved.
            const uint64_t samples = m_layout.planes ? 1 : m_layout.samples;
            if (scanline < (uint64_t(width) * samples * m_layout.bits + 7) / 8 || scanline > kMaxRowBytes)
                return false;
            if (!openPlanes(data, tiff, m_layout.planes ? uint16_t(m_layout.samples) : 1, scanline))
                return false;
            if (m_layout.planes)
                m_interleavedBytes = (uint64_t(width) * m_layout.samples * m_layout.bits + 7) / 8;
            return true;
        }
        // Old-style JPEG coding hands out its rows in blocks of its own: it keeps the strip road.
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
        char message[1024] = {0};
        if (compression == COMPRESSION_OJPEG || !TIFFRGBAImageBegin(&m_image, tiff, 0, message))
            return false;
        m_began = true;
        // Asked again: for JPEG-coded YCbCr the interface has the coding make RGB rows.
        scanline = uint64_t(std::max<tmsize_t>(TIFFScanlineSize64(tiff), 0));
        if (scanline == 0 || scanline > kMaxRowBytes || uint64_t(width) * 4 > kMaxRowBytes)
            return false;
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        if (m_image.isContig) {
            // TIFF 6.0 section 21: subsampled YCbCr is stored in blocks of rows, one stored row
            // holding a share of a block row; the rows of a block are read together.
            if (m_image.photometric == PHOTOMETRIC_YCBCR) {
                uint16_t across = 1, down = 1;
                TIFFGetFieldDefaulted(tiff, TIFFTAG_YCBCRSUBSAMPLING, &across, &down);
                if (across == 0 || down == 0 || m_image.bitspersample != 8)
                    return false;
                const uint64_t blockRow = (uint64_t(width) + across - 1) / across * (uint64_t(across) * down + 2);
                // A last block cut by the picture's bottom edge holds rows past the edge, which
                // the library reads only with its whole strip: such pages keep that road.
                if (height % down != 0 || (rowsPerStrip % down != 0 && rowsPerStrip < height) || scanline * down != blockRow)
                    return false;
                m_group = down;
            } else if (scanline < (uint64_t(width) * m_image.samplesperpixel * m_image.bitspersample + 7) / 8) {
                return false;
            }
            m_stored.push_back({tiff, 0, scanline * m_group});
        } else {
            // The planes the conversion takes: one of grey or palette, else three, then alpha
            // (or, for CMYK, the black).
            const bool oneColour = m_image.photometric == PHOTOMETRIC_MINISWHITE ||
                                   m_image.photometric == PHOTOMETRIC_MINISBLACK || m_image.photometric == PHOTOMETRIC_PALETTE;
            const uint16_t colours = oneColour ? 1 : 3;
            const uint16_t planes = uint16_t(colours + (m_image.alpha ? 1 : 0));
            if (planes > m_image.samplesperpixel || scanline < (uint64_t(width) * m_image.bitspersample + 7) / 8 ||
                !openPlanes(data, tiff, planes, scanline))
                return false;
        }
        m_rgbaRows = true;
        return true;
    }

    // Bytes the rows take while they are read (the last row besides the one being read included).
    uint64_t bytes() const
    {
        uint64_t stored = 0;
        for (const Plane& plane : m_stored)
            stored += plane.bytes;
        const uint64_t rgba = m_rgbaRows ? uint64_t(m_width) * 4 * m_group : 0;
        return stored + rgba + m_interleavedBytes + keySize();
    }

    void allocate()
    {
        for (Plane& plane : m_stored)
            plane.row.resize(size_t(plane.bytes));
        if (m_rgbaRows)
            m_rgba.resize(size_t(m_width) * 4 * m_group);
        m_interleaved.resize(size_t(m_interleavedBytes));
    }

    // Reads row `y`, after those before it; false when the file is damaged there.
    bool read(uint32_t y)
    {
        m_y = y;
        const uint32_t first = y - y % m_group;
        if (m_groupRead && first == m_groupFirst)
            return true;  // read with the first row of its block
        m_groupRead = true;
        m_groupFirst = first;
        for (Plane& plane : m_stored)
            for (uint32_t r = 0; r < m_group; ++r)
                if (TIFFReadScanline(plane.tiff, plane.row.data() + size_t(plane.bytes / m_group) * r, first + r, plane.sample) < 0)
                    return false;
        if (!m_interleaved.empty()) {
            const unsigned char* planes[kMaxPlanes] = {};
            for (size_t s = 0; s < m_stored.size() && s < kMaxPlanes; ++s)
                planes[s] = m_stored[s].row.data();
            interleavePlanes(planes, std::min<size_t>(m_stored.size(), kMaxPlanes), m_layout.bits, m_width, m_interleaved.data());
        }
        if (!m_rgbaRows)
            return true;
        auto* out = reinterpret_cast<uint32_t*>(m_rgba.data());
        if (m_image.isContig) {
            m_image.put.contig(&m_image, out, 0, first, m_width, m_group, 0, 0, m_stored[0].row.data());
        } else {
            unsigned char* red = m_stored[0].row.data();
            const bool oneColour = m_stored.size() == (m_image.alpha ? 2u : 1u);
            unsigned char* green = oneColour ? red : m_stored[1].row.data();
            unsigned char* blue = oneColour ? red : m_stored[2].row.data();
            unsigned char* alpha = m_image.alpha ? m_stored.back().row.data() : nullptr;
            m_image.put.separate(&m_image, out, 0, first, m_width, 1, 0, 0, red, green, blue, alpha);
        }
        return true;
    }

    // The bytes row `y` was made from, to tell a row that repeats the one before it.
    const unsigned char* key() const
    {
        return m_rgbaRows              ? m_rgba.data() + size_t(m_y % m_group) * m_width * 4
               : m_interleavedBytes > 0 ? m_interleaved.data()
                                        : m_stored[0].row.data();
    }
    size_t keySize() const
    {
        return m_rgbaRows ? size_t(m_width) * 4 : m_interleavedBytes > 0 ? size_t(m_interleavedBytes) : size_t(m_stored[0].bytes);
    }

    // Columns [first, first + count) of the row read last, premultiplied RGBA, into `out`.
    void rgba(unsigned char* out, uint32_t first, uint32_t count) const
    {
        if (m_rgbaRows)
            std::memcpy(out, key() + size_t(first) * 4, size_t(count) * 4);
        else
            rowToRgba(m_layout, key(), out, first, count);
    }

private:
    // A row of `planes` planes, each read through a handle of its own: one handle moving between
    // the planes' strips would decode each from its start again at every row.
    bool openPlanes(const QByteArray& data, TIFF* tiff, uint16_t planes, uint64_t scanline)
    {
        for (uint16_t plane = 0; plane < planes; ++plane) {
            TIFF* handle = tiff;
            if (plane > 0) {
                m_handles.push_back(std::make_unique<TiffHandle>(data));
                handle = m_handles.back()->get();
                if (!handle)
                    return false;
            }
            m_stored.push_back({handle, plane, scanline});
        }
        return true;
    }

    // A stored row longer than this (2 GB) is no row of a picture that can be shown.
    static constexpr uint64_t kMaxRowBytes = uint64_t(1) << 31;
    struct Plane {
        TIFF* tiff;
        uint16_t sample;
        uint64_t bytes;
        std::vector<unsigned char> row = {};
    };

    uint32_t m_width = 0;
    uint32_t m_group = 1;  // rows read together
    uint32_t m_y = 0;
    uint32_t m_groupFirst = 0;  // the first row of the block read last
    bool m_groupRead = false;
    RowLayout m_layout;
    TIFFRGBAImage m_image = {};
    bool m_began = false;
    bool m_rgbaRows = false;  // made RGBA by the library's conversions
    std::vector<std::unique_ptr<TiffHandle>> m_handles;
    std::vector<Plane> m_stored;
    std::vector<unsigned char> m_rgba;  // the rows of a block, packed RGBA
    uint64_t m_interleavedBytes = 0;     // a row of samples stored in planes, interleaved
    std::vector<unsigned char> m_interleaved;
};

class TiffDecoder final : public FormatDecoder {
public:
    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        TiffHandle tiff(m_data);
        uint32_t w = 0, h = 0;
        if (!tiff.get() || !TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &w) ||
            !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &h)) {
            if (error)
                *error = QStringLiteral("not a readable TIFF file");
            return false;
        }
        m_size = QSize(int(std::min<uint32_t>(w, INT32_MAX)), int(std::min<uint32_t>(h, INT32_MAX)));
        if (!dataCanHold(tiff.get(), uint64_t(m_data.size()), w, h)) {
            if (error)
                *error = QStringLiteral("the TIFF file is far too short for %1 x %2 pixels").arg(w).arg(h);
            return false;
        }
        if (!blocksDecodeInTime(tiff.get(), w, h, error))
            return false;
        // TIFF 6.0 section 3-8: how the first page stores its samples, for a writer to keep.
        uint16_t photometric = PHOTOMETRIC_RGB, bits = 1;
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
        if (!TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric))
            photometric = PHOTOMETRIC_RGB;
        m_depth = bits;
        uint16_t extraCount = 0;
        uint16_t* extra = nullptr;
        m_alpha = TIFFGetField(tiff.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0 && extra &&
                  (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
        // TIFF 6.0 section 8: the orientation tag of the page itself, so that a file the metadata
        // reader cannot open (one of 64-bit offsets) still shows upright.
        uint16_t orientation = 0;
        if (TIFFGetField(tiff.get(), TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 && orientation <= 8)
            m_orientation = orientation;
        m_colorModel = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE
                           ? kCGImagePropertyColorModelGray
                           : photometric == PHOTOMETRIC_SEPARATED ? kCGImagePropertyColorModelCMYK
                                                                  : kCGImagePropertyColorModelRGB;
        return true;
    }
    QVariantMap formatProperties(int) const override
    {
        QVariantMap properties{{kCGImagePropertyColorModel, QString::fromLatin1(m_colorModel)},
                               {kCGImagePropertyDepth, m_depth},
                               {kCGImagePropertyHasAlpha, m_alpha}};
        if (m_orientation != 0)
            properties.insert(kCGImagePropertyOrientation, m_orientation);
        return properties;
    }
    QString type() const override { return ContentTypes::kTiff; }
    QSize frameSize(int) const override { return m_size; }
    QImage decode(int index, int maxPixelSize, QString* error) override
    {
        // A picture asked for at a fraction of its size is read tile by tile (or strip by strip)
        // into the reduced frame, never whole: a TIFF far larger than the decode budget shows
        // fitted.
        int reduction = 1;
        while (maxPixelSize > 0 && reduction < 8 &&
               (std::max(m_size.width(), m_size.height()) + 2 * reduction - 1) / (2 * reduction) >= maxPixelSize)
            reduction *= 2;
        if (reduction > 1) {
            const QSize reduced((m_size.width() + reduction - 1) / reduction, (m_size.height() + reduction - 1) / reduction);
            return decodeRegion(index, QRect(QPoint(0, 0), reduced), reduction, error);
        }
        return decodeWhole(error);
    }

    // Only the tiles or strips the part covers are read, one at a time; the budget is charged for
    // the part and one tile or strip. Strips are read a row at a time instead, however many rows
    // a strip holds, wherever StripRows reads their layout.
    QImage decodeRegion(int, const QRect& rect, int reduction, QString* error) override
    {
        const auto fail = [error](const QString& why) {
            if (error)
                *error = why;
            return QImage();
        };
        TiffHandle tiff(m_data);
        char message[1024] = {0};
        if (!tiff.get())
            return fail(QStringLiteral("not a readable TIFF file"));
        if (!layoutReadable(tiff.get(), message))
            return fail(QStringLiteral("unsupported TIFF layout: %1").arg(QString::fromLatin1(message)));
        const int width = m_size.width(), height = m_size.height();
        const QRect source = QRect(rect.x() * reduction, rect.y() * reduction, rect.width() * reduction,
                                   rect.height() * reduction)
                                 .intersected(QRect(0, 0, width, height));
        if (source.isEmpty())
            return fail(QStringLiteral("the part lies outside the picture"));
        if (!frameFitsFile(uint64_t(rect.width()) * uint64_t(rect.height()) * 4, uint64_t(m_data.size()), error))
            return {};
        const bool tiled = TIFFIsTiled(tiff.get());
        TIFFSetField(tiff.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        StripRows rows;
        if (rows.open(m_data, tiff.get(), uint32_t(width), uint32_t(height)))
            return decodeRows(tiff.get(), rows, rect, source, reduction, error);
        uint32_t blockWidth = uint32_t(width), blockHeight = 0;
        if (tiled) {
            TIFFGetField(tiff.get(), TIFFTAG_TILEWIDTH, &blockWidth);
            TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &blockHeight);
        } else {
            TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &blockHeight);
            blockHeight = std::min(blockHeight, uint32_t(height));
        }
        if (blockWidth == 0 || blockHeight == 0 || !ImageLimits::frameAllowed(blockWidth, blockHeight))
            return fail(QStringLiteral("the TIFF tiles or strips have no usable size"));
        const uint64_t blockPixels = uint64_t(blockWidth) * blockHeight;
        // Tiles of a layout the RGBA interface refuses (16-bit CMYK, floating-point samples) are
        // read as stored, a tile at a time (a tile of each plane when the samples lie in planes of
        // their own), and their rows made RGBA here, into a block laid out as the interface lays one.
        const RowLayout layout = tiled ? rowLayout(tiff.get()) : RowLayout();
        const bool storedTiles = madeFromStoredRows(layout);
        const uint16_t planes = layout.planes ? uint16_t(layout.samples) : 1;
        const uint64_t tileRowBytes = storedTiles ? (uint64_t(blockWidth) * (planes > 1 ? 1 : layout.samples) * layout.bits + 7) / 8 : 0;
        const int64_t tileBytes = storedTiles ? TIFFTileSize64(tiff.get()) : 0;
        if (storedTiles && (tileBytes <= 0 || uint64_t(tileBytes) < tileRowBytes * blockHeight))
            return fail(QStringLiteral("the TIFF tiles have no usable size"));
        const uint64_t interleavedBytes = planes > 1 ? (uint64_t(blockWidth) * layout.samples * layout.bits + 7) / 8 : 0;
        // Tiles of a few pixels are read a row of them at a time, through one RGBA state a core:
        // read one at a time, each would cost the state's set-up, a hundred times its pixels.
        const uint32_t firstColumn = tiled ? uint32_t(source.left()) / blockWidth * blockWidth : 0;
        const uint32_t spanWidth =
            uint32_t(std::min<uint64_t>(uint64_t(width), (uint64_t(source.right()) / blockWidth + 1) * blockWidth) - firstColumn);
        const bool tileRows = tiled && !storedTiles && blockPixels < kSmallTilePixels &&
                              uint64_t(spanWidth) * blockHeight <= kTileRowPixels;
        const uint64_t blockBytes = (tileRows ? std::max(blockPixels, uint64_t(spanWidth) * blockHeight) : blockPixels) * 4;
        const uint64_t sumBytes = reduction > 1 ? uint64_t(rect.width()) * uint64_t(rect.height()) * 4 * sizeof(uint32_t) : 0;
        if (!imageio_detail::reserveDecodeBytes(blockBytes + uint64_t(tileBytes) * planes + interleavedBytes + sumBytes, error))
            return {};
        QImage part = imageio_detail::allocateFrame(rect.width(), rect.height(), error);
        if (part.isNull())
            return {};
        part.fill(0);
        // A row of tiles or a strip at a time, on several cores where the part spans several
        // and each covers whole rows of the part's blocks, each core through a handle and
        // buffers of its own.
        struct Core {
            std::unique_ptr<TiffHandle> handle;
            TIFF* tiff = nullptr;
            std::vector<uint32_t> block;
            std::vector<unsigned char> stored, interleaved;
            TIFFRGBAImage rgba = {};
            bool began = false;
            Core() = default;
            Core(Core&& other) noexcept
                : handle(std::move(other.handle)), tiff(other.tiff), block(std::move(other.block)), stored(std::move(other.stored)),
                  interleaved(std::move(other.interleaved)), rgba(other.rgba), began(std::exchange(other.began, false))
            {
            }
            ~Core()
            {
                if (began)
                    TIFFRGBAImageEnd(&rgba);
            }
        };
        const uint32_t firstRow = uint32_t(source.top()) / blockHeight * blockHeight;
        const uint32_t bands = (uint32_t(source.bottom()) - firstRow) / blockHeight + 1;
        const uint64_t coreBytes = blockBytes + uint64_t(tileBytes) * planes + interleavedBytes;
        const bool apart = reduction == 1 || blockHeight % uint32_t(reduction) == 0;
        const uint64_t blocks = tiled ? TIFFNumberOfTiles(tiff.get()) : TIFFNumberOfStrips(tiff.get());
        const unsigned wanted = apart && bands > 1 ? std::min<unsigned>(decodeCores(), bands) : 1;
        std::vector<Core> cores(sparedCores(coresForBlocks(wanted, uint64_t(source.width()) * uint64_t(source.height()), blocks), coreBytes));
        for (size_t c = 0; c < cores.size(); ++c) {
            if (c > 0) {
                cores[c].handle = std::make_unique<TiffHandle>(m_data);
                if (!cores[c].handle->get()) {
                    cores.resize(c);
                    break;
                }
            }
            cores[c].tiff = c > 0 ? cores[c].handle->get() : tiff.get();
            TIFFSetField(cores[c].tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
            if (tileRows) {
                // Rows bottom first, as a tile read alone hands them out; a damaged tile fails the
                // row, which is then read a tile at a time.
                cores[c].began = TIFFRGBAImageBegin(&cores[c].rgba, cores[c].tiff, 1, message);
                cores[c].rgba.req_orientation = ORIENTATION_BOTLEFT;
            }
        }
        if (cores.size() > 1 && !imageio_detail::reserveDecodeBytes(coreBytes * (cores.size() - 1), error))
            return {};
        for (Core& core : cores) {
            core.block.resize(size_t(blockBytes / 4));
            core.stored.resize(static_cast<size_t>(tileBytes) * planes);
            core.interleaved.resize(static_cast<size_t>(interleavedBytes));
        }
        const auto readStoredTile = [&](Core& core, uint32_t left, uint32_t top) {
            for (uint16_t plane = 0; plane < planes; ++plane)
                if (TIFFReadTile(core.tiff, core.stored.data() + size_t(tileBytes) * plane, left, top, 0, plane) < 0)
                    return false;
            // Rows bottom first, as the RGBA interface hands them out.
            for (uint32_t r = 0; r < blockHeight; ++r) {
                const unsigned char* row = core.stored.data() + size_t(tileRowBytes) * r;
                if (planes > 1) {
                    const unsigned char* rows[kMaxPlanes] = {};
                    for (uint16_t plane = 0; plane < planes && plane < kMaxPlanes; ++plane)
                        rows[plane] = row + size_t(tileBytes) * plane;
                    interleavePlanes(rows, std::min<size_t>(planes, kMaxPlanes), layout.bits, blockWidth, core.interleaved.data());
                    row = core.interleaved.data();
                }
                rowToRgba(layout, row, reinterpret_cast<unsigned char*>(core.block.data() + size_t(blockHeight - 1 - r) * blockWidth),
                          0, blockWidth);
            }
            return true;
        };
        std::vector<uint32_t> sums(sumBytes / sizeof(uint32_t));
        uchar* const bits = part.bits();
        const size_t bytesPerLine = size_t(part.bytesPerLine());
        std::atomic<bool> anyRead{false};
        // A block read, `across` pixels wide and `rowsStored` high, its rows bottom first, whose
        // first column is `left` and first row `top`, into the part (or its sums).
        const auto place = [&](const uint32_t* block, uint32_t left, uint32_t top, uint32_t across, uint32_t rowsStored,
                               uint32_t down) {
            const int y0 = std::max<int>(int(top), source.top());
            const int y1 = std::min<int>(int(std::min<uint64_t>(uint64_t(top) + down, uint64_t(height))) - 1, source.bottom());
            const int x0 = std::max<int>(int(left), source.left());
            const int x1 = std::min<int>(int(std::min<uint64_t>(uint64_t(left) + across, uint64_t(width))) - 1, source.right());
            for (int y = y0; y <= y1; ++y) {
                const uint32_t* in = block + size_t(rowsStored - 1 - (uint32_t(y) - top)) * across + (uint32_t(x0) - left);
                if (reduction == 1) {
                    std::memcpy(bits + size_t(y - source.top()) * bytesPerLine + size_t(x0 - source.left()) * 4, in,
                                size_t(x1 - x0 + 1) * 4);
                    continue;
                }
                uint32_t* row = sums.data() + size_t(y / reduction - rect.y()) * size_t(rect.width()) * 4;
                // Block by block: a pixel's block is found once per block, not once per pixel.
                for (int x = x0; x <= x1;) {
                    const int column = x / reduction;
                    const int blockEnd = std::min(x1, (column + 1) * reduction - 1);
                    uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
                    for (; x <= blockEnd; ++x, ++in) {
                        const uint32_t p = *in;
                        s0 += p & 0xFF;
                        s1 += (p >> 8) & 0xFF;
                        s2 += (p >> 16) & 0xFF;
                        s3 += p >> 24;
                    }
                    uint32_t* sum = row + size_t(column - rect.x()) * 4;
                    sum[0] += s0;
                    sum[1] += s1;
                    sum[2] += s2;
                    sum[3] += s3;
                }
            }
        };
        const auto band = [&](unsigned coreIndex, uint32_t index, const std::function<bool()>& stopped) {
            Core& core = cores[coreIndex];
            const uint32_t top = firstRow + index * blockHeight;
            if (core.began) {
                const uint32_t rows = std::min(blockHeight, uint32_t(height) - top);
                core.rgba.row_offset = int(top);
                core.rgba.col_offset = int(firstColumn);
                if (TIFFRGBAImageGet(&core.rgba, core.block.data(), spanWidth, rows)) {
                    anyRead.store(true, std::memory_order_relaxed);
                    place(core.block.data(), firstColumn, top, spanWidth, rows, rows);
                    return;
                }
            }
            for (uint32_t left = firstColumn; left <= uint32_t(source.right()); left += blockWidth) {
                // Between tiles or strips, a cancelled load stops.
                if (stopped())
                    return;
                const bool read = storedTiles ? readStoredTile(core, left, top)
                                  : tiled     ? TIFFReadRGBATile(core.tiff, left, top, core.block.data())
                                              : TIFFReadRGBAStrip(core.tiff, top, core.block.data());
                if (!read)
                    continue;  // a damaged block stays transparent, as in a whole decode
                anyRead.store(true, std::memory_order_relaxed);
                // A strip holds only the rows the picture has, an edge tile is laid out as a whole one.
                place(core.block.data(), left, top, blockWidth, tiled ? blockHeight : std::min(blockHeight, uint32_t(height) - top),
                      blockHeight);
            }
        };
        if (!runBands(unsigned(cores.size()), bands, band, error))
            return {};
        if (!anyRead)
            return fail(QStringLiteral("no strip or tile of the TIFF file could be decoded: its data is damaged or lies outside the file"));
        if (reduction > 1) {
            // Edge blocks average the pixels they have, as every reduced decode does.
            for (int y = 0; y < rect.height(); ++y) {
                const int rows = std::min(reduction, height - (rect.y() + y) * reduction);
                uchar* out = part.scanLine(y);
                const uint32_t* sum = sums.data() + size_t(y) * size_t(rect.width()) * 4;
                for (int x = 0; x < rect.width(); ++x) {
                    const int columns = std::min(reduction, width - (rect.x() + x) * reduction);
                    const uint32_t n = uint32_t(rows * columns);
                    for (int c = 0; c < 4; ++c)
                        out[x * 4 + c] = uchar((sum[x * 4 + c] + n / 2) / n);
                }
            }
        }
        return part;
    }

private:
    // The rows of `source` read one at a time, from the first row of the strip it begins in (a
    // coded strip is read from its start), and made RGBA into the part: copied at full size, else
    // averaged over blocks of reduction x reduction. A row that repeats the one before it (most
    // rows of a page) is summed once. The budget is charged for the part, the rows StripRows
    // holds, an RGBA row and the sums of one row of the part. Rows after damage stay clear.
    //
    // A page of many strips is read in bands of whole strips (and whole blocks) on several cores,
    // each band through a handle of its own, the budget charged for the rows each core holds;
    // where the budget has no room for them, on one. The pixels are the same either way: rows
    // from the first damaged one on stay clear however far the other bands got.
    QImage decodeRows(TIFF* tiff, StripRows& rows, const QRect& rect, const QRect& source, int reduction,
                      QString* error)
    {
        const auto fail = [error](const QString& why) {
            if (error)
                *error = why;
            return QImage();
        };
        const uint32_t columns = uint32_t(source.width());
        const uint64_t sumBytes = reduction > 1 ? uint64_t(rect.width()) * 4 * sizeof(uint32_t) * 2 : 0;
        const uint64_t coreBytes = rows.bytes() + uint64_t(columns) * 4 + sumBytes;
        if (!imageio_detail::reserveDecodeBytes(coreBytes, error))
            return {};
        QImage part = imageio_detail::allocateFrame(rect.width(), rect.height(), error);
        if (part.isNull())
            return {};
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::max<uint32_t>(std::min<uint32_t>(rowsPerStrip, uint32_t(m_size.height())), 1);
        const uint32_t top = uint32_t(source.top()), bottom = uint32_t(source.bottom());
        // Bands start on a strip and on a block of the reduction; each holds about kBandPixels.
        const uint64_t step = std::lcm(uint64_t(rowsPerStrip), uint64_t(reduction));
        const uint64_t bandRows = step * std::max<uint64_t>(1, kBandPixels / (uint64_t(columns) * step));
        const uint32_t firstBand = uint32_t(top / bandRows), bands = uint32_t(bottom / bandRows - firstBand + 1);
        unsigned cores = bands > 1 ? std::min<unsigned>(decodeCores(), bands) : 1;
        // Each further core holds its rows and a coded strip.
        const uint64_t extraBytes = coreBytes + uint64_t(std::max<int64_t>(TIFFStripSize64(tiff), 0));
        cores = sparedCores(cores, extraBytes);
        std::vector<std::unique_ptr<TiffHandle>> handles;
        std::vector<std::unique_ptr<StripRows>> coreRows;
        for (unsigned c = 1; c < cores; ++c) {
            auto handle = std::make_unique<TiffHandle>(m_data);
            auto more = std::make_unique<StripRows>();
            if (!handle->get())
                break;
            TIFFSetField(handle->get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
            if (!more->open(m_data, handle->get(), uint32_t(m_size.width()), uint32_t(m_size.height())) ||
                more->bytes() != rows.bytes())
                break;
            handles.push_back(std::move(handle));
            coreRows.push_back(std::move(more));
        }
        cores = unsigned(coreRows.size()) + 1;
        if (cores > 1 && !imageio_detail::reserveDecodeBytes(extraBytes * (cores - 1), error))
            return {};
        rows.allocate();
        for (auto& more : coreRows)
            more->allocate();
        uchar* const bits = part.bits();
        const size_t bytesPerLine = size_t(part.bytesPerLine());
        // The first row each band could not read (UINT32_MAX for none).
        std::vector<uint32_t> damagedAt(bands, UINT32_MAX);
        const auto band = [&](unsigned core, uint32_t index, const std::function<bool()>& stopped) {
            StripRows& r = core == 0 ? rows : *coreRows[core - 1];
            const uint32_t from = std::max<uint32_t>(top, uint32_t((firstBand + index) * bandRows));
            const uint32_t to = uint32_t(std::min<uint64_t>(bottom, (firstBand + index + 1) * bandRows - 1));
            damagedAt[index] = readBand(r, rect, source, reduction, rowsPerStrip, from, to, bits, bytesPerLine, stopped);
        };
        if (!runBands(cores, bands, band, error))
            return {};
        const uint32_t damaged = *std::min_element(damagedAt.begin(), damagedAt.end());
        // Rows of the part whose every source row was read before the first damage.
        const int rowsDone = damaged > bottom ? part.height()
                                              : std::clamp<int>(int(damaged / uint32_t(reduction)) - rect.y(), 0, part.height());
        if (rowsDone == 0)
            return fail(QStringLiteral("no strip or tile of the TIFF file could be decoded: its data is damaged or lies outside the file"));
        for (int r = rowsDone; r < part.height(); ++r)
            std::memset(part.scanLine(r), 0, size_t(part.bytesPerLine()));
        return part;
    }

    // Rows [from, to] of `source` through `rows`, from the first row of the strip `from` lies in,
    // into the part whose rows start at `bits`. Answers the first row that could not be read, or
    // UINT32_MAX; stops early (the answer then meaning nothing) once `stopped` says so.
    uint32_t readBand(StripRows& rows, const QRect& rect, const QRect& source, int reduction, uint32_t rowsPerStrip,
                      uint32_t from, uint32_t to, uchar* bits, size_t bytesPerLine, const std::function<bool()>& stopped) const
    {
        const uint32_t columns = uint32_t(source.width());
        std::vector<unsigned char> previous(rows.keySize()), rgba(reduction > 1 ? static_cast<size_t>(columns) * 4 : 0);
        std::vector<uint32_t> rowSums(reduction > 1 ? size_t(rect.width()) * 4 : 0), sums(rowSums.size());
        bool known = false;
        // Rows of the block row that repeat the one whose sums rowSums hold, added at once: a
        // blank page, or a file of a few bytes declaring a quarter of a gigapixel, costs a
        // comparison a row.
        uint32_t repeats = 0;
        const auto addRepeats = [&] {
            for (size_t i = 0; i < sums.size(); ++i)
                sums[i] += rowSums[i] * repeats;
            repeats = 0;
        };
        uint32_t y = from / rowsPerStrip * rowsPerStrip;
        for (unsigned asked = 1; y <= to; ++y, ++asked) {
            // Every few rows, a cancelled load stops: none of the part is answered.
            if (asked % imageio_detail::kCancelPollRows == 0 && stopped())
                return y;
            if (!rows.read(y))
                return y;
            if (y < from)
                continue;
            if (reduction == 1) {
                rows.rgba(bits + size_t(y - uint32_t(source.top())) * bytesPerLine, uint32_t(source.left()), columns);
                continue;
            }
            if (!known || std::memcmp(rows.key(), previous.data(), previous.size()) != 0) {
                addRepeats();
                std::memcpy(previous.data(), rows.key(), previous.size());
                known = true;
                rows.rgba(rgba.data(), uint32_t(source.left()), columns);
                std::fill(rowSums.begin(), rowSums.end(), 0u);
                const unsigned char* p = rgba.data();
                for (uint32_t x = 0; x < columns; ++x, p += 4) {
                    uint32_t* sum = rowSums.data() + size_t((uint32_t(source.left()) + x) / uint32_t(reduction) - uint32_t(rect.x())) * 4;
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                    sum[3] += p[3];
                }
            }
            ++repeats;
            if (y != uint32_t(source.bottom()) && (y + 1) % uint32_t(reduction) != 0)
                continue;
            addRepeats();
            // The block row is complete: its averages, edge blocks over the pixels they have.
            const int outY = int(y / uint32_t(reduction)) - rect.y();
            const uint32_t blockRows = y - std::max(uint32_t(source.top()), y / uint32_t(reduction) * uint32_t(reduction)) + 1;
            uchar* out = bits + size_t(outY) * bytesPerLine;
            for (int x = 0; x < rect.width(); ++x) {
                const int blockColumns = std::min(reduction, m_size.width() - (rect.x() + x) * reduction);
                const uint32_t n = blockRows * uint32_t(blockColumns);
                for (int c = 0; c < 4; ++c)
                    out[x * 4 + c] = uchar((sums[size_t(x) * 4 + size_t(c)] + n / 2) / n);
            }
            std::fill(sums.begin(), sums.end(), 0u);
        }
        return UINT32_MAX;
    }

    QImage decodeWhole(QString* error)
    {
        TiffHandle tiff(m_data);
        if (!tiff.get()) {
            if (error)
                *error = QStringLiteral("not a readable TIFF file");
            return {};
        }
        if (!ImageLimits::frameAllowed(uint64_t(m_size.width()), uint64_t(m_size.height()))) {
            if (error)
                *error = QStringLiteral("TIFF image of %1 x %2 pixels exceeds the size limit")
                             .arg(m_size.width())
                             .arg(m_size.height());
            return {};
        }
        char message[1024] = {0};
        if (!layoutReadable(tiff.get(), message)) {
            if (error)
                *error = QStringLiteral("unsupported TIFF layout: %1").arg(QString::fromLatin1(message));
            return {};
        }
        if (TIFFIsTiled(tiff.get()) ? madeFromStoredRows(rowLayout(tiff.get()))
                                    : StripRows().open(m_data, tiff.get(), uint32_t(m_size.width()), uint32_t(m_size.height())))
            return decodeRegion(0, QRect(QPoint(0, 0), m_size), 1, error);
        if (!frameFitsFile(uint64_t(m_size.width()) * uint64_t(m_size.height()) * 4, uint64_t(m_data.size()), error))
            return {};
        // The library reads a strip or tile at a time, whole, beside the frame.
        const int64_t block = TIFFIsTiled(tiff.get()) ? TIFFTileSize64(tiff.get()) : TIFFStripSize64(tiff.get());
        if (block <= 0 || !imageio_detail::reserveDecodeBytes(uint64_t(block), error)) {
            if (error && block <= 0)
                *error = QStringLiteral("the TIFF tiles or strips have no usable size");
            return {};
        }
        QImage image = imageio_detail::allocateFrame(m_size.width(), m_size.height(), error);
        if (image.isNull())
            return {};
        // Pretend the stored order is upright so the library does not flip rows for us.
        TIFFSetField(tiff.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        // The raster is one packed 32-bit word a pixel, R in the lowest byte, with associated
        // alpha: on a little-endian machine that is premultiplied RGBA byte order.
        static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "RGBA raster byte order assumes little endian");
        if (image.bytesPerLine() != qsizetype(m_size.width()) * 4) {
            if (error)
                *error = QStringLiteral("unexpected row padding");
            return {};
        }
        if (!readRgbaBands(tiff.get(), reinterpret_cast<uint32_t*>(image.bits()), error))
            return {};
        return image;
    }

    // The whole page through the library's RGBA interface, as its whole-picture read makes it,
    // but a band of whole strips or tiles at a time: between two, a cancelled load stops. A
    // damaged strip or tile is passed over as the whole-picture read passes it. Bands are read on
    // several cores, each through a handle of its own, where the budget has room for the strip
    // or tile each further core holds.
    bool readRgbaBands(TIFF* tiff, uint32_t* raster, QString* error)
    {
        const uint32_t width = uint32_t(m_size.width()), height = uint32_t(m_size.height());
        uint32_t blockHeight = 0;
        if (TIFFIsTiled(tiff))
            TIFFGetField(tiff, TIFFTAG_TILELENGTH, &blockHeight);
        else
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &blockHeight);
        blockHeight = std::clamp<uint32_t>(blockHeight, 1, height);
        // Strips of a row or two are taken several to a band: a band costs a call of the library.
        const uint32_t band = blockHeight * std::max<uint32_t>(1, kMinBandRows / blockHeight);
        const uint32_t bands = (height - 1) / band + 1;
        struct Core {
            std::unique_ptr<TiffHandle> handle;
            TIFFRGBAImage rgba = {};
            bool began = false;
        };
        const uint64_t blocks = TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
        std::vector<Core> cores(coresForBlocks(bands > 1 ? std::min<unsigned>(decodeCores(), bands) : 1, uint64_t(width) * height, blocks));
        const int64_t block = TIFFIsTiled(tiff) ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff);
        cores.resize(sparedCores(unsigned(cores.size()), uint64_t(std::max<int64_t>(block, 0))));
        struct End {
            std::vector<Core>& cores;
            ~End()
            {
                for (Core& core : cores)
                    if (core.began)
                        TIFFRGBAImageEnd(&core.rgba);
            }
        } end{cores};
        char message[1024] = {0};
        for (size_t c = 0; c < cores.size(); ++c) {
            TIFF* handle = tiff;
            if (c > 0) {
                cores[c].handle = std::make_unique<TiffHandle>(m_data);
                handle = cores[c].handle->get();
                if (handle)
                    TIFFSetField(handle, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
            }
            cores[c].began = handle && TIFFRGBAImageBegin(&cores[c].rgba, handle, 0, message);
            if (!cores[c].began) {
                if (c == 0) {
                    if (error)
                        *error = QStringLiteral("unsupported TIFF layout: %1").arg(QString::fromLatin1(message));
                    return false;
                }
                cores.resize(c);
                break;
            }
            cores[c].rgba.req_orientation = ORIENTATION_TOPLEFT;
        }
        if (cores.size() > 1 && !imageio_detail::reserveDecodeBytes(uint64_t(block) * (cores.size() - 1), error))
            return false;
        std::atomic<bool> failed{false};
        const auto job = [&](unsigned core, uint32_t index, const std::function<bool()>&) {
            if (failed.load(std::memory_order_relaxed))
                return;
            TIFFRGBAImage& rgba = cores[core].rgba;
            const uint32_t top = index * band;
            rgba.row_offset = int(top);
            rgba.col_offset = 0;
            if (TIFFRGBAImageGet(&rgba, raster + size_t(top) * width, width, std::min(band, height - top)) == 0)
                failed = true;
        };
        if (!runBands(unsigned(cores.size()), bands, job, error))
            return false;
        if (failed && error)
            *error = QStringLiteral("no strip or tile of the TIFF file could be decoded: its data is damaged or lies outside the file");
        return !failed;
    }

    static constexpr uint32_t kMinBandRows = 64;
    // Tiles of fewer pixels than this are read a row of them at a time, when a row of them over
    // the part holds no more than kTileRowPixels.
    static constexpr uint64_t kSmallTilePixels = 64 * 64;
    static constexpr uint64_t kTileRowPixels = uint64_t(1) << 20;

    QByteArray m_data;
    QSize m_size;
    const char* m_colorModel = kCGImagePropertyColorModelRGB;
    int m_depth = 8;
    int m_orientation = 0;  // none stored
    bool m_alpha = false;
};

}  // namespace

namespace imageio_detail {

bool isTiffHeader(const QByteArray& data)
{
    return data.startsWith(QByteArrayView("II*\0", 4)) || data.startsWith(QByteArrayView("MM\0*", 4)) ||
           data.startsWith(QByteArrayView("II+\0", 4)) || data.startsWith(QByteArrayView("MM\0+", 4));
}

bool tiffEndsEarly(const QByteArray& data)
{
    if (!isTiffHeader(data))
        return false;
    TiffHandle tiff(data);
    if (!tiff.get())
        return false;
    const uint64_t size = uint64_t(data.size());
    const uint32_t count = TIFFIsTiled(tiff.get()) ? TIFFNumberOfTiles(tiff.get()) : TIFFNumberOfStrips(tiff.get());
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tiff.get(), i), bytes = TIFFGetStrileByteCount(tiff.get(), i);
        if (bytes > 0 && (offset > size || bytes > size - offset))
            return true;
    }
    return false;
}

bool tiffPages(const QByteArray& data, int* pages, int* bitsPerSample, bool* floatingPoint)
{
    TiffHandle tiff(data);
    if (!tiff.get())
        return false;
    // A damaged or looping directory chain stops the count; libtiff refuses loops itself.
    constexpr int kMaxPages = 4096;
    int count = 0;
    int bits = 0;
    bool floating = false;
    do {
        uint16_t b = 0, format = SAMPLEFORMAT_UINT;
        if (TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &b))
            bits = std::max(bits, int(b));
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLEFORMAT, &format);
        floating = floating || format == SAMPLEFORMAT_IEEEFP;
        ++count;
    } while (count < kMaxPages && TIFFReadDirectory(tiff.get()));
    *pages = count;
    *bitsPerSample = bits;
    if (floatingPoint)
        *floatingPoint = floating;
    return true;
}

bool tiffFirstPageSamples(const QByteArray& data, int* bitsPerSample, bool* floatingPoint)
{
    TiffHandle tiff(data);
    if (!tiff.get())
        return false;
    const SampleTags tags = sampleTags(tiff.get());
    *bitsPerSample = tags.bits;
    *floatingPoint = tags.format == SAMPLEFORMAT_IEEEFP;
    return true;
}

QImage tiffSixteenBitPart(const QByteArray& data, const QRect& rect, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return QImage();
    };
    TiffHandle handle(data);
    TIFF* tiff = handle.get();
    uint32_t width = 0, height = 0;
    if (!tiff || !TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height))
        return fail(QStringLiteral("not a readable TIFF file"));
    const SampleTags tags = sampleTags(tiff);
    const auto [samples, bits, planar, format, extraCount, extra, storedPhotometric, hasPhotometric] = tags;
    if (bits != 16 || format != SAMPLEFORMAT_UINT)
        return fail(QStringLiteral("the TIFF picture has no 16-bit samples"));
    // TIFF 6.0 sections 4 to 7: grey (either way up) or RGB, an alpha sample after the colours.
    const uint16_t photometric =
        hasPhotometric ? storedPhotometric : samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    const bool whiteIsZero = photometric == PHOTOMETRIC_MINISWHITE;
    const uint16_t colours = photometric == PHOTOMETRIC_RGB ? 3
                             : whiteIsZero || photometric == PHOTOMETRIC_MINISBLACK ? 1
                                                                                   : 0;
    if (colours == 0 || samples < colours)
        return fail(QStringLiteral("the TIFF picture's colours are not stored as grey or RGB"));
    const bool alpha = samples > colours;
    const bool associated = alpha && extraCount > 0 && extra && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    if (rect.isEmpty() || rect.x() < 0 || rect.y() < 0 || uint32_t(rect.right()) >= width || uint32_t(rect.bottom()) >= height)
        return fail(QStringLiteral("the part lies outside the picture"));
    if (!dataCanHold(tiff, uint64_t(data.size()), width, height))
        return fail(QStringLiteral("the TIFF file is far too short for %1 x %2 pixels").arg(width).arg(height));
    const bool contig = planar == PLANARCONFIG_CONTIG || samples == 1;
    const uint16_t planes = contig ? 1 : uint16_t(colours + (alpha ? 1 : 0));
    const uint32_t stride = contig ? samples : 1;  // samples a pixel in what is read
    const bool tiled = TIFFIsTiled(tiff);
    uint32_t blockWidth = width, blockHeight = 1;
    if (tiled && (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &blockWidth) || !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &blockHeight)))
        return fail(QStringLiteral("the TIFF tiles have no size"));
    if (blockWidth == 0 || blockHeight == 0 || !ImageLimits::frameAllowed(blockWidth, blockHeight))
        return fail(QStringLiteral("the TIFF tiles or rows have no usable size"));
    const uint64_t blockBytes = uint64_t(blockWidth) * blockHeight * stride * 2;
    const int64_t stored = tiled ? TIFFTileSize64(tiff) : TIFFScanlineSize64(tiff);
    if (stored <= 0 || uint64_t(stored) != blockBytes)
        return fail(QStringLiteral("unexpected TIFF row layout"));
    QImage part(rect.size(), associated ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBA64);
    std::vector<uint16_t> block;
    if (part.isNull())
        return fail(QStringLiteral("out of memory for a part of %1 x %2 pixels").arg(rect.width()).arg(rect.height()));
    block.resize(size_t(blockBytes / 2));
    // Columns [x0, x0 + count) of a row of plane `plane` (all samples when contiguous), whose
    // first column's samples `in` points at, into the part's row y.
    const auto place = [&](int y, uint32_t x0, uint32_t count, const uint16_t* in, uint16_t plane) {
        auto* out = reinterpret_cast<quint16*>(part.scanLine(y - rect.y())) + size_t(x0 - uint32_t(rect.x())) * 4;
        for (uint32_t i = 0; i < count; ++i, in += stride, out += 4) {
            for (uint16_t s = 0; s < stride; ++s) {
                const uint16_t sample = contig ? s : plane;
                const uint16_t v = in[s];
                if (sample < colours) {
                    if (colours == 1)
                        out[0] = out[1] = out[2] = whiteIsZero ? uint16_t(0xFFFF - v) : v;
                    else
                        out[sample] = v;
                } else if (sample == colours) {
                    out[3] = v;
                }
            }
            if (!alpha)
                out[3] = 0xFFFF;
        }
    };
    const uint32_t left = uint32_t(rect.x()), right = uint32_t(rect.right());
    const uint32_t top = uint32_t(rect.y()), bottom = uint32_t(rect.bottom());
    for (uint16_t plane = 0; plane < planes; ++plane) {
        if (tiled) {
            for (uint32_t ty = top / blockHeight * blockHeight; ty <= bottom; ty += blockHeight) {
                for (uint32_t tx = left / blockWidth * blockWidth; tx <= right; tx += blockWidth) {
                    if (imageio_detail::decodeCancelled(error))
                        return QImage();
                    if (TIFFReadTile(tiff, block.data(), tx, ty, 0, plane) < 0)
                        return fail(QStringLiteral("the TIFF file is damaged in the part"));
                    const uint32_t x0 = std::max(tx, left), x1 = uint32_t(std::min<uint64_t>(uint64_t(tx) + blockWidth - 1, right));
                    const uint32_t y1 = uint32_t(std::min<uint64_t>(uint64_t(ty) + blockHeight - 1, bottom));
                    for (uint32_t y = std::max(ty, top); y <= y1; ++y)
                        place(int(y), x0, x1 - x0 + 1,
                              block.data() + (size_t(y - ty) * blockWidth + (x0 - tx)) * stride, plane);
                }
            }
            continue;
        }
        // A coded strip is read from its first row; the rows below the part are never read.
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::max<uint32_t>(std::min(rowsPerStrip, height), 1);
        for (uint32_t y = top / rowsPerStrip * rowsPerStrip; y <= bottom; ++y) {
            if (y % imageio_detail::kCancelPollRows == 0 && imageio_detail::decodeCancelled(error))
                return QImage();
            if (TIFFReadScanline(tiff, block.data(), y, plane) < 0)
                return fail(QStringLiteral("the TIFF file is damaged in the part"));
            if (y >= top)
                place(int(y), left, right - left + 1, block.data() + size_t(left) * stride, plane);
        }
    }
    return part;
}

}  // namespace imageio_detail

std::unique_ptr<FormatDecoder> makeTiffDecoder() { return std::make_unique<TiffDecoder>(); }

}  // namespace kpv
