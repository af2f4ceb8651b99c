#include "edit_test_support.h"

#include "../../support/QtTestApplication.h"
#include "Model/LMImageTools.h"

#include "imageio/ContentTypes.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/resource.h>

namespace {
// Widgets and sheets run on the offscreen platform.
[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(
    new QtTestApplication("kpv-edit-tests", &QtTestApplication::useOffscreenUnlessSet));
} // namespace

uint64_t EditTestTypes::imageTypeToAMCMType(const QString &uti) const
{
    using namespace kpv::ContentTypes;
    if (uti == kJpeg)
        return 2;
    if (uti == kPng)
        return 8;
    if (uti == kGif)
        return 4;
    if (uti == kTiff)
        return 1024;
    if (uti == kBmp)
        return 1;
    return 0;
}

QString EditTestTypes::fileUTIByPath(const LMPathString &path) const
{
    if (onTypeAsked)
        onTypeAsked(path);
    return kpv::ContentTypes::typeForExtension(QFileInfo(path.path()).suffix().toLower());
}

EditTestTypes &editTestTypes()
{
    static EditTestTypes types;
    return types;
}

LMPhotoLoader &editTestLoader()
{
    static LMPhotoLoader *loader = [] {
        auto *l = new LMPhotoLoader(QSizeF(1440, 900));
        l->setInfoProvider(&editTestTypes());
        return l;
    }();
    return *loader;
}

bool writeTestImage(const QString &path, QSize size, QColor colour, int orientation, double dpi)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QPainter p(&image);
    p.fillRect(QRect(0, 0, size.width() / 2, size.height()), colour.lighter(180));
    p.end();
    QVariantMap props;
    if (orientation)
        props.insert(QString::fromLatin1(kpv::kCGImagePropertyOrientation), orientation);
    if (dpi > 0) {
        props.insert(QString::fromLatin1(kpv::kCGImagePropertyDPIWidth), dpi);
        props.insert(QString::fromLatin1(kpv::kCGImagePropertyDPIHeight), dpi);
    }
    return LMImageTools::saveImage(image, path, props);
}

QImage readImage(const QString &path)
{
    auto source = kpv::ImageSource::createWithFile(path);
    return source ? source->createImageAtIndex(0) : QImage();
}

QSize storedImageSize(const QString &path)
{
    auto source = kpv::ImageSource::createWithFile(path);
    if (!source)
        return QSize();
    const QVariantMap p = source->propertiesAtIndex(0);
    return QSize(p.value(QString::fromLatin1(kpv::kCGImagePropertyPixelWidth)).toInt(),
                 p.value(QString::fromLatin1(kpv::kCGImagePropertyPixelHeight)).toInt());
}

int storedOrientation(const QString &path)
{
    auto source = kpv::ImageSource::createWithFile(path);
    if (!source)
        return 0;
    const QVariant v = source->propertiesAtIndex(0).value(QString::fromLatin1(kpv::kCGImagePropertyOrientation));
    return v.isValid() ? v.toInt() : 1;
}

QByteArray fileChecksum(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

namespace {
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}
} // namespace

ReadOnlyFolderScope::ReadOnlyFolderScope(const QString &path) : m_path(path)
{
    ::chmod(QFile::encodeName(path).constData(), 0555);
    if (!isReadOnly())
        m_immutable = setImmutable(path, true);
}

ReadOnlyFolderScope::~ReadOnlyFolderScope()
{
    if (m_immutable)
        setImmutable(m_path, false);
    ::chmod(QFile::encodeName(m_path).constData(), 0755);
}

bool ReadOnlyFolderScope::isReadOnly() const
{
    const QByteArray probe = QFile::encodeName(m_path + QStringLiteral("/.kpv-write-probe"));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return true;
    ::close(fd);
    ::unlink(probe.constData());
    return false;
}
