#include "imageio_support.h"

#include <QCoreApplication>
#include <QFile>

#include <gif_lib.h>
#include <png.h>
#include <turbojpeg.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    // Image format plug-ins are found through the application object.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

namespace kpv::test {

QImage pattern(int width, int height, bool alpha)
{
    QImage image(width, height, QImage::Format_RGBA8888);
    for (int y = 0; y < height; ++y) {
        uchar* p = image.scanLine(y);
        for (int x = 0; x < width; ++x, p += 4) {
            p[0] = uchar(128 + 100 * std::sin(x * 0.05) * std::cos(y * 0.03));
            p[1] = uchar((x * 255) / std::max(1, width - 1));
            p[2] = uchar((y * 255) / std::max(1, height - 1));
            p[3] = alpha ? uchar((x * 255) / std::max(1, width - 1)) : 255;
        }
    }
    return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

int maxChannelDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 4; ++i)
            worst = std::max(worst, std::abs(int(p[i]) - int(q[i])));
    }
    return worst;
}

QByteArray referenceJpeg(const QImage& image, int quality, bool progressive, int subsampling)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int flags = progressive ? TJFLAG_PROGRESSIVE : 0;
    const int rc = tjCompress2(tj, rgba.constBits(), rgba.width(), int(rgba.bytesPerLine()), rgba.height(),
                               TJPF_RGBA, &out, &size, subsampling, quality, flags);
    QByteArray bytes = rc == 0 ? QByteArray(reinterpret_cast<const char*>(out), qsizetype(size)) : QByteArray();
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

QByteArray referencePng(const QImage& image, bool alpha, bool interlaced,
                        const std::vector<std::pair<QByteArray, QByteArray>>& texts, bool colourSpace)
{
    // libpng's simplified API writes non-interlaced files only; go through the full API.
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    QByteArray out;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, png_size_t n) {
            static_cast<QByteArray*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(d), qsizetype(n));
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(rgba.width()), png_uint_32(rgba.height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_text> chunks;
    for (const auto& [key, value] : texts) {
        png_text t{};
        t.compression = PNG_TEXT_COMPRESSION_NONE;
        t.key = const_cast<char*>(key.constData());
        t.text = const_cast<char*>(value.constData());
        t.text_length = size_t(value.size());
        chunks.push_back(t);
    }
    if (!chunks.empty())
        png_set_text(png, info, chunks.data(), int(chunks.size()));
    if (colourSpace) {
        png_set_gAMA_fixed(png, info, 55556);
        png_set_cHRM_fixed(png, info, 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000);
    }
    png_write_info(png, info);
    if (!alpha)
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < rgba.height(); ++y)
            png_write_row(png, const_cast<png_bytep>(rgba.constScanLine(y)));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

QByteArray referenceGif(int screenW, int screenH, const std::vector<GifFrameSpec>& frames, int loopCount)
{
    QByteArray out;
    int err = 0;
    GifFileType* gif = EGifOpen(
        &out,
        [](GifFileType* g, const GifByteType* d, int n) {
            static_cast<QByteArray*>(g->UserData)->append(reinterpret_cast<const char*>(d), n);
            return n;
        },
        &err);
    const GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, screenW, screenH, 2, 0, map);
    unsigned char loop[3] = {1, uchar(loopCount & 0xff), uchar(loopCount >> 8)};
    EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
    EGifPutExtensionBlock(gif, 3, loop);
    EGifPutExtensionTrailer(gif);
    for (const GifFrameSpec& f : frames) {
        GraphicsControlBlock gcb;
        gcb.DisposalMode = f.disposal;
        gcb.UserInputFlag = false;
        gcb.DelayTime = f.delayCs;
        gcb.TransparentColor = f.transparentIndex < 0 ? NO_TRANSPARENT_COLOR : f.transparentIndex;
        GifByteType ext[4];
        const size_t len = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(len), ext);
        EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlaced, nullptr);
        if (f.interlaced) {
            static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = start[pass]; y < f.height; y += step[pass])
                    EGifPutLine(gif, const_cast<GifPixelType*>(&f.indices[size_t(y * f.width)]), f.width);
        } else {
            for (int y = 0; y < f.height; ++y)
                EGifPutLine(gif, const_cast<GifPixelType*>(&f.indices[size_t(y * f.width)]), f.width);
        }
    }
    EGifCloseFile(gif, &err);
    GifFreeMapObject(map);
    return out;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}

QByteArray tinyBlockJ2k(quint32 width, quint32 height, int levels, int layers, const QByteArray& packets, int padding)
{
    QByteArray out("\xFF\x4F", 2);
    auto be16 = [&out](int v) { out.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF)); };
    auto be32 = [&](quint32 v) { be16(int(v >> 16)); be16(int(v & 0xFFFF)); };
    // SIZ (8 bits, not sub-sampled), COD (LRCP, 4 x 4 blocks, 5-3 wavelet), QCD (no quantisation).
    be16(0xFF51); be16(41); be16(0); be32(width); be32(height); be32(0); be32(0); be32(width); be32(height);
    be32(0); be32(0); be16(1); out.append("\x07\x01\x01", 3);
    be16(0xFF52); be16(12); be16(0); be16(layers); out.append(char(0)).append(char(levels)).append("\x00\x00\x00\x01", 4);
    be16(0xFF5C); be16(4 + 3 * levels); out.append(char(0x40));
    for (int band = 0; band <= 3 * levels; ++band)
        out.append(char(0x48));
    if (padding > 0) {
        be16(0xFF64); be16(4 + padding); be16(1); out.append(QByteArray(padding, 'x'));
    }
    be16(0xFF90); be16(10); be16(0); be32(quint32(14 + packets.size())); out.append("\x00\x01", 2);
    be16(0xFF93);
    out.append(packets);
    be16(0xFFD9);
    return out;
}

}  // namespace kpv::test
