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

namespace {

std::vector<std::string> SourcesOf(const ILumivaneImageInformationPtr& AInfo) {
    std::vector<std::string> sources;
    if (AInfo && !AInfo->GetSource().empty()) {
        sources.push_back(AInfo->GetSource());
        for (const auto& source : AInfo->GetAlternateSources())
            sources.push_back(source);
    }
    return sources;
}

bool ValidForPattern(std::string APattern, const std::string& ASearchText) {
    while (!APattern.empty() && APattern.back() == '.')
        APattern.pop_back();
    return !APattern.empty() && lvutf8::Utf16Length(ASearchText) >= lvutf8::Utf16Length(APattern);
}

TPreparedImageSearch PrepareSearch(const std::vector<std::string>& ASources,
                                   const std::string& APattern, const std::string& ASearchText,
                                   bool ATrace = true) {
    TPreparedImageSearch search;
    const std::string sub = FolderNameFromPattern(APattern, ASearchText);
    // The folders the folder search lists: each source's directory part with the
    // sub-folder the pattern picks.
    if (!sub.empty())
        for (const std::string& source : ASources) {
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
    search.Run = [sources = ASources, pattern = APattern, ASearchText, ATrace,
                  last = std::make_shared<TLastTrace>()] {
        std::vector<TLumivaneImage> images =
            TImageListController::ImagesFor(sources, ASearchText, pattern);
        if (ATrace && lvtrace::Enabled()) {
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

} // namespace

const std::vector<std::string>& TOrlenzaViewController::Sources() {
    if (FSources.empty()) {
        TMemoryMappedControlFile* file = ControlFile();
        FSources = SourcesOf(file ? file->ImageInformation() : nullptr);
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
    return ValidForPattern(ImagePattern(), ASearchText);
}

TPreparedImageSearch TOrlenzaViewController::PrepareImageSearch(const std::string& ASearchText) {
    return PrepareSearch(Sources(), ImagePattern(), ASearchText);
}

TPreparedImageSearch TOrlenzaViewController::PrepareBlockSearch(const std::string& AMappedFileId,
                                                                const std::string& ASearchText) {
    const ILumivaneImageInformationPtr info =
        TMemoryMappedControlFile::PeekImageInformation(AMappedFileId);
    const std::string pattern = info ? info->GetPattern() : std::string();
    if (!ValidForPattern(pattern, ASearchText))
        return {};
    // Not traced: the window's own search of the same text is what the host's log names.
    return PrepareSearch(SourcesOf(info), pattern, ASearchText, false);
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
