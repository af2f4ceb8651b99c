#include "Slideshow/SlideshowTheme.h"

#include <QDir>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <cmath>

namespace {

// Catalogues and parameter files are small; a larger file is not one of ours.
constexpr qsizetype kMaxThemeFileBytes = 4 * 1024 * 1024;
constexpr int kMaxThemes = 10000;
constexpr int kMaxGroups = 10000;
constexpr int kMaxMasksPerGroup = 256;

bool tooLarge(const QByteArray& bytes, QString* error)
{
    if (bytes.size() <= kMaxThemeFileBytes)
        return false;
    if (error)
        *error = QStringLiteral("file too large");
    return true;
}

QString xmlError(const QXmlStreamReader& xml)
{
    return QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
}

} // namespace

QString resolveThemeFile(const QString& folder, const QString& name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name) || name.contains(QLatin1Char('\\')))
        return {};
    const QString root = QDir::cleanPath(folder);
    const QString joined = QDir::cleanPath(root + QLatin1Char('/') + name);
    if (!joined.startsWith(root + QLatin1Char('/')))
        return {};
    return joined;
}

bool parseSlideshowThemeCatalogue(const QByteArray& bytes, const QString& baseFolder, SlideshowThemeCatalogue* out,
                                  QString* error)
{
    SlideshowThemeCatalogue result;
    if (tooLarge(bytes, error))
        return false;
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement()) {
        if (error)
            *error = xml.hasError() ? xmlError(xml) : QStringLiteral("no root element");
        return false;
    }
    if (xml.name() != QLatin1String("SlideShowTheme")) {
        if (error)
            *error = QStringLiteral("root element is not SlideShowTheme");
        return false;
    }
    int entry = 0;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("Theme")) {
            xml.skipCurrentElement();
            continue;
        }
        ++entry;
        const QXmlStreamAttributes a = xml.attributes();
        xml.skipCurrentElement();
        if (entry > kMaxThemes) {
            result.skipped << QStringLiteral("entry %1: too many themes").arg(entry);
            continue;
        }
        auto skip = [&](const QString& why) { result.skipped << QStringLiteral("entry %1: %2").arg(entry).arg(why); };
        SlideshowTheme t;
        bool ok = false;
        t.themeID = a.value(QLatin1String("ID")).toLongLong(&ok);
        if (!ok) {
            skip(QStringLiteral("no ID"));
            continue;
        }
        t.groupID = a.value(QLatin1String("GroupID")).toLongLong(&ok);
        if (!ok)
            t.groupID = 0;
        const QStringView type = a.value(QLatin1String("Type"));
        if (type == QLatin1String("3D"))
            t.type = SlideshowTheme::ThreeD;
        else if (type.isEmpty() || type == QLatin1String("2D"))
            t.type = SlideshowTheme::Normal;
        else {
            skip(QStringLiteral("unknown Type"));
            continue;
        }
        t.name = a.value(QLatin1String("Name")).toString();
        t.folder = resolveThemeFile(baseFolder, a.value(QLatin1String("Folder")).toString());
        if (t.folder.isEmpty()) {
            skip(QStringLiteral("no Folder inside the catalogue's folder"));
            continue;
        }
        auto optionalFile = [&](const char* key) {
            const QString v = a.value(QLatin1String(key)).toString();
            return v.isEmpty() ? QString() : resolveThemeFile(t.folder, v);
        };
        t.thumbFile = optionalFile("Thumb");
        t.musicFile = optionalFile("Music");
        if (t.type == SlideshowTheme::ThreeD) {
            t.sceneFile = optionalFile("Scene");
            t.paramFile = optionalFile("Param");
            if (t.sceneFile.isEmpty() || t.paramFile.isEmpty()) {
                skip(QStringLiteral("no Scene or Param inside the theme's folder"));
                continue;
            }
        }
        result.themes.push_back(std::move(t));
    }
    if (xml.hasError()) {
        if (error)
            *error = xmlError(xml);
        return false;
    }
    if (out)
        *out = std::move(result);
    return true;
}

bool parseSlideshowThemeParam(const QByteArray& bytes, SlideshowThemeParam* out, QString* error)
{
    SlideshowThemeParam result;
    if (tooLarge(bytes, error))
        return false;
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("ThemeParam")) {
        if (error)
            *error = xml.hasError() ? xmlError(xml) : QStringLiteral("root element is not ThemeParam");
        return false;
    }
    bool ok = false;
    const float rate = xml.attributes().value(QLatin1String("FrameRate")).toFloat(&ok);
    if (ok && std::isfinite(rate) && rate > 0 && rate <= 1000)
        result.frameRate = rate;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("Group") || int(result.maskGroups.size()) >= kMaxGroups) {
            xml.skipCurrentElement();
            continue;
        }
        QStringList masks;
        bool startOk = false;
        float start = xml.attributes().value(QLatin1String("Start")).toFloat(&startOk);
        if (!startOk || !std::isfinite(start) || start < 0 || start > 1e7f)
            start = -1;
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("Mask") && masks.size() < kMaxMasksPerGroup) {
                const QString element = xml.attributes().value(QLatin1String("Element")).toString();
                if (!element.isEmpty())
                    masks << element;
            }
            xml.skipCurrentElement();
        }
        if (!masks.isEmpty()) {
            result.maskGroups.push_back(masks);
            result.groupStartFrames.push_back(start);
        }
    }
    if (xml.hasError()) {
        if (error)
            *error = xmlError(xml);
        return false;
    }
    if (out)
        *out = std::move(result);
    return true;
}
