// Turns remembered per file: a page the user turned comes back turned when its file is
// shown again for the same host connection, also after a restart. The store is read and
// written on a worker of its own, one task after another, so the window never waits on it.
#include "viewer/OrlenzaFrm.h"

#include "app/QtFormPlacement.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "positions/TurnStore.h"
#include "viewer/ImageGeometry.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QApplication>
#include <QThreadPool>

#include <cmath>

using namespace lvform;

void TLumivaneViewerForm::OpenTurnStore() {
    FTurnStore = std::make_shared<TTurnStore>(
        QtPlacementFolder(), ViewController ? ViewController->StoreName() : std::string());
    FStoreWorker = new QThreadPool(this);
    FStoreWorker->setMaxThreadCount(1); // in order: the last turn is the one kept
}

void TLumivaneViewerForm::LookUpTurns() {
    // Ready before the pages arrive, so a remembered turn is there when its page is shown.
    FTurns.clear();
    // Shared with the model, not copied: a list of ten thousand files.
    std::shared_ptr<const std::vector<std::string>> paths = FBrowse->FileNames();
    const int search = ++FTurnLookup;
    if (paths->empty() || !FTurnStore) {
        FTurnLookupDone = search;
        return;
    }
    QPointer<TLumivaneViewerForm> self(this);
    FStoreWorker->start([self, search, paths = std::move(paths), store = FTurnStore] {
        QHash<QString, int> turns;
        for (const std::string& path : *paths)
            turns.insert(Q(path), store->QuarterTurns(path));
        QMetaObject::invokeMethod(
            qApp,
            [self, search, turns = std::move(turns)] {
                if (!self || search != self->FTurnLookup)
                    return;
                self->FTurnLookupDone = search;
                for (auto it = turns.cbegin(); it != turns.cend(); ++it)
                    if (!self->FTurns.contains(it.key()))
                        self->FTurns.insert(it.key(), it.value());
                // The page may be on screen already, still upright.
                if (!self->FTurnedByUser)
                    self->ApplyRememberedTurn();
            },
            Qt::QueuedConnection);
    });
}

void TLumivaneViewerForm::PageOnScreen() {
    FTurnedByUser = false;
    // The file's turn comes with the file; a page step within it starts the page upright.
    if (FBitmapFile == FTurnFile)
        return;
    FTurnFile = FBitmapFile;
    ApplyRememberedTurn();
}

void TLumivaneViewerForm::ApplyRememberedTurn() {
    if (!FHasPicture || FBitmapFile.empty())
        return;
    const auto known = FTurns.constFind(Q(FBitmapFile));
    if (known == FTurns.constEnd())
        return;
    SetRotation(static_cast<int>(lvgeometry::NormalizeDialAngle(90.0 * known.value())));
}

void TLumivaneViewerForm::RememberTurn() {
    if (!FHasPicture || FBitmapFile.empty() || !FTurnStore)
        return;
    FTurnedByUser = true;
    const int angle = arcdImageRotation->Angle();
    // Quarter turns only; an angle set by hand on the dial is not one to come back to.
    if (angle % 90 != 0)
        return;
    const int turns = ((angle / 90) % 4 + 4) % 4;
    const QString file = Q(FBitmapFile);
    FTurns.insert(file, turns);
    FStoreWorker->start(
        [store = FTurnStore, path = FBitmapFile, turns] { store->SetQuarterTurns(path, turns); });
}
