// Cost of finding the host's console window among many others, on a real X server with
// a window manager (run under scripts/with-x; see bench/toolbar/run). 200 other
// top-level windows and one console are open for the whole run.
//
//   RoundTripFloor      one X round trip (GetInputFocus): the floor the others are
//                       divided by
//   ListAllTitles       what a lookup without a cache costs: the client list and every
//                       title, in one pipelined round
//   Scan500Fresh        a new connection and a console monitor built on it: the
//                       construction-time 500-id scan as the toolbar pays it once
//   Scan500Warm         ConsoleInstances() on a monitor that already knows the desktop
//   PerTickIdle         GetConsoleInfo on an idle desktop (the 100 ms tick)
//   PerTickConsoleMoved GetConsoleInfo after the console moved (one placement read)
#include "tests/support/XTestWindows.h"
#include "toolbar/ProcessWindowMonitor.ConsoleMonitor.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

lvtest::XDesktop* gDesktop = nullptr;
xcb_window_t gConsole = 0;
const char* kFormat = "Bench Console %d";
constexpr std::uint16_t kConsoleId = 321;

void RoundTripFloor(benchmark::State& state) {
    lvtest::XDesktop desktop;
    for (auto _ : state)
        desktop.Sync();
}
BENCHMARK(RoundTripFloor);

void ListAllTitles(benchmark::State& state) {
    lvtest::XDesktop desktop;
    xcb_connection_t* c = desktop.Connection();
    const xcb_atom_t netWmName = desktop.Atom("_NET_WM_NAME");
    const xcb_atom_t utf8 = desktop.Atom("UTF8_STRING");
    for (auto _ : state) {
        auto list = desktop.ClientList();
        std::vector<xcb_get_property_cookie_t> cookies;
        cookies.reserve(list.size() * 2);
        for (xcb_window_t w : list) {
            cookies.push_back(xcb_get_property(c, 0, w, netWmName, utf8, 0, 1024));
            cookies.push_back(
                xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024));
        }
        for (auto cookie : cookies)
            std::free(xcb_get_property_reply(c, cookie, nullptr));
        benchmark::DoNotOptimize(list.size());
    }
}
BENCHMARK(ListAllTitles);

void Scan500Fresh(benchmark::State& state) {
    for (auto _ : state) {
        TConsoleMonitor monitor(nullptr, kConsoleId, kConsoleId, lvplatform::CreateWindowSystem());
        if (!monitor.ConsoleRunning(kConsoleId))
            state.SkipWithError("console not found");
    }
}
BENCHMARK(Scan500Fresh)->Unit(benchmark::kMicrosecond);

void Scan500Warm(benchmark::State& state) {
    TConsoleMonitor monitor(nullptr, kConsoleId, kConsoleId, lvplatform::CreateWindowSystem());
    for (auto _ : state)
        benchmark::DoNotOptimize(monitor.ConsoleInstances().size());
}
BENCHMARK(Scan500Warm)->Unit(benchmark::kMicrosecond);

void PerTickIdle(benchmark::State& state) {
    int reports = 0;
    TConsoleMonitor monitor([&](const WINDOWPLACEMENT&) { ++reports; }, kConsoleId, kConsoleId,
                            lvplatform::CreateWindowSystem());
    for (auto _ : state)
        monitor.GetConsoleInfo(kConsoleId);
    if (reports == 0)
        state.SkipWithError("console never reported");
}
BENCHMARK(PerTickIdle);

void PerTickConsoleMoved(benchmark::State& state) {
    int reports = 0;
    TConsoleMonitor monitor([&](const WINDOWPLACEMENT&) { ++reports; }, kConsoleId, kConsoleId,
                            lvplatform::CreateWindowSystem());
    int x = 100;
    for (auto _ : state) {
        state.PauseTiming();
        x = x == 100 ? 140 : 100;
        gDesktop->Move(gConsole, x, 300);
        // Give the window manager time to move the frame and the events time to arrive.
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        state.ResumeTiming();
        monitor.GetConsoleInfo(kConsoleId);
    }
    if (reports == 0)
        state.SkipWithError("console never reported");
}
BENCHMARK(PerTickConsoleMoved)->Iterations(300);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "needs an X server with a window manager (bench/toolbar/run)\n");
        return 2;
    }
    lvtest::XDesktop desktop;
    if (!desktop.Ok())
        return 2;
    gDesktop = &desktop;
    SetProcessWindowTextFormat(kFormat);
    // The window manager may still be starting: wait until it manages a first window.
    const xcb_window_t probe = desktop.Open("Bench probe");
    if (!desktop.WaitManaged(probe, std::chrono::seconds(20))) {
        std::fprintf(stderr, "no window manager manages windows on this display\n");
        return 2;
    }
    desktop.Close(probe);
    std::vector<xcb_window_t> others;
    others.reserve(200);
    for (int i = 0; i < 200; ++i)
        others.push_back(
            desktop.Open("Other window " + std::to_string(i), 10 + i, 10 + i, 200, 100));
    gConsole = desktop.Open(FormatWithInteger(kFormat, kConsoleId), 100, 300, 640, 400);
    if (!lvtest::WaitFor([&] { return desktop.ClientList().size() == 201; },
                         std::chrono::seconds(20))) {
        std::fprintf(stderr, "window manager did not list the 201 windows\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    desktop.CloseAll();
    return 0;
}
