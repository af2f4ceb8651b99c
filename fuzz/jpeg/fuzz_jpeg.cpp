// Fuzz target of the JPEG decoder: creation, band decoding at a chosen scale and buffer size,
// index building and region reads, all on untrusted bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "AjlJpgDecoder.h"

namespace {

struct Input {
    const uint8_t* data;
    int64_t size;
    int64_t pos;
};

int32_t callback(int32_t op, void* stream, void* args) {
    auto* in = static_cast<Input*>(stream);
    if (op == JPG_STREAM_READ) {
        auto* io = static_cast<JpgStreamIo*>(args);
        int64_t n = in->size - in->pos;
        if (n > int64_t(io->count)) {
            n = io->count;
        }
        if (n > 0) {
            std::memcpy(io->buffer, in->data + in->pos, size_t(n));
            in->pos += n;
        }
        return int32_t(n > 0 ? n : 0);
    }
    if (op == JPG_STREAM_SEEK) {
        auto* a = static_cast<JpgStreamSeekArgs*>(args);
        if (a->origin != 0 || int64_t(a->offset) > in->size) {
            return 1;
        }
        in->pos = a->offset;
        return 0;
    }
    if (op == JPG_STREAM_TELL) {
        return int32_t(in->pos);
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte chooses scale, buffer size, index interval, index building and chroma at the
    // luma plane's size; the rest is the file.
    uint8_t opts = data[0];
    Input in{data + 1, int64_t(size - 1), 0};
    JpgDecParam param{};
    param.stream = &in;
    param.streamCallback = callback;
    param.bufferSize = (opts & 4) ? 256 : 0;
    param.indexInterval = (opts >> 3) & 3;
    JpgDecoder* d = nullptr;
    if (ajlJpgDecoderCreate(&d, &param) != 0) {
        return 0;
    }
    int64_t scale = int64_t(1) << (opts & 3);
    ajlJpgDecoderSetProp(d, JPG_PROP_SCALE, &scale, 8);
    const int64_t wide = (opts >> 6) & 1;
    ajlJpgDecoderSetProp(d, JPG_PROP_CHROMA_AT_LUMA, &wide, 8);
    int64_t dims[2], mcu[2], mcus[2];
    ajlJpgDecoderGetProp(d, JPG_PROP_SCALED_SIZE, dims, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_MCU_SIZE, mcu, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_MCU_COUNT, mcus, 16);
    // One MCU row of every plane, generously sized for any component layout.
    int64_t pitch = mcus[0] * mcu[0] / scale + 8;
    int64_t rows = mcu[1] / scale + 8;
    // Large frames with little data are legal: their bands are not decoded here (the bitmap load
    // target walks them), but the index and region reads of a few MCUs run on every frame, so that
    // a few header bytes claiming a gigapixel cannot make those roads slow either.
    const bool small = pitch * rows <= (int64_t(1) << 22) && dims[0] * dims[1] <= (int64_t(1) << 22);
    if (!small) {
        pitch = 4 * mcu[0] + 8;
    }
    std::vector<uint8_t> band[3];
    uint8_t* planes[3];
    int64_t pitches[3] = {pitch, pitch, pitch};
    for (int c = 0; c < 3; ++c) {
        band[c].resize(size_t(pitch * rows));
        planes[c] = band[c].data();
    }
    if (small) {
        int budget = 64; // bands; enough to reach the end of small images
        while (budget-- > 0) {
            int64_t lines = mcu[1];
            if (ajlJpgDecoderScanlines(d, planes, pitches, 0, &lines) != 0 || lines == 0) {
                break;
            }
        }
    }
    if (opts & 0x20) {
        int64_t info[2];
        ajlJpgDecoderGetProp(d, JPG_PROP_BUILD_INDEX, info, 0);
    }
    JpgReadOutput out{planes, pitches};
    for (int64_t row : {mcus[1] - 1, int64_t(0), mcus[1] / 2}) {
        int64_t count = mcus[0] < 4 ? mcus[0] : 4;
        JpgReadRequest req{2, count, mcus[0] - count, row, &out};
        ajlJpgDecoderReadMCUs(d, &req);
    }
    ajlJpgDecoderDestroy(d);
    return 0;
}
