#include "Shell/MainWindow/MainWndSecondaryWindows.h"

#include "Kit/LMAlertSheet.h"
#include "Kit/LMCustomWindow.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/MainConfig.h"
#include "Share/FeedbackWindowController.h"
#include "Model/ShareWebsiteType.h"
#include "Share/ShareWindowController.h"
#include "Shell/Dialogs/AboutWindowController.h"
#include "Shell/Desktop/AppDesktopEntry.h"
#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/Desktop/FileTypeAssociator.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Dialogs/OptionWindowController.h"
#include "Shell/Dialogs/ShareAccountWindowController.h"
#include "desktop/DesktopServices.h"
#include "foundation/Bundle.h"

#include <algorithm>
#include <QCoreApplication>

MainWndSecondaryWindows::MainWndSecondaryWindows(AppDelegate& delegate, MainWndController& windowController,
                                                 kpv::DesktopServices& desktop, kpv::NotificationCenter& center)
    : m_delegate(delegate), m_windowController(windowController), m_desktop(desktop), m_center(center)
{
}

MainWndSecondaryWindows::~MainWndSecondaryWindows() = default;

void MainWndSecondaryWindows::showAboutWindow()
{
    if (!m_about)
        m_about = std::make_unique<AboutWindowController>(m_delegate.appName(), m_delegate.appVersion(),
                                                          kpv::Bundle::mainBundle()
                                                              .objectForInfoDictionaryKey(QStringLiteral("NSHumanReadableCopyright"))
                                                              .toString());
    // A page that cannot be opened is told on the main window. The About window goes, and the main
    // window comes forward: some window managers keep a window of its kind above every other, and
    // it would hide the alert.
    m_about->setWebsiteHandler([this, controller = &m_windowController] {
        if (controller->openWebPage(MainWndController::helpPageUrl()))
            return;
        if (m_about)
            m_about->closeButtonClicked();
        if (controller->window())
            controller->window()->makeKeyAndOrderFront();
    });
    m_about->showWindow();
}

void MainWndSecondaryWindows::showOptionWindowWithTabType(long tab, bool associateAllFileTypes)
{
    MainConfig* config = m_delegate.mainConfig();
    FileTypeAssociator* associator = fileTypeAssociator();
    if (!config || !associator)
        return;
    if (!m_option) {
        // No failure handler: settings that cannot be written are told by the settings themselves,
        // once for every change that fails the same way, Preferences' OK among them.
        m_option = std::make_unique<OptionWindowController>(*config, *associator, m_center);
    }
    m_option->showWithTabType(tab, associateAllFileTypes);
}

FileTypeAssociator* MainWndSecondaryWindows::fileTypeAssociator()
{
    MainConfig* config = m_delegate.mainConfig();
    if (!config)
        return nullptr;
    if (!m_associator) {
        const QString ourId =
            FileTypeAssociator::desktopIdForBundleIdentifier(kpv::Bundle::mainBundle().bundleIdentifier());
        m_associator = std::make_unique<FileTypeAssociator>(m_desktop, *config, ourId, m_delegate.allowedFileTypes());
        // The defaults name applications by their desktop entry: install ours before the first one.
        m_associator->setPrepareOurApplication([this, ourId](QString* error) {
            QStringList mimeTypes;
            for (const QString& type : m_delegate.allowedFileTypes())
                mimeTypes << kpv::DesktopServices::mimeTypesForContentType(type);
            if (AppDesktopEntry::ensureInstalled(ourId, m_delegate.appName(), QCoreApplication::applicationFilePath(),
                                                 mimeTypes, error))
                return true;
            qWarning("the desktop entry %s was not installed: %s", qUtf8Printable(ourId), qUtf8Printable(*error));
            return false;
        });
        // From the first-run tip as from the preferences: a default the desktop did not take is
        // told, never left to look as though it were set.
        m_associator->setFailureHandler([this](const QString& reason) {
            m_windowController.showFailureAlert(kpv::Bundle::mainBundle().localizedStringWithFormat(
                QStringLiteral("IDS_FailedSetDefaultViewer"), m_delegate.appName(), reason));
        });
    }
    return m_associator.get();
}

