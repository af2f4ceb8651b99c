#pragma once
// Runs an open panel with the Esc-ignore counter raised, so Esc reaches the panel. A platform
// error while it runs modally is passed on; as a sheet it runs as the save panel wrapper runs one.

#include "appkit/Panels.h"

#include <cstdint>
#include <functional>

class LMOpenPanelWrapper {
public:
    // The counter is lowered on every way out, a thrown error included.
    std::int64_t runModalForOpenPanel(kpv::OpenPanel& panel);
    void openPanel(kpv::OpenPanel& panel, kpv::Window* window, std::function<void(std::int64_t)> completionHandler);
};
