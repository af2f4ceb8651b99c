// The single-instance socket: where it lives, who may use it, and that idle or foreign peers
// cannot take it over or starve it.

#include "../../support/ChildProcess.h"

#include "appkit/SingleInstance.h"
#include "foundation/Clock.h"
#include "foundation/FileNames.h"
#include "foundation/RunLoop.h"
#include "foundation/TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <cstdio>
#include <cstring>
#include <thread>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using kpv::SingleInstance;

// Puts the environment variables back as they were.
class EnvGuard {
public:
    explicit EnvGuard(std::vector<const char*> names)
    {
        for (const char* n : names)
            m_saved.push_back({n, qEnvironmentVariableIsSet(n), qgetenv(n)});
    }
    ~EnvGuard()
    {
        for (const auto& s : m_saved)
            s.set ? qputenv(s.name, s.value) : qunsetenv(s.name);
    }

private:
    struct Saved {
        const char* name;
        bool set;
        QByteArray value;
    };
    std::vector<Saved> m_saved;
};

void spinUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 500 && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A later start runs in its own process: here its hand-over runs on a thread of its own while the
// running one serves it on the main loop.
bool handOverFromAnotherStart(const SingleInstance& later, const QStringList& paths, int timeoutMs = 2000)
{
    std::atomic<int> result{-1};
    std::thread start([&] { result = later.handOver(paths, timeoutMs) ? 1 : 0; });
    while (result < 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    start.join();
    return result == 1;
}

class SingleInstanceTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(runtime.isValid());
        ASSERT_TRUE(temp.isValid());
        ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
        qputenv("DISPLAY", ":12");
        qunsetenv("WAYLAND_DISPLAY");
    }
    QString key() const { return QStringLiteral("kpv-si-%1").arg(QCoreApplication::applicationPid()); }

    EnvGuard env{{"XDG_RUNTIME_DIR", "TMPDIR", "DISPLAY", "WAYLAND_DISPLAY"}};
    QTemporaryDir runtime;
    QTemporaryDir temp;
};

TEST_F(SingleInstanceTest, SocketLivesInThePrivateRuntimeFolderPerDisplay)
{
    SingleInstance onTwelve(key());
    EXPECT_TRUE(onTwelve.serverName().startsWith(runtime.path() + u'/')) << onTwelve.serverName().toStdString();
    qputenv("DISPLAY", ":12.0");
    EXPECT_EQ(SingleInstance(key()).serverName(), onTwelve.serverName()) << "a screen of the same display";
    qputenv("DISPLAY", ":13");
    EXPECT_NE(SingleInstance(key()).serverName(), onTwelve.serverName());
    qputenv("WAYLAND_DISPLAY", "wayland-1");
    EXPECT_TRUE(SingleInstance(key()).serverName().endsWith(QStringLiteral("wayland-wayland-1")));
}

TEST_F(SingleInstanceTest, StartOnAnotherDisplayRunsThere)
{
    SingleInstance first(key());
    ASSERT_TRUE(first.listen([](const QStringList&) {}));
    qputenv("DISPLAY", ":13");
    SingleInstance other(key());
    EXPECT_FALSE(other.handOver({"/a.jpg"}, 200));
    EXPECT_TRUE(other.listen([](const QStringList&) {}));
}

TEST_F(SingleInstanceTest, UnsafeRuntimeFolderFallsBackToAPrivateOne)
{
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0777);
    const QString dir = SingleInstance::socketDirectory();
    EXPECT_EQ(dir, temp.path() + QStringLiteral("/kestrane-viewer-%1").arg(::getuid()));
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(dir).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstance::socketDirectory(), dir);
}

// A runtime folder that takes no file (read-only here) would leave every start without a viewer
// to find: the socket goes to the private fallback, where the next start looks as well.
TEST_F(SingleInstanceTest, AReadOnlyRuntimeFolderLeavesTheSocketWhereTheNextStartFindsIt)
{
    const QByteArray folder = QFile::encodeName(runtime.path());
    KPV_EXPECT_CHILD_PASSED(kpv::test::runWithOwnMounts([&] {
        ASSERT_EQ(::mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr), 0);
        ASSERT_EQ(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        const QString name = SingleInstance(key()).serverName();
        EXPECT_TRUE(name.startsWith(temp.path() + QStringLiteral("/kestrane-viewer-%1/").arg(::getuid())))
            << name.toStdString();
        EXPECT_EQ(SingleInstance(key()).serverName(), name) << "the next start looks elsewhere";
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(name);
        ASSERT_LT(size_t(native.size()), sizeof address.sun_path);
        std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        ::close(fd);
    }), "the kernel lets this user mount nothing here");
}

