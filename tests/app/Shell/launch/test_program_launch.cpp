// The program started as a user starts it, with a photo on its command line, many times over: every
// start must come up with a window that takes the keyboard. Each start has a home, temporary and
// runtime folder of its own, so each is a first start. Keys are typed with xdotool, as a user
// would; without it, or without an X server, the test is skipped.
//
// KPV_LAUNCH_COUNT raises the number of starts (each round below makes that many);
// KPV_LAUNCH_PROGRAM runs another build of the program.

#include <QColor>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Generous: a start under the sanitizers on a loaded machine takes seconds.
constexpr int kWaitMs = 90000;

QString program()
{
    const QString chosen = qEnvironmentVariable("KPV_LAUNCH_PROGRAM");
    return chosen.isEmpty() ? QStringLiteral(KPV_VIEWER_PROGRAM) : chosen;
}

int startsPerRound()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("KPV_LAUNCH_COUNT", &ok);
    return ok && n > 0 ? n : 5;
}

// Runs xdotool on the test's display; its standard output, trimmed.
QString xdotool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(20000))
        p.kill();
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

class ProgramLaunch : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "no X server";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        if (!QFileInfo(program()).isExecutable())
            GTEST_SKIP() << "the program is not built";
    }

    // The window of the running program whose title names `name`, or an empty id once `deadline`
    // passes or the program ends.
    QString windowNaming(QProcess& viewer, const QString& name, const QDeadlineTimer& deadline)
    {
        const QString pid = QString::number(viewer.processId());
        while (!deadline.hasExpired() && viewer.state() == QProcess::Running) {
            const QStringList ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                             QStringLiteral("--pid"), pid}).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            for (const QString& id : ids) {
                if (xdotool({QStringLiteral("getwindowname"), id}).contains(name))
                    return id;
            }
            viewer.waitForFinished(100);
        }
        return {};
    }

    // One start: the window shows the first photo, Right shows the second, Ctrl+Q ends the program.
    void startOnce(int round, int start)
    {
        SCOPED_TRACE(testing::Message() << "round " << round << ", start " << start);
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const QDir dir(root.path());
        for (const char* sub : {"home", "tmp", "run", "photos"})
            ASSERT_TRUE(dir.mkpath(QString::fromLatin1(sub)));
        ::chmod(QFile::encodeName(dir.filePath(QStringLiteral("run"))).constData(), 0700);
        const QString photos = dir.filePath(QStringLiteral("photos"));
        QImage first(320, 240, QImage::Format_RGB32);
        first.fill(QColor(200, 40, 40));
        ASSERT_TRUE(first.save(photos + QStringLiteral("/first.png")));
        QImage second(240, 320, QImage::Format_RGB32);
        second.fill(QColor(40, 40, 200));
        ASSERT_TRUE(second.save(photos + QStringLiteral("/second.png")));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("TMPDIR"), dir.filePath(QStringLiteral("tmp")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_XCB_NO_XI2"), QStringLiteral("1"));
        // The program's own leak report is not this test's subject.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));

        QProcess viewer;
        viewer.setProcessEnvironment(env);
        viewer.start(program(), {photos + QStringLiteral("/first.png")});
        ASSERT_TRUE(viewer.waitForStarted(kWaitMs));
        const QDeadlineTimer deadline(kWaitMs);
        const QString window = windowNaming(viewer, QStringLiteral("first.png"), deadline);
        bool stepped = false;
        if (!window.isEmpty()) {
            xdotool({QStringLiteral("windowfocus"), window});
            xdotool({QStringLiteral("key"), QStringLiteral("Right")});
            stepped = !windowNaming(viewer, QStringLiteral("second.png"), QDeadlineTimer(kWaitMs)).isEmpty();
            xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")});
        }
        const bool ended = viewer.waitForFinished(kWaitMs);
        if (!ended) {
            viewer.kill();
            viewer.waitForFinished();
        }
        const QString errors = QString::fromLocal8Bit(viewer.readAllStandardError());
        EXPECT_FALSE(errors.contains(QStringLiteral("not created in the main() thread"))) << errors.toStdString();
        EXPECT_FALSE(window.isEmpty()) << "no window showed the photo\n" << errors.toStdString();
        EXPECT_TRUE(stepped) << "Right did not show the next photo\n" << errors.toStdString();
        EXPECT_TRUE(ended) << "Ctrl+Q did not end the program";
        EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(viewer.exitCode(), 0);
    }
};

TEST_P(ProgramLaunch, EveryStartTakesTheKeyboard)
{
    const int n = startsPerRound();
    for (int i = 0; i < n && !HasFailure(); ++i)
        ASSERT_NO_FATAL_FAILURE(startOnce(GetParam(), i));
}

INSTANTIATE_TEST_SUITE_P(Rounds, ProgramLaunch, ::testing::Range(0, 4));

} // namespace
