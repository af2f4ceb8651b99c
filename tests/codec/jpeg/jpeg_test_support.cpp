#include "jpeg_test_support.h"

#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>

namespace jpgtest {

Image makeImage(int width, int height, int channels, uint32_t seed) {
    Image img;
    img.width = width;
    img.height = height;
    img.channels = channels;
    img.pixels.resize(size_t(width) * height * channels);
    uint32_t state = seed * 2654435761u + 1;
    auto rnd = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    double fx = 0.02 + (seed % 7) * 0.01, fy = 0.03 + (seed % 5) * 0.01;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                double v = 128 + 70 * std::sin(x * fx + c) * std::cos(y * fy - c);
                v += ((x / 13 + y / 11 + c) % 3 == 0) ? 30 : -10; // edges
                v += int(rnd() % 21) - 10;                          // grain
                img.pixels[(size_t(y) * width + x) * channels + c] =
                    uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    return img;
}

namespace {

struct ErrorMgr {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void onError(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<ErrorMgr*>(cinfo->err)->jump, 1);
}

void quiet(j_common_ptr, int) {}

} // namespace

std::vector<uint8_t> encode(const Image& img, const EncodeOptions& opt) {
    jpeg_compress_struct cinfo;
    ErrorMgr err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    if (setjmp(err.jump)) {
        char why[JMSG_LENGTH_MAX] = {};
        err.pub.format_message(reinterpret_cast<j_common_ptr>(&cinfo), why);
        jpeg_destroy_compress(&cinfo);
        free(out);
        throw std::runtime_error(std::string("reference encoder failed: ") + why);
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(img.width);
    cinfo.image_height = JDIMENSION(img.height);
    cinfo.input_components = img.channels;
    cinfo.in_color_space = img.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, opt.quality, TRUE);
    if (img.channels == 3) {
        cinfo.comp_info[0].h_samp_factor = opt.lumaH;
        cinfo.comp_info[0].v_samp_factor = opt.lumaV;
        for (int c = 1; c < 3; ++c) {
            cinfo.comp_info[c].h_samp_factor = opt.chromaH;
            cinfo.comp_info[c].v_samp_factor = opt.chromaV;
        }
    }
    cinfo.restart_interval = unsigned(opt.restartInterval);
    cinfo.optimize_coding = opt.optimize ? TRUE : FALSE;
    static jpeg_scan_info scans[3];
    if (opt.progressive) {
        jpeg_simple_progression(&cinfo);
    } else if (opt.separateScans && img.channels == 3) {
        for (int c = 0; c < 3; ++c) {
            scans[c] = jpeg_scan_info{1, {c, 0, 0, 0}, 0, 63, 0, 0};
        }
        cinfo.scan_info = scans;
        cinfo.num_scans = 3;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(img.pixels.data() +
                                            size_t(cinfo.next_scanline) * img.width * img.channels);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> v(out, out + outSize);
    free(out);
    return v;
}

Planes referenceDecode(const std::vector<uint8_t>& jpeg) {
    jpeg_decompress_struct cinfo;
    ErrorMgr err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        throw std::runtime_error("reference decoder failed");
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.raw_data_out = TRUE;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    Planes out;
    out.ncomp = cinfo.num_components;
    int maxV = cinfo.max_v_samp_factor;
    std::vector<std::vector<uint8_t>> band(size_t(out.ncomp));
    std::vector<std::vector<JSAMPROW>> rows(size_t(out.ncomp));
    std::vector<JSAMPARRAY> arrays(size_t(out.ncomp));
    for (int c = 0; c < out.ncomp; ++c) {
        jpeg_component_info& ci = cinfo.comp_info[c];
        out.w[c] = int(ci.downsampled_width);
        out.h[c] = int(ci.downsampled_height);
        out.p[c].assign(size_t(out.w[c]) * out.h[c], 0);
        size_t stride = size_t(ci.width_in_blocks) * DCTSIZE;
        band[c].assign(stride * ci.v_samp_factor * DCTSIZE, 0);
        rows[c].resize(size_t(ci.v_samp_factor) * DCTSIZE);
        for (size_t r = 0; r < rows[c].size(); ++r) {
            rows[c][r] = band[c].data() + r * stride;
        }
        arrays[c] = rows[c].data();
    }
    int line = 0;
    while (cinfo.output_scanline < cinfo.output_height) {
        jpeg_read_raw_data(&cinfo, arrays.data(), JDIMENSION(maxV * DCTSIZE));
        for (int c = 0; c < out.ncomp; ++c) {
            int v = cinfo.comp_info[c].v_samp_factor;
            int top = line * v / maxV;
            for (int r = 0; r < v * DCTSIZE && top + r < out.h[c]; ++r) {
                std::memcpy(out.p[c].data() + size_t(top + r) * out.w[c], rows[c][size_t(r)],
                            size_t(out.w[c]));
            }
        }
        line += maxV * DCTSIZE;
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return out;
}

Planes referenceYcc(const std::vector<uint8_t>& jpeg) {
    jpeg_decompress_struct cinfo;
    ErrorMgr err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        throw std::runtime_error("reference decoder failed");
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_YCbCr;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    Planes out;
    out.ncomp = int(cinfo.output_components);
    const int w = int(cinfo.output_width), h = int(cinfo.output_height);
    for (int c = 0; c < out.ncomp; ++c) {
        out.w[c] = w;
        out.h[c] = h;
        out.p[c].resize(size_t(w) * h);
    }
    std::vector<uint8_t> line(size_t(w) * out.ncomp);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = int(cinfo.output_scanline);
        JSAMPROW row = line.data();
        jpeg_read_scanlines(&cinfo, &row, 1);
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < out.ncomp; ++c) {
                out.p[c][size_t(y) * w + x] = line[size_t(x) * out.ncomp + c];
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return out;
}

int32_t memStreamCallback(int32_t op, void* stream, void* args) {
    auto* s = static_cast<MemStream*>(stream);
    switch (op) {
    case JPG_STREAM_READ: {
        auto* io = static_cast<JpgStreamIo*>(args);
        int64_t n = s->size - s->pos;
        if (n > int64_t(io->count)) {
            n = io->count;
        }
        if (n < 0) {
            n = 0;
        }
        if (n > 0) {
            std::memcpy(io->buffer, s->data + s->pos, size_t(n));
        }
        s->pos += n;
        return int32_t(n);
    }
    case JPG_STREAM_SEEK: {
        auto* a = static_cast<JpgStreamSeekArgs*>(args);
        int64_t base = a->origin == 0 ? 0 : a->origin == 1 ? s->size : s->pos;
        int64_t p = base + int64_t(a->offset);
        if (p < 0 || p > s->size) {
            return 1;
        }
        s->pos = p;
        s->seeks++;
        return 0;
    }
    case JPG_STREAM_TELL:
        return int32_t(s->pos);
    default:
        return 0;
    }
}

Planes allocatePlanes(JpgDecoder* d) {
    int64_t size[2], mcu[2], ncomp, scale;
    ajlJpgDecoderGetProp(d, JPG_PROP_IMAGE_SIZE, size, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_MCU_SIZE, mcu, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_COMPONENTS, &ncomp, 8);
    ajlJpgDecoderGetProp(d, JPG_PROP_SCALE, &scale, 8);
    int64_t ratio[2] = {1, 1};
    ajlJpgDecoderGetProp(d, JPG_PROP_CHROMA_RATIO, ratio, 16);
    int64_t atLuma = 0;
    uint32_t type = 0;
    ajlJpgDecoderGetProp(d, JPG_PROP_CHROMA_AT_LUMA, &atLuma, 8);
    ajlJpgDecoderGetProp(d, JPG_PROP_SUBSAMPLING, &type, 4);
    // Chroma comes at the luma plane's size when the reduction covers its subsampling.
    const bool wide = atLuma && ncomp == 3 && type <= 2 && ratio[0] <= scale && ratio[1] <= scale;
    Planes p;
    p.ncomp = int(ncomp);
    int64_t maxH = mcu[0] / 8, maxV = mcu[1] / 8;
    p.maxV = int(maxV);
    for (int c = 0; c < p.ncomp; ++c) {
        int64_t h = c == 0 || wide ? maxH : maxH / ratio[0];
        int64_t v = c == 0 || wide ? maxV : maxV / ratio[1];
        int64_t w = (size[0] * h + maxH - 1) / maxH;
        int64_t hh = (size[1] * v + maxV - 1) / maxV;
        p.w[c] = int((w + scale - 1) / scale);
        p.h[c] = int((hh + scale - 1) / scale);
        p.p[c].assign(size_t(p.w[c]) * p.h[c], 0xEE);
        p.vf[c] = int(v);
    }
    return p;
}

Planes decode(const std::vector<uint8_t>& jpeg, const DecodeOptions& opt, int64_t* result) {
    MemStream ms{jpeg.data(), int64_t(jpeg.size()), 0};
    JpgDecParam param{};
    param.stream = &ms;
    param.streamCallback = memStreamCallback;
    param.bufferSize = opt.bufferSize;
    param.indexInterval = opt.indexInterval;
    JpgDecoder* d = nullptr;
    *result = ajlJpgDecoderCreate(&d, &param);
    if (*result != 0) {
        return {};
    }
    int64_t scale = opt.scale;
    if (scale != 1) {
        *result = ajlJpgDecoderSetProp(d, JPG_PROP_SCALE, &scale, 8);
    }
    if (opt.chromaAtLuma && *result == 0) {
        const int64_t on = 1;
        *result = ajlJpgDecoderSetProp(d, JPG_PROP_CHROMA_AT_LUMA, &on, 8);
    }
    Planes p = allocatePlanes(d);
    int64_t size[2], mcu[2];
    ajlJpgDecoderGetProp(d, JPG_PROP_IMAGE_SIZE, size, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_MCU_SIZE, mcu, 16);
    int64_t done = 0;
    while (*result == 0 && done < size[1]) {
        uint8_t* planes[3] = {};
        int64_t pitches[3] = {};
        for (int c = 0; c < p.ncomp; ++c) {
            // Rows of this component above the band, at the current scale.
            int64_t top = done * p.vf[c] / p.maxV / scale;
            planes[c] = p.p[c].data() + size_t(top) * p.w[c];
            pitches[c] = p.w[c];
        }
        int64_t lines = mcu[1];
        *result = ajlJpgDecoderScanlines(d, planes, pitches, 0, &lines);
        if (lines <= 0) {
            break;
        }
        done += lines;
    }
    ajlJpgDecoderDestroy(d);
    return p;
}

Diff compare(const Planes& a, const Planes& b) {
    Diff d;
    double sq = 0;
    size_t n = 0;
    if (a.ncomp != b.ncomp) {
        d.maxError = 999;
        return d;
    }
    for (int c = 0; c < a.ncomp; ++c) {
        if (a.w[c] != b.w[c] || a.h[c] != b.h[c]) {
            d.maxError = 999;
            return d;
        }
        for (size_t i = 0; i < a.p[c].size(); ++i) {
            int e = std::abs(int(a.p[c][i]) - int(b.p[c][i]));
            d.maxError = e > d.maxError ? e : d.maxError;
            sq += double(e) * e;
            ++n;
        }
    }
    double mse = n ? sq / double(n) : 0;
    d.psnr = mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
    return d;
}

std::vector<uint8_t> withBytes(std::vector<uint8_t> v, size_t offset, std::vector<uint8_t> bytes) {
    for (size_t i = 0; i < bytes.size() && offset + i < v.size(); ++i) {
        v[offset + i] = bytes[i];
    }
    return v;
}

size_t findMarker(const std::vector<uint8_t>& v, uint8_t m, size_t from) {
    for (size_t i = from; i + 1 < v.size(); ++i) {
        if (v[i] == 0xFF && v[i + 1] == m) {
            return i;
        }
    }
    return std::string::npos;
}

} // namespace jpgtest
