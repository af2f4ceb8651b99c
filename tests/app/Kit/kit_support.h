#pragma once
// Helpers shared by the control-kit tests: a QApplication on the offscreen platform, a private
// resource folder searched before the real skin, and solid test images written into it.

#include <QColor>
#include <QImage>
#include <QString>

// The private resource folder (searched first by the bundle).
QString kitResourceDir();
// Writes "<name lower-cased>.png", a solid colour of w x h points (and "@2x" when asked), then
// makes the bundle see it.
void writeSkinImage(const QString& name, int w, int h, const QColor& color, bool with2x = false);
// Writes an arbitrary image under the name.
void writeSkinImage(const QString& name, const QImage& image);
// Removes every test image.
void clearSkinImages();
// Largest per-channel difference between two images of equal size; -1 when sizes differ.
int maxChannelDifference(const QImage& a, const QImage& b);
