// The main window controller's smaller duties: the one-time rate prompt, the recommendation
// mail, the feedback command and hiding the resting pointer in full screen.

#include "Shell/MainWindow/MainWndController.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Shell/Desktop/OpenWithMenu.h"

#include "Kit/LMAlertSheet.h"
#include "Model/LMBlockRepeatTimer.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/MainConfig.h"
#include "Slideshow/SlideshowNotifications.h"
#include "appkit/Cursor.h"
#include "desktop/DesktopServices.h"
#include "foundation/Bundle.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QWidget>
#include <QWindow>

namespace {

// Launches of one version before the user is asked to rate.
constexpr qint64 kLaunchesBeforeRate = 10;
// The pointer hides after resting this long.
constexpr double kCursorRestSeconds = 3.0;
constexpr double kCursorCheckInterval = 1.0;

// Notes when the pointer last moved anywhere in the application, on the main run loop's clock.
class PointerRestWatcher final : public QObject {
public:
    PointerRestWatcher() : m_lastMove(kpv::RunLoop::main().clock().now())
    {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->installEventFilter(this);
    }
    double secondsSinceMove() const { return kpv::RunLoop::main().clock().now() - m_lastMove; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type t = event->type();
        if (t == QEvent::MouseMove || t == QEvent::HoverMove || t == QEvent::TabletMove)
            m_lastMove = kpv::RunLoop::main().clock().now();
        return QObject::eventFilter(watched, event);
    }

private:
    double m_lastMove;
};

} // namespace

// ---- Rating ----

bool MainWndController::countLaunchForRate(MainConfig& config, const QString& version)
{
    if (config.userHasDoneRate())
        return false;
    if (config.runVersionBeforeRate() == version) {
        const qint64 count = config.runCountBeforeRate() + 1;
        config.setRunCountBeforeRate(count);
        if (count >= kLaunchesBeforeRate) {
            config.setUserHasDoneRate(true);
            return true;
        }
        return false;
    }
    // A new version (or none stored yet) starts counting afresh.
    config.setRunVersionBeforeRate(version);
    config.setRunCountBeforeRate(1);
    return false;
}

void MainWndController::delayCheckRateForUs()
{
    LMPerformSelectorWrapper().performWithBlock(
        [this, alive = std::weak_ptr<bool>(m_lifetime)] {
            if (alive.expired())
                return;
            MainConfig* config = m_delegate.mainConfig();
            if (!config || !countLaunchForRate(*config, m_delegate.appVersion()))
                return;
            // The settings are written with the others when the window closes or the program ends.
            offerRate();
        },
        0);
}

void MainWndController::offerRate()
{
    // Never over another dialog (see showFailureAlert): asked once that one is answered.
    if (QWidget* dialog = qApp ? QApplication::activeModalWidget() : nullptr) {
        whenDialogGoes(dialog, [this, alive = std::weak_ptr<bool>(m_lifetime)] {
            if (!alive.expired())
                offerRate();
        });
        return;
    }
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    // The sheet keeps its own copy of the end block, so the wrapper need not outlive this call.
    LMAlertSheet().beginAlertSheet(
        bundle.localizedString(QStringLiteral("IDS_RateMsgContent")),
        bundle.localizedString(QStringLiteral("IDS_RateMsgGo")),
        bundle.localizedString(QStringLiteral("IDS_RateMsgNoThanks")), QString(), getCurWindow(),
        [this, alive = std::weak_ptr<bool>(m_lifetime)](std::int32_t returnCode) {
            if (returnCode == 1 && !alive.expired())
                doRate();
        },
        QString());
}

QUrl MainWndController::storePageUrl() { return QUrl(QStringLiteral("https://kestrane.app/store/review")); }
QUrl MainWndController::storeWebPageUrl() { return QUrl(QStringLiteral("https://kestrane.app/store")); }
QUrl MainWndController::productWebPageUrl() { return QUrl(QStringLiteral("https://kestrane.app/")); }
QUrl MainWndController::helpPageUrl() { return QUrl(QStringLiteral("https://kestrane.app/help")); }

void MainWndController::doRate()
{
    if (!canDoAction(48))
        return;
    openWebPage(storePageUrl());
}

