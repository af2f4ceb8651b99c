#include "foundation/UserDefaults.h"

#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"
#include "foundation/FileReplace.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSet>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {

namespace {

// Makes `dir` and each missing folder above it (mode 0700, as the desktop's folders for settings
// are made); false with errno the system's answer for the first that cannot be made, so that a
// home the user may not write says "Permission denied", not that a folder below it is missing.
bool makeFolders(const QByteArray& dir)
{
    struct stat st {};
    if (::stat(dir.constData(), &st) == 0) {
        errno = S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
        return errno == 0;
    }
    const qsizetype slash = dir.lastIndexOf('/');
    if (slash > 0 && !makeFolders(dir.left(slash)))
        return false;
    return ::mkdir(dir.constData(), 0700) == 0 || errno == EEXIST;
}

// Values JSON has no type for are stored as one-key objects with these tags.
const QString kUrlTag = QStringLiteral("@kpv:url");
const QString kDateTag = QStringLiteral("@kpv:date");
const QString kDataTag = QStringLiteral("@kpv:data");
const QString kDoubleTag = QStringLiteral("@kpv:double");
// A file name that is not UTF-8 (its raw bytes held as FileNames.h describes), kept as its
// escaped bytes: as text it would lose them.
const QString kFileNameTag = QStringLiteral("@kpv:filename");

// A settings file larger than this is not ours; refuse it rather than read it into memory.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

QJsonValue toJson(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return v.toLongLong();
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong u = v.toULongLong();
        if (u <= qulonglong(std::numeric_limits<qint64>::max())) {
            return qint64(u);
        }
        return double(u);
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (!std::isfinite(d)) {
            return QJsonValue(QJsonValue::Null);
        }
        // Tagged, so that 2.0 comes back as a double and not as the integer 2.
        return QJsonObject{{kDoubleTag, d}};
    }
    case QMetaType::QString: {
        const QString text = v.toString();
        if (fileNameHasRawBytes(text))
            return QJsonObject{{kFileNameTag, QString::fromLatin1(encodeFileName(text).toPercentEncoding())}};
        return text;
    }
    case QMetaType::QUrl:
        return QJsonObject{{kUrlTag, v.toUrl().toString(QUrl::FullyEncoded)}};
    case QMetaType::QDateTime:
        return QJsonObject{{kDateTag, v.toDateTime().toString(Qt::ISODateWithMs)}};
    case QMetaType::QByteArray:
        return QJsonObject{{kDataTag, QString::fromLatin1(v.toByteArray().toBase64())}};
    case QMetaType::QVariantMap: {
        QJsonObject o;
        const QVariantMap m = v.toMap();
        for (auto it = m.begin(); it != m.end(); ++it) {
            o.insert(it.key(), toJson(it.value()));
        }
        return o;
    }
    case QMetaType::QVariantHash: {
        QJsonObject o;
        const QVariantHash m = v.toHash();
        for (auto it = m.begin(); it != m.end(); ++it) {
            o.insert(it.key(), toJson(it.value()));
        }
        return o;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QJsonArray a;
        for (const QVariant& item : v.toList()) {
            a.append(toJson(item));
        }
        return a;
    }
    default:
        if (!v.isValid() || v.isNull()) {
            return QJsonValue(QJsonValue::Null);
        }
        if (v.canConvert<QString>()) {
            return v.toString();
        }
        return QJsonValue(QJsonValue::Null);
    }
}

QVariant fromJson(const QJsonValue& j)
{
    switch (j.type()) {
    case QJsonValue::Bool:
        return j.toBool();
    case QJsonValue::Double: {
        const QVariant v = j.toVariant(); // qlonglong for integers, double otherwise
        return v;
    }
    case QJsonValue::String:
        return j.toString();
    case QJsonValue::Array: {
        QVariantList list;
        for (const QJsonValue& item : j.toArray()) {
            list.append(fromJson(item));
        }
        return list;
    }
    case QJsonValue::Object: {
        const QJsonObject o = j.toObject();
        if (o.size() == 1) {
            const QString key = o.begin().key();
            const QJsonValue value = o.begin().value();
            if (key == kUrlTag && value.isString()) {
                return QUrl(value.toString(), QUrl::StrictMode);
            }
            if (key == kDateTag && value.isString()) {
                return QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
            }
            if (key == kDataTag && value.isString()) {
                return QByteArray::fromBase64(value.toString().toLatin1());
            }
            if (key == kDoubleTag && value.isDouble()) {
                return value.toDouble();
            }
            if (key == kFileNameTag && value.isString()) {
                return decodeFileName(QByteArray::fromPercentEncoding(value.toString().toLatin1()));
            }
        }
        QVariantMap map;
        for (auto it = o.begin(); it != o.end(); ++it) {
            map.insert(it.key(), fromJson(it.value()));
        }
        return map;
    }
    default:
        return {};
    }
}

} // namespace

