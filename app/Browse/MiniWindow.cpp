#include "Browse/MiniWindow.h"

#include "appkit/Color.h"

MiniWindow::MiniWindow(const kpv::Rect& contentRect, unsigned)
    : kpv::Window(contentRect, kpv::BorderlessWindowMask)
{
    setOpaque(false);
    setBackgroundColor(kpv::Color::clearColor());
    setMovableByWindowBackground(true);
}
