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
    const QStringList mimes = kpv::DesktopServices::mimeTypesForContentType(type);
    const QString wanted = app.isEmpty() ? m_ourAppId : app;
    bool all = !mimes.isEmpty();
    for (const QString& mime : mimes) {
        const QString handler = m_desktop.defaultApplicationForType(mime);
        if (curAssociatedAppBundleID && mime == mimes.first())
            *curAssociatedAppBundleID = handler;
        all = all && !handler.isEmpty() && handler.compare(wanted, Qt::CaseInsensitive) == 0;
    }
    if (mimes.isEmpty() && curAssociatedAppBundleID)
        curAssociatedAppBundleID->clear();
    return all;
}

QString FileTypeAssociator::preferredOtherAppBundleIDForType(const QString& type, const QVariantMap& prevAssociatedApps,
                                                             const QString& curAppBundleID) const
{
    if (type.isEmpty())
        return {};
    return preferredOtherApp(kpv::DesktopServices::mimeTypeForContentType(type), prevAssociatedApps.value(type).toString(),
                             curAppBundleID);
}

QString FileTypeAssociator::preferredOtherApp(const QString& mime, const QString& prev, const QString& curAppBundleID) const
{
    // Candidates keyed by the lower-cased id; the desktop has no handler list for "any image",
    // so the type's own handlers are all there is.
    QMap<QString, QString> candidates;
    for (const QString& id : m_desktop.allApplicationsForType(mime))
        candidates.insert(id.toLower(), id);
    candidates.remove(curAppBundleID.toLower());

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

bool FileTypeAssociator::makeFileAssoicateForFileTypes(const QStringList& wanted, const QStringList& leftAlone)
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
        if (leftAlone.contains(type) && !wanted.contains(type))
            continue;
        // Every MIME type of the type: camera raw is one per maker, and a default left on one of
        // them would open those photos elsewhere.
        bool remembered = false;
        for (const QString& mime : kpv::DesktopServices::mimeTypesForContentType(type)) {
            const QString handler = m_desktop.defaultApplicationForType(mime);
            const bool ours = !handler.isEmpty() && handler.compare(m_ourAppId, Qt::CaseInsensitive) == 0;
            if (wanted.contains(type)) {
                if (havePrev && ours)
                    continue;
                if (!handler.isEmpty() && !ours && !remembered) {
                    next.insert(type, handler);
                    remembered = true;
                }
                QString error;
                if (!m_desktop.setDefaultApplicationForType(mime, m_ourAppId, &error) && failure.isEmpty())
                    failure = error.isEmpty() ? unknownReason() : error;
            } else if (ours) {
                const QString other = preferredOtherApp(mime, prev.value(type).toString(), m_ourAppId);
                QString error;
                if (!other.isEmpty() && !m_desktop.setDefaultApplicationForType(mime, other, &error) && failure.isEmpty())
                    failure = error.isEmpty() ? unknownReason() : error;
            }
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
