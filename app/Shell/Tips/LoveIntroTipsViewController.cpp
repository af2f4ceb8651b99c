#include "Shell/Tips/LoveIntroTipsViewController.h"

#include "Kit/LMShadowTextFieldCell.h"
#include "Kit/LMButton.h"
#include "Kit/LMImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Model/MainConfig.h"
#include "Shell/MainWindow/MainWndController.h"
#include "appkit/Control.h"
#include "appkit/Image.h"
#include "foundation/Bundle.h"

#include <algorithm>
#include <cmath>

namespace {
// The layout the tip is drawn for; the pointer lines keep their place against the bottom
// toolbar as the overlay follows the window's size.
constexpr double kDesignWidth = 800;
constexpr double kDesignHeight = 600;
const kpv::Color kTipTextColor(230.0 / 255.0, 230.0 / 255.0, 230.0 / 255.0, 1.0);
} // namespace

LoveIntroTipsViewController::LoveIntroTipsViewController()
{
    loadView();
    awakeFromNib();
}

LoveIntroTipsViewController::~LoveIntroTipsViewController()
{
    // The presence deletes an overlay still in the parent: it points back here as delegate.
}

bool LoveIntroTipsViewController::takeFirstShowingOnModeChange(long oldMode, long newMode, MainConfig& config)
{
    if (newMode != MainShowModeView)
        return false;
    if (oldMode != MainShowModeNone && oldMode != MainShowModeEmpty && oldMode != MainShowModeMiniWithImage &&
        oldMode != MainShowModeMiniEmpty)
        return false;
    if (config.loveTipsAlreadyShowed())
        return false;
    config.setLoveTipsAlreadyShowed(true);
    // Written at once: a crash or a kill while the tip is up must not bring it back.
    config.save(true);
    return true;
}

void LoveIntroTipsViewController::loadView()
{
    auto root = std::make_unique<LMOverlapIntroTipsView>(kpv::Rect(0, 0, kDesignWidth, kDesignHeight));
    m_overlapIntroTipsView = root.get();
    m_overlapIntroTipsView->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_overlapIntroTipsView->setDelegate(this);

    // The add-to-favourites button sits in the middle of the toolbar, the favourites button at
    // its right end.
    m_imageViewLeftLine = new LMImageView(kpv::Rect(kDesignWidth / 2 - 20, 60, 40, 120));
    m_imageViewLeftLine->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxXMargin | kpv::ViewMaxYMargin);
    m_imageViewLeftLine->setImage(kpv::Image::imageNamed(QStringLiteral("tip_line_left")), 0);
    m_imageViewRightLine = new LMImageView(kpv::Rect(kDesignWidth - 70, 60, 40, 160));
    m_imageViewRightLine->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxYMargin);
    m_imageViewRightLine->setImage(kpv::Image::imageNamed(QStringLiteral("tip_line_right")), 0);
    m_txtTipsLeft = new LMShadowTextFieldCell(kpv::Rect(0, 0, 10, 10));
    m_txtTipsLeft->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxXMargin | kpv::ViewMaxYMargin);
    m_txtTipsRight = new LMShadowTextFieldCell(kpv::Rect(0, 0, 10, 10));
    m_txtTipsRight->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxYMargin);
    m_btnClose = new LMButton(kpv::Rect(0, 0, 24, 24));
    m_btnClose->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxYMargin);
    m_btnClose->setAction([this](kpv::View*) { closeButtonClicked(); });

    m_overlapIntroTipsView->addSubview(m_imageViewLeftLine);
    m_overlapIntroTipsView->addSubview(m_imageViewRightLine);
    m_overlapIntroTipsView->addSubview(m_txtTipsLeft);
    m_overlapIntroTipsView->addSubview(m_txtTipsRight);
    m_overlapIntroTipsView->addSubview(m_btnClose);
    m_presence.adopt(std::move(root));
}

void LoveIntroTipsViewController::awakeFromNib()
{
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    m_overlapIntroTipsView->setBackgroundImageRep(std::make_shared<LMNineSliceImageRep>(
        QStringLiteral("bg_tip_mask"), kpv::Point{1, 1}, kpv::Point{178, 178}));
    m_txtTipsLeft->setTextColor(kTipTextColor);
    m_txtTipsRight->setTextColor(kTipTextColor);

    const QString favorites = bundle.localizedString(QStringLiteral("IDS_MyFavorites"));
    m_txtTipsLeft->setStringValue(bundle.localizedStringWithFormat(QStringLiteral("IDS_LoveTips1_Fmt"), favorites));
    m_txtTipsRight->setStringValue(bundle.localizedStringWithFormat(QStringLiteral("IDS_LoveTips2_Fmt"), favorites));
    m_btnClose->setImageName(QStringLiteral("e_tip_close"));
    m_btnClose->setToolTip(bundle.localizedString(QStringLiteral("IDS_Close")));
    placeTexts();
}

void LoveIntroTipsViewController::pointAt(const kpv::Rect& loveButton, const kpv::Rect& favoritesButton)
{
    const kpv::Rect bounds = m_overlapIntroTipsView->bounds();
    auto above = [&bounds](LMImageView* line, const kpv::Rect& target) {
        kpv::Rect f = line->frame();
        f.origin.x = std::clamp(std::round(target.midX() - f.width() / 2), bounds.minX(), bounds.maxX() - f.width());
        f.origin.y = std::round(target.maxY() + 2);
        line->setFrame(f);
    };
    if (!loveButton.isEmpty())
        above(m_imageViewLeftLine, loveButton);
    if (!favoritesButton.isEmpty())
        above(m_imageViewRightLine, favoritesButton);
    placeTexts();
}

void LoveIntroTipsViewController::placeTexts()
{
    const kpv::Rect bounds = m_overlapIntroTipsView->bounds();
    {
        const kpv::Size s = m_txtTipsLeft->attributedStringValueSize();
        const double w = std::round(2 * s.width / 3);
        const kpv::Rect line = m_imageViewLeftLine->frame();
        LMOverlapIntroTipsView::placeTipText(
            m_txtTipsLeft,
            kpv::Rect(line.x() - std::round(2 * w / 3), line.y() + line.height() - 5, w, std::round(2 * s.height)),
            bounds);
    }

    {
        const kpv::Size s = m_txtTipsRight->attributedStringValueSize();
        const double w = std::round(2 * s.width / 5);
        const kpv::Rect line = m_imageViewRightLine->frame();
        LMOverlapIntroTipsView::placeTipText(
            m_txtTipsRight,
            kpv::Rect(bounds.x() + bounds.width() - w - 10, line.y() + line.height() + 5, w, std::round(3 * s.height)),
            bounds);
    }

    const kpv::Rect right = m_txtTipsRight->frame();
    m_btnClose->setFrameOrigin(
        kpv::Point{bounds.x() + bounds.width() - m_btnClose->bounds().width() - 10, right.y() + right.height() + 5});
}

void LoveIntroTipsViewController::closeButtonClicked()
{
    if (m_delegate)
        m_delegate->closeClickedOnLoveIntroTipsViewController(this);
}

void LoveIntroTipsViewController::mouseDownOnOverlapIntroTipsView(LMOverlapIntroTipsView*)
{
    closeButtonClicked();
}
