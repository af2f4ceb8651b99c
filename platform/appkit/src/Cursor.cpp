#include "appkit/Cursor.h"

#include <QGuiApplication>
#include <QPixmap>
#include <cmath>

namespace kpv {

Cursor::Cursor(const Image& image, Point hotSpot)
{
    const QImage& rep = image.bestRepresentation(1.0);
    const double s = image.scaleOfRepresentation(rep);
    QPixmap pm = QPixmap::fromImage(rep);
    pm.setDevicePixelRatio(s);
    m_cursor = QCursor(pm, int(std::lround(hotSpot.x)), int(std::lround(hotSpot.y)));
}

void Cursor::set() const
{
    if (QGuiApplication::overrideCursor())
        QGuiApplication::changeOverrideCursor(m_cursor);
}

void Cursor::hide()
{
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
}

void Cursor::unhide()
{
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

void Cursor::setHiddenUntilMouseMoves(bool hidden)
{
    // The pointer comes back with the next cursor update of the window under it.
    if (hidden)
        hide();
    else
        unhide();
}

} // namespace kpv
