#include "viewer/DecodePipeline.h"

#include "viewer/ImageDecoding.h"
#include "viewer/ImageGeometry.h"

#include <QThread>

#include <algorithm>
#include <cmath>
#include <exception>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

QSize DevicePixels(float AWidth, float AHeight, double ADevicePixelRatio) {
    return {static_cast<int>(std::ceil(AWidth * ADevicePixelRatio)),
            static_cast<int>(std::ceil(AHeight * ADevicePixelRatio))};
}

} // namespace

QSize TDrawRule::TargetFor(QSize AFull) const {
    if (!Box.isEmpty())
        return Box;
    lvgeometry::TFitResult fit;
    if (!lvgeometry::FitImage(AFull.width(), AFull.height(), static_cast<float>(AreaHeight),
                              ClientWidth, FitToWidth, fit))
        return AFull;
    const lvgeometry::TSizeF drawn = lvgeometry::AspectFit(
        fit.BaseWidth * Zoom, fit.BaseHeight * Zoom, AFull.width(), AFull.height());
    return DevicePixels(drawn.Width, drawn.Height, DevicePixelRatio);
}

bool TDrawRule::Covers(const TDrawRule& ARule) const {
    if (!Box.isEmpty() || !ARule.Box.isEmpty())
        return Box.width() >= ARule.Box.width() && Box.height() >= ARule.Box.height() &&
               !ARule.Box.isEmpty();
    return AreaHeight == ARule.AreaHeight && ClientWidth == ARule.ClientWidth &&
           FitToWidth == ARule.FitToWidth && DevicePixelRatio == ARule.DevicePixelRatio &&
           Zoom >= ARule.Zoom;
}

TDecodeRequest ThumbnailRequest(const QString& APath, int APage, int ASide) {
    TDecodeRequest request{APath, APage, {}};
    request.Rule.Box = {ASide, ASide};
    return request;
}

TFrameKey ThumbnailKey(const QString& APath, int APage, int ASide) {
    return {APath, APage, ASide};
}

bool FrameCovers(const TFrame& AFrame, const TDrawRule& ARule) {
    if (AFrame.Failed())
        return true;
    const QSize held = AFrame.Image.size();
    if (held == AFrame.FullSize)
        return true;
    const QSize wanted = DecodeSizeWithin(AFrame.FullSize, ARule.TargetFor(AFrame.FullSize));
    // A pixel short is rounding, not missing detail.
    return held.width() + 1 >= wanted.width() && held.height() + 1 >= wanted.height();
}

// Tile threads yield to the GUI thread and to the shown page: a nice value of 10 gives them
// about a tenth of a core the GUI thread also wants, and all of a core nobody else wants.
// Not the idle class, which would starve the strip on a busy machine.
namespace {
void LowerThisThreadOnce() {
#ifdef __linux__
    thread_local const bool lowered =
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10) == 0;
    (void)lowered;
#endif
}
} // namespace

TDecodePipeline::TDecodePipeline(qint64 ACacheBudget, QObject* parent)
    : QObject(parent), FCache(ACacheBudget) {
    // A worker a core, two at least (the page asked for and a neighbour), and one thread
    // more, so a Show starts at once while the tiles it cancelled finish their row.
    FWorkers = std::clamp(QThread::idealThreadCount(), 2, 4);
    FPool.setMaxThreadCount(FWorkers + 1);
    FPool.setObjectName(QStringLiteral("DecodePipeline"));
    FTilePool.setMaxThreadCount(FWorkers);
    FTilePool.setObjectName(QStringLiteral("DecodePipelineTiles"));
}

TDecodePipeline::~TDecodePipeline() {
    CancelAll();
    FPool.waitForDone();
    FTilePool.waitForDone();
}

