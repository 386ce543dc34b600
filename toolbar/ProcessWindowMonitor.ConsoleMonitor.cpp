#include "toolbar/ProcessWindowMonitor.ConsoleMonitor.h"

#include <algorithm>

TConsoleMonitor::TConsoleMonitor(TConsoleInfoCallback ACallback, std::int32_t ALowBound,
                                 std::int32_t AHighBound,
                                 std::shared_ptr<lvplatform::IWindowSystem> AWindows)
    : FLowBound(ALowBound), FHighBound(AHighBound), FCallback(std::move(ACallback)),
      FWindows(AWindows ? std::move(AWindows) : lvplatform::CreateWindowSystem()) {
    ScanConsoleInstances();
}

void TConsoleMonitor::ScanConsoleInstances() {
    FConsoleInstances.clear();
    for (std::uint16_t id = kFirstInstance; id <= kLastInstance; ++id) {
        if (FWindows->FindWindow(ProcessWindowText(id)) != 0)
            FConsoleInstances.push_back(id);
    }
}

std::vector<std::uint16_t> TConsoleMonitor::ConsoleInstances() {
    ScanConsoleInstances();
    return FConsoleInstances;
}

bool TConsoleMonitor::ConsoleRunning(std::uint16_t AInstanceID) const {
    return std::find(FConsoleInstances.begin(), FConsoleInstances.end(), AInstanceID) !=
           FConsoleInstances.end();
}

void TConsoleMonitor::GetConsoleInfo(std::uint16_t AInstanceID) {
    if (!ConsoleRunning(AInstanceID))
        return;
    const lvplatform::TWindowHandle window = FWindows->FindWindow(ConsoleTitle(AInstanceID));
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(WINDOWPLACEMENT);
    if (window == 0 || !FWindows->GetWindowPlacement(window, placement))
        return;
    if (FOwnedWindow != 0)
        FWindows->SetTransientFor(FOwnedWindow, window);
    if (FCallback)
        FCallback(placement);
}

const std::string& TConsoleMonitor::ConsoleTitle(std::uint16_t AInstanceID) {
    std::string format = GetProcessWindowTextFormat();
    if (FTitleFormat.empty() || AInstanceID != FTitleId || format != FTitleFormat) {
        FTitle = FormatWithInteger(format, AInstanceID);
        FTitleId = AInstanceID;
        FTitleFormat = std::move(format);
    }
    return FTitle;
}
