#pragma once
// The platform layer's side of TextInput.h: Qt's input-method events for a window, routed to its
// first responder's text input client.

class QEvent;

namespace kpv {

class Window;

// An input-method event or query that reached `window`'s widget; false when no view of it takes
// input-method text (Qt then answers as for any widget).
bool handleInputMethodEvent(Window* window, QEvent* event);
// Switches the input method on or off for the window's new first responder and tells it where
// the caret now is.
void firstResponderChanged(Window* window);

} // namespace kpv
