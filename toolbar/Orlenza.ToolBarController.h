// The toolbar's non-visual side: turns the user's toolbar requests into terminal
// commands for the host, and on every toolbar tick follows the console window and reads
// the capture state and key set back out of the control block for the toolbar window.
#pragma once

#include "app/Orlenza.CustomController.h"
#include "toolbar/ProcessWindowMonitor.ConsoleMonitor.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

using TCaptureStateEvent = std::function<void(TCaptureFileState)>;
using TBooleanEvent = std::function<void(bool)>;
using TIntegerEvent = std::function<void(std::int32_t)>;
// Opens a folder in the desktop's file manager.
using TExploreFolderEvent = std::function<void(const std::filesystem::path&)>;

class ILvToolbarController : public virtual ILvController {
public:
    virtual TConsoleInfoCallback OnTerminalWindowInfoReceived() const = 0;
    virtual void SetOnTerminalWindowInfoReceived(TConsoleInfoCallback AEvent) = 0;
    virtual void SetOnCheckCaptureState(TCaptureStateEvent AEvent) = 0;
    virtual TCaptureStateEvent OnCheckCaptureState() const = 0;
    virtual void SetOnSetPassThroughPrinterState(TBooleanEvent AEvent) = 0;
    virtual TBooleanEvent OnSetPassThroughPrinterState() const = 0;
    virtual bool IsCapturing() = 0;
    virtual bool Connected() = 0;
    virtual void SetOnCheckKeyStateIndex(TIntegerEvent AEvent) = 0;
    virtual TIntegerEvent OnCheckKeyStateIndex() const = 0;
    // Asks the host to capture the terminal into AFileName; an empty name asks nothing.
    virtual bool StartCapturing(const std::string& AFileName) = 0;
    // Asks the host to stop capturing and opens the capture file's folder.
    virtual void StopCapturing() = 0;
    // The periodic check: console placement, capture state, printer state, key set.
    virtual void CheckState(void* Sender) = 0;
    virtual void ChangePassThroughPrinter(const std::string& APrinterName) = 0;
    virtual void ChangeKeySet(std::int32_t AKeySetIndex) = 0;
};

class TLvToolbarController final : public TOrlenzaCustomerController, public ILvToolbarController {
public:
    // AWindows is the desktop the console monitor looks at; none means the session's.
    explicit TLvToolbarController(std::shared_ptr<lvplatform::IWindowSystem> AWindows = nullptr);
    ~TLvToolbarController() override;

    TConsoleInfoCallback OnTerminalWindowInfoReceived() const override {
        return FOnTerminalWindowInfoReceived;
    }
    void SetOnTerminalWindowInfoReceived(TConsoleInfoCallback AEvent) override {
        FOnTerminalWindowInfoReceived = std::move(AEvent);
    }
    void SetOnCheckCaptureState(TCaptureStateEvent AEvent) override {
        FOnCheckCaptureState = std::move(AEvent);
    }
    TCaptureStateEvent OnCheckCaptureState() const override { return FOnCheckCaptureState; }
    void SetOnSetPassThroughPrinterState(TBooleanEvent AEvent) override {
        FOnSetPassThroughPrinterState = std::move(AEvent);
    }
    TBooleanEvent OnSetPassThroughPrinterState() const override {
        return FOnSetPassThroughPrinterState;
    }
    bool IsCapturing() override;
    bool Connected() override;
    void SetOnCheckKeyStateIndex(TIntegerEvent AEvent) override {
        FOnCheckKeyStateIndex = std::move(AEvent);
    }
    TIntegerEvent OnCheckKeyStateIndex() const override { return FOnCheckKeyStateIndex; }
    bool StartCapturing(const std::string& AFileName) override;
    void StopCapturing() override;
    void CheckState(void* Sender) override;
    void ChangePassThroughPrinter(const std::string& APrinterName) override;
    void ChangeKeySet(std::int32_t AKeySetIndex) override;

    // The console monitor; none until the host has given the title format.
    TConsoleMonitor* WindowMonitor() const { return FWindowMonitor.get(); }
    void SetWindowMonitor(std::unique_ptr<TConsoleMonitor> AMonitor) {
        FWindowMonitor = std::move(AMonitor);
        if (FWindowMonitor)
            FWindowMonitor->SetOwnedWindow(FToolbarWindow);
    }

    // The toolbar's own window, which the console monitor keeps owned by the console so
    // it rises with it; 0 for none.
    void SetToolbarWindow(lvplatform::TWindowHandle AWindow);

    // How StopCapturing opens the capture folder; the toolbar window installs the
    // desktop's file manager. Empty: nothing is opened.
    void SetOnExploreFolder(TExploreFolderEvent AEvent) { FOnExploreFolder = std::move(AEvent); }

    // The folder StopCapturing opens for a capture file name: its directory part made
    // absolute, or empty when the name has none or the folder does not exist.
    static std::filesystem::path CaptureFolder(const std::string& ACaptureFileName);

private:
    void EnsureWindowMonitor();
    void CheckTerminalWindow();
    void DoCheckCaptureState();
    void DoSetPassThroughPrinterState(bool AState);
    void DoCheckKeyStateIndex();
    // Stores the command byte after everything written before it.
    // AOperands only describes what was written beside the command, for the trace.
    void SendTerminalCommand(TTerminalCommand ACommand, const std::string& AOperands = {});

    TConsoleInfoCallback FOnTerminalWindowInfoReceived;
    std::unique_ptr<TConsoleMonitor> FWindowMonitor;
    TCaptureStateEvent FOnCheckCaptureState;
    TBooleanEvent FOnSetPassThroughPrinterState;
    TIntegerEvent FOnCheckKeyStateIndex;
    TExploreFolderEvent FOnExploreFolder;
    std::shared_ptr<lvplatform::IWindowSystem> FWindows;
    lvplatform::TWindowHandle FToolbarWindow = 0;
};

// The unit's start-up step: creates the toolbar controller and publishes it as
// ToolbarController. Run before any window is created.
void InitializeToolBarController(std::shared_ptr<lvplatform::IWindowSystem> AWindows = nullptr);
