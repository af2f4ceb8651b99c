#pragma once
// One image of the skin: its name (lower case, as the kit looks it up), its size in points and the
// vector code that paints it.

#include <QPainter>
#include <QRectF>

#include <functional>
#include <string>
#include <vector>

struct SkinImage {
    std::string name;
    int width; // points
    int height;
    std::function<void(QPainter&, QRectF)> paint;
};

// The main window's and the viewer's images: title bar and its buttons, window tile, empty state,
// Open button, arrows, drop shadow, the bad-image picture, tips and the photo bin's backgrounds.
void appendWindowSkin(std::vector<SkinImage>& images);

// Crop mode's rectangle frame, its guide lines and the preset list's tick.
void appendCropSkin(std::vector<SkinImage>& images);

// The favourites bin: empty bin, thumbnail frame, count badge; the thumbnails' placeholders.
void appendBinSkin(std::vector<SkinImage>& images);
