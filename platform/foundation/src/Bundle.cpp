#include "foundation/Bundle.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>

namespace kpv {

namespace {

// Resource files are small; anything larger is refused rather than read.
constexpr qint64 kMaxResourceFile = 16 * 1024 * 1024;

const QStringList& imageExtensions()
{
    static const QStringList exts = {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                     QStringLiteral("gif"), QStringLiteral("bmp"), QStringLiteral("tif"),
                                     QStringLiteral("tiff"), QStringLiteral("svg")};
    return exts;
}

QByteArray readSmallFile(const QString& path, bool* ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly) && file.size() <= kMaxResourceFile;
    return *ok ? file.read(kMaxResourceFile) : QByteArray();
}

// The running program's own path, read from the kernel: it needs no application object, and
// follows the program wherever its folder was copied or linked from.
QString executablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QStringList defaultDirectories()
{
    QStringList dirs;
    const QString env = qEnvironmentVariable("KPV_RESOURCES_DIR");
    for (const QString& d : env.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        dirs << d;
    }
    // An installed program uses its installed resources only, so that it never picks up a build
    // tree that happens to lie where it was built; a program in the build tree uses the tree's.
    const QString installed = Bundle::installedResourceDirectory(executablePath());
    if (!installed.isEmpty()) {
        dirs << installed;
    } else {
        dirs << QStringLiteral(KPV_BUILD_RESOURCES_DIR) << QStringLiteral(KPV_SOURCE_RESOURCES_DIR);
    }
    return dirs;
}

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

} // namespace

Bundle& Bundle::mainBundle()
{
    static Bundle bundle(defaultDirectories());
    return bundle;
}

Bundle::Bundle(QStringList resourceDirectories, QString language)
    : dirs_(std::move(resourceDirectories)), language_(std::move(language))
{
    if (language_.isEmpty()) {
        language_ = QLocale::system().name(); // "de_DE"
    }
}

QString Bundle::installedResourceDirectory(const QString& executable)
{
    if (executable.isEmpty()) {
        return {};
    }
    const QString dir = QDir::cleanPath(QFileInfo(executable).absolutePath() + QStringLiteral("/../share/kestrane-viewer"));
    return QFileInfo::exists(dir + QStringLiteral("/Info.json")) ? dir : QString();
}

QStringList Bundle::resourceDirectories() const
{
    return dirs_;
}

void Bundle::reload()
{
    std::lock_guard lock(mutex_);
    loaded_ = false;
    info_.clear();
    strings_.clear();
    images_.clear();
}

