// Responsiveness of the viewer window with its decodes on workers, each figure printed
// beside a floor measured in the same run. The sample files come from
// `bench_imaging --make DIR` (a 24-megapixel JPEG and a 300 dpi A4 G4 page); this program
// links them into a source folder and writes a 5-page bilevel TIFF itself.
//
//   bench_viewer_live next DIR      next/back to a prefetched neighbour, click to paint
//   bench_viewer_live pagedown DIR  Page Down to a prefetched page of a 5-page TIFF
//   bench_viewer_live gap DIR       longest gap of a 1 ms GUI timer while a page decodes
//   bench_viewer_live burst DIR     ten next clicks 10 ms apart, the tenth to paint
//   bench_viewer_live memory DIR    peak memory stepping through twenty 24 MP JPEGs
//   bench_viewer_live pageburst DIR ten Page Downs 30 ms apart (24 MP JPEGs, a 20-page G4
//                                   TIFF), the tenth page to paint
//   bench_viewer_live zoom DIR      longest GUI stall while wheel-zooming a 48 MP JPEG and
//                                   a 600 dpi A3 TIFF (files of bench_imaging --make-zoom)
//   bench_viewer_live stripcold DIR the page strip of 50 pages (G4 pages and 24 MP JPEGs)
//                                   opened cold, every tile in view painted
//   bench_viewer_live stripscroll DIR a strip of 1,000 pages scrolled by wheel and keys, the
//                                   longest GUI stall meanwhile
//
// bench/viewer/responsiveness.sh runs one of them with the files made.
#include "viewer/DecodePipeline.h"
#include "viewer/ImageDecoding.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/ViewerWidgets.h"
#include "viewer/strip/PageStrip.h"
#include "viewer/strip/PageStripModel.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using lvbench::Clock;
using lvbench::Median;
using lvbench::Ms;
using lvbench::Place;
using lvbench::StatusKb;

