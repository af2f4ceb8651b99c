#pragma once
// Mouse pointers: the standard shapes and image cursors with a hot spot.

#include "appkit/Geometry.h"
#include "appkit/Image.h"

#include <QCursor>

namespace kpv {

class Cursor {
public:
    Cursor() = default;
    explicit Cursor(const QCursor& c) : m_cursor(c) {}
    // An image cursor; the hot spot in points from the image's top-left corner.
    Cursor(const Image& image, Point hotSpot);

    static Cursor arrowCursor() { return Cursor(QCursor(Qt::ArrowCursor)); }
    static Cursor openHandCursor() { return Cursor(QCursor(Qt::OpenHandCursor)); }
    static Cursor closedHandCursor() { return Cursor(QCursor(Qt::ClosedHandCursor)); }
    static Cursor pointingHandCursor() { return Cursor(QCursor(Qt::PointingHandCursor)); }
    static Cursor IBeamCursor() { return Cursor(QCursor(Qt::IBeamCursor)); }
    static Cursor crosshairCursor() { return Cursor(QCursor(Qt::CrossCursor)); }
    static Cursor resizeLeftRightCursor() { return Cursor(QCursor(Qt::SizeHorCursor)); }
    static Cursor resizeUpDownCursor() { return Cursor(QCursor(Qt::SizeVerCursor)); }
    // Diagonals: "main" runs top-left to bottom-right, "anti" bottom-left to top-right.
    static Cursor resizeDiagonalMainCursor() { return Cursor(QCursor(Qt::SizeFDiagCursor)); }
    static Cursor resizeDiagonalAntiCursor() { return Cursor(QCursor(Qt::SizeBDiagCursor)); }
    static Cursor moveCursor() { return Cursor(QCursor(Qt::SizeAllCursor)); }

    const QCursor& qcursor() const { return m_cursor; }
    Qt::CursorShape shape() const { return m_cursor.shape(); }
    // Makes this the pointer shown now (until the next cursor rectangle or set).
    void set() const;
    static void hide();
    static void unhide();
    static void setHiddenUntilMouseMoves(bool hidden);

private:
    QCursor m_cursor{Qt::ArrowCursor};
};

} // namespace kpv
