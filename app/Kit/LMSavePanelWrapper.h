#pragma once
// Runs a save panel with the Esc-ignore counter raised, so Esc reaches the panel.

#include "appkit/Panels.h"

#include <cstdint>
#include <functional>

class LMSavePanelWrapper {
public:
    // A platform error (std::exception) while the panel runs gives 0; anything else thrown is
    // passed on. The counter is lowered on every way out.
    std::int64_t runModalForSavePanel(kpv::SavePanel& panel);
    void savePanel(kpv::SavePanel& panel, kpv::Window* window, std::function<void(std::int64_t)> completionHandler);
};
