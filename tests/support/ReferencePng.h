#pragma once
// A PNG's samples as libpng itself reads them, to check what the program wrote against a decoder
// that is not its own.

#include <QByteArray>
#include <QFile>
#include <QSize>
#include <QString>

#include <png.h>

#include <array>
#include <csetjmp>
#include <cstdio>
#include <vector>

namespace kpv::test {

// A PNG chunk of the type and data, with its length and its CRC (ISO 3309, over the type and the
// data), to put into a file a test makes.
inline QByteArray pngChunk(const char* type, const QByteArray& data)
{
    const QByteArray body = QByteArray(type, 4) + data;
    quint32 crc = 0xffffffffu;
    for (const char byte : body) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xffffffffu;
    QByteArray chunk;
    for (const quint32 v : {quint32(data.size()), crc})
        for (int shift = 24; shift >= 0; shift -= 8)
            chunk.append(char((v >> shift) & 0xff));
    return chunk.left(4) + body + chunk.right(4);
}

using Rgba16 = std::array<quint16, 4>;

// Every pixel, rows from the top, as 16-bit RGBA (8-bit files widened, grey spread to RGB, an
// opaque alpha added where there is none); *bitDepth is the file's own. Empty when unreadable.
inline std::vector<Rgba16> referencePngSamples(const QString& path, QSize* size, int* bitDepth = nullptr)
{
    std::vector<Rgba16> out;
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte>* row = new std::vector<png_byte>;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        std::fclose(file);
        delete row;
        return {};
    }
    png_init_io(png, file);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (bitDepth)
        *bitDepth = png_get_bit_depth(png, info);
    png_set_expand(png);
    png_set_expand_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xffff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    row->resize(png_get_rowbytes(png, info));
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, row->data(), nullptr);
        for (png_uint_32 x = 0; x < width; ++x) {
            Rgba16 px;
            for (size_t c = 0; c < 4; ++c)
                px[c] = quint16((*row)[(x * 4 + c) * 2] << 8 | (*row)[(x * 4 + c) * 2 + 1]);
            out.push_back(px);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    delete row;
    *size = QSize(int(width), int(height));
    return out;
}

} // namespace kpv::test
