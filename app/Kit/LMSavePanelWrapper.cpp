#include "Kit/LMSavePanelWrapper.h"

#include "Kit/LMEventMonitorCenter.h"

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
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    center.increaseCountForIgnoreEscKey();
    try {
        panel.beginSheetModalForWindow(window, [handler](long result) {
            LMEventMonitorCenter::eventMonitorCenter().decreaseCountForIgnoreEscKey();
            if (handler)
                handler(result);
        });
    } catch (...) {
        center.decreaseCountForIgnoreEscKey();
        throw;
    }
}
