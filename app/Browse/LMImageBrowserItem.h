#pragma once
// What the image browser asks of each item: a stable identifier for its picture cache and the
// path of the file whose picture it draws.

#include <QString>

class LMImageBrowserItem {
public:
    virtual ~LMImageBrowserItem() = default;
    virtual QString imageUID() const = 0;
    // The file path the browser draws the picture from.
    virtual QString imageRepresentation() const = 0;
    // Which of the files that stood at the path under this identifier the item stands for now
    // (another program may put a file there with the old date). A picture read when the item
    // answered otherwise is read again. Empty: the identifier alone tells.
    virtual QString imageVersion() const { return {}; }
};
