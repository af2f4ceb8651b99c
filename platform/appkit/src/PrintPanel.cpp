#include "appkit/PrintPanel.h"

#include "appkit/GraphicsContext.h"
#include "appkit/View.h"
#include "foundation/FileNames.h"
#include "foundation/FileReplace.h"

#include <QGuiApplication>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include <algorithm>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {

namespace {
std::function<std::unique_ptr<PrintPanel>()>& panelFactory()
{
    static std::function<std::unique_ptr<PrintPanel>()> factory;
    return factory;
}

QPageLayout::Orientation pageOrientation(const PrintInfo& info)
{
    return info.orientation == PrintInfo::Portrait ? QPageLayout::Portrait : QPageLayout::Landscape;
}

// A file in memory for the pages of a print to a file: the printer's own writer cannot tell a full
// disk from success and leaves a cut-short file under the user's name, so the pages are written
// here first and put in place by the one safe way of replacing a file.
class PagesInMemory {
public:
    PagesInMemory() : m_fd(memfd_create("kpv-print", MFD_CLOEXEC)) {}
    ~PagesInMemory()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PagesInMemory(const PagesInMemory&) = delete;
    PagesInMemory& operator=(const PagesInMemory&) = delete;

    bool isValid() const { return m_fd >= 0; }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }
    bool read(QByteArray* bytes) const
    {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || st.st_size <= 0)
            return false;
        bytes->resize(qsizetype(st.st_size));
        for (qsizetype done = 0; done < bytes->size();) {
            const ssize_t n = ::pread(m_fd, bytes->data() + done, size_t(bytes->size() - done), off_t(done));
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

private:
    int m_fd;
};

// Whether a PDF got its last bytes: a write that failed partway (memory short, the process's file
// size limit) leaves it without the cross-reference table its end points to.
bool isWholePdf(const QByteArray& bytes)
{
    const QByteArray tail = bytes.right(64).trimmed();
    if (!bytes.startsWith("%PDF-") || !tail.endsWith("%%EOF"))
        return false;
    const qsizetype at = tail.lastIndexOf("startxref");
    if (at < 0)
        return false;
    bool ok = false;
    const qint64 table = tail.mid(at + 9, tail.size() - 5 - at - 9).trimmed().toLongLong(&ok);
    return ok && table > 0 && table < bytes.size() - 4 && bytes.mid(table, 4) == "xref";
}

bool printsToFile(const QPrinter& printer)
{
    return printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
}
QString jobNameOf(PrintableView& printable)
{
    const QString name = printable.printInfo().jobName;
    return name.isEmpty() ? QGuiApplication::applicationDisplayName() : name;
}

} // namespace

std::unique_ptr<PrintPanel> PrintPanel::make()
{
    if (panelFactory())
        if (std::unique_ptr<PrintPanel> panel = panelFactory()())
            return panel;
    return std::make_unique<PrintPanel>();
}

void PrintPanel::setPanelFactory(std::function<std::unique_ptr<PrintPanel>()> factory)
{
    panelFactory() = std::move(factory);
}

void PrintPanel::beginSheetWithPrintInfo(Window* window, std::function<void(long)> handler)
{
    auto* printer = new QPrinter();
    // Named before the panel shows: a PDF printed to is offered under the photo's name.
    if (m_view)
        printer->setDocName(jobNameOf(*m_view));
    auto* dialog = new QPrintDialog(printer, window ? window->widget() : nullptr);
    dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    long first = 0, count = 0;
    if (m_view && m_view->knowsPageRange(&first, &count) && count > 1) {
        dialog->setMinMax(int(first), int(first + count - 1));
        dialog->setOption(QAbstractPrintDialog::PrintPageRange, true);
    }
    QObject::connect(dialog, &QObject::destroyed, [printer] { delete printer; });
    QObject::connect(dialog, &QDialog::finished, dialog, [handler, printer, view = m_view](int result) {
        long response = result == QDialog::Accepted ? ModalResponseOK : ModalResponseCancel;
        if (result == QDialog::Accepted && (!view || !printView(*printer, *view)))
            response = kPrintFailed;
        if (handler)
            handler(response);
    });
    dialog->open();
}

