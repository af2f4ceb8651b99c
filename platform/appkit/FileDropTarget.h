#pragma once
// Makes a view accept files and folders dropped from other programs. The view's owner decides:
// `accept` answers whether the paths may be dropped (asked when the drag enters and again at the
// drop), `drop` receives them. Drags that start inside this application are never offered.

#include <QList>
#include <QStringList>
#include <QUrl>
#include <functional>

namespace kpv {

class View;

class FileDropTarget {
public:
    using Accept = std::function<bool(const QStringList& paths)>;
    using Drop = std::function<void(const QStringList& paths)>;
    // Installs the target on the view's widget; it lives as long as the widget.
    static void install(View* view, Accept accept, Drop drop);
    // The local paths of a drag's URLs (non-file URLs are left out).
    static QStringList localPathsOfUrls(const QList<QUrl>& urls);
};

} // namespace kpv
