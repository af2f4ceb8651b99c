#include "Kit/LMOpenPanelWrapper.h"

#include "Kit/LMEventMonitorCenter.h"

std::int64_t LMOpenPanelWrapper::runModalForOpenPanel(kpv::OpenPanel& panel)
{
    LMIgnoreEscKeyScope scope;
    return panel.runModal();
}

void LMOpenPanelWrapper::openPanel(kpv::OpenPanel& panel, kpv::Window* window,
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
        center.decreaseCountForIgnoreEscKey(); // the sheet never began: nothing will lower it
        throw;
    }
}
