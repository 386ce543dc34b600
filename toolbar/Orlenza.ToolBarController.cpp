#include "toolbar/Orlenza.ToolBarController.h"

#include "controlfile/ImageViewer.ControlFile.h"
#include "controlfile/Trace.h"
#include "platform/Path.h"

#include <algorithm>
#include <atomic>
#include <cctype>

TLvToolbarController::TLvToolbarController(std::shared_ptr<lvplatform::IWindowSystem> AWindows)
    : FWindows(std::move(AWindows)) {}

TLvToolbarController::~TLvToolbarController() = default;

void TLvToolbarController::SendTerminalCommand(TTerminalCommand ACommand,
                                               const std::string& AOperands) {
    TMemoryMappedControlFile* file = ControlFile();
    if (!file)
        return;
    // The host acts as soon as it sees the command byte, so the operands must be in the
    // block before it: keep the compiler and the processor from moving the stores.
    std::atomic_thread_fence(std::memory_order_release);
    file->SetTerminalCommandState(ACommand);
    if (lvtrace::Enabled())
        lvtrace::Line("terminal command " + ToString(ACommand) +
                      (AOperands.empty() ? std::string() : " " + AOperands));
}

void TLvToolbarController::ChangeKeySet(std::int32_t AKeySetIndex) {
    TMemoryMappedControlFile* file = ControlFile();
    if (!file)
        return;
    file->SetKeyIndex(static_cast<std::uint8_t>(AKeySetIndex & 0xFF));
    SendTerminalCommand(tcChangeKeySet, "key index " + std::to_string(AKeySetIndex & 0xFF));
}

void TLvToolbarController::ChangePassThroughPrinter(const std::string& APrinterName) {
    TMemoryMappedControlFile* file = ControlFile();
    if (!file)
        return;
    file->SetPassThroughPrinterName(APrinterName);
    SendTerminalCommand(tcChangePrinterName, "printer '" + file->PassThroughPrinterName() + "'");
}

bool TLvToolbarController::StartCapturing(const std::string& AFileName) {
    TMemoryMappedControlFile* file = ControlFile();
    if (AFileName.empty() || !file)
        return true;
    file->SetCaptureFileName(AFileName);
    file->SetCaptureFileState(cfsStartingCapture);
    SendTerminalCommand(tcCapture, "file '" + file->CaptureFileName() + "'");
    return true;
}

std::filesystem::path TLvToolbarController::CaptureFolder(const std::string& ACaptureFileName) {
    const bool blank = std::all_of(ACaptureFileName.begin(), ACaptureFileName.end(),
                                   [](unsigned char c) { return std::isspace(c) != 0; });
    if (blank)
        return {};
    std::error_code error;
    std::filesystem::path folder = lvplatform::Utf8Path(ACaptureFileName).parent_path();
    if (folder.empty())
        return {};
    folder = std::filesystem::absolute(folder, error);
    if (error || !std::filesystem::is_directory(folder, error) || error)
        return {};
    return folder;
}

void TLvToolbarController::StopCapturing() {
    TMemoryMappedControlFile* file = ControlFile();
    // The user asked to stop: the command goes out whatever the name holds; only a
    // usable folder is opened.
    const std::filesystem::path folder =
        CaptureFolder(file ? file->CaptureFileName() : std::string());
    SendTerminalCommand(tcStopCapture);
    if (!folder.empty() && FOnExploreFolder)
        FOnExploreFolder(folder);
}

bool TLvToolbarController::IsCapturing() {
    TMemoryMappedControlFile* file = ControlFile();
    return file && file->CaptureFileState() >= cfsStartingCapture;
}

bool TLvToolbarController::Connected() {
    TMemoryMappedControlFile* file = ControlFile();
    if (!file || !file->CanRead())
        return false;
    try {
        ILumivaneImageInformationPtr info = file->ImageInformation();
        return info && !info->GetPattern().empty();
    } catch (const std::exception&) {
        // Image information the host got wrong is not a configured host; raising here
        // would report the same error on every 100 ms tick.
        return false;
    }
}

void TLvToolbarController::EnsureWindowMonitor() {
    if (IsProcessWindowTextFormatSet())
        return;
    TMemoryMappedControlFile* file = ControlFile();
    if (!file || file->CallingWindowNameFormat().empty())
        return;
    if (!FOnTerminalWindowInfoReceived)
        return;
    SetProcessWindowTextFormat(file->CallingWindowNameFormat());
    // The format stays set even when the monitor cannot be built, so a bad format is
    // reported once and never tried again.
    const std::uint16_t id = file->ConsoleInstanceId();
    FWindowMonitor =
        std::make_unique<TConsoleMonitor>(FOnTerminalWindowInfoReceived, id, id, FWindows);
    FWindowMonitor->SetOwnedWindow(FToolbarWindow);
}

void TLvToolbarController::SetToolbarWindow(lvplatform::TWindowHandle AWindow) {
    FToolbarWindow = AWindow;
    if (FWindowMonitor)
        FWindowMonitor->SetOwnedWindow(AWindow);
}

void TLvToolbarController::CheckTerminalWindow() {
    EnsureWindowMonitor();
    TMemoryMappedControlFile* file = ControlFile();
    if (FWindowMonitor && file)
        FWindowMonitor->GetConsoleInfo(file->ConsoleInstanceId());
}

// Without a control block the checks pass on what an unopened block reads: zeros.
void TLvToolbarController::DoCheckCaptureState() {
    if (FOnCheckCaptureState) {
        TMemoryMappedControlFile* file = ControlFile();
        FOnCheckCaptureState(file ? file->CaptureFileState() : cfsUnknown);
    }
}

void TLvToolbarController::DoSetPassThroughPrinterState(bool AState) {
    if (FOnSetPassThroughPrinterState)
        FOnSetPassThroughPrinterState(AState);
}

void TLvToolbarController::DoCheckKeyStateIndex() {
    if (FOnCheckKeyStateIndex) {
        TMemoryMappedControlFile* file = ControlFile();
        FOnCheckKeyStateIndex(file ? file->KeyIndex() : 0);
    }
}

void TLvToolbarController::CheckState(void* /*Sender*/) {
    CheckTerminalWindow();
    DoCheckCaptureState();
    DoSetPassThroughPrinterState(true);
    DoCheckKeyStateIndex();
}

void InitializeToolBarController(std::shared_ptr<lvplatform::IWindowSystem> AWindows) {
    ToolbarController = std::make_shared<TLvToolbarController>(std::move(AWindows));
}
