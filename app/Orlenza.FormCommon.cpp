#include "app/Orlenza.FormCommon.h"

#include "controlfile/ImageViewer.ControlFile.h"

IOrlenzaForm* LumivaneViewerForm = nullptr;
IOrlenzaForm* LvTerminalToolBarForm = nullptr;
std::shared_ptr<ILvViewController> ViewController;
std::shared_ptr<ILvToolbarController> ToolbarController;
std::function<void()> InitializeViewController;
std::string ControlFileId;
std::string StartupSearchText;
bool StartMaximized = false;

namespace {
std::vector<std::string>& Arguments() {
    static std::vector<std::string> arguments;
    return arguments;
}
} // namespace

void SetProgramArguments(std::vector<std::string> AArguments) {
    Arguments() = std::move(AArguments);
}

std::string ParamStr(std::size_t AIndex) {
    const auto& args = Arguments();
    return AIndex < args.size() ? args[AIndex] : std::string();
}

void FinalizeFormCommon() {
    ControlFileId.clear();
    StartupSearchText.clear();
    ViewController.reset();
    ToolbarController.reset();
    InitializeViewController = nullptr;
}

std::string ILvViewController::StoreName() const {
    const TMemoryMappedControlFile* block = ControlFile();
    return block ? block->ConnectionNameBytes() : std::string();
}
