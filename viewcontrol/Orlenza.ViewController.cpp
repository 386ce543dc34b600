#include "viewcontrol/Orlenza.ViewController.h"

#include "controlfile/Trace.h"
#include "images/Orlenza.ImageListController.h"
#include "images/Orlenza.Types.h"
#include "platform/FileSystem.h"
#include "platform/Utf8.h"

#include <memory>
#include <mutex>
#include <optional>

using namespace std::chrono_literals;

TOrlenzaViewController::TOrlenzaViewController(Clock AClock) : FClock(std::move(AClock)) {}

std::chrono::steady_clock::time_point TOrlenzaViewController::Now() const {
    return FClock ? FClock() : std::chrono::steady_clock::now();
}

void TOrlenzaViewController::SetControllerFileID(const std::string& AValue) {
    FControllerFileID = AValue;
    SetControlFile(nullptr);
    if (AValue.empty())
        return;
    SetControlFile(std::make_unique<TMemoryMappedControlFile>(AValue));
    FHeartBeatTimer = Now();
    ControlFile()->SetViewerHeartBeat(FHeartBeatCounter);
    FCommandHeartBeatCounter = ControlFile()->CommandHeartBeat();
}

std::string TOrlenzaViewController::SearchText() const {
    TMemoryMappedControlFile* file = ControlFile();
    return file ? file->SearchText() : std::string();
}

std::string TOrlenzaViewController::ImagePattern() const {
    TMemoryMappedControlFile* file = ControlFile();
    if (!file)
        return {};
    ILumivaneImageInformationPtr info = file->ImageInformation();
    return info ? info->GetPattern() : std::string();
}

const std::vector<std::string>& TOrlenzaViewController::Sources() {
    if (FSources.empty()) {
        TMemoryMappedControlFile* file = ControlFile();
        ILumivaneImageInformationPtr info = file ? file->ImageInformation() : nullptr;
        if (info && !info->GetSource().empty()) {
            FSources.push_back(info->GetSource());
            for (const auto& source : info->GetAlternateSources())
                FSources.push_back(source);
        }
    }
    return FSources;
}

TNotifyEvent TOrlenzaViewController::StateEvent() {
    return [this](void* Sender) { HandleStateTimer(Sender); };
}

void TOrlenzaViewController::HandleStateTimer(void* Sender) {
    // The host may have shrunk or replaced the block since the last tick.
    if (TMemoryMappedControlFile* file = ControlFile())
        file->Refresh();
    if (IOrlenzaForm* toolbar = ToolbarForm())
        toolbar->SetSearchText(SearchText());
    const TImageViewerCommand command = NewCommand();
    switch (command) {
    case vcOpen:
        if (IOrlenzaForm* toolbar = ToolbarForm())
            toolbar->SetSearchText(SearchText());
        if (IOrlenzaForm* viewer = ViewerForm())
            viewer->ShowForm();
        break;
    case vcClose:
        CloseMainForm();
        break;
    case vcHide:
        if (FOnCloseImageAndHide)
            FOnCloseImageAndHide(Sender);
        break;
    default:
        break;
    }
}

TImageViewerCommand TOrlenzaViewController::NewCommand() {
    TMemoryMappedControlFile* file = ControlFile();
    if (!file)
        return vcUnknown;
    CheckControlFileHeartBeats();
    // Taking the command and acknowledging it is one atomic step: a command the host
    // stores between a separate read and write would otherwise be lost.
    const TImageViewerCommand command = file->ExchangeCommandState(vcHandled);
    if (command != vcUnknown && command != vcHandled)
        lvtrace::Line("command taken " + ToString(command));
    switch (command) {
    case vcUnknown:
    case vcHandled:
        if (FViewerShouldClose) {
            lvtrace::Line("host heartbeat stopped; closing");
            return vcClose;
        }
        return command;
    case vcTerminate:
        CloseMainForm();
        return command;
    case vcConnected:
        if (file->ViewState() == vsUnknown)
            file->SetViewState(vsIdle);
        return command;
    default:
        return command;
    }
}

