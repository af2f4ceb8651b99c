#pragma once
// The user's choice of default programs, kept in $XDG_CONFIG_HOME/mimeapps.list (the freedesktop
// MIME applications file). Setting a default edits the file in place: every other line (comments,
// other sections, keys this program does not know) and the file's mode stay as they were.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace kpv::MimeAppsList {

// The user's file: $XDG_CONFIG_HOME/mimeapps.list, or ~/.config/mimeapps.list.
QString userFilePath();
// The user's lists of the desktops named in $XDG_CURRENT_DESKTOP that exist beside it
// ("xfce-mimeapps.list" for "XFCE"), in that order. Each outranks the user's file: a default
// set only there is not the one the desktop opens files with.
QStringList userDesktopFilePaths();
// The user's file says which program is the default and adds associations; a desktop's own list
// may only say which is the default (the desktop ignores the rest there, with a warning).
enum class ListKind { User, Desktop };
// `text` with `applicationId` as the default for `mimeType` ([Default Applications]) and, in the
// user's file, first among its added associations ([Added Associations]); everything else unchanged.
QByteArray withDefault(const QByteArray& text, const QString& mimeType, const QString& applicationId,
                       ListKind kind = ListKind::User);
// Reads the file (a missing one is empty), sets the default and writes it back safely. What
// another program writes into the file meanwhile is never replaced: the edit is made again on the
// file as that program left it.
bool setDefault(const QString& filePath, const QString& mimeType, const QString& applicationId,
                QString* error = nullptr, ListKind kind = ListKind::User);

// Runs just before the edited file would replace the one read (a test stands in another program).
void setBeforeReplaceHookForTesting(std::function<void()> hook);

} // namespace kpv::MimeAppsList
