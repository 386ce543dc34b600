// The viewer window's path from NewImage to the first painted image: search, decode at the
// fitted size, fit, paint. Files come from `bench_imaging --make DIR` (a 300 dpi A4 G4 page,
// a 24-megapixel JPEG and a 12-megapixel PNG); run.sh sets that up and sets the results beside the
// decoding floors of bench_imaging.
//
//   bench_viewer DIR [benchmark flags]   timings
//   bench_viewer --peak DIR g4|jpeg|png  peak resident memory grown by showing one file
#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.FormCommon.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "platform/SharedMemory.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/ImageDecoding.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/ViewerWidgets.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QWidget>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

QString GRoot;
TLumivaneViewerForm* GForm = nullptr;

struct TSample {
    const char* Id;
    const char* Sub;
    const char* File;
    const char* Source;
};
const TSample kSamples[] = {
    {"12345678", "1234", "12345678~1.tif", "a4-300dpi-g4.tif"},
    {"23456789", "2345", "23456789~1.jpg", "photo-24mp.jpg"},
    {"34567890", "3456", "34567890~1.png", "photo-12mp.png"},
    // Only where bench_imaging --make-a3 wrote it (bench/imaging/a3-tiff.sh).
    {"45678901", "4567", "45678901~1.tif", "a3-600dpi-lzw.tif"},
};
const char* const kKinds[] = {"g4", "jpeg", "png", "a3"};

// Puts the sample files where a search finds them and opens a block naming that folder.
std::unique_ptr<lvplatform::ISharedMemoryView> PrepareBlock(const std::string& AName) {
    for (const TSample& s : kSamples) {
        if (!QFile::exists(GRoot + "/" + s.Source))
            continue;
        QDir().mkpath(GRoot + "/scans/" + s.Sub);
        const QString target = GRoot + "/scans/" + s.Sub + "/" + s.File;
        lvbench::Place(GRoot + "/" + s.Source, target);
    }
    auto view = lvplatform::CreateSharedMemory(AName, lvcontrol::kBlockSize);
    const std::string json =
        "{\"Source\":\"" + (GRoot + "/scans/").toStdString() + "\",\"Pattern\":\"****....\"}";
    std::memcpy(view->Data() + lvcontrol::kImageInformation, json.c_str(), json.size() + 1);
    return view;
}

// The page asked for is decoded on a worker: the event loop runs until it is on screen.
void WaitUntilShown() {
    while (GForm->IsLoading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void WaitForWorkers() {
    while (GForm->Pipeline().Pending() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void NewImageToPaint(benchmark::State& state, int ASample) {
    const TSample& sample = kSamples[ASample];
    for (auto _ : state) {
        // Every round decodes: nothing is held from the round before (a search again for
        // the identifier shown would keep its picture, so an empty search goes between).
        state.PauseTiming();
        GForm->NewImage("99999999");
        WaitUntilShown();
        WaitForWorkers();
        GForm->Pipeline().Cache().Clear();
        state.ResumeTiming();
        GForm->NewImage(sample.Id);
        WaitUntilShown();
        // Paints the whole window now, as the next event loop turn would.
        GForm->repaint();
    }
    state.SetLabel(sample.Source);
}

// The decode alone, at the box the window decodes at (the fitted size in a 600 x 568
// window: 600 wide, 496 high).
void DecodeAtFit(benchmark::State& state, int ASample) {
    const TSample& sample = kSamples[ASample];
    for (auto _ : state) {
        TDecodedImage decoded = DecodeForDisplay(GRoot + "/" + sample.Source, QSize(600, 496));
        benchmark::DoNotOptimize(decoded.image.constBits());
    }
    state.SetLabel(sample.Source);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool peak = argc >= 4 && std::strcmp(argv[1], "--peak") == 0;
    if (argc < 2 || (!peak && argv[1][0] == '-')) {
        std::fprintf(stderr,
                     "usage: bench_viewer DIR [flags] | bench_viewer --peak DIR g4|jpeg|png|a3\n");
        return 2;
    }
    GRoot = QString::fromLocal8Bit(peak ? argv[2] : argv[1]);
    QApplication app(argc, argv);

    const std::string name = "lvbench-viewer-" + std::to_string(getpid());
    auto block = PrepareBlock(name);
    SetProgramArguments({"lumivane-viewer", name});
    TOrlenzaViewController::InstallInitializer();
    auto form = std::make_unique<TLumivaneViewerForm>();
    GForm = form.get();
    form->resize(600, 568);
    form->show();
    form->repaint();

    if (peak) {
        std::size_t kind = 0;
        while (kind < std::size(kKinds) && std::strcmp(argv[3], kKinds[kind]) != 0)
            ++kind;
        if (kind == std::size(kKinds)) {
            std::fprintf(stderr, "unknown sample %s (g4, jpeg, png or a3)\n", argv[3]);
            return 2;
        }
        const TSample& sample = kSamples[kind];
        const long before = lvbench::StatusKb("VmHWM:");
        form->NewImage(sample.Id);
        WaitUntilShown();
        form->repaint();
        const long after = lvbench::StatusKb("VmHWM:");
        const QSize held = form->findChild<TImageControl*>("Image")->Bitmap().size();
        std::printf("%s shown: %dx%d held, peak RSS grew by %.1f MiB (whole process %.1f MiB)\n",
                    sample.Source, held.width(), held.height(),
                    static_cast<double>(after - before) / 1024.0,
                    static_cast<double>(after) / 1024.0);
    } else {
        for (int i : {0, 1, 2, 3}) {
            if (!QFile::exists(GRoot + "/" + kSamples[i].Source))
                continue;
            const std::string kind = kKinds[i];
            benchmark::RegisterBenchmark(("Viewer_NewImageToPaint/" + kind).c_str(),
                                         [i](benchmark::State& s) { NewImageToPaint(s, i); })
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("Viewer_DecodeAtFit/" + kind).c_str(),
                                         [i](benchmark::State& s) { DecodeAtFit(s, i); })
                ->Unit(benchmark::kMillisecond);
        }
        int bargc = argc - 1;
        std::vector<char*> bargv{argv[0]};
        for (int i = 2; i < argc; ++i)
            bargv.push_back(argv[i]);
        benchmark::Initialize(&bargc, bargv.data());
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    form.reset();
    TOrlenzaCustomerController::ReleaseSharedControlFile();
    ViewController.reset();
    lvplatform::RemoveSharedMemory(name);
    return 0;
}
