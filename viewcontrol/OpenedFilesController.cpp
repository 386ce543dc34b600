#include "viewcontrol/OpenedFilesController.h"

#include "images/OpenedImages.h"
#include "positions/ScreenPositionTracker.h"

TOpenedFilesController::TOpenedFilesController(std::vector<std::string> APaths,
                                               std::vector<std::string> AFolders,
                                               std::string AStartPath)
    : FPaths(std::move(APaths)), FFolders(std::move(AFolders)), FStartPath(std::move(AStartPath)),
      FListName(lvimages::OpenedListName(FPaths)) {}

TPreparedImageSearch TOpenedFilesController::PrepareImageSearch(const std::string& ASearchText) {
    TPreparedImageSearch search;
    if (ASearchText != FListName)
        return search;
    search.Folders = FFolders;
    search.StartPath = FStartPath;
    // Run again for every change in a watched folder: a file added beside the one opened
    // joins the list, one removed leaves it.
    search.Run = [paths = FPaths] { return lvimages::ListOpenedPaths(paths).Images; };
    return search;
}

std::string TOpenedFilesController::StoreName() const {
    return TPositionTracker::OpenedFilesTargetName();
}

void TOpenedFilesController::SaveState(IPlacementForm& AForm,
                                       const TPositionTrackerEvent& AOnCustomProperties) {
    TPositionTracker::SaveFormPosition(AForm, StoreName(), AForm.PlacementEnvironment(),
                                       AOnCustomProperties);
}

void TOpenedFilesController::LoadState(IPlacementForm& AForm,
                                       const TPositionTrackerEvent& AOnDefault,
                                       const TPositionTrackerEvent& AOnCustomProperties) {
    TPositionTracker::LoadFormPosition(AForm, StoreName(), AForm.PlacementEnvironment(), AOnDefault,
                                       AOnCustomProperties);
}
