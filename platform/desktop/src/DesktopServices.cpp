#include "desktop/DesktopServices.h"

namespace kpv {

namespace {
DesktopServices* g_installed = nullptr;
}

DesktopServices& DesktopServices::shared()
{
    if (g_installed)
        return *g_installed;
    static GioDesktopServices gio;
    return gio;
}

void DesktopServices::setShared(DesktopServices* services) { g_installed = services; }

}  // namespace kpv
