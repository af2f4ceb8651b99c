#pragma once

// The sharpness figure of the on-screen benchmark: the mean difference of the brightness of
// neighbouring pixels (across and down), in percent of the mean brightness (so that a picture
// dimmed or fading in scores as it will when shown whole). The photographs carry fine noise, so a picture drawn
// from enough of the file's pixels scores high, an enlarged small picture low; the same figure of
// a Lanczos downscale of the file tells how sharp a well-made fitted picture can be.

#include <string>

namespace bench_sharpness {

// The figure over `width` x `height` pixels of RGB(X) rows `stride` bytes apart, `channels`
// bytes per pixel (red, green, blue first).
double of(const unsigned char *pixels, int width, int height, int stride, int channels);

// The figure of a Lanczos (a = 3) downscale by `scale` of the centre of the JPEG file `path`;
// NaN when the file cannot be read or the scale is not in (0, 1].
double lanczosReference(const std::string &path, double scale);

} // namespace bench_sharpness