TDecodePipeline::TResult TDecodePipeline::Decode(const TDecodeRequest& ARequest,
                                                 const std::atomic<bool>& ACancel, bool AThumbnail,
                                                 const std::optional<TFrame>& AFailure) {
    TResult result;
    if (ACancel.load()) {
        result.Cancelled = true;
        return result;
    }
    const TFileStamp before = StampOf(ARequest.Path);
    if (AFailure && AFailure->Stamp.IsKnown() && AFailure->Stamp == before) {
        result.Frame = *AFailure;
        return result;
    }
    TFrame& frame = result.Frame;
    int page = ARequest.Page;
    try {
        if (page == kLastPage)
            page = std::max(0, ReadPageCount(ARequest.Path) - 1);
        TDecodeOptions options;
        options.Page = page;
        options.Cancel = &ACancel;
        // Tiles decode on every worker at once: each keeps to its own thread.
        if (AThumbnail)
            options.Threads = 1;
        TDecodedImage decoded = DecodeForDisplay(
            ARequest.Path, [&ARequest](QSize AFull) { return ARequest.Rule.TargetFor(AFull); },
            options);
        frame.Image = std::move(decoded.image);
        frame.FullSize = decoded.fullSize;
        // JPEG comes at the DCT scale that covers the target: reduced the rest of the way
        // here, so the window paints it as it is instead of reducing it on the GUI thread.
        const QSize wanted =
            DecodeSizeWithin(decoded.fullSize, ARequest.Rule.TargetFor(decoded.fullSize));
        if (frame.Image.width() > wanted.width() && frame.Image.height() > wanted.height() &&
            !ACancel.load())
            frame.Image =
                frame.Image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // Tiles are many and small: two bytes a pixel for colour, one for grey.
        if (AThumbnail && frame.Image.format() != QImage::Format_Grayscale8)
            frame.Image.convertTo(QImage::Format_RGB16);
        frame.Page = decoded.page;
        frame.PageCount = decoded.pageCount;
        frame.DotsPerInch = decoded.dotsPerInch;
    } catch (const TDecodeCancelled&) {
        result.Cancelled = true;
        return result;
    } catch (const std::exception& e) {
        frame.Error = QString::fromStdString(e.what());
    } catch (...) {
        frame.Error = QStringLiteral("the image could not be decoded");
    }
    if (frame.Failed()) {
        frame.Image = QImage();
        frame.Page = std::max(0, page);
        // The other pages may be fine: Page Down must still know where the next one is.
        try {
            frame.PageCount = ReadPageCount(ARequest.Path);
        } catch (const std::exception&) {
            frame.PageCount = 1;
        }
    }
    // Examined again after the decode: a file that changed meanwhile gets no stamp, so what
    // was read of it serves nobody once the file is known again.
    frame.Stamp = StampOf(ARequest.Path) == before ? before : TFileStamp();
    return result;
}

TDecodeRequest TDecodePipeline::Resolved(TDecodeRequest ARequest) const {
    if (ARequest.Page == kLastPage) {
        const int count = FCache.PageCount(ARequest.Path);
        if (count > 0)
            ARequest.Page = count - 1;
    }
    return ARequest;
}

bool TDecodePipeline::Current(const QString& APath, const TFrame& AFrame) const {
    const TFileStamp known = FKnown.value(APath);
    return !known.IsKnown() || AFrame.Stamp == known;
}

std::optional<TFrame> TDecodePipeline::Cached(const TDecodeRequest& ARequest) {
    if (ARequest.Page == kLastPage)
        return std::nullopt;
    std::optional<TFrame> frame = FCache.Find({ARequest.Path, ARequest.Page});
    if (frame && Current(ARequest.Path, *frame) && FrameCovers(*frame, ARequest.Rule))
        return frame;
    return std::nullopt;
}

void TDecodePipeline::NoteFiles(const QHash<QString, TFileStamp>& AStamps) {
    // Nothing known and no frame held: no file can be stale, and the listing's table is
    // taken whole (shared, not copied), which saves the GUI thread a hash insert a file
    // on a first listing of thousands. An unknown stamp in it reads as none noted.
    if (FKnown.isEmpty() && FCache.Count() == 0) {
        FKnown = AStamps;
        return;
    }
    for (auto it = AStamps.cbegin(); it != AStamps.cend(); ++it)
        NoteFile(it.key(), it.value());
}

