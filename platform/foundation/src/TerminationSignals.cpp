#include "foundation/TerminationSignals.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kpv {

namespace {

int g_pipe[2] = {-1, -1};
// Written to when a quit begins (the signal's number, or 0); the watch reads it.
int g_deadlinePipe[2] = {-1, -1};
std::function<void()> g_quit;
QSocketNotifier* g_notifier = nullptr;

// Work a quit waits for, and the blocks waiting for it to end (run on the main thread).
std::atomic<int> g_work{0};
std::mutex g_waitingMutex;
std::vector<std::function<void()>> g_waiting;

// Files being put in place; kEnding once the process is about to end.
constexpr unsigned kEnding = 1u << 31;
std::atomic<unsigned> g_placing{0};

// Set in the signal handler itself, so that the event loop sees it before the signal's block runs.
std::atomic<bool> g_quitRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void runOnMainThread(std::function<void()> block)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

extern "C" void onTerminationSignal(int signal)
{
    const int saved = errno;
    g_quitRequested = true;
    const char byte = 1;
    (void)!::write(g_pipe[1], &byte, 1);
    if (g_deadlinePipe[1] >= 0) {
        const char sig = char(signal);
        (void)!::write(g_deadlinePipe[1], &sig, 1);
    }
    errno = saved;
}

} // namespace

bool quitOnTerminationSignals(std::function<void()> quit)
{
    g_quit = std::move(quit);
    if (g_notifier)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0)
        return false;
    g_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(g_notifier, &QSocketNotifier::activated, g_notifier, [] {
        char buffer[64];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
        // A save still at work is let finish first, its file written, as Quit from the menu does.
        whenNoQuitWaitsFor([] {
            if (g_quit)
                g_quit();
        });
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ok = ::sigaction(sig, &action, nullptr) == 0 && ok;
    return ok;
}

QuitWaitsFor::QuitWaitsFor()
{
    std::lock_guard lock(g_waitingMutex);
    ++g_work;
}

QuitWaitsFor::~QuitWaitsFor() { release(); }

void QuitWaitsFor::release()
{
    if (!m_held.exchange(false))
        return;
    std::vector<std::function<void()>> waiting;
    {
        std::lock_guard lock(g_waitingMutex);
        if (--g_work > 0)
            return;
        waiting.swap(g_waiting);
    }
    for (auto& block : waiting)
        runOnMainThread(std::move(block));
}

int workQuitWaitsFor() { return g_work.load(); }

void whenNoQuitWaitsFor(std::function<void()> block)
{
    {
        std::lock_guard lock(g_waitingMutex);
        if (g_work.load() > 0) {
            g_waiting.push_back(std::move(block));
            return;
        }
    }
    block();
}

bool beginPuttingFileInPlace()
{
    unsigned now = g_placing.load();
    do {
        if (now & kEnding)
            return false;
    } while (!g_placing.compare_exchange_weak(now, now + 1));
    return true;
}

void endPuttingFileInPlace() { --g_placing; }

bool endProcessWithinSecondsOfQuit(double seconds, double savingSeconds, int failureStatus)
{
    if (g_deadlinePipe[0] >= 0)
        return true;
    if (::pipe2(g_deadlinePipe, O_CLOEXEC) != 0) {
        g_deadlinePipe[0] = g_deadlinePipe[1] = -1;
        return false;
    }
    const int readEnd = g_deadlinePipe[0];
    // Waits, without a cost until then, for the first quit; then gives the ordinary quit its time.
    std::thread([readEnd, seconds, savingSeconds, failureStatus] {
        char cause = 0;
        ssize_t n;
        do {
            n = ::read(readEnd, &cause, 1);
        } while (n < 0 && errno == EINTR);
        if (n != 1)
            return;
        using Clock = std::chrono::steady_clock;
        const auto grace = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        const auto begun = Clock::now();
        const auto latest =
            begun + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::max(seconds, savingSeconds)));
        auto end = begun + grace;
        for (;;) {
            const auto now = Clock::now();
            // A save at work is let finish; the ordinary quit has its time after it.
            if (g_work.load() > 0)
                end = std::max(end, now + grace);
            if (now >= end || now >= latest)
                break;
            std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(50)));
        }
        // Nothing more is put in place, and a file being put in place is renamed or removed first,
        // so no temporary file stays behind (a write blocked for good is not waited for).
        g_placing.fetch_or(kEnding);
        const auto placingLimit = Clock::now() + std::chrono::seconds(10);
        while ((g_placing.load() & ~kEnding) != 0 && Clock::now() < placingLimit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::_Exit(failureStatus != 0 ? failureStatus : cause == 0 ? 0 : 128 + int(cause));
    }).detach();
    return true;
}

void quitHasBegun()
{
    g_quitRequested = true;
    if (g_deadlinePipe[1] < 0)
        return;
    const char cause = 0;
    (void)!::write(g_deadlinePipe[1], &cause, 1);
}

bool quitRequested()
{
    if (g_quitRequested.load())
        return true;
    // A signal sent while the process was stopped, or while every thread was busy, may wait in
    // the process's queue until some thread takes it: it counts from the moment it was sent.
    sigset_t pending;
    if (::sigpending(&pending) != 0)
        return false;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        if (::sigismember(&pending, sig) == 1)
            return true;
    return false;
}

} // namespace kpv
