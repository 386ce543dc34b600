// Win32 backend of the end requests: console control events (Ctrl+C, Ctrl+Break, the
// console closing, log-off, shut-down) instead of signals. The handler runs on a thread
// of its own, so it only records the event; the program's loop takes it.
#include "platform/EndRequests.h"

#include <windows.h>

#include <atomic>

namespace lvplatform {
namespace {

std::atomic<int> gPending{0};
std::atomic<bool> gWatching{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    gPending.store(static_cast<int>(event) + 1);
    return TRUE; // handled: the program ends in its own order
}

} // namespace

int WatchEndRequests() {
    if (!gWatching.exchange(true))
        SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    // There is no descriptor to watch on Windows: the caller polls TakeEndRequest.
    return -1;
}

int TakeEndRequest() {
    return gPending.exchange(0);
}

} // namespace lvplatform
