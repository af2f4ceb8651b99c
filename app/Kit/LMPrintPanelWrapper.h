#pragma once
// Runs the print panel as a sheet with a completion block, with the Esc-ignore counter raised
// while the sheet is up so Esc reaches the panel.

#include "appkit/PrintPanel.h"

#include <cstdint>
#include <functional>
#include <memory>

class LMPrintPanelWrapper {
public:
    LMPrintPanelWrapper() = default;
    ~LMPrintPanelWrapper();
    LMPrintPanelWrapper(const LMPrintPanelWrapper&) = delete;
    LMPrintPanelWrapper& operator=(const LMPrintPanelWrapper&) = delete;

    void printPanel(kpv::PrintPanel& panel, kpv::Window* window, std::function<void(long)> completionHandler);
    void printPanelDidEnd(long returnCode);
    int sheetsUp() const { return m_sheetsUp; }

private:
    // Lowers the Esc-ignore counter for one sheet that has ended; does nothing when none is up.
    void lowerSheetCount();

    std::function<void(long)> m_completeBlock;
    int m_sheetsUp = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
