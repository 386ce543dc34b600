// TFolderWatcher: tells the viewer window WHEN files in the searched folders are complete,
// changed or gone; what joins the list is decided by whoever merges the search's result.
//
// - A file is complete once its size and modification time have stayed the same for the
//   settle time and, on Linux, no writer that inotify saw writing still has it open
//   (IN_CLOSE_WRITE; a file changed by path, which no close follows, after ten settle times
//   without a change). An empty file is never complete.
// - Changes are coalesced: every event only marks its name; a name is examined (stat, on a
//   worker) once its events have been quiet for the settle time. A file growing for minutes
//   in a folder of ten thousand costs a stat per settle time, never a listing of the folder.
// - Linux: inotify, read through a socket notifier (an idle window costs nothing). When the
//   kernel has no watch left (or inotify is not available), the folders' modification times
//   are polled every few seconds instead, and one trace line says so. Elsewhere: polling.
// - A folder whose own permissions change (made unreadable, or readable again) is to be
//   listed again.
// - Nothing is reported after Stop() (the window was hidden or closed).
#pragma once

#include "viewer/FrameCache.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class QSocketNotifier;
class QThreadPool;
class QTimer;

// What a watcher found since its last report.
struct TFolderChanges {
    // Files that became complete (new ones) or were completed again with another stamp
    // (replaced, rewritten, grown), each with its stamp.
    QHash<QString, TFileStamp> Complete;
    // Files that went away (deleted or moved out).
    QStringList Removed;
    // The watcher cannot tell which names changed (a folder moved or deleted, the event
    // queue overflowed, a poll saw a folder change): the folders are to be listed again.
    bool ListAgain = false;

    bool IsEmpty() const { return Complete.isEmpty() && Removed.isEmpty() && !ListAgain; }
};

class TFolderWatcher : public QObject {
    Q_OBJECT
public:
    struct TTiming {
        int SettleMs = 1000; // unchanged this long before a file counts as complete
        int PollMs = 3000;   // the folders' times are compared this often without inotify
        int ReportMs = 100;  // removals and folder changes are gathered this long
    };
    // The settle time from LUMIVANE_SETTLE_MS when set (10 to 60000), else 1 s.
    explicit TFolderWatcher(QObject* parent = nullptr);
    TFolderWatcher(const TTiming& ATiming, QObject* parent);
    ~TFolderWatcher() override;

    // Watches AFolders instead of what was watched before. AListed: the files listed now,
    // with their stamps when known; they count as complete.
    void Watch(const QStringList& AFolders, const QHash<QString, TFileStamp>& AListed);
    // Watches nothing any more; a stat under way is dropped.
    void Stop();
    bool IsWatching() const { return !FFolders.isEmpty(); }
    const QStringList& Folders() const { return FFolders; }
    // Inotify could not watch every folder: the folders are polled.
    bool IsPolling() const { return FPolling; }

    // The file was seen complete (listed when the watch began, or reported since).
    bool IsComplete(const QString& APath) const { return FComplete.contains(APath); }
    // Every file seen complete, by its clean path: a copy shares it, so a worker may hold
    // one for a while.
    const QHash<QString, TFileStamp>& CompleteFiles() const { return FComplete; }
    // A file a listing found that the watcher has no word on: examined like a changed one.
    void Consider(const QString& APath);
    // Files seen that are not complete yet, with their size last seen (-1: not yet examined).
    QList<QPair<QString, qint64>> Pending() const;
    // Rounds of examining names, and polls of the folders, finished since the watch began.
    int Checks() const { return FChecks; }
    int Polls() const { return FPolls; }

signals:
    void Changed(const TFolderChanges& AChanges);

private:
    struct TPendingFile {
        qint64 LastEventMs = 0; // the name's latest event
        TFileStamp Seen;        // the stamp last examined
        qint64 SeenSinceMs = 0; // when Seen was first examined
        bool Examined = false;
        bool Writing = false; // written through a descriptor not closed since (inotify)
    };
    void StartInotify();
    void ReadEvents();
    void Touch(const QString& APath, bool AWriting, bool AClosed);
    void Gone(const QString& APath);
    void ScheduleCheck();
    void Check();
    void Checked(int AGeneration, const QHash<QString, TFileStamp>& AStamps,
                 const QHash<QString, qint64>& AModifiedAgoMs);
    void StartPolling(const QString& AWhy);
    void Poll();
    void ScheduleReport();
    void Report();

    TTiming FTiming;
    QStringList FFolders;
    int FGeneration = 0; // bumped by Watch and Stop: older worker results are dropped
    QHash<QString, TFileStamp> FComplete;
    QHash<QString, TPendingFile> FPending;
    QSet<QString> FExamining; // names whose stat is under way
    bool FChecking = false;
    int FChecks = 0;
    int FPolls = 0;
    TFolderChanges FUnreported;

    int FInotify = -1;
    QSocketNotifier* FNotifier = nullptr;
    QHash<int, QString> FWatches; // inotify watch descriptor -> folder

    bool FPolling = false;
    bool FPollRunning = false;
    QHash<QString, TFileStamp> FFolderStamps; // for polling: the folders as last seen

    QTimer* FCheckTimer = nullptr;
    QTimer* FPollTimer = nullptr;
    QTimer* FReportTimer = nullptr;
    QThreadPool* FWorker = nullptr;
};
