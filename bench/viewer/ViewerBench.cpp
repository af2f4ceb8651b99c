// The whole viewer as a user meets it, beside the peer viewers on the same generated photographs,
// in one X server started for the run: launch to the first painted picture and to the sharp one,
// the first sharp frame after the 100% key, the next picture after a key press (the first press
// and steady stepping), peak memory (VmHWM) after 30 steps through 24 MP JPEGs and when showing
// one 24 MP PNG, one 45 MP JPEG or an 800x600 animated GIF, the CPU spent in the 10 s after the
// first picture (on a first and a second visit of the folder, and with the PNG or the JPEG alone),
// and the CPU
// an animated GIF costs while nothing else happens. "Painted" means a good part of the window
// shows the picture's own colour, so a quick first picture counts as soon as it is on screen;
// "sharp" means the picture's fine noise is there too (Sharpness.h): near the sharpness of a
// Lanczos downscale of the file to the size shown, for every program alike.

#include "BenchPictures.h"
#include "ScreenProbe.h"
#include "Sharpness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using bench_pictures::Rgb;

constexpr int kSteps = 30;
constexpr int kLaunchRuns = 5;
constexpr double kTimeoutMs = 15000;

struct Program {
    std::string name;
    std::string exe;
    std::string nextKey;
    // Settings of a returning user, written into the fresh configuration folder before each run
    // (relative path, contents), so that first-run tips do not stand in front of the picture.
    std::string settingsFile, settings;
    // The key that shows the picture at 100%; arguments before the file; whether only the
    // launch rows are measured (a program that opens the one file it is given, not its folder).
    std::string zoomKey;
    std::vector<std::string> args = {};
    bool launchOnly = false;
};

struct Results {
    double sharpLaunchMs = NAN, fittedSharpness = NAN, lanczosSharpness = NAN, zoomSharpMs = NAN;
    double idleCpuSeconds = NAN, secondVisitCpuSeconds = NAN, pngCpuSeconds = NAN, bigJpegCpuSeconds = NAN;
    double cameraLaunchMs = NAN, launchMs = NAN, firstStepMs = NAN, steadyStepMs = NAN;
    double stepsPeakMb = NAN, pngPeakMb = NAN, bigJpegPeakMb = NAN, gifFirstFrameMs = NAN, gifCpuSeconds = NAN;
    double gifPeakMb = NAN;
    int failedSteps = 0, steps = 0; // steps missed of those tried (every run of the stepping)
};

double msSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }
void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double median(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string makeDir(const std::string &base, const char *name, mode_t mode = 0755)
{
    const std::string path = base + "/" + name;
    mkdir(path.c_str(), mode);
    chmod(path.c_str(), mode);
    return path;
}

// ---- The X server of the run ----

pid_t startXvfb()
{
    // KPV_BENCH_DISPLAY names the display number to use (on a machine shared with others).
    if (const char *number = getenv("KPV_BENCH_DISPLAY")) {
        const std::string display = std::string(":") + number;
        const pid_t pid = fork();
        if (pid == 0) {
            execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1600x1000x24", "-nolisten", "tcp",
                   static_cast<char *>(nullptr));
            _exit(127);
        }
        setenv("DISPLAY", display.c_str(), 1);
        sleepMs(1000);
        return pid;
    }
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1000x24", "-nolisten", "tcp",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buf[32] = {};
    ssize_t n = 0, got = 0;
    while (got < ssize_t(sizeof buf - 1) && (n = read(fds[0], buf + got, sizeof buf - 1 - size_t(got))) > 0) {
        got += n;
        if (std::memchr(buf, '\n', size_t(got)))
            break;
    }
    close(fds[0]);
    if (got <= 0)
        return -1;
    setenv("DISPLAY", (":" + std::to_string(std::atoi(buf))).c_str(), 1);
    return pid;
}

// ---- One program run ----