TEST_F(SingleInstanceTest, FolderPlantedBySomeoneElseIsRefused)
{
    qunsetenv("XDG_RUNTIME_DIR");
    const QString planted = temp.path() + QStringLiteral("/kestrane-viewer-%1").arg(::getuid());
    ASSERT_TRUE(QDir().mkpath(planted));
    ::chmod(QFile::encodeName(planted).constData(), 0777);
    SingleInstance instance(key());
    EXPECT_TRUE(instance.serverName().isEmpty());
    EXPECT_FALSE(instance.listen([](const QStringList&) {}));
    EXPECT_FALSE(instance.handOver({"/secret/a.jpg"}, 200));

    // A link to another folder is no private folder either.
    ASSERT_TRUE(QDir(planted).removeRecursively());
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QFile::link(elsewhere.path(), planted));
    EXPECT_TRUE(SingleInstance::socketDirectory().isEmpty());
}

TEST_F(SingleInstanceTest, IdleConnectionsAreDroppedAndCannotStarveTheViewer)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    QStringList got;
    {
        SingleInstance first(key());
        ASSERT_TRUE(first.listen([&](const QStringList& p) { got = p; }));
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < 3 * SingleInstance::kMaxOpenConnections; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(first.serverName());
            idle.back()->waitForConnected(500);
        }
        spinUntil([&] { return first.openConnectionCount() >= SingleInstance::kMaxOpenConnections; });
        spinUntil([] { return false; });  // let the surplus be refused
        EXPECT_LE(first.openConnectionCount(), SingleInstance::kMaxOpenConnections);

        clock.advance(SingleInstance::kConnectionTimeout);
        spinUntil([&] { return first.openConnectionCount() == 0; });
        EXPECT_EQ(first.openConnectionCount(), 0);
        int stillOpen = 0;
        for (auto& s : idle)
            stillOpen += s->state() == QLocalSocket::ConnectedState && s->waitForDisconnected(50) == false;
        EXPECT_EQ(stillOpen, 0);

        // The viewer still takes a real hand-over afterwards.
        SingleInstance second(key());
        EXPECT_TRUE(handOverFromAnotherStart(second, {"/photos/after.jpg"}));
        spinUntil([&] { return !got.isEmpty(); });
        EXPECT_EQ(got, QStringList{"/photos/after.jpg"});
    }
    kpv::RunLoop::main().setClock(nullptr);
}

TEST_F(SingleInstanceTest, AnotherUserCanNeitherSendNorReceive)
{
    // The runtime folder must let the other user reach the socket for this test to mean anything.
    SingleInstance first(key());
    bool received = false;
    ASSERT_TRUE(first.listen([&](const QStringList&) { received = true; }));
    ::chmod(QFile::encodeName(first.serverName()).constData(), 0777);
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0711);
    const QByteArray name = QFile::encodeName(QFileInfo(first.serverName()).fileName());
    const auto outcome = kpv::test::runAsAnotherUser(
        QFile::encodeName(runtime.path()).constData(),
        [&] {
            // Raw socket: the child must not touch Qt state copied from the parent.
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", name.constData());
            ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0)
                << "the foreign peer should at least reach the socket: " << std::strerror(errno);
            const char msg[] = "/intruder.jpg\n";
            (void)!::write(fd, msg, sizeof msg - 1);
            ::close(fd);
        },
        [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    KPV_EXPECT_CHILD_PASSED(outcome, "no second user id to be had here (neither root nor subordinate ids)");
    spinUntil([] { return false; });
    EXPECT_FALSE(received) << "paths of another user were taken";
}

TEST_F(SingleInstanceTest, PathsTravelBetweenStartsOfOneUser)
{
    SingleInstance first(key());
    QStringList got;
    int calls = 0;
    ASSERT_TRUE(first.listen([&](const QStringList& p) {
        got = p;
        ++calls;
    }));
    SingleInstance second(key());
    // Any bytes a name may hold: a new line, Latin-1, a broken sequence.
    const QString latin1 = kpv::decodeFileName("/photos/caf\xe9.jpg");
    const QString broken = kpv::decodeFileName("/photos/x\xc3(.jpg");
    // An address that is no file here arrives as typed, not as a file of that name in the
    // running viewer's folder, so that the viewer can say it only opens files of this computer.
    const QStringList sent{"/photos/a b.jpg", "/photos/two\nlines.png", latin1, broken,
                           "https://example.org/remote.jpg", "file://otherhost/photos/b.jpg"};
    EXPECT_TRUE(handOverFromAnotherStart(second, sent));
    spinUntil([&] { return !got.isEmpty(); });
    EXPECT_EQ(got, sent);
    EXPECT_EQ(kpv::encodeFileName(got.at(2)), QByteArray("/photos/caf\xe9.jpg"));

    // A later start without files brings the window forward: an empty list arrives.
    EXPECT_TRUE(handOverFromAnotherStart(second, {}));
    spinUntil([&] { return calls == 2; });
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(got.isEmpty());
    QStringList decoded{"x"};
    EXPECT_EQ(SingleInstance::decodePaths(SingleInstance::encodePaths({}), &decoded), SingleInstance::Message::Complete);
    EXPECT_TRUE(decoded.isEmpty());
    EXPECT_EQ(SingleInstance::decodePaths("/a.jpg\n", &decoded), SingleInstance::Message::Malformed);
}

