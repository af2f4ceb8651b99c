#include "JpegPlanes.h"

#include "FormatDecoder.h"
#include "JpegResumeIndex.h"

#include "AjlJpgDecoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kpv::imageio_detail {

namespace {

#if defined(__x86_64__) || defined(__i386__)
#define KPV_YCC_AVX2 1
#define KPV_AVX2 __attribute__((target("avx2")))

KPV_AVX2 inline __m256i widen(const uint8_t* p)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// (lo and hi pairs) . k, plus the rounding half when asked, >> 16, as 16-bit values in order.
KPV_AVX2 inline __m256i fraction(__m256i lo, __m256i hi, __m256i k, bool rounded)
{
    __m256i a = _mm256_madd_epi16(lo, k), b = _mm256_madd_epi16(hi, k);
    if (rounded) {
        const __m256i half = _mm256_set1_epi32(32768);
        a = _mm256_add_epi32(a, half);
        b = _mm256_add_epi32(b, half);
    }
    return _mm256_packs_epi32(_mm256_srai_epi32(a, 16), _mm256_srai_epi32(b, 16));
}

// Sixteen pixels in order in, their three channels as 16-bit values in order out: the same sums
// as the 16-pixel steps of yccRowToRgba.
KPV_AVX2 inline void channels16(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, __m256i* r, __m256i* g,
                                __m256i* b)
{
    const __m256i centre = _mm256_set1_epi16(128), two = _mm256_set1_epi16(2);
    const __m256i kR = _mm256_set1_epi32(int((16384u << 16) | 26345u));
    const __m256i kG = _mm256_set1_epi32(int((18734u << 16) | uint16_t(-22554)));
    const __m256i kB = _mm256_set1_epi32(int((16384u << 16) | uint16_t(-14942)));
    const __m256i y16 = widen(y);
    const __m256i cb16 = _mm256_sub_epi16(widen(cb), centre);
    const __m256i cr16 = _mm256_sub_epi16(widen(cr), centre);
    *r = _mm256_add_epi16(_mm256_add_epi16(y16, cr16),
                          fraction(_mm256_unpacklo_epi16(cr16, two), _mm256_unpackhi_epi16(cr16, two), kR, false));
    *g = _mm256_add_epi16(_mm256_sub_epi16(y16, cr16),
                          fraction(_mm256_unpacklo_epi16(cb16, cr16), _mm256_unpackhi_epi16(cb16, cr16), kG, true));
    *b = _mm256_add_epi16(_mm256_add_epi16(y16, _mm256_add_epi16(cb16, cb16)),
                          fraction(_mm256_unpacklo_epi16(cb16, two), _mm256_unpackhi_epi16(cb16, two), kB, false));
}

// 32 pixels a step on processors that have AVX2; answers the pixels done.
KPV_AVX2 int yccRowToRgbaAvx2(uchar* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width)
{
    const __m256i opaque = _mm256_set1_epi8(char(0xFF));
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i r0, g0, b0, r1, g1, b1;
        channels16(y + x, cb + x, cr + x, &r0, &g0, &b0);
        channels16(y + x + 16, cb + x + 16, cr + x + 16, &r1, &g1, &b1);
        // Packing works within each half: put the four quarters back in order.
        const __m256i r = _mm256_permute4x64_epi64(_mm256_packus_epi16(r0, r1), 0xD8);
        const __m256i g = _mm256_permute4x64_epi64(_mm256_packus_epi16(g0, g1), 0xD8);
        const __m256i b = _mm256_permute4x64_epi64(_mm256_packus_epi16(b0, b1), 0xD8);
        const __m256i rgLo = _mm256_unpacklo_epi8(r, g), rgHi = _mm256_unpackhi_epi8(r, g);
        const __m256i baLo = _mm256_unpacklo_epi8(b, opaque), baHi = _mm256_unpackhi_epi8(b, opaque);
        const __m256i p0 = _mm256_unpacklo_epi16(rgLo, baLo), p1 = _mm256_unpackhi_epi16(rgLo, baLo);
        const __m256i p2 = _mm256_unpacklo_epi16(rgHi, baHi), p3 = _mm256_unpackhi_epi16(rgHi, baHi);
        auto* o = reinterpret_cast<__m256i*>(out + size_t(x) * 4);
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
        _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
        _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
    }
    return x;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");
#endif

#ifdef __SSE2__
// 16 pixels of three channels interleaved as RGBA, opaque.
inline void storeRgba16(uchar* out, __m128i r, __m128i g, __m128i b)
{
    const __m128i opaque = _mm_set1_epi8(char(0xFF));
    const __m128i rgLo = _mm_unpacklo_epi8(r, g), rgHi = _mm_unpackhi_epi8(r, g);
    const __m128i baLo = _mm_unpacklo_epi8(b, opaque), baHi = _mm_unpackhi_epi8(b, opaque);
    auto* o = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(o, _mm_unpacklo_epi16(rgLo, baLo));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(rgLo, baLo));
    _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(rgHi, baHi));
    _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(rgHi, baHi));
}
#endif

} // namespace

