#include "appkit/PrintPanel.h"

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
    QObject::connect(dialog, &QDialog::finished, dialog, [handler](int result) {
        if (handler)
            handler(result == QDialog::Accepted ? ModalResponseOK : ModalResponseCancel);
    });
    dialog->open();
}

} // namespace kpv
