// Helpers of the codec framework tests: generated pictures, files written by reference encoders
// (libpng, giflib, libjpeg-turbo, plus a small BMP writer), reference decodes through stb_image,
// and a component manager with the decoders registered.
#pragma once

#include <cstdint>
#include <vector>

#include "AMCM.h"
#include "MCodec.h"
#include "MStream.h"

namespace fwtest {

using Bytes = std::vector<uint8_t>;

// Interleaved 8-bit samples: 1 grey, 3 RGB or 4 RGBA channels.
struct Image {
    int width = 0, height = 0, channels = 3;
    std::vector<uint8_t> px;
    const uint8_t* at(int x, int y) const { return &px[(size_t(y) * width + x) * channels]; }
};

Image makeImage(int w, int h, int channels, uint32_t seed);
// Smooth RGB waves: resampling models agree on it, so differences point at real faults.
Image makeSmooth(int w, int h, uint32_t seed);

// RGB: a soft interior with a red last column, a blue last row and a yellow corner, colours far
// apart in both chroma components, to show whose colour the edge pixels take.
Image makeEdgePicture(int w, int h);

Bytes encodeBmp24(const Image& rgb);
// 8-bit palette BMP; the picture is quantised to 3-3-2 colour.
Bytes encodeBmp8(const Image& rgb, bool rle8 = false);
Bytes encodePng(const Image& img, bool interlace = false);
// A palette PNG whose index 0 is fully transparent.
Bytes encodePngPalette(int w, int h, uint32_t seed);
// One or two frames; palette of 3-3-2 colours; transparent index when given (>= 0).
Bytes encodeGif(const Image& rgb, int frames = 1, int transparent = -1, int loop = -1);
// subsamp: 0 4:4:4, 1 4:2:2, 2 4:2:0, 3 grey, 4 4:4:0, 5 4:1:1.
Bytes encodeJpeg(const Image& img, int subsamp, int quality = 90);

// Reference decode into RGBA (stb_image).
Image referenceRgba(const Bytes& file);

// libjpeg-turbo with the accurate transform and chroma replicated, not interpolated; `denom` 2, 4
// or 8 decodes at that reduced scale (each side rounded up).
Image referenceJpegRgba(const Bytes& file, int denom = 1);

// The Y, Cb and Cr planes of a libjpeg-turbo decode, each tightly packed and padded to whole
// sampling units (grey: luma only).
struct Planes {
    int width[3] = {}, height[3] = {};
    std::vector<uint8_t> plane[3];
    uint8_t at(int k, int x, int y) const { return plane[k][size_t(y) * width[k] + x]; }
};
// At 1 / denom (2, 4 or 8): the full-size planes box-filtered, each sample the mean of the
// picture's samples in its area; with chromaAtLuma, chroma is averaged over each pixel's area,
// at the luma plane's size.
Planes referenceJpegPlanes(const Bytes& file, int denom = 1, bool chromaAtLuma = false);
// The top-left w x h pixels of planes as RGBA: each pixel takes the chroma sample that covers it,
// converted by the JPEG colour equations.
Image rgbaFromPlanes(const Planes& p, int w, int h);

// Quantises an RGB picture the way encodeBmp8 and encodeGif do.
Image quantised332(const Image& rgb);

struct Manager {
    AMCMHandle h = nullptr;
    Manager();
    ~Manager();
};

struct Stream {
    MSTREAM s = nullptr;
    explicit Stream(const Bytes& b);
    ~Stream();
};

// Decodes a whole file through MCodec's line path into one old colour ID; returns the result.
MResult decodeLines(AMCMHandle m, const Bytes& file, uint64_t oldColor, int bytesPerPixel, Image* out,
                    int64_t type = 0);

// Mean absolute and largest difference between two images of equal shape (RGBA vs channels).
struct Diff {
    double mean = 0;
    int max = 0;
};
Diff compareRgb(const Image& a, const Image& b);

} // namespace fwtest
