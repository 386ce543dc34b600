// TOpenedFilesController: the view controller of a viewer opened on files or a folder,
// with no host. There is no block: no heartbeats, no commands, no view state to write.
// Its one search is the list of the paths it was given; the window's placement and other
// remembered choices are kept under a name no host connection can have.
#pragma once

#include "app/Orlenza.CustomController.h"

#include <string>
#include <vector>

class TOpenedFilesController : public TOrlenzaCustomerController, public ILvViewController {
public:
    // APaths as given on the command line. AFolders and AStartPath: what a first listing of
    // them found (lvimages::ListOpenedPaths), so the window watches those folders and starts
    // at that file.
    TOpenedFilesController(std::vector<std::string> APaths, std::vector<std::string> AFolders,
                           std::string AStartPath);

    // The text the window searches for the list; no other text is a search.
    const std::string& ListName() const { return FListName; }

    // ILvViewController
    void SetOnCloseImageAndHide(TNotifyEvent AEvent) override {
        FOnCloseImageAndHide = std::move(AEvent);
    }
    TNotifyEvent OnCloseImageAndHide() const override { return FOnCloseImageAndHide; }
    TNotifyEvent StateEvent() override { return {}; }
    void ChangeViewState(TImageViewerState) override {}
    bool SearchTextIsValidForSearch(const std::string& ASearchText) override {
        return ASearchText == FListName;
    }
    TPreparedImageSearch PrepareImageSearch(const std::string& ASearchText) override;
    void SaveState(IPlacementForm& AForm,
                   const TPositionTrackerEvent& AOnCustomProperties) override;
    void LoadState(IPlacementForm& AForm, const TPositionTrackerEvent& AOnDefault,
                   const TPositionTrackerEvent& AOnCustomProperties) override;
    std::string StoreName() const override;

    // The viewer window is the only window: it places itself by the screen alone.
    IOrlenzaForm* MainForm() const override { return nullptr; }

private:
    std::vector<std::string> FPaths;
    std::vector<std::string> FFolders;
    std::string FStartPath;
    std::string FListName;
    TNotifyEvent FOnCloseImageAndHide;
};
