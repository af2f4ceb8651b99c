#include "Shell/Dialogs/ShareAccountWindowController.h"

#include "Kit/LMCustomWindow.h"
#include "Kit/LMButton.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMListView.h"
#include "Model/MainConfig.h"
#include "appkit/Control.h"
#include "foundation/Bundle.h"

namespace {
constexpr double kWindowWidth = 360;
constexpr double kWindowHeight = 300;
constexpr double kTitleHeight = 40;
constexpr unsigned short kEscKeyCode = 53;
} // namespace

ShareAccountWindowController::ShareAccountWindowController(MainConfig& config, LMEventMonitorCenter& monitors)
    : m_config(config), m_monitors(monitors)
{
    loadWindow();
    awakeFromNib();
}

ShareAccountWindowController::~ShareAccountWindowController()
{
    *m_alive = false;
    if (m_window && m_window->sheetRunning())
        m_window->endSheet();
    endSheetCleanup();
    // The rows go before the window whose view tree holds them.
    m_items.clear();
    m_retiredItems.clear();
}

void ShareAccountWindowController::loadWindow()
{
    // The frame's skin and a close button, which ends the sheet as Esc does.
    auto window = std::make_unique<LMNormalCustomWindow>(kpv::Rect(0, 0, kWindowWidth, kWindowHeight));
    if (window->btnClose())
        window->btnClose()->setAction([this](kpv::View*) {
            if (m_window->sheetRunning())
                m_window->endSheet();
        });
    m_window = std::move(window);
    kpv::View* content = m_window->contentView();
    m_txtShareAccountTitle =
        new kpv::TextField(kpv::Rect(20, kWindowHeight - kTitleHeight + 10, kWindowWidth - 40, 20));
    m_txtShareAccountTitle->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMinYMargin);
    m_txtShareAccountTitle->setAlignment(Qt::AlignCenter);
    m_collectionView = new LMListView(kpv::Rect(10, 10, kWindowWidth - 20, kWindowHeight - kTitleHeight - 10), kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_AccountNone")));
    m_collectionView->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    content->addSubview(m_txtShareAccountTitle);
    content->addSubview(m_collectionView);
}

void ShareAccountWindowController::awakeFromNib()
{
    m_txtShareAccountTitle->setStringValue(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_Account")));
}

void ShareAccountWindowController::beginSheetOnParentWindow(kpv::Window* parent)
{
    if (!parent)
        return;
    if (!m_eventMonitor) {
        std::weak_ptr<bool> alive = m_alive;
        m_eventMonitor = m_monitors.addLocalMonitorForEventsMatchingMask(
            kpv::AnyEventMask, [this, alive](const kpv::Event& e) { return !alive.expired() && *alive.lock() && handleMonitoredEvent(e); });
    }
    std::weak_ptr<bool> alive = m_alive;
    m_window->beginSheet(parent, [this, alive](std::int64_t) {
        if (auto a = alive.lock(); a && *a)
            endSheetCleanup();
    });
    loadAccountInfos();
}

void ShareAccountWindowController::endSheetCleanup()
{
    if (m_eventMonitor) {
        m_monitors.removeMonitor(m_eventMonitor);
        m_eventMonitor.reset();
    }
}

bool ShareAccountWindowController::handleMonitoredEvent(const kpv::Event& e)
{
    if (e.type() != kpv::KeyDown || e.keyCode() != kEscKeyCode || !m_window->isKeyWindow())
        return false;
    m_window->endSheet();
    return true;
}

void ShareAccountWindowController::loadAccountInfos()
{
    std::vector<ShareAccountItem> list;
    for (long type : kListedWebsiteTypes) {
        const std::optional<ShareAutoLoginInfo> info = m_config.shareAutoLoginInfoForWebsite(type);
        if (!info)
            continue;
        ShareAccountItem item;
        item.websiteType = type;
        const QVariant name = info->dictionary().value(ShareAutoLoginInfo::kUserNameKey);
        if (name.isValid() && !name.isNull())
            item.userName = name.toString();
        list.push_back(std::move(item));
    }

    // Every row is made anew. A sign-out reaches here from inside a row's own click, so the old
    // rows leave the list now and are freed only on the next rebuild.
    m_retiredItems.clear();
    for (auto& row : m_items) {
        row->view()->removeFromSuperview();
        m_retiredItems.push_back(std::move(row));
    }
    m_items.clear();
    m_accountItems = std::move(list);

    const double top = m_collectionView->bounds().height();
    double y = top;
    for (const ShareAccountItem& item : m_accountItems) {
        auto row = std::make_unique<ShareAccountItemViewController>(item, this);
        y -= ShareAccountItemViewController::kItemHeight;
        row->view()->setFrame(kpv::Rect(0, y, m_collectionView->bounds().width(), ShareAccountItemViewController::kItemHeight));
        row->view()->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMinYMargin);
        m_collectionView->addSubview(row->view());
        m_items.push_back(std::move(row));
    }
}

void ShareAccountWindowController::shareAccountItemViewController(ShareAccountItemViewController*, long signOutWebsite)
{
    // Removing the sign-in also writes the settings file, so the token leaves the disk at once.
    m_config.removeAutoLoginInfoByWebsiteType(signOutWebsite);
    loadAccountInfos();
}
