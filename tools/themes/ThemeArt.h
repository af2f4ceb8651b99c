// The pictures and the music of the shipped themes, drawn and played in code.
#ifndef KPV_TOOLS_THEMES_THEMEART_H
#define KPV_TOOLS_THEMES_THEMEART_H

#include <QImage>
#include <QString>

#include "Themes.h"

namespace themes {

QImage drawBackground(const Theme& theme);
// What edges the backdrop far out: its top colour above, its bottom colour below, and its
// gradient beside it.
enum class BackgroundEdge { Above, Below, Side };
QImage drawBackgroundEdge(const Theme& theme, BackgroundEdge edge);
// White where the photo shows, clear outside, with soft rounded corners.
QImage drawMask(const Theme& theme);
// The paper or card a photo sits on.
QImage drawCard(const Theme& theme);
QImage drawCover(const Theme& theme);
// A small picture of the theme for the theme menu.
QImage drawThumbnail(const Theme& theme);
// The theme's music as 16-bit mono PCM in a RIFF WAVE file; false when it cannot be written.
bool writeMusic(const Theme& theme, const QString& path);

}  // namespace themes

#endif
