#include "imageio/ContentTypes.h"

#include <QHash>

namespace kpv::ContentTypes {
namespace {

struct Entry {
    const QString* type;
    const char* extensions;
};

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
        return t;
    }();
    return table;
}

}  // namespace

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
