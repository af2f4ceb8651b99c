#include "Shell/Desktop/OpenWithMenu.h"

#include "foundation/FileNames.h"

#include <QFileInfo>

#include <algorithm>

OpenWithMenu::OpenWithMenu(kpv::DesktopServices& desktop, QString ourAppId)
    : m_desktop(desktop), m_ourAppId(std::move(ourAppId))
{
}

void OpenWithMenu::buildMenuItemsByFile(const QString& path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (!m_curFile.isEmpty()) {
        const QString prevExt = QFileInfo(m_curFile).suffix().toLower();
        if (!ext.isEmpty() && !prevExt.isEmpty() && ext == prevExt) {
            m_curFile = path;
            return;
        }
    }
    m_items = acquireMenuItemsByFile(path);
    m_curFile = path;
}

QList<OpenWithMenu::ItemPtr> OpenWithMenu::acquireMenuItemsByFile(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QString ext = QFileInfo(path).suffix().toLower();
    const auto cached = m_fileExtAndMenuItemsDict.constFind(ext);
    if (cached != m_fileExtAndMenuItemsDict.constEnd())
        return *cached;

    QList<kpv::DesktopApplication> apps;
    QList<kpv::DesktopApplication> candidates = m_desktop.applicationsForFile(path);
    // Any image application may open a photo, whether or not it names this type.
    for (const kpv::DesktopApplication& app : m_desktop.allApplications()) {
        if (std::any_of(app.mimeTypes.begin(), app.mimeTypes.end(),
                        [](const QString& t) { return t.startsWith(QLatin1String("image/"), Qt::CaseInsensitive); }))
            candidates << app;
    }
    for (const kpv::DesktopApplication& app : std::as_const(candidates)) {
        const bool seen = std::any_of(apps.begin(), apps.end(), [&](const kpv::DesktopApplication& a) {
            return a.id.compare(app.id, Qt::CaseInsensitive) == 0;
        });
        if (!seen && !app.id.isEmpty())
            apps << app;
    }
    std::stable_sort(apps.begin(), apps.end(), [](const auto& a, const auto& b) {
        return a.fileName.compare(b.fileName, Qt::CaseInsensitive) < 0;
    });
    QList<ItemPtr> list;
    for (const kpv::DesktopApplication& app : apps) {
        if (app.id.compare(m_ourAppId, Qt::CaseInsensitive) == 0)
            continue;
        const QString key = app.id.toLower();
        ItemPtr item = m_appAndMenuItemDict.value(key);
        if (!item) {
            auto made = std::make_shared<Item>();
            made->title = app.version.isEmpty() ? app.fileName : QStringLiteral("%1 (%2)").arg(app.fileName, app.version);
            made->iconName = app.iconName;
            made->applicationId = app.id;
            item = made;
            m_appAndMenuItemDict.insert(key, item);
        }
        list << item;
    }
    m_fileExtAndMenuItemsDict.insert(ext, list);
    return list;
}

bool OpenWithMenu::openWithAppMenuItemClicked(const Item& item)
{
    return handOver(item.applicationId);
}

bool OpenWithMenu::handOver(const QString& applicationId)
{
    m_lastFailure = Failure::NotStarted;
    if (applicationId.isEmpty() || m_curFile.isEmpty())
        return false;
    if (!kpv::pathStatus(m_curFile).isRegularFile) {
        m_lastFailure = Failure::FileGone;
        return false;
    }
    if (!m_desktop.openFileWithApplication(m_curFile, applicationId))
        return false;
    m_lastFailure = Failure::None;
    return true;
}

QList<kpv::DesktopApplication> OpenWithMenu::otherApplications()
{
    QList<kpv::DesktopApplication> apps;
    for (const kpv::DesktopApplication& app : m_desktop.allApplications()) {
        if (!app.id.isEmpty() && app.id.compare(m_ourAppId, Qt::CaseInsensitive) != 0)
            apps << app;
    }
    std::stable_sort(apps.begin(), apps.end(), [](const auto& a, const auto& b) {
        return a.fileName.compare(b.fileName, Qt::CaseInsensitive) < 0;
    });
    return apps;
}

bool OpenWithMenu::openWithApplication(const QString& applicationId)
{
    return handOver(applicationId);
}