void TDecodePipeline::ForgetFiles() {
    FCache.Clear();
    FKnown.clear();
}

bool TDecodePipeline::NoteFile(const QString& APath, const TFileStamp& AStamp) {
    if (!AStamp.IsKnown())
        return false;
    const TFileStamp before = FKnown.value(APath);
    FKnown.insert(APath, AStamp);
    bool stale = before.IsKnown() && before != AStamp;
    const int count = FCache.PageCount(APath);
    for (int page = 0; page < std::max(count, 1) && !stale; ++page) {
        if (const TFrame* held = FCache.Peek({APath, page}))
            stale = held->Stamp != AStamp;
    }
    if (!stale)
        return false;
    FCache.Remove(APath);
    // A decode under way reads the file as it was, or half of each.
    for (TJob& job : FJobs) {
        if (job.Request.Path != APath)
            continue;
        job.Cancel->store(true);
        if (job.Id == FShowJob)
            FShowJob = 0;
        if (job.Id == FDetailJob)
            FDetailJob = 0;
    }
    FPrefetch.erase(std::remove_if(FPrefetch.begin(), FPrefetch.end(),
                                   [&](const TDecodeRequest& r) { return r.Path == APath; }),
                    FPrefetch.end());
    return true;
}

TDecodePipeline::TJob* TDecodePipeline::FindJob(quint64 AId) {
    const auto it = std::find_if(FJobs.begin(), FJobs.end(),
                                 [AId](const TJob& AJob) { return AJob.Id == AId; });
    return it == FJobs.end() ? nullptr : &*it;
}

TDecodePipeline::TJob* TDecodePipeline::JobServing(const TDecodeRequest& ARequest) {
    for (TJob& job : FJobs) {
        if (!job.Cancel->load() && job.Kind != TDecodeKind::Thumbnail &&
            job.Request.Path == ARequest.Path && job.Request.Page == ARequest.Page &&
            job.Request.Rule.Covers(ARequest.Rule))
            return &job;
    }
    return nullptr;
}

void TDecodePipeline::Cancel(quint64 AId) {
    if (TJob* job = FindJob(AId))
        job->Cancel->store(true);
}

quint64 TDecodePipeline::Start(const TDecodeRequest& ARequest, TDecodeKind AKind,
                               std::optional<TFrame> AFailure) {
    TJob job;
    job.Id = FNextId++;
    job.Request = ARequest;
    job.Kind = AKind;
    job.Cancel = std::make_shared<std::atomic<bool>>(false);
    job.Failure = std::move(AFailure);
    FJobs.push_back(job);
    ++FDecodesStarted;
    // The worker gets its own copies: nothing it touches is shared with the GUI thread but
    // the cancel flag.
    const int priority = AKind == TDecodeKind::Prefetch || AKind == TDecodeKind::Thumbnail ? 0 : 1;
    const bool tile = AKind == TDecodeKind::Thumbnail;
    (tile ? FTilePool : FPool)
        .start(
            [this, id = job.Id, request = job.Request, cancel = job.Cancel, thumbnail = tile,
             failure = job.Failure] {
                if (thumbnail)
                    LowerThisThreadOnce();
                TResult result = Decode(request, *cancel, thumbnail, failure);
                QMetaObject::invokeMethod(
                    this, [this, id, result = std::move(result)] { Finished(id, result); },
                    Qt::QueuedConnection);
            },
            priority);
    return job.Id;
}

