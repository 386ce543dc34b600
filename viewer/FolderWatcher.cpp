#include "viewer/FolderWatcher.h"

#include "controlfile/Trace.h"
#include "viewer/CleanPath.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#if defined(Q_OS_LINUX)
#include <sys/inotify.h>
#include <unistd.h>
#endif
#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

qint64 NowMs() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

// A file modified through a descriptor and never closed counts as still being written for
// this many settle times after its last change.
constexpr int kWriterQuietSettles = 10;

QString Joined(const QString& AFolder, const QString& AName) {
    return QDir::cleanPath(AFolder + QLatin1Char('/') + AName);
}

// A folder's own time and identity; unknown when it cannot be examined.
TFileStamp FolderStamp(const QString& APath) {
    TFileStamp stamp;
#if defined(Q_OS_UNIX)
    struct stat st {};
    if (::stat(QFile::encodeName(APath).constData(), &st) != 0)
        return stamp;
    // A folder has no size worth comparing; its permissions are (made unreadable and back).
    stamp.Size = static_cast<qint64>(st.st_mode & 07777);
    stamp.ModifiedNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.Inode = static_cast<quint64>(st.st_ino);
    stamp.Device = static_cast<quint64>(st.st_dev);
#else
    const QFileInfo info(APath);
    if (!info.isDir())
        return stamp;
    stamp.Size = 0;
    stamp.ModifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
#endif
    return stamp;
}

} // namespace

// LUMIVANE_SETTLE_MS (10 to 60000) shortens or lengthens the settle time: tests that race
// the watcher many times, and folders on shares whose times move in coarse steps.
static TFolderWatcher::TTiming TimingFromEnvironment() {
    TFolderWatcher::TTiming timing;
    bool ok = false;
    const int settle = qEnvironmentVariableIntValue("LUMIVANE_SETTLE_MS", &ok);
    if (ok && settle >= 10 && settle <= 60000)
        timing.SettleMs = settle;
    return timing;
}

TFolderWatcher::TFolderWatcher(QObject* parent) : TFolderWatcher(TimingFromEnvironment(), parent) {}

TFolderWatcher::TFolderWatcher(const TTiming& ATiming, QObject* parent)
    : QObject(parent), FTiming(ATiming) {
    FCheckTimer = new QTimer(this);
    FCheckTimer->setSingleShot(true);
    connect(FCheckTimer, &QTimer::timeout, this, [this] { Check(); });
    FPollTimer = new QTimer(this);
    connect(FPollTimer, &QTimer::timeout, this, [this] { Poll(); });
    FReportTimer = new QTimer(this);
    FReportTimer->setSingleShot(true);
    connect(FReportTimer, &QTimer::timeout, this, [this] { Report(); });
    // One thread: the stats of one watcher never pile up on a share that does not answer.
    FWorker = new QThreadPool(this);
    FWorker->setMaxThreadCount(1);
}

TFolderWatcher::~TFolderWatcher() {
    Stop();
    FWorker->waitForDone();
}

void TFolderWatcher::Watch(const QStringList& AFolders, const QHash<QString, TFileStamp>& AListed) {
    Stop();
    for (const QString& folder : AFolders) {
        const QString clean = QDir::cleanPath(folder);
        if (!FFolders.contains(clean))
            FFolders << clean;
    }
    // Listed paths are clean as a rule: the listing's own table is then shared, not
    // copied, a file at a time, on the GUI thread.
    bool clean = true;
    for (auto it = AListed.cbegin(); clean && it != AListed.cend(); ++it)
        clean = !lvpaths::MayNeedCleaning(it.key());
    if (clean) {
        FComplete = AListed;
    } else {
        FComplete.reserve(AListed.size());
        for (auto it = AListed.cbegin(); it != AListed.cend(); ++it)
            FComplete.insert(lvpaths::Cleaned(it.key()), it.value());
    }
    if (FFolders.isEmpty())
        return;
#if defined(Q_OS_LINUX)
    StartInotify();
#else
    StartPolling(QStringLiteral("no change notification on this system"));
#endif
}

void TFolderWatcher::Stop() {
    ++FGeneration;
    FFolders.clear();
    FComplete.clear();
    FPending.clear();
    FExamining.clear();
    FChecking = false;
    FChecks = 0;
    FPolls = 0;
    FUnreported = {};
    FCheckTimer->stop();
    FPollTimer->stop();
    FReportTimer->stop();
    FPolling = false;
    FPollRunning = false;
    FFolderStamps.clear();
    delete FNotifier;
    FNotifier = nullptr;
    FWatches.clear();
#if defined(Q_OS_LINUX)
    if (FInotify >= 0)
        ::close(FInotify);
#endif
    FInotify = -1;
}

