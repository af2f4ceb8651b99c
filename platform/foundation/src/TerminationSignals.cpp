#include "foundation/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kpv {

namespace {

int g_pipe[2] = {-1, -1};
std::function<void()> g_quit;
QSocketNotifier* g_notifier = nullptr;

extern "C" void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!::write(g_pipe[1], &byte, 1);
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

} // namespace kpv
