#include "Shell/Tips/FavoriteIntroTipsViewController.h"

#include "Kit/LMShadowTextFieldCell.h"
#include "Kit/LMButton.h"
#include "Kit/LMImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "appkit/Control.h"
#include "appkit/Image.h"
#include "foundation/Bundle.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kDesignWidth = 800;
constexpr double kDesignHeight = 600;
const kpv::Color kTipTextColor(230.0 / 255.0, 230.0 / 255.0, 230.0 / 255.0, 1.0);
} // namespace

FavoriteIntroTipsViewController::FavoriteIntroTipsViewController()
{
    loadView();
    awakeFromNib();
}

FavoriteIntroTipsViewController::~FavoriteIntroTipsViewController()
{
    // The presence deletes an overlay still in the parent: it points back here as delegate.
}

void FavoriteIntroTipsViewController::loadView()
{
    auto root = std::make_unique<LMOverlapIntroTipsView>(kpv::Rect(0, 0, kDesignWidth, kDesignHeight));
    m_overlapIntroTipsView = root.get();
    m_overlapIntroTipsView->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_overlapIntroTipsView->setDelegate(this);

    // The way back out of the favourites is the favourites bin at the bottom right, where the
    // overlay's light falls: the line, the text and the close button keep to that corner.
    m_imageViewExitFavorite = new LMImageView(kpv::Rect(kDesignWidth - 70, 60, 40, 160));
    m_imageViewExitFavorite->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxYMargin);
    m_imageViewExitFavorite->setImage(kpv::Image::imageNamed(QStringLiteral("tip_line_right")), 0);
    m_txtTipsExitFavorite = new LMShadowTextFieldCell(kpv::Rect(0, 0, 10, 10));
    m_txtTipsExitFavorite->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxYMargin);
    m_btnClose = new LMButton(kpv::Rect(0, 0, 24, 24));
    m_btnClose->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxYMargin);
    m_btnClose->setAction([this](kpv::View*) { closeButtonClicked(); });

    m_overlapIntroTipsView->addSubview(m_imageViewExitFavorite);
    m_overlapIntroTipsView->addSubview(m_txtTipsExitFavorite);
    m_overlapIntroTipsView->addSubview(m_btnClose);
    m_presence.adopt(std::move(root));
}

void FavoriteIntroTipsViewController::awakeFromNib()
{
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    m_overlapIntroTipsView->setBackgroundImageRep(std::make_shared<LMNineSliceImageRep>(
        QStringLiteral("bg_tip_mask"), kpv::Point{1, 1}, kpv::Point{178, 178}));
    m_txtTipsExitFavorite->setTextColor(kTipTextColor);

    const QString favorites = bundle.localizedString(QStringLiteral("IDS_MyFavorites"));
    m_txtTipsExitFavorite->setStringValue(
        bundle.localizedStringWithFormat(QStringLiteral("IDS_TipsExitFavorite_Fmt"), favorites));
    const kpv::Size s = m_txtTipsExitFavorite->attributedStringValueSize();
    const double w = std::round(2 * s.width / 3);
    const kpv::Rect line = m_imageViewExitFavorite->frame();
    const kpv::Rect bounds = m_overlapIntroTipsView->bounds();
    // Above the line's top, left of the close button, never past the right edge.
    const double closeLeft = bounds.x() + bounds.width() - m_btnClose->bounds().width() - 10;
    const double x = std::min(line.x() - std::round(2 * w / 3), closeLeft - 8 - w);
    LMOverlapIntroTipsView::placeTipText(
        m_txtTipsExitFavorite, kpv::Rect(x, line.y() + line.height() - 5, w, std::round(2 * s.height)), bounds);

    // The close button's top lines up with the text's top.
    const kpv::Rect text = m_txtTipsExitFavorite->frame();
    m_btnClose->setFrameOrigin(kpv::Point{bounds.x() + bounds.width() - m_btnClose->bounds().width() - 10,
                                          text.y() + text.height() - m_btnClose->bounds().height()});
    m_btnClose->setImageName(QStringLiteral("e_tip_close"));
    m_btnClose->setToolTip(bundle.localizedString(QStringLiteral("IDS_Close")));
}

void FavoriteIntroTipsViewController::closeButtonClicked()
{
    if (m_delegate)
        m_delegate->closeClickedOnFavoriteIntroTipsViewController(this);
}

void FavoriteIntroTipsViewController::mouseDownOnOverlapIntroTipsView(LMOverlapIntroTipsView*)
{
    closeButtonClicked();
}