// Started in a folder removed since, a relative name cannot be made whole: the start says so
// itself, and hands the rest over instead of opening a second viewer.
TEST_F(SingleInstanceTest, AStartInARemovedFolderStillHandsOver)
{
    SingleInstance first(key());
    QStringList got{"x"};
    int calls = 0;
    ASSERT_TRUE(first.listen([&](const QStringList& p) {
        got = p;
        ++calls;
    }));
    SingleInstance second(key());
    const QString before = QDir::currentPath();
    QStringList decoded;
    SingleInstance::Message state = SingleInstance::Message::Malformed;
    bool handed = false;
    {
        QTemporaryDir gone;
        ASSERT_TRUE(QDir::setCurrent(gone.path()));
        ASSERT_TRUE(gone.remove());
        state = SingleInstance::decodePaths(SingleInstance::encodePaths({".", "a.jpg", "/photos/b.jpg"}), &decoded);
        handed = handOverFromAnotherStart(second, {"."});
        ASSERT_TRUE(QDir::setCurrent(before));
    }
    EXPECT_EQ(state, SingleInstance::Message::Complete);
    EXPECT_EQ(decoded, QStringList{"/photos/b.jpg"});
    EXPECT_TRUE(handed);
    spinUntil([&] { return calls == 1; });
    EXPECT_TRUE(got.isEmpty());
}

TEST_F(SingleInstanceTest, TheDesktopsTokenForAStartTravelsWithItsPaths)
{
    using Activation = SingleInstance::Activation;
    SingleInstance first(key());
    QStringList got;
    Activation token;
    int calls = 0;
    ASSERT_TRUE(first.listen([&](const QStringList& p, const Activation& a) {
        got = p;
        token = a;
        ++calls;
    }));
    SingleInstance second(key());
    const auto handOver = [&](const QStringList& paths, const Activation& activation, bool* taken) {
        std::atomic<int> result{-1};
        std::thread start([&] { result = second.handOver(paths, activation, taken) ? 1 : 0; });
        while (result < 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        start.join();
        const int before = calls;
        spinUntil([&] { return calls > before; });
        return result == 1;
    };

    // With a token, the viewer takes it over and says so: the start leaves the desktop to it.
    bool taken = false;
    EXPECT_TRUE(handOver({"/photos/a.jpg"}, {"kde-launch/1-2_TIME4200", "a1b2-c3"}, &taken));
    EXPECT_TRUE(taken);
    EXPECT_EQ(got, QStringList{"/photos/a.jpg"}) << "the token is no path";
    EXPECT_EQ(token.startupId, "kde-launch/1-2_TIME4200");
    EXPECT_EQ(token.activationToken, "a1b2-c3");

    // Without one, or from a start that sends none, all is as before.
    EXPECT_TRUE(handOver({}, {}, &taken));
    EXPECT_FALSE(taken);
    EXPECT_TRUE(got.isEmpty());
    EXPECT_TRUE(token.isEmpty());

    // A hostile token (too long, control bytes, not ASCII) is not taken; the files still are.
    const QByteArray tooLong(SingleInstance::kMaxTokenBytes + 1, 'x');
    EXPECT_TRUE(handOver({"/photos/b.jpg"}, {tooLong, QByteArray("a\nb\x01\xff", 5)}, &taken));
    EXPECT_FALSE(taken);
    EXPECT_EQ(got, QStringList{"/photos/b.jpg"});
    EXPECT_TRUE(token.isEmpty());
    QByteArray forged = SingleInstance::encodePaths({"/photos/c.jpg"});
    const QByteArray entry = "startup-id=" + QByteArray("q\"\x07z", 4);
    forged[11] = 2;
    forged += QByteArray("\0\0\0", 3) + char(entry.size()) + entry;
    Activation decoded{"stale", "stale"};
    QStringList paths;
    EXPECT_EQ(SingleInstance::decodePaths(forged, &paths, &decoded), SingleInstance::Message::Complete);
    EXPECT_EQ(paths, QStringList{"/photos/c.jpg"});
    EXPECT_TRUE(decoded.isEmpty());

    // A viewer that does not take tokens over answers the short way: the start ends its own
    // feedback. The token rides in an entry such a viewer drops as a relative path.
    first.stopListening();
    SingleInstance older(key());
    ASSERT_TRUE(older.listen([&](const QStringList& p) {
        got = p;
        ++calls;
    }));
    EXPECT_TRUE(handOver({"/photos/d.jpg"}, {"id_TIME1", {}}, &taken));
    EXPECT_FALSE(taken);
    EXPECT_EQ(got, QStringList{"/photos/d.jpg"});
    EXPECT_FALSE(QDir::isAbsolutePath(QString::fromLatin1(
        SingleInstance::encodePaths({}, {"id_TIME1", {}}).mid(16))));
}

TEST_F(SingleInstanceTest, ABusyViewerRefusesInsteadOfDroppingTheFiles)
{
    kpv::ManualClock clock;
    kpv::RunLoop::main().setClock(&clock);
    {
        SingleInstance first(key());
        int deliveries = 0;
        ASSERT_TRUE(first.listen([&](const QStringList&) { ++deliveries; }));
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < SingleInstance::kMaxOpenConnections; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(first.serverName());
            idle.back()->waitForConnected(500);
        }
        spinUntil([&] { return first.openConnectionCount() >= SingleInstance::kMaxOpenConnections; });
        SingleInstance later(key());
        EXPECT_FALSE(handOverFromAnotherStart(later, {"/photos/a.jpg"}, 500)) << "files dropped but reported taken";
        EXPECT_EQ(deliveries, 0);
    }
    kpv::RunLoop::main().setClock(nullptr);
}