// Makes the next VmHWM read the peak from now on.
void ResetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void WaitUntil(const std::function<bool()>& ADone) {
    while (!ADone())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// G4 pages, A4 at 300 dpi unless asked smaller, each with lines of "text" at a different
// place.
void WritePagesTiff(const QString& APath, int APages, int w = 2480, int h = 3508) {
    TIFF* tif = TIFFOpen(QFile::encodeName(APath).constData(), "w");
    if (!tif)
        qFatal("cannot write %s", qPrintable(APath));
    std::vector<uint8_t> row(static_cast<size_t>((w + 7) / 8));
    for (int page = 0; page < APages; ++page) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(h));
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(page),
                     static_cast<uint16_t>(APages));
        for (int y = 0; y < h; ++y) {
            std::fill(row.begin(), row.end(), 0);
            const int shift = (page % 5) * 40;
            const int line = (y - 200 - shift) / 50;
            if (y > 200 && y < h - 200 && (y - 200 - shift) % 50 < 24) {
                const int len = (line % 5 == 4 ? 1100 : 2000) * w / 2480 / 8;
                for (int x = 30; x < 30 + len; ++x)
                    row[static_cast<size_t>(x)] = (x + line) % 7 == 0 ? 0x00 : 0xF7;
            }
            TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

// The samples where the searches find them: 90000001~01..~21.jpg (the 24 MP photo),
// 92000001~01..~10.tif (the G4 page), 91000001~1.tif (five pages) and the rest below.
// Returns the source folder.
QString PlaceSamples(const QString& ADir) {
    const QString scans = ADir + "/scans/";
    for (const char* sub : {"9000", "9100", "9200", "9300", "9600", "9700"})
        QDir().mkpath(scans + sub);
    for (int i = 1; i <= 21; ++i)
        Place(ADir + "/photo-24mp.jpg",
              scans + QStringLiteral("9000/90000001~%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
    for (int i = 1; i <= 10; ++i)
        Place(ADir + "/a4-300dpi-g4.tif",
              scans + QStringLiteral("9200/92000001~%1.tif").arg(i, 2, 10, QLatin1Char('0')));
    WritePagesTiff(scans + "9100/91000001~1.tif", 5);
    WritePagesTiff(scans + "9300/93000001~1.tif", 20);
    // The zoom samples, where bench_imaging --make-zoom wrote them.
    if (QFile::exists(ADir + "/photo-48mp.jpg")) {
        QDir().mkpath(scans + "9400");
        Place(ADir + "/photo-48mp.jpg", scans + "9400/94000001~1.jpg");
    }
    if (QFile::exists(ADir + "/a3-600dpi-lzw.tif")) {
        QDir().mkpath(scans + "9500");
        Place(ADir + "/a3-600dpi-lzw.tif", scans + "9500/95000001~1.tif");
    }
    // Fifty files, G4 pages and photos taking turns.
    for (int i = 1; i <= 50; ++i)
        Place(ADir + (i % 2 ? "/a4-300dpi-g4.tif" : "/photo-24mp.jpg"),
              scans + QStringLiteral("9600/96000001~%1.%2")
                          .arg(i, 2, 10, QLatin1Char('0'))
                          .arg(i % 2 ? "tif" : "jpg"));
    return scans;
}

// The viewer window over a real block whose source folder holds the samples.
class TBench {
public:
    explicit TBench(const QString& ADir)
        : FDir(ADir), FWindow(PlaceSamples(ADir), "lvbench-live-"), Form(FWindow.Form) {}
    QString Photo(int AIndex) const {
        return FDir +
               QStringLiteral("/scans/9000/90000001~%1.jpg").arg(AIndex, 2, 10, QLatin1Char('0'));
    }
    QString Page(int AIndex) const {
        return FDir +
               QStringLiteral("/scans/9200/92000001~%1.tif").arg(AIndex, 2, 10, QLatin1Char('0'));
    }
    QString FivePages() const { return FDir + "/scans/9100/91000001~1.tif"; }
    QString TwentyPages() const { return FDir + "/scans/9300/93000001~1.tif"; }
    // Written by the benchmark that wants it: a thousand pages take a while.
    QString ThousandPages() const { return FDir + "/scans/9700/97000001~1.tif"; }
    QString SampleFor(const char* AId) const {
        const QString id = QString::fromLatin1(AId);
        const QString folder = FDir + "/scans/" + id.left(4) + "/" + id + "~1.";
        return QFile::exists(folder + "jpg") ? folder + "jpg" : folder + "tif";
    }

    // The page shown, then every neighbour's decode finished.
    void Settle() {
        WaitUntil([this] { return !Form->IsLoading(); });
        // The neighbours are asked for once the page's paint is through the event loop.
        QCoreApplication::processEvents();
        WaitUntil([this] { return Form->Pipeline().Pending() == 0; });
    }
    void Search(const char* AId) {
        Form->NewImage(AId);
        Settle();
        Form->repaint();
    }
    // Nothing shown and nothing held: a search that finds nothing drops the frames of the
    // last one, then the cache lets go of the rest.
    void Forget() {
        Form->NewImage("99999999");
        Settle();
        Form->Pipeline().Cache().Clear();
    }
    // AId searched with nothing of it decoded before.
    void ColdSearch(const char* AId) {
        Forget();
        Search(AId);
    }
    TDrawRule Rule() const {
        TDrawRule rule;
        rule.AreaHeight = Form->findChild<QTabWidget*>("tabImage")->height();
        rule.ClientWidth = Form->width();
        rule.DevicePixelRatio = Form->devicePixelRatioF();
        return rule;
    }
    // The same page decoded on this thread at the size the window draws it: the floor.
    double DecodeFloorMs(const QString& APath, int APage = 0, int ARuns = 5) const {
        const TDrawRule rule = Rule();
        std::vector<double> runs;
        for (int i = 0; i < ARuns; ++i) {
            const auto t0 = Clock::now();
            TDecodeOptions options;
            options.Page = APage;
            TDecodedImage decoded = DecodeForDisplay(
                APath, [&](QSize AFull) { return rule.TargetFor(AFull); }, options);
            runs.push_back(Ms(Clock::now() - t0));
            if (decoded.image.isNull())
                qFatal("no pixels from %s", qPrintable(APath));
        }
        return Median(runs);
    }
    QToolButton* Next() const { return Form->findChild<QToolButton*>("btnNext"); }

private:
    QString FDir;
    lvbench::TBenchWindow FWindow;

public:
    std::unique_ptr<TLumivaneViewerForm>& Form;
};

void Report(const std::string& AWhat, double AValue, const char* AUnit, const char* AGoal) {
    std::printf("  %-58s %9.3f %-3s %s\n", AWhat.c_str(), AValue, AUnit, AGoal);
}

// The runs of one figure beside its floor: median, worst run, the floor, and the ratio.
void ReportRuns(const std::string& AWhat, const std::vector<double>& ARuns,
                const std::string& AFloorWhat, double AFloor, const char* AMedianGoal,
                const char* ARatioGoal) {
    Report(AWhat + ": median of " + std::to_string(ARuns.size()), Median(ARuns), "ms", AMedianGoal);
    Report(AWhat + ": worst run", *std::max_element(ARuns.begin(), ARuns.end()), "ms", "");
    Report(AWhat + ": " + AFloorWhat, AFloor, "ms", "");
    Report(AWhat + ": median / floor", Median(ARuns) / AFloor, "x", ARatioGoal);
}

// Runs AAction ACount times, AIntervalMs apart, from the event loop, as a user's presses
// come; Last() is when the last one ran.
class TPacer {
public:
    TPacer(int AIntervalMs, int ACount, std::function<void()> AAction)
        : FCount(ACount), FAction(std::move(AAction)) {
        FTimer.setTimerType(Qt::PreciseTimer);
        FTimer.setInterval(AIntervalMs);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            FAction();
            if (++FDone == FCount) {
                FLast = Clock::now();
                FTimer.stop();
            }
        });
    }
    void Start() {
        FDone = 0;
        FTimer.start();
    }
    bool Done() const { return FDone >= FCount; }
    Clock::time_point Last() const { return FLast; }

private:
    QTimer FTimer;
    int FCount;
    int FDone = 0;
    std::function<void()> FAction;
    Clock::time_point FLast;
};

// Click (or key) to painted, on a neighbour the window decoded while the user looked.
std::vector<double> StepToPrefetched(TBench& ABench, const std::function<void()>& AStep,
                                     int ASteps) {
    std::vector<double> times;
    int fromCache = 0;
    double stepMs = 0, paintMs = 0;
    for (int i = 0; i < ASteps; ++i) {
        ABench.Settle();
        const auto t0 = Clock::now();
        AStep();
        fromCache += !ABench.Form->IsLoading();
        WaitUntil([&] { return !ABench.Form->IsLoading(); });
        const auto t1 = Clock::now();
        ABench.Form->repaint();
        const auto t2 = Clock::now();
        times.push_back(Ms(t2 - t0));
        stepMs += Ms(t1 - t0);
        paintMs += Ms(t2 - t1);
    }
    std::printf("  (%d of %d steps shown from the prefetched frame within the event; on average "
                "%.2f ms to put it on screen, %.2f ms to paint the window)\n",
                fromCache, ASteps, stepMs / ASteps, paintMs / ASteps);
    return times;
}

int RunNext(TBench& ABench) {
    std::printf("next to a prefetched neighbour, click to painted (9 steps each):\n");
    const auto click = [&] { QTest::mouseClick(ABench.Next(), Qt::LeftButton); };
    ABench.Search("90000001");
    const std::vector<double> jpeg = StepToPrefetched(ABench, click, 9);
    const double jpegFloor = ABench.DecodeFloorMs(ABench.Photo(11));
    ABench.Search("92000001");
    const std::vector<double> g4 = StepToPrefetched(ABench, click, 9);
    const double g4Floor = ABench.DecodeFloorMs(ABench.Page(10));
    ReportRuns("24 MP JPEG", jpeg, "decode floor at the drawn size", jpegFloor, "(goal < 16 ms)",
               "(goal <= 0.2x)");
    ReportRuns("A4 G4 page", g4, "decode floor at the drawn size", g4Floor, "(goal < 16 ms)", "");
    return 0;
}

int RunPageDown(TBench& ABench) {
    std::printf("Page Down to a prefetched page of a 5-page bilevel A4 TIFF, key to painted:\n");
    ABench.Search("91000001");
    if (ABench.Form->ShownPageCount() != 5) {
        std::printf("  the file shows %d page(s): the decoder does not read its pages\n",
                    ABench.Form->ShownPageCount());
        return 1;
    }
    const std::vector<double> times = StepToPrefetched(
        ABench, [&] { QTest::keyClick(ABench.Form.get(), Qt::Key_PageDown); }, 4);
    if (ABench.Form->ShownPage() != 4)
        qFatal("Page Down went to page %d", ABench.Form->ShownPage() + 1);
    const double floor = ABench.DecodeFloorMs(ABench.FivePages(), 4);
    ReportRuns("Page Down", times, "decode floor of page 5 at the drawn size", floor,
               "(goal < 16 ms)", "");
    return 0;
}

// The longest time between two runs of a 1 ms GUI timer while ABusy holds.
double LongestGapMs(const std::function<void()>& AStart, const std::function<bool()>& ABusy) {
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    auto last = Clock::now();
    double longest = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, Ms(now - last));
        last = now;
    });
    tick.start();
    last = Clock::now();
    AStart();
    WaitUntil([&] { return !ABusy(); });
    tick.stop();
    return longest;
}

