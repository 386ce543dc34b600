// Fresh scans: while an identifier is shown, the folders its search lists are watched
// (inotify through QFileSystemWatcher, so an idle window costs nothing). A change runs the
// same folder search again off the GUI thread; a new file joins the list once its size has
// stopped changing, a removed one leaves it, and the picture shown stays.
#include "viewer/OrlenzaFrm.h"

#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

using namespace lvform;

namespace {

// Changes come in bursts (a copy is a create and many writes): one search after a pause.
constexpr int kRescanDelayMs = 100;
// While a new file is being written it is looked at this often...
constexpr int kPendingCheckMs = 200;
// ...and joins once its size has stayed the same this long.
constexpr qint64 kSettledMs = 500;

qint64 NowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

} // namespace

void TLumivaneViewerForm::InstallWatching() {
    FWatcher = new QFileSystemWatcher(this);
    FRescanTimer = new QTimer(this);
    FRescanTimer->setSingleShot(true);
    connect(FWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { ScheduleRescan(); });
    // A file still being written is watched itself: every write restarts its wait.
    connect(FWatcher, &QFileSystemWatcher::fileChanged, this, [this] { ScheduleRescan(); });
    connect(FRescanTimer, &QTimer::timeout, this,
            [this] { Guarded(this, [this] { StartRescan(); }); });
}

void TLumivaneViewerForm::WatchSearchedFolders(const std::string& ASearchText,
                                               std::function<std::vector<TLumivaneImage>()> ARescan,
                                               const QStringList& AFolders) {
    StopWatching();
    if (!ARescan)
        return;
    FWatchedSearch = ASearchText;
    FRescan = std::move(ARescan);
    if (!AFolders.isEmpty())
        FWatcher->addPaths(AFolders);
}

void TLumivaneViewerForm::StopWatching() {
    // A search still running belongs to what was watched before: its result is dropped.
    ++FRescanGeneration;
    FRescanAgain = false;
    FRescanTimer->stop();
    const QStringList watched = FWatcher->directories() + FWatcher->files();
    if (!watched.isEmpty())
        FWatcher->removePaths(watched);
    FPending.clear();
    FWatchedSearch.clear();
    FRescan = nullptr;
}

void TLumivaneViewerForm::ScheduleRescan() {
    if (FRescan && !FRescanTimer->isActive())
        FRescanTimer->start(kRescanDelayMs);
}

QList<QPair<QString, qint64>> TLumivaneViewerForm::PendingScans() const {
    QList<QPair<QString, qint64>> pending;
    for (auto it = FPending.cbegin(); it != FPending.cend(); ++it)
        pending.append({it.key(), it->Size});
    return pending;
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
    QThreadPool::globalInstance()->start([self, generation, run = FRescan] {
        std::vector<TLumivaneImage> images;
        std::vector<qint64> sizes;
        bool ok = true;
        try {
            images = run();
            sizes.reserve(images.size());
            for (const TLumivaneImage& image : images)
                sizes.push_back(QFileInfo(QString::fromStdString(image.Path)).size());
        } catch (...) {
            // The folder search refused or failed: the list stays as it is.
            ok = false;
        }
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, ok, images = std::move(images), sizes = std::move(sizes)]() mutable {
                if (!self)
                    return;
                self->FRescanRunning = false;
                if (ok)
                    Guarded(self.data(), [&] {
                        self->RescanFinished(generation, std::move(images), std::move(sizes));
                    });
                if (self->FRescanAgain) {
                    self->FRescanAgain = false;
                    self->ScheduleRescan();
                }
            },
            Qt::QueuedConnection);
    });
}

void TLumivaneViewerForm::RescanFinished(int AGeneration, std::vector<TLumivaneImage> AImages,
                                         std::vector<qint64> ASizes) {
    if (AGeneration != FRescanGeneration)
        return;
    QSet<QString> listed;
    for (const TLumivaneImage& image : FBrowse->Images())
        listed.insert(Q(image.Path));
    const qint64 now = NowMs();
    std::vector<TLumivaneImage> accepted;
    QSet<QString> seen;
    for (std::size_t i = 0; i < AImages.size(); ++i) {
        const QString path = Q(AImages[i].Path);
        seen.insert(path);
        if (listed.contains(path)) {
            accepted.push_back(std::move(AImages[i]));
            continue;
        }
        // A new file: it joins once its size has stayed the same for a while.
        const qint64 size = i < ASizes.size() ? ASizes[i] : -1;
        auto pending = FPending.find(path);
        if (pending == FPending.end()) {
            FPending.insert(path, {size, now});
            FWatcher->addPath(path);
        } else if (pending->Size != size) {
            *pending = {size, now};
        } else if (size > 0 && now - pending->SinceMs >= kSettledMs) {
            FPending.erase(pending);
            FWatcher->removePath(path);
            accepted.push_back(std::move(AImages[i]));
        }
    }
    // Files that went away before they were complete.
    for (auto it = FPending.begin(); it != FPending.end();) {
        if (seen.contains(it.key())) {
            ++it;
        } else {
            FWatcher->removePath(it.key());
            it = FPending.erase(it);
        }
    }
    MergeImageList(std::move(accepted));
    if (!FPending.isEmpty())
        FRescanTimer->start(kPendingCheckMs);
}
