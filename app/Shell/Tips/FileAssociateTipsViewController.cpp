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

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kHeight = 44;
// The sentence starts right of the close button; the two buttons stand at the right edge.
constexpr double kTextLeft = 30;
constexpr double kButtonsWidth = 184;
constexpr double kConfigureWidth = 96;
constexpr double kOkWidth = 72;
constexpr double kButtonHeight = 28;
constexpr double kMargin = 8;
// Narrower than this beside the buttons, the sentence takes the whole width and the buttons a row
// of their own under it.
constexpr double kNarrowestTextBesideButtons = 150;

const char* const kDidChangeMainShowMode = "didChangeMainShowMode";
constexpr long kEmptyMode = 2;
constexpr long kViewMode = 4;

// The height the sentence takes when it wraps at `width`.
double wrappedTextHeight(const kpv::TextField& info, double width)
{
    const QFontMetricsF metrics(info.font().toQFont());
    const QRectF r = metrics.boundingRect(QRectF(0, 0, std::max(1.0, width), 1e6), Qt::TextWordWrap, info.stringValue());
    return std::max(std::ceil(r.height()), std::ceil(metrics.height()));
}

// The strip follows the width of the window it stands in: the strip's own layout is done again
// for every width instead of the usual stretching, since the sentence may need more lines.
class FileAssociateTipsView : public LMNineSliceImageView {
public:
    using LMNineSliceImageView::LMNineSliceImageView;
    std::function<void()> onSuperviewResized;
    void resizeWithOldSuperviewSize(kpv::Size) override
    {
        if (onSuperviewResized)
            onSuperviewResized();
    }
};

} // namespace

namespace {
// The tips alive on the main thread, for the views they stand over.
std::vector<const FileAssociateTipsViewController*>& liveTips()
{
    static std::vector<const FileAssociateTipsViewController*> tips;
    return tips;
}
} // namespace

FileAssociateTipsViewController::FileAssociateTipsViewController(kpv::View* parentView, MainConfig& config,
                                                                 const QString& appName, Actions actions)
    : m_config(config), m_actions(std::move(actions)), m_parentView(parentView)
{
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    m_info = new kpv::TextField(kpv::Rect(kTextLeft, 12, 400, 20));
    m_info->setStringValue(bundle.localizedStringWithFormat(QStringLiteral("IDS_FileAssociateTips"), appName));
    m_info->setTextColor(kpv::Color::controlTextColor());
    // Where the window is too narrow for the sentence on one line, it wraps: never cut.
    m_info->setAlignment(Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap);

    auto* view = new FileAssociateTipsView(kpv::Rect(0, 0, 760, kHeight),
                                           std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_tip_default"),
                                                                                 kpv::Point{5, 5}, kpv::Point{5, 5}));
    view->onSuperviewResized = [this] { layout(); };
    m_view = view;
    m_close = new LMButton(kpv::Rect(8, std::floor((kHeight - 16) / 2), 16, 16));
    m_close->setImageName(QStringLiteral("close"));
    m_close->setAction([this](kpv::View*) { closeButtonClicked(); });
    m_view->addSubview(m_close);
    m_view->addSubview(m_info);

    m_configure = new LMNormalCustomButton(kpv::Rect(0, 8, kConfigureWidth, kButtonHeight));
    m_configure->setTitle(bundle.localizedString(QStringLiteral("IDS_Configure")));
    m_configure->setAction([this](kpv::View*) { configButtonClicked(); });
    m_view->addSubview(m_configure);

    m_ok = new LMNormalCustomButton(kpv::Rect(0, 8, kOkWidth, kButtonHeight));
    m_ok->setBkgrdImageName(QStringLiteral("BT_DlgShare"), kpv::Point{10, 10}, kpv::Point{10, 10});
    m_ok->setTitle(bundle.localizedString(QStringLiteral("IDS_OK")));
    m_ok->setTitleColor(kpv::Color::whiteColor());
    m_ok->setAction([this](kpv::View*) { okButtonClicked(); });
    m_view->addSubview(m_ok);
    m_view->setHidden(true);
    if (m_parentView)
        m_parentView->addSubview(m_view);
    // A strip across the top of the window, under the title bar, as wide as the window.
    layout();

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
    liveTips().push_back(this);
}

double FileAssociateTipsViewController::shownHeightIn(const kpv::View* parentView)
{
    for (const FileAssociateTipsViewController* tips : liveTips())
        if (tips->m_parentView == parentView && tips->isShown())
            return tips->m_view->frame().height();
    return 0;
}

FileAssociateTipsViewController::~FileAssociateTipsViewController()
{
    std::erase(liveTips(), this);
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    // The strip's buttons and its layout call back here: it goes with its controller.
    if (m_view) {
        m_view->removeFromSuperview();
        delete m_view;
    }
}

void FileAssociateTipsViewController::show(bool flag)
{
    if (!m_view)
        return;
    if (flag && m_config.defaultViewerConfigured())
        flag = false;
    m_view->setHidden(!flag);
}

void FileAssociateTipsViewController::layout()
{
    const double width = m_parentView ? m_parentView->bounds().width() : m_view->frame().width();
    const double besideButtons = width - kTextLeft - kButtonsWidth - 6;
    const double oneLine = std::ceil(m_info->attributedStringValueSize().width) + 4;
    const bool buttonsBeside = oneLine <= besideButtons || besideButtons >= kNarrowestTextBesideButtons;
    const double textWidth = std::max(1.0, buttonsBeside ? besideButtons : width - kTextLeft - kMargin);
    const double textHeight = wrappedTextHeight(*m_info, textWidth);
    // Unflipped: y grows upwards, so the rows are laid from the bottom of the strip.
    double height;
    if (buttonsBeside) {
        height = std::max(kHeight, textHeight + 2 * 12);
        m_info->setFrame(kpv::Rect(kTextLeft, std::floor((height - textHeight) / 2), textWidth, textHeight));
        const double y = std::floor((height - kButtonHeight) / 2);
        m_configure->setFrame(kpv::Rect(width - kButtonsWidth, y, kConfigureWidth, kButtonHeight));
        m_ok->setFrame(kpv::Rect(width - kOkWidth - 10, y, kOkWidth, kButtonHeight));
    } else {
        height = 12 + textHeight + kMargin + kButtonHeight + kMargin;
        m_info->setFrame(kpv::Rect(kTextLeft, height - 12 - textHeight, textWidth, textHeight));
        const double okX = std::max(kTextLeft + kConfigureWidth + 6, width - kOkWidth - 10);
        m_configure->setFrame(kpv::Rect(okX - 6 - kConfigureWidth, kMargin, kConfigureWidth, kButtonHeight));
        m_ok->setFrame(kpv::Rect(okX, kMargin, kOkWidth, kButtonHeight));
    }
    // The close button stays by the first line of the sentence.
    const double lineHeight = std::ceil(QFontMetricsF(m_info->font().toQFont()).height());
    m_close->setFrame(kpv::Rect(8, std::floor(m_info->frame().maxY() - lineHeight / 2 - 8), 16, 16));
    double y = 0;
    if (m_parentView) {
        const kpv::Rect b = m_parentView->bounds();
        y = m_parentView->isFlipped() ? b.y() : b.maxY() - height;
    }
    m_view->setFrame(kpv::Rect(m_parentView ? m_parentView->bounds().x() : 0, y, width, height));
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