void TOrlenzaViewController::CheckControlFileHeartBeats() {
    TMemoryMappedControlFile* file = ControlFile();
    if (!file || !FHeartBeatTimer)
        return;
    const auto now = Now();
    if (now - *FHeartBeatTimer < 200ms)
        return;
    FHeartBeatCounter =
        FHeartBeatCounter < 254 ? static_cast<std::uint8_t>(FHeartBeatCounter + 1) : 0;
    file->SetViewerHeartBeat(FHeartBeatCounter);
    FHeartBeatTimer = now;
    const std::uint8_t hostBeat = file->CommandHeartBeat();
    bool stopped = false;
    ++FCommandTicks;
    if (FCommandTicks * 200 >= 5000) {
        stopped = hostBeat == FCommandHeartBeatCounter;
        FCommandTicks = 0;
    }
    FCommandHeartBeatCounter = hostBeat;
    FViewerShouldClose = stopped;
}

void TOrlenzaViewController::ChangeViewState(TImageViewerState AViewState) {
    if (TMemoryMappedControlFile* file = ControlFile())
        file->SetViewState(AViewState);
}

bool TOrlenzaViewController::SearchTextIsValidForSearch(const std::string& ASearchText) {
    std::string pattern = ImagePattern();
    while (!pattern.empty() && pattern.back() == '.')
        pattern.pop_back();
    return !pattern.empty() && lvutf8::Utf16Length(ASearchText) >= lvutf8::Utf16Length(pattern);
}

TPreparedImageSearch TOrlenzaViewController::PrepareImageSearch(const std::string& ASearchText) {
    TPreparedImageSearch search;
    const std::vector<std::string> sources = Sources();
    const std::string pattern = ImagePattern();
    const std::string sub = FolderNameFromPattern(pattern, ASearchText);
    // The folders the folder search lists: each source's directory part with the
    // sub-folder the pattern picks.
    if (!sub.empty())
        for (const std::string& source : sources) {
            const std::size_t delimiter = lvplatform::LastDirectoryDelimiter(source);
            if (delimiter == std::string::npos)
                continue;
            search.Folders.push_back(source.substr(0, delimiter + 1) + sub);
        }
    // The trace names what the search found, once and again whenever that changes: the
    // same search runs again for every change in a watched folder.
    struct TLastTrace {
        std::mutex Lock;
        std::optional<std::string> Line;
    };
    search.Run = [sources, pattern, ASearchText, last = std::make_shared<TLastTrace>()] {
        std::vector<TLumivaneImage> images =
            TImageListController::ImagesFor(sources, ASearchText, pattern);
        if (lvtrace::Enabled()) {
            std::string line =
                "search '" + ASearchText + "' found " + std::to_string(images.size());
            for (std::size_t i = 0; i < images.size(); ++i)
                line += (i == 0 ? ": " : " | ") + images[i].FullFileName();
            const std::lock_guard<std::mutex> lock(last->Lock);
            if (last->Line != line) {
                lvtrace::Line(line);
                last->Line = std::move(line);
            }
        }
        return images;
    };
    return search;
}

void TOrlenzaViewController::InstallInitializer() {
    InitializeViewController = [] {
        auto controller = std::make_shared<TOrlenzaViewController>();
        if (!ParamStr(1).empty())
            ControlFileId = ParamStr(1);
        // Published before the block opens so a failed open still leaves a controller
        // that degrades like one without a block.
        ViewController = controller;
        if (!ControlFileId.empty())
            controller->SetControllerFileID(ControlFileId);
    };
}

// Placement files are kept per host connection; without a block the name is empty and the
// common file is used.
static std::string PlacementTargetName(TMemoryMappedControlFile* AFile) {
    return AFile ? AFile->ConnectionNameBytes() : std::string();
}

void TOrlenzaViewController::SaveState(IPlacementForm& AForm,
                                       const TPositionTrackerEvent& AOnCustomProperties) {
    TPositionTracker::SaveFormPosition(AForm, PlacementTargetName(ControlFile()),
                                       AForm.PlacementEnvironment(), AOnCustomProperties);
}

void TOrlenzaViewController::LoadState(IPlacementForm& AForm,
                                       const TPositionTrackerEvent& AOnDefault,
                                       const TPositionTrackerEvent& AOnCustomProperties) {
    TPositionTracker::LoadFormPosition(AForm, PlacementTargetName(ControlFile()),
                                       AForm.PlacementEnvironment(), AOnDefault,
                                       AOnCustomProperties);
}
