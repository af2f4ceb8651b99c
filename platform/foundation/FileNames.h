#pragma once
// File names are bytes. Most are UTF-8, but a disk from another system may hold names in Latin-1
// or with broken sequences, and such a file must still open, save, trash, rename and hand over.
//
// A name's bytes become a QString that keeps them all: valid UTF-8 is decoded as usual, and each
// byte that is not part of a valid sequence becomes one of the code points U+DC80 to U+DCFF (a lone
// low surrogate, which valid UTF-8 never yields). encodeFileName gives the very same bytes back.
// Every call that hands a path to the system goes through encodeFileName; what is shown to the
// user goes through displayFileName, which shows each such byte as U+FFFD, and each control
// character (Linux allows every byte but '/' and NUL in a name) as a visible escape.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace kpv {

QString decodeFileName(const QByteArray& bytes);
QByteArray encodeFileName(const QString& name);
// True when the name holds bytes that are not UTF-8 (Qt's own file calls cannot reach such a file).
bool fileNameHasRawBytes(const QString& name);
// The name (or path) as text for the user and the log, on one line: raw bytes shown as the
// replacement character, a tab or a line break as the escape "\t" or "\n", other control
// characters and the marks that turn the text's direction as "\x1B", "\u2028" or "\u202E".
// Never used to reach the file.
QString displayFileName(const QString& name);
// What the file system says of a path, whatever bytes its name holds (the link is followed).
struct PathStatus {
    bool exists = false;
    bool isDirectory = false;
    bool isRegularFile = false;
    qint64 size = 0;
    QDateTime modified;
};
PathStatus pathStatus(const QString& path);
// The path taken from the current folder when it is relative, its bytes kept (nothing resolved).
QString absoluteFileName(const QString& path);
// The path with every link and "." or ".." resolved, its bytes kept; empty when it does not exist.
QString canonicalFileName(const QString& path);
// A file time (whole seconds and the nanoseconds past them, as the file system keeps it) in
// milliseconds since 1970, held at the ends of the range: a file may be dated centuries away.
qint64 fileTimeMsecs(qint64 seconds, long nanoseconds);

// Renames a file or folder only while nothing stands at the new name (false with errno EEXIST
// when something does); names of any bytes.
bool renameWithoutReplacing(const QString& from, const QString& to);
bool renameWithoutReplacing(const QByteArray& from, const QByteArray& to);

// The local file a file: URL names, with the bytes its percent escapes stand for (QUrl's own
// toLocalFile reads them as UTF-8 and replaces the others). Empty for other URLs.
QString fileNameFromUrl(const QUrl& url);

// The file: URL of a local file, its escapes standing for the name's very bytes (QUrl's own
// fromLocalFile encodes the text as UTF-8, which changes a name that is not). A relative path is
// taken from the current folder.
QUrl fileUrlFromName(const QString& path);

// A URL as another program must get it: a file: URL that QUrl::fromLocalFile made of a name that
// is not UTF-8 would name other bytes, so it is made again with fileUrlFromName. Any other URL
// comes back as it is.
QUrl portableFileUrl(const QUrl& url);

// The program's arguments with their bytes kept (QCoreApplication::arguments() replaces them).
QStringList argumentsWithBytes(int argc, char** argv);

} // namespace kpv