std::optional<TFrame> TDecodePipeline::Show(const TDecodeRequest& ARequest) {
    const TDecodeRequest request = Resolved(ARequest);
    Cancel(FDetailJob);
    FDetailJob = 0;
    // The old neighbours are no longer the next ones; the window asks for the new ones
    // once this page is shown.
    FPrefetch.clear();
    std::optional<TFrame> failure;
    if (std::optional<TFrame> frame = Cached(request); frame && frame->Failed()) {
        // A failure holds only for the file as it failed: a worker looks whether it changed
        // since (written to the end meanwhile) before it is shown again.
        failure = std::move(frame);
    } else if (frame) {
        Cancel(FShowJob);
        FShowJob = 0;
        // A prefetch under way may well be one of the new neighbours: the window's next
        // Prefetch list decides.
        FCache.SetShown({request.Path, frame->Page});
        return frame;
    }
    // The page asked for has the cores to itself.
    YieldThumbnails(0);
    TJob* serving = JobServing(request);
    for (TJob& job : FJobs) {
        if (&job != serving && (job.Kind == TDecodeKind::Prefetch || job.Id == FShowJob))
            job.Cancel->store(true);
    }
    if (serving) {
        serving->Kind = TDecodeKind::Show;
        FShowJob = serving->Id;
    } else {
        FShowJob = Start(request, TDecodeKind::Show, std::move(failure));
    }
    return std::nullopt;
}

void TDecodePipeline::Detail(const TDecodeRequest& ARequest) {
    const TDecodeRequest request = Resolved(ARequest);
    if (TJob* current = FindJob(FDetailJob);
        current && !current->Cancel->load() && current->Request.Path == request.Path &&
        current->Request.Page == request.Page && current->Request.Rule == request.Rule)
        return;
    Cancel(FDetailJob);
    FDetailJob = 0;
    YieldThumbnails(0);
    if (TJob* serving = JobServing(request); serving && serving->Kind == TDecodeKind::Prefetch) {
        serving->Kind = TDecodeKind::Detail;
        FDetailJob = serving->Id;
        return;
    }
    FDetailJob = Start(request, TDecodeKind::Detail);
}

void TDecodePipeline::Prefetch(const std::vector<TDecodeRequest>& ARequests) {
    FPrefetch.clear();
    for (const TDecodeRequest& request : ARequests)
        FPrefetch.push_back(Resolved(request));
    for (TJob& job : FJobs) {
        if (job.Kind != TDecodeKind::Prefetch || job.Cancel->load())
            continue;
        const bool listed = std::any_of(FPrefetch.begin(), FPrefetch.end(), [&](const auto& r) {
            return r.Path == job.Request.Path && r.Page == job.Request.Page &&
                   job.Request.Rule.Covers(r.Rule);
        });
        if (!listed)
            job.Cancel->store(true);
    }
    Pump();
}

void TDecodePipeline::Thumbnails(const std::vector<TDecodeRequest>& ARequests) {
    FThumbnails = ARequests;
    for (TJob& job : FJobs) {
        if (job.Kind != TDecodeKind::Thumbnail || job.Cancel->load())
            continue;
        const bool listed = std::any_of(FThumbnails.begin(), FThumbnails.end(), [&](const auto& r) {
            return r.Path == job.Request.Path && r.Page == job.Request.Page &&
                   r.Rule == job.Request.Rule;
        });
        if (!listed)
            job.Cancel->store(true);
    }
    Pump();
}

void TDecodePipeline::CancelAll() {
    for (const TJob& job : FJobs)
        job.Cancel->store(true);
    FShowJob = 0;
    FDetailJob = 0;
    FPrefetch.clear();
    FThumbnails.clear();
}

