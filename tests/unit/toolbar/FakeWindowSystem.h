// A desktop held in memory behind the window-system interface: windows with titles and
// placements that a test opens, retitles, moves and closes at will, and a count of the
// lookups made. The console monitor's rules run on it without an X server; the real
// backend keeps its own tests on the runner's X server.
#pragma once

#include "platform/WindowSystem.h"

#include <map>
#include <string>

class TFakeWindowSystem : public lvplatform::IWindowSystem {
public:
    using TWindowHandle = lvplatform::TWindowHandle;
    using WINDOWPLACEMENT = lvplatform::WINDOWPLACEMENT;

    // A shown window with its frame at (x, y), w x h.
    static WINDOWPLACEMENT Normal(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
        WINDOWPLACEMENT p{};
        p.length = sizeof(WINDOWPLACEMENT);
        p.showCmd = lvplatform::SW_SHOWNORMAL;
        p.ptMinPosition = {-1, -1};
        p.ptMaxPosition = {-1, -1};
        p.rcNormalPosition = {x, y, x + w, y + h};
        return p;
    }

    TWindowHandle Open(const std::string& title, const WINDOWPLACEMENT& placement) {
        const TWindowHandle window = ++FLastHandle;
        FWindows[window] = {title, placement};
        return window;
    }
    TWindowHandle Open(const std::string& title) { return Open(title, Normal(100, 200, 640, 400)); }
    void Close(TWindowHandle window) { FWindows.erase(window); }
    void SetTitle(TWindowHandle window, const std::string& title) {
        FWindows.at(window).Title = title;
    }
    void SetPlacement(TWindowHandle window, const WINDOWPLACEMENT& placement) {
        FWindows.at(window).Placement = placement;
    }

    // The window opened first among those with the title (letter case ignored, as the
    // real backends compare).
    TWindowHandle FindWindow(const std::string& title) override {
        ++Lookups;
        for (const auto& [window, entry] : FWindows)
            if (lvplatform::TitlesEqualIgnoringCase(entry.Title, title))
                return window;
        return 0;
    }

    bool GetWindowPlacement(TWindowHandle window, WINDOWPLACEMENT& placement) override {
        ++PlacementReads;
        const auto found = FWindows.find(window);
        if (found == FWindows.end() || placement.length != sizeof(WINDOWPLACEMENT))
            return false;
        placement = found->second.Placement;
        return true;
    }

    bool SetTransientFor(TWindowHandle window, TWindowHandle owner) override {
        if (window == 0 || !FWindows.count(owner))
            return false;
        if (Owners[window] != owner)
            ++OwnerWrites;
        Owners[window] = owner;
        return true;
    }

    std::int32_t FrameWidth() override { return FrameWidthValue; }

    // The owner each window was last given, and how often one changed.
    std::map<TWindowHandle, TWindowHandle> Owners;
    int OwnerWrites = 0;

    int Lookups = 0;
    int PlacementReads = 0;
    std::int32_t FrameWidthValue = 4;

private:
    struct TEntry {
        std::string Title;
        WINDOWPLACEMENT Placement;
    };
    std::map<TWindowHandle, TEntry> FWindows;
    TWindowHandle FLastHandle = 0;
};
