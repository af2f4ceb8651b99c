// Printing a view to a PDF printer, one page each, turned to suit each page, and never a cut-short
// file under the user's name; and the pasteboard holding a file and its image together, as other
// programs paste them.

#include "../../support/FaultInjection.h"

#include "appkit/Pasteboard.h"
#include "appkit/GraphicsContext.h"
#include "appkit/PrintPanel.h"
#include "appkit/View.h"
#include "foundation/FileNames.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QImage filled(QSize size, Qt::GlobalColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A view printing one coloured page per size, turned as its page's shape asks.
class PagesView : public kpv::View, public kpv::PrintableView {
public:
    explicit PagesView(std::vector<QSizeF> pages) : m_pages(std::move(pages)) {}
    kpv::View& printedView() override { return *this; }
    bool knowsPageRange(long* location, long* length) const override
    {
        *location = 1;
        *length = long(m_pages.size());
        return true;
    }
    kpv::Rect rectForPage(long page) override
    {
        const QSizeF s = m_pages[size_t(page - 1)];
        m_info.orientation = s.height() > s.width() ? kpv::PrintInfo::Portrait : kpv::PrintInfo::Landscape;
        m_info.horizontallyCentered = m_info.verticallyCentered = true;
        setFrame(kpv::Rect(0, 0, s.width(), s.height()));
        return bounds();
    }
    kpv::PrintInfo& printInfo() override { return m_info; }
    void drawRect(const kpv::Rect& r) override { kpv::GraphicsContext::current()->fillRect(r, kpv::Color(1, 0, 0, 1)); }

private:
    std::vector<QSizeF> m_pages;
    kpv::PrintInfo m_info;
};

TEST(PrintView, OnePagePerPageOfTheViewTurnedToSuitIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    PagesView view({QSizeF(400, 200), QSizeF(200, 400), QSizeF(300, 300)});
    view.printInfo().jobName = QStringLiteral("Beach.jpg");
    ASSERT_TRUE(kpv::PrintPanel::printView(printer, view));
    EXPECT_EQ(printer.docName(), "Beach.jpg"); // the job's name in the queue, the PDF's title
    // The view was told the printable area of the paper held upright.
    EXPECT_GT(view.printInfo().portraitImageableSize.height, view.printInfo().portraitImageableSize.width);
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    // Three pages: the first landscape (wider than high), the second portrait, the square one
    // landscape.
    const QString text = QString::fromLatin1(bytes);
    EXPECT_EQ(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))), 3);
    const QRegularExpression box(QStringLiteral("/MediaBox\\s*\\[\\s*0\\s+0\\s+([0-9.]+)\\s+([0-9.]+)"));
    auto it = box.globalMatch(text);
    QList<QPair<double, double>> sizes;
    while (it.hasNext()) {
        const auto m = it.next();
        sizes.append({m.captured(1).toDouble(), m.captured(2).toDouble()});
    }
    ASSERT_GE(sizes.size(), 3);
    EXPECT_GT(sizes[0].first, sizes[0].second);
    EXPECT_LT(sizes[1].first, sizes[1].second);
    EXPECT_GT(sizes[2].first, sizes[2].second);
}

TEST(PrintView, NothingToPrintIsRefused)
{
    QPrinter printer;
    PagesView view({});
    EXPECT_FALSE(kpv::PrintPanel::printView(printer, view));
}

TEST(PrintView, OnlyThePagesChosenInThePanelPrint)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath(QStringLiteral("out.pdf")));
    printer.setPrintRange(QPrinter::PageRange);
    printer.setFromTo(2, 3);
    PagesView view({QSizeF(400, 200), QSizeF(200, 400), QSizeF(300, 300)});
    ASSERT_TRUE(kpv::PrintPanel::printView(printer, view));
    QFile f(dir.filePath(QStringLiteral("out.pdf")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(f.readAll()).count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))), 2);
    printer.setFromTo(5, 6); // past the last page: nothing to print
    EXPECT_FALSE(kpv::PrintPanel::printView(printer, view));
}

// The shapes of the pages in a printed file, in order: 'L' wider than high, 'P' higher than wide.
QString pageShapes(const QString& pdf)
{
    QFile f(pdf);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QRegularExpression box(QStringLiteral("/MediaBox\\s*\\[\\s*0\\s+0\\s+([0-9.]+)\\s+([0-9.]+)"));
    QString shapes;
    for (auto it = box.globalMatch(QString::fromLatin1(f.readAll())); it.hasNext();) {
        const auto m = it.next();
        shapes += m.captured(1).toDouble() > m.captured(2).toDouble() ? u'L' : u'P';
    }
    return shapes;
}

