#pragma once
// The user's choice of default programs, kept in $XDG_CONFIG_HOME/mimeapps.list (the freedesktop
// MIME applications file). Setting a default edits the file in place: every other line (comments,
// other sections, keys this program does not know) and the file's mode stay as they were.

#include <QByteArray>
#include <QString>

namespace kpv::MimeAppsList {

// The user's file: $XDG_CONFIG_HOME/mimeapps.list, or ~/.config/mimeapps.list.
QString userFilePath();
// `text` with `applicationId` as the default for `mimeType` ([Default Applications]) and first
// among its added associations ([Added Associations]); everything else unchanged.
QByteArray withDefault(const QByteArray& text, const QString& mimeType, const QString& applicationId);
// Reads the file (a missing one is empty), sets the default and writes it back safely.
bool setDefault(const QString& filePath, const QString& mimeType, const QString& applicationId,
                QString* error = nullptr);

} // namespace kpv::MimeAppsList
