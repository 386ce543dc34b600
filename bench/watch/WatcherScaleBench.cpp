// The folder watcher at scale in the real viewer window, each figure beside a floor of the
// same run. Scenarios, one after the other in one window:
//   files    10,000 files for one identifier: the search, the list, the first page;
//   growing  a file in that folder written a piece every 100 ms for --grow-seconds (30);
//   burst    1,000 files created in that folder and deleted again at once.
// The floor is a fresh window showing the same identifier of the same folder, idle.
// In each scenario:
//   - responsiveness: the stall probe (bench/viewer/BenchSupport.h) posts a ping to the GUI
//     thread every millisecond and times the round trip (answered only when the event loop
//     runs), goal: the longest <= 16 ms; the floor's pings are printed beside it (the
//     machine's own scheduling), and so is the GUI thread's own CPU time within one round
//     trip at most, which tells its work from waiting for a core on a busy machine;
//   - idle CPU afterwards (all threads, from schedstat), goal: back at the floor (<= 1.5x
//     the floor or within 1 ms of CPU a second of it).
// Run by bench/watch/run, which also runs it with no inotify watch left (a user namespace
// whose limit is 0), where the folders are polled.
//
//   bench_watch_scale [--files N] [--grow-seconds S] [--idle-seconds S] [--label TEXT]
#include "viewer/DecodePipeline.h"
#include "viewer/OrlenzaFrm.h"

#include "../viewer/BenchSupport.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using lvbench::Clock;
using lvbench::Ms;
using namespace std::chrono_literals;

// CPU time of every thread of this process, in nanoseconds (schedstat is exact, unlike the
// ticks of /proc/self/stat).
double CpuNs() {
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream in(("/proc/self/task/" + task + "/schedstat").toStdString());
        double ns = 0;
        if (in >> ns)
            total += ns;
    }
    return total;
}

void WaitUntil(const std::function<bool()>& ADone) {
    while (!ADone())
        QTest::qWait(10);
}

struct TFigures {
    explicit TFigures(std::string AName) : Name(std::move(AName)) {}
    std::string Name;
    std::vector<double> Pings;
    double BusiestMs = 0; // the GUI thread's own CPU time within one round trip, at most
    double IdleMsPerS = 0;
    double Seconds = 0;
};

double Quantile(const std::vector<double>& ASorted, double AQ) {
    if (ASorted.empty())
        return 0;
    return ASorted[std::min(ASorted.size() - 1,
                            static_cast<size_t>(AQ * static_cast<double>(ASorted.size())))];
}