TEST(PrintView, CopiesAndReverseOrderChosenInThePanelReachTheFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    PagesView view({QSizeF(400, 200), QSizeF(200, 400)});
    struct Row {
        const char* name;
        bool collate;
        bool reverse;
        const char* shapes;
    };
    for (const Row& row : {Row{"collated", true, false, "LPLP"}, Row{"uncollated", false, false, "LLPP"},
                           Row{"collated, last page first", true, true, "PLPL"}}) {
        SCOPED_TRACE(row.name);
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setCopyCount(2);
        printer.setCollateCopies(row.collate);
        printer.setPageOrder(row.reverse ? QPrinter::LastPageFirst : QPrinter::FirstPageFirst);
        ASSERT_TRUE(kpv::PrintPanel::printView(printer, view));
        EXPECT_EQ(pageShapes(pdf), QString::fromLatin1(row.shapes));
    }
}

TEST(PrintView, AFileThatCannotBeWrittenWholeIsToldAndTheOldOneKept)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    {
        QFile old(pdf);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an earlier print");
    }
    const QByteArray before = kpv::test::checksum(pdf);
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    PagesView view({QSizeF(400, 200), QSizeF(200, 400)});
    {
        kpv::test::FileSizeLimit full(1024); // the disk fills up partway through the pages
        EXPECT_FALSE(kpv::PrintPanel::printView(printer, view));
        EXPECT_FALSE(view.printInfo().failure.isEmpty()) << "the user is told why";
    }
    EXPECT_EQ(kpv::test::checksum(pdf), before);
    EXPECT_EQ(kpv::test::entriesOf(dir.path()), QStringList{QStringLiteral("out.pdf")});

    // A folder that turned read-only after the panel checked it: the reason names the file.
    {
        const QString folder = dir.filePath(QStringLiteral("locked"));
        ASSERT_TRUE(QDir().mkdir(folder));
        ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        kpv::test::NoPermissionOverride asUser;
        printer.setOutputFileName(QDir(folder).filePath(QStringLiteral("new.pdf")));
        EXPECT_FALSE(kpv::PrintPanel::printView(printer, view));
        EXPECT_TRUE(view.printInfo().failure.contains(QStringLiteral("new.pdf"))) << view.printInfo().failure.toStdString();
        EXPECT_TRUE(kpv::test::entriesOf(folder).isEmpty());
        printer.setOutputFileName(pdf);
    }

    // With room, the same printer replaces it whole.
    ASSERT_TRUE(kpv::PrintPanel::printView(printer, view));
    EXPECT_TRUE(view.printInfo().failure.isEmpty());
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    EXPECT_TRUE(bytes.trimmed().endsWith("%%EOF"));
}

TEST(Pasteboard, FileAndImageTogether)
{
    kpv::Pasteboard& board = kpv::Pasteboard::generalPasteboard();
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/photos/a.jpg"));
    ASSERT_TRUE(board.writeFileURLsAndImage({file}, filled(QSize(8, 6), Qt::red)));
    EXPECT_EQ(board.fileURLs(), QList<QUrl>{file});
    EXPECT_EQ(board.image().size(), QSize(8, 6));
    // A file manager pastes the file as a copy.
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->data(QStringLiteral("x-special/gnome-copied-files")), "copy\nfile:///photos/a.jpg");
    // An image alone replaces both.
    ASSERT_TRUE(board.writeFileURLsAndImage({}, filled(QSize(4, 4), Qt::blue)));
    EXPECT_TRUE(board.fileURLs().isEmpty());
    EXPECT_EQ(board.image().size(), QSize(4, 4));
    EXPECT_FALSE(board.writeFileURLsAndImage({}, QImage()));

    // Names that are not UTF-8 reach other programs by their bytes, however the address was made.
    for (const QByteArray& name : {QByteArray("/photos/caf\xe9.jpg"), QByteArray("/photos/x\xc3(y.jpg")}) {
        ASSERT_TRUE(board.writeFileURLs({QUrl::fromLocalFile(kpv::decodeFileName(name))}));
        const QList<QUrl> urls = board.fileURLs();
        ASSERT_EQ(urls.size(), 1);
        EXPECT_EQ(kpv::encodeFileName(kpv::fileNameFromUrl(urls[0])), name) << urls[0].toEncoded().constData();
    }
}

} // namespace