void TFolderWatcher::StartInotify() {
#if defined(Q_OS_LINUX)
    FInotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FInotify < 0) {
        StartPolling(
            QStringLiteral("inotify: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    constexpr uint32_t mask = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM |
                              IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    for (const QString& folder : FFolders) {
        const int wd = ::inotify_add_watch(FInotify, QFile::encodeName(folder).constData(), mask);
        if (wd >= 0) {
            FWatches.insert(wd, folder);
            continue;
        }
        if (errno == ENOSPC || errno == ENOMEM) {
            // The user's watches are used up (other programs hold them): the folders are
            // looked at every few seconds instead.
            const QString why = QStringLiteral("no inotify watch left (%1)")
                                    .arg(QString::fromLocal8Bit(std::strerror(errno)));
            ::close(FInotify);
            FInotify = -1;
            FWatches.clear();
            StartPolling(why);
            return;
        }
        // A folder that went away or cannot be read: nothing to see there.
    }
    FNotifier = new QSocketNotifier(FInotify, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { ReadEvents(); });
#endif
}

void TFolderWatcher::ReadEvents() {
#if defined(Q_OS_LINUX)
    alignas(struct inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(FInotify, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                FUnreported.ListAgain = true;
                ScheduleReport();
                continue;
            }
            const auto folder = FWatches.constFind(event->wd);
            if (folder == FWatches.cend())
                continue;
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
                // The folder itself moved or went: what it held is to be listed again.
                if (event->mask & IN_IGNORED)
                    FWatches.remove(event->wd);
                FUnreported.ListAgain = true;
                ScheduleReport();
                continue;
            }
            if (event->len == 0) {
                // The folder's own permissions changed (made unreadable, or readable
                // again): what can be listed there is another matter now.
                if (event->mask & IN_ATTRIB) {
                    FUnreported.ListAgain = true;
                    ScheduleReport();
                }
                continue;
            }
            if (event->mask & IN_ISDIR)
                continue; // a subfolder
            const QString path = Joined(*folder, QFile::decodeName(event->name));
            if (event->mask & (IN_DELETE | IN_MOVED_FROM))
                Gone(path);
            else
                Touch(path, (event->mask & IN_MODIFY) != 0,
                      (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0);
        }
    }
#endif
}

void TFolderWatcher::Consider(const QString& APath) {
    const QString path = QDir::cleanPath(APath);
    if (FFolders.isEmpty() || FPending.contains(path))
        return;
    Touch(path, false, false);
}

void TFolderWatcher::Touch(const QString& APath, bool AWriting, bool AClosed) {
    TPendingFile& pending = FPending[APath];
    pending.LastEventMs = NowMs();
    if (AWriting)
        pending.Writing = true;
    if (AClosed)
        pending.Writing = false;
    ScheduleCheck();
}

void TFolderWatcher::Gone(const QString& APath) {
    FPending.remove(APath);
    FUnreported.Complete.remove(APath);
    if (FComplete.remove(APath) > 0 && !FUnreported.Removed.contains(APath))
        FUnreported.Removed << APath;
    ScheduleReport();
}

QList<QPair<QString, qint64>> TFolderWatcher::Pending() const {
    QList<QPair<QString, qint64>> pending;
    for (auto it = FPending.cbegin(); it != FPending.cend(); ++it)
        pending.append({it.key(), it->Examined ? it->Seen.Size : -1});
    return pending;
}

void TFolderWatcher::ScheduleCheck() {
    if (FChecking || FPending.isEmpty())
        return;
    qint64 due = std::numeric_limits<qint64>::max();
    for (const TPendingFile& pending : FPending) {
        qint64 at = pending.LastEventMs + FTiming.SettleMs;
        if (pending.Examined)
            at = std::max(at, pending.SeenSinceMs + FTiming.SettleMs);
        due = std::min(due, at);
    }
    const qint64 wait = std::max<qint64>(0, due - NowMs());
    // Only ever earlier: a burst of events does not keep pushing the check out for the
    // names that are quiet already.
    if (!FCheckTimer->isActive() || FCheckTimer->remainingTime() > wait)
        FCheckTimer->start(static_cast<int>(std::min<qint64>(wait, 60000)));
}

void TFolderWatcher::Check() {
    if (FChecking)
        return;
    const qint64 now = NowMs();
    QStringList due;
    for (auto it = FPending.cbegin(); it != FPending.cend(); ++it) {
        if (now - it->LastEventMs >= FTiming.SettleMs &&
            (!it->Examined || now - it->SeenSinceMs >= FTiming.SettleMs))
            due << it.key();
    }
    if (due.isEmpty()) {
        ScheduleCheck();
        return;
    }
    FChecking = true;
    const int generation = FGeneration;
    QPointer<TFolderWatcher> self(this);
    FWorker->start([self, generation, due] {
        QHash<QString, TFileStamp> stamps;
        QHash<QString, qint64> ago;
        const qint64 wallNowMs = QDateTime::currentMSecsSinceEpoch();
        for (const QString& path : due) {
            const TFileStamp stamp = StampOf(path);
            stamps.insert(path, stamp);
            ago.insert(path, wallNowMs - stamp.ModifiedNs / 1000000);
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, stamps = std::move(stamps), ago = std::move(ago)] {
                if (self)
                    self->Checked(generation, stamps, ago);
            },
            Qt::QueuedConnection);
    });
}