void yccRowToRgba(uchar* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width)
{
    int x = 0;
#ifdef KPV_YCC_AVX2
    if (kHaveAvx2)
        x = yccRowToRgbaAvx2(out, y, cb, cr, width);
#endif
#ifdef __SSE2__
    // The factors above 1 split into a whole part and a 16-bit fraction, and the rounding
    // constant rides in the multiply-add as twice 16384, so every sum is the scalar one exactly:
    // 1.402 = 1 + 26345/65536, -0.71414 = -1 + 18734/65536, 1.772 = 2 - 14942/65536.
    const __m128i zero = _mm_setzero_si128();
    const __m128i centre = _mm_set1_epi16(128);
    const __m128i two = _mm_set1_epi16(2);
    const __m128i kR = _mm_set1_epi32(int((16384u << 16) | 26345u));
    const __m128i kG = _mm_set1_epi32(int((18734u << 16) | uint16_t(-22554)));
    const __m128i kB = _mm_set1_epi32(int((16384u << 16) | uint16_t(-14942)));
    const __m128i half = _mm_set1_epi32(32768);
    const auto channels = [&](__m128i y16, __m128i cb16, __m128i cr16, __m128i* r, __m128i* g, __m128i* b) {
        const __m128i rLo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cr16, two), kR), 16);
        const __m128i rHi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cr16, two), kR), 16);
        const __m128i gLo =
            _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cb16, cr16), kG), half), 16);
        const __m128i gHi =
            _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cb16, cr16), kG), half), 16);
        const __m128i bLo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cb16, two), kB), 16);
        const __m128i bHi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cb16, two), kB), 16);
        *r = _mm_add_epi16(_mm_add_epi16(y16, cr16), _mm_packs_epi32(rLo, rHi));
        *g = _mm_add_epi16(_mm_sub_epi16(y16, cr16), _mm_packs_epi32(gLo, gHi));
        *b = _mm_add_epi16(_mm_add_epi16(y16, _mm_add_epi16(cb16, cb16)), _mm_packs_epi32(bLo, bHi));
    };
    for (; x + 16 <= width; x += 16) {
        const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i cb8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x));
        const __m128i cr8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x));
        __m128i r0, g0, b0, r1, g1, b1;
        channels(_mm_unpacklo_epi8(y8, zero), _mm_sub_epi16(_mm_unpacklo_epi8(cb8, zero), centre),
                 _mm_sub_epi16(_mm_unpacklo_epi8(cr8, zero), centre), &r0, &g0, &b0);
        channels(_mm_unpackhi_epi8(y8, zero), _mm_sub_epi16(_mm_unpackhi_epi8(cb8, zero), centre),
                 _mm_sub_epi16(_mm_unpackhi_epi8(cr8, zero), centre), &r1, &g1, &b1);
        storeRgba16(out + size_t(x) * 4, _mm_packus_epi16(r0, r1), _mm_packus_epi16(g0, g1), _mm_packus_epi16(b0, b1));
    }
#endif
    for (; x < width; ++x)
        yccToRgba(out + size_t(x) * 4, y[x], cb[x], cr[x]);
}

void greyRowToRgba(uchar* out, const uint8_t* y, int width)
{
    int x = 0;
#ifdef __SSE2__
    for (; x + 16 <= width; x += 16) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        storeRgba16(out + size_t(x) * 4, g, g, g);
    }
#endif
    for (; x < width; ++x) {
        uchar* o = out + size_t(x) * 4;
        o[0] = o[1] = o[2] = y[x];
        o[3] = 255;
    }
}

ChromaUpsampler::ChromaUpsampler(int rx, int ry, int chromaWidth, int lumaWidth)
    : m_rx(rx), m_ry(ry), m_chromaWidth(chromaWidth), m_lumaWidth(lumaWidth),
      // One sum beyond each edge, and room for the vector steps.
      m_sums(size_t(chromaWidth) + 2 + 16)
{
}

