#pragma once
// One row of the accounts window: the site's icon, the signed-in user's name and a sign-out
// button. Main thread only.

#include <QString>

#include <optional>

class LMImageView;
class LMNormalCustomButton;
class LMTrackingColorView;
class ShareAccountItemViewController;

namespace kpv {
class TextField;
class View;
}

// One saved sign-in as the accounts window lists it.
struct ShareAccountItem {
    long websiteType = 0;
    std::optional<QString> userName; // absent when the saved sign-in has none
};

class ShareAccountItemViewControllerDelegate {
public:
    virtual ~ShareAccountItemViewControllerDelegate() = default;
    virtual void shareAccountItemViewController(ShareAccountItemViewController*, long /*signOutWebsite*/) {}
};

class ShareAccountItemViewController {
public:
    static constexpr double kItemWidth = 340;
    static constexpr double kItemHeight = 44;

    // Builds the row for `item`. The controller keeps its view for life, so the view's owner must
    // be the controller's owner too: delete the controllers before the view they sit in.
    ShareAccountItemViewController(const ShareAccountItem& item, ShareAccountItemViewControllerDelegate* delegate);
    // Deletes the row's view, taking it out of its superview first.
    ~ShareAccountItemViewController();
    ShareAccountItemViewController(const ShareAccountItemViewController&) = delete;
    ShareAccountItemViewController& operator=(const ShareAccountItemViewController&) = delete;

    // The skin image of a site's icon; empty for a type without one.
    static QString iconNameForWebsiteType(long type);

    const ShareAccountItem& representedObject() const { return m_item; }
    kpv::View* view() const;
    LMTrackingColorView* trackingColorView() const { return m_trackingColorView; }
    LMTrackingColorView* boxItemSplit() const { return m_boxItemSplit; }
    LMNormalCustomButton* btnSignOut() const { return m_btnSignOut; }
    LMImageView* imageView() const { return m_imageView; }
    kpv::TextField* textField() const { return m_textField; }

    void signOutButtonClicked();

private:
    void awakeFromNib();

    ShareAccountItem m_item;
    ShareAccountItemViewControllerDelegate* m_delegate = nullptr;
    LMTrackingColorView* m_trackingColorView = nullptr;
    LMTrackingColorView* m_boxItemSplit = nullptr;
    LMNormalCustomButton* m_btnSignOut = nullptr;
    LMImageView* m_imageView = nullptr;
    kpv::TextField* m_textField = nullptr;
};
