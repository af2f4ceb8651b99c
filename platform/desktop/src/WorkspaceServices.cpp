#include "desktop/WorkspaceServices.h"

#include "desktop/DesktopPicture.h"
#include "desktop/DesktopServices.h"
#include "desktop/Trash.h"
#include "foundation/FileNames.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

namespace kpv {

namespace {

// The background schema of desktops that keep one in GSettings; nullptr when it is not installed.
GSettings *backgroundSettings()
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    if (!source)
        return nullptr;
    GSettingsSchema *schema = g_settings_schema_source_lookup(source, "org.gnome.desktop.background", TRUE);
    if (!schema)
        return nullptr;
    g_settings_schema_unref(schema);
    return g_settings_new("org.gnome.desktop.background");
}

// GSettings takes a value even when nothing will keep it: with the in-memory backend (no dconf),
// or with dconf but no session bus to reach its writer. The desktop would then stay as it was
// while the viewer said it had changed.
bool settingsAreStored()
{
    GSettingsBackend *backend = g_settings_backend_get_default();
    const bool inMemory = backend && g_strcmp0(G_OBJECT_TYPE_NAME(backend), "GMemorySettingsBackend") == 0;
    if (backend)
        g_object_unref(backend);
    if (inMemory)
        return false;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return false;
    g_object_unref(bus);
    return true;
}

// A session that names no desktop may still run the one shell that draws its picture from these
// settings; without it (a bare X server, a window manager alone) a stored value shows nowhere.
bool backgroundShellIsRunning()
{
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return false;
    GVariant *reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner",
                                                  g_variant_new("(s)", "org.gnome.Shell"), G_VARIANT_TYPE("(b)"),
                                                  G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr);
    g_object_unref(bus);
    if (!reply)
        return false;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}

} // namespace

WorkspaceServices::RecycleResult SystemWorkspaceServices::recyclePaths(const QStringList &paths)
{
    RecycleResult result;
    QStringList reasons;
    for (const QString &path : paths) {
        const Trash::Result moved = Trash::moveToTrash(QFileInfo(path).absoluteFilePath());
        if (moved.ok) {
            result.moved.insert(path, moved.trashedPath);
        } else {
            result.errorCode = kRecycleFailedError;
            reasons << moved.error;
        }
    }
    result.failureReason = reasons.join(QLatin1Char('\n'));
    return result;
}

WorkspaceServices::RestoreResult SystemWorkspaceServices::restoreFromTrash(const QString &trashedPath)
{
    // By the name's bytes, as the trash took it: a name that is not UTF-8 must find its record.
    const Trash::RestoreResult restored = Trash::restore(encodeFileName(trashedPath));
    RestoreResult result;
    result.ok = restored.ok;
    result.occupied = restored.occupied;
    result.restoredPath = decodeFileName(restored.restoredPath);
    result.error = restored.error;
    return result;
}

bool SystemWorkspaceServices::selectFileInFileViewer(const QString &path)
{
    // Escaped from the name's bytes: the file manager must find the very file, whatever its name.
    const QString uri = QString::fromLatin1(fileUrlFromName(path).toEncoded());
    GError *error = nullptr;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus) {
        const QByteArray u = uri.toUtf8();
        const gchar *uris[] = {u.constData(), nullptr};
        GVariant *reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
            "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, &error);
        g_object_unref(bus);
        if (reply) {
            g_variant_unref(reply);
            return true;
        }
    }
    if (error)
        g_error_free(error);
    // No file-manager service: open the folder instead, through the desktop's opener, which says
    // when it found nothing to open it with.
    const QString folder = QFileInfo(path).absolutePath();
    // A folder name that is not UTF-8 cannot pass as text; its address can.
    return runDesktopHelper({QStringLiteral("xdg-open"), fileNameHasRawBytes(folder)
                                                             ? QString::fromLatin1(fileUrlFromName(folder).toEncoded())
                                                             : folder},
                            kDesktopHelperForFileManager, displayFileName(folder));
}

namespace {

// The desktop's own settings tool is used where it is installed; without it GNOME's settings are
// written in this process.
bool usesDesktopTools(DesktopFamily family)
{
    return family != DesktopFamily::Other &&
           (family != DesktopFamily::Gnome || !QStandardPaths::findExecutable(QStringLiteral("gsettings")).isEmpty());
}

} // namespace

QString SystemWorkspaceServices::desktopImagePath()
{
    const DesktopFamily family = desktopFamily(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    if (usesDesktopTools(family))
        return desktopPicture(family, runProgram);
    GSettings *settings = backgroundSettings();
    if (!settings)
        return {};
    gchar *uri = g_settings_get_string(settings, "picture-uri");
    const QString path = fileNameFromUrl(QUrl(QString::fromUtf8(uri)));
    g_free(uri);
    g_object_unref(settings);
    return path;
}

bool SystemWorkspaceServices::setDesktopImagePath(const QString &path)
{
    m_desktopImageFailure.clear();
    const QString current = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    const DesktopFamily family = desktopFamily(current);
    if (usesDesktopTools(family))
        return setDesktopPicture(family, path, runProgram, &m_desktopImageFailure);
    if (family == DesktopFamily::Other && !current.isEmpty()) {
        m_desktopImageFailure = unsupportedDesktopMessage(current);
        return false;
    }
    GSettings *settings = backgroundSettings();
    if (!settings) {
        m_desktopImageFailure = unsupportedDesktopMessage(current);
        return false;
    }
    if (!settingsAreStored()) {
        g_object_unref(settings);
        m_desktopImageFailure = QStringLiteral("the desktop's settings cannot be stored in this session");
        return false;
    }
    if (family == DesktopFamily::Other && !backgroundShellIsRunning()) {
        g_object_unref(settings);
        m_desktopImageFailure = QStringLiteral("no desktop that shows a picture is running in this session, so "
                                               "nothing would show it; the desktop was left as it is");
        return false;
    }
    const QByteArray uri = fileUrlFromName(path).toEncoded();
    bool ok = g_settings_set_string(settings, "picture-uri", uri.constData());
    // Dark-style desktops read a second key when it exists.
    GSettingsSchema *schema = nullptr;
    g_object_get(settings, "settings-schema", &schema, nullptr);
    if (schema) {
        if (g_settings_schema_has_key(schema, "picture-uri-dark"))
            ok = g_settings_set_string(settings, "picture-uri-dark", uri.constData()) && ok;
        g_settings_schema_unref(schema);
    }
    g_settings_sync();
    g_object_unref(settings);
    return ok;
}

} // namespace kpv