void ChromaUpsampler::row(const uint8_t* near, const uint8_t* far, bool lowerRow, uint8_t* out)
{
    const int cw = m_chromaWidth;
    if (m_rx == 1) {
        // Down only: three quarters the nearest row, a quarter the other, rounded as the
        // reference rounds the upper and the lower row.
        const int bias = lowerRow ? 2 : 1;
        for (int x = 0; x < m_lumaWidth; ++x)
            out[x] = uint8_t((3 * near[x] + far[x] + bias) >> 2);
        return;
    }
    // Column sums in sixteenths' quarters: 3 near + far down, or 4 near for chroma whole down.
    uint16_t* s = m_sums.data() + 1;
    if (m_ry == 2) {
        for (int j = 0; j < cw; ++j)
            s[j] = uint16_t(3 * near[j] + far[j]);
    } else {
        for (int j = 0; j < cw; ++j)
            s[j] = uint16_t(4 * near[j]);
    }
    s[-1] = s[0];
    s[cw] = s[cw - 1];
    const int evenBias = m_ry == 2 ? 8 : 4, oddBias = m_ry == 2 ? 7 : 8;
    int j = 0;
#ifdef __SSE2__
    const __m128i eb = _mm_set1_epi16(short(evenBias)), ob = _mm_set1_epi16(short(oddBias));
    const auto half = [&](int at, __m128i* even, __m128i* odd) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at - 1));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at + 1));
        const __m128i c3 = _mm_add_epi16(c, _mm_add_epi16(c, c));
        *even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(c3, l), eb), 4);
        *odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(c3, r), ob), 4);
    };
    // Each step writes 32 outputs; the last whole step may reach one past the picture's width.
    for (; j + 16 <= cw && 2 * j + 32 <= m_lumaWidth + 1; j += 16) {
        __m128i e0, o0, e1, o1;
        half(j, &e0, &o0);
        half(j + 8, &e1, &o1);
        const __m128i even = _mm_packus_epi16(e0, e1), odd = _mm_packus_epi16(o0, o1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j), _mm_unpacklo_epi8(even, odd));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j + 16), _mm_unpackhi_epi8(even, odd));
    }
#endif
    for (; j < cw; ++j) {
        const int c3 = 3 * s[j];
        if (2 * j < m_lumaWidth)
            out[2 * j] = uint8_t((c3 + s[j - 1] + evenBias) >> 4);
        if (2 * j + 1 < m_lumaWidth)
            out[2 * j + 1] = uint8_t((c3 + s[j + 1] + oddBias) >> 4);
    }
}

namespace {

struct DecoderCloser {
    void operator()(JpgDecoder* d) const { ajlJpgDecoderDestroy(d); }
};

// Rows of full-size lines decoded per call: a multiple of every MCU height taken here.
constexpr int kBandLines = 128;
// Plane rows are read 16 bytes at a time and chroma one sample beyond the picture.
constexpr int64_t kRowSlack = 32;

} // namespace

