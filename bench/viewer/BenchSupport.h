// What the viewer benchmarks share: placing sample files where a search finds them, the
// viewer window over a control block of its own, and the GUI thread's stalls seen from
// outside its event loop.
#pragma once

#include "../BenchSupport.h"

#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.FormCommon.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "platform/SharedMemory.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/OrlenzaFrm.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTest>

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace lvbench {

// A hard link where the file system allows it (a symbolic link would leave the source
// folder, which the search refuses to open), a copy otherwise.
inline void Place(const QString& ASource, const QString& ATarget) {
    QFile::remove(ATarget);
    if (::link(QFile::encodeName(ASource).constData(), QFile::encodeName(ATarget).constData()) != 0)
        QFile::copy(ASource, ATarget);
}

// The viewer window at its designed size over a real control block of its own, whose
// source folder is AScans (pattern "****....": the identifier's first four characters name
// the folder); shown, exposed and painted once. Taken apart with the block.
class TBenchWindow {
public:
    TBenchWindow(const QString& AScans, const std::string& APrefix) {
        static int windows = 0;
        FName = APrefix + std::to_string(getpid()) + "-" + std::to_string(windows++);
        FView = lvplatform::CreateSharedMemory(FName, lvcontrol::kBlockSize);
        const std::string json =
            "{\"Source\":\"" + AScans.toStdString() + "\",\"Pattern\":\"****....\"}";
        std::memcpy(FView->Data() + lvcontrol::kImageInformation, json.c_str(), json.size() + 1);
        SetProgramArguments({"lumivane-viewer", FName});
        TOrlenzaViewController::InstallInitializer();
        Form = std::make_unique<TLumivaneViewerForm>();
        Form->resize(600, 568);
        Form->show();
        Form->activateWindow();
        if (!QTest::qWaitForWindowExposed(Form.get()))
            qFatal("the viewer window was never exposed");
        Form->repaint();
    }
    TBenchWindow(const TBenchWindow&) = delete;
    TBenchWindow& operator=(const TBenchWindow&) = delete;
    ~TBenchWindow() {
        Form.reset();
        TOrlenzaCustomerController::ReleaseSharedControlFile();
        ViewController.reset();
        lvplatform::RemoveSharedMemory(FName);
    }

    std::unique_ptr<TLumivaneViewerForm> Form;

private:
    std::string FName;
    std::unique_ptr<lvplatform::ISharedMemoryView> FView;
};

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
        FRoundTripsMs.clear();
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
    // Every answered round trip since Start, in milliseconds, sorted (after Stop).
    std::vector<double> RoundTrips() const {
        std::vector<double> sorted = FRoundTripsMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

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
                FRoundTripsMs.push_back(static_cast<double>(ns) / 1e6);
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
    std::vector<double> FRoundTripsMs; // written by the probe's thread until Stop joins it
};

} // namespace lvbench