int RunGap(TBench& ABench) {
    std::printf("longest gap between runs of a 1 ms GUI-thread timer:\n");
    // Nothing going on: what the timer and the machine give at best.
    QElapsedTimer idleFor;
    const double idle =
        LongestGapMs([&] { idleFor.start(); }, [&] { return idleFor.elapsed() < 500; });
    // The first page of a search, then the widest zoom with its sharper decode.
    std::vector<double> fit, detail;
    for (int run = 0; run < 5; ++run) {
        ABench.Forget();
        fit.push_back(LongestGapMs([&] { ABench.Form->NewImage("90000001"); },
                                   [&] { return ABench.Form->IsLoading(); }));
        ABench.Settle();
        auto* zoom = ABench.Form->findChild<TTrackBar*>("tbZoom");
        QElapsedTimer asked;
        detail.push_back(LongestGapMs(
            [&] {
                zoom->SetValue(1);
                asked.start();
            },
            // The sharper frame is asked for a moment after the zoom step settles.
            [&] { return asked.elapsed() < 200 || ABench.Form->Pipeline().Pending() > 0; }));
        zoom->SetValue(0);
        ABench.Settle();
    }
    const double blocking = ABench.DecodeFloorMs(ABench.Photo(1));
    Report("idle, nothing decoding (floor)", idle, "ms", "");
    Report("24 MP JPEG first page decoding: median of 5 runs", Median(fit), "ms", "(goal < 16 ms)");
    Report("24 MP JPEG first page decoding: worst run", *std::max_element(fit.begin(), fit.end()),
           "ms", "");
    Report("24 MP JPEG detail for the widest zoom: median of 5", Median(detail), "ms",
           "(goal < 16 ms)");
    Report("24 MP JPEG detail for the widest zoom: worst run",
           *std::max_element(detail.begin(), detail.end()), "ms", "");
    Report("first page median / idle floor", Median(fit) / idle, "x", "");
    Report("for scale: the same decode on the GUI thread would block", blocking, "ms", "");
    return 0;
}

