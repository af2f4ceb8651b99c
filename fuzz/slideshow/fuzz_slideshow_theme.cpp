// Feeds arbitrary bytes to the slideshow theme readers: the catalogue and a theme's parameter file.

#include "Slideshow/SlideshowTheme.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    SlideshowThemeCatalogue catalogue;
    QString error;
    parseSlideshowThemeCatalogue(bytes, QStringLiteral("/themes"), &catalogue, &error);
    SlideshowThemeParam param;
    parseSlideshowThemeParam(bytes, &param, &error);
    return 0;
}