bool PrintPanel::printView(QPrinter& printer, PrintableView& printable)
{
    printer.setDocName(jobNameOf(printable));
    QString& failure = printable.printInfo().failure;
    failure.clear();
    if (!printsToFile(printer)) {
        const bool printed = printPages(printer, printable);
        if (!printed)
            failure = QStringLiteral("the printer did not take the pages");
        return printed;
    }
    const QString target = printer.outputFileName();
    PagesInMemory pages;
    // A name that was free when the user chose it is never taken from a file that appears there
    // meanwhile; one the panel asked to replace is replaced whole or not at all.
    FileReplaceOptions options;
    options.createOnly = !QFileInfo::exists(target);
    if (pages.isValid())
        printer.setOutputFileName(pages.path());
    const bool printed = printPages(printer, printable);
    printer.setOutputFileName(target);
    if (!pages.isValid()) {
        if (!printed)
            failure = QStringLiteral("%1 could not be written").arg(displayFileName(target));
        return printed;
    }
    QByteArray bytes;
    if (!printed || !pages.read(&bytes) || !isWholePdf(bytes)) {
        failure = QStringLiteral("the pages could not be made");
        return false;
    }
    return replaceFileContents(target, bytes, options, &failure);
}

bool PrintPanel::printPages(QPrinter& printer, PrintableView& printable)
{
    long first = 0, count = 0;
    if (!printable.knowsPageRange(&first, &count) || count <= 0)
        return false;
    // The pages the user chose in the panel, when not all of them.
    long last = first + count - 1;
    if (printer.printRange() == QPrinter::PageRange) {
        if (printer.fromPage() > 0)
            first = std::max(first, long(printer.fromPage()));
        if (printer.toPage() > 0)
            last = std::min(last, long(printer.toPage()));
        if (first > last)
            return false;
    }
    // The pages in the order they leave the printer. A printer that makes its own copies (and
    // lays them in its own order) is handed each page once; a file gets every copy written out,
    // collated or not, last page first when the panel asked for it.
    const bool ownCopies = !printer.supportsMultipleCopies();
    const int copies = ownCopies ? std::max(1, printer.copyCount()) : 1;
    std::vector<long> pass;
    for (long page = first; page <= last; ++page)
        pass.push_back(page);
    if (ownCopies && printer.pageOrder() == QPrinter::LastPageFirst)
        std::reverse(pass.begin(), pass.end());
    std::vector<long> order;
    if (printer.collateCopies()) {
        for (int c = 0; c < copies; ++c)
            order.insert(order.end(), pass.begin(), pass.end());
    } else {
        for (long page : pass)
            order.insert(order.end(), size_t(copies), page);
    }
    // The view reads the printable area of the paper it turns page by page.
    printer.setFullPage(false);
    QPageLayout upright = printer.pageLayout();
    upright.setOrientation(QPageLayout::Portrait);
    const QRectF paper = upright.paintRect(QPageLayout::Point);
    PrintInfo& info = printable.printInfo();
    info.portraitImageableSize = Size{paper.width(), paper.height()};

    Rect rect = printable.rectForPage(order.front());
    printer.setPageOrientation(pageOrientation(info));
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    View& view = printable.printedView();
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0) {
            rect = printable.rectForPage(order[i]);
            printer.setPageOrientation(pageOrientation(info));
            if (!printer.newPage())
                return false;
        }
        if (rect.isEmpty())
            continue;
        // Device pixels of the printable area; the view's points map onto them at the printer's
        // resolution, placed by the view's centring.
        const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
        const double k = printer.resolution() / 72.0;
        const double w = rect.width() * k, h = rect.height() * k;
        const double x = info.horizontallyCentered ? (area.width() - w) / 2 : 0;
        const double y = info.verticallyCentered ? (area.height() - h) / 2 : 0;
        painter.save();
        painter.setRenderHint(QPainter::LosslessImageRendering, info.losslessImages);
        painter.translate(x, y);
        painter.scale(k, k);
        painter.setClipRect(QRectF(0, 0, rect.width(), rect.height()));
        // The printed rectangle of the view, with the view's origin at the bottom-left unless it
        // is flipped.
        if (!view.isFlipped()) {
            painter.translate(0, rect.height());
            painter.scale(1, -1);
        }
        painter.translate(-rect.x(), -rect.y());
        {
            GraphicsContext ctx(&painter, view.isFlipped(), k);
            view.drawRect(rect);
        }
        painter.restore();
    }
    return painter.end();
}

} // namespace kpv
