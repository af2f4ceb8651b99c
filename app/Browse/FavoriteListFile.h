#pragma once
// The favourites kept between runs: the ordered list of favourite paths in a small JSON file of
// our own beside the settings ({"version": 1, "favorites": ["/path/a.jpg", ...]}).
//
// The file is read as hostile input: a file that is too large or has the wrong shape gives an
// empty list and a message; one cut short or damaged part way gives the entries before the damage
// and a message; entries that are not usable paths (not strings, empty,
// relative, too long, with a NUL or a broken character) and repeats are skipped one by one, so a
// damaged entry never costs the others. Writing goes to a temporary file beside the list, renamed
// over it only when complete; a list that could not be read is first moved aside to
// "<file>.corrupt" so the next save does not destroy what may still be recovered from it.

#include "Model/LMPathString.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

class FavoriteListFile {
public:
    // Larger files are refused unread; more entries than this are dropped from the end.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
    static constexpr int kMaxEntries = 100000;
    static constexpr int kMaxPathLength = 4096;

    struct Contents {
        QList<LMPathString> paths;
        // Empty when the file was read (or does not exist); else why it was refused. `paths` may
        // still hold what was read before the damage.
        QString error;
        // Entries skipped as unusable or repeated.
        int skipped = 0;
    };

    explicit FavoriteListFile(QString filePath) : m_filePath(std::move(filePath)) {}

    const QString& filePath() const { return m_filePath; }

    // Reads the list; a missing file is an empty list without error.
    Contents read();
    // Writes the list in its order, merged with what another viewer of the same user wrote since
    // this one last read or wrote the file: its additions stay and its removals hold, as do this
    // one's (under a lock, so two saves never interleave). *written receives the merged list.
    // False with `error` set when nothing was written; the old file is then as it was.
    bool write(const QList<LMPathString>& paths, QString* error = nullptr, QList<LMPathString>* written = nullptr);
    // The three-way merge: `ours` when the file still holds `base`; else `theirs` (the file now,
    // in its order) less what `ours` removed from `base`, plus what `ours` added to it.
    static QList<LMPathString> merge(const QList<LMPathString>& base, const QList<LMPathString>& ours,
                                     const QList<LMPathString>& theirs);

    // The bytes of a list file, and their meaning.
    static Contents parse(const QByteArray& bytes);
    static QByteArray serialize(const QList<LMPathString>& paths);

private:
    static Contents parseObject(const QJsonObject& root);
    Contents readFile();

    QString m_filePath;
    // The list as this viewer last read or wrote it.
    QList<LMPathString> m_base;
    // The last read found a file that could not be used: keep it aside before replacing it.
    bool m_unreadable = false;
};
