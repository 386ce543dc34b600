// Fresh scans: while an identifier is shown, the folders its search lists are watched by a
// TFolderWatcher, which says when a file is complete, changed or gone. New and removed files
// run the same folder search again off the GUI thread; a new file joins the list only once
// the watcher counts it complete; a changed file on screen is decoded again; the picture
// shown otherwise stays. A hidden or closed window watches nothing.
#include "viewer/OrlenzaFrm.h"

#include "viewer/CleanPath.h"
#include "viewer/FolderWatcher.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

using namespace lvform;

namespace {

// Removals and folder changes come in bursts: one search after a pause.
constexpr int kRescanDelayMs = 100;

} // namespace

QHash<QString, TFileStamp>
TLumivaneViewerForm::StampsOf(const std::vector<TLumivaneImage>& AImages) {
    QHash<QString, TFileStamp> stamps;
    stamps.reserve(static_cast<qsizetype>(AImages.size()));
    for (const TLumivaneImage& image : AImages) {
        const QString path = Q(image.FullFileName());
        stamps.insert(path, StampOf(path));
    }
    return stamps;
}

QStringList TLumivaneViewerForm::UnreadableOf(const QStringList& AFolders) {
    QStringList unreadable;
    for (const QString& folder : AFolders) {
        const QFileInfo info(folder);
        if (info.isDir() && !(info.isReadable() && info.isExecutable()))
            unreadable << folder;
    }
    return unreadable;
}

void TLumivaneViewerForm::InstallWatching() {
    FWatcher = new TFolderWatcher(this);
    FRescanTimer = new QTimer(this);
    FRescanTimer->setSingleShot(true);
    connect(FWatcher, &TFolderWatcher::Changed, this, [this](const TFolderChanges& AChanges) {
        Guarded(this, [&] { WatchedFilesChanged(AChanges); });
    });
    connect(FRescanTimer, &QTimer::timeout, this,
            [this] { Guarded(this, [this] { StartRescan(); }); });
}

void TLumivaneViewerForm::WatchSearchedFolders(const std::string& ASearchText,
                                               std::function<std::vector<TLumivaneImage>()> ARescan,
                                               const QStringList& AFolders,
                                               const QHash<QString, TFileStamp>& AStamps) {
    StopWatching();
    // A window the user closed, or the host hid, writes nothing for fresh scans.
    if (!ARescan || !isVisible())
        return;
    FWatchedSearch = ASearchText;
    FRescan = std::move(ARescan);
    if (!AFolders.isEmpty())
        FWatcher->Watch(AFolders, AStamps);
}

void TLumivaneViewerForm::StopWatching() {
    // A search still running belongs to what was watched before: its result is dropped.
    ++FRescanGeneration;
    FRescanAgain = false;
    FRescanTimer->stop();
    FWatcher->Stop();
    FWatchedSearch.clear();
    FRescan = nullptr;
}

void TLumivaneViewerForm::ScheduleRescan() {
    if (FRescan && !FRescanTimer->isActive())
        FRescanTimer->start(kRescanDelayMs);
}

QList<QPair<QString, qint64>> TLumivaneViewerForm::PendingScans() const {
    return FWatcher->Pending();
}

void TLumivaneViewerForm::NoteFileStamps(const QHash<QString, TFileStamp>& AStamps) {
    const int file = FBrowse->Selected();
    const QString selected = FBrowse->FilePath(file);
    bool again = false;
    for (auto it = AStamps.cbegin(); it != AStamps.cend(); ++it) {
        if (FPipeline->NoteFile(it.key(), it.value()) && it.key() == selected)
            again = true;
    }
    // The selected file is another one now (replaced, rewritten, completed after a
    // failure): its new content, on the page shown.
    if (again && isVisible()) {
        const TBrowsePosition shown = FBrowse->Shown();
        FBrowse->Select(file, shown.File == file ? shown.Page : FBrowse->Wanted().Page);
    }
}

