#pragma once
// The general pasteboard: the clipboard of the desktop session. Files are written as file URLs
// (text/uri-list) and as the desktops' list of copied files, which file managers paste as copies;
// images as PNG and as an image of the window system, which image editors paste.

#include <QImage>
#include <QList>
#include <QUrl>

namespace kpv {

class Pasteboard {
public:
    static Pasteboard& generalPasteboard();
    // The selection of this desktop (the "primary selection"): what the user last selected, in
    // any program, which the middle button pastes. Where the desktop keeps none, the program keeps
    // its own, so a selection still pastes inside the program. Text only.
    static Pasteboard& selectionPasteboard();
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

private:
    explicit Pasteboard(bool selection = false) : m_selection(selection) {}
    bool m_selection;
    QString m_ownSelection; // where the desktop has no selection
};

} // namespace kpv