QByteArray Png(int ASize, bool ANoise) {
    QImage image(ASize, ASize, QImage::Format_RGB32);
    std::mt19937 random(7);
    for (int y = 0; y < ASize; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < ASize; ++x)
            line[x] = ANoise ? 0xff000000u | (random() & 0xffffffu) : qRgb(200, 120, 40);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool WriteFile(const QString& APath, const QByteArray& ABytes) {
    QFile f(APath);
    return f.open(QIODevice::WriteOnly) && f.write(ABytes) == ABytes.size();
}

// The window over a block of its own; quiet once listed, shown, every decode and every
// pending name of the watcher done.
class TWindow : public lvbench::TBenchWindow {
public:
    explicit TWindow(const QString& AScans) : TBenchWindow(AScans, "lvbench-watch-") {}
    bool Quiet() const {
        return !Form->IsLoading() && Form->Pipeline().Pending() == 0 &&
               Form->PendingScans().isEmpty();
    }
};

// Idle CPU in ms a second over ASeconds, the event loop running.
double IdleMsPerS(int ASeconds) {
    const double c0 = CpuNs();
    const auto t0 = Clock::now();
    QTest::qWait(ASeconds * 1000);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return (CpuNs() - c0) / 1e6 / seconds;
}

struct TOptions {
    int Files = 10000;
    int GrowSeconds = 30;
    int IdleSeconds = 5;
    std::string Label = "inotify";
};

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--files")
            options.Files = std::max(1, std::atoi(argv[i + 1]));
        else if (key == "--grow-seconds")
            options.GrowSeconds = std::max(1, std::atoi(argv[i + 1]));
        else if (key == "--idle-seconds")
            options.IdleSeconds = std::max(1, std::atoi(argv[i + 1]));
        else if (key == "--label")
            options.Label = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: bench_watch_scale [--files N] [--grow-seconds S] "
                                 "[--idle-seconds S] [--label TEXT]\n");
            return 2;
        }
    }
    QApplication app(argc, argv);
    QTemporaryDir root(QDir::tempPath() + "/lv-watch-scale-XXXXXX");
    const QString scans = root.path() + "/scans/";
    const QString folder = scans + "3100/";
    QDir().mkpath(folder);
    const QByteArray small = Png(32, false);
    for (int i = 1; i <= options.Files; ++i)
        if (!WriteFile(folder + QStringLiteral("31000001~%1.png").arg(i, 5, 10, QLatin1Char('0')),
                       small))
            qFatal("cannot write the sample files");
    // Noise does not compress: a PNG of a few megabytes to grow piece by piece.
    const QByteArray grown = Png(1200, true);
    std::vector<TFigures> figures;
    const auto settleThenIdle = [&](TFigures& AFigures) {
        QTest::qWait(2000);
        AFigures.IdleMsPerS = IdleMsPerS(options.IdleSeconds);
    };
    lvbench::TStallProbe pinger;
    {
        TWindow window(scans);
        // 1. The identifier of many files searched and shown.
        TFigures files("files: " + std::to_string(options.Files) + " for one identifier");
        auto t0 = Clock::now();
        pinger.Start();
        window.Form->NewImage("31000001");
        WaitUntil([&] { return window.Form->Count() == options.Files && window.Quiet(); });
        pinger.Stop();
        files.Pings = pinger.RoundTrips();
        files.BusiestMs = pinger.BusiestMs();
        files.Seconds = Ms(Clock::now() - t0) / 1000;
        settleThenIdle(files);
        figures.push_back(files);

        // 2. A file written a piece every 100 ms, then closed; listed once complete.
        TFigures growing("growing: one file for " + std::to_string(options.GrowSeconds) + " s");
        t0 = Clock::now();
        pinger.Start();
        std::atomic<bool> written{false};
        std::thread writer([&] {
            QFile f(folder + "31000001~99999.png");
            if (!f.open(QIODevice::WriteOnly))
                qFatal("cannot write the growing file");
            const qsizetype pieces = options.GrowSeconds * 10;
            const qsizetype piece = (grown.size() + pieces - 1) / pieces;
            for (qsizetype at = 0; at < grown.size(); at += piece) {
                f.write(grown.mid(at, piece));
                f.flush();
                std::this_thread::sleep_for(100ms);
            }
            f.close();
            written = true;
        });
        WaitUntil(
            [&] { return written && window.Form->Count() == options.Files + 1 && window.Quiet(); });
        writer.join();
        pinger.Stop();
        growing.Pings = pinger.RoundTrips();
        growing.BusiestMs = pinger.BusiestMs();
        growing.Seconds = Ms(Clock::now() - t0) / 1000;
        settleThenIdle(growing);
        figures.push_back(growing);

        // 3. A thousand files created and deleted in a burst.
        TFigures burst("burst: 1000 files created and deleted");
        t0 = Clock::now();
        pinger.Start();
        std::atomic<bool> done{false};
        std::thread bursting([&] {
            for (int i = 1; i <= 1000; ++i)
                WriteFile(folder + QStringLiteral("31000002~%1.png").arg(i), small);
            for (int i = 1; i <= 1000; ++i)
                QFile::remove(folder + QStringLiteral("31000002~%1.png").arg(i));
            done = true;
        });
        WaitUntil([&] { return done.load(); });
        bursting.join();
        // Whatever the watcher gathered has settled and been looked at.
        QTest::qWait(3000);
        WaitUntil([&] { return window.Form->Count() == options.Files + 1 && window.Quiet(); });
        pinger.Stop();
        burst.Pings = pinger.RoundTrips();
        burst.BusiestMs = pinger.BusiestMs();
        burst.Seconds = Ms(Clock::now() - t0) / 1000;
        settleThenIdle(burst);
        figures.push_back(burst);
    }
    // The floor: a fresh window with the same identifier of the same folder, idle.
    TFigures idleFloor("floor: a fresh window, same folder, idle");
    {
        TWindow window(scans);
        window.Form->NewImage("31000001");
        WaitUntil([&] { return window.Form->Count() == options.Files + 1 && window.Quiet(); });
        QTest::qWait(2000);
        pinger.Start();
        QTest::qWait(options.IdleSeconds * 1000);
        pinger.Stop();
        idleFloor.Pings = pinger.RoundTrips();
        idleFloor.BusiestMs = pinger.BusiestMs();
        idleFloor.IdleMsPerS = IdleMsPerS(options.IdleSeconds);
    }
    const double floorCpu = idleFloor.IdleMsPerS;
    std::printf("watch at scale (%s), %d files, idle measured over %d s; pings every 1 ms\n",
                options.Label.c_str(), options.Files, options.IdleSeconds);
    std::printf("  %-44s %7s %7s %7s %6s %8s %9s %9s\n", "", "pings", "p99 ms", "max ms", ">16ms",
                "GUI cpu", "idle ms/s", "vs floor");
    int failed = 0;
    for (const TFigures& f : figures) {
        const double longest = f.Pings.empty() ? 0 : f.Pings.back();
        const auto over =
            std::count_if(f.Pings.begin(), f.Pings.end(), [](double AMs) { return AMs > 16; });
        const double ratio = floorCpu > 0 ? f.IdleMsPerS / floorCpu : 0;
        const bool answering = longest <= 16;
        const bool idle = f.IdleMsPerS <= 1.5 * floorCpu || f.IdleMsPerS - floorCpu <= 1;
        failed += answering && idle ? 0 : 1;
        std::printf("  %-44s %7zu %7.2f %7.2f %6ld %8.2f %9.2f %8.2fx  (%.1f s)%s%s\n",
                    f.Name.c_str(), f.Pings.size(), Quantile(f.Pings, 0.99), longest,
                    static_cast<long>(over), f.BusiestMs, f.IdleMsPerS, ratio, f.Seconds,
                    answering ? "" : "  [slow answer]", idle ? "" : "  [idle above floor]");
    }
    std::printf("  %-44s %7zu %7.2f %7.2f %6s %8.2f %9.2f\n", idleFloor.Name.c_str(),
                idleFloor.Pings.size(), Quantile(idleFloor.Pings, 0.99),
                idleFloor.Pings.empty() ? 0 : idleFloor.Pings.back(), "", idleFloor.BusiestMs,
                floorCpu);
    std::printf("goals: longest ping <= 16 ms; idle CPU <= 1.5x the floor or within 1 ms/s of "
                "it. %d of %zu scenarios miss a goal\n",
                failed, figures.size());
    return 0;
}
