#include "appkit/FileDropTarget.h"

#include "appkit/View.h"
#include "foundation/FileNames.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QObject>
#include <QUrl>
#include <QWidget>

namespace kpv {

namespace {

class DropFilter : public QObject {
public:
    DropFilter(QObject* parent, FileDropTarget::Accept accept, FileDropTarget::Drop drop)
        : QObject(parent), m_accept(std::move(accept)), m_drop(std::move(drop)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* e = static_cast<QDropEvent*>(event);
            if (acceptable(e)) {
                e->setDropAction(Qt::CopyAction);
                e->accept();
            } else {
                e->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            if (acceptable(e)) {
                e->setDropAction(Qt::CopyAction);
                e->accept();
                if (m_drop)
                    m_drop(FileDropTarget::localPathsOfUrls(e->mimeData()->urls()));
            } else {
                e->ignore();
            }
            return true;
        }
        default:
            return false;
        }
    }

private:
    bool acceptable(QDropEvent* e) const
    {
        // A drag of our own (its source is one of our widgets) is never a file drop.
        if (e->source() != nullptr || !e->mimeData() || !e->mimeData()->hasUrls())
            return false;
        if (!(e->possibleActions() & Qt::CopyAction))
            return false;
        const QStringList paths = FileDropTarget::localPathsOfUrls(e->mimeData()->urls());
        return !paths.isEmpty() && (!m_accept || m_accept(paths));
    }

    FileDropTarget::Accept m_accept;
    FileDropTarget::Drop m_drop;
};

} // namespace

void FileDropTarget::install(View* view, Accept accept, Drop drop)
{
    if (!view || !view->widget())
        return;
    QWidget* w = view->widget();
    w->setAcceptDrops(true);
    w->installEventFilter(new DropFilter(w, std::move(accept), std::move(drop)));
}

QStringList FileDropTarget::localPathsOfUrls(const QList<QUrl>& urls)
{
    QStringList paths;
    for (const QUrl& u : urls) {
        // By the bytes the URL stands for: a name need not be UTF-8.
        if (const QString path = fileNameFromUrl(u); !path.isEmpty())
            paths.append(path);
    }
    return paths;
}

} // namespace kpv
