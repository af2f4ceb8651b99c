#pragma once
// Prints a list of images one per page: each page turns to portrait or landscape to suit its
// image, has no margins, and shows the image centred and fitted to the printable area. Both
// print commands (the viewer's one picture, the favourites' selection) print through it.
// Main thread only.

#include "Kit/LMImageView.h"
#include "appkit/Image.h"
#include "appkit/PrintPanel.h"

#include <QImage>
#include <QList>

#include <memory>
#include <vector>

class PrintView : public LMImageView, public kpv::PrintableView {
public:
    using PrintInfo = kpv::PrintInfo;
    using Orientation = kpv::PrintInfo::Orientation;
    static constexpr Orientation Portrait = kpv::PrintInfo::Portrait;
    static constexpr Orientation Landscape = kpv::PrintInfo::Landscape;

    explicit PrintView(const kpv::Rect& frame = kpv::Rect());
    // A view set up to print the images, framed by the first, as the print commands make it;
    // null when there is no image to print.
    static std::shared_ptr<PrintView> printViewWithImages(const QList<QImage>& images);

    void setPrintImageItems(std::vector<kpv::ImagePtr> items) { m_printImageItems = std::move(items); }
    const std::vector<kpv::ImagePtr>& printImageItems() const { return m_printImageItems; }
    PrintInfo& printInfo() override { return m_printInfo; }
    const PrintInfo& printInfo() const { return m_printInfo; }

    kpv::View& printedView() override { return *this; }
    // Pages run from 1 to the number of images.
    bool knowsPageRange(long* location, long* length) const override;
    // Lays the view out for page `page` and answers the rectangle to print.
    kpv::Rect rectForPage(long page) override;
    // What the user is told when the print did not go through: that the photos are unchanged,
    // and why.
    QString failureMessage() const;

private:
    std::vector<kpv::ImagePtr> m_printImageItems;
    PrintInfo m_printInfo;
};
