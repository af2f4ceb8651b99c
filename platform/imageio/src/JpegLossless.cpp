// Quarter turns and mirrors of a JPEG done on its DCT blocks (libjpeg-turbo's transformer), so a
// turned photo keeps its quality.

#include "Encoders.h"
#include "foundation/FileNames.h"
#include "imageio/ImageDestination.h"

#include <turbojpeg.h>

#include <memory>

namespace kpv {

namespace {

int operationOf(LosslessTransform t)
{
    switch (t) {
    case LosslessTransform::None: return TJXOP_NONE;
    case LosslessTransform::FlipHorizontal: return TJXOP_HFLIP;
    case LosslessTransform::FlipVertical: return TJXOP_VFLIP;
    case LosslessTransform::Transpose: return TJXOP_TRANSPOSE;
    case LosslessTransform::Transverse: return TJXOP_TRANSVERSE;
    case LosslessTransform::Rotate90: return TJXOP_ROT90;
    case LosslessTransform::Rotate180: return TJXOP_ROT180;
    case LosslessTransform::Rotate270: return TJXOP_ROT270;
    }
    return TJXOP_NONE;
}

struct Handle {
    tjhandle h = nullptr;
    ~Handle()
    {
        if (h)
            tjDestroy(h);
    }
};

struct Buffer {
    unsigned char* data = nullptr;
    ~Buffer() { tjFree(data); }
};

} // namespace

bool ImageDestination::transformJpegLosslessly(const QString& path, LosslessTransform transform,
                                               const ImageWriteOptions& options, QString* error)
{
    QByteArray source;
    if (!readRegularFile(path, qint64(1) << 30, &source, error))
        return false;
    if (!source.startsWith("\xFF\xD8\xFF")) {
        if (error)
            *error = QStringLiteral("%1 is not a JPEG file").arg(displayFileName(path));
        return false;
    }
    if (options.replaceOnly.isValid() && fileIdentity(path) != options.replaceOnly) {
        if (error)
            *error = changedOnDiskError(path);
        return false;
    }
    Handle handle{tjInitTransform()};
    if (!handle.h)
        return false;
    tjtransform xform{};
    xform.op = operationOf(transform);
    // Partial edge blocks would be dropped or left unturned: then the caller re-encodes.
    xform.options = TJXOPT_PERFECT;
    Buffer out;
    unsigned long outSize = 0;
    if (tjTransform(handle.h, reinterpret_cast<const unsigned char*>(source.constData()), static_cast<unsigned long>(source.size()),
                    1, &out.data, &outSize, &xform, 0) != 0) {
        if (error)
            *error = QStringLiteral("%1 cannot be turned without re-encoding: %2").arg(displayFileName(path), QString::fromLatin1(tjGetErrorStr2(handle.h)));
        return false;
    }
    QByteArray bytes(reinterpret_cast<const char*>(out.data), qsizetype(outSize));
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.h, out.data, outSize, &width, &height, &subsampling, &colorspace) != 0)
        return false;
    QByteArray metadataSource = source;
    if (!options.metadataSourcePath.isEmpty() && options.metadataSourcePath != path &&
        !readRegularFile(options.metadataSourcePath, qint64(1) << 30, &metadataSource, error))
        return false;
    imageio_detail::EncodeOptions o;
    o.orientation = 1;
    o.sourceColourModel = true;
    if (!imageio_detail::carryMetadata(&bytes, metadataSource, o, QSize(width, height), error))
        return false;
    return imageio_detail::replaceFileSafely(path, bytes, options, error);
}

} // namespace kpv
