// TDecodePipeline: decodes pages for the viewer window on worker threads, so the window
// keeps painting, panning and taking input while a large scan decodes. The GUI thread
// only asks for pages and receives finished frames; the pixels are made on the pipeline's
// own thread pool.
//
// - Show: the page the user wants on screen. Answered at once from the cache when a frame
//   sharp enough is held; otherwise decoded, taking over a prefetch already decoding that
//   page. A later Show supersedes it: its decode is cancelled between rows, and a frame it
//   still finishes goes to the cache, never to the screen.
// - Detail: a sharper frame of the page on screen when the zoom outgrows the pixels held.
// - Prefetch: neighbours the user is likely to ask for next, decoded one at a time and
//   only while nothing the user asked for is decoding.
// - Thumbnail: small pages for the page strip, lowest of all: on every worker, but only
//   while no Show or Detail is decoding and after the waiting neighbours. A Show or Detail
//   takes the workers back from the tiles decoding (they wait again at the head of the
//   queue), so the page asked for never shares the cores with tiles. Kept under keys of
//   their own size.
// Frames live in a TFrameCache with a memory budget; the frame on screen stays in it.
// A frame serves only the file as it was read: once the file is known to be another one
// (NoteFile: a listing or the folder watcher saw it change; or a later decode read it
// anew), its frames go. A cached failure is looked at again on a worker when it is shown:
// the file may have been completed since.
#pragma once

#include "viewer/FrameCache.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

// How large a page is drawn, as plain values, so requests compare and the size is worked
// out on any thread once the page's own size is known: the window's fit rules (image area
// height, client width, fit-to-width), the screen's device pixel ratio, and the zoom factor
// over the fitted size (1 to 4). A non-empty Box stands for all of these: the page is
// decoded to fit within it (more detail for a zoom already fitted).
struct TDrawRule {
    int AreaHeight = 0;
    int ClientWidth = 0;
    bool FitToWidth = false;
    double DevicePixelRatio = 1;
    float Zoom = 1;
    QSize Box;

    // The box, in device pixels, that a decode of a page AFull pixels large must fill.
    QSize TargetFor(QSize AFull) const;
    // A frame decoded for this rule is sharp enough for ARule as well.
    bool Covers(const TDrawRule& ARule) const;
    friend bool operator==(const TDrawRule&, const TDrawRule&) = default;
};

// A page of a file at the size it is drawn. Page kLastPage asks for the file's last page
// (Page Up from the first page of a file goes there).
constexpr int kLastPage = -1;
struct TDecodeRequest {
    QString Path;
    int Page = 0;
    TDrawRule Rule;
};

enum class TDecodeKind { Show, Detail, Prefetch, Thumbnail };

// A thumbnail of ASide x ASide device pixels at most: its request and its cache key.
TDecodeRequest ThumbnailRequest(const QString& APath, int APage, int ASide);
TFrameKey ThumbnailKey(const QString& APath, int APage, int ASide);

// Whether AFrame serves ARequest as it is: a failure always does (the same file fails
// again), a picture when it holds at least the pixels the request's rule draws. Whether it
// is still the same file is the pipeline's question (TFrame::Stamp, NoteFile).
bool FrameCovers(const TFrame& AFrame, const TDrawRule& ARule);

class TDecodePipeline : public QObject {
    Q_OBJECT
public:
    explicit TDecodePipeline(qint64 ACacheBudget, QObject* parent = nullptr);
    // Cancels every decode and waits for the workers to stop (between rows).
    ~TDecodePipeline() override;

