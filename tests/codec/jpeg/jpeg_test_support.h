// Helpers of the JPEG decoder tests: generated images, reference encoding and decoding through
// libjpeg-turbo, and decoding through our decoder from memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AjlJpgDecoder.h"

namespace jpgtest {

struct Image {
    int width = 0, height = 0, channels = 3; // interleaved RGB or grey
    std::vector<uint8_t> pixels;
};

// Photograph-like content: smooth gradients, edges and fine noise, repeatable by seed.
Image makeImage(int width, int height, int channels, uint32_t seed);

struct EncodeOptions {
    int quality = 90;
    int lumaH = 2, lumaV = 2;
    int chromaH = 1, chromaV = 1;
    bool progressive = false;
    int restartInterval = 0;  // MCUs
    bool optimize = false;
    bool separateScans = false; // sequential, one scan per component
};

std::vector<uint8_t> encode(const Image& img, const EncodeOptions& opt);

// One plane per component at component resolution.
struct Planes {
    int ncomp = 0;
    int w[3] = {}, h[3] = {};
    std::vector<uint8_t> p[3];
    int vf[3] = {1, 1, 1}; // vertical sampling factors (our decoder's planes)
    int maxV = 1;
};

// libjpeg-turbo's raw (planar, not upsampled) output with the accurate integer transform.
Planes referenceDecode(const std::vector<uint8_t>& jpeg);
// libjpeg-turbo's full-size Y, Cb and Cr (grey: Y), accurate integer transform, each chroma
// sample repeated over the pixels it covers (as the codec's full decode shows them).
Planes referenceYcc(const std::vector<uint8_t>& jpeg);

// A stream over memory served through the decoder's stream callback.
struct MemStream {
    const uint8_t* data = nullptr;
    int64_t size = 0;
    int64_t pos = 0;
    int seeks = 0;
};
int32_t memStreamCallback(int32_t op, void* stream, void* args);

struct DecodeOptions {
    int64_t bufferSize = 0;
    int scale = 1;
    int64_t indexInterval = 0;
    bool chromaAtLuma = false; // subsampled chroma at the luma plane's size
};

// Decodes the whole image by bands of one MCU row; result code in *result.
Planes decode(const std::vector<uint8_t>& jpeg, const DecodeOptions& opt, int64_t* result);

// Plane geometry of a decoder at its current scale.
Planes allocatePlanes(JpgDecoder* d);

struct Diff {
    int maxError = 0;
    double psnr = 0;
};
Diff compare(const Planes& a, const Planes& b);

// Replaces the bytes at offset with the given ones (for corrupting files).
std::vector<uint8_t> withBytes(std::vector<uint8_t> v, size_t offset, std::vector<uint8_t> bytes);

// Offset of the first marker 0xFF m, or npos.
size_t findMarker(const std::vector<uint8_t>& v, uint8_t m, size_t from = 0);

} // namespace jpgtest
