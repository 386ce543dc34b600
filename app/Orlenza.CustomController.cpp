#include "app/Orlenza.CustomController.h"

namespace {
std::unique_ptr<TMemoryMappedControlFile>& SharedSlot() {
    static std::unique_ptr<TMemoryMappedControlFile> slot;
    return slot;
}
} // namespace

void TOrlenzaCustomerController::CloseMainForm() {
    if (IOrlenzaForm* form = MainForm())
        form->CloseForm();
}

TMemoryMappedControlFile* TOrlenzaCustomerController::ControlFile() const {
    return SharedSlot().get();
}

void TOrlenzaCustomerController::SetControlFile(
    std::unique_ptr<TMemoryMappedControlFile> AControlFile) {
    // Empty the slot before destroying its object so nothing reaches a half-destroyed block.
    std::unique_ptr<TMemoryMappedControlFile> previous = std::move(SharedSlot());
    previous.reset();
    SharedSlot() = std::move(AControlFile);
}

void TOrlenzaCustomerController::ShowNewImage(const std::string& ASearchText) {
    if (IOrlenzaForm* form = ViewerForm())
        form->NewImage(ASearchText);
}

void TOrlenzaCustomerController::ReleaseSharedControlFile() {
    SharedSlot().reset();
}
