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
};
