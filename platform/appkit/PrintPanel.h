#pragma once
// The print panel, run as a sheet of a window. The begin operation is virtual so callers can be
// tested with a panel that answers at once.

#include "appkit/Window.h"

#include <functional>

namespace kpv {

class PrintPanel {
public:
    virtual ~PrintPanel() = default;
    // Shows the panel window-modal and returns at once; the handler gets 1 (print) or 0 (cancel).
    virtual void beginSheetWithPrintInfo(Window* window, std::function<void(long)> handler);
};

} // namespace kpv