CodecDecode decodeWithCodec(const unsigned char* data, size_t size, int reduction, int width, int height,
                            QImage* image, QString* error)
{
    // Stream offsets are 32-bit.
    if (!data || size >= (size_t(1) << 31) || (reduction != 1 && reduction != 2 && reduction != 4 && reduction != 8))
        return CodecDecode::Declined;
    JpegMemoryStream stream{data, size, 0};
    JpgDecParam param{};
    param.stream = &stream;
    param.streamCallback = jpegMemoryStreamCallback;
    param.bufferSize = 64 * 1024;
    JpgDecoder* raw = nullptr;
    if (ajlJpgDecoderCreate(&raw, &param) != 0)
        return CodecDecode::Declined;
    const std::unique_ptr<JpgDecoder, DecoderCloser> decoder(raw);
    int64_t frame[2] = {}, mcu[2] = {}, mcuCount[2] = {}, comps = 0, precision = 0;
    int32_t sampling = -1, scanMode = -1, rgb = -1;
    // Reduced, halved chroma comes at the luma's size, each sample its pixel's area (set before
    // the frame is asked about: the decoder's tables follow it).
    int64_t scale = reduction, atLuma = reduction > 1 ? 1 : 0;
    if (ajlJpgDecoderSetProp(raw, JPG_PROP_SCALE, &scale, 8) != 0 ||
        ajlJpgDecoderSetProp(raw, JPG_PROP_CHROMA_AT_LUMA, &atLuma, 8) != 0 ||
        ajlJpgDecoderGetProp(raw, JPG_PROP_IMAGE_SIZE, frame, 16) != 0 ||
        ajlJpgDecoderGetProp(raw, JPG_PROP_MCU_SIZE, mcu, 16) != 0 ||
        ajlJpgDecoderGetProp(raw, JPG_PROP_MCU_COUNT, mcuCount, 16) != 0 ||
        ajlJpgDecoderGetProp(raw, JPG_PROP_COMPONENTS, &comps, 8) != 0 ||
        ajlJpgDecoderGetProp(raw, JPG_PROP_SUBSAMPLING, &sampling, 4) != 0 ||
        ajlJpgDecoderGetProp(raw, JPG_PROP_SCAN_MODE, &scanMode, 4) != 0 ||
        ajlJpgDecoderGetProp(raw, JPG_PROP_PRECISION, &precision, 8) != 0 ||
        ajlJpgDecoderGetProp(raw, JPG_PROP_RGB, &rgb, 4) != 0)
        return CodecDecode::Declined;
    const bool colour = comps == 3;
    const bool layout = (colour && sampling >= 0 && sampling <= 3) || (comps == 1 && sampling == 4);
    if (!layout || precision != 8 || rgb != 0 || (scanMode != 0 && scanMode != 1) || mcu[0] < 8 || mcu[1] < 8 ||
        kBandLines % mcu[1] != 0 || mcuCount[0] <= 0 || mcuCount[1] <= 0)
        return CodecDecode::Declined;
    // The decoder delivers the pixels of the blocks the picture ends inside too.
    if ((frame[0] + reduction - 1) / reduction != width || (frame[1] + reduction - 1) / reduction != height ||
        width <= 0 || height <= 0)
        return CodecDecode::Declined;

    const int rx = colour && reduction == 1 && (sampling == 0 || sampling == 1) ? 2 : 1;
    const int ry = colour && reduction == 1 && (sampling == 0 || sampling == 2) ? 2 : 1;
    const int bandRows = kBandLines / reduction;
    const int64_t lumaPitch = mcuCount[0] * mcu[0] / reduction + kRowSlack;
    // Chroma rows with one row of the band above before them and one of the band below after.
    const int chromaBandRows = bandRows / ry;
    const int64_t chromaPitch = mcuCount[0] * mcu[0] / reduction / rx + kRowSlack;
    const int64_t chromaRows = chromaBandRows + 2;
    const int chromaWidth = (width + rx - 1) / rx;
    // The resume index of the parts asked for afterwards, made on the way (a sequential file,
    // decoded to be shown rather than as a thumbnail: a folder's thumbnails would each keep one).
    const bool recordIndex = scanMode == 0 && reduction < 8;
    if (recordIndex)
        JpegResumeIndex::recordOnTheWay(raw);
    const uint64_t bandBytes =
        2 * (uint64_t(lumaPitch) * uint64_t(bandRows) + (colour ? 2 * uint64_t(chromaPitch) * uint64_t(chromaRows) : 0)) +
        4 * uint64_t(width) + 64;
    if (!reserveDecodeBytes(bandBytes, error))
        return CodecDecode::Failed;

    // Two bands: the one being made RGBA waits for the first chroma row of the next.
    struct Band {
        std::vector<uint8_t> luma, cb, cr;
        int rows = 0; // output rows
        int top = 0;  // its first output row
    };
    Band bands[2];
    for (Band& band : bands) {
        band.luma.assign(size_t(lumaPitch * bandRows), 0);
        if (colour) {
            band.cb.assign(size_t(chromaPitch * chromaRows), 128);
            band.cr.assign(size_t(chromaPitch * chromaRows), 128);
        }
    }
    std::vector<uint8_t> cbRow(size_t(width) + kRowSlack), crRow(size_t(width) + kRowSlack);
    ChromaUpsampler cbUp(rx, ry, chromaWidth, width), crUp(rx, ry, chromaWidth, width);
    const auto chromaRowOf = [&](Band&, std::vector<uint8_t>& plane, int row) {
        return plane.data() + size_t(row + 1) * size_t(chromaPitch);
    };
    // Band rows into the picture, the band below's first chroma row already in place.
    const auto writeBand = [&](Band& band) {
        for (int y = 0; y < band.rows; ++y) {
            uchar* out = image->scanLine(band.top + y);
            const uint8_t* luma = band.luma.data() + size_t(y) * size_t(lumaPitch);
            if (!colour) {
                greyRowToRgba(out, luma, width);
                continue;
            }
            if (rx == 1 && ry == 1) {
                yccRowToRgba(out, luma, chromaRowOf(band, band.cb, y), chromaRowOf(band, band.cr, y), width);
                continue;
            }
            const int c = y / ry;
            const bool lower = ry == 2 && y % 2 == 1;
            const int f = ry == 2 ? (lower ? c + 1 : c - 1) : c;
            cbUp.row(chromaRowOf(band, band.cb, c), chromaRowOf(band, band.cb, f), lower, cbRow.data());
            crUp.row(chromaRowOf(band, band.cr, c), chromaRowOf(band, band.cr, f), lower, crRow.data());
            yccRowToRgba(out, luma, cbRow.data(), crRow.data(), width);
        }
    };

    int64_t linesDone = 0;
    int current = 0;
    bool pending = false; // bands[1 - current] waits to be emitted
    while (linesDone < frame[1]) {
        // A band is a few milliseconds of work: between two, a cancelled load stops.
        if (decodeCancelled(error)) {
            *image = QImage();
            return CodecDecode::Failed;
        }
        Band& band = bands[current];
        uint8_t* planes[3] = {band.luma.data(), colour ? chromaRowOf(band, band.cb, 0) : nullptr,
                              colour ? chromaRowOf(band, band.cr, 0) : nullptr};
        int64_t pitches[3] = {lumaPitch, chromaPitch, chromaPitch};
        int64_t lines = kBandLines;
        const int64_t result = ajlJpgDecoderScanlines(raw, planes, pitches, 0, &lines);
        if (result != 0 || lines <= 0) {
            if (image->isNull())
                return CodecDecode::Declined; // nothing decoded: the reference decoder decides
            // Damaged data: the rows before the damage stay, the rest of the picture is left clear.
            int shown = 0;
            if (pending) {
                writeBand(bands[1 - current]);
                shown = bands[1 - current].top + bands[1 - current].rows;
            }
            for (int y = shown; y < height; ++y)
                std::memset(image->scanLine(y), 0, size_t(width) * 4);
            return CodecDecode::Done;
        }
        band.top = int(linesDone / reduction);
        band.rows = int(std::min<int64_t>((linesDone + lines + reduction - 1) / reduction, height) - band.top);
        linesDone += lines;
        if (image->isNull()) {
            // Made once the first band decodes: a file this road cannot read after all costs no
            // frame beside the one the reference decoder then makes.
            *image = allocateFrame(width, height, error);
            if (image->isNull())
                return CodecDecode::Failed;
        }
        if (colour && ry == 2) {
            const int real = (band.rows + 1) / 2;
            // The picture's first and last chroma rows stand in for the rows beyond its edges.
            for (auto* plane : {&band.cb, &band.cr}) {
                if (!pending)
                    std::memcpy(chromaRowOf(band, *plane, -1), chromaRowOf(band, *plane, 0), size_t(chromaPitch));
                std::memcpy(chromaRowOf(band, *plane, real), chromaRowOf(band, *plane, real - 1), size_t(chromaPitch));
            }
            if (pending) {
                Band& above = bands[1 - current];
                const int aboveReal = (above.rows + 1) / 2;
                std::memcpy(chromaRowOf(above, above.cb, aboveReal), chromaRowOf(band, band.cb, 0), size_t(chromaPitch));
                std::memcpy(chromaRowOf(above, above.cr, aboveReal), chromaRowOf(band, band.cr, 0), size_t(chromaPitch));
                std::memcpy(chromaRowOf(band, band.cb, -1), chromaRowOf(above, above.cb, aboveReal - 1),
                            size_t(chromaPitch));
                std::memcpy(chromaRowOf(band, band.cr, -1), chromaRowOf(above, above.cr, aboveReal - 1),
                            size_t(chromaPitch));
            }
        }
        if (pending)
            writeBand(bands[1 - current]);
        pending = true;
        current = 1 - current;
    }
    if (pending)
        writeBand(bands[1 - current]);
    if (recordIndex)
        JpegResumeIndex::keepRecorded(raw, data, size);
    return CodecDecode::Done;
}

} // namespace kpv::imageio_detail
