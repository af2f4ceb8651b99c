#pragma once
// What the application asks of the desktop: which application opens a MIME type by default,
// which applications can open it at all, making one the default, listing and launching the
// applications for a file, and composing a mail message with attachments. The application never
// talks to the desktop any other way, so tests swap in FakeDesktopServices.
//
// Applications are named by their desktop-file id ("kestrane-viewer.desktop"); ids compare without
// regard to case. Programs are always started with an argument vector, never through a shell.
// Callers in the application receive the instance from whoever builds them (tests give a fake);
// only the program's start-up asks for shared().

#include "imageio/ContentTypes.h"

#include <QFileInfo>
#include <QList>
#include <QMimeDatabase>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace kpv {

struct DesktopApplication {
    QString id;          // desktop-file id
    QString fileName;    // what the user knows it by (display name)
    QString version;     // empty when the desktop does not say
    QString iconName;    // themed icon name or icon file path; empty when none
    QStringList mimeTypes; // the types it declares it opens (filled by allApplications())
};

class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // The application that opens files of the type by default; empty when none.
    virtual QString defaultApplicationForType(const QString& mimeType) = 0;
    // Every application that declares the type (recommended first, then the fallbacks).
    virtual QStringList allApplicationsForType(const QString& mimeType) = 0;
    // The applications that declare the type itself (not a parent type), in the desktop's order.
    virtual QStringList viewerApplicationsForType(const QString& mimeType) = 0;
    // Makes the application the type's default; false when the desktop refused, with the reason in
    // *error when given.
    virtual bool setDefaultApplicationForType(const QString& mimeType, const QString& applicationId,
                                              QString* error = nullptr) = 0;
    // The applications that can open the file, each once.
    virtual QList<DesktopApplication> applicationsForFile(const QString& path) = 0;
    // Every application the user can start on files, each once, with the types it declares.
    virtual QList<DesktopApplication> allApplications() { return {}; }
    // Starts the application on the file; false when it could not be started. One that then ends
    // with a failure at once is told by kDesktopHelperFailedNotification (purpose "openWith").
    virtual bool openFileWithApplication(const QString& path, const QString& applicationId) = 0;
    // Opens a new message in the user's mail program; false when no mail program could be started.
    virtual bool composeMail(const QString& subject, const QString& body, const QStringList& attachments) = 0;
    // Whether the last composeMail failed before any mail program was asked: an attachment could
    // not be copied under a name the mail helper takes (see mailSafeAttachments).
    virtual bool mailAttachmentsNotCopied() const { return false; }

    // The process-wide instance: the GIO one unless a test installed another.
    static DesktopServices& shared();
    // Installs `services` as the shared instance (nullptr restores the GIO one); not owned.
    static void setShared(DesktopServices* services);

    // The MIME type of a content-type identifier ("public.jpeg" -> "image/jpeg"); empty when
    // the identifier names no known type. The desktop knows file types by MIME type; the
    // program's own content types carry their extensions, which the shared MIME database maps.
    static QString mimeTypeForContentType(const QString& contentType)
    {
        static const QMimeDatabase db;
        for (const QString& ext : ContentTypes::extensionsForType(contentType)) {
            const QMimeType mime = db.mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
            if (mime.isValid() && !mime.isDefault())
                return mime.name();
        }
        return {};
    }
    // Every image MIME type the desktop gives the type's file extensions: a type such as camera
    // raw or JPEG 2000 is a dozen MIME types to the desktop, each with its own default program.
    // An extension that the desktop reads as something else first (".jpx" as a project file of
    // a programming tool) adds nothing.
    static QStringList mimeTypesForContentType(const QString& contentType)
    {
        static const QMimeDatabase db;
        QStringList out;
        for (const QString& ext : ContentTypes::extensionsForType(contentType)) {
            const QMimeType mime = db.mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
            if (mime.isValid() && mime.name().startsWith(QStringLiteral("image/")) && !out.contains(mime.name()))
                out.append(mime.name());
        }
        return out;
    }

    // Paths the mail helper can hand on unharmed. The helper writes each attachment into the mail
    // program's command line without quoting, so a path holding anything but letters, digits and
    // ". _ - + /" could add recipients or a body: such a file is copied into a private
    // temporary folder under a name without those characters. Empty when a copy failed; then
    // nothing made for the copies is left. The folder of the copies, if any were made, goes to
    // *folderMade.
    static QStringList mailSafeAttachments(const QStringList& attachments, QString* folderMade = nullptr);

    // The argument vector of the mail helper for a message (program first). The helper takes
    // one option per attachment and has no "--"; absolute paths keep a file named like an option
    // from being read as one.
    static QStringList mailCommandLine(const QString& subject, const QString& body, const QStringList& attachments)
    {
        QStringList args{QStringLiteral("xdg-email"), QStringLiteral("--utf8")};
        if (!subject.isEmpty())
            args << QStringLiteral("--subject") << subject;
        if (!body.isEmpty())
            args << QStringLiteral("--body") << body;
        for (const QString& path : attachments)
            args << QStringLiteral("--attach") << QFileInfo(path).absoluteFilePath();
        return args;
    }
};

// The desktop through GIO and the xdg tools.
class GioDesktopServices : public DesktopServices {
public:
    QString defaultApplicationForType(const QString& mimeType) override;
    QStringList allApplicationsForType(const QString& mimeType) override;
    QStringList viewerApplicationsForType(const QString& mimeType) override;
    bool setDefaultApplicationForType(const QString& mimeType, const QString& applicationId,
                                      QString* error = nullptr) override;
    QList<DesktopApplication> applicationsForFile(const QString& path) override;
    QList<DesktopApplication> allApplications() override;
    bool openFileWithApplication(const QString& path, const QString& applicationId) override;
    bool composeMail(const QString& subject, const QString& body, const QStringList& attachments) override;
    bool mailAttachmentsNotCopied() const override { return m_attachmentsNotCopied; }

private:
    bool m_attachmentsNotCopied = false;
};

// Posted on the default notification centre, on the main thread, when a helper still running at the
// end of its grace period fails after all within a minute of its start: it took that long to find
// nothing to hand the work to, or what it found refused. Also when an application that Open With
// started ends with a failure within moments of its start. userInfo: "purpose" (one of the names
// below) and "subject" (what was handed over: the address, the folder, the mail's subject; for
// Open With the application's name as the desktop shows it).
inline const QString kDesktopHelperFailedNotification = QStringLiteral("KpvDesktopHelperFailedNotification");
inline const QString kDesktopHelperForWebPage = QStringLiteral("webPage");
inline const QString kDesktopHelperForMail = QStringLiteral("mail");
inline const QString kDesktopHelperForFileManager = QStringLiteral("fileManager");
inline const QString kDesktopHelperForOpenWith = QStringLiteral("openWith");

// Runs one of the desktop's xdg helpers (program first, then its arguments; no shell). False when it
// could not be started or reported a failure within a grace period of two seconds; a later failure
// is posted as above when a purpose is given.
bool runDesktopHelper(QStringList args, const QString& purpose = {}, const QString& subject = {});

// Opens an http or https address in the user's browser through the desktop's opener; false when
// the opener could not be started or found nothing to open the address with.
bool openWebAddress(const QUrl& url);

}  // namespace kpv