class Run {
public:
    // Starts `program` on `file` with a home, runtime and temporary folder of its own; with
    // `home`, in that one (made by an earlier run kept with keepHome()), caches and all.
    Run(const Program &program, const std::string &file, const std::string &home = "")
    {
        char tmpl[] = "/tmp/kpv-bench-home-XXXXXX";
        m_home = !home.empty() ? home : mkdtemp(tmpl) ? tmpl : "";
        const std::string runtime = makeDir(m_home, "runtime", 0700);
        const std::string tmp = makeDir(m_home, "tmp");
        const std::string config = makeDir(m_home, "config");
        if (!program.settingsFile.empty()) {
            const size_t slash = program.settingsFile.find('/');
            if (slash != std::string::npos)
                makeDir(config, program.settingsFile.substr(0, slash).c_str());
            std::ofstream(config + "/" + program.settingsFile) << program.settings;
        }
        std::vector<std::string> env = {
            "HOME=" + m_home,
            "XDG_CONFIG_HOME=" + config,
            "XDG_CACHE_HOME=" + makeDir(m_home, "cache"),
            "XDG_DATA_HOME=" + makeDir(m_home, "data"),
            "XDG_RUNTIME_DIR=" + runtime,
            "TMPDIR=" + tmp,
            std::string("DISPLAY=") + getenv("DISPLAY"),
            std::string("PATH=") + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"),
            "LANG=C.UTF-8",
        };
        started = Clock::now();
        m_pid = fork();
        if (m_pid == 0) {
            std::vector<char *> envp;
            for (auto &e : env)
                envp.push_back(e.data());
            envp.push_back(nullptr);
            // KPV_BENCH_LOG names a file that collects the programs' output, for a look at a run.
            const char *log = getenv("KPV_BENCH_LOG");
            const int null = ::open(log ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (null >= 0) {
                dup2(null, 1);
                dup2(null, 2);
            }
            std::vector<std::string> args = {program.exe};
            args.insert(args.end(), program.args.begin(), program.args.end());
            args.push_back(file);
            std::vector<char *> argv;
            for (auto &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execve(program.exe.c_str(), argv.data(), envp.data());
            _exit(127);
        }
    }
    ~Run()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            for (int i = 0; i < 200 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
                sleepMs(10);
            if (kill(m_pid, 0) == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, nullptr, 0);
            }
        }
        if (!m_home.empty() && !m_keepHome)
            std::system(("rm -rf '" + m_home + "'").c_str());
        sleepMs(300); // let the server forget the windows
    }

    bool alive() const { return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }
    // The home folder stays when the run ends, for a second visit; the caller removes it.
    const std::string &keepHome()
    {
        m_keepHome = true;
        return m_home;
    }

    // Milliseconds from `from` until the window shows one of `colours`; NaN on time-out or exit.
    double waitForColours(const ScreenProbe &probe, const std::vector<Rgb> &colours, Clock::time_point from) const
    {
        while (msSince(from) < kTimeoutMs) {
            if (probe.shows(colours))
                return msSince(from);
            if (!alive())
                return NAN;
            sleepMs(2);
        }
        return NAN;
    }

    double peakMegabytes() const
    {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmHWM:", 0) == 0)
                return std::atof(line.c_str() + 6) / 1024.0;
        return NAN;
    }

    double cpuSeconds() const
    {
        std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const size_t close = text.rfind(')');
        if (close == std::string::npos)
            return NAN;
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; fields >> field && i <= 15; ++i)
            if (i == 14 || i == 15) // utime, stime
                ticks += std::atof(field.c_str());
        return ticks / double(sysconf(_SC_CLK_TCK));
    }

    Clock::time_point started;

private:
    pid_t m_pid = -1;
    std::string m_home;
    bool m_keepHome = false;
};