void MainWndController::showFailureAlert(const QString& message)
{
    if (message == m_shownFailure || m_waitingFailures.contains(message))
        return;
    // One dialog at a time: shown over another, the window system hands the keyboard to neither
    // once one of them goes, and the window behind them is deaf.
    if (QWidget* dialog = qApp ? QApplication::activeModalWidget() : nullptr) {
        m_waitingFailures.append(message);
        if (!m_failureWaitsForDialog) {
            m_failureWaitsForDialog = true;
            whenDialogGoes(dialog, [this, alive = std::weak_ptr<bool>(m_lifetime)] {
                if (alive.expired())
                    return;
                m_failureWaitsForDialog = false;
                showNextWaitingFailure();
            });
        }
        return;
    }
    m_shownFailure = message;
    // The alert frees itself once dismissed.
    auto* alert = new LMAlertSheet;
    alert->beginAlertSheet(message, kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_OK")), QString(),
                           QString(), getCurWindow(),
                           [this, alert, alive = std::weak_ptr<bool>(m_lifetime)](std::int32_t) {
                               // The alert is still unwinding: freed on the next turn, when the
                               // next waiting message may show.
                               LMPerformSelectorWrapper().performWithBlock(
                                   [this, alert, alive] {
                                       delete alert;
                                       if (alive.expired())
                                           return;
                                       m_shownFailure.clear();
                                       showNextWaitingFailure();
                                   },
                                   0);
                           },
                           QString());
}

void MainWndController::showNextWaitingFailure()
{
    if (m_failureWaitsForDialog || m_waitingFailures.isEmpty() || !m_shownFailure.isEmpty())
        return;
    showFailureAlert(m_waitingFailures.takeFirst());
}

namespace {

// Runs its block once on the turn after `dialog` is put away or deleted; a dialog put away several
// times (hidden, then closed) runs it once.
class WhenDialogGoes final : public QObject {
public:
    WhenDialogGoes(QWidget* dialog, std::function<void()> block) : m_block(std::move(block))
    {
        dialog->installEventFilter(this);
        connect(dialog, &QObject::destroyed, this, [this] { fire(); });
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Hide)
            fire();
        return false;
    }

private:
    void fire()
    {
        if (!m_block)
            return;
        kpv::RunLoop::current().performAfterDelay(0, std::exchange(m_block, {}));
        deleteLater();
    }

    std::function<void()> m_block;
};

// Runs its block once, when the window it watches is first on screen, then goes.
class WhenOnScreen final : public QObject {
public:
    WhenOnScreen(QWindow* window, std::function<void()> block) : QObject(window), m_block(std::move(block))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = static_cast<QWindow*>(watched);
        if ((event->type() == QEvent::Expose && window->isExposed()) || event->type() == QEvent::Hide) {
            window->removeEventFilter(this);
            deleteLater();
            // After the window's own handling of the event: it may still be taking the keyboard.
            LMPerformSelectorWrapper().performWithBlock(std::move(m_block), 0);
        }
        return false;
    }

private:
    std::function<void()> m_block;
};

} // namespace

void MainWndController::whenDialogGoes(QWidget* dialog, std::function<void()> block)
{
    new WhenDialogGoes(dialog, std::move(block));
}

void MainWndController::showFailureAlertSoon(const QString& message)
{
    LMPerformSelectorWrapper().performWithBlock(
        [this, message, alive = std::weak_ptr<bool>(m_lifetime)] {
            if (alive.expired())
                return;
            // A window on its way to the screen still has its own activation to come, which would
            // take the keyboard from an alert already up and leave both deaf: the alert waits.
            kpv::Window* window = getCurWindow();
            QWindow* handle = window && window->widget() ? window->widget()->windowHandle() : nullptr;
            if (handle && window->isVisible() && !handle->isExposed()) {
                new WhenOnScreen(handle, [this, message, alive] {
                    if (!alive.expired())
                        showFailureAlert(message);
                });
                return;
            }
            showFailureAlert(message);
        },
        0);
}

bool MainWndController::openWebPage(const QUrl& url)
{
    const bool opened = m_openUrlHandler ? m_openUrlHandler(url) : kpv::openWebAddress(url);
    if (!opened)
        showFailureAlert(kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_WebPageFailed_Fmt"),
                                                                             url.toString()));
    return opened;
}

