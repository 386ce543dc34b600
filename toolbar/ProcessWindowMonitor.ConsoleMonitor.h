// TConsoleMonitor: finds the host's console windows by their titles (the format of
// ProcessWindowMonitor.h) and reports where one of them stands; the toolbar asks for its
// own console's placement on every tick.
#pragma once

#include "toolbar/ProcessWindowMonitor.h"

#include "platform/WindowSystem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Watches the console windows of ids 1 to 500. The set of ids found is taken at
// construction (and on each read of ConsoleInstances); GetConsoleInfo then looks only
// at the window of a found id. The monitor catches nothing: formatting errors pass on.
class TConsoleMonitor {
public:
    // Scans at once. AWindows is the desktop to look at; none means the session's.
    TConsoleMonitor(TConsoleInfoCallback ACallback, std::int32_t ALowBound, std::int32_t AHighBound,
                    std::shared_ptr<lvplatform::IWindowSystem> AWindows = nullptr);
    TConsoleMonitor(const TConsoleMonitor&) = delete;
    TConsoleMonitor& operator=(const TConsoleMonitor&) = delete;

    // Reports the placement of that instance's console window to the callback, when the
    // id was found by the last scan and its window is there now.
    void GetConsoleInfo(std::uint16_t AInstanceID);
    // Whether the last scan found the id; looks at no window.
    bool ConsoleRunning(std::uint16_t AInstanceID) const;

    // A window (the toolbar) that belongs to the console: each GetConsoleInfo that finds
    // the console makes it the window's owner, so the window manager raises the window
    // with its console. 0: none.
    void SetOwnedWindow(lvplatform::TWindowHandle AWindow) { FOwnedWindow = AWindow; }
    lvplatform::TWindowHandle OwnedWindow() const { return FOwnedWindow; }

    TConsoleInfoCallback OnInstanceFound() const { return FCallback; }
    void SetOnInstanceFound(TConsoleInfoCallback ACallback) { FCallback = std::move(ACallback); }
    // Scans again, then returns the ids found, ascending.
    std::vector<std::uint16_t> ConsoleInstances();
    std::int32_t LowBound() const { return FLowBound; }
    void SetLowBound(std::int32_t AValue) { FLowBound = AValue; }
    std::int32_t HighBound() const { return FHighBound; }
    void SetHighBound(std::int32_t AValue) { FHighBound = AValue; }

    // The fixed range of a scan; the bounds above do not narrow it.
    static constexpr std::uint16_t kFirstInstance = 1;
    static constexpr std::uint16_t kLastInstance = 500;

private:
    void ScanConsoleInstances();

    std::int32_t FLowBound;
    std::int32_t FHighBound;
    TConsoleInfoCallback FCallback;
    std::vector<std::uint16_t> FConsoleInstances;
    std::shared_ptr<lvplatform::IWindowSystem> FWindows;
    // The console's title, made again only when its id or the title format changes: the
    // docking tick asks for it ten times a second.
    const std::string& ConsoleTitle(std::uint16_t AInstanceID);
    std::uint16_t FTitleId = 0;
    std::string FTitleFormat, FTitle;
    lvplatform::TWindowHandle FOwnedWindow = 0;
};