// Six wheel notches 50 ms apart over the picture, in then out again, three times, the
// sharper frames decoding meanwhile: the longest gap of a 1 ms GUI timer from the first
// notch until every decode is through and the last paint done.
double ZoomStallMs(TBench& ABench, const char* AId) {
    ABench.Search(AId);
    auto* image = ABench.Form->findChild<TImageControl*>("Image");
    double longest = 0;
    for (int run = 0; run < 3; ++run) {
        for (const int direction : {1, -1}) {
            TPacer notches(50, 6, [&] {
                const QPointF at(image->width() / 2.0, image->height() / 2.0);
                QWheelEvent wheel(at, image->mapToGlobal(at), QPoint(), QPoint(0, 120 * direction),
                                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                QApplication::sendEvent(image, &wheel);
            });
            QElapsedTimer since;
            longest = std::max(longest, LongestGapMs(
                                            [&] {
                                                notches.Start();
                                                since.start();
                                            },
                                            [&] {
                                                return !notches.Done() || since.elapsed() < 800 ||
                                                       ABench.Form->Pipeline().Pending() > 0 ||
                                                       image->IsReducing();
                                            }));
            // The notches must have zoomed: in to the widest, out to the fit.
            const double zoom = ABench.Form->findChild<TTrackBar*>("tbZoom")->Value();
            if (direction > 0 ? zoom <= 0 : zoom > 0)
                qFatal("the wheel left the zoom at %.3f", zoom);
        }
    }
    return longest;
}

int RunZoom(TBench& ABench) {
    std::printf("longest GUI stall (gap of a 1 ms GUI timer) while wheel-zooming, 6 notches in and "
                "out 50 ms apart, 3 runs:\n");
    QElapsedTimer idleFor;
    const double idle =
        LongestGapMs([&] { idleFor.start(); }, [&] { return idleFor.elapsed() < 1000; });
    Report("idle, nothing going on (floor)", idle, "ms", "");
    for (const auto& [id, what] :
         {std::pair{"94000001", "48 MP JPEG"}, std::pair{"95000001", "600 dpi A3 LZW TIFF"}}) {
        if (!QFile::exists(ABench.SampleFor(id))) {
            std::printf("  %s: no sample (bench_imaging --make-zoom DIR writes it)\n", what);
            continue;
        }
        const double stall = ZoomStallMs(ABench, id);
        Report(std::string(what) + ": longest stall", stall, "ms", "(goal <= 16 ms)");
        Report(std::string(what) + ": longest stall / idle floor", stall / idle, "x", "");
    }
    return 0;
}

int RunBurst(TBench& ABench) {
    std::printf("ten next clicks 10 ms apart over ten 24 MP JPEGs, tenth click to painted:\n");
    std::vector<double> latencies;
    for (int run = 0; run < 5; ++run) {
        ABench.ColdSearch("90000001");
        TPacer clicks(10, 10, [&] { QTest::mouseClick(ABench.Next(), Qt::LeftButton); });
        clicks.Start();
        WaitUntil([&] { return clicks.Done() && !ABench.Form->IsLoading(); });
        ABench.Form->repaint();
        latencies.push_back(Ms(Clock::now() - clicks.Last()));
        if (ABench.Form->ImageId() != 11)
            qFatal("the tenth click showed file %d", ABench.Form->ImageId());
        ABench.Settle();
    }
    const double floor = ABench.DecodeFloorMs(ABench.Photo(11));
    ReportRuns("tenth click to painted", latencies,
               "the tenth file's decode floor at the drawn size", floor, "", "(goal <= 1.3x)");
    return 0;
}

// Ten Page Downs 30 ms apart from the first page, with nothing of the pages ahead decoded;
// the tenth press to the tenth page painted. Page counts come from header reads, so no
// press waits for the page before it.
std::vector<double> PageBurst(TBench& ABench, const char* AId, int AFile, int APage) {
    std::vector<double> latencies;
    for (int run = 0; run < 5; ++run) {
        ABench.ColdSearch(AId);
        // The user looks at the first page for a moment: the headers are read meanwhile.
        const TBrowseModel& browse = ABench.Form->Browse();
        WaitUntil([&] {
            for (int i = 0; i < browse.Count(); ++i)
                if (browse.PageCount(i) < 0)
                    return false;
            return true;
        });
        TPacer presses(30, 10, [&] { QTest::keyClick(ABench.Form.get(), Qt::Key_PageDown); });
        presses.Start();
        WaitUntil([&] { return presses.Done() && !ABench.Form->IsLoading(); });
        ABench.Form->repaint();
        latencies.push_back(Ms(Clock::now() - presses.Last()));
        if (ABench.Form->ImageId() != AFile || ABench.Form->ShownPage() != APage)
            qFatal("ten Page Downs showed file %d page %d", ABench.Form->ImageId(),
                   ABench.Form->ShownPage() + 1);
        ABench.Settle();
    }
    return latencies;
}

int RunPageBurst(TBench& ABench) {
    std::printf("ten Page Downs 30 ms apart, tenth press to the tenth page painted (5 runs):\n");
    const std::vector<double> jpeg = PageBurst(ABench, "90000001", 11, 0);
    const double jpegFloor = ABench.DecodeFloorMs(ABench.Photo(11));
    const std::vector<double> g4 = PageBurst(ABench, "93000001", 1, 10);
    const double g4Floor = ABench.DecodeFloorMs(ABench.TwentyPages(), 10);
    ReportRuns("24 MP JPEGs", jpeg, "the tenth file's decode floor at the drawn size", jpegFloor,
               "", "(goal <= 1.3x)");
    ReportRuns("20-page G4 TIFF", g4, "page 11's decode floor at the drawn size", g4Floor, "",
               "(goal <= 1.3x)");
    return 0;
}

// The strip's rows whose tiles are in view.
std::vector<int> RowsInView(const TPageStrip& AStrip) {
    std::vector<int> rows;
    const TPageStripModel& tiles = AStrip.StripModel();
    for (int row = 0; row < tiles.rowCount(); ++row)
        if (AStrip.viewport()->rect().intersects(AStrip.visualRect(tiles.index(row))))
            rows.push_back(row);
    return rows;
}

// The GUI thread's longest answer to the stall probe over AMs with nothing going on: the
// floor the stalls are set against.
double IdleStallMs(int AMs) {
    lvbench::TStallProbe probe;
    QElapsedTimer idleFor;
    idleFor.start();
    probe.Start();
    WaitUntil([&] { return idleFor.elapsed() >= AMs; });
    return probe.Stop();
}

// The strip opened on a search whose pages were never decoded as tiles: from the key to
// every tile in view painted, against the sum of those tiles' decodes on this thread shared
// among the pipeline's workers (the tiles decode on all of them at once). Each run has its
// own floor, measured right after it, so a busy spell of a shared machine falls on both.
int RunStripCold(TBench& ABench) {
    std::printf("page strip of 50 pages opened cold, key to every tile in view painted:\n");
    const int workers = ABench.Form->Pipeline().Workers();
    std::vector<double> opens, stalls, busiest, sums, ratios;
    std::size_t inView = 0;
    for (int run = 0; run < 5; ++run) {
        ABench.ColdSearch("96000001");
        TPageStrip& strip = ABench.Form->Strip();
        if (strip.isVisible())
            qFatal("the strip is shown before the key that shows it");
        TPageStripModel& tiles = strip.StripModel();
        const TBrowseModel& browse = ABench.Form->Browse();
        WaitUntil([&] { return tiles.rowCount() == 50 && browse.PageCount(49) >= 0; });
        const auto painted = [&] {
            for (const int row : RowsInView(strip)) {
                const QModelIndex index = tiles.index(row);
                if (index.data(TPageStripModel::ThumbnailRole).value<QImage>().isNull() &&
                    index.data(TPageStripModel::ErrorRole).toString().isEmpty())
                    return false;
            }
            return true;
        };
        lvbench::TStallProbe probe;
        const auto t0 = Clock::now();
        probe.Start();
        QTest::keyClick(ABench.Form.get(), Qt::Key_F9);
        QElapsedTimer waited;
        waited.start();
        WaitUntil([&] {
            if (waited.elapsed() > 60000) {
                std::string missing;
                for (const int row : RowsInView(strip))
                    if (tiles.index(row)
                            .data(TPageStripModel::ThumbnailRole)
                            .value<QImage>()
                            .isNull())
                        missing += " " + std::to_string(row);
                qFatal("run %d: after 60 s the strip is %s, tiles in view missing:%s; %d decodes "
                       "pending, %d running",
                       run, strip.isVisible() ? "shown" : "hidden", missing.c_str(),
                       ABench.Form->Pipeline().Pending(), ABench.Form->Pipeline().Running());
            }
            return strip.isVisible() && painted();
        });
        strip.repaint();
        opens.push_back(Ms(Clock::now() - t0));
        stalls.push_back(probe.Stop());
        busiest.push_back(probe.BusiestMs());
        const int side = tiles.ThumbnailSide();
        const std::vector<int> rows = RowsInView(strip);
        inView = rows.size();
        double sum = 0;
        for (const int row : rows) {
            const QString path = browse.FilePath(tiles.PositionAt(row).File);
            const auto d0 = Clock::now();
            TDecodeOptions oneThread;
            oneThread.Threads = 1;
            DecodeForDisplay(path, QSize(side, side), oneThread);
            sum += Ms(Clock::now() - d0);
        }
        sums.push_back(sum);
        ratios.push_back(opens.back() / (sum / workers));
        QTest::keyClick(ABench.Form.get(), Qt::Key_F9); // hidden again for the next run
        ABench.Settle();
    }
    const double idle = IdleStallMs(static_cast<int>(Median(opens)) + 100);
    std::printf("  (%zu tiles in view, %d workers)\n", inView, workers);
    Report("open to every tile painted: median of 5", Median(opens), "ms", "");
    Report("sum of those tiles' decodes on one thread: median", Median(sums), "ms", "");
    Report("floor: that sum / workers", Median(sums) / workers, "ms", "");
    Report("open / floor of the same run: median of 5", Median(ratios), "x", "(goal <= 1.5x)");
    Report("open / floor of the same run: worst run",
           *std::max_element(ratios.begin(), ratios.end()), "x", "");
    Report("longest GUI stall meanwhile (probe round trip): median", Median(stalls), "ms",
           "(goal <= 16 ms)");
    Report("longest GUI stall meanwhile: worst run",
           *std::max_element(stalls.begin(), stalls.end()), "ms", "");
    Report("most GUI-thread CPU within one round trip: worst run",
           *std::max_element(busiest.begin(), busiest.end()), "ms", "");
    Report("longest probe round trip idle, as long (floor)", idle, "ms", "");
    Report("median stall / idle floor", Median(stalls) / idle, "x", "");
    return 0;
}

// A strip of 1,000 pages (A4 G4 at 150 dpi) scrolled the way a user does: wheel notches
// 20 ms apart down to the end, a click on the last tile, then Up presses 30 ms apart,
// the tiles coming into view decoding on the workers all the while. The longest round trip
// of the stall probe meanwhile, against the same probe idle for as long.
int RunStripScroll(TBench& ABench) {
    std::printf("strip of 1,000 pages scrolled by wheel and keys, longest GUI stall:\n");
    const auto w0 = Clock::now();
    WritePagesTiff(ABench.ThousandPages(), 1000, 1240, 1754);
    std::printf("  (1,000-page G4 TIFF written in %.0f ms)\n", Ms(Clock::now() - w0));
    ABench.ColdSearch("97000001");
    TPageStrip& strip = ABench.Form->Strip();
    TPageStripModel& tiles = strip.StripModel();
    if (!strip.isVisible())
        QTest::keyClick(ABench.Form.get(), Qt::Key_F9);
    WaitUntil([&] { return tiles.rowCount() == 1000; });
    strip.setFocus();
    QScrollBar* bar = strip.verticalScrollBar();
    std::vector<double> stalls, busiest, spans;
    int decoded = 0;
    for (int run = 0; run < 3; ++run) {
        strip.scrollToTop();
        ABench.Settle();
        lvbench::TStallProbe probe;
        const auto t0 = Clock::now();
        probe.Start();
        // Down the whole strip by wheel: three rows a notch.
        TPacer wheel(20, 1000 / 3 + 1, [&] {
            QWidget* view = strip.viewport();
            const QPointF at(view->width() / 2.0, view->height() / 2.0);
            QWheelEvent notch(at, view->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view, &notch);
        });
        wheel.Start();
        WaitUntil([&] { return wheel.Done(); });
        if (bar->value() != bar->maximum())
            qFatal("the wheel left the strip at %d of %d", bar->value(), bar->maximum());
        // A click on the last tile shows its page; then back up by keys, a tile a press.
        const std::vector<int> bottom = RowsInView(strip);
        QTest::mouseClick(strip.viewport(), Qt::LeftButton, Qt::NoModifier,
                          strip.visualRect(tiles.index(bottom.back())).center());
        TPacer keys(30, 60, [&] { QTest::keyClick(strip.windowHandle(), Qt::Key_Up); });
        keys.Start();
        WaitUntil([&] { return keys.Done(); });
        if (bar->value() == bar->maximum())
            qFatal("the Up key did not scroll the strip");
        ABench.Settle();
        spans.push_back(Ms(Clock::now() - t0));
        stalls.push_back(probe.Stop());
        busiest.push_back(probe.BusiestMs());
    }
    const TFrameCache& cache = ABench.Form->Pipeline().Cache();
    const QString file = ABench.Form->Browse().FilePath(0);
    for (int page = 0; page < 1000; ++page)
        decoded += cache.Contains(ThumbnailKey(file, page, tiles.ThumbnailSide()));
    const double idle = IdleStallMs(static_cast<int>(Median(spans)));
    std::printf("  (%d of 1,000 tiles decoded by the end, %zu in view)\n", decoded,
                RowsInView(strip).size());
    Report("scroll through and back: median time", Median(spans), "ms", "");
    Report("longest GUI stall (probe round trip): median of 3", Median(stalls), "ms",
           "(goal <= 16 ms)");
    Report("longest GUI stall: worst run", *std::max_element(stalls.begin(), stalls.end()), "ms",
           "(goal <= 16 ms)");
    Report("most GUI-thread CPU within one round trip: worst run",
           *std::max_element(busiest.begin(), busiest.end()), "ms", "");
    Report("longest probe round trip idle, as long (floor)", idle, "ms", "");
    Report("median stall / idle floor", Median(stalls) / idle, "x", "");
    return 0;
}

int RunMemory(TBench& ABench) {
    const qint64 budget = ABench.Form->Pipeline().Cache().Budget();
    std::printf("peak memory stepping through twenty 24 MP JPEGs (cache budget %.0f MiB):\n",
                static_cast<double>(budget) / (1024.0 * 1024.0));
    const long baseline = StatusKb("VmRSS:");
    ResetPeakRss();
    ABench.Search("90000001");
    for (int i = 2; i <= 20; ++i) {
        QTest::mouseClick(ABench.Next(), Qt::LeftButton);
        ABench.Settle();
        ABench.Form->repaint();
    }
    const long peak = StatusKb("VmHWM:");
    const double grown = static_cast<double>(peak - baseline) / 1024.0;
    const double budgetMiB = static_cast<double>(budget) / (1024.0 * 1024.0);
    Report("whole process before the first image (RSS)", static_cast<double>(baseline) / 1024.0,
           "MiB", "");
    Report("whole process at its peak", static_cast<double>(peak) / 1024.0, "MiB", "");
    Report("grown by showing the twenty", grown, "MiB", "");
    Report("frames held in the cache at the end",
           static_cast<double>(ABench.Form->Pipeline().Cache().Used()) / (1024.0 * 1024.0), "MiB",
           "");
    Report("growth beyond the budget (growth - budget)", grown - budgetMiB, "MiB",
           "(goal < 40 MiB)");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_viewer_live "
                             "next|pagedown|gap|burst|memory|pageburst|zoom|stripcold|"
                             "stripscroll DIR\n");
        return 2;
    }
    // Window placements and the strip's state of this run only: what an earlier run left
    // (the strip shown, say) must not change what this one measures.
    const QByteArray data = QByteArray(argv[2]) + "/data";
    QDir().mkpath(QString::fromLocal8Bit(data));
    qputenv("XDG_DATA_HOME", data);
    QApplication app(argc, argv);
    TBench bench(QString::fromLocal8Bit(argv[2]));
    const std::string what = argv[1];
    if (what == "next")
        return RunNext(bench);
    if (what == "pagedown")
        return RunPageDown(bench);
    if (what == "gap")
        return RunGap(bench);
    if (what == "burst")
        return RunBurst(bench);
    if (what == "memory")
        return RunMemory(bench);
    if (what == "pageburst")
        return RunPageBurst(bench);
    if (what == "zoom")
        return RunZoom(bench);
    if (what == "stripcold")
        return RunStripCold(bench);
    if (what == "stripscroll")
        return RunStripScroll(bench);
    std::fprintf(stderr, "unknown benchmark %s\n", argv[1]);
    return 2;
}
