#include "appkit/PrintPanel.h"

#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace kpv {

void PrintPanel::beginSheetWithPrintInfo(Window* window, std::function<void(long)> handler)
{
    auto* printer = new QPrinter();
    auto* dialog = new QPrintDialog(printer, window ? window->widget() : nullptr);
    dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QObject::destroyed, [printer] { delete printer; });
    QObject::connect(dialog, &QDialog::finished, dialog, [handler, printer, images = m_images](int result) {
        long response = result == QDialog::Accepted ? ModalResponseOK : ModalResponseCancel;
        if (result == QDialog::Accepted && !printImages(*printer, images))
            response = kPrintFailed;
        if (handler)
            handler(response);
    });
    dialog->open();
}

bool PrintPanel::printImages(QPrinter& printer, const QList<QImage>& images)
{
    if (images.isEmpty())
        return false;
    // Portrait only for a picture taller than wide: a square one prints landscape.
    auto orientationFor = [](const QImage& image) {
        return image.height() > image.width() ? QPageLayout::Portrait : QPageLayout::Landscape;
    };
    printer.setFullPage(false);
    printer.setPageOrientation(orientationFor(images.first()));
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    for (qsizetype i = 0; i < images.size(); ++i) {
        const QImage& image = images[i];
        if (i > 0) {
            printer.setPageOrientation(orientationFor(image));
            if (!printer.newPage())
                return false;
        }
        if (image.isNull())
            continue;
        const QRect area(QPoint(0, 0), printer.pageLayout().paintRectPixels(printer.resolution()).size());
        QSize size = image.size();
        size.scale(area.size(), Qt::KeepAspectRatio);
        const QRect target(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2,
                           size.width(), size.height());
        painter.setViewport(area);
        painter.setWindow(area);
        painter.drawImage(target, image);
    }
    return painter.end();
}

} // namespace kpv
