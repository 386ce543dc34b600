// Saving a window into its placement record and restoring it: which display a window is
// on, whether a saved place still fits, and how a restored window is fitted into its
// display.
#include "positions/ScreenPositionTracker.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

namespace lvpositions {

namespace {

int ClampToInt(double v) {
    if (!(v == v))
        return 0;
    v = std::clamp(v, static_cast<double>(std::numeric_limits<int>::min()),
                   static_cast<double>(std::numeric_limits<int>::max()));
    return static_cast<int>(v);
}

bool ValidDisplay(int index, const TPlacementEnvironment& env) {
    return index >= 0 && static_cast<std::size_t>(index) < env.Displays.size();
}

TPlacementRect WindowRect(const IPlacementWindow& w) {
    return {w.Left(), w.Top(), w.Width(), w.Height()};
}

} // namespace

int GetFormMonitor(const TPlacementRect& window, const std::vector<TPlacementDisplay>& displays) {
    // The centre is held as 32-bit floats, as the toolkit's point type does.
    const double cx = static_cast<float>(window.Left + window.Width / 2.0);
    const double cy = static_cast<float>(window.Top + window.Height / 2.0);
    for (std::size_t i = 0; i < displays.size(); ++i) {
        const TPlacementRect& wa = displays[i].WorkArea;
        if (wa.Left <= cx && wa.Top <= cy && static_cast<double>(wa.Right()) >= cx &&
            static_cast<double>(wa.Bottom()) >= cy)
            return static_cast<int>(i);
    }
    return -1;
}

long long RoundHalfEven(double value) {
    const double floor = std::floor(value);
    const double diff = value - floor;
    double result = floor;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(floor, 2.0) != 0.0))
        result = floor + 1;
    return static_cast<long long>(result);
}

} // namespace lvpositions

using namespace lvpositions;

void TPositionTracker::Save(IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
                            const TPositionTrackerEvent& AOnCustomProperties) {
    FPosition = {static_cast<float>(AForm.Left()), static_cast<float>(AForm.Top())};
    FFormSize = {static_cast<float>(AForm.Width()), static_cast<float>(AForm.Height())};
    FFullScreen = AForm.FullScreen();
    // A minimised window is remembered as normal, so it never comes back minimised.
    FScreenMode = AForm.WindowState() == wsMaximized ? wsMaximized : wsNormal;
    FMonitor = GetFormMonitor(WindowRect(AForm), AEnvironment.Displays);
    FMainformMonitor = AEnvironment.MainWindow
                           ? GetFormMonitor(*AEnvironment.MainWindow, AEnvironment.Displays)
                           : -1;
    FMonitorCount = static_cast<float>(AEnvironment.Displays.size());
    // A window over no work area has no display to measure; the record is still written.
    if (ValidDisplay(FMonitor, AEnvironment)) {
        const TPlacementRect& b = AEnvironment.Displays[static_cast<std::size_t>(FMonitor)].Bounds;
        FDesktopSize = {static_cast<float>(b.Width), static_cast<float>(b.Height)};
    } else {
        FDesktopSize = {};
    }
    if (AOnCustomProperties)
        AOnCustomProperties(shared_from_this());
    try {
        SaveToFile(FileName(AEnvironment.DataFolder, AEnvironment.Title, AForm.ComponentName()));
    } catch (...) {
        // Placement is a convenience: a failed write must not stop the window closing.
    }
}

bool TPositionTracker::IsOnScreen(const IPlacementWindow& AForm,
                                  const TPlacementEnvironment& AEnvironment, int& ADisplay) const {
    const auto count = AEnvironment.Displays.size();
    if (FMonitor >= 0 && static_cast<float>(count) == FMonitorCount &&
        ValidDisplay(FMonitor, AEnvironment))
        ADisplay = FMonitor;
    else
        ADisplay = GetFormMonitor(WindowRect(AForm), AEnvironment.Displays);
    // No display to test against: nothing says the saved place is visible.
    if (!ValidDisplay(ADisplay, AEnvironment))
        return false;
    const TPlacementRect& wa = AEnvironment.Displays[static_cast<std::size_t>(ADisplay)].WorkArea;
    const double x = FPosition.X;
    const double y = FPosition.Y;
    // The designed size decides, not the saved one.
    return x >= wa.Left && y >= wa.Top && x + AForm.Width() <= static_cast<double>(wa.Right()) &&
           y + AForm.Height() <= static_cast<double>(wa.Bottom());
}

void TPositionTracker::ApplyToForm(IPlacementWindow& AForm,
                                   const TPlacementEnvironment& AEnvironment, int ATestedDisplay,
                                   const TPositionTrackerEvent& AOnCustomProperties) {
    const int frameX = AForm.Width() - AForm.ClientWidth();
    const int frameY = AForm.Height() - AForm.ClientHeight();
    AForm.SetDesignedPosition();
    AForm.SetPosition(ClampToInt(std::trunc(FPosition.X)), ClampToInt(std::trunc(FPosition.Y)));
    if (FFormSize.X > 10 && FFormSize.Y > 10)
        AForm.SetSize(ClampToInt(std::trunc(FFormSize.X)), ClampToInt(std::trunc(FFormSize.Y)));

    int display = FMonitor;
    if (display < 0 && AEnvironment.MainWindow)
        display = GetFormMonitor(*AEnvironment.MainWindow, AEnvironment.Displays);
    // No usable display (saved index gone, main window off every work area): fit into the
    // display the saved position was just tested against.
    if (!ValidDisplay(display, AEnvironment))
        display = ATestedDisplay;
    if (ValidDisplay(display, AEnvironment)) {
        const TPlacementRect& wa =
            AEnvironment.Displays[static_cast<std::size_t>(display)].WorkArea;
        if (AForm.Width() > wa.Width) {
            const double w = static_cast<double>(wa.Right()) - AForm.Left() - frameX / 2.0 - 1;
            AForm.SetSize(std::max(1, ClampToInt(static_cast<double>(RoundHalfEven(w)))),
                          AForm.Height());
        }
        if (AForm.Height() > wa.Height) {
            const double h = static_cast<double>(wa.Bottom()) - AForm.Top() - frameY / 2.0 - 1;
            AForm.SetSize(AForm.Width(),
                          std::max(1, ClampToInt(static_cast<double>(RoundHalfEven(h)))));
        }
    }
    if (AOnCustomProperties)
        AOnCustomProperties(shared_from_this());
    // This program never saves a minimised state; one read from a file written elsewhere
    // would keep the window out of sight whenever it is shown.
    AForm.SetWindowState(FScreenMode == wsMinimized ? wsNormal : FScreenMode);
    AForm.SetFullScreen(FFullScreen);
}

void TPositionTracker::Load(IPlacementWindow& AForm, const TPlacementEnvironment& AEnvironment,
                            const TPositionTrackerEvent& AOnDefault,
                            const TPositionTrackerEvent& AOnCustomProperties) {
    const std::filesystem::path file =
        FileName(AEnvironment.DataFolder, AEnvironment.Title, AForm.ComponentName());
    // A file that cannot be read or is not one JSON object counts as no saved placement.
    if (const auto saved = LoadFromFile(file, FTargetName)) {
        CopyFrom(*saved);
        int display = -1;
        if (IsOnScreen(AForm, AEnvironment, display)) {
            ApplyToForm(AForm, AEnvironment, display, AOnCustomProperties);
            return;
        }
    }
    if (AOnDefault)
        AOnDefault(shared_from_this());
}
