#pragma once
// The general pasteboard: the clipboard of the desktop session. Files are written as file URLs
// (text/uri-list), which file managers paste as copies.

#include <QList>
#include <QUrl>

namespace kpv {

class Pasteboard {
public:
    static Pasteboard& generalPasteboard();
    void clearContents();
    // Replaces the contents with the URLs; false when the list is empty or no clipboard exists.
    bool writeFileURLs(const QList<QUrl>& urls);
    // The file URLs on the pasteboard (empty when it holds none).
    QList<QUrl> fileURLs() const;
};

} // namespace kpv
