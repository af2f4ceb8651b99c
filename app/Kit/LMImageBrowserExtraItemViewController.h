#pragma once
// The overlays that the image browser places over each thumbnail cell. The controller owns its
// view until the browser places it.

#include "Kit/LMNineSliceImageView.h"

#include <QString>
#include <memory>

class LMImageBrowserExtraItemViewController {
public:
    explicit LMImageBrowserExtraItemViewController(std::unique_ptr<kpv::View> view = nullptr);
    virtual ~LMImageBrowserExtraItemViewController();
    LMImageBrowserExtraItemViewController(const LMImageBrowserExtraItemViewController&) = delete;
    LMImageBrowserExtraItemViewController& operator=(const LMImageBrowserExtraItemViewController&) = delete;

    kpv::View* view() const { return m_view; }
    const QString& itemImageUID() const { return m_itemImageUID; }
    void setItemImageUID(const QString& uid) { m_itemImageUID = uid; }
    // Called whenever the browser lays the cell out or its selection changes.
    virtual void updateUIWithCellFrame(const kpv::Rect&, const kpv::Rect&, bool /*selected*/) {}

private:
    kpv::View* m_view;
    QString m_itemImageUID;
};

// The favourites overlay: the thumbnail's shadow frame, brighter when selected.
class FavBrowserExtraItemViewController : public LMImageBrowserExtraItemViewController {
public:
    FavBrowserExtraItemViewController();
    LMNineSliceImageView* shadowView() const { return static_cast<LMNineSliceImageView*>(view()); }
    void updateUIWithCellFrame(const kpv::Rect& cellFrame, const kpv::Rect& imageFrame, bool selected) override;
    // The two shadow records, made once and shared by every overlay.
    static const LMNineSliceImageRepPtr& shadowRep(bool selected);
};