void MainWndController::tellLateDesktopFailure(const QVariantMap& userInfo)
{
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    const QString purpose = userInfo.value(QStringLiteral("purpose")).toString();
    // The helper was started: whether it then found no program or the program it started gave
    // up, the words say only that nothing took the work.
    if (purpose == kpv::kDesktopHelperForWebPage)
        showFailureAlert(bundle.localizedStringWithFormat(QStringLiteral("IDS_WebPageFailedLate_Fmt"),
                                                          userInfo.value(QStringLiteral("subject")).toString()));
    else if (purpose == kpv::kDesktopHelperForMail)
        // A mail of photos has no subject; its photo may have had the user's turn written into it.
        showFailureAlert(bundle.localizedString(
            userInfo.value(QStringLiteral("subject")).toString().isEmpty() && secondaryWindows().lastMailSharedSavedTurn()
                ? QStringLiteral("IDS_MailFailedLateTurnSaved")
                : QStringLiteral("IDS_MailFailedLate")));
    else if (purpose == kpv::kDesktopHelperForFileManager)
        showFailureAlert(bundle.localizedString(QStringLiteral("IDS_FileManagerFailedLate")));
    else if (purpose == kpv::kDesktopHelperForOpenWith)
        showFailureAlert(bundle.localizedStringWithFormat(m_openWithTurnSaved ? QStringLiteral("IDS_OpenWithFailedLateTurnSaved_Fmt")
                                                                              : QStringLiteral("IDS_OpenWithFailedLate_Fmt"),
                                                          userInfo.value(QStringLiteral("subject")).toString()));
}

// ---- Recommendation and feedback ----

void MainWndController::recommendMenuItemClicked()
{
    if (!canDoAction(49))
        return;
    const QString name = m_delegate.appName();
    QString shortName = name;
    shortName.remove(QStringLiteral("Kestrane "));
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    const QString subject = bundle.localizedStringWithFormat(QStringLiteral("IDS_RecommendSubject_Fmt"), name);
    const QString content = bundle.localizedStringWithFormat(
        QStringLiteral("IDS_RecommendContent_Fmt"), name, shortName, shortName, storeWebPageUrl().toString(),
        productWebPageUrl().toString());
    if (!LMSendEmail(kpv::DesktopServices::shared()).sendEmailWithSubject(subject, content))
        showFailureAlert(bundle.localizedString(QStringLiteral("IDS_FeedbackNoMail")));
}

void MainWndController::doFeedback()
{
    if (canDoAction(47))
        secondaryWindows().showFeedbackWindow();
}

MainWndSecondaryWindows& MainWndController::secondaryWindows()
{
    if (!m_secondaryWindows)
        m_secondaryWindows = std::make_shared<MainWndSecondaryWindows>(
            m_delegate, *this, kpv::DesktopServices::shared(), kpv::NotificationCenter::defaultCenter());
    return *m_secondaryWindows;
}

// ---- The resting pointer ----

void MainWndController::setPointerStateSources(std::function<double()> secondsSinceMouseMoved,
                                               std::function<bool()> mouseButtonsPressed)
{
    m_secondsSinceMouseMoved = std::move(secondsSinceMouseMoved);
    m_mouseButtonsPressed = std::move(mouseButtonsPressed);
}

void MainWndController::startCursorAutoHide()
{
    if (!m_cursorAutoHideTimer)
        m_cursorAutoHideTimer = std::make_shared<LMBlockRepeatTimer>();
    if (!m_secondsSinceMouseMoved) {
        if (!m_pointerWatcher)
            m_pointerWatcher = std::make_shared<PointerRestWatcher>();
        auto* watcher = static_cast<PointerRestWatcher*>(m_pointerWatcher.get());
        m_secondsSinceMouseMoved = [watcher] { return watcher->secondsSinceMove(); };
    }
    if (!m_mouseButtonsPressed)
        m_mouseButtonsPressed = [] { return QGuiApplication::mouseButtons() != Qt::NoButton; };
    m_cursorAutoHideTimer->start(kCursorCheckInterval, {}, [this](bool*) { autoHideCursorIfIdle(); }, {});
}

void MainWndController::stopCursorAutoHide()
{
    if (m_cursorAutoHideTimer)
        m_cursorAutoHideTimer->stop();
    kpv::Cursor::setHiddenUntilMouseMoves(false);
}

void MainWndController::autoHideCursorIfIdle()
{
    if (m_secondsSinceMouseMoved && m_secondsSinceMouseMoved() < kCursorRestSeconds)
        return;
    if (m_mouseButtonsPressed && m_mouseButtonsPressed())
        return;
    if (!(m_showMode & (MainShowModeView | MainShowModeSlideshow)))
        return;
    // Notification information is read-only to observers, so the answer travels in a shared map.
    auto reply = std::make_shared<QVariantMap>();
    QVariantMap info;
    info.insert(QLatin1String(QueryAutoHideCursorReplyKey), QVariant::fromValue<SlideshowQueryReply>(reply));
    auto& center = kpv::NotificationCenter::defaultCenter();
    center.postNotification(QLatin1String(QueryAutoHideCursorNotification), this, info);
    if (reply->value(QLatin1String(DisableAutoHideCursorKey)).toBool())
        return;
    kpv::Cursor::setHiddenUntilMouseMoves(true);
    center.postNotification(QStringLiteral("didAutoHideCursor"), this);
}
