#include "Shell/Desktop/PrintView.h"

#include "foundation/Bundle.h"

#include <algorithm>

namespace {
// Below this many of the picture's pixels to an inch of paper, each pixel is large enough on the
// page for compression marks to show.
constexpr double kLosslessBelowDotsPerInch = 200;
} // namespace

PrintView::PrintView(const kpv::Rect& frame) : LMImageView(frame) {}

std::shared_ptr<PrintView> PrintView::printViewWithImages(const QList<QImage>& images)
{
    std::vector<kpv::ImagePtr> items;
    for (const QImage& image : images) {
        if (!image.isNull())
            items.push_back(std::make_shared<kpv::Image>(image));
    }
    if (items.empty())
        return nullptr;
    const kpv::Size first = items.front()->size();
    auto view = std::make_shared<PrintView>(kpv::Rect(0, 0, first.width, first.height));
    view->setImage(items.front(), 0);
    view->setImageScaling(1); // each axis to the frame
    view->setPrintImageItems(std::move(items));
    return view;
}

bool PrintView::knowsPageRange(long* location, long* length) const
{
    if (location)
        *location = 1;
    if (length)
        *length = long(m_printImageItems.size());
    return true;
}

kpv::Rect PrintView::rectForPage(long page)
{
    if (m_printImageItems.empty())
        return bounds();
    // A page outside the list prints the first image; page numbers below 1 would otherwise
    // index before the list.
    const long index = page - 1;
    const kpv::ImagePtr& image =
        (index >= 0 && index < long(m_printImageItems.size())) ? m_printImageItems[size_t(index)] : m_printImageItems.front();
    const kpv::Size size = image ? image->size() : kpv::Size{};
    // An empty image has no aspect to fit; printing it would divide by zero.
    if (!(size.width > 0) || !(size.height > 0))
        return bounds();

    setFrame(kpv::Rect(0, 0, size.width, size.height));
    setImage(image, 0);
    setImageScaling(1); // fill the frame on both axes

    m_printInfo.orientation = size.height > size.width ? Portrait : Landscape;
    const kpv::Size paper = m_printInfo.imageablePageBounds();
    m_printInfo.leftMargin = m_printInfo.rightMargin = m_printInfo.topMargin = m_printInfo.bottomMargin = 0;
    m_printInfo.horizontallyCentered = true;
    m_printInfo.verticallyCentered = true;

    const double f = std::min(paper.width / size.width, paper.height / size.height);
    // A picture enlarged so far that its pixels show on paper would show the printer's
    // compression too (smeared colour around every edge of a small picture or a screenshot):
    // such a page carries the pixels as they are.
    m_printInfo.losslessImages = 72.0 / f < kLosslessBelowDotsPerInch;
    const kpv::Rect r(0, 0, size.width * f, size.height * f);
    setFrame(r);
    return r;
}

QString PrintView::failureMessage() const
{
    const QString reason = m_printInfo.failure.isEmpty()
                               ? QStringLiteral("the printer or the file printed to refused it")
                               : m_printInfo.failure;
    return kpv::Bundle::mainBundle().localizedStringWithFormat(
        m_printImageItems.size() > 1 ? QStringLiteral("IDS_FailedPrintPhotos_Fmt") : QStringLiteral("IDS_FailedPrint_Fmt"),
        reason);
}
