#include "Kit/LMAlertSheet.h"

#include "Kit/LMEventMonitorCenter.h"
#include "appkit/Panels.h"

QMessageBox* LMAlertSheet::beginAlertSheet(const QString& title, const QString& defaultButton,
                                           const QString& alternateButton, const QString& otherButton,
                                           kpv::Window* docWindow, DidEndBlock didEndBlock, const QString& message)
{
    m_alertSheetDidEndBlock = std::move(didEndBlock);
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    center.increaseCountForIgnoreEscKey();
    DidEndBlock block = m_alertSheetDidEndBlock; // the sheet keeps its own copy
    try {
        return kpv::AlertSheet::begin(title, defaultButton, alternateButton, otherButton, docWindow,
                                      [block](long rc) { alertSheetDidEnd(block, std::int32_t(rc)); },
                                      message.isNull() ? QStringLiteral("") : message);
    } catch (...) {
        center.decreaseCountForIgnoreEscKey();
        throw;
    }
}

void LMAlertSheet::alertSheetDidEnd(const DidEndBlock& block, std::int32_t returnCode)
{
    LMEventMonitorCenter::eventMonitorCenter().decreaseCountForIgnoreEscKey();
    if (block)
        block(returnCode);
}
