// What the viewer benchmarks share: placing sample files where a search finds them, and the
// GUI thread's stalls seen from outside its event loop.
#pragma once

#include "../BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

namespace lvbench {

// A hard link where the file system allows it (a symbolic link would leave the source
// folder, which the search refuses to open), a copy otherwise.
inline void Place(const QString& ASource, const QString& ATarget) {
    QFile::remove(ATarget);
    if (::link(QFile::encodeName(ASource).constData(), QFile::encodeName(ATarget).constData()) != 0)
        QFile::copy(ASource, ATarget);
}

// Pings the GUI thread from a thread of its own: every millisecond it posts a call to the
// application object and waits until the event loop has run it. The longest round trip is
// the longest the GUI thread kept a user waiting, whatever it was busy with; the GUI
// thread's own CPU time within one round trip tells its work from waiting for a core on a
// busy machine.
class TStallProbe {
public:
    TStallProbe() = default;
    TStallProbe(const TStallProbe&) = delete;
    TStallProbe& operator=(const TStallProbe&) = delete;
    ~TStallProbe() { Stop(); }

    // Called on the GUI thread.
    void Start() {
        Stop();
        FStop = false;
        FLongestNs = 0;
        FBusiestNs = 0;
        FHasClock = pthread_getcpuclockid(pthread_self(), &FGuiClock) == 0;
        FThread = std::thread([this] { Run(); });
    }
    // The longest round trip since Start, in milliseconds; pings still unanswered at the
    // moment of the call do not count (the GUI thread is answering this one).
    double Stop() {
        if (FThread.joinable()) {
            FStop = true;
            FThread.join();
        }
        return static_cast<double>(FLongestNs.load()) / 1e6;
    }
    // The most CPU time the GUI thread spent within one round trip, in milliseconds (after
    // Stop; 0 where the thread's clock cannot be read).
    double BusiestMs() const { return static_cast<double>(FBusiestNs.load()) / 1e6; }

private:
    void Run() {
        while (!FStop.load()) {
            auto answered = std::make_shared<std::atomic<bool>>(false);
            const long long cpu0 = GuiCpuNs();
            const auto sent = Clock::now();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [answered] { answered->store(true); },
                Qt::QueuedConnection);
            while (!answered->load() && !FStop.load())
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            if (answered->load()) {
                const long long ns =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - sent)
                        .count();
                if (ns > FLongestNs.load())
                    FLongestNs = ns;
                const long long cpu = GuiCpuNs() - cpu0;
                if (cpu > FBusiestNs.load())
                    FBusiestNs = cpu;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    long long GuiCpuNs() const {
        timespec at{};
        if (!FHasClock || clock_gettime(FGuiClock, &at) != 0)
            return 0;
        return static_cast<long long>(at.tv_sec) * 1000000000 + at.tv_nsec;
    }

    clockid_t FGuiClock{};
    bool FHasClock = false;
    std::atomic<long long> FBusiestNs{0};
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<long long> FLongestNs{0};
};

} // namespace lvbench
