// Log-out and Ctrl+C end the viewer through its ordinary quit.

#include "foundation/TerminationSignals.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>

namespace {

TEST(TerminationSignals, EachEndingSignalBecomesOneQuitOnTheEventLoop)
{
    static int argc = 1;
    static char name[] = "test_termination";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
    int quits = 0;
    ASSERT_TRUE(kpv::quitOnTerminationSignals([&] { ++quits; }));
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        const int before = quits;
        std::raise(sig);
        EXPECT_EQ(quits, before) << "the quit must wait for the event loop, not run in the handler";
        for (int i = 0; i < 200 && quits == before; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_EQ(quits, before + 1) << "signal " << sig;
    }
}

// Once a quit has begun, nothing holds the process past its time: here its only thread waits for
// good in the open of a pipe nobody writes to.
TEST(TerminationSignals, AQuitEndsTheProcessInTimeWhateverItIsWaitingFor)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray pipe = QFile::encodeName(dir.filePath(QStringLiteral("stuck.jpg")));
    ASSERT_EQ(::mkfifo(pipe.constData(), 0644), 0);
    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!kpv::endProcessWithinSecondsOfQuit(0.2))
            ::_exit(3);
        kpv::quitHasBegun();
        (void)::open(pipe.constData(), O_RDONLY); // blocks until a writer comes, which none does
        ::_exit(4);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 1000 && done == 0; ++i) { // ten seconds at most
        done = ::waitpid(child, &status, WNOHANG);
        if (done == 0)
            ::usleep(10000);
    }
    if (done == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the process was still there ten seconds after the quit began";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