void MainWndSecondaryWindows::showAccountWindow()
{
    MainConfig* config = m_delegate.mainConfig();
    if (!config)
        return;
    // A new sheet for every opening; the previous one has ended.
    m_account = std::make_unique<ShareAccountWindowController>(*config, LMEventMonitorCenter::eventMonitorCenter());
    m_account->beginSheetOnParentWindow(m_windowController.getCurWindow());
}

void MainWndSecondaryWindows::showFeedbackWindow()
{
    if (!m_feedback)
        m_feedback = std::make_unique<FeedbackWindowController>(m_desktop, m_delegate.appName(), m_delegate.appVersion());
    m_feedback->beginSheetOnParentWindow(m_windowController.getCurWindow());
}

ShareWindowController* MainWndSecondaryWindows::shareWindowController()
{
    MainConfig* config = m_delegate.mainConfig();
    if (!m_share && config)
        m_share = std::make_unique<ShareWindowController>(*config);
    return m_share.get();
}

bool MainWndSecondaryWindows::shareFiles(const QList<ShareFileInfoPtr>& files, long shareType)
{
    if (files.isEmpty())
        return false;
    if (shareType == ShareWebsiteTypeEmail) {
        QStringList leftOut;
        const bool turnSaved = std::any_of(files.begin(), files.end(), [](const ShareFileInfoPtr& f) { return f && f->turnSaved(); });
        m_lastMailSavedTurn = turnSaved;
        const bool started = ShareWindowController::shareFilesByEmail(files, m_desktop, &leftOut);
        // Started without some of the photos (gone or unreadable): the message lacks them, so
        // say which; nothing visible happens otherwise: say why no message appeared.
        if (started && leftOut.isEmpty())
            return true;
        auto* alert = new LMAlertSheet;
        const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
        // None of them could be read: no mail program was even asked.
        const bool noneReadable = !started && leftOut.size() == files.size();
        const QString text = started        ? ShareWindowController::mailLeftOutMessage(leftOut)
                             : noneReadable ? bundle.localizedString(QStringLiteral("IDS_ShareMailNothingReadable")) +
                                                  QLatin1Char('\n') + ShareWindowController::mailLeftOutNames(leftOut)
                             // A copy under a plain name could not be written: no mail program
                             // was asked, and it is the disk, not the mail program, to see to.
                             // The photo was rewritten with the user's turn: not unchanged.
                             : turnSaved ? bundle.localizedString(QString::fromLatin1(
                                               m_desktop.mailAttachmentsNotCopied() ? "IDS_ShareMailNotCopiedTurnSaved"
                                                                                    : "IDS_ShareMailFailedTurnSaved"))
                             : bundle.localizedString(QString::fromLatin1(
                                   m_desktop.mailAttachmentsNotCopied()
                                       ? (files.size() - leftOut.size() == 1 ? "IDS_ShareMailNotCopiedOne"
                                                                              : "IDS_ShareMailNotCopied")
                                       : (files.size() - leftOut.size() == 1 ? "IDS_ShareMailFailedOne"
                                                                              : "IDS_ShareMailFailed")));
        alert->beginAlertSheet(text,
                               bundle.localizedString(QStringLiteral("IDS_OK")), QString(), QString(),
                               m_windowController.getCurWindow(),
                               [alert](std::int32_t) {
                                   // The alert is still unwinding: freed on the next turn.
                                   LMPerformSelectorWrapper().performWithBlock([alert] { delete alert; }, 0);
                               },
                               QString());
        return started;
    }
    if (shareType < ShareWebsiteTypeFacebook || shareType > ShareWebsiteTypeTumblr)
        return false;
    ShareWindowController* sheet = shareWindowController();
    if (!sheet)
        return false;
    sheet->beginShareFiles(files, shareType, m_windowController.getCurWindow());
    return true;
}
