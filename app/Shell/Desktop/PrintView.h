#pragma once
// Prints a list of images one per page: each page turns to portrait or landscape to suit its
// image, has no margins, and shows the image centred and fitted to the printable area.
// Main thread only.

#include "Kit/LMImageView.h"
#include "appkit/Image.h"

#include <vector>

class PrintView : public LMImageView {
public:
    enum Orientation { Portrait = 0, Landscape = 1 };

    // The page set-up the print operation uses, changed page by page.
    struct PrintInfo {
        Orientation orientation = Portrait;
        double leftMargin = 0, rightMargin = 0, topMargin = 0, bottomMargin = 0;
        bool horizontallyCentered = false;
        bool verticallyCentered = false;
        // The printable area of the paper held upright; landscape pages turn it.
        kpv::Size portraitImageableSize{540, 720};

        kpv::Size imageablePageBounds() const
        {
            return orientation == Portrait ? portraitImageableSize
                                           : kpv::Size{portraitImageableSize.height, portraitImageableSize.width};
        }
    };

    explicit PrintView(const kpv::Rect& frame = kpv::Rect());

    void setPrintImageItems(std::vector<kpv::ImagePtr> items) { m_printImageItems = std::move(items); }
    const std::vector<kpv::ImagePtr>& printImageItems() const { return m_printImageItems; }
    PrintInfo& printInfo() { return m_printInfo; }
    const PrintInfo& printInfo() const { return m_printInfo; }

    // Pages run from 1 to the number of images.
    bool knowsPageRange(long* location, long* length) const;
    // Lays the view out for page `page` and answers the rectangle to print.
    kpv::Rect rectForPage(long page);

private:
    std::vector<kpv::ImagePtr> m_printImageItems;
    PrintInfo m_printInfo;
};
