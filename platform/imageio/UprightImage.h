#pragma once
// A picture of an image file as the viewer shows it, for the roads that want one whole picture
// (the slideshow, printing): decoded through ImageSource, so that its size checks and the
// process's decode budget apply, and turned upright by the file's orientation.

#include <QImage>
#include <QString>

namespace kpv {

// The longer side of a picture as printed (a page at 350 dots an inch): more pixels add nothing
// on paper and only swell the pages waiting for the printer.
inline constexpr int kPrintPixels = 4096;

// The first frame of the file, upright, with its longer side at most `maxPixelSize` (0: at full
// size). Premultiplied RGBA; null on failure, with *error (when given) saying why.
QImage decodeUprightImage(const QString& path, int maxPixelSize, QString* error = nullptr);

}  // namespace kpv
