#include "foundation/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
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

extern "C" void onTerminationSignal(int signal)
{
    const int saved = errno;
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
        if (g_quit)
            g_quit();
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

bool endProcessWithinSecondsOfQuit(double seconds)
{
    if (g_deadlinePipe[0] >= 0)
        return true;
    if (::pipe2(g_deadlinePipe, O_CLOEXEC) != 0) {
        g_deadlinePipe[0] = g_deadlinePipe[1] = -1;
        return false;
    }
    const int readEnd = g_deadlinePipe[0];
    // Waits, without a cost until then, for the first quit; then gives the ordinary quit its time.
    std::thread([readEnd, seconds] {
        char cause = 0;
        ssize_t n;
        do {
            n = ::read(readEnd, &cause, 1);
        } while (n < 0 && errno == EINTR);
        if (n != 1)
            return;
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        std::_Exit(cause == 0 ? 0 : 128 + int(cause));
    }).detach();
    return true;
}

void quitHasBegun()
{
    if (g_deadlinePipe[1] < 0)
        return;
    const char cause = 0;
    (void)!::write(g_deadlinePipe[1], &cause, 1);
}

} // namespace kpv
