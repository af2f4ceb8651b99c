#pragma once
// The desktop's shared list of recently used files (recently-used.xbel in the user's data
// folder), which file choosers and the desktop's "recent" places read. A file opened here is
// added, or its entry refreshed, under this program's name.
//
// The list belongs to every program of the session, so it is edited as text: each other entry,
// and everything else in the file, stays byte for byte as it was. The edit happens under a lock
// (so that two copies of this program do not lose each other's entries) and the new list is
// renamed over the old only once written. A list that cannot be understood is left alone.

#include <QDateTime>
#include <QString>

namespace kpv {

struct RecentlyUsedApplication {
    QString name; // as the desktop shows it
    QString exec; // the command line that opens a file, with %u for the file's address
};

// The list's path for this user ($XDG_DATA_HOME/recently-used.xbel, else
// ~/.local/share/recently-used.xbel); empty without a home folder.
QString recentlyUsedListPath();

// Adds `filePath` to the list at `listPath` (made when missing), as opened now by `application`.
// False with *error saying why when the list could not be read, understood or written.
bool addToRecentlyUsed(const QString& listPath, const QString& filePath, const QString& mimeType,
                       const RecentlyUsedApplication& application, const QDateTime& now = QDateTime::currentDateTimeUtc(),
                       QString* error = nullptr);

} // namespace kpv
