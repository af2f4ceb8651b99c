#pragma once
// Whether a window can be opened at all, asked before the toolkit starts: the toolkit ends the
// program with an abort (and a core file) when its window system cannot be reached, as when
// DISPLAY names an X server that has gone or that refuses this user.

#include <string>

namespace kpv {

// Why no window can be opened, as a sentence part ("the display “:9” does not answer"); empty
// when one may be. `display` is a display named on the command line, empty for the environment's.
// An X display is connected to and left again; Wayland, or another window system chosen through
// QT_QPA_PLATFORM, is left to the toolkit to judge.
std::string whyNoWindowSystem(const std::string& display = {});

} // namespace kpv
