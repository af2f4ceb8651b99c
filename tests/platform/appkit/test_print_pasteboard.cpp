// Printing images to a PDF printer, one page each, turned to suit each image; and the pasteboard
// holding a file and its image together, as other programs paste them.

#include "appkit/Pasteboard.h"
#include "appkit/PrintPanel.h"
#include "foundation/FileNames.h"

#include <QFile>
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

TEST(PrintImages, OnePagePerImageTurnedToSuitIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    ASSERT_TRUE(kpv::PrintPanel::printImages(
        printer, {filled(QSize(400, 200), Qt::red), filled(QSize(200, 400), Qt::blue), filled(QSize(300, 300), Qt::green)}));
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

TEST(PrintImages, NothingToPrintIsRefused)
{
    QPrinter printer;
    EXPECT_FALSE(kpv::PrintPanel::printImages(printer, {}));
}

TEST(Pasteboard, FileAndImageTogether)
{
    kpv::Pasteboard& board = kpv::Pasteboard::generalPasteboard();
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/photos/a.jpg"));
    ASSERT_TRUE(board.writeFileURLsAndImage({file}, filled(QSize(8, 6), Qt::red)));
    EXPECT_EQ(board.fileURLs(), QList<QUrl>{file});
    EXPECT_EQ(board.image().size(), QSize(8, 6));
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
