#pragma once
// The application bundle: its information dictionary, its string table and its images, kept as
// plain files in resource folders.
//
// Resource folders, searched in this order: the folders listed in the environment variable
// KPV_RESOURCES_DIR (separated by ':'); then, for an installed program, share/kestrane-viewer
// beside the program's own folder (bin/), else the build tree's generated resources and the
// source tree's resources/ folder. Within a folder every sub-folder is searched too.
//   Info.json            the information dictionary (CFBundleName, CFBundleIdentifier,
//                        CFBundleShortVersionString, CFBundleVersion, NSHumanReadableCopyright,
//                        CFBundleDocumentTypes with LSItemContentTypes and AMImageType per type)
//   strings/<lang>.strings  the string table: lines of "KEY" = "text"; with C comments;
//                        <lang> from the system locale ("de_DE", then "de"), else "en".
//   images               any .png/.jpg/.jpeg/.gif/.bmp/.tif/.tiff/.svg file, found by its
//                        lower-cased name without extension.

#include "foundation/StringFormat.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <mutex>

namespace kpv {

class Bundle {
public:
    static Bundle& mainBundle();

    // A bundle over the given resource folders only (tests).
    explicit Bundle(QStringList resourceDirectories, QString language = {});

    QStringList resourceDirectories() const;

    // The installed resource folder of the program at `executable` (<prefix>/bin/name gives
    // <prefix>/share/kestrane-viewer), or empty when nothing is installed there.
    static QString installedResourceDirectory(const QString& executable);

    QVariantMap infoDictionary() const;
    QVariant objectForInfoDictionaryKey(const QString& key) const;
    QString bundleIdentifier() const;

    // The text for `key` ("IDS_..."); `value` (empty by default) when the table lacks the key.
    QString localizedString(const QString& key, const QString& value = {}) const;

    // The text for `key` used as a printf-style format (see StringFormat.h).
    template <typename... Args>
    QString localizedStringWithFormat(const QString& key, const Args&... args) const
    {
        return stringWithFormat(localizedString(key), args...);
    }

    // The path of the image file named `name` (any case; with or without extension, which is
    // ignored), or an empty string when there is none. Returns a path, not an image, so that this
    // layer needs no Qt GUI; platform/appkit loads and caches the pixels.
    QString imageNamed(const QString& name) const;

    // The path of a resource file given by its path relative to a resource folder
    // ("SSThemes/SlideShowTheme.xml"), or empty.
    QString pathForResource(const QString& relativePath) const;

    // Forgets what was read, so that files added since are found.
    void reload();

private:
    void loadLocked() const;
    QStringList dirs_;
    QString language_;
    mutable std::mutex mutex_;
    mutable bool loaded_ = false;
    mutable QVariantMap info_;
    mutable QHash<QString, QString> strings_;
    mutable QHash<QString, QString> images_; // lower-cased base name -> path
};

// Parses a string table ("KEY" = "text"; lines, /* */ and // comments, escapes \" \\ \n \t \r
// and \Uxxxx). Malformed entries are skipped; returns false with `error` set when any was.
bool parseStringsTable(const QByteArray& bytes, QHash<QString, QString>* out, QString* error = nullptr);

} // namespace kpv