// A viewer stopped or hung past a later start's wait: the start gave up and showed its files
// itself. Once the viewer runs again it finds the start's message, but does not open the files a
// second time, leaving the photo the user was on.
TEST_F(SingleInstanceTest, FilesOfAStartThatStoppedWaitingAreNotOpenedAgain)
{
    SingleInstance first(key());
    int deliveries = 0;
    ASSERT_TRUE(first.listen([&](const QStringList&) { ++deliveries; }));
    SingleInstance later(key());
    // The viewer's loop does not run meanwhile: it cannot answer.
    EXPECT_FALSE(later.handOver({"/photos/a.jpg"}, 300));
    spinUntil([&] { return deliveries > 0; });
    EXPECT_EQ(deliveries, 0) << "opened by both";
    EXPECT_TRUE(handOverFromAnotherStart(later, {"/photos/b.jpg"}));
    EXPECT_EQ(deliveries, 1);
}

TEST_F(SingleInstanceTest, QuittingWithLaterStartsConnectedCallsNobody)
{
    auto receiver = std::make_unique<QStringList>();
    auto first = std::make_unique<SingleInstance>(key());
    QStringList* target = receiver.get();
    ASSERT_TRUE(first->listen([target](const QStringList& p) { *target = p; }));
    // One later start has said half of its message, another nothing yet.
    QLocalSocket half, silent;
    half.connectToServer(first->serverName());
    silent.connectToServer(first->serverName());
    ASSERT_TRUE(half.waitForConnected(500) && silent.waitForConnected(500));
    half.write(SingleInstance::encodePaths({"/photos/a.jpg"}).left(10));
    half.flush();
    spinUntil([&] { return first->openConnectionCount() == 2; });
    // The delegate goes first, as at the end of main; then the listener.
    receiver.reset();
    first->stopListening();
    first.reset();
    spinUntil([] { return false; });
    SUCCEED();
}

TEST_F(SingleInstanceTest, ALaterStartArrivingAsTheViewerQuitsOpensItsOwnFiles)
{
    // The signal marks the process for good: the case runs in a process of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SingleInstance first(key());
            int deliveries = 0;
            const bool listening = first.listen([&](const QStringList&) { ++deliveries; });
            // The signal has arrived; its block, which would stop listening, has not run yet.
            kpv::quitOnTerminationSignals([] {});
            ::raise(SIGTERM);
            SingleInstance later(key());
            const bool taken = handOverFromAnotherStart(later, {"/photos/a.jpg"}, 500);
            std::fprintf(stderr, "listening %d taken %d deliveries %d\n", listening, taken, deliveries);
            std::_Exit(listening && !taken && deliveries == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "listening 1 taken 0 deliveries 0");
}

} // namespace
