#pragma once
// The "open with" submenu of the context menu: the applications that can open the current file
// and every application that declares an image type, sorted by name, this program left out, one
// item per application shared by every extension. The lists are built once per extension for the
// menu's life. Any other application is offered by otherApplications(), for "Other Application...".

#include "desktop/DesktopServices.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class OpenWithMenu {
public:
    struct Item {
        QString title;
        QString iconName;
        QString applicationId; // the represented object
    };
    using ItemPtr = std::shared_ptr<const Item>;

    OpenWithMenu(kpv::DesktopServices& desktop, QString ourAppId);

    bool isSupported() const { return true; }
    void buildMenuItemsByFile(const QString& path);
    QList<ItemPtr> acquireMenuItemsByFile(const QString& path);
    // Why the last hand-over did not happen.
    enum class Failure { None, FileGone, NotStarted };

    // Opens the remembered file with the item's application; false when it could not start or
    // when the file is no longer there (another program moved or removed it while the menu was
    // up): the application is then not started on a name that leads nowhere.
    bool openWithAppMenuItemClicked(const Item& item);
    // Every application the user could start on a file, this program left out, sorted by name.
    QList<kpv::DesktopApplication> otherApplications();
    // Opens the remembered file with the application; false as above.
    bool openWithApplication(const QString& applicationId);
    Failure lastFailure() const { return m_lastFailure; }

    const QList<ItemPtr>& items() const { return m_items; }
    const QString& curFile() const { return m_curFile; }

private:
    bool handOver(const QString& applicationId);

    kpv::DesktopServices& m_desktop;
    QString m_ourAppId;
    QString m_curFile;
    Failure m_lastFailure = Failure::None;
    QList<ItemPtr> m_items;
    QHash<QString, QList<ItemPtr>> m_fileExtAndMenuItemsDict;
    QHash<QString, ItemPtr> m_appAndMenuItemDict;
};

// A new message in the user's mail program.
class LMSendEmail {
public:
    explicit LMSendEmail(kpv::DesktopServices& desktop) : m_desktop(desktop) {}
    bool sendEmailForFiles(const QStringList& paths) { return m_desktop.composeMail({}, {}, paths); }
    bool sendEmailWithSubject(const QString& subject, const QString& content)
    {
        return m_desktop.composeMail(subject, content, {});
    }

private:
    kpv::DesktopServices& m_desktop;
};
