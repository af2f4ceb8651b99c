// Feeds arbitrary bytes to the image reader: sniffing, header reading, properties, full and
// scaled decodes of the first frames, an animation's frames kept compact, the orientation read from a file's head, and the check of
// what a rewrite or a new file would drop.

#include "imageio/ContentTypes.h"
#include "imageio/GifAnimation.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageSource.h"
#include "../../platform/imageio/src/Metadata.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Format plug-ins are found through the application object; it lives for the whole run.
    static QCoreApplication app(*argc, *argv);
    // The toolkit's readers warn about every bad seek in a hostile file; millions of lines would
    // bury the fuzzer's own report.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // What a rewrite would drop is read from the same hostile bytes.
    kpv::ImageDestination::contentLostByRewritingData(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    // And what a new BMP would lack of it, its metadata blocks among it.
    kpv::ImageDestination::contentLostInNewFileData(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)),
                                                    kpv::ContentTypes::kBmp, false);
    // The orientation alone, as read from the head of a file.
    kpv::imageio_detail::readOrientation(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    auto source = kpv::ImageSource::createWithData(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!source)
        return 0;
    const int frames = std::min(source->count(), 3);
    for (int i = 0; i < frames; ++i) {
        source->propertiesAtIndex(i);
        source->createImageAtIndex(i);
    }
    source->createThumbnailAtIndex(0, 16, true);
    source->createThumbnailAtIndex(0, 16, false);
    // Every frame in order, as a loader that cannot keep the compact animation decodes them, as
    // long as the frames together stay small (each costs its screen whatever the file holds).
    const QSize screen = source->reducedFrameSize(0, 1);
    if (source->count() > 3 && uint64_t(source->count()) * uint64_t(screen.width()) * uint64_t(screen.height()) <= (uint64_t(1) << 24)) {
        for (int i = 0; i < source->count(); ++i)
            source->createImageAtIndex(i);
    }
    // An animation kept as colour indexes, its frames composed out of order.
    if (auto animation = source->createAnimation()) {
        const int count = std::min(animation->frameCount(), 4);
        for (int i : {count - 1, 0, count / 2})
            animation->frame(i);
    }
    // Parts as a zoomed-in view asks for them: the middle at full size, a corner reduced.
    const QSize full = source->reducedFrameSize(0, 1);
    source->createImageInRect(0, QRect(full.width() / 3, full.height() / 3, std::max(1, full.width() / 3), std::max(1, full.height() / 3)), 1);
    const QSize eighth = source->reducedFrameSize(0, 8);
    source->createImageInRect(0, QRect(QPoint(0, 0), eighth).intersected(QRect(eighth.width() / 2, eighth.height() / 2, 64, 64)), 8);
    return 0;
}
