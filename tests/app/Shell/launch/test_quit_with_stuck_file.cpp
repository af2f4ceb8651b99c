// A pipe named like a photo ("stuck.jpg") among the photos, in every mode the program has: the
// viewer, the thumbnail grid, the photo bin, the slideshow with a flat and with a 3D theme, the
// favourites, printing and the two batch sheets. The program is started as a user starts it and
// driven with xdotool onto the pipe; it must never open the pipe in a way that waits for a writer
// (no thread of it may sleep in the kernel's wait for the pipe's other end), and Quit (Ctrl+Q) as
// well as SIGTERM must end it. The time from the quit to the end is printed; the test fails only
// when the program is still there after a generous limit. Without xdotool or an X server the test
// is skipped.
//
// The pipe is made after the program has listed the folder (a listing leaves pipes out): it stands
// for a photo that another program replaced by a pipe while the viewer was open.

#include <QColor>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Generous: a start under the sanitizers on a loaded machine takes seconds.
constexpr int kStartMs = 90000;
// The program must be gone long before this; the measured time is what counts.
constexpr int kQuitLimitMs = 10000;

enum class Mode { Viewer, Grid, PhotoBin, Slideshow2D, Slideshow3D, Favourites, Print, BatchConvert, BatchResize };
enum class Quit { CtrlQ, Sigterm };

const char* name(Mode m)
{
    switch (m) {
    case Mode::Viewer: return "Viewer";
    case Mode::Grid: return "Grid";
    case Mode::PhotoBin: return "PhotoBin";
    case Mode::Slideshow2D: return "Slideshow2D";
    case Mode::Slideshow3D: return "Slideshow3D";
    case Mode::Favourites: return "Favourites";
    case Mode::Print: return "Print";
    case Mode::BatchConvert: return "BatchConvert";
    default: return "BatchResize";
    }
}

QString xdotool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(20000))
        p.kill();
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

void pause(int ms)
{
    QThread::msleep(ms);
}

struct Window {
    QString id;
    QSize size;
};

