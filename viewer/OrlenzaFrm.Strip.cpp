// The page strip in the viewer window: made and placed beside the picture, shown or hidden
// by F9, T or its button, and remembered that way per host connection (a small file beside
// the placements, as the print options are).
#include "viewer/OrlenzaFrm.h"

#include "app/QtFormPlacement.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "positions/FileStore.h"
#include "positions/ScreenPositionTracker.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"
#include "viewer/strip/PageStrip.h"
#include "viewer/strip/PageStripModel.h"

#include <QThreadPool>
#include <QToolButton>

using namespace lvform;

namespace {

std::filesystem::path StripFile() {
    return lvpositions::ConnectionFile(QtPlacementFolder(),
                                       ViewController ? ViewController->StoreName() : std::string(),
                                       ".strip");
}

} // namespace

void TLumivaneViewerForm::InstallStrip() {
    auto* model = new TPageStripModel(*FBrowse, *FPipeline, this);
    FStrip = new TPageStrip(*model, *FBrowse, this);
    // Between the bars, left of the picture; no width at all while hidden.
    FFormLayout->Add(FStrip, TAlign::Left, {0, 0});
    FStrip->hide();
    btnStrip = new QToolButton(BottomToolBar);
    btnStrip->setObjectName(QStringLiteral("btnStrip"));
    btnStrip->setText(QStringLiteral("Pages"));
    btnStrip->setCheckable(true);
    btnStrip->setToolTip(QStringLiteral("Page strip (F9 or T)"));
    static_cast<TAlignLayout*>(BottomToolBar->layout())
        ->Add(btnStrip, TAlign::None, {52, 24}, {}, {263, 8});
    connect(btnStrip, &QToolButton::clicked, this,
            [this] { Guarded(this, [this] { ToggleStrip(); }); });
}

void TLumivaneViewerForm::RestoreStrip() {
    const std::optional<std::string> saved = lvpositions::ReadBoundedFile(StripFile(), 16);
    SetStripShown(saved && !saved->empty() && saved->front() == '1');
}

void TLumivaneViewerForm::ToggleStrip() {
    SetStripShown(FStrip->isHidden());
    // Written off the GUI thread, after any write asked for before it.
    FStoreWorker->start([file = StripFile(), shown = !FStrip->isHidden()] {
        try {
            lvpositions::ReplaceFile(file, shown ? "1\n" : "0\n");
        } catch (const std::exception&) {
            // Not remembered: the strip is as the user left it for this session.
        }
    });
}

void TLumivaneViewerForm::SetStripShown(bool AShown) {
    FFormLayout->SetItemSize(FStrip, {AShown ? TPageStrip::kWidth : 0, 0});
    FStrip->setVisible(AShown);
    btnStrip->setChecked(AShown);
    if (!AShown && FStrip->hasFocus())
        FocusPicture();
}

bool TLumivaneViewerForm::StripHasFocus() const {
    return FStrip && FStrip->hasFocus();
}
