#pragma once

class LMButton;

// Told of a skinned button's mouse events; every operation optional.
class LMButtonDelegate {
public:
    virtual ~LMButtonDelegate() = default;
    virtual void buttonMouseDown(LMButton*) {}
    virtual void buttonMouseUp(LMButton*) {}
    virtual void buttonMouseEntered(LMButton*) {}
    virtual void buttonMouseExited(LMButton*) {}
};
