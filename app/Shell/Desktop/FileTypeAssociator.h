#pragma once
// Making this program the default viewer of the image types it opens, type by type, and giving a
// type back to another application when the user no longer wants it. The previous handler of
// every type we take over is remembered in the settings ("prevAssociatedApps"), so that releasing
// the type can hand it back. Types are content-type identifiers ("public.jpeg"); the desktop is
// asked about their MIME types. Applications are desktop-file ids, compared without regard to case.
// Main thread only.

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class MainConfig;
namespace kpv {
class DesktopServices;
}

class FileTypeAssociator {
public:
    // `ourAppId` is this program's desktop-file id; `allowedFileTypes` the supported types in order.
    FileTypeAssociator(kpv::DesktopServices& desktop, MainConfig& config, QString ourAppId, QStringList allowedFileTypes);

    // The desktop-file id of the application with the given bundle identifier.
    static QString desktopIdForBundleIdentifier(const QString& bundleIdentifier);

    const QString& ourAppId() const { return m_ourAppId; }
    const QStringList& allowedFileTypes() const { return m_allowedFileTypes; }
    kpv::DesktopServices& desktop() const { return m_desktop; }

    // Whether `app` (ours when empty) opens `type` by default, in every MIME type of it; the
    // present handler of its first MIME type goes to `curAssociatedAppBundleID` when given.
    bool fileTypeAssociated(const QString& type, const QString& app, QString* curAssociatedAppBundleID) const;
    // The application to give `type` back to, or an empty string.
    QString preferredOtherAppBundleIDForType(const QString& type, const QVariantMap& prevAssociatedApps,
                                             const QString& curAppBundleID) const;
    // Makes this program the default of exactly the wanted supported types; the types
    // `leftAlone` (and not wanted) keep whatever defaults they have. False when a type could not
    // be set; the failure handler has then been told why.
    bool makeFileAssoicateForFileTypes(const QStringList& wanted, const QStringList& leftAlone = {});

    // The settings hold a previous-handler table (written by the first association run).
    bool hasPrevAssociatedApps() const;

    // Runs before this program is made the default of any type (the program's desktop entry is
    // installed there); a false answer, with its reason, leaves every association as it is.
    void setPrepareOurApplication(std::function<bool(QString* error)> prepare)
    {
        m_prepareOurApplication = std::move(prepare);
    }
    // Told once per run that could not make every change, with the first reason.
    void setFailureHandler(std::function<void(const QString& reason)> handler) { m_failureHandler = std::move(handler); }

private:
    // The application to give `mime` back to: `prev` while it still opens it, else a viewer.
    QString preferredOtherApp(const QString& mime, const QString& prev, const QString& curAppBundleID) const;

    kpv::DesktopServices& m_desktop;
    MainConfig& m_config;
    QString m_ourAppId;
    QStringList m_allowedFileTypes;
    std::function<bool(QString* error)> m_prepareOurApplication;
    std::function<void(const QString& reason)> m_failureHandler;
};
