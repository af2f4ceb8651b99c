// Parts of a baseline JPEG through the codec library's decoder and its random-access index: the
// index is read once per file, then each part reads only the rows of blocks it covers, from the
// index entry nearest its first block. Chroma is brought to the luma's size as the whole-picture
// decode does (its triangle filter at full size; at a reduction the decoder delivers it at the
// luma's size already), so parts and the whole decode agree to a level.

#include "JpegResumeIndex.h"

#include "FormatDecoder.h"
#include "JpegPlanes.h"
#include "imageio/ImageLimits.h"

#include "AjlJpgDecoder.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

namespace kpv::imageio_detail {

int32_t jpegMemoryStreamCallback(int32_t op, void* stream, void* args)
{
    auto* m = static_cast<JpegMemoryStream*>(stream);
    if (op == JPG_STREAM_READ) {
        auto* io = static_cast<JpgStreamIo*>(args);
        const size_t n = std::min(size_t(io->count), m->size - m->pos);
        std::memcpy(io->buffer, m->data + m->pos, n);
        m->pos += n;
        return int32_t(n);
    }
    if (op == JPG_STREAM_SEEK) {
        const auto* a = static_cast<const JpgStreamSeekArgs*>(args);
        const size_t base = a->origin == 1 ? m->size : a->origin == 2 ? m->pos : 0;
        if (size_t(a->offset) > m->size - std::min(base, m->size))
            return -1;
        m->pos = base + a->offset;
        return 0;
    }
    return op == JPG_STREAM_TELL ? int32_t(m->pos) : 0;
}

namespace {

// The index's memory whatever the picture's size: a larger picture gets entries further apart.
constexpr int64_t kIndexBudget = 4 << 20;
// Stream offsets are 32-bit.
constexpr size_t kLargestFile = size_t(1) << 31;

struct DecoderCloser {
    void operator()(JpgDecoder* d) const { ajlJpgDecoderDestroy(d); }
};
using Decoder = std::unique_ptr<JpgDecoder, DecoderCloser>;

Decoder openDecoder(JpegMemoryStream* stream, int64_t interval)
{
    JpgDecParam param{};
    param.stream = stream;
    param.streamCallback = jpegMemoryStreamCallback;
    param.bufferSize = 64 * 1024;
    param.indexInterval = interval;
    JpgDecoder* raw = nullptr;
    if (ajlJpgDecoderCreate(&raw, &param) != 0)
        return nullptr;
    return Decoder(raw);
}

// What the decoder says of the frame, and whether this road takes it.
struct Frame {
    int64_t size[2] = {};
    int64_t mcu[2] = {};      // pixels of an MCU at full size
    int64_t mcuCount[2] = {}; // per row, rows
    int64_t components = 0;
    int32_t sampling = 0; // 0 4:2:0, 1 4:2:2, 2 4:4:0, 3 4:4:4, 4 grey
};

bool readFrame(JpgDecoder* d, Frame* f)
{
    int32_t scanMode = -1, rgb = -1;
    int64_t precision = 0;
    if (ajlJpgDecoderGetProp(d, JPG_PROP_IMAGE_SIZE, f->size, 16) != 0 ||
        ajlJpgDecoderGetProp(d, JPG_PROP_MCU_SIZE, f->mcu, 16) != 0 ||
        ajlJpgDecoderGetProp(d, JPG_PROP_MCU_COUNT, f->mcuCount, 16) != 0 ||
        ajlJpgDecoderGetProp(d, JPG_PROP_COMPONENTS, &f->components, 8) != 0 ||
        ajlJpgDecoderGetProp(d, JPG_PROP_SUBSAMPLING, &f->sampling, 4) != 0 ||
        ajlJpgDecoderGetProp(d, JPG_PROP_SCAN_MODE, &scanMode, 4) != 0 ||
        ajlJpgDecoderGetProp(d, JPG_PROP_PRECISION, &precision, 8) != 0 ||
        ajlJpgDecoderGetProp(d, JPG_PROP_RGB, &rgb, 4) != 0)
        return false;
    const bool layout = (f->components == 3 && f->sampling >= 0 && f->sampling <= 3) ||
                        (f->components == 1 && f->sampling == 4);
    return scanMode == 0 && precision == 8 && rgb == 0 && layout && f->mcu[0] >= 8 && f->mcu[1] >= 8 &&
           f->mcuCount[0] > 0 && f->mcuCount[1] > 0;
}

} // namespace

std::shared_ptr<const JpegResumeIndex> JpegResumeIndex::build(const unsigned char* data, size_t size,
                                                              const std::function<bool()>& cancelled)
{
    if (!data || size >= kLargestFile)
        return nullptr;
    JpegMemoryStream stream{data, size, 0};
    const Decoder decoder = openDecoder(&stream, 1);
    Frame frame;
    if (!decoder || !readFrame(decoder.get(), &frame) ||
        !ImageLimits::jpegFileCanHold(size, uint64_t(frame.size[0]), uint64_t(frame.size[1])))
        return nullptr;
    int64_t budget = kIndexBudget, info[2] = {};
    if (cancelled) {
        const JpgProgressCallback ask = [](int32_t, void* user) -> int32_t {
            return (*static_cast<const std::function<bool()>*>(user))() ? 1 : 0;
        };
        const void* user = &cancelled;
        int64_t progress[2] = {};
        std::memcpy(&progress[0], &ask, sizeof(ask));
        std::memcpy(&progress[1], &user, sizeof(user));
        if (ajlJpgDecoderSetProp(decoder.get(), JPG_PROP_PROGRESS, progress, 16) != 0)
            return nullptr;
    }
    if (ajlJpgDecoderSetProp(decoder.get(), JPG_PROP_INDEX_BUDGET, &budget, 8) != 0 ||
        ajlJpgDecoderGetProp(decoder.get(), JPG_PROP_BUILD_INDEX, info, 0) != 0 ||
        ajlJpgDecoderGetProp(decoder.get(), JPG_PROP_INDEX, info, 16) != 0 || info[0] <= 0 || info[0] > kIndexBudget * 2)
        return nullptr;
    auto index = std::make_shared<JpegResumeIndex>();
    const auto* blob = reinterpret_cast<const uint8_t*>(info[1]);
    index->m_blob.assign(blob, blob + info[0]);
    return index;
}

namespace {

// A file's bytes as the indexes kept are found by: its header whole (a file rewritten with other
// metadata and its data moved is another file here) and words from all through the rest.
uint64_t fingerprint(const unsigned char* data, size_t size)
{
    uint64_t h = 0x9E3779B97F4A7C15ull ^ uint64_t(size);
    const auto mix = [&h](uint64_t word) {
        h ^= word;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    };
    const size_t head = std::min<size_t>(size, 64 * 1024) / 8 * 8;
    for (size_t at = 0; at < head; at += 8) {
        uint64_t word;
        std::memcpy(&word, data + at, 8);
        mix(word);
    }
    if (size >= head + 8) {
        constexpr int kSamples = 256;
        for (int i = 0; i <= kSamples; ++i) {
            uint64_t word;
            std::memcpy(&word, data + head + (size - head - 8) * size_t(i) / kSamples, 8);
            mix(word);
        }
    }
    return h;
}

struct KeptIndex {
    size_t size;
    uint64_t fingerprint;
    std::shared_ptr<const JpegResumeIndex> index;
};

// The files whose indexes are kept: the one on screen and those around it.
constexpr size_t kKeptIndexes = 4;
std::mutex g_keptMutex;
std::deque<KeptIndex> g_kept;

} // namespace

void JpegResumeIndex::recordOnTheWay(JpgDecoder* decoder)
{
    int64_t budget = kIndexBudget;
    ajlJpgDecoderSetProp(decoder, JPG_PROP_INDEX_BUDGET, &budget, 8);
}

void JpegResumeIndex::keepRecorded(JpgDecoder* decoder, const unsigned char* data, size_t size)
{
    Frame frame;
    int64_t info[2] = {};
    if (!data || size >= kLargestFile || !readFrame(decoder, &frame) ||
        ajlJpgDecoderGetProp(decoder, JPG_PROP_INDEX, info, 16) != 0 || info[0] <= 0 || info[0] > kIndexBudget * 2)
        return;
    auto index = std::make_shared<JpegResumeIndex>();
    const auto* blob = reinterpret_cast<const uint8_t*>(info[1]);
    index->m_blob.assign(blob, blob + info[0]);
    const uint64_t print = fingerprint(data, size);
    const std::lock_guard<std::mutex> lock(g_keptMutex);
    std::erase_if(g_kept, [&](const KeptIndex& k) { return k.size == size && k.fingerprint == print; });
    g_kept.push_back({size, print, std::move(index)});
    if (g_kept.size() > kKeptIndexes)
        g_kept.pop_front();
}

std::shared_ptr<const JpegResumeIndex> JpegResumeIndex::keptFor(const unsigned char* data, size_t size)
{
    if (!data)
        return nullptr;
    const uint64_t print = fingerprint(data, size);
    const std::lock_guard<std::mutex> lock(g_keptMutex);
    for (const KeptIndex& k : g_kept)
        if (k.size == size && k.fingerprint == print)
            return k.index;
    return nullptr;
}

QImage JpegResumeIndex::decodeRegion(const unsigned char* data, size_t size, const QRect& rect, int reduction,
                                     QString* error) const
{
    return decodeJpegRegion(data, size, &m_blob, rect, reduction, error);
}

QImage decodeJpegRegion(const unsigned char* data, size_t size, const std::vector<uint8_t>* index, const QRect& rect,
                        int reduction, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return QImage();
    };
    if (reduction != 1 && reduction != 2 && reduction != 4 && reduction != 8)
        return fail(QStringLiteral("a JPEG part reduced by %1 cannot be decoded").arg(reduction));
    JpegMemoryStream stream{data, size, 0};
    const Decoder decoder = openDecoder(&stream, 0);
    Frame frame;
    if (!decoder || !readFrame(decoder.get(), &frame))
        return fail(QStringLiteral("the JPEG file can no longer be read by parts"));
    JpgDecoder* d = decoder.get();
    const bool colour = frame.components == 3;
    // At a reduction the decoder delivers 4:2:0 chroma at the luma's size. Chroma halved one way
    // only is left to the decode from the top there: enlarged here, it would not be the whole
    // decode's average of each pixel's area.
    if (colour && reduction > 1 && (frame.sampling == 1 || frame.sampling == 2))
        return fail(QStringLiteral("a reduced part of a JPEG with chroma halved one way only is decoded from the top"));
    const bool chromaAtLuma = colour && reduction > 1 && frame.sampling == 0;
    int64_t scale = reduction, atLuma = chromaAtLuma ? 1 : 0, scaled[2];
    if (ajlJpgDecoderSetProp(d, JPG_PROP_SCALE, &scale, 8) != 0 ||
        (colour && ajlJpgDecoderSetProp(d, JPG_PROP_CHROMA_AT_LUMA, &atLuma, 8) != 0))
        return fail(QStringLiteral("the JPEG file can no longer be read by parts"));
    if (index) {
        int64_t blob[2] = {int64_t(index->size()), 0};
        const void* address = index->data();
        std::memcpy(&blob[1], &address, sizeof(address));
        if (ajlJpgDecoderSetProp(d, JPG_PROP_INDEX, blob, 16) != 0)
            return fail(QStringLiteral("the JPEG file can no longer be read by parts"));
    }
    // A reduced picture has a pixel for a part of a block too, as the whole decode has.
    scaled[0] = (frame.size[0] + reduction - 1) / reduction;
    scaled[1] = (frame.size[1] + reduction - 1) / reduction;
    if (rect.isEmpty() || rect.x() < 0 || rect.y() < 0 || rect.right() >= scaled[0] || rect.bottom() >= scaled[1])
        return fail(QStringLiteral("the part is not inside the JPEG picture of %1 x %2").arg(scaled[0]).arg(scaled[1]));

