#pragma once

// Generated inputs of the on-screen benchmark: photographs whose whole area sits near one known
// colour (with texture and noise, so the files are as hard to decode as a camera's), and an
// animated GIF whose frames each have a colour of their own.

#include <array>
#include <string>
#include <vector>

namespace bench_pictures {

using Rgb = std::array<int, 3>;

// A well-separated colour for picture `index` (neighbours always differ strongly).
Rgb colourFor(int index);

// Writes a JPEG (quality 90, 4:2:0) of width x height around `colour`. False on failure.
bool writePhotoJpeg(const std::string &path, int width, int height, Rgb colour, unsigned seed);
// The same with an EXIF block holding a 160 x 107 thumbnail, as cameras write their files.
bool writeCameraJpeg(const std::string &path, int width, int height, Rgb colour, unsigned seed);
// Writes an 8-bit RGB PNG of the same kind of content.
bool writePhotoPng(const std::string &path, int width, int height, Rgb colour, unsigned seed);
// Writes a looping GIF of `colours.size()` frames, `delayCs` hundredths of a second each.
bool writeAnimatedGif(const std::string &path, int width, int height, const std::vector<Rgb> &colours, int delayCs);

} // namespace bench_pictures
