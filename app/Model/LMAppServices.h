#pragma once

// The application-wide services that the photo model and its neighbours need from the application
// shell: the settings object and the supported file extensions and types. The application
// delegate implements this interface and installs itself at start-up, so that the model does not
// depend on the shell (and tests can install a fake).

#include <QStringList>
#include <QUrl>

class MainConfig;

class LMAppServices {
public:
    virtual ~LMAppServices() = default;

    // The application's one settings object, kept for the whole run.
    virtual MainConfig *mainConfig() = 0;
    // Supported file extensions, lower case, without the point.
    virtual QStringList allowedFileExtensions() const = 0;
    // Supported content type identifiers, for the open panel.
    virtual QStringList allowedFileTypes() const = 0;

    // True when the URL's path extension, lower-cased, is one of `extensions` (exact comparison,
    // so the list must hold lower-case extensions). A path without extension gives false.
    static bool checkSupportForFilePathUrl(const QUrl &url, const QStringList &extensions);

    // The installed services, or nullptr before the application delegate has installed itself.
    static LMAppServices *shared();
    // Installs (or, with nullptr, removes) the services. Called on the main thread at start-up and
    // shut-down only.
    static void setShared(LMAppServices *services);
};
