#pragma once
// Turns the signals that end a session (SIGTERM at log-out, SIGINT from a terminal, SIGHUP when
// the terminal goes) into an ordinary quit on the main thread, so that settings are saved and the
// private temporary folder and the single-instance socket are removed as on a quit from the menu.
//
// The signal handler only writes one byte to a pipe; the block runs from the event loop.
//
// A quit never cuts a photo's save short: the block of a termination signal waits until no save is
// at work (each holds a QuitWaitsFor), as Quit from the menu does, and the end of the process
// after a quit waits for them too, up to a deadline long enough for a large picture. When that
// deadline passes the process ends, but never while a file is being put in place: the temporary
// file beside the target is renamed or removed first, and the original is left as it was.

#include <atomic>
#include <functional>

namespace kpv {

// Installs the handlers once; a later call replaces the block. Call from the main thread after
// the application object exists. False when the pipe or a handler could not be set up.
// The block runs once no QuitWaitsFor is held (at once when none is).
bool quitOnTerminationSignals(std::function<void()> quit);

// Held by work that a quit must let finish: a photo being saved, from the moment it is asked for
// until its file is written or it failed. Any thread; release() or the destructor lets it go.
class QuitWaitsFor {
public:
    QuitWaitsFor();
    ~QuitWaitsFor();
    QuitWaitsFor(const QuitWaitsFor&) = delete;
    QuitWaitsFor& operator=(const QuitWaitsFor&) = delete;
    void release();

private:
    std::atomic<bool> m_held{true};
};
// How many QuitWaitsFor are held now.
int workQuitWaitsFor();
// Runs `block` now when no QuitWaitsFor is held, else on the main thread once the last is let go.
void whenNoQuitWaitsFor(std::function<void()> block);

// Around putting one file in place (its temporary file written, synced, then renamed over the
// target or removed): the process never ends in between. begin answers false once the process is
// ending; the caller then writes nothing.
bool beginPuttingFileInPlace();
void endPuttingFileInPlace();

// From then on, once a quit has begun (a termination signal arrived, or quitHasBegun() was
// called), the process ends within `seconds` whatever is still running: a worker blocked in the
// file system, or a main thread that never returns to its loop, cannot keep it alive. While a
// QuitWaitsFor is held the time runs from its release instead, but the process ends
// `savingSeconds` after the quit began at the latest (after a file being put in place is). It
// ends with `failureStatus` when that is not 0 (the status the program's ordinary end gives, such
// as files it could not open), else with 0 after an ordinary quit and 128 + the signal's number
// after a signal. Call once, from the main thread; false when the watch could not be set up.
bool endProcessWithinSecondsOfQuit(double seconds, double savingSeconds = 60, int failureStatus = 0);
// An ordinary quit has begun (the event loop is ending): the time of endProcessWithinSecondsOfQuit
// runs from now.
void quitHasBegun();
// True from the moment a termination signal arrives, before its block has run, or an ordinary
// quit has begun: nothing that would outlive the process is taken on from then. Any thread.
bool quitRequested();

} // namespace kpv
