// The placement record itself: creation, the target name's default and copying. Its JSON
// form, its file and the save/restore rules live in the files named after this one.
#include "positions/ScreenPositionTracker.h"

std::shared_ptr<TPositionTracker> TPositionTracker::Create(const std::string& ATargetName) {
    return std::shared_ptr<TPositionTracker>(new TPositionTracker(ATargetName));
}

std::string TPositionTracker::TargetName() const {
    return FTargetName.empty() ? std::string(DefaultTargetName) : FTargetName;
}

void TPositionTracker::CopyFrom(const IPositionTracker& ATracker) {
    FMonitor = ATracker.Monitor();
    FFullScreen = ATracker.FullScreen();
    FMonitorCount = ATracker.MonitorCount();
    FScreenMode = ATracker.ScreenMode();
    FPosition = ATracker.Position();
    FTargetName = ATracker.TargetName();
    FDesktopSize = ATracker.DesktopSize();
    FMainformMonitor = ATracker.MainformMonitor();
    FFitToWidth = ATracker.FitToWidth();
    FZoom = ATracker.Zoom();
    FFormSize = ATracker.FormSize();
}

void TPositionTracker::SaveFormPosition(IPlacementWindow& AForm, const std::string& ATargetName,
                                        const TPlacementEnvironment& AEnvironment,
                                        const TPositionTrackerEvent& AOnCustomProperties) {
    Create(ATargetName)->Save(AForm, AEnvironment, AOnCustomProperties);
}

void TPositionTracker::LoadFormPosition(IPlacementWindow& AForm, const std::string& ATargetName,
                                        const TPlacementEnvironment& AEnvironment,
                                        const TPositionTrackerEvent& AOnDefault,
                                        const TPositionTrackerEvent& AOnCustomProperties) {
    Create(ATargetName)->Load(AForm, AEnvironment, AOnDefault, AOnCustomProperties);
}