class QuitWithStuckFile : public ::testing::TestWithParam<std::tuple<Mode, Quit>> {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "no X server";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        if (!QFileInfo(QStringLiteral(KPV_VIEWER_PROGRAM)).isExecutable())
            GTEST_SKIP() << "the program is not built";
        ASSERT_TRUE(root.isValid());
        const QDir dir(root.path());
        for (const char* sub : {"home", "home/.config/kestrane-viewer", "tmp", "run", "photos"})
            ASSERT_TRUE(dir.mkpath(QString::fromLatin1(sub)));
        ::chmod(QFile::encodeName(dir.filePath(QStringLiteral("run"))).constData(), 0700);
        photos = dir.filePath(QStringLiteral("photos"));
        // Seven photos, and the one that becomes a pipe last in the folder's order.
        for (int i = 1; i <= 7; ++i) {
            QImage image(320, 240, QImage::Format_RGB32);
            image.fill(QColor::fromHsv(i * 45, 160, 200));
            ASSERT_TRUE(image.save(photos + QStringLiteral("/p%1.jpg").arg(i)));
        }
        ASSERT_TRUE(QFile::copy(photos + QStringLiteral("/p1.jpg"), stuck()));
        // The slideshow makes no sound and takes the theme under test.
        const bool threeD = std::get<0>(GetParam()) == Mode::Slideshow3D;
        QFile settings(dir.filePath(QStringLiteral("home/.config/kestrane-viewer/settings.json")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(threeD ? R"({"slideshowVolumeMode": 1, "loveTipsAlreadyShowed": 1,
                                    "CurSlideShowThemeID": {"SlideshowType": 1, "ThemeID": 11, "ThemeGroupID": 2}})"
                              : R"({"slideshowVolumeMode": 1, "loveTipsAlreadyShowed": 1})");
    }
    void TearDown() override
    {
        if (viewer.state() != QProcess::NotRunning) {
            viewer.kill();
            viewer.waitForFinished();
        }
    }

    QString stuck() const { return photos + QStringLiteral("/stuck.jpg"); }
    QString stderrFile() const { return root.filePath(QStringLiteral("viewer-stderr.txt")); }
    std::string programSaid() const
    {
        QFile f(stderrFile());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const qint64 keep = 16 * 1024;
        if (f.size() > keep)
            f.seek(f.size() - keep);
        return f.readAll().toStdString();
    }
    void replaceByPipe()
    {
        ASSERT_EQ(::unlink(QFile::encodeName(stuck()).constData()), 0);
        ASSERT_EQ(::mkfifo(QFile::encodeName(stuck()).constData(), 0644), 0);
    }

    void start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* n : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
            env.remove(QString::fromLatin1(n));
        const QDir dir(root.path());
        env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("TMPDIR"), dir.filePath(QStringLiteral("tmp")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_XCB_NO_XI2"), QStringLiteral("1"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        // No sound device: the music of a slideshow goes nowhere.
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent"));
        env.insert(QStringLiteral("GST_PLUGIN_FEATURE_RANK"),
                   QStringLiteral("pulsesink:0,alsasink:0,osssink:0,oss4sink:0,jackaudiosink:0,pipewiresink:0,openalsink:0"));
        viewer.setProcessEnvironment(env);
        // Into a file rather than a pipe: the test reads a pipe only while it waits for the
        // program, and a program that says much during a pause would stop on a full pipe.
        viewer.setStandardErrorFile(stderrFile());
        viewer.start(QStringLiteral(KPV_VIEWER_PROGRAM), {photos + QStringLiteral("/p1.jpg")});
        ASSERT_TRUE(viewer.waitForStarted(kStartMs));
    }

    QList<Window> windows()
    {
        QList<Window> out;
        const QStringList ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                         QString::number(viewer.processId())})
                                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& id : ids) {
            const QStringList g = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id})
                                      .split(QLatin1Char('\n'));
            Window w{id, {}};
            for (const QString& line : g) {
                if (line.startsWith(QLatin1String("WIDTH=")))
                    w.size.setWidth(line.mid(6).toInt());
                if (line.startsWith(QLatin1String("HEIGHT=")))
                    w.size.setHeight(line.mid(7).toInt());
            }
            out << w;
        }
        return out;
    }

    // The window whose title names `text`, waiting until `ms` passes.
    QString windowNaming(const QString& text, int ms)
    {
        const QDeadlineTimer deadline(ms);
        do {
            for (const Window& w : windows())
                if (xdotool({QStringLiteral("getwindowname"), w.id}).contains(text))
                    return w.id;
            viewer.waitForFinished(100);
        } while (!deadline.hasExpired() && viewer.state() == QProcess::Running);
        return {};
    }

    // The first window of the program, other than those of `known`, that shows before `ms` passes
    // (menus, sheets and alerts are windows of their own); `width` picks one of that width.
    Window newWindow(const QStringList& known, int ms, int width = 0)
    {
        const QDeadlineTimer deadline(ms);
        do {
            for (const Window& w : windows())
                if (!known.contains(w.id) && (width == 0 || w.size.width() == width))
                    return w;
            viewer.waitForFinished(100);
        } while (!deadline.hasExpired() && viewer.state() == QProcess::Running);
        return {};
    }

    // Whether the window `id` is gone (or hidden) before `ms` passes.
    bool windowGone(const QString& id, int ms)
    {
        const QDeadlineTimer deadline(ms);
        do {
            bool shown = false;
            for (const Window& w : windows())
                shown = shown || w.id == id;
            if (!shown)
                return true;
            viewer.waitForFinished(100);
        } while (!deadline.hasExpired() && viewer.state() == QProcess::Running);
        return false;
    }

    // Types `key` until the main window's title names `text` (X drops keys typed before the
    // window holds the focus).
    bool typeUntilTitle(const QString& key, const QString& text)
    {
        const QDeadlineTimer deadline(kStartMs);
        while (!deadline.hasExpired() && viewer.state() == QProcess::Running) {
            xdotool({QStringLiteral("windowfocus"), mainWindow});
            xdotool({QStringLiteral("key"), key});
            if (!windowNaming(text, 3000).isEmpty())
                return true;
        }
        return false;
    }

    // What the program's windows show, for a step that failed: each visible window's id, size and
    // title, whether the program still runs, and a picture of the screen beside the test's output
    // (when ImageMagick's `import` is there), named after the case.
    std::string windowsState(const char* step)
    {
        QString out = QStringLiteral("the windows at \"%1\" (program %2):").arg(QString::fromLatin1(step),
            viewer.state() == QProcess::Running ? QStringLiteral("running")
            : QStringLiteral("ended, %1 %2; it said:\n%3")
                  .arg(viewer.exitStatus() == QProcess::CrashExit ? QStringLiteral("crashed, signal") : QStringLiteral("exit code"))
                  .arg(viewer.exitCode())
                  .arg(QString::fromStdString(programSaid())));
        for (const Window& w : windows())
            out += QStringLiteral("\n  %1 %2x%3 \"%4\"%5").arg(w.id).arg(w.size.width()).arg(w.size.height())
                       .arg(xdotool({QStringLiteral("getwindowname"), w.id}),
                            w.id == mainWindow ? QStringLiteral(" (main)") : QString());
        const QString focus = xdotool({QStringLiteral("getwindowfocus")});
        out += QStringLiteral("\n  focus: %1; the pipe is %2").arg(focus,
            QFileInfo(stuck()).isFile() ? QStringLiteral("still a file") : QStringLiteral("in place"));
        if (!QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty()) {
            const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
            QString shot = QStringLiteral("quit_with_stuck_file-%1.png").arg(QString::fromLatin1(info->name()));
            shot.replace(QLatin1Char('/'), QLatin1Char('-'));
            QProcess p;
            p.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), shot});
            if (p.waitForFinished(20000) && p.exitCode() == 0)
                out += QStringLiteral("\n  screen: %1").arg(QDir::current().absoluteFilePath(shot));
        }
        return out.toStdString();
    }

    void point(const QString& window, int x, int y)
    {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x), QString::number(y)});
        pause(250);
    }

    void click(const QString& window, int x, int y)
    {
        point(window, x, y);
        xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        pause(100);
        xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        pause(300);
    }

    // A menu of the menu bar, then its item (positions in the window, as this desktop draws them).
    void menuItem(int menuX, int itemY, int itemX = 110)
    {
        click(mainWindow, menuX, 9);
        click(mainWindow, itemX, itemY);
    }

    // Whether a thread of the program sleeps in an open of a pipe that waits for a writer.
    QString threadWaitingForPipe() const
    {
        const QDir tasks(QStringLiteral("/proc/%1/task").arg(viewer.processId()));
        for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile wchan(tasks.filePath(task + QStringLiteral("/wchan")));
            if (!wchan.open(QIODevice::ReadOnly))
                continue;
            const QByteArray where = wchan.readAll();
            if (where.contains("wait_for_partner") || where.contains("fifo"))
                return task + QStringLiteral(": ") + QString::fromLatin1(where);
        }
        return {};
    }

    void expectNoThreadWaitingForThePipe(const char* when)
    {
        const QString waiting = threadWaitingForPipe();
        EXPECT_TRUE(waiting.isEmpty()) << "a thread opened the pipe and waits for a writer " << when << ": "
                                       << waiting.toStdString();
    }

    // Another program replaces the last photo by a pipe, and the user presses `key`, which steps
    // onto it. On a busy machine the program may notice the pipe, and leave it out of its list,
    // before it takes the key: the photo is then put back, the viewer led `back` to where it was
    // once its list holds the eight again, and the step tried again.
    void pipeThenStepOnto(const QString& key, const std::function<bool()>& back)
    {
        bool onThePipe = false;
        for (int attempt = 0; attempt < 3 && !onThePipe; ++attempt) {
            if (attempt > 0) {
                ASSERT_EQ(::unlink(QFile::encodeName(stuck()).constData()), 0);
                ASSERT_TRUE(QFile::copy(photos + QStringLiteral("/p1.jpg"), stuck()));
                ASSERT_FALSE(windowNaming(QStringLiteral("/8)"), kStartMs).isEmpty()) << windowsState("photo put back");
                ASSERT_TRUE(back()) << windowsState("back");
            }
            ASSERT_NO_FATAL_FAILURE(replaceByPipe());
            xdotool({QStringLiteral("windowfocus"), mainWindow});
            xdotool({QStringLiteral("key"), key});
            onThePipe = !windowNaming(QStringLiteral("stuck.jpg"), 10000).isEmpty();
        }
        ASSERT_TRUE(onThePipe) << "the step did not reach the pipe; " << windowsState(key.toLatin1().constData());
    }

    // Onto the pipe: at once, or, `whileShown`, after the viewer has shown the photo once (it is
    // replaced while the viewer is one photo back).
    void driveOntoThePipe(Mode mode, bool whileShown)
    {
        const auto toFirst = [&] { return typeUntilTitle(QStringLiteral("Home"), QStringLiteral("p1.jpg")); };
        const auto shownThenBack = [&] {
            if (!typeUntilTitle(QStringLiteral("End"), QStringLiteral("stuck.jpg")))
                return false;
            pause(800);
            return typeUntilTitle(QStringLiteral("Left"), QStringLiteral("p7.jpg"));
        };
        if (!whileShown) {
            ASSERT_NO_FATAL_FAILURE(pipeThenStepOnto(QStringLiteral("End"), toFirst));
        } else {
            ASSERT_TRUE(shownThenBack()) << windowsState("End, Left");
            ASSERT_NO_FATAL_FAILURE(pipeThenStepOnto(QStringLiteral("Right"), shownThenBack));
        }
        pause(800);
        switch (mode) {
        case Mode::Viewer:
            break;
        case Mode::Grid:
            xdotool({QStringLiteral("key"), QStringLiteral("ctrl+t")});
            pause(2000);
            break;
        case Mode::PhotoBin:
            // One back: the bin beside the picture holds the pipe's thumbnail.
            ASSERT_TRUE(typeUntilTitle(QStringLiteral("Left"), QStringLiteral("p7.jpg"))) << windowsState("Left");
            pause(1500);
            break;
        case Mode::Slideshow2D:
        case Mode::Slideshow3D:
            menuItem(97, 207, 140); // View > Slideshow
            {
                // Once up, the slideshow hides the window that names the photo; it then runs a
                // while on the pipe.
                bool started = false;
                const QDeadlineTimer deadline(kStartMs);
                while (!started && !deadline.hasExpired() && viewer.state() == QProcess::Running)
                    started = windowNaming(QStringLiteral("stuck.jpg"), 0).isEmpty();
                EXPECT_TRUE(started) << "the slideshow did not start; " << windowsState("slideshow");
                pause(3000);
            }
            break;
        case Mode::Favourites:
            menuItem(56, 121); // Edit > I Love It
            pause(1500);
            menuItem(56, 143); // Edit > My Favorites (I Love It has become Remove)
            pause(2000);
            break;
        case Mode::Print:
            xdotool({QStringLiteral("key"), QStringLiteral("ctrl+p")});
            pause(2000);
            break;
        case Mode::BatchConvert:
        case Mode::BatchResize: {
            // Each menu is a window of its own, open once the program gets to it: the pointer moves
            // on only then (a move across before the Batch menu opens leaves it shut).
            click(mainWindow, 56, 9); // Edit
            const Window edit = newWindow({mainWindow}, kStartMs);
            ASSERT_FALSE(edit.id.isEmpty()) << "the Edit menu did not open; " << windowsState("Edit");
            point(mainWindow, 85, 278); // Batch opens its menu beside it
            const Window batch = newWindow({mainWindow, edit.id}, kStartMs);
            ASSERT_FALSE(batch.id.isEmpty()) << "the Batch menu did not open; " << windowsState("Batch");
            point(mainWindow, 340, 278); // across into that menu
            click(mainWindow, 366, mode == Mode::BatchResize ? 300 : 321);
            // The sheet is a window of its own; its run button sits at its bottom right.
            const Window sheet = newWindow({mainWindow}, kStartMs, 480);
            ASSERT_FALSE(sheet.id.isEmpty()) << "the batch sheet did not open; " << windowsState("batch sheet");
            // The run writes the seven photos into the sheet's folder and leaves the pipe out; the
            // sheet goes as it begins. A click the sheet did not take (it came while the sheet was
            // still being put in place) leaves it there with nothing written: click again.
            const QDir out(root.filePath(QStringLiteral("home/Pictures")));
            const QDeadlineTimer deadline(kStartMs);
            bool begun = false;
            while (!begun && !deadline.hasExpired() && viewer.state() == QProcess::Running) {
                click(sheet.id, sheet.size.width() - 71, sheet.size.height() - 31);
                begun = windowGone(sheet.id, 10000) || !out.entryList(QDir::Files).isEmpty();
            }
            ASSERT_TRUE(begun) << "the run button did not start the batch run; " << windowsState("run");
            while (out.entryList(QDir::Files).size() < 7 && !deadline.hasExpired() && viewer.state() == QProcess::Running)
                pause(200);
            EXPECT_EQ(out.entryList(QDir::Files).size(), 7)
                << "the batch run did not go through the photos; " << windowsState("batch run");
            // The run ends with its report, an alert.
            EXPECT_FALSE(newWindow({mainWindow}, kStartMs).id.isEmpty())
                << "the batch run's report did not show; " << windowsState("report");
            break;
        }
        }
    }

    QTemporaryDir root;
    QString photos;
    QProcess viewer;
    QString mainWindow;
};