bool runQuiet(const std::vector<std::string> &args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> argv;
        for (auto a : args)
            argv.push_back(strdup(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Points at the window (focus follows the pointer without a window manager) and presses `key`.
void pressKey(const ScreenProbe &probe, const std::string &key)
{
    int x = 0, y = 0;
    if (probe.largestWindowCentre(&x, &y))
        runQuiet({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
    runQuiet({"xdotool", "key", key});
}

// ---- Sharpness over time ----

struct Look {
    double ms;
    bool shows;
    double sharpness;
};

// Looks at the window every few milliseconds from `from` until `settleMs` after the colour first
// showed (or the time-out); the settled sharpness is the median of the last `tailMs`.
std::vector<Look> watch(const Run &run, const ScreenProbe &probe, const std::vector<Rgb> &colours,
                        Clock::time_point from, double settleMs, double *cpuAtFirstShown = nullptr)
{
    std::vector<Look> looks;
    double firstShown = NAN;
    while (msSince(from) < kTimeoutMs && run.alive()) {
        const ScreenProbe::Sample s = probe.sample(colours);
        const double ms = msSince(from);
        looks.push_back({ms, s.shows, s.sharpness});
        if (s.shows && std::isnan(firstShown)) {
            firstShown = ms;
            if (cpuAtFirstShown)
                *cpuAtFirstShown = run.cpuSeconds();
        }
        if (!std::isnan(firstShown) && ms > firstShown + settleMs)
            break;
        sleepMs(2);
    }
    return looks;
}

double settledSharpness(const std::vector<Look> &looks, double tailMs)
{
    std::vector<double> tail;
    const double end = looks.empty() ? 0 : looks.back().ms;
    for (const Look &l : looks)
        if (l.shows && l.ms >= end - tailMs)
            tail.push_back(l.sharpness);
    return median(tail);
}

// When the picture first reached `fraction` of `target` sharpness; NaN when it never did.
double firstSharp(const std::vector<Look> &looks, double target, double fraction)
{
    for (const Look &l : looks)
        if (l.shows && l.sharpness >= fraction * target)
            return l.ms;
    return NAN;
}

// ---- The measurements ----

// The CPU the program spends in the 10 s after it first shows one of `colours`; NaN when it never does.
double cpuInTenSecondsAfterPaint(const Run &run, const ScreenProbe &probe, const std::vector<Rgb> &colours)
{
    const double painted = run.waitForColours(probe, colours, run.started);
    if (std::isnan(painted))
        return NAN;
    const double atPaint = run.cpuSeconds();
    sleepMs(10000);
    return run.alive() ? run.cpuSeconds() - atPaint : NAN;
}

struct Inputs {
    std::vector<std::string> steps; // kSteps + 1 photographs in one folder
    std::vector<std::string> camera; // three photographs with an EXIF thumbnail each
    std::string png, bigJpeg, gif;
    std::vector<Rgb> gifColours;
};

// The animated GIF alone: launch to its first frame on screen, then the CPU of 5 s of showing it
// and the peak memory at the end (every frame has been shown by then, several times).
void measureGif(const Program &program, const Inputs &in, const ScreenProbe &probe, Results *r)
{
    Run run(program, in.gif);
    r->gifFirstFrameMs = run.waitForColours(probe, in.gifColours, run.started);
    if (std::isnan(r->gifFirstFrameMs))
        return;
    sleepMs(1000);
    const double before = run.cpuSeconds();
    sleepMs(5000);
    r->gifCpuSeconds = run.cpuSeconds() - before;
    r->gifPeakMb = run.peakMegabytes();
    if (getenv("KPV_BENCH_VERBOSE"))
        std::printf("  GIF: shown %.0f ms, CPU %.2f s, peak %.0f MB\n", r->gifFirstFrameMs, r->gifCpuSeconds,
                    r->gifPeakMb);
}

// Launch on the first of the stepping photographs, press the next-picture key 1 s later (the first
// press), then every 0.5 s (steady stepping), 30 steps in all; peak memory at the end. With
// `repeats` above 1 the whole run is made that many times and each figure is the median.
void measureSteps(const Program &program, const Inputs &in, const ScreenProbe &probe, int repeats, Results *r)
{
    std::vector<double> firsts, steadies, peaks;
    for (int k = 0; k < repeats; ++k) {
        Run run(program, in.steps[0]);
        r->steps += kSteps;
        if (std::isnan(run.waitForColours(probe, {bench_pictures::colourFor(0)}, run.started))) {
            r->failedSteps += kSteps; // the first photograph never showed: no step could be taken
            continue;
        }
        std::vector<double> steady;
        for (int i = 1; i <= kSteps; ++i) {
            sleepMs(i == 1 ? 1000 : 500);
            const auto t0 = Clock::now();
            pressKey(probe, program.nextKey);
            const double ms = run.waitForColours(probe, {bench_pictures::colourFor(i)}, t0);
            if (std::isnan(ms))
                ++r->failedSteps;
            if (i == 1)
                firsts.push_back(ms);
            else
                steady.push_back(ms);
        }
        steadies.push_back(median(steady));
        peaks.push_back(run.peakMegabytes());
        if (getenv("KPV_BENCH_VERBOSE"))
            std::printf("  stepping %d: first %.0f ms, steady %.0f ms, peak %.0f MB\n", k + 1, firsts.back(),
                        steadies.back(), peaks.back());
    }
    r->firstStepMs = median(firsts);
    r->steadyStepMs = median(steadies);
    r->stepsPeakMb = median(peaks);
}

// The CPU rows alone, each the median of KPV_BENCH_REPEAT runs (default 3): the 10 s after the
// first picture of the folder on a first visit (a fresh home) and on a second one (the home the
// first visit left), and with one picture alone.
void measureCpu(const Program &program, const Inputs &in, const ScreenProbe &probe, Results *r)
{
    const char *repeat = getenv("KPV_BENCH_REPEAT");
    const int runs = std::max(1, repeat ? std::atoi(repeat) : 3);
    std::vector<double> firsts, seconds, pngs, bigs;
    for (int i = 0; i < runs; ++i) {
        std::string home;
        {
            Run run(program, in.steps[0]);
            firsts.push_back(cpuInTenSecondsAfterPaint(run, probe, {bench_pictures::colourFor(0)}));
            home = run.keepHome();
        }
        {
            Run run(program, in.steps[0], home);
            seconds.push_back(cpuInTenSecondsAfterPaint(run, probe, {bench_pictures::colourFor(0)}));
        }
        std::system(("rm -rf '" + home + "'").c_str());
        {
            Run run(program, in.png);
            pngs.push_back(cpuInTenSecondsAfterPaint(run, probe, {bench_pictures::colourFor(40)}));
        }
        {
            Run run(program, in.bigJpeg);
            bigs.push_back(cpuInTenSecondsAfterPaint(run, probe, {bench_pictures::colourFor(41)}));
        }
        if (getenv("KPV_BENCH_VERBOSE"))
            std::printf("  CPU %d: first visit %.2f s, second %.2f s, PNG %.2f s, 45 MP JPEG %.2f s\n", i + 1,
                        firsts.back(), seconds.back(), pngs.back(), bigs.back());
    }
    r->idleCpuSeconds = median(firsts);
    r->secondVisitCpuSeconds = median(seconds);
    r->pngCpuSeconds = median(pngs);
    r->bigJpegCpuSeconds = median(bigs);
}

Results measure(const Program &program, const Inputs &in, const ScreenProbe &probe)
{
    Results r;
    // KPV_BENCH_ONLY=gif measures the animated GIF alone, KPV_BENCH_ONLY=launch the two launch
    // rows alone, KPV_BENCH_ONLY=zoom the launches and the 100% key alone (without the 10 s of
    // CPU after the first picture; KPV_BENCH_ZOOM_AFTER_MS sets how long after the first picture
    // the key is pressed, 1500 ms by default), KPV_BENCH_ONLY=steps the stepping alone
    // (KPV_BENCH_REPEAT times, default 5), KPV_BENCH_ONLY=cpu the CPU after the first picture
    // alone (KPV_BENCH_REPEAT times, default 3), for a quick look at their figures.
    const char *only = getenv("KPV_BENCH_ONLY");
    // A program measured for its launch alone has no row in the other quick looks.
    if (only && program.launchOnly && std::strcmp(only, "launch") != 0 && std::strcmp(only, "zoom") != 0)
        return r;
    if (only && std::strcmp(only, "gif") == 0) {
        measureGif(program, in, probe, &r);
        return r;
    }
    if (only && std::strcmp(only, "cpu") == 0) {
        measureCpu(program, in, probe, &r);
        return r;
    }
    if (only && std::strcmp(only, "steps") == 0) {
        const char *repeat = getenv("KPV_BENCH_REPEAT");
        measureSteps(program, in, probe, std::max(1, repeat ? std::atoi(repeat) : 5), &r);
        return r;
    }
    const bool zoomOnly = only && std::strcmp(only, "zoom") == 0;
    const char *zoomAfter = zoomOnly ? getenv("KPV_BENCH_ZOOM_AFTER_MS") : nullptr;
    const double settleMs = zoomAfter ? std::max(0.0, std::atof(zoomAfter)) : 1500;
    std::vector<double> launches, sharps, fitted, zooms, cpus, widths;
    std::string secondVisitHome;
    for (int i = 0; i < kLaunchRuns; ++i) {
        Run run(program, in.steps[0]);
        const std::vector<Rgb> colour = {bench_pictures::colourFor(0)};
        double cpuAtPaint = NAN;
        const std::vector<Look> looks = watch(run, probe, colour, run.started, settleMs, &cpuAtPaint);
        const double settled = settledSharpness(looks, 400);
        const double painted = firstSharp(looks, 0, 0);
        // KPV_BENCH_TRACE prints what each look saw, for a look at how a picture arrives.
        if (getenv("KPV_BENCH_TRACE"))
            for (const Look &l : looks)
                if (l.shows)
                    std::printf("    %.0f ms: sharpness %.2f\n", l.ms, l.sharpness);
        launches.push_back(painted);
        fitted.push_back(settled);
        widths.push_back(probe.pictureWidth(colour[0]));
        // Sharp: near the sharpness of a Lanczos downscale to the size shown (or of the program's
        // own settled picture, when that is softer). An enlarged small picture is far below.
        static std::map<int, double> references; // by width: the same size gives the same figure
        const int width = int(widths.back());
        if (width > 0 && !references.count(width))
            references[width] = bench_sharpness::lanczosReference(in.steps[0], width / 6000.0);
        const double reference = width > 0 ? references[width] : NAN;
        sharps.push_back(firstSharp(looks, std::isnan(reference) ? settled : std::min(settled, reference), 0.75));
        // The CPU of the 10 s after the first picture (only the first run: it takes a while).
        if (i == 0 && !std::isnan(painted) && !zoomOnly) {
            const double left = 10000 - (msSince(run.started) - painted);
            if (left > 0)
                sleepMs(int(left));
            cpus.push_back(run.cpuSeconds() - cpuAtPaint);
            secondVisitHome = run.keepHome();
        }
        // The 100% key: the first frame drawn from the file's own pixels, not from the fitted
        // picture enlarged: half the sharpness of the file's pixels one to one, which no
        // enlargement reaches. Measured against the file, not against what the program settles
        // on, so that a program whose 100% stays blurry never counts as sharp.
        static const double oneToOne = bench_sharpness::lanczosReference(in.steps[0], 1.0);
        if (!program.zoomKey.empty() && !std::isnan(painted)) {
            const auto t0 = Clock::now();
            pressKey(probe, program.zoomKey);
            const std::vector<Look> zoomed = watch(run, probe, colour, t0, 2500);
            if (getenv("KPV_BENCH_TRACE"))
                for (const Look &l : zoomed)
                    std::printf("    100%%, %.0f ms: sharpness %.2f\n", l.ms, l.sharpness);
            zooms.push_back(firstSharp(zoomed, std::isnan(oneToOne) ? settledSharpness(zoomed, 300) : oneToOne, 0.5));
        }
        if (getenv("KPV_BENCH_VERBOSE"))
            std::printf("  launch %d: painted %.0f ms, sharp %.0f ms, sharpness %.2f, width %.0f, 100%% %.0f ms\n",
                        i + 1, launches.back(), sharps.back(), fitted.back(), widths.back(),
                        zooms.empty() ? NAN : zooms.back());
    }
    // The same folder again with what the first visit kept (thumbnail caches and settings).
    if (!secondVisitHome.empty()) {
        {
            Run run(program, in.steps[0], secondVisitHome);
            r.secondVisitCpuSeconds = cpuInTenSecondsAfterPaint(run, probe, {bench_pictures::colourFor(0)});
        }
        std::system(("rm -rf '" + secondVisitHome + "'").c_str());
    }
    r.sharpLaunchMs = median(sharps);
    r.fittedSharpness = median(fitted);
    r.zoomSharpMs = median(zooms);
    r.idleCpuSeconds = median(cpus);
    const double width = median(widths);
    if (width > 0)
        r.lanczosSharpness = bench_sharpness::lanczosReference(in.steps[0], int(width) / 6000.0);
    r.launchMs = median(launches);
    if (zoomOnly)
        return r;
    launches.clear();
    for (int i = 0; i < kLaunchRuns; ++i) {
        Run run(program, in.camera[0]);
        launches.push_back(run.waitForColours(probe, {bench_pictures::colourFor(60)}, run.started));
        if (getenv("KPV_BENCH_VERBOSE"))
            std::printf("  camera launch %d: %.0f ms\n", i + 1, launches.back());
    }
    r.cameraLaunchMs = median(launches);
    if ((only && std::strcmp(only, "launch") == 0) || program.launchOnly)
        return r;

    measureSteps(program, in, probe, 1, &r);

    // One picture alone: the CPU of the 10 s after it showed, and the peak memory then.
    auto showing = [&](const std::string &file, Rgb colour, double *peakMb, double *cpuSeconds) {
        Run run(program, file);
        *cpuSeconds = cpuInTenSecondsAfterPaint(run, probe, {colour});
        *peakMb = std::isnan(*cpuSeconds) ? NAN : run.peakMegabytes();
    };
    showing(in.png, bench_pictures::colourFor(40), &r.pngPeakMb, &r.pngCpuSeconds);
    showing(in.bigJpeg, bench_pictures::colourFor(41), &r.bigJpegPeakMb, &r.bigJpegCpuSeconds);

    measureGif(program, in, probe, &r);
    return r;
}

bool makeInputs(const std::string &dir, Inputs *in)
{
    const std::string steps = makeDir(dir, "steps");
    for (int i = 0; i <= kSteps; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/p%02d.jpg", i);
        in->steps.push_back(steps + name);
    }
    const std::string camera = makeDir(dir, "camera");
    for (int i = 0; i < 3; ++i)
        in->camera.push_back(camera + "/IMG_000" + std::to_string(i) + ".jpg");
    in->png = makeDir(dir, "png") + "/photo-24mp.png";
    in->bigJpeg = makeDir(dir, "big") + "/photo-45mp.jpg";
    in->gif = makeDir(dir, "gif") + "/animation-800x600.gif";
    for (int i = 0; i < 8; ++i)
        in->gifColours.push_back(bench_pictures::colourFor(50 + i));
    // The animation is made apart from the photographs: its size changed after they were made.
    if (access(in->gif.c_str(), F_OK) != 0 && !bench_pictures::writeAnimatedGif(in->gif, 800, 600, in->gifColours, 8))
        return false;

    const std::string marker = dir + "/complete-v3";
    if (access(marker.c_str(), F_OK) == 0)
        return true;
    std::printf("making the photographs in %s ...\n", dir.c_str());
    std::fflush(stdout);
    std::vector<std::function<bool()>> jobs;
    for (int i = 0; i <= kSteps; ++i)
        jobs.push_back([=] { return bench_pictures::writePhotoJpeg(in->steps[size_t(i)], 6000, 4000, bench_pictures::colourFor(i), unsigned(i)); });
    for (int i = 0; i < 3; ++i)
        jobs.push_back([=] { return bench_pictures::writeCameraJpeg(in->camera[size_t(i)], 6000, 4000, bench_pictures::colourFor(60 + i), unsigned(60 + i)); });
    jobs.push_back([=] { return bench_pictures::writePhotoPng(in->png, 6000, 4000, bench_pictures::colourFor(40), 40); });
    jobs.push_back([=] { return bench_pictures::writePhotoJpeg(in->bigJpeg, 8256, 5504, bench_pictures::colourFor(41), 41); });
    std::vector<char> ok(jobs.size(), 0);
    std::vector<std::thread> workers;
    const size_t threads = 3;
    for (size_t t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (size_t j = t; j < jobs.size(); j += threads)
                ok[j] = jobs[j]() ? 1 : 0;
        });
    for (auto &w : workers)
        w.join();
    if (std::count(ok.begin(), ok.end(), 0))
        return false;
    std::ofstream(marker) << "done\n";
    return true;
}

void printRow(const char *what, const std::vector<Results> &all, double Results::*field, const char *format)
{
    std::printf("  %-40s", what);
    for (const Results &r : all) {
        if (std::isnan(r.*field))
            std::printf(" %10s", "-");
        else
            std::printf(format, r.*field);
    }
    std::printf("  |");
    for (size_t i = 1; i < all.size(); ++i) {
        const double ours = all[0].*field, theirs = all[i].*field;
        if (std::isnan(ours) || std::isnan(theirs) || theirs <= 0)
            std::printf(" %12s", "-");
        else
            std::printf(" %11.2fx", ours / theirs);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    const char *tmp = getenv("TMPDIR");
    const std::string pictures = makeDir(tmp && *tmp ? tmp : "/tmp", "kpv-bench-viewer-pictures");
    Inputs inputs;
    if (!makeInputs(pictures, &inputs)) {
        std::fprintf(stderr, "bench_viewer: cannot write the photographs in %s\n", pictures.c_str());
        return 1;
    }
    const pid_t xvfb = startXvfb();
    if (xvfb <= 0) {
        std::fprintf(stderr, "bench_viewer: cannot start Xvfb\n");
        return 1;
    }
    int result = 0;
    {
        ScreenProbe probe;
        for (int i = 0; i < 100 && !probe.isOpen(); ++i)
            sleepMs(20);
        std::vector<Program> programs = {{"kestrane", KPV_VIEWER_PATH, "Right", "kestrane-viewer/settings.json",
                                          "{\"loveTipsAlreadyShowed\": 1, \"defaultViewerConfigured\": 1}\n", "ctrl+0"},
                                         {"qimgv", "/usr/bin/qimgv", "Right", "", "", "3"},
                                         {"geeqie", "/usr/bin/geeqie", "space", "", "", "1"},
                                         // Fitted to the screen, as the others show a large photo.
                                         {"feh", "/usr/bin/feh", "Right", "", "", "asterisk", {"--scale-down"}, true}};
        std::vector<Program> present;
        // Peers named on the command line limit the run to them (ours always runs).
        auto wanted = [&](const Program &p) {
            if (argc < 2 || p.name == "kestrane")
                return true;
            for (int i = 1; i < argc; ++i)
                if (p.name == argv[i])
                    return true;
            return false;
        };
        for (const Program &p : programs) {
            if (!wanted(p))
                continue;
            if (access(p.exe.c_str(), X_OK) == 0)
                present.push_back(p);
            else
                std::printf("%s is not installed (tools/bench-packages.txt): no ratio against it\n", p.name.c_str());
        }
        if (!probe.isOpen() || present.empty() || present[0].name != "kestrane") {
            std::fprintf(stderr, "bench_viewer: no display or no viewer to measure\n");
            result = 1;
        } else {
            std::vector<Results> all;
            for (const Program &p : present) {
                std::printf("measuring %s ...\n", p.name.c_str());
                std::fflush(stdout);
                all.push_back(measure(p, inputs, probe));
                if (all.back().failedSteps)
                    std::printf("  %s missed %d of %d steps\n", p.name.c_str(), all.back().failedSteps,
                                all.back().steps);
            }
            std::printf("\nOn screen (Xvfb 1600x1000, software GL), medians; ratio = kestrane / peer, below 1 is better\n");
            std::printf("  %-40s", "");
            for (const Program &p : present)
                std::printf(" %10s", p.name.c_str());
            std::printf("  |");
            for (size_t i = 1; i < present.size(); ++i)
                std::printf(" %12s", ("vs " + present[i].name).c_str());
            std::printf("\n");
            printRow("launch to 24 MP JPEG, first paint (ms)", all, &Results::launchMs, " %10.0f");
            printRow("launch to 24 MP JPEG, sharp picture (ms)", all, &Results::sharpLaunchMs, " %10.0f");
            printRow("sharpness fitted (higher is sharper)", all, &Results::fittedSharpness, " %10.2f");
            printRow("  Lanczos downscale to the same size", all, &Results::lanczosSharpness, " %10.2f");
            printRow("100% key to the first sharp frame (ms)", all, &Results::zoomSharpMs, " %10.0f");
            printRow("CPU s in the 10 s after the first picture", all, &Results::idleCpuSeconds, " %10.2f");
            printRow("the same, camera JPEG with thumbnail (ms)", all, &Results::cameraLaunchMs, " %10.0f");
            printRow("the same CPU, second visit of the folder", all, &Results::secondVisitCpuSeconds, " %10.2f");
            printRow("the same CPU, one 24 MP PNG alone", all, &Results::pngCpuSeconds, " %10.2f");
            printRow("the same CPU, one 45 MP JPEG alone", all, &Results::bigJpegCpuSeconds, " %10.2f");
            printRow("next image, first press (ms)", all, &Results::firstStepMs, " %10.0f");
            printRow("next image, steady stepping (ms)", all, &Results::steadyStepMs, " %10.0f");
            printRow("peak memory after 30 steps (MB)", all, &Results::stepsPeakMb, " %10.0f");
            printRow("peak memory, one 24 MP PNG (MB)", all, &Results::pngPeakMb, " %10.0f");
            printRow("peak memory, one 45 MP JPEG (MB)", all, &Results::bigJpegPeakMb, " %10.0f");
            printRow("launch to animated GIF shown (ms)", all, &Results::gifFirstFrameMs, " %10.0f");
            printRow("CPU s in 5 s with an animated GIF", all, &Results::gifCpuSeconds, " %10.2f");
            printRow("peak memory, 800x600 animated GIF (MB)", all, &Results::gifPeakMb, " %10.0f");
        }
    }
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    return result;
}
