#include "appkit/Pasteboard.h"

#include "foundation/FileNames.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace kpv {

Pasteboard& Pasteboard::generalPasteboard()
{
    static Pasteboard board;
    return board;
}

Pasteboard& Pasteboard::selectionPasteboard()
{
    static Pasteboard board(true);
    return board;
}

namespace {
// The desktop's selection, when it keeps one.
QClipboard* desktopSelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard && clipboard->supportsSelection() ? clipboard : nullptr;
}
} // namespace

void Pasteboard::clearContents()
{
    if (m_selection) {
        m_ownSelection.clear();
        if (QClipboard* selection = desktopSelection())
            selection->clear(QClipboard::Selection);
        return;
    }
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->clear();
}

bool Pasteboard::writeFileURLs(const QList<QUrl>& urls)
{
    return !urls.isEmpty() && writeFileURLsAndImage(urls, QImage());
}

bool Pasteboard::writeFileURLsAndImage(const QList<QUrl>& urls, const QImage& image)
{
    QClipboard* clipboard = m_selection ? nullptr : QGuiApplication::clipboard(); // text only on the selection
    if (!clipboard || (urls.isEmpty() && image.isNull()))
        return false;
    auto* data = new QMimeData;
    if (!urls.isEmpty()) {
        // Other programs read the names' bytes from the addresses.
        QList<QUrl> portable;
        for (const QUrl& url : urls)
            portable << portableFileUrl(url);
        data->setUrls(portable);
        // Most desktops' file managers paste files only from their own list, which says whether
        // the files were copied or cut; these are copied.
        QByteArray copied("copy");
        for (const QUrl& url : portable)
            copied += '\n' + url.toEncoded();
        data->setData(QStringLiteral("x-special/gnome-copied-files"), copied);
    }
    if (!image.isNull())
        data->setImageData(image);
    clipboard->setMimeData(data); // the clipboard takes the data
    return true;
}

QImage Pasteboard::image() const
{
    QClipboard* clipboard = m_selection ? nullptr : QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
    return data && data->hasImage() ? qvariant_cast<QImage>(data->imageData()) : QImage();
}

bool Pasteboard::writeString(const QString& text)
{
    if (m_selection) {
        if (QClipboard* selection = desktopSelection())
            selection->setText(text, QClipboard::Selection);
        else
            m_ownSelection = text;
        return true;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setText(text);
    return true;
}

QString Pasteboard::string() const
{
    if (m_selection) {
        const QClipboard* selection = desktopSelection();
        return selection ? selection->text(QClipboard::Selection) : m_ownSelection;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->text() : QString();
}

QList<QUrl> Pasteboard::fileURLs() const
{
    QClipboard* clipboard = m_selection ? nullptr : QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
    return data && data->hasUrls() ? data->urls() : QList<QUrl>();
}

} // namespace kpv
