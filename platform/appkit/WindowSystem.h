#pragma once
// Whether a window can be opened at all, asked before the toolkit starts: the toolkit ends the
// program with an abort (and a core file) when its window system cannot be reached, as when
// DISPLAY names an X server that has gone or that refuses this user. And the end of a start
// that opened no window, for the desktop that waits for one.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

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

// The time of the user's action that made a start, as the desktop wrote it into the start's
// DESKTOP_STARTUP_ID after "_TIME" (an X server time); none when the id carries no such number.
std::optional<uint32_t> startupIdTime(const std::string& startupId);

// Brings `window` (its top-level window; may be null) forward for a start that the desktop made
// and that handed its files over, with that start's token, so a desktop that keeps windows from
// taking the focus unasked lets it come forward as it would a new window. On X11 the startup id's
// time becomes the window's user time and the time of its activation request, the id is set on
// the window, and the desktop's feedback for the start ends (also without a window). On Wayland
// the activation token goes with the toolkit's activation request, and the feedback of a startup
// id the start had as well ends. Without a token the window is raised and activated as before.
void activateForStart(QWidget* window, const std::string& startupId, const std::string& activationToken);

// Whether the desktop has taken `window` (its top-level window; may be null) off the screen while
// the toolkit still counts it shown: some X11 window managers minimise a window by marking it
// iconic and hiding its frame, and tell the toolkit nothing. True when its WM_STATE is Iconic or
// the window cannot be seen because its frame is not mapped. False for a hidden window, and
// without an X display.
bool isPutAwayByDesktop(const QWidget* window);

// Tells when the desktop changes its word about a top-level window on the display: the window
// manager its WM_STATE (normal, iconic or withdrawn), so the caller can ask isPutAwayByDesktop
// again instead of asking over and over, or the display whether other windows cover it
// entirely. `changed` runs on the main thread, from the toolkit's handling of the display's
// events. Without an X display it never runs. The watch ends with the object, which must not
// outlive `window`.
class DesktopStateWatch {
public:
    DesktopStateWatch(const QWidget* window, std::function<void()> changed);
    ~DesktopStateWatch();
    DesktopStateWatch(const DesktopStateWatch&) = delete;
    DesktopStateWatch& operator=(const DesktopStateWatch&) = delete;

    // To be called each time the window is shown and hidden: the display tells whether a window
    // is covered only once asked for that window, and the toolkit may have made a new one, or
    // taken back what was asked, while the window was hidden.
    void windowShown();
    void windowHidden();
    // Whether other windows cover all of it, as the display last said. Where a compositor draws
    // the desktop, the display never says so.
    bool isCoveredEntirely() const;

private:
    class Filter;
    std::unique_ptr<Filter> m_filter;
};

} // namespace kpv
