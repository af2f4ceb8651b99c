#include "appkit/DragSource.h"

#include "appkit/View.h"
#include "foundation/FileNames.h"

#include <QDrag>
#include <QMimeData>
#include <QWidget>

namespace kpv {

unsigned long DragSource::dragFiles(View* view, const QList<QUrl>& urls, unsigned long allowed)
{
    QWidget* widget = view ? view->widget() : nullptr;
    if (!widget || urls.isEmpty())
        return 0;
    Qt::DropActions actions;
    if (allowed & 1)
        actions |= Qt::CopyAction;
    if (allowed & 2)
        actions |= Qt::LinkAction;
    if (allowed & 16)
        actions |= Qt::MoveAction;
    if (!actions)
        return 0;
    auto* drag = new QDrag(widget); // owned by the widget; Qt deletes it after exec
    auto* data = new QMimeData;
    // Whoever takes the drop reads the names' bytes from the addresses.
    QList<QUrl> portable;
    for (const QUrl& url : urls)
        portable << portableFileUrl(url);
    data->setUrls(portable);
    drag->setMimeData(data);
    switch (drag->exec(actions, (allowed & 1) ? Qt::CopyAction : Qt::MoveAction)) {
    case Qt::CopyAction: return 1;
    case Qt::LinkAction: return 2;
    case Qt::MoveAction: return 16;
    default: return 0;
    }
}

} // namespace kpv
