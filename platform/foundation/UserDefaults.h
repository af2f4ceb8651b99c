#pragma once
// The user's settings: a key-value store kept in memory and saved as a JSON file in the XDG
// configuration folder ("kestrane-viewer/settings.json"). Values are QVariants: numbers, booleans,
// strings, dates, byte arrays, URLs, and maps and lists of these. After a reload they come back as
// the same kind of value: integers of any width as qint64, floating point as double, string lists
// as QVariantList; anything else that converts to text is stored as a string.
//
// Getters follow the usual defaults semantics: an absent or unconvertible integer, double or boolean
// reads 0 / false; an absent string, map, list or URL reads empty. Numbers stored as strings
// ("12", "YES") convert as one would expect.
//
// Saving (synchronize) writes a new file with mode 0600 next to the old one and renames it over
// the old one only when it is complete and on the disk (see FileReplace.h), so an interrupted save
// or a full disk leaves the previous file intact.
// A file that cannot be parsed is moved aside to "<file>.corrupt" before the next save replaces it.
// Thread-safe.

#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <mutex>

namespace kpv {

class UserDefaults {
public:
    // The process-wide store in the configuration folder. Saved on destruction when it has changes.
    static UserDefaults& standardUserDefaults();

    // A store over a file of the caller's choosing (loaded now when it exists).
    explicit UserDefaults(const QString& filePath);
    ~UserDefaults(); // saves unsaved changes
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    QString filePath() const;

    QVariant objectForKey(const QString& key) const; // invalid QVariant when absent
    void setObject(const QVariant& value, const QString& key); // an invalid value removes the key
    void removeObjectForKey(const QString& key);

    qint64 integerForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;
    QVariantMap dictionaryForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;
    QUrl URLForKey(const QString& key) const; // also accepts a stored string, read as a URL

    void setInteger(qint64 value, const QString& key);
    void setDouble(double value, const QString& key);
    void setBool(bool value, const QString& key);
    void setURL(const QUrl& url, const QString& key); // an empty URL removes the key

    // Every key and value.
    QVariantMap dictionaryRepresentation() const;

    // Writes the store to its file (see the top of this file). Returns false, leaving the old file
    // as it was and saying why in *error when given, when the file could not be written. Nothing
    // is written when nothing changed.
    bool synchronize(QString* error = nullptr);
    bool hasUnsavedChanges() const;

    // Called with the reason when a save fails for the first time since the store was made or
    // since the last save that succeeded: one failure is told once, not once per change. It may be
    // called on any thread that synchronises, never with the store locked. The terminal gets one
    // line per reason in the same way.
    void setSaveFailureHandler(std::function<void(const QString& why)> handler);
    // Why the file that was there at start could not be read (not a settings file, unreadable,
    // too large), so that the store began empty; empty when it was read or there was none. The
    // file is set aside at the first save (loadFailureKeptAs() names where), never overwritten.
    QString loadFailure() const;
    QString loadFailureKeptAs() const;

    // Test seam: called with the finished temporary file just before it replaces the old one;
    // returning false abandons the save there: the old file stays and the temporary one goes.
    void setBeforeReplaceHookForTesting(std::function<bool(const QString& tempPath)> hook);

private:
    void load();
    QVariantMap readFile(bool* failed, QString* why = nullptr) const;
    bool write(QString* why);
    mutable std::mutex mutex_;
    QString path_;
    QVariantMap values_;
    // The values as last read from or written to the file: what differs from them is this
    // program's change, the rest may be taken from another copy's save.
    QVariantMap base_;
    bool dirty_ = false;
    bool loadFailed_ = false;
    QString loadFailure_;
    QString keptAs_;
    std::function<bool(const QString&)> beforeReplace_;
    std::function<void(const QString&)> saveFailed_;
    bool failureTold_ = false;
    QString failureLogged_;
};

} // namespace kpv
