// TOrlenzaCustomerController: the base of both controllers. It holds the one control
// block object of the program in a slot shared by every controller, so the view and the
// toolbar controller always see the same block.
#pragma once

#include "app/Orlenza.FormCommon.h"
#include "controlfile/ImageViewer.ControlFile.h"

class TOrlenzaCustomerController : public virtual ILvController {
public:
    void CloseMainForm() override;
    IOrlenzaForm* ToolbarForm() const override { return LvTerminalToolBarForm; }
    IOrlenzaForm* MainForm() const override { return LvTerminalToolBarForm; }
    IOrlenzaForm* ViewerForm() const override { return LumivaneViewerForm; }
    TMemoryMappedControlFile* ControlFile() const override;
    void SetControlFile(std::unique_ptr<TMemoryMappedControlFile> AControlFile) override;
    void ShowNewImage(const std::string& ASearchText) override;

    // Program end: empties the shared slot, destroying the block object (writes vsClosed).
    static void ReleaseSharedControlFile();
};
