#pragma once
// The print panel, run as a sheet of a window. The begin operation is virtual so callers can be
// tested with a panel that answers at once.

#include "appkit/Window.h"

#include <QImage>
#include <QList>

#include <functional>

class QPrinter;

namespace kpv {

class PrintPanel {
public:
    virtual ~PrintPanel() = default;
    // The images printed when the user confirms, one per page.
    void setImages(QList<QImage> images) { m_images = std::move(images); }
    const QList<QImage>& images() const { return m_images; }
    // The handler's answer when the printer (or the file printed to) refused the pages.
    static constexpr long kPrintFailed = -1;
    // Shows the panel window-modal and returns at once; on confirmation the images are printed,
    // then the handler gets 1 (printed), 0 (cancel) or kPrintFailed.
    virtual void beginSheetWithPrintInfo(Window* window, std::function<void(long)> handler);
    // Prints the images on the printer, one per page: each page turns to suit its image, which is
    // fitted to the printable area and centred. False when the printer could not start or there
    // is nothing to print.
    static bool printImages(QPrinter& printer, const QList<QImage>& images);

private:
    QList<QImage> m_images;
};

} // namespace kpv
