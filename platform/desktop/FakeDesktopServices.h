#pragma once
// An in-memory desktop for tests: handler tables per MIME type, applications per file and a log
// of what was launched or mailed.

#include "desktop/DesktopServices.h"

#include <QHash>
#include <QMap>

namespace kpv {

class FakeDesktopServices : public DesktopServices {
public:
    struct Mail {
        QString subject;
        QString body;
        QStringList attachments;
    };

    QHash<QString, QString> defaults;          // MIME type -> application id
    QHash<QString, QStringList> allHandlers;   // MIME type -> ids, every role
    QHash<QString, QStringList> viewers;       // MIME type -> ids, viewer role
    QHash<QString, QList<DesktopApplication>> fileApplications; // lower-case extension -> apps
    QList<QPair<QString, QString>> setDefaultCalls;             // (MIME type, id)
    QList<QPair<QString, QString>> launches;                    // (path, id)
    QList<Mail> mails;
    QList<DesktopApplication> installed; // every application, for allApplications()
    int applicationQueries = 0;
    bool mailAvailable = true;
    bool launchWorks = true; // false: no application can be started
    QString refuseDefaultsWith; // when set, every default is refused with this reason

    QString defaultApplicationForType(const QString& mimeType) override { return defaults.value(mimeType); }
    QStringList allApplicationsForType(const QString& mimeType) override { return allHandlers.value(mimeType); }
    QStringList viewerApplicationsForType(const QString& mimeType) override { return viewers.value(mimeType); }
    bool setDefaultApplicationForType(const QString& mimeType, const QString& applicationId,
                                      QString* error = nullptr) override
    {
        if (!refuseDefaultsWith.isEmpty()) {
            if (error)
                *error = refuseDefaultsWith;
            return false;
        }
        setDefaultCalls.append({mimeType, applicationId});
        defaults.insert(mimeType, applicationId);
        return true;
    }
    QList<DesktopApplication> applicationsForFile(const QString& path) override
    {
        ++applicationQueries;
        const int dot = path.lastIndexOf(QLatin1Char('.'));
        return fileApplications.value(dot < 0 ? QString() : path.mid(dot + 1).toLower());
    }
    QList<DesktopApplication> allApplications() override { return installed; }
    bool openFileWithApplication(const QString& path, const QString& applicationId) override
    {
        if (!launchWorks)
            return false;
        launches.append({path, applicationId});
        return true;
    }
    bool composeMail(const QString& subject, const QString& body, const QStringList& attachments) override
    {
        if (!mailAvailable)
            return false;
        mails.append({subject, body, attachments});
        return true;
    }
};

}  // namespace kpv
