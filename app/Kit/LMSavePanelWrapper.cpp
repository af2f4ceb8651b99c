#include "Kit/LMSavePanelWrapper.h"

#include "Kit/LMEventMonitorCenter.h"

#include <memory>

#include <exception>

std::int64_t LMSavePanelWrapper::runModalForSavePanel(kpv::SavePanel& panel)
{
    LMIgnoreEscKeyScope scope;
    try {
        return panel.runModal();
    } catch (const std::exception&) {
        return 0;
    }
}

void LMSavePanelWrapper::savePanel(kpv::SavePanel& panel, kpv::Window* window,
                                   std::function<void(std::int64_t)> handler)
{
    auto hold = std::make_shared<LMIgnoreEscKeyHold>();
    try {
        panel.beginSheetModalForWindow(window, [handler, hold](long result) {
            hold->release();
            if (handler)
                handler(result);
        });
    } catch (...) {
        hold->release(); // the sheet never began: nothing will lower it
        throw;
    }
}
