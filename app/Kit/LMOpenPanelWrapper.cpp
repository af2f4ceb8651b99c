#include "Kit/LMOpenPanelWrapper.h"

#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMSavePanelWrapper.h"

std::int64_t LMOpenPanelWrapper::runModalForOpenPanel(kpv::OpenPanel& panel)
{
    LMIgnoreEscKeyScope scope;
    return panel.runModal();
}

void LMOpenPanelWrapper::openPanel(kpv::OpenPanel& panel, kpv::Window* window,
                                   std::function<void(std::int64_t)> handler)
{
    // An open panel runs as a sheet exactly as a save panel does.
    LMSavePanelWrapper().savePanel(panel, window, std::move(handler));
}
