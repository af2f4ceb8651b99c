#pragma once
// Turns the signals that end a session (SIGTERM at log-out, SIGINT from a terminal, SIGHUP when
// the terminal goes) into an ordinary quit on the main thread, so that settings are saved and the
// private temporary folder and the single-instance socket are removed as on a quit from the menu.
//
// The signal handler only writes one byte to a pipe; the block runs from the event loop.

#include <functional>

namespace kpv {

// Installs the handlers once; a later call replaces the block. Call from the main thread after
// the application object exists. False when the pipe or a handler could not be set up.
bool quitOnTerminationSignals(std::function<void()> quit);

// From then on, once a quit has begun (a termination signal arrived, or quitHasBegun() was
// called), the process ends within `seconds` whatever is still running: a worker blocked in the
// file system, or a main thread that never returns to its loop, cannot keep it alive. It ends
// with status 0 after an ordinary quit and 128 + the signal's number after a signal. Call once,
// from the main thread; false when the watch could not be set up.
bool endProcessWithinSecondsOfQuit(double seconds);
// An ordinary quit has begun (the event loop is ending): the time of endProcessWithinSecondsOfQuit
// runs from now.
void quitHasBegun();

} // namespace kpv
