// GIO first: Qt's "signals" keyword macro would break its headers.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "desktop/DesktopServices.h"
#include "desktop/MimeAppsList.h"
#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"
#include "foundation/FileReplace.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "imageio/FileAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <sys/wait.h>

namespace kpv {

namespace {

struct GObjectDeleter {
    void operator()(gpointer p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectDeleter>;

// The program of a desktop entry id. The desktop's index of programs learns of an entry written a
// moment ago only a little later (the preferences write ours just before they make it the
// default), so an entry the index does not know yet is read from its file.
GDesktopAppInfo* desktopApp(const QString& applicationId)
{
    if (GDesktopAppInfo* info = g_desktop_app_info_new(applicationId.toUtf8().constData()))
        return info;
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, applicationId);
    return path.isEmpty() ? nullptr : g_desktop_app_info_new_from_filename(encodeFileName(path).constData());
}

struct AppListDeleter {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using AppList = std::unique_ptr<GList, AppListDeleter>;

QString appId(GAppInfo* info)
{
    const char* id = info ? g_app_info_get_id(info) : nullptr;
    return id ? QString::fromUtf8(id) : QString();
}

// An application as a menu shows it: its id, its display name (the id when it has none) and its icon.
DesktopApplication describedApplication(GAppInfo* info)
{
    DesktopApplication app;
    app.id = appId(info);
    const char* name = g_app_info_get_display_name(info);
    app.fileName = name ? QString::fromUtf8(name) : app.id;
    if (GIcon* icon = g_app_info_get_icon(info)) {
        gchar* iconText = g_icon_to_string(icon);
        app.iconName = iconText ? QString::fromUtf8(iconText) : QString();
        g_free(iconText);
    }
    return app;
}


QStringList ids(GList* list)
{
    QStringList out;
    for (GList* l = list; l; l = l->next) {
        const QString id = appId(G_APP_INFO(l->data));
        if (!id.isEmpty() && !out.contains(id, Qt::CaseInsensitive))
            out << id;
    }
    return out;
}

QString contentTypeOf(const QString& mimeType)
{
    gchar* type = g_content_type_from_mime_type(mimeType.toUtf8().constData());
    QString out = type ? QString::fromUtf8(type) : mimeType;
    g_free(type);
    return out;
}

}  // namespace

QString GioDesktopServices::defaultApplicationForType(const QString& mimeType)
{
    if (mimeType.isEmpty())
        return {};
    GPtr<GAppInfo> info(g_app_info_get_default_for_type(contentTypeOf(mimeType).toUtf8().constData(), FALSE));
    return appId(info.get());
}

QStringList GioDesktopServices::allApplicationsForType(const QString& mimeType)
{
    if (mimeType.isEmpty())
        return {};
    AppList list(g_app_info_get_all_for_type(contentTypeOf(mimeType).toUtf8().constData()));
    return ids(list.get());
}

QStringList GioDesktopServices::viewerApplicationsForType(const QString& mimeType)
{
    if (mimeType.isEmpty())
        return {};
    AppList list(g_app_info_get_recommended_for_type(contentTypeOf(mimeType).toUtf8().constData()));
    return ids(list.get());
}

bool GioDesktopServices::setDefaultApplicationForType(const QString& mimeType, const QString& applicationId,
                                                      QString* error)
{
    if (mimeType.isEmpty() || applicationId.isEmpty())
        return false;
    GPtr<GDesktopAppInfo> info(desktopApp(applicationId));
    if (!info) {
        if (error)
            *error = QStringLiteral("the desktop knows no program %1").arg(applicationId);
        return false;
    }
    // Edited in place: the user's comments, other entries and the file's mode stay.
    QString why;
    const QString type = contentTypeOf(mimeType);
    bool ok = MimeAppsList::setDefault(MimeAppsList::userFilePath(), type, applicationId, &why);
    // The user's list for this very desktop outranks that file: the default goes there too, or
    // the desktop would go on opening the type with the program named there.
    for (const QString& list : MimeAppsList::userDesktopFilePaths())
        ok = ok && MimeAppsList::setDefault(list, type, applicationId, &why, MimeAppsList::ListKind::Desktop);
    {
        // A photo kind is a dozen types, each set on its own: a list that cannot be written fails
        // them all the same way, and one line says so.
        static std::mutex mutex;
        static QString logged;
        std::lock_guard lock(mutex);
        if (ok)
            logged.clear();
        else if (why != logged)
            qWarning("the default program was not set: %s", qUtf8Printable(logged = why));
    }
    if (!ok && error)
        *error = why;
    return ok;
}

QList<DesktopApplication> GioDesktopServices::applicationsForFile(const QString& path)
{
    QList<DesktopApplication> out;
    GPtr<GFile> file(g_file_new_for_path(kpv::encodeFileName(path).constData()));
    GError* error = nullptr;
    GPtr<GFileInfo> fileInfo(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                               G_FILE_QUERY_INFO_NONE, nullptr, &error));
    if (error)
        g_error_free(error);
    const char* type = fileInfo ? g_file_info_get_content_type(fileInfo.get()) : nullptr;
    gchar* guessed = nullptr;
    if (!type) {
        guessed = g_content_type_guess(kpv::encodeFileName(path).constData(), nullptr, 0, nullptr);
        type = guessed;
    }
    if (!type)
        return out;
    AppList list(g_app_info_get_all_for_type(type));
    g_free(guessed);
    QSet<QString> seen;
    for (GList* l = list.get(); l; l = l->next) {
        GAppInfo* info = G_APP_INFO(l->data);
        DesktopApplication app = describedApplication(info);
        if (app.id.isEmpty() || seen.contains(app.id.toLower()))
            continue;
        seen.insert(app.id.toLower());
        out << app;
    }
    return out;
}

QList<DesktopApplication> GioDesktopServices::allApplications()
{
    QList<DesktopApplication> out;
    AppList list(g_app_info_get_all());
    QSet<QString> seen;
    for (GList* l = list.get(); l; l = l->next) {
        GAppInfo* info = G_APP_INFO(l->data);
        // Hidden entries and programs that take no files are no choice for opening a photo.
        if (!g_app_info_should_show(info) || !(g_app_info_supports_files(info) || g_app_info_supports_uris(info)))
            continue;
        DesktopApplication app = describedApplication(info);
        if (app.id.isEmpty() || seen.contains(app.id.toLower()))
            continue;
        seen.insert(app.id.toLower());
        if (const char** types = g_app_info_get_supported_types(info)) {
            for (const char** t = types; *t; ++t)
                app.mimeTypes << QString::fromUtf8(*t);
        }
        out << app;
    }
    return out;
}

namespace {

// An application that ends with a failure this soon after it was started on a photo (it could not
// open its window, could not read the file, lacked a library) did not take the photo. Later, its
// end is that of a program the user has been working with.
constexpr qint64 kStartFailureMs = 10000;

void rememberStartedProcess(GDesktopAppInfo*, GPid pid, gpointer data)
{
    *static_cast<GPid*>(data) = pid;
}

// Waits on a thread of its own for the started application to end (however long it runs, so that
// it leaves no zombie behind) and tells a failure at once on the main thread.
void watchStartedApplication(GPid pid, const QString& name)
{
    QElapsedTimer started;
    started.start();
    std::thread([pid, name, started] {
        int status = 0;
        pid_t ended = -1;
        do
            ended = ::waitpid(pid, &status, 0);
        while (ended < 0 && errno == EINTR);
        const bool failed = ended == pid && (!WIFEXITED(status) || WEXITSTATUS(status) != 0);
        if (!failed || started.elapsed() > kStartFailureMs)
            return;
        RunLoop::performOnMainThread(
            [name] {
                if (QCoreApplication::closingDown())
                    return;
                NotificationCenter::defaultCenter().postNotification(
                    kDesktopHelperFailedNotification, nullptr,
                    {{QStringLiteral("purpose"), kDesktopHelperForOpenWith}, {QStringLiteral("subject"), name}});
            },
            false);
    }).detach();
}

} // namespace

bool GioDesktopServices::openFileWithApplication(const QString& path, const QString& applicationId)
{
    GPtr<GDesktopAppInfo> info(desktopApp(applicationId));
    if (!info)
        return false;
    GPtr<GFile> file(g_file_new_for_path(kpv::encodeFileName(path).constData()));
    gchar* uri = g_file_get_uri(file.get());
    GList uris{uri, nullptr, nullptr};
    GError* error = nullptr;
    // The process is kept ours to reap, so that one that fails at once is told rather than taken
    // for a photo shown. An application the desktop starts over its message bus has no process
    // here, and is taken as started.
    GPid pid = 0;
    const gboolean ok = g_desktop_app_info_launch_uris_as_manager(
        info.get(), &uris, nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr, nullptr,
        rememberStartedProcess, &pid, &error);
    g_free(uri);
    if (error)
        g_error_free(error);
    if (ok && pid > 0)
        watchStartedApplication(pid, describedApplication(G_APP_INFO(info.get())).fileName);
    return ok;
}

// A helper that looks for a program to hand its work to exits at once with a failure when it finds
// none; with one, it exits as soon as the program has the work, or stays while a program it started
// in the foreground runs. So: a failure within the grace period is reported, a helper still running
// after it is left to run and freed when it ends. It may yet fail (a slow search, a program that
// gave up on starting): within a minute of its start that is still the answer to the user's
// command and is posted; later, it is the end of a program the user has been working with.
bool runDesktopHelper(QStringList args, const QString& purpose, const QString& subject)
{
    constexpr int kGraceMs = 2000;
    constexpr qint64 kLateFailureMs = 60000;
    QElapsedTimer started;
    started.start();
    auto* helper = new QProcess(QCoreApplication::instance());
    helper->setProgram(args.takeFirst());
    helper->setArguments(args);
    helper->setStandardInputFile(QProcess::nullDevice());
    helper->setStandardOutputFile(QProcess::nullDevice());
    helper->setStandardErrorFile(QProcess::nullDevice());
    helper->start();
    if (!helper->waitForStarted(kGraceMs)) {
        delete helper;
        return false;
    }
    if (helper->waitForFinished(kGraceMs)) {
        const bool ok = helper->exitStatus() == QProcess::NormalExit && helper->exitCode() == 0;
        delete helper;
        return ok;
    }
    QObject::connect(helper, &QProcess::finished, helper,
                     [helper, started, purpose, subject](int code, QProcess::ExitStatus status) {
                         helper->deleteLater();
                         // A helper ended by the program's own end is no failure of the user's command.
                         if (QCoreApplication::closingDown() || purpose.isEmpty() ||
                             (status == QProcess::NormalExit && code == 0) || started.elapsed() > kLateFailureMs)
                             return;
                         NotificationCenter::defaultCenter().postNotification(
                             kDesktopHelperFailedNotification, nullptr,
                             {{QStringLiteral("purpose"), purpose}, {QStringLiteral("subject"), subject}});
                     });
    return true;
}

namespace {

bool isMailSafe(const QString& path)
{
    for (QChar c : path) {
        const char16_t u = c.unicode();
        const bool plain = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                           u == u'.' || u == u'_' || u == u'-' || u == u'+' || u == u'/';
        if (!plain)
            return false;
    }
    return true;
}

} // namespace

QStringList DesktopServices::mailSafeAttachments(const QStringList& attachments, QString* folderMade)
{
    QStringList out;
    QString folder;
    // A copy that fails fails the message: nothing made for it stays behind.
    const auto fail = [&folder]() -> QStringList {
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
        return {};
    };
    for (const QString& given : attachments) {
        const QString path = QFileInfo(given).absoluteFilePath();
        if (isMailSafe(path)) {
            out << path;
            continue;
        }
        if (folder.isEmpty()) {
            const QString base = temporaryDirectory();
            if (base.isEmpty() || !isMailSafe(base))
                return {};
            QByteArray pattern = encodeFileName(base + QStringLiteral("/mail-XXXXXX"));
            if (!::mkdtemp(pattern.data()))
                return {};
            folder = decodeFileName(pattern);
        }
        // The name keeps its plain characters; each other one becomes "_".
        QString name = path.section(u'/', -1);
        for (QChar& c : name)
            if (!isMailSafe(QString(c)) || c == u'/')
                c = u'_';
        if (name.startsWith(u'.') || name.startsWith(u'-'))
            name.prepend(u'_');
        QString target = folder + u'/' + name;
        for (int n = 2; pathStatus(target).exists; ++n)
            target = folder + u'/' + QString::number(n) + u'_' + name;
        QByteArray bytes;
        if (!readRegularFile(path, qint64(1) << 31, &bytes) || !replaceFileContents(target, bytes, {}))
            return fail();
        out << target;
    }
    if (folderMade)
        *folderMade = folder;
    return out;
}

bool GioDesktopServices::composeMail(const QString& subject, const QString& body, const QStringList& attachments)
{
    QString copies;
    const QStringList safe = mailSafeAttachments(attachments, &copies);
    m_attachmentsNotCopied = safe.size() != attachments.size();
    if (m_attachmentsNotCopied)
        return false;
    if (!runDesktopHelper(mailCommandLine(subject, body, safe), kDesktopHelperForMail, subject)) {
        // No mail program took the message: its copies are of no use.
        if (!copies.isEmpty())
            QDir(copies).removeRecursively();
        return false;
    }
    // The copies stay: a mail program may read them only as the message is sent, after this run
    // ends. The next start clears the folder of a run that has ended.
    return true;
}

bool openWebAddress(const QUrl& url)
{
    // Only web addresses: anything else could name a local file or read as an option.
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        return false;
    return runDesktopHelper({QStringLiteral("xdg-open"), url.toString(QUrl::FullyEncoded)}, kDesktopHelperForWebPage,
                            url.toString());
}

}  // namespace kpv
