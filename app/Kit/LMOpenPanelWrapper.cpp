#include "Kit/LMOpenPanelWrapper.h"

#include "Kit/LMEventMonitorCenter.h"

#include <memory>

std::int64_t LMOpenPanelWrapper::runModalForOpenPanel(kpv::OpenPanel& panel)
{
    LMIgnoreEscKeyScope scope;
    return panel.runModal();
}

void LMOpenPanelWrapper::openPanel(kpv::OpenPanel& panel, kpv::Window* window,
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
