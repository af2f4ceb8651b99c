#include "Model/LMImageSourceFactory.h"

#include "Model/LMReadFailure.h"

#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "imageio/FileAccess.h"
#include "imageio/GifAnimation.h"
#include "imageio/ImageSource.h"
#include "imageio/Thumbnailer.h"

#include <QDebug>

#include <mutex>

namespace {

class PlatformImageSourceReader final : public LMImageSourceReader {
public:
    PlatformImageSourceReader(std::unique_ptr<kpv::ImageSource> source, const QString &path)
        : m_source(std::move(source)), m_path(path)
    {
    }

    QString type() const override { return m_source->type(); }
    int count() const override { return m_source->count(); }
    QVariantMap propertiesAtIndex(int index) const override { return m_source->propertiesAtIndex(index); }

    QImage createImageAtIndex(int index) const override
    {
        QString error;
        QImage image = m_source->createImageAtIndex(index, &error);
        if (image.isNull())
            failed("image decode failed:", error);
        return image;
    }

    QImage createThumbnailAtIndex(int index, int maxPixelSize, bool fromImageAlways) const override
    {
        QString error;
        QImage image = m_source->createThumbnailAtIndex(index, maxPixelSize, fromImageAlways, &error);
        // A missing stored thumbnail is an ordinary answer, not worth a warning.
        if (image.isNull() && fromImageAlways)
            failed("scaled image decode failed:", error);
        return image;
    }

    std::shared_ptr<const kpv::FileContents> contents() const override { return m_source->contents(); }

    std::shared_ptr<const kpv::GifAnimation> createAnimation() const override
    {
        QString error;
        std::shared_ptr<const kpv::GifAnimation> animation = m_source->createAnimation(&error);
        if (!animation)
            failed("animation decode failed:", error);
        return animation;
    }

    QImage createImageInRect(int index, const QRect &rect, int reduction) const override
    {
        // A JPEG's, a PNG's, a TIFF's or a WebP's parts decode side by side; other readers keep
        // state of their own while they decode.
        std::unique_lock lock(m_regionMutex, std::defer_lock);
        const QString type = m_source->type();
        if (type != kpv::ContentTypes::kJpeg && type != kpv::ContentTypes::kPng && type != kpv::ContentTypes::kTiff &&
            type != kpv::ContentTypes::kWebp)
            lock.lock();
        QString error;
        QImage image = m_source->createImageInRect(index, rect, reduction, &error);
        if (image.isNull())
            failed("decode of a part of the picture failed:", error);
        return image;
    }

private:
    // Said in the log, and to whoever waits on this thread for the reason. A decode stopped
    // because its load was cancelled is no failure of the file: nothing is said.
    void failed(const char *what, const QString &error) const
    {
        if (kpv::DecodeBudget::isCancelledError(error))
            return;
        qWarning().noquote() << what << error;
        LMReadFailure::tell(m_path, error);
    }

    std::unique_ptr<kpv::ImageSource> m_source;
    QString m_path;
    mutable std::mutex m_regionMutex;
};

class PlatformImageSourceFactory final : public LMImageSourceFactory {
public:
    std::unique_ptr<LMImageSourceReader> createWithFile(const QString &path) const override
    {
        QString error;
        std::unique_ptr<kpv::ImageSource> source = kpv::ImageSource::createWithFile(path, &error);
        if (!source) {
            qWarning().noquote() << "cannot open image:" << error;
            LMReadFailure::tell(path, error);
            return nullptr;
        }
        return std::make_unique<PlatformImageSourceReader>(std::move(source), path);
    }

    QImage thumbnail(const QString &path, int maxPixelSize) const override
    {
        return kpv::Thumbnailer::thumbnail(path, maxPixelSize);
    }

    QImage storedThumbnail(const QString &path, int maxPixelSize) const override
    {
        return kpv::Thumbnailer::storedThumbnail(path, maxPixelSize);
    }

    QImage thumbnail(const QString &path, int maxPixelSize, const LMImageSourceReader &opened, int orientation,
                     const kpv::FileIdentity &identity) const override
    {
        // As the thumbnailer makes one, but from the opening the caller holds.
        const QImage cached = kpv::Thumbnailer::cachedThumbnail(path, maxPixelSize, orientation, identity);
        if (!cached.isNull())
            return cached;
        const QImage stored = opened.createThumbnailAtIndex(0, maxPixelSize, false);
        return stored.isNull() ? opened.createThumbnailAtIndex(0, maxPixelSize, true) : stored;
    }

    QImage cachedThumbnail(const QString &path, int maxPixelSize, int orientation,
                           const kpv::FileIdentity &identity) const override
    {
        return kpv::Thumbnailer::cachedThumbnail(path, maxPixelSize, orientation, identity);
    }

    void storeThumbnail(const QString &path, const QImage &image, int orientation, qint64 modifiedSecs,
                        qint64 fileBytes) const override
    {
        kpv::Thumbnailer::storeThumbnail(path, image, orientation, modifiedSecs, fileBytes);
    }
};

} // namespace

const std::shared_ptr<const LMImageSourceFactory> &LMImageSourceFactory::platform()
{
    static const std::shared_ptr<const LMImageSourceFactory> factory = std::make_shared<PlatformImageSourceFactory>();
    return factory;
}
