#pragma once
// The print panel, run as a sheet of a window, and the print operation it starts: a view that
// prints as pages is laid out page by page and drawn on each. The begin operation is virtual so
// callers can be tested with a panel that answers at once.

#include "appkit/Geometry.h"
#include "appkit/Window.h"

#include <QString>

#include <functional>
#include <memory>

class QPrinter;

namespace kpv {

class View;

// The page set-up of a print operation; the printed view changes it page by page.
struct PrintInfo {
    enum Orientation { Portrait = 0, Landscape = 1 };
    Orientation orientation = Portrait;
    double leftMargin = 0, rightMargin = 0, topMargin = 0, bottomMargin = 0;
    bool horizontallyCentered = false;
    bool verticallyCentered = false;
    // The job's name in the print queue and the title of a PDF printed to; the program's name
    // when empty.
    QString jobName;
    // The printable area of the paper held upright, in points; landscape pages turn it.
    Size portraitImageableSize{540, 720};
    // Pictures on the page go to the printer with their pixels exactly as they are, not
    // re-compressed: set by the view for a page whose picture is enlarged so far that each of its
    // pixels shows on paper.
    bool losslessImages = false;
    // Why the last print of the view did not reach the printer or the file, in words for the
    // user; empty after one that went through.
    QString failure;

    Size imageablePageBounds() const
    {
        return orientation == Portrait ? portraitImageableSize : Size{portraitImageableSize.height, portraitImageableSize.width};
    }
};

// A view that prints as pages. The operation asks for the page range, then for each page lets the
// view lay itself out (`rectForPage`, which may turn the page in `printInfo`) and draws the
// answered rectangle of the view on that page, centred where the view asks for it.
class PrintableView {
public:
    virtual ~PrintableView() = default;
    virtual View& printedView() = 0;
    virtual bool knowsPageRange(long* location, long* length) const = 0;
    virtual Rect rectForPage(long page) = 0;
    virtual PrintInfo& printInfo() = 0;
};

class PrintPanel {
public:
    virtual ~PrintPanel() = default;
    // What prints when the user confirms.
    void setPrintableView(std::shared_ptr<PrintableView> view) { m_view = std::move(view); }
    const std::shared_ptr<PrintableView>& printableView() const { return m_view; }
    // The handler's answer when the printer (or the file printed to) refused the pages.
    static constexpr long kPrintFailed = -1;
    // Shows the panel window-modal and returns at once; on confirmation the view is printed, then
    // the handler gets 1 (printed), 0 (cancel) or kPrintFailed.
    virtual void beginSheetWithPrintInfo(Window* window, std::function<void(long)> handler);
    // Prints the view's pages on the printer. False when the printer could not start, there is no
    // page to print, or the file printed to could not be written whole (an existing file is then
    // left as it was); the view's print information then says why.
    static bool printView(QPrinter& printer, PrintableView& view);

    // The panel the program shows; tests hand in one that answers at once.
    static std::unique_ptr<PrintPanel> make();
    static void setPanelFactory(std::function<std::unique_ptr<PrintPanel>()> factory);

private:
    static bool printPages(QPrinter& printer, PrintableView& view);

    std::shared_ptr<PrintableView> m_view;
};

} // namespace kpv
