#pragma once
// The general pasteboard: the clipboard of the desktop session. Files are written as file URLs
// (text/uri-list), which file managers paste as copies; images as PNG and as an image of the
// window system, which image editors paste.

#include <QImage>
#include <QList>
#include <QUrl>

namespace kpv {

class Pasteboard {
public:
    static Pasteboard& generalPasteboard();
    void clearContents();
    // Replaces the contents with the URLs; false when the list is empty or no clipboard exists.
    bool writeFileURLs(const QList<QUrl>& urls);
    // Replaces the contents with the URLs and the image together (either may be empty, not both);
    // false when there is nothing to write or no clipboard exists.
    bool writeFileURLsAndImage(const QList<QUrl>& urls, const QImage& image);
    // The file URLs on the pasteboard (empty when it holds none).
    QList<QUrl> fileURLs() const;
    // The image on the pasteboard (null when it holds none).
    QImage image() const;
    // Replaces the contents with plain text; false when no clipboard exists.
    bool writeString(const QString& text);
    // The plain text on the pasteboard (empty when it holds none).
    QString string() const;
};

} // namespace kpv
