#include "Kit/LMPrintPanelWrapper.h"

#include "Kit/LMEventMonitorCenter.h"

LMPrintPanelWrapper::~LMPrintPanelWrapper()
{
    // A sheet still up when the wrapper goes will end into nothing: lower its count now so Esc
    // handling does not stay suspended for the rest of the run.
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    for (; m_sheetsUp > 0; --m_sheetsUp)
        center.decreaseCountForIgnoreEscKey();
    m_alive.reset();
}

void LMPrintPanelWrapper::printPanel(kpv::PrintPanel& panel, kpv::Window* window,
                                     std::function<void(long)> completionHandler)
{
    m_completeBlock = std::move(completionHandler);
    LMEventMonitorCenter::eventMonitorCenter().increaseCountForIgnoreEscKey();
    ++m_sheetsUp;
    std::weak_ptr<bool> alive = m_alive;
    // A sheet whose window goes away drops its completion unanswered; the drop lowers the count.
    auto ended = std::shared_ptr<bool>(new bool(false), [this, alive](bool* fired) {
        if (!*fired && !alive.expired())
            lowerSheetCount();
        delete fired;
    });
    try {
        panel.beginSheetWithPrintInfo(window, [this, alive, ended](long code) {
            *ended = true;
            if (!alive.expired())
                printPanelDidEnd(code);
        });
    } catch (...) {
        lowerSheetCount(); // the sheet never began: nothing will lower it
        throw;
    }
}

void LMPrintPanelWrapper::lowerSheetCount()
{
    if (m_sheetsUp > 0) {
        --m_sheetsUp;
        LMEventMonitorCenter::eventMonitorCenter().decreaseCountForIgnoreEscKey();
    }
}

void LMPrintPanelWrapper::printPanelDidEnd(long returnCode)
{
    lowerSheetCount();
    // The block often releases the wrapper itself: run a copy so it does not destroy the function
    // that is running. The wrapper keeps its own until the next begin or its end.
    if (std::function<void(long)> block = m_completeBlock)
        block(returnCode);
}
