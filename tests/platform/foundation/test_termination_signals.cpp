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

namespace {

// Runs `body` in a child process and waits for it to end, ten seconds at most; its exit status,
// or -1 when it had to be killed.
template <typename Body> int statusOfChild(Body body)
{
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0)
        return -2;
    if (child == 0) {
        body();
        for (;;)
            ::pause();
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 1000 && done == 0; ++i) {
        done = ::waitpid(child, &status, WNOHANG);
        if (done == 0)
            ::usleep(10000);
    }
    if (done == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

// A program that would end saying some of its files could not be opened says so when its quit
// runs out of time too.
TEST(TerminationSignals, AQuitEndedInTimeKeepsTheProgramsFailureStatus)
{
    EXPECT_EQ(statusOfChild([] {
                  if (!kpv::endProcessWithinSecondsOfQuit(0.1, 5, 1))
                      ::_exit(3);
                  kpv::quitHasBegun(); // and the main thread never comes back to its loop
              }),
              1);
}

void touch(const QByteArray& path) { ::close(::open(path.constData(), O_WRONLY | O_CREAT, 0644)); }

// A quit while a photo is being saved: the end waits for the save; when even the longest wait is
// over, a file being put in place is still finished first (its temporary file renamed or gone), and
// nothing is begun after it.
TEST(TerminationSignals, TheEndWaitsForASaveAndNeverFallsInsideAFileBeingPutInPlace)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray saved = QFile::encodeName(dir.filePath(QStringLiteral("saved")));
    const QByteArray placed = QFile::encodeName(dir.filePath(QStringLiteral("placed")));
    const QByteArray refused = QFile::encodeName(dir.filePath(QStringLiteral("refused")));

    EXPECT_EQ(statusOfChild([&] {
                  if (!kpv::endProcessWithinSecondsOfQuit(0.1, 5))
                      ::_exit(3);
                  kpv::QuitWaitsFor save;
                  kpv::quitHasBegun();
                  ::usleep(400000); // the save takes longer than the ordinary quit's time
                  touch(saved);
                  save.release();
              }),
              0);
    EXPECT_TRUE(QFile::exists(QFile::decodeName(saved))) << "the process ended with a save at work";

    EXPECT_EQ(statusOfChild([&] {
                  if (!kpv::endProcessWithinSecondsOfQuit(0.1, 0.4))
                      ::_exit(3);
                  kpv::QuitWaitsFor save; // never let go: the longest wait ends it
                  if (!kpv::beginPuttingFileInPlace())
                      ::_exit(4);
                  kpv::quitHasBegun();
                  ::usleep(800000); // past the longest wait, still putting the file in place
                  touch(placed);
                  kpv::endPuttingFileInPlace();
                  ::usleep(50000);
                  if (kpv::beginPuttingFileInPlace())
                      touch(refused);
              }),
              0);
    EXPECT_TRUE(QFile::exists(QFile::decodeName(placed))) << "the process ended while a file was being put in place";
    EXPECT_FALSE(QFile::exists(QFile::decodeName(refused))) << "a file was put in place after the end had begun";
}

} // namespace