void TLumivaneViewerForm::WatchedFilesChanged(const TFolderChanges& AChanges) {
    if (!isVisible() || !FRescan)
        return;
    // The watcher names files as QDir::cleanPath spells them; the model finds each without
    // a walk of the list (ten thousand files, and a report every settle time).
    bool again = AChanges.ListAgain;
    QHash<QString, TFileStamp> changed;
    for (auto it = AChanges.Complete.cbegin(); it != AChanges.Complete.cend(); ++it) {
        const QString listed = FBrowse->ListedSpelling(it.key());
        if (listed.isEmpty())
            again = true; // a new file, complete now
        else
            changed.insert(listed, it.value());
    }
    for (const QString& path : AChanges.Removed)
        again = again || !FBrowse->ListedSpelling(path).isEmpty();
    NoteFileStamps(changed);
    if (again)
        ScheduleRescan();
}

void TLumivaneViewerForm::StartRescan() {
    if (!FRescan)
        return;
    if (FRescanRunning) {
        FRescanAgain = true;
        return;
    }
    FRescanRunning = true;
    const int generation = FRescanGeneration;
    QPointer<TLumivaneViewerForm> self(this);
    // The worker sorts what it found against copies of what is listed and of what the
    // watcher saw complete (shared, not copied, while neither changes): a folder of ten
    // thousand files costs the GUI thread no walk of its own.
    QThreadPool::globalInstance()->start(
        [self, generation, run = FRescan, folders = FWatcher->Folders(),
         listed = FBrowse->FilesByPath(), complete = FWatcher->CompleteFiles()] {
            TRescan rescan;
            bool ok = true;
            try {
                std::vector<TLumivaneImage> images = run();
                const QHash<QString, TFileStamp> stamps = StampsOf(images);
                std::vector<TLumivaneImage> accepted;
                accepted.reserve(images.size());
                for (TLumivaneImage& image : images) {
                    const QString file = Q(image.FullFileName());
                    if (listed.contains(file)) {
                        rescan.Stamps.insert(file, stamps.value(file));
                        accepted.push_back(std::move(image));
                    } else if (complete.contains(lvpaths::Cleaned(file))) {
                        // A new file joins once the watcher has seen it complete.
                        accepted.push_back(std::move(image));
                    } else {
                        rescan.Unknown << file;
                    }
                }
                rescan.Accepted = TBrowseList::Of(std::move(accepted));
            } catch (...) {
                // The folder search refused or failed: the list stays as it is.
                ok = false;
            }
            rescan.Unreadable = UnreadableOf(folders);
            QMetaObject::invokeMethod(
                qApp,
                [self, generation, ok, rescan = std::move(rescan)]() mutable {
                    if (!self)
                        return;
                    self->FRescanRunning = false;
                    if (ok)
                        Guarded(self.data(),
                                [&] { self->RescanFinished(generation, std::move(rescan)); });
                    if (self->FRescanAgain) {
                        self->FRescanAgain = false;
                        self->ScheduleRescan();
                    }
                },
                Qt::QueuedConnection);
        });
}

void TLumivaneViewerForm::RescanFinished(int AGeneration, TRescan ARescan) {
    // Watching stopped since (hidden, closed, another search): nothing of this is shown.
    if (AGeneration != FRescanGeneration || !isVisible())
        return;
    for (const QString& file : std::as_const(ARescan.Unknown)) {
        if (FWatcher->IsComplete(QDir::cleanPath(file)))
            // Seen complete after the worker looked: it joins with the next search.
            FRescanAgain = true;
        else
            // Found, but the watcher has no word on it yet (it came before the watch began).
            FWatcher->Consider(file);
    }
    // A folder made unreadable lists nothing: the list empties and the page says why; made
    // readable again, its files come back.
    const bool readabilityChanged = ARescan.Unreadable != FUnreadableFolders;
    FUnreadableFolders = std::move(ARescan.Unreadable);
    MergeImageList(std::move(ARescan.Accepted));
    NoteFileStamps(ARescan.Stamps);
    if (readabilityChanged && Count() == 0)
        ShowSelectedImage();
}