void Bundle::loadLocked() const
{
    if (loaded_) {
        return;
    }
    loaded_ = true;
    // The information dictionary: the first folder that has one.
    for (const QString& dir : dirs_) {
        bool ok = false;
        const QByteArray bytes = readSmallFile(dir + QStringLiteral("/Info.json"), &ok);
        if (!ok) {
            continue;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(bytes);
        if (doc.isObject()) {
            info_ = doc.object().toVariantMap();
            break;
        }
        qWarning("Bundle: %s/Info.json is not a JSON object", qPrintable(dir));
    }
    // Strings: English first, then the user's language over it; earlier folders win.
    QStringList languages = {QStringLiteral("en")};
    const QString shortLang = language_.section(QLatin1Char('_'), 0, 0);
    if (!shortLang.isEmpty() && shortLang != QLatin1String("en")) {
        languages << shortLang;
    }
    if (language_.contains(QLatin1Char('_'))) {
        languages << language_;
    }
    for (const QString& lang : languages) {
        for (auto dir = dirs_.rbegin(); dir != dirs_.rend(); ++dir) {
            bool ok = false;
            const QByteArray bytes = readSmallFile(*dir + QStringLiteral("/strings/") + lang + QStringLiteral(".strings"), &ok);
            if (!ok) {
                continue;
            }
            QHash<QString, QString> table;
            QString error;
            if (!parseStringsTable(bytes, &table, &error)) {
                qWarning("Bundle: %s/strings/%s.strings: %s", qPrintable(*dir), qPrintable(lang), qPrintable(error));
            }
            for (auto it = table.begin(); it != table.end(); ++it) {
                strings_.insert(it.key(), it.value());
            }
        }
    }
    // Images by lower-cased base name; earlier folders win, and within a folder the first path in
    // sorted order, so the choice does not depend on the file system's listing order.
    for (const QString& dir : dirs_) {
        QStringList found;
        QDirIterator it(dir, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (imageExtensions().contains(QFileInfo(path).suffix().toLower())) {
                found << path;
            }
        }
        std::sort(found.begin(), found.end());
        for (const QString& path : found) {
            const QString key = QFileInfo(path).completeBaseName().toLower();
            if (!images_.contains(key)) {
                images_.insert(key, path);
            }
        }
    }
}

QVariantMap Bundle::infoDictionary() const
{
    std::lock_guard lock(mutex_);
    loadLocked();
    return info_;
}

QVariant Bundle::objectForInfoDictionaryKey(const QString& key) const
{
    return infoDictionary().value(key);
}

QString Bundle::bundleIdentifier() const
{
    return objectForInfoDictionaryKey(QStringLiteral("CFBundleIdentifier")).toString();
}

QString Bundle::localizedString(const QString& key, const QString& value) const
{
    std::lock_guard lock(mutex_);
    loadLocked();
    auto it = strings_.constFind(key);
    return it != strings_.constEnd() ? it.value() : value;
}

QString Bundle::imageNamed(const QString& name) const
{
    if (name.isEmpty()) {
        return {};
    }
    QString key = name.toLower();
    const QFileInfo info(key);
    if (imageExtensions().contains(info.suffix())) {
        key = info.completeBaseName();
    }
    std::lock_guard lock(mutex_);
    loadLocked();
    return images_.value(key);
}

QString Bundle::pathForResource(const QString& relativePath) const
{
    if (relativePath.isEmpty() || relativePath.startsWith(QLatin1Char('/')) ||
        relativePath.split(QLatin1Char('/')).contains(QStringLiteral(".."))) {
        return {};
    }
    for (const QString& dir : dirs_) {
        const QString path = dir + QLatin1Char('/') + relativePath;
        if (QFileInfo::exists(path)) {
            return path;
        }
    }
    return {};
}

bool parseStringsTable(const QByteArray& bytes, QHash<QString, QString>* out, QString* error)
{
    QString text;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const bool little = bytes.startsWith("\xFF\xFE");
        const qsizetype units = (bytes.size() - 2) / 2;
        text.reserve(units);
        for (qsizetype k = 0; k < units; ++k) {
            const uchar a = uchar(bytes[2 + 2 * k]);
            const uchar b = uchar(bytes[3 + 2 * k]);
            text += QChar(little ? char16_t(a | (b << 8)) : char16_t((a << 8) | b));
        }
    } else {
        text = QString::fromUtf8(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes);
    }

    const qsizetype n = text.size();
    qsizetype i = 0;
    int line = 1;
    bool clean = true;
    auto fail = [&](const char* what) {
        if (clean && error != nullptr) {
            *error = QStringLiteral("line %1: %2").arg(line).arg(QLatin1String(what));
        }
        clean = false;
    };
    auto skipSpaceAndComments = [&] {
        while (i < n) {
            const QChar c = text[i];
            if (c == QLatin1Char('\n')) {
                ++line;
                ++i;
            } else if (c.isSpace()) {
                ++i;
            } else if (c == QLatin1Char('/') && i + 1 < n && text[i + 1] == QLatin1Char('*')) {
                i += 2;
                while (i < n && !(text[i] == QLatin1Char('*') && i + 1 < n && text[i + 1] == QLatin1Char('/'))) {
                    line += text[i] == QLatin1Char('\n') ? 1 : 0;
                    ++i;
                }
                i = std::min(n, i + 2);
            } else if (c == QLatin1Char('/') && i + 1 < n && text[i + 1] == QLatin1Char('/')) {
                while (i < n && text[i] != QLatin1Char('\n')) {
                    ++i;
                }
            } else {
                break;
            }
        }
    };
    // Reads a quoted string at i; false when there is none or it is not closed.
    auto readQuoted = [&](QString* value) {
        if (i >= n || text[i] != QLatin1Char('"')) {
            return false;
        }
        ++i;
        value->clear();
        while (i < n) {
            const QChar c = text[i++];
            if (c == QLatin1Char('"')) {
                return true;
            }
            if (c == QLatin1Char('\n')) {
                ++line;
            }
            if (c != QLatin1Char('\\')) {
                *value += c;
                continue;
            }
            if (i >= n) {
                return false;
            }
            const QChar e = text[i++];
            switch (e.unicode()) {
            case 'n': *value += QLatin1Char('\n'); break;
            case 't': *value += QLatin1Char('\t'); break;
            case 'r': *value += QLatin1Char('\r'); break;
            case 'U':
            case 'u': {
                if (i + 4 <= n && isHexDigit(text[i]) && isHexDigit(text[i + 1]) && isHexDigit(text[i + 2]) &&
                    isHexDigit(text[i + 3])) {
                    *value += QChar(char16_t(text.mid(i, 4).toUShort(nullptr, 16)));
                    i += 4;
                } else {
                    *value += e;
                }
                break;
            }
            default: *value += e; break; // \" \\ \' and anything else: the character itself
            }
        }
        return false;
    };
    auto skipToNextEntry = [&] {
        while (i < n && text[i] != QLatin1Char(';')) {
            line += text[i] == QLatin1Char('\n') ? 1 : 0;
            ++i;
        }
        if (i < n) {
            ++i;
        }
    };

    for (;;) {
        skipSpaceAndComments();
        if (i >= n) {
            break;
        }
        QString key;
        QString value;
        if (!readQuoted(&key)) {
            fail("expected a quoted key");
            skipToNextEntry();
            continue;
        }
        skipSpaceAndComments();
        if (i < n && text[i] == QLatin1Char(';')) {
            ++i; // "KEY"; means the key is its own text
            out->insert(key, key);
            continue;
        }
        if (i >= n || text[i] != QLatin1Char('=')) {
            fail("expected '='");
            skipToNextEntry();
            continue;
        }
        ++i;
        skipSpaceAndComments();
        if (!readQuoted(&value)) {
            fail("expected a quoted text");
            skipToNextEntry();
            continue;
        }
        skipSpaceAndComments();
        if (i >= n || text[i] != QLatin1Char(';')) {
            fail("expected ';'");
            skipToNextEntry();
            continue;
        }
        ++i;
        out->insert(key, value);
    }
    return clean;
}

} // namespace kpv
