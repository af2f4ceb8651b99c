// Folder search on a generated tree of 100,000 files in 1,000 folders: how long until the first
// batch reaches the main thread (it must not grow with the tree), and until the whole sorted list
// is complete, beside `find` plus a natural sort of its output on the same tree.

#include "Model/LMPathString.h"
#include "Model/PhotoSearchHandler.h"
#include "foundation/RunLoop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kFolders = 1000;
const QStringList kExtensions{"jpg", "png"};

// One tree per size, made once and removed at exit.
QString treeOfSize(int files)
{
    static std::map<int, std::unique_ptr<QTemporaryDir>> trees;
    auto& dir = trees[files];
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        const int perFolder = files / kFolders;
        for (int f = 0; f < kFolders; ++f) {
            const QString folder = QString("%1/roll%2/day%3").arg(dir->path()).arg(f % 10).arg(f);
            QDir().mkpath(folder);
            for (int i = 0; i < perFolder; ++i) {
                const QByteArray name = QFile::encodeName(QString("%1/IMG_%2.jpg").arg(folder).arg(i));
                const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
                if (fd >= 0)
                    ::close(fd);
            }
        }
    }
    return QFileInfo(dir->path()).canonicalFilePath();
}

std::map<std::string, double> g_best; // seconds, per measurement

void record(const std::string& name, double seconds)
{
    auto it = g_best.find(name);
    if (it == g_best.end() || seconds < it->second)
        g_best[name] = seconds;
}

void BM_Search(benchmark::State& state)
{
    const int files = int(state.range(0));
    const QString root = treeOfSize(files);
    for (auto _ : state) {
        PhotoSearchHandler handler({[] { return kExtensions; }, [] { return 1; }});
        handler.submitSearchTaskWithSearchedFilePaths({}, {root}, true);
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        double firstBatch = -1;
        qsizetype count = 0;
        bool done = false;
        handler.startSearchWithProcessBlock(
            [&](const NavSortFileInfoList& list) {
                if (firstBatch < 0)
                    firstBatch = std::chrono::duration<double>(Clock::now() - start).count();
                count = list.count();
            },
            [&](bool) { done = true; });
        kpv::RunLoop::main().runWhile([&] { return !done; });
        const double total = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(total);
        state.counters["first_batch_ms"] = firstBatch * 1000;
        state.counters["files"] = double(count);
        record("first batch " + std::to_string(files), firstBatch);
        record("ours complete " + std::to_string(files), total);
    }
}

void BM_FindAndNaturalSort(benchmark::State& state)
{
    const int files = int(state.range(0));
    const QString root = treeOfSize(files);
    for (auto _ : state) {
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        QProcess find;
        find.start("find", {root, "-type", "f", "-iname", "*.jpg"});
        find.waitForFinished(-1);
        QList<LMPathString> paths;
        for (const QByteArray& line : find.readAllStandardOutput().split('\n')) {
            if (!line.isEmpty())
                paths.append(LMPathString(QFile::decodeName(line), false));
        }
        std::sort(paths.begin(), paths.end());
        const double total = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(total);
        state.counters["files"] = double(paths.size());
        record("find+sort " + std::to_string(files), total);
    }
}

BENCHMARK(BM_Search)->Arg(10'000)->Arg(100'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FindAndNaturalSort)->Arg(10'000)->Arg(100'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nfolder search, best of 3 (seconds)\n");
    for (int files : {10'000, 100'000}) {
        const std::string n = std::to_string(files);
        const double first = g_best["first batch " + n];
        const double ours = g_best["ours complete " + n];
        const double ref = g_best["find+sort " + n];
        std::printf("%7d files: first batch %.4f  whole sorted list %.3f  find+natural sort %.3f  ratio %.2f\n",
                    files, first, ours, ref, ref > 0 ? ours / ref : 0.0);
    }
    return 0;
}
