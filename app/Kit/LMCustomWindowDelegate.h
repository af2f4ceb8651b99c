#pragma once

#include "appkit/Event.h"

class LMCustomWindow;

// Offered a custom window's key-downs first.
class LMCustomWindowDelegate {
public:
    virtual ~LMCustomWindowDelegate() = default;
    // True when the delegate handled the key; the default leaves it to the window.
    virtual bool customWindow(LMCustomWindow*, const kpv::Event& /*keyDown*/) { return false; }
};
