// TOrlenzaViewController: the viewer's side of the control-block protocol. On every state
// tick it advances the viewer heartbeat, watches the host's heartbeat, takes the pending
// command and acts on it; it also answers the windows' questions that depend on the block.
#pragma once

#include "app/Orlenza.CustomController.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TOrlenzaViewController : public TOrlenzaCustomerController, public ILvViewController {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The clock is passed in so the heartbeat rules can be tested without waiting.
    explicit TOrlenzaViewController(Clock AClock = {});

    // ILvViewController
    void SetOnCloseImageAndHide(TNotifyEvent AEvent) override {
        FOnCloseImageAndHide = std::move(AEvent);
    }
    TNotifyEvent OnCloseImageAndHide() const override { return FOnCloseImageAndHide; }
    TNotifyEvent StateEvent() override;
    void ChangeViewState(TImageViewerState AViewState) override;
    bool SearchTextIsValidForSearch(const std::string& ASearchText) override;
    TPreparedImageSearch PrepareImageSearch(const std::string& ASearchText) override;
    void SaveState(IPlacementForm& AForm,
                   const TPositionTrackerEvent& AOnCustomProperties) override;
    void LoadState(IPlacementForm& AForm, const TPositionTrackerEvent& AOnDefault,
                   const TPositionTrackerEvent& AOnCustomProperties) override;

    std::string SearchText() const;
    std::string ImagePattern() const;
    const std::string& ControllerFileID() const { return FControllerFileID; }
    void SetControllerFileID(const std::string& AValue);
    const std::vector<std::string>& Sources();

    void HandleStateTimer(void* Sender);
    TImageViewerCommand NewCommand();

    std::uint8_t HeartBeatCounter() const { return FHeartBeatCounter; }
    bool ViewerShouldClose() const { return FViewerShouldClose; }

    // Installs InitializeViewController: creates the view controller, opens the block named
    // by argument 1 and publishes it as ViewController.
    static void InstallInitializer();

private:
    void CheckControlFileHeartBeats();
    std::chrono::steady_clock::time_point Now() const;

    std::uint8_t FHeartBeatCounter = 1;
    std::uint8_t FCommandHeartBeatCounter = 0;
    std::int32_t FCommandTicks = 0;
    std::string FControllerFileID;
    std::vector<std::string> FSources;
    std::optional<std::chrono::steady_clock::time_point> FHeartBeatTimer;
    bool FViewerShouldClose = false;
    TNotifyEvent FOnCloseImageAndHide;
    Clock FClock;
};
