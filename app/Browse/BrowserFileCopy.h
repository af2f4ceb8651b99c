#pragma once
// Copy in the grids (thumbnails and favourites): the selected photos' files go to the clipboard
// as file links, for pasting into a file manager. A file that another program took away since the
// grid was listed is left out and named, since a paste would find nothing there; when none is left
// or the clipboard cannot be reached, the clipboard keeps what it held.

#include "Model/LMPathString.h"

#include <QList>
#include <QString>

class BrowserFileCopy {
public:
    // Puts the files that are still there on the clipboard. Returns what the user must be told:
    // empty when every file went, else the message naming the files that did not and why.
    static QString copyFilesToPasteboard(const QList<LMPathString>& paths);
};