UserDefaults& UserDefaults::standardUserDefaults()
{
    static UserDefaults defaults(configDirectory() + QStringLiteral("/settings.json"));
    return defaults;
}

UserDefaults::UserDefaults(const QString& filePath) : path_(filePath)
{
    load();
}

UserDefaults::~UserDefaults()
{
    synchronize();
}

QString UserDefaults::filePath() const
{
    return path_;
}

void UserDefaults::load()
{
    bool failed = false;
    values_ = readFile(&failed, &loadFailure_);
    loadFailed_ = failed;
    base_ = values_;
    // Where the unreadable file goes at the first save: a name no earlier one took, so that a
    // file kept aside before is not lost to this one.
    if (failed) {
        keptAs_ = path_ + QStringLiteral(".corrupt");
        for (int n = 2; QFileInfo::exists(keptAs_) || QFileInfo(keptAs_).isSymLink(); ++n)
            keptAs_ = path_ + QStringLiteral(".corrupt.%1").arg(n);
    }
}

QString UserDefaults::loadFailure() const
{
    std::lock_guard lock(mutex_);
    return loadFailure_;
}

QString UserDefaults::loadFailureKeptAs() const
{
    std::lock_guard lock(mutex_);
    return keptAs_;
}

QVariantMap UserDefaults::readFile(bool* failed, QString* why) const
{
    *failed = false;
    QVariantMap values;
    QFile file(path_);
    if (!file.exists()) {
        return values;
    }
    // A pipe or a device in the file's place would hold the start for good: refused unread.
    if (!openRegularFileToRead(path_, &file, why)) {
        *failed = true;
        return values;
    }
    if (file.size() > kMaxFileSize) {
        *failed = true;
        if (why)
            *why = QStringLiteral("it is too large to be a settings file");
        return values;
    }
    // As much as the file holds: asking for the most it may hold would reserve that much.
    const QByteArray bytes = file.read(file.size());
    // An empty file holds no settings to lose: the viewer starts on its defaults as with none, and
    // the first save writes the file whole.
    if (bytes.trimmed().isEmpty())
        return values;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        *failed = true;
        if (why)
            *why = error.error != QJsonParseError::NoError
                       ? QStringLiteral("the file is damaged or cut short (%1 at byte %2)").arg(error.errorString()).arg(error.offset)
                       : QStringLiteral("the file holds something other than settings");
        return values;
    }
    const QJsonObject root = doc.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        const QVariant value = fromJson(it.value());
        if (value.isValid()) {
            values.insert(it.key(), value);
        }
    }
    return values;
}

QVariant UserDefaults::objectForKey(const QString& key) const
{
    std::lock_guard lock(mutex_);
    return values_.value(key);
}

void UserDefaults::setObject(const QVariant& value, const QString& key)
{
    std::lock_guard lock(mutex_);
    if (!value.isValid()) {
        dirty_ = values_.remove(key) > 0 || dirty_;
        return;
    }
    values_.insert(key, value);
    dirty_ = true;
}

void UserDefaults::removeObjectForKey(const QString& key)
{
    setObject(QVariant(), key);
}

qint64 UserDefaults::integerForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (!std::isfinite(d) || d >= 9.2e18 || d <= -9.2e18) {
            return 0;
        }
        return static_cast<qint64>(d);
    }
    case QMetaType::QString: {
        bool ok = false;
        const QString s = v.toString().trimmed();
        const qint64 i = s.toLongLong(&ok);
        if (ok) {
            return i;
        }
        const double d = s.toDouble(&ok);
        return (ok && std::isfinite(d) && std::fabs(d) < 9.2e18) ? static_cast<qint64>(d) : 0;
    }
    default: {
        bool ok = false;
        const qint64 i = v.toLongLong(&ok);
        return ok ? i : 0;
    }
    }
}

double UserDefaults::doubleForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::Bool) {
        return v.toBool() ? 1.0 : 0.0;
    }
    bool ok = false;
    const double d = v.typeId() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok) : v.toDouble(&ok);
    return ok ? d : 0.0;
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::Bool) {
        return v.toBool();
    }
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("yes") || s == QLatin1String("true")) {
            return true;
        }
        return integerForKey(key) != 0;
    }
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok && d != 0.0;
}

QString UserDefaults::stringForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return v.toString();
    default:
        return {};
    }
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QVariantMap || v.typeId() == QMetaType::QVariantHash ? v.toMap() : QVariantMap();
}

QVariantList UserDefaults::arrayForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList ? v.toList() : QVariantList();
}

QUrl UserDefaults::URLForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QUrl) {
        return v.toUrl();
    }
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        if (s.startsWith(QLatin1Char('/'))) {
            return QUrl::fromLocalFile(s); // a plain path stands for a file URL
        }
        return QUrl(s, QUrl::StrictMode);
    }
    return {};
}

