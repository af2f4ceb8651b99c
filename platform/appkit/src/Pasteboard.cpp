#include "appkit/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace kpv {

Pasteboard& Pasteboard::generalPasteboard()
{
    static Pasteboard board;
    return board;
}

void Pasteboard::clearContents()
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->clear();
}

bool Pasteboard::writeFileURLs(const QList<QUrl>& urls)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || urls.isEmpty())
        return false;
    auto* data = new QMimeData;
    data->setUrls(urls);
    clipboard->setMimeData(data); // the clipboard takes the data
    return true;
}

QList<QUrl> Pasteboard::fileURLs() const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
    return data && data->hasUrls() ? data->urls() : QList<QUrl>();
}

} // namespace kpv