void TDecodePipeline::Finished(quint64 AId, const TResult& AResult) {
    const auto it = std::find_if(FJobs.begin(), FJobs.end(),
                                 [AId](const TJob& AJob) { return AJob.Id == AId; });
    if (it == FJobs.end())
        return;
    const TJob job = *it;
    FJobs.erase(it);
    if (!AResult.Cancelled && job.Kind == TDecodeKind::Thumbnail) {
        const TFrameKey key =
            ThumbnailKey(job.Request.Path, job.Request.Page, job.Request.Rule.Box.width());
        FCache.Insert(key, AResult.Frame);
        emit FrameReady(key, AResult.Frame, TDecodeKind::Thumbnail);
    } else if (!AResult.Cancelled) {
        const TFrameKey key{job.Request.Path, AResult.Frame.Page};
        // The newest look at the file: frames of what it was before no longer serve.
        if (AResult.Frame.Stamp.IsKnown())
            FKnown.insert(job.Request.Path, AResult.Frame.Stamp);
        // Protected before it goes in, so a frame larger than the budget is not evicted on
        // its way to the screen.
        if (AId == FShowJob)
            FCache.SetShown(key);
        // Also a frame nobody waits for any more: it was paid for, and the user may come
        // back to it.
        FCache.Insert(key, AResult.Frame);
        if (AId == FShowJob) {
            FShowJob = 0;
            emit FrameReady(key, AResult.Frame, TDecodeKind::Show);
        } else if (AId == FDetailJob) {
            FDetailJob = 0;
            emit FrameReady(key, AResult.Frame, TDecodeKind::Detail);
        }
    } else if (AId == FShowJob || AId == FDetailJob) {
        // Cancelled from outside the pipeline's own bookkeeping cannot happen; keep the
        // state consistent anyway.
        (AId == FShowJob ? FShowJob : FDetailJob) = 0;
    }
    Pump();
}

int TDecodePipeline::RunningOf(TDecodeKind AKind) const {
    return static_cast<int>(std::count_if(FJobs.begin(), FJobs.end(), [AKind](const TJob& AJob) {
        return AJob.Kind == AKind && !AJob.Cancel->load();
    }));
}

int TDecodePipeline::Running() const {
    return static_cast<int>(std::count_if(FJobs.begin(), FJobs.end(),
                                          [](const TJob& AJob) { return !AJob.Cancel->load(); }));
}

void TDecodePipeline::YieldThumbnails(int AKeep) {
    int running = RunningOf(TDecodeKind::Thumbnail);
    std::vector<TDecodeRequest> yielded;
    // The youngest first: they have done the least.
    for (auto it = FJobs.rbegin(); it != FJobs.rend() && running > AKeep; ++it) {
        if (it->Kind != TDecodeKind::Thumbnail || it->Cancel->load())
            continue;
        it->Cancel->store(true);
        yielded.insert(yielded.begin(), it->Request);
        --running;
    }
    FThumbnails.insert(FThumbnails.begin(), yielded.begin(), yielded.end());
}

void TDecodePipeline::Pump() {
    if (IsBusy())
        return;
    // The neighbours one at a time, before any tile: a tile gives its worker up for one.
    if (RunningOf(TDecodeKind::Prefetch) == 0) {
        while (!FPrefetch.empty()) {
            const TDecodeRequest request = Resolved(FPrefetch.front());
            FPrefetch.erase(FPrefetch.begin());
            // A neighbour held already counts as just used: it outlives pages further away.
            if (Cached(request))
                continue;
            YieldThumbnails(FWorkers - 1);
            Start(request, TDecodeKind::Prefetch);
            break;
        }
    }
    // Thumbnails on every worker left over.
    while (!FThumbnails.empty() && Running() < FWorkers) {
        const TDecodeRequest request = FThumbnails.front();
        FThumbnails.erase(FThumbnails.begin());
        const TFrame* held =
            FCache.Peek(ThumbnailKey(request.Path, request.Page, request.Rule.Box.width()));
        if (held && Current(request.Path, *held))
            continue;
        const bool decoding = std::any_of(FJobs.begin(), FJobs.end(), [&](const TJob& AJob) {
            return AJob.Kind == TDecodeKind::Thumbnail && !AJob.Cancel->load() &&
                   AJob.Request.Path == request.Path && AJob.Request.Page == request.Page &&
                   AJob.Request.Rule == request.Rule;
        });
        if (!decoding)
            Start(request, TDecodeKind::Thumbnail);
    }
}
