#pragma once

class LMSimButtonBase;

// Told when the mouse enters or leaves a view-based button; both optional.
class LMSimButtonBaseDelegate {
public:
    virtual ~LMSimButtonBaseDelegate() = default;
    virtual void simButtonBaseMouseEntered(LMSimButtonBase*) {}
    virtual void simButtonBaseMouseExited(LMSimButtonBase*) {}
};
