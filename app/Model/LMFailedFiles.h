#pragma once

// The files a run over many files (batch convert and resize, copying favourites) could not do,
// each with the reason, told once when the run ends. A run stops at the first file that found
// the destination without room, since every later one would fail the same way; that is told too.

#include "Model/LMPathString.h"

#include <QList>
#include <QString>
#include <QStringList>

class LMFailedFiles {
public:
    // At most this many files are named in the report; the rest are counted.
    static constexpr qsizetype kNamedInReport = 12;

    // Adds a failed file. A reason saying the destination has no room left marks the run as
    // stopped there (see stoppedForRoom).
    void add(const LMPathString &path, const QString &reason);

    bool isEmpty() const { return m_paths.isEmpty(); }
    qsizetype size() const { return m_paths.size(); }
    const QList<LMPathString> &paths() const { return m_paths; }
    const QStringList &reasons() const { return m_reasons; }
    // The run must not go on: the destination has no room left.
    bool stoppedForRoom() const { return m_stoppedForRoom; }
    // A file that was done, but whose new file lacks part of it (pages, depth, the part of the
    // picture that could not be read): told in the same report.
    void addNote(const LMPathString &path, const QString &note);
    bool hasNotes() const { return !m_notes.isEmpty(); }
    // The files not tried because the run stopped.
    void setNotTried(qsizetype count) { m_notTried = count; }
    qsizetype notTried() const { return m_notTried; }

    // The report's text below its title: each failed file's name and why, the notes, that the
    // originals are unchanged, and why the run stopped early when it did.
    QString details() const;

private:
    QList<LMPathString> m_paths;
    QStringList m_reasons;
    QStringList m_notes; // "name: what its new file lacks"
    bool m_stoppedForRoom = false;
    qsizetype m_notTried = 0;
};
