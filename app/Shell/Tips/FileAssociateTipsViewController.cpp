#include "Shell/Tips/FileAssociateTipsViewController.h"

#include "Kit/LMButton.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Kit/LMNormalCustomButton.h"
#include "Model/MainConfig.h"
#include "Slideshow/SlideshowNotifications.h"
#include "appkit/Color.h"
#include "appkit/Control.h"
#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kWidth = 760;
constexpr double kHeight = 44;

const char* const kDidChangeMainShowMode = "didChangeMainShowMode";
constexpr long kEmptyMode = 2;
constexpr long kViewMode = 4;

} // namespace

FileAssociateTipsViewController::FileAssociateTipsViewController(kpv::View* parentView, MainConfig& config,
                                                                 const QString& appName, Actions actions)
    : m_config(config), m_actions(std::move(actions)), m_parentView(parentView)
{
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    // The sentence keeps its whole width: the tip grows where a name or a font makes it longer.
    auto* info = new kpv::TextField(kpv::Rect(30, 12, kWidth - 30 - 190, 20));
    info->setStringValue(bundle.localizedStringWithFormat(QStringLiteral("IDS_FileAssociateTips"), appName));
    info->setTextColor(kpv::Color::controlTextColor());
    const double textWidth = std::ceil(info->attributedStringValueSize().width) + 4;
    const double width = std::max(kWidth, 30 + textWidth + 190);
    info->setFrame(kpv::Rect(30, 12, width - 30 - 190, 20));
    info->setAutoresizingMask(kpv::ViewWidthSizable);

    m_view = new LMNineSliceImageView(kpv::Rect(0, 0, width, kHeight),
                                      std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_tip_default"), kpv::Point{5, 5},
                                                                            kpv::Point{5, 5}));
    auto* close = new LMButton(kpv::Rect(8, std::floor((kHeight - 16) / 2), 16, 16));
    close->setImageName(QStringLiteral("close"));
    close->setAction([this](kpv::View*) { closeButtonClicked(); });
    m_view->addSubview(close);
    m_view->addSubview(info);

    auto* configure = new LMNormalCustomButton(kpv::Rect(width - 184, 8, 96, 28));
    configure->setTitle(bundle.localizedString(QStringLiteral("IDS_Configure")));
    configure->setAction([this](kpv::View*) { configButtonClicked(); });
    configure->setAutoresizingMask(kpv::ViewMinXMargin);
    m_view->addSubview(configure);

    auto* ok = new LMNormalCustomButton(kpv::Rect(width - 82, 8, 72, 28));
    ok->setBkgrdImageName(QStringLiteral("BT_DlgShare"), kpv::Point{10, 10}, kpv::Point{10, 10});
    ok->setTitle(bundle.localizedString(QStringLiteral("IDS_OK")));
    ok->setTitleColor(kpv::Color::whiteColor());
    ok->setAction([this](kpv::View*) { okButtonClicked(); });
    ok->setAutoresizingMask(kpv::ViewMinXMargin);
    m_view->addSubview(ok);
    m_view->setHidden(true);
    if (m_parentView) {
        const kpv::Rect b = m_parentView->bounds();
        // A strip across the top of the window, under the title bar; never narrower than its
        // sentence and buttons.
        m_view->setFrame(kpv::Rect(b.x(), b.maxY() - kHeight, std::max(b.width(), width), kHeight));
        m_view->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMinYMargin);
        m_parentView->addSubview(m_view);
    }

    // The tip belongs over the viewer and the empty window: out of the way while a slideshow plays
    // or another mode (the grids, crop, the mini window) fills the window, back afterwards unless
    // answered.
    auto& center = kpv::NotificationCenter::defaultCenter();
    center.addObserver(this, QString::fromLatin1(kDidChangeMainShowMode), nullptr, [this](const kpv::Notification& n) {
        const long mode = long(n.userInfo.value(QStringLiteral("new")).toLongLong());
        show(mode == kViewMode || mode == kEmptyMode);
    });
    center.addObserver(this, QString::fromLatin1(DidSlideshowFirstFrameDisplayedNotification), nullptr,
                       [this](const kpv::Notification&) { show(false); });
}

FileAssociateTipsViewController::~FileAssociateTipsViewController()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_view && !m_view->superview())
        delete m_view;
}

void FileAssociateTipsViewController::show(bool flag)
{
    if (!m_view)
        return;
    if (flag && m_config.defaultViewerConfigured())
        flag = false;
    m_view->setHidden(!flag);
}

bool FileAssociateTipsViewController::isShown() const { return m_view && !m_view->isHidden(); }

void FileAssociateTipsViewController::hideWithUpdateConfig()
{
    m_config.setDefaultViewerConfigured(true);
    show(false);
}

void FileAssociateTipsViewController::closeButtonClicked() { hideWithUpdateConfig(); }

void FileAssociateTipsViewController::configButtonClicked()
{
    hideWithUpdateConfig();
    if (m_actions.configure)
        m_actions.configure();
}

void FileAssociateTipsViewController::okButtonClicked()
{
    hideWithUpdateConfig();
    if (m_actions.associateAll)
        m_actions.associateAll();
}
