#include "Shell/Dialogs/ShareAccountItemViewController.h"

#include "Kit/LMImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMTrackingColorView.h"
#include "Model/ShareWebsiteType.h"
#include "appkit/Control.h"
#include "foundation/Bundle.h"

ShareAccountItemViewController::ShareAccountItemViewController(const ShareAccountItem& item,
                                                               ShareAccountItemViewControllerDelegate* delegate)
    : m_item(item), m_delegate(delegate)
{
    m_trackingColorView = new LMTrackingColorView(kpv::Rect(0, 0, kItemWidth, kItemHeight));
    m_boxItemSplit = new LMTrackingColorView(kpv::Rect(0, 0, kItemWidth, 1));
    m_imageView = new LMImageView(kpv::Rect(10, 6, 32, 32));
    m_textField = new kpv::TextField(kpv::Rect(52, 12, kItemWidth - 52 - 100, 20));
    m_btnSignOut = new LMNormalCustomButton(kpv::Rect(kItemWidth - 90, 10, 80, 24));
    m_trackingColorView->addSubview(m_boxItemSplit);
    m_trackingColorView->addSubview(m_imageView);
    m_trackingColorView->addSubview(m_textField);
    m_trackingColorView->addSubview(m_btnSignOut);
    awakeFromNib();
}

ShareAccountItemViewController::~ShareAccountItemViewController() { delete m_trackingColorView; }

kpv::View* ShareAccountItemViewController::view() const { return m_trackingColorView; }

QString ShareAccountItemViewController::iconNameForWebsiteType(long type)
{
    switch (type) {
    case ShareWebsiteTypeFacebook: return QStringLiteral("facebook icon");
    case ShareWebsiteTypeFlickr: return QStringLiteral("flickr icon");
    case ShareWebsiteTypeTwitter: return QStringLiteral("twitter icon");
    case ShareWebsiteTypeTumblr: return QStringLiteral("tumblr icon");
    default: return {};
    }
}

void ShareAccountItemViewController::awakeFromNib()
{
    const kpv::Color split(209.0 / 255.0, 209.0 / 255.0, 209.0 / 255.0, 1.0);
    // The separator is a plain line: the same colour with or without the pointer over it.
    m_boxItemSplit->setBkgrdColor(split, split);
    m_trackingColorView->setBkgrdColor(kpv::Color::clearColor(),
                                       kpv::Color(253.0 / 255.0, 168.0 / 255.0, 19.0 / 255.0, 1.0));
    m_trackingColorView->setTrackingActiveInActiveApp(true);

    const QString icon = iconNameForWebsiteType(m_item.websiteType);
    m_imageView->setImage(icon.isEmpty() ? nullptr : LMNineSliceImageRep::loadImageWithoutExtension(icon), 0);
    // A name longer than the row keeps its start and end, with the whole of it in the tool tip.
    const QString name = m_item.userName.value_or(QString());
    m_textField->setLineBreakMode(kpv::TextField::LineBreakByTruncatingMiddle);
    m_textField->setStringValue(name);
    m_textField->setToolTip(name);

    m_btnSignOut->setTitle(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_SignOut")));
    m_btnSignOut->setTrackingActiveInActiveApp(true);
    m_btnSignOut->setAction([this](kpv::View*) { signOutButtonClicked(); });
}

void ShareAccountItemViewController::signOutButtonClicked()
{
    if (m_delegate)
        m_delegate->shareAccountItemViewController(this, m_item.websiteType);
}
