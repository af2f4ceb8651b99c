#pragma once
// A small grey TIFF of several pages, written by libtiff: the kind of file a rewrite of one
// picture would lose pages of. And the start of a large coded RGB page.

#include <QFile>
#include <QString>

#include <tiffio.h>

namespace kpv::test {

// Adds a page of 3x2 grey pixels to an open TIFF; false when it cannot be written.
inline bool writeGreyPage(TIFF* tif)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 3u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    unsigned char row[3] = {10, 20, 30};
    return TIFFWriteScanline(tif, row, 0, 0) == 1 && TIFFWriteScanline(tif, row, 1, 0) == 1 && TIFFWriteDirectory(tif) == 1;
}

// `pages` pages of 3x2 grey pixels at `path`; false when the file cannot be written.
inline bool writePagesTiff(const QString& path, int pages)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    bool ok = true;
    for (int page = 0; page < pages && ok; ++page)
        ok = writeGreyPage(tif);
    TIFFClose(tif);
    return ok;
}

// Opens `path` for a page of width x height RGB pixels side by side, `bits` a sample, coded with
// `compression` and `predictor`; the caller lays out strips or tiles and writes them. `mode` is
// the library's ("w8" for 64-bit offsets, "wb" big-endian). Null when the file cannot be made.
inline TIFF* openRgbTiff(const QString& path, uint32_t width, uint32_t height, uint16_t bits, uint16_t compression,
                         uint16_t predictor, const char* mode = "w")
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), mode);
    if (!tif)
        return nullptr;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, predictor);
    return tif;
}

} // namespace kpv::test