void TFolderWatcher::Checked(int AGeneration, const QHash<QString, TFileStamp>& AStamps,
                             const QHash<QString, qint64>& AModifiedAgoMs) {
    if (AGeneration != FGeneration)
        return;
    FChecking = false;
    ++FChecks;
    const qint64 now = NowMs();
    for (auto it = AStamps.cbegin(); it != AStamps.cend(); ++it) {
        const QString& path = it.key();
        const TFileStamp& stamp = it.value();
        const auto pending = FPending.find(path);
        // Gone meanwhile, or written again since the stat began: it waits on.
        if (pending == FPending.end() || now - pending->LastEventMs < FTiming.SettleMs)
            continue;
        if (!stamp.IsKnown()) {
            // Not there (or not a file) any more.
            FPending.erase(pending);
            if (FComplete.remove(path) > 0 && !FUnreported.Removed.contains(path))
                FUnreported.Removed << path;
            continue;
        }
        const bool steady = pending->Examined && pending->Seen == stamp &&
                            now - pending->SeenSinceMs >= FTiming.SettleMs;
        // A file last written longer than the settle time ago is not being written.
        const bool old = AModifiedAgoMs.value(path, 0) >= FTiming.SettleMs;
        if (!(pending->Examined && pending->Seen == stamp)) {
            pending->Seen = stamp;
            pending->SeenSinceMs = now;
            pending->Examined = true;
        }
        // Modified and not closed since: a writer still has it open, unless nothing has
        // happened to it for many settle times (changed by path, as truncate(1) does, which
        // no close follows).
        const bool writing =
            pending->Writing && now - pending->LastEventMs < kWriterQuietSettles * FTiming.SettleMs;
        if (writing || stamp.Size == 0 || !(steady || old))
            continue;
        FPending.erase(pending);
        if (!FComplete.contains(path) || FComplete.value(path) != stamp) {
            FComplete.insert(path, stamp);
            FUnreported.Complete.insert(path, stamp);
        }
    }
    if (!FUnreported.IsEmpty())
        Report();
    ScheduleCheck();
}

void TFolderWatcher::StartPolling(const QString& AWhy) {
    FPolling = true;
    if (lvtrace::Enabled())
        lvtrace::Line(QStringLiteral("folder watch: %1; polling %2 folder(s) every %3 ms")
                          .arg(AWhy)
                          .arg(FFolders.size())
                          .arg(FTiming.PollMs)
                          .toStdString());
    FPollTimer->start(FTiming.PollMs);
    Poll(); // the folders as they are now, to compare with
}

void TFolderWatcher::Poll() {
    if (FPollRunning || FFolders.isEmpty())
        return;
    FPollRunning = true;
    const int generation = FGeneration;
    QPointer<TFolderWatcher> self(this);
    FWorker->start([self, generation, folders = FFolders] {
        QHash<QString, TFileStamp> stamps;
        for (const QString& folder : folders)
            stamps.insert(folder, FolderStamp(folder));
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, stamps = std::move(stamps)] {
                if (!self || generation != self->FGeneration)
                    return;
                self->FPollRunning = false;
                ++self->FPolls;
                const bool first = self->FFolderStamps.isEmpty();
                if (!first && stamps != self->FFolderStamps) {
                    self->FUnreported.ListAgain = true;
                    self->ScheduleReport();
                }
                self->FFolderStamps = stamps;
            },
            Qt::QueuedConnection);
    });
}

void TFolderWatcher::ScheduleReport() {
    if (!FReportTimer->isActive())
        FReportTimer->start(FTiming.ReportMs);
}

void TFolderWatcher::Report() {
    FReportTimer->stop();
    if (FUnreported.IsEmpty() || FFolders.isEmpty())
        return;
    const TFolderChanges changes = std::exchange(FUnreported, {});
    emit Changed(changes);
}
