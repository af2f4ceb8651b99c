// Log-out and Ctrl+C end the viewer through its ordinary quit.

#include "foundation/TerminationSignals.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <csignal>

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

} // namespace