    // The rows and columns of MCUs under the part, one chroma sample wider on each side for the
    // triangle filter.
    const int64_t mw = frame.mcu[0] / reduction, mh = frame.mcu[1] / reduction;
    const int rx = colour && !chromaAtLuma && (frame.sampling == 0 || frame.sampling == 1) ? 2 : 1;
    const int ry = colour && !chromaAtLuma && (frame.sampling == 0 || frame.sampling == 2) ? 2 : 1;
    const int64_t c0 = std::max<int64_t>(rect.x() - 2, 0) / mw, r0 = std::max<int64_t>(rect.y() - 2, 0) / mh;
    const int64_t c1 = std::min<int64_t>((rect.right() + 3 + mw - 1) / mw, frame.mcuCount[0]);
    const int64_t r1 = std::min<int64_t>((rect.bottom() + 3 + mh - 1) / mh, frame.mcuCount[1]);
    // Three rows of MCUs at a time: an output row's chroma reaches one chroma row into the rows of
    // MCUs above and below its own, so a row becomes pixels once the one below it is read. The
    // ring stays in the cache, where planes of the whole part would be fresh memory to fault in.
    constexpr int64_t kRing = 3;
    const int64_t lumaW = (c1 - c0) * mw, chromaW = lumaW / rx, chromaMh = mh / ry;
    const uint64_t ringBytes = uint64_t(kRing) * uint64_t(mh) * uint64_t(lumaW) +
                               (colour ? 2 * uint64_t(kRing) * uint64_t(chromaMh) * uint64_t(chromaW) : 0);
    if (!reserveDecodeBytes(ringBytes, error))
        return {};
    std::vector<uint8_t> ring[3];
    ring[0].resize(size_t(kRing * mh * lumaW));
    if (colour) {
        ring[1].resize(size_t(kRing * chromaMh * chromaW));
        ring[2].resize(size_t(kRing * chromaMh * chromaW));
    }
    auto lumaRow = [&](int64_t ly) {
        return ring[0].data() + (((ly / mh - r0) % kRing) * mh + ly % mh) * lumaW;
    };
    auto chromaRow = [&](int plane, int64_t cy) {
        return ring[plane].data() + (((cy / chromaMh - r0) % kRing) * chromaMh + cy % chromaMh) * chromaW;
    };