void UserDefaults::setInteger(qint64 value, const QString& key)
{
    setObject(QVariant::fromValue(value), key);
}

void UserDefaults::setDouble(double value, const QString& key)
{
    setObject(value, key);
}

void UserDefaults::setBool(bool value, const QString& key)
{
    setObject(value, key);
}

void UserDefaults::setURL(const QUrl& url, const QString& key)
{
    setObject(url.isEmpty() ? QVariant() : QVariant(url), key);
}

QVariantMap UserDefaults::dictionaryRepresentation() const
{
    std::lock_guard lock(mutex_);
    return values_;
}

bool UserDefaults::hasUnsavedChanges() const
{
    std::lock_guard lock(mutex_);
    return dirty_;
}

void UserDefaults::setBeforeReplaceHookForTesting(std::function<bool(const QString&)> hook)
{
    std::lock_guard lock(mutex_);
    beforeReplace_ = std::move(hook);
}

void UserDefaults::setSaveFailureHandler(std::function<void(const QString&)> handler)
{
    std::lock_guard lock(mutex_);
    saveFailed_ = std::move(handler);
}

bool UserDefaults::synchronize(QString* error)
{
    std::function<void(const QString&)> tell;
    QString why;
    {
        std::lock_guard lock(mutex_);
        if (!dirty_)
            return true;
        if (write(&why)) {
            failureTold_ = false;
            failureLogged_.clear();
            return true;
        }
        // Every later change fails the same way until the cause goes: one line and one telling.
        if (why != failureLogged_) {
            failureLogged_ = why;
            qWarning("settings not saved: %s", qUtf8Printable(why));
        }
        if (!failureTold_ && saveFailed_) {
            failureTold_ = true;
            tell = saveFailed_;
        }
    }
    if (error)
        *error = why;
    if (tell)
        tell(why);
    return false;
}

// Writes the changed values, merged with what another copy of the program saved meanwhile.
// Called with the store locked.
bool UserDefaults::write(QString* error)
{
    // Another viewer of this user may have saved since this one read the file: one save at a
    // time, and only the keys this viewer changed (set or removed) are written over its values.
    const QFileInfo where(path_);
    QDir().mkpath(where.absolutePath());
    // The lock is on the folder: the file itself is replaced by every save.
    const QByteArray lockPath = QFile::encodeName(where.absolutePath());
    const int fileLock = ::open(lockPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fileLock >= 0)
        ::flock(fileLock, LOCK_EX);
    const auto unlock = qScopeGuard([fileLock] {
        if (fileLock >= 0)
            ::close(fileLock);
    });
    if (!loadFailed_) {
        bool failed = false;
        QVariantMap merged = readFile(&failed);
        if (!failed) {
            QSet<QString> keys(values_.keyBegin(), values_.keyEnd());
            for (auto it = base_.keyBegin(); it != base_.keyEnd(); ++it)
                keys.insert(*it);
            for (const QString& key : keys) {
                const bool had = base_.contains(key), has = values_.contains(key);
                if (has && (!had || base_.value(key) != values_.value(key)))
                    merged.insert(key, values_.value(key));
                else if (had && !has)
                    merged.remove(key);
            }
            values_ = merged;
        }
    }
    QJsonObject root;
    for (auto it = values_.begin(); it != values_.end(); ++it) {
        root.insert(it.key(), toJson(it.value()));
    }
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);

    const QFileInfo info(path_);
    const QString dir = info.absolutePath();
    // Asked again of the system for the reason: the folder of another user, a read-only disk.
    if (!QDir().mkpath(dir) && !makeFolders(QFile::encodeName(dir))) {
        *error = QStringLiteral("cannot make the folder %1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // A file we could not parse is kept aside instead of being overwritten.
    if (loadFailed_ && info.exists()) {
        // A copy another run kept aside meanwhile keeps its name: this one takes the next free one.
        QString aside = keptAs_.isEmpty() ? path_ + QStringLiteral(".corrupt") : keptAs_;
        for (int n = 2; !renameWithoutReplacing(path_, aside); ++n) {
            if (errno != EEXIST || n > 1000) {
                *error = QStringLiteral("cannot keep the unreadable %1 aside: %2").arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
                return false;
            }
            aside = path_ + QStringLiteral(".corrupt.%1").arg(n);
        }
        keptAs_ = aside;
        loadFailed_ = false;
    }

    FileReplaceOptions options;
    options.mode = 0600; // private from the start: the file holds tokens
    if (beforeReplace_) {
        options.beforeRename = [this](const QString& tempPath, QString* error) {
            if (beforeReplace_(tempPath))
                return true;
            *error = QStringLiteral("the save was abandoned before the rename");
            return false;
        };
    }
    if (!replaceFileContents(path_, bytes, options, error))
        return false;
    dirty_ = false;
    base_ = values_;
    return true;
}

} // namespace kpv
