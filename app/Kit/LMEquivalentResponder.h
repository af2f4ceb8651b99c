#pragma once
// An object that receives the key, scroll, magnify and mouse-move events of the main window (and
// of the mini window) before the responder chain does. Mode controllers register themselves with
// the main window controller while their mode is shown. Every operation is optional: the default
// answers false, "not handled", and the event goes on to the next responder.

namespace kpv {
class Event;
}

class LMEquivalentResponder {
public:
    virtual ~LMEquivalentResponder() = default;
    virtual bool performKeyDownEquivalent(const kpv::Event&) { return false; }
    virtual bool performKeyUpEquivalent(const kpv::Event&) { return false; }
    virtual bool performScrollWheelEquivalent(const kpv::Event&) { return false; }
    virtual bool performMagnifyEquivalent(const kpv::Event&) { return false; }
    virtual bool performMouseMovedEquivalent(const kpv::Event&) { return false; }
};
