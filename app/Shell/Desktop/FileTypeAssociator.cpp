#include "Shell/Desktop/FileTypeAssociator.h"

#include "Model/MainConfig.h"
#include "desktop/DesktopServices.h"
#include "foundation/Bundle.h"

#include <QMap>

namespace {
constexpr const char* kPrevAssociatedAppsKey = "prevAssociatedApps";

QString unknownReason()
{
    return kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_FailedForUnknownReason"));
}
}

FileTypeAssociator::FileTypeAssociator(kpv::DesktopServices& desktop, MainConfig& config, QString ourAppId,
                                       QStringList allowedFileTypes)
    : m_desktop(desktop), m_config(config), m_ourAppId(std::move(ourAppId)), m_allowedFileTypes(std::move(allowedFileTypes))
{
}

QString FileTypeAssociator::desktopIdForBundleIdentifier(const QString& bundleIdentifier)
{
    return bundleIdentifier + QStringLiteral(".desktop");
}

bool FileTypeAssociator::fileTypeAssociated(const QString& type, const QString& app, QString* curAssociatedAppBundleID) const
{
    const QString handler = m_desktop.defaultApplicationForType(kpv::DesktopServices::mimeTypeForContentType(type));
    if (curAssociatedAppBundleID)
        *curAssociatedAppBundleID = handler;
    const QString wanted = app.isEmpty() ? m_ourAppId : app;
    return !handler.isEmpty() && handler.compare(wanted, Qt::CaseInsensitive) == 0;
}

QString FileTypeAssociator::preferredOtherAppBundleIDForType(const QString& type, const QVariantMap& prevAssociatedApps,
                                                             const QString& curAppBundleID) const
{
    if (type.isEmpty())
        return {};
    const QString mime = kpv::DesktopServices::mimeTypeForContentType(type);
    // Candidates keyed by the lower-cased id; the desktop has no handler list for "any image",
    // so the type's own handlers are all there is.
    QMap<QString, QString> candidates;
    for (const QString& id : m_desktop.allApplicationsForType(mime))
        candidates.insert(id.toLower(), id);
    candidates.remove(curAppBundleID.toLower());

    const QString prev = prevAssociatedApps.value(type).toString();
    if (!prev.isEmpty() && candidates.contains(prev.toLower()))
        return prev;
    for (const QString& id : m_desktop.viewerApplicationsForType(mime))
        if (id.compare(curAppBundleID, Qt::CaseInsensitive) != 0)
            return id;
    return candidates.isEmpty() ? QString() : candidates.firstKey();
}

bool FileTypeAssociator::hasPrevAssociatedApps() const
{
    return m_config.configInfoValueForKey(QString::fromLatin1(kPrevAssociatedAppsKey)).isValid();
}

bool FileTypeAssociator::makeFileAssoicateForFileTypes(const QStringList& wanted)
{
    QString failure;
    const auto failed = [this](const QString& reason) {
        if (m_failureHandler)
            m_failureHandler(reason);
        return false;
    };
    bool takesAny = false;
    for (const QString& type : wanted)
        takesAny = takesAny || m_allowedFileTypes.contains(type);
    if (takesAny && m_prepareOurApplication && !m_prepareOurApplication(&failure))
        return failed(failure);
    const bool havePrev = hasPrevAssociatedApps();
    const QVariantMap prev = m_config.prevAssociatedApps();
    QVariantMap next = prev;
    for (const QString& type : m_allowedFileTypes) {
        const QString mime = kpv::DesktopServices::mimeTypeForContentType(type);
        if (mime.isEmpty())
            continue; // the desktop cannot name this type
        QString handler;
        const bool ours = fileTypeAssociated(type, m_ourAppId, &handler);
        if (wanted.contains(type)) {
            if (havePrev && ours)
                continue;
            if (!handler.isEmpty() && handler.compare(m_ourAppId, Qt::CaseInsensitive) != 0)
                next.insert(type, handler);
            QString error;
            if (!m_desktop.setDefaultApplicationForType(mime, m_ourAppId, &error) && failure.isEmpty())
                failure = error.isEmpty() ? unknownReason() : error;
        } else if (ours) {
            const QString other = preferredOtherAppBundleIDForType(type, prev, m_ourAppId);
            QString error;
            if (!other.isEmpty() && !m_desktop.setDefaultApplicationForType(mime, other, &error) && failure.isEmpty())
                failure = error.isEmpty() ? unknownReason() : error;
        }
    }
    // The table must exist after every run, even empty: its presence tells the preferences that
    // associations were set here before. The settings' setter ignores an empty table.
    if (next.isEmpty()) {
        if (!havePrev)
            m_config.setConfigInfoValue(QVariantMap(), QString::fromLatin1(kPrevAssociatedAppsKey));
    } else {
        m_config.setPrevAssociatedApps(next);
    }
    return failure.isEmpty() || failed(failure);
}
