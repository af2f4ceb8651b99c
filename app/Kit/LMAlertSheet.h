#pragma once
// An alert shown as a sheet with the Esc-ignore counter raised while it is up. The alert keeps
// what it needs alive until it ends, so callers may drop their reference at once.

#include "appkit/Panels.h"
#include "appkit/Window.h"

#include <QString>
#include <cstdint>
#include <functional>

class QMessageBox;

class LMAlertSheet {
public:
    using DidEndBlock = std::function<void(std::int32_t returnCode)>;

    // Any button title may be empty. The message is shown as plain text, as it stands. Esc
    // answers as the alternate button, or with kpv::AlertDismissedReturn when that button does
    // something of its own (AlertEscape::Dismiss). Returns the dialog (owned by the toolkit) so
    // tests and callers can reach it.
    QMessageBox* beginAlertSheet(const QString& title, const QString& defaultButton, const QString& alternateButton,
                                 const QString& otherButton, kpv::Window* docWindow, DidEndBlock didEndBlock,
                                 const QString& message, kpv::AlertEscape escape = kpv::AlertEscape::Alternate);
    // Lowers the counter and calls the block with the return code.
    static void alertSheetDidEnd(const DidEndBlock& block, std::int32_t returnCode);

private:
    DidEndBlock m_alertSheetDidEndBlock;
};