TEST_P(QuitWithStuckFile, EndsWithoutWaitingForThePipe)
{
    const Mode mode = std::get<0>(GetParam());
    const Quit quit = std::get<1>(GetParam());
    ASSERT_NO_FATAL_FAILURE(start());
    mainWindow = windowNaming(QStringLiteral("p1.jpg"), kStartMs);
    ASSERT_FALSE(mainWindow.isEmpty()) << "no window showed the first photo; " << windowsState("start");
    // The window names the first photo before the folder is listed, and counts the photos once the
    // listing is in. The pipe comes only then: a listing that reads the folder after the pipe came
    // leaves it out, and End would stop at the photo before it.
    ASSERT_FALSE(windowNaming(QStringLiteral("p1.jpg (1/8)"), kStartMs).isEmpty())
        << "the folder's eight photos did not reach the window; " << windowsState("listing");
    // Another program replaces the last photo with a pipe: before the viewer steps onto it, or,
    // for the slideshow, after the viewer has shown it once (the slideshow then starts on a photo
    // whose picture the viewer still has).
    const bool whileShown = mode == Mode::Slideshow2D || mode == Mode::Slideshow3D;
    ASSERT_NO_FATAL_FAILURE(driveOntoThePipe(mode, whileShown));
    expectNoThreadWaitingForThePipe("in the mode");
    ASSERT_EQ(viewer.state(), QProcess::Running) << "the program ended on its own";

    QElapsedTimer timer;
    if (quit == Quit::Sigterm) {
        timer.start();
        ::kill(pid_t(viewer.processId()), SIGTERM);
    } else {
        // The batch run's report is an alert, which holds the keyboard as any alert does: the
        // user puts it away first.
        if (mode == Mode::BatchConvert || mode == Mode::BatchResize) {
            const Window report = newWindow({mainWindow}, 0);
            bool away = report.id.isEmpty();
            const QDeadlineTimer deadline(kStartMs);
            while (!away && !deadline.hasExpired() && viewer.state() == QProcess::Running) {
                xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
                away = windowGone(report.id, 3000);
            }
            ASSERT_TRUE(away) << "Escape did not put the report away; " << windowsState("Escape");
        }
        xdotool({QStringLiteral("windowfocus"), mainWindow});
        timer.start();
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")});
    }
    const bool ended = viewer.waitForFinished(kQuitLimitMs);
    const qint64 ms = timer.elapsed();
    std::printf("%s, %s: the program ended %lld ms after the quit\n", name(mode),
                quit == Quit::Sigterm ? "SIGTERM" : "Ctrl+Q", static_cast<long long>(ms));
    RecordProperty("quit_ms", int(ms));
    if (!ended)
        expectNoThreadWaitingForThePipe("after the quit");
    EXPECT_TRUE(ended) << "the program was still there " << kQuitLimitMs << " ms after the quit\n"
                       << programSaid();
}

INSTANTIATE_TEST_SUITE_P(EveryMode, QuitWithStuckFile,
                         ::testing::Combine(::testing::Values(Mode::Viewer, Mode::Grid, Mode::PhotoBin,
                                                              Mode::Slideshow2D, Mode::Slideshow3D, Mode::Favourites,
                                                              Mode::Print, Mode::BatchConvert, Mode::BatchResize),
                                            ::testing::Values(Quit::CtrlQ, Quit::Sigterm)),
                         [](const testing::TestParamInfo<std::tuple<Mode, Quit>>& info) {
                             return std::string(name(std::get<0>(info.param))) +
                                    (std::get<1>(info.param) == Quit::Sigterm ? "_Sigterm" : "_CtrlQ");
                         });

} // namespace