    QImage image = allocateFrame(rect.width(), rect.height(), error);
    if (image.isNull())
        return {};
    const int64_t ox = c0 * mw;
    const int64_t shift = rect.x() - ox;
    // Chroma is brought to the luma's size across the blocks read, which reach beyond the part on
    // each side (the picture's own edge samples standing in beyond it), then cut.
    const int64_t chromaInsideW = (scaled[0] + rx - 1) / rx, chromaInsideH = (scaled[1] + ry - 1) / ry;
    const int64_t windowW = std::min(lumaW, scaled[0] - ox);
    const int64_t windowChromaW = std::min(chromaW, chromaInsideW - ox / rx);
    ChromaUpsampler cbUp(rx, ry, int(windowChromaW), int(windowW)), crUp(rx, ry, int(windowChromaW), int(windowW));
    std::vector<uint8_t> cbRow(size_t(windowW) + 32), crRow(size_t(windowW) + 32);
    auto makeRow = [&](int y) {
        const int64_t ly = rect.y() + y;
        const uint8_t* luma = lumaRow(ly) + shift;
        if (!colour) {
            greyRowToRgba(image.scanLine(y), luma, rect.width());
            return;
        }
        const int64_t cy = ly / ry;
        if (rx == 1 && ry == 1) {
            yccRowToRgba(image.scanLine(y), luma, chromaRow(1, cy) + shift, chromaRow(2, cy) + shift, rect.width());
            return;
        }
        const bool lower = ry == 2 && ly % 2 == 1;
        const int64_t fy = ry == 2 ? std::clamp<int64_t>(lower ? cy + 1 : cy - 1, 0, chromaInsideH - 1) : cy;
        cbUp.row(chromaRow(1, cy), chromaRow(1, fy), lower, cbRow.data());
        crUp.row(chromaRow(2, cy), chromaRow(2, fy), lower, crRow.data());
        yccRowToRgba(image.scanLine(y), luma, cbRow.data() + shift, crRow.data() + shift, rect.width());
    };

    int y = 0;
    for (int64_t row = r0; row < r1; ++row) {
        if ((row - r0) % 4 == 3 && decodeCancelled(error))
            return QImage();
        const int64_t slot = (row - r0) % kRing;
        uint8_t* at[3] = {ring[0].data() + slot * mh * lumaW,
                          colour ? ring[1].data() + slot * chromaMh * chromaW : nullptr,
                          colour ? ring[2].data() + slot * chromaMh * chromaW : nullptr};
        int64_t pitches[3] = {lumaW, chromaW, chromaW};
        JpgReadOutput output{at, pitches};
        JpgReadRequest request{2, c1 - c0, c0, row, &output};
        const int64_t result = ajlJpgDecoderReadMCUs(d, &request);
        if (result != 0 || request.count != 0)
            return fail(QStringLiteral("JPEG decoding failed (code 0x%1)").arg(uint64_t(result), 0, 16));
        // The rows of the row of MCUs above are whole now, the last row's own at the end.
        const int64_t ready = row + 1 < r1 ? row * mh : r1 * mh;
        for (; y < rect.height() && rect.y() + y < ready; ++y)
            makeRow(y);
    }
    return image;
}

} // namespace kpv::imageio_detail
