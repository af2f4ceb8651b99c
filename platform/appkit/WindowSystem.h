#pragma once
// Whether a window can be opened at all, asked before the toolkit starts: the toolkit ends the
// program with an abort (and a core file) when its window system cannot be reached, as when
// DISPLAY names an X server that has gone or that refuses this user. And the end of a start
// that opened no window, for the desktop that waits for one.

#include <string>

namespace kpv {

// Why no window can be opened, as a sentence part ("the display “:9” does not answer"); empty
// when one may be. `display` is a display named on the command line, empty for the environment's.
// An X display is connected to and left again; Wayland, or another window system chosen through
// QT_QPA_PLATFORM, is left to the toolkit to judge.
std::string whyNoWindowSystem(const std::string& display = {});

// Ends the desktop's feedback of a start in progress (the busy pointer, the task bar's launching
// entry) for a start that shows no window of its own, as one that handed its files to the viewer
// already running: `startupId` is the DESKTOP_STARTUP_ID it was started with, read before the
// toolkit takes it. Without one, or without an X display, nothing is done.
void endStartupFeedback(const std::string& startupId);

} // namespace kpv
