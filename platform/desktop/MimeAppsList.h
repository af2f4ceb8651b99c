#pragma once
// The user's choice of default programs, kept in $XDG_CONFIG_HOME/mimeapps.list (the freedesktop
// MIME applications file). Setting a default edits the file in place: every other line (comments,
// other sections, keys this program does not know) and the file's mode stay as they were.

#include <QByteArray>
#include <QString>

#include <functional>

namespace kpv::MimeAppsList {

// The user's file: $XDG_CONFIG_HOME/mimeapps.list, or ~/.config/mimeapps.list.
QString userFilePath();
// `text` with `applicationId` as the default for `mimeType` ([Default Applications]) and first
// among its added associations ([Added Associations]); everything else unchanged.
QByteArray withDefault(const QByteArray& text, const QString& mimeType, const QString& applicationId);
// Reads the file (a missing one is empty), sets the default and writes it back safely. What
// another program writes into the file meanwhile is never replaced: the edit is made again on the
// file as that program left it.
bool setDefault(const QString& filePath, const QString& mimeType, const QString& applicationId,
                QString* error = nullptr);

// Runs just before the edited file would replace the one read (a test stands in another program).
void setBeforeReplaceHookForTesting(std::function<void()> hook);

} // namespace kpv::MimeAppsList
