#include "imageio/ContentTypes.h"

#include <QHash>
#include <QImageReader>

#include <algorithm>

namespace kpv::ContentTypes {
namespace {

struct Entry {
    const QString* type;
    const char* extensions;
};

// The toolkit's reader formats by extension, less those our own readers take (installed plugins
// decide which there are).
const QHash<QString, QByteArray>& toolkitFormats()
{
    static const QHash<QString, QByteArray> formats = [] {
        // Our own readers, and names the toolkit gives formats it reads only inside others.
        static const char* const kOwn[] = {"bmp", "dib", "gif", "ico", "jpeg", "jpg", "png", "tif", "tiff",
                                           "webp", "jp2", "j2k", "svg", "svgz", "pdf"};
        QHash<QString, QByteArray> out;
        for (const QByteArray& format : QImageReader::supportedImageFormats()) {
            const QString name = QString::fromLatin1(format).toLower();
            if (std::find(std::begin(kOwn), std::end(kOwn), name) == std::end(kOwn))
                out.insert(name, format);
        }
        // Portable any-map files go by a name of their own as well.
        if (out.contains(QStringLiteral("ppm")))
            out.insert(QStringLiteral("pnm"), QByteArrayLiteral("ppm"));
        return out;
    }();
    return formats;
}

const QHash<QString, QString>& typeByExtension()
{
    static const QHash<QString, QString> table = [] {
        const Entry entries[] = {
            {&kJpeg, "jpg jpeg jpe jfif"},
            {&kPng, "png"},
            {&kGif, "gif"},
            {&kBmp, "bmp dib"},
            {&kIco, "ico"},
            {&kTiff, "tif tiff"},
            {&kWebp, "webp"},
            {&kJpeg2000, "jp2 j2k jpf jpx j2c"},
            {&kCameraRaw, "3fr arw cr2 cr3 crw dcr dng erf kdc mef mos mrw nef nrw orf pef raf raw rw2 rwl sr2 srf srw x3f"},
        };
        QHash<QString, QString> t;
        for (const Entry& e : entries)
            for (const QString& ext : QString::fromLatin1(e.extensions).split(u' '))
                t.insert(ext, *e.type);
        for (auto it = toolkitFormats().begin(); it != toolkitFormats().end(); ++it)
            t.insert(it.key(), kToolkitImage);
        return t;
    }();
    return table;
}

}  // namespace

QByteArray toolkitFormatForExtension(const QString& extension) { return toolkitFormats().value(extension.toLower()); }

QString typeForExtension(const QString& extension) { return typeByExtension().value(extension.toLower()); }

QStringList extensionsForType(const QString& type)
{
    QStringList out;
    const auto& table = typeByExtension();
    for (auto it = table.begin(); it != table.end(); ++it)
        if (it.value() == type)
            out.append(it.key());
    out.sort();
    return out;
}

bool conformsTo(const QString& type, const QString& parent)
{
    if (type.isEmpty())
        return false;
    if (type == parent)
        return true;
    if (parent == kImage)
        return typeByExtension().values().contains(type);
    return false;
}

}  // namespace kpv::ContentTypes
