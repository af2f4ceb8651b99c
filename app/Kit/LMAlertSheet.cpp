#include "Kit/LMAlertSheet.h"

#include "Kit/LMEventMonitorCenter.h"
#include "appkit/Panels.h"

#include <memory>

QMessageBox* LMAlertSheet::beginAlertSheet(const QString& title, const QString& defaultButton,
                                           const QString& alternateButton, const QString& otherButton,
                                           kpv::Window* docWindow, DidEndBlock didEndBlock, const QString& message,
                                           kpv::AlertEscape escape)
{
    m_alertSheetDidEndBlock = std::move(didEndBlock);
    auto hold = std::make_shared<LMIgnoreEscKeyHold>();
    DidEndBlock block = m_alertSheetDidEndBlock; // the sheet keeps its own copy
    try {
        return kpv::AlertSheet::begin(title, defaultButton, alternateButton, otherButton, docWindow,
                                      [block, hold](long rc) {
                                          hold->release();
                                          if (block)
                                              block(std::int32_t(rc));
                                      },
                                      message.isNull() ? QStringLiteral("") : message, escape);
    } catch (...) {
        hold->release();
        throw;
    }
}

void LMAlertSheet::alertSheetDidEnd(const DidEndBlock& block, std::int32_t returnCode)
{
    LMEventMonitorCenter::eventMonitorCenter().decreaseCountForIgnoreEscKey();
    if (block)
        block(returnCode);
}