    // The page to put on screen; supersedes every earlier Show and Detail. Returns the
    // frame when the cache holds one that serves the request (it is the shown frame from
    // then on); otherwise FrameReady follows once the decode ends.
    std::optional<TFrame> Show(const TDecodeRequest& ARequest);
    // A sharper frame of the page on screen; supersedes an earlier Detail. FrameReady
    // follows, unless a Show or CancelAll comes first.
    void Detail(const TDecodeRequest& ARequest);
    // The pages to have ready next, the most likely first; replaces the previous list and
    // cancels decodes of pages no longer on it.
    void Prefetch(const std::vector<TDecodeRequest>& ARequests);
    // The thumbnails wanted now (ThumbnailRequest), the first first; replaces the previous
    // list and cancels thumbnail decodes no longer on it. Each one decoded comes with
    // FrameReady (kind Thumbnail) and stays in the cache under its ThumbnailKey.
    void Thumbnails(const std::vector<TDecodeRequest>& ARequests);
    // Cancels everything: nothing asked for so far reaches FrameReady (hide, close,
    // another search).
    void CancelAll();
    // The file is known to be AStamp now (a listing or the watcher examined it). When its
    // frames held, or the stamp known before, were of another state of the file, they go
    // and its decodes under way are cancelled: true then, and the caller asks again for
    // what it wants of the file.
    bool NoteFile(const QString& APath, const TFileStamp& AStamp);
    // NoteFile for every file of a listing.
    void NoteFiles(const QHash<QString, TFileStamp>& AStamps);
    // Forgets every frame and what each file was last seen to be (another identifier was
    // searched: nothing of the files before is coming back).
    void ForgetFiles();
    // What the file was last known to be; unknown when nothing examined it yet.
    TFileStamp KnownStamp(const QString& APath) const { return FKnown.value(APath); }

    TFrameCache& Cache() { return FCache; }
    // Decodes started on the workers since the pipeline was made (prefetches included).
    int DecodesStarted() const { return FDecodesStarted; }
    // Decodes started and not yet handed back, cancelled ones included.
    int Pending() const { return static_cast<int>(FJobs.size()); }
    // Decodes under way that were not cancelled.
    int Running() const;
    // How many prefetches and thumbnails decode at once at most.
    int Workers() const { return FWorkers; }
    // A Show or Detail is decoding.
    bool IsBusy() const { return FShowJob != 0 || FDetailJob != 0; }

signals:
    // The frame a Show or Detail asked for, or why it failed. AKey names the page decoded
    // (never kLastPage). A Show's frame is the shown frame of the cache from then on.
    void FrameReady(const TFrameKey& AKey, const TFrame& AFrame, TDecodeKind AKind);

private:
    struct TJob {
        quint64 Id = 0;
        TDecodeRequest Request;
        TDecodeKind Kind = TDecodeKind::Prefetch;
        std::shared_ptr<std::atomic<bool>> Cancel;
        std::optional<TFrame> Failure; // a cached failure, handed back if the file is unchanged
    };
    struct TResult {
        bool Cancelled = false;
        TFrame Frame;
    };
    static TResult Decode(const TDecodeRequest& ARequest, const std::atomic<bool>& ACancel,
                          bool AThumbnail, const std::optional<TFrame>& AFailure);
    // The frame is of the file as it is known now.
    bool Current(const QString& APath, const TFrame& AFrame) const;

    TDecodeRequest Resolved(TDecodeRequest ARequest) const;
    std::optional<TFrame> Cached(const TDecodeRequest& ARequest);
    TJob* FindJob(quint64 AId);
    // A decode under way (not cancelled) that serves ARequest.
    TJob* JobServing(const TDecodeRequest& ARequest);
    void Cancel(quint64 AId);
    quint64 Start(const TDecodeRequest& ARequest, TDecodeKind AKind,
                  std::optional<TFrame> AFailure = std::nullopt);
    void Finished(quint64 AId, const TResult& AResult);
    // Starts the next prefetch, then thumbnails, on the workers free when nothing the user
    // asked for is decoding.
    void Pump();
    // Cancels thumbnails decoding, the youngest first, until at most AKeep are left; their
    // requests wait at the head of the queue again.
    void YieldThumbnails(int AKeep);
    int RunningOf(TDecodeKind AKind) const;

    TFrameCache FCache;
    QThreadPool FPool;
    // Tiles run on threads of their own at a lower priority, so that a strip decoding on
    // every core never keeps the GUI thread waiting for one.
    QThreadPool FTilePool;
    std::vector<TJob> FJobs; // started and not yet handed back, cancelled ones included
    quint64 FNextId = 1;
    quint64 FShowJob = 0;
    quint64 FDetailJob = 0;
    std::vector<TDecodeRequest> FPrefetch;   // waiting to start
    std::vector<TDecodeRequest> FThumbnails; // waiting to start, after the prefetches
    int FDecodesStarted = 0;
    int FWorkers = 2;
    QHash<QString, TFileStamp> FKnown; // what each file was last seen to be
};
