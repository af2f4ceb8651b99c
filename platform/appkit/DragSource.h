#pragma once
// Dragging files out of a view: the file URLs go to the desktop's drag and drop, and the call
// returns when the drop ended. Operations use the window system's numbering: 1 copy, 2 link,
// 16 move, 0 none.

#include <QList>
#include <QUrl>

namespace kpv {

class View;

class DragSource {
public:
    // Runs a drag of the files from `view`; `allowedOperations` is a mask of the operations above.
    // Answers the operation the drop performed (0 when refused, or without a display).
    static unsigned long dragFiles(View* view, const QList<QUrl>& urls, unsigned long allowedOperations);
};

} // namespace kpv
