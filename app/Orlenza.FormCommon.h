// How the two windows and the two controllers reach each other: the controller
// interfaces, the window interface the controllers call, and the program-wide references.
// Nothing here depends on Qt; the Qt window base (TOrlenzaForm) is in Orlenza.Form.h.
#pragma once

#include "controlfile/ImageViewer.LumivaneImageInformation.Intf.h"
#include "positions/ScreenPositionTracker.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TMemoryMappedControlFile;
class TLumivaneImage;
class ILvToolbarController; // declared with the toolbar controller (toolbar/)

// Callback taking the sender object, as timer and form events pass it.
using TNotifyEvent = std::function<void(void* Sender)>;

// What the controllers may ask of a window. TOrlenzaForm implements it on a Qt widget.
class IOrlenzaForm {
public:
    virtual ~IOrlenzaForm() = default;
    // The host's current search text, passed on every state tick.
    virtual void SetSearchText(const std::string& ASearchText) = 0;
    // Show the images for this search text.
    virtual void NewImage(const std::string& ASearchText) = 0;
    // Bring the window up (the host's show command).
    virtual void ShowForm() = 0;
    // Close the window; for the main window this ends the program.
    virtual void CloseForm() = 0;
};

class ILvController {
public:
    virtual ~ILvController() = default;
    virtual void CloseMainForm() = 0;
    virtual IOrlenzaForm* ToolbarForm() const = 0;
    virtual IOrlenzaForm* MainForm() const = 0;
    virtual IOrlenzaForm* ViewerForm() const = 0;
    virtual TMemoryMappedControlFile* ControlFile() const = 0;
    // Takes ownership; destroys the previous object (which writes vsClosed) first.
    virtual void SetControlFile(std::unique_ptr<TMemoryMappedControlFile> AControlFile) = 0;
    virtual void ShowNewImage(const std::string& ASearchText) = 0;
};

// A search made ready on the GUI thread and run later on any thread: the folders it lists
// (none when the block names no sources) and the search itself over a copy of the sources
// and pattern it was prepared with. Run may throw (a search text the folder search refuses).
struct TPreparedImageSearch {
    std::vector<std::string> Folders;
    std::function<std::vector<TLumivaneImage>()> Run;
    // The Path of the record shown first when the search finds it; empty: the first one.
    std::string StartPath;
};

class ILvViewController : public virtual ILvController {
public:
    virtual void SetOnCloseImageAndHide(TNotifyEvent AEvent) = 0;
    virtual TNotifyEvent OnCloseImageAndHide() const = 0;
    virtual TNotifyEvent StateEvent() = 0;
    virtual void ChangeViewState(TImageViewerState AViewState) = 0;
    virtual bool SearchTextIsValidForSearch(const std::string& ASearchText) = 0;
    // The images found for ASearchText in the block's sources, as a search to run off the
    // GUI thread (the window's listing, and its fresh scans in the shown folders).
    virtual TPreparedImageSearch PrepareImageSearch(const std::string& ASearchText) = 0;
    // A window's placement, kept per host connection (the block's ConnectionName).
    virtual void SaveState(IPlacementForm& AForm,
                           const TPositionTrackerEvent& AOnCustomProperties) = 0;
    virtual void LoadState(IPlacementForm& AForm, const TPositionTrackerEvent& AOnDefault,
                           const TPositionTrackerEvent& AOnCustomProperties) = 0;
    // What the window's other remembered choices (turns, print options, the strip) are
    // kept under: the block's connection name as its bytes; empty without a block.
    virtual std::string StoreName() const;
};

// Program-wide references; the only globals of the program.
extern IOrlenzaForm* LumivaneViewerForm;
extern IOrlenzaForm* LvTerminalToolBarForm;
extern std::shared_ptr<ILvViewController> ViewController;
extern std::shared_ptr<ILvToolbarController> ToolbarController;
// Installed by the view controller's unit; the viewer window calls it while it is created.
extern std::function<void()> InitializeViewController;
extern std::string ControlFileId;
// Start-up choices from the command line, set by the program before any window exists.
extern std::string StartupSearchText;
extern bool StartMaximized;

// The command line as given (index 0 the program); missing arguments read as empty.
void SetProgramArguments(std::vector<std::string> AArguments);
std::string ParamStr(std::size_t AIndex);

// Releases the references in the order program end needs (see program/main.cpp).
void FinalizeFormCommon();
