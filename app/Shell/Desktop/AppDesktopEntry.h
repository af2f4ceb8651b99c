#pragma once
// The desktop entry through which the desktop opens files with this program. The MIME defaults
// name applications by their entry, so making this program a type's default needs one: when no
// entry of that id is installed, one is written into the user's applications folder (beside, then
// renamed into place). An installed entry (the package's, or one the user edited) is left alone;
// one this program wrote earlier that no longer says what it would now is written anew.

#include <QString>
#include <QStringList>

namespace AppDesktopEntry {

// The entry's text for the program at `executable` opening `mimeTypes`.
QString entryText(const QString& name, const QString& executable, const QStringList& mimeTypes);
// The Exec key's value for a program path: bare when it holds none of the characters the entry
// format reserves, else quoted with them escaped. Empty for a path that cannot be written in an
// entry (a line break in it).
QString execValue(const QString& executable);
// Makes sure an entry named `desktopId` is installed and, when it is the program's own, names
// `executable` as it should; true when one is there afterwards. A write
// that fails (a full disk) leaves no partial file behind and says why in *error.
bool ensureInstalled(const QString& desktopId, const QString& name, const QString& executable,
                     const QStringList& mimeTypes, QString* error = nullptr);

}  // namespace AppDesktopEntry
