#include "viewer/HeadStart.h"

#include "viewer/ImageDecoding.h"

#include <QThread>

#include <chrono>
#include <exception>
#include <utility>

namespace {

std::mutex InstalledLock;
std::shared_ptr<THeadStart> InstalledHeadStart;

} // namespace

THeadStart::THeadStart(std::function<QString()> AFind, QSize ABox) {
    // Qt takes the first thread that asks for its thread data as the main thread, where the
    // application object must be made: that is the creator's, not the head start's.
    QThread::currentThread();
    FThread = std::thread([this, find = std::move(AFind), ABox] { Run(find, ABox); });
}

THeadStart::~THeadStart() {
    FCancel.store(true);
    if (FThread.joinable())
        FThread.join();
}

void THeadStart::Run(const std::function<QString()>& AFind, QSize ABox) {
    QString path;
    try {
        path = AFind();
    } catch (const std::exception&) {
        // The window's own search says why.
    }
    // Formats decoded through Qt's image plugins wait for the window: the plugins are
    // loaded by the application object, which is being made meanwhile.
    const bool decode = !path.isEmpty() && !FCancel.load() && HasOwnCodec(path);
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FPath = path;
        FStage = decode ? TStage::Decoding : TStage::Done;
    }
    FChanged.notify_all();
    if (!decode)
        return;
    std::optional<TFrame> frame;
    try {
        const TFileStamp before = StampOf(path);
        TDecodeOptions options;
        options.Cancel = &FCancel;
        TDecodedImage decoded = DecodeForDisplay(path, ABox, options);
        frame.emplace();
        frame->Image = std::move(decoded.image);
        frame->FullSize = decoded.fullSize;
        frame->Page = decoded.page;
        frame->PageCount = decoded.pageCount;
        frame->DotsPerInch = decoded.dotsPerInch;
        // A file that changed while it was read gets no stamp, and then serves nobody.
        frame->Stamp = StampOf(path) == before ? before : TFileStamp();
    } catch (const std::exception&) {
        // Cancelled, or a failure the window's own decode reports.
        frame.reset();
    }
    {
        const std::lock_guard<std::mutex> lock(FLock);
        if (!FAsked)
            FFrame = std::move(frame);
        FStage = TStage::Done;
    }
    FChanged.notify_all();
}

bool THeadStart::Ready() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FStage == TStage::Done && !FAsked;
}

int THeadStart::Waiting() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FWaiting;
}

std::optional<TFrame> THeadStart::Take(const TDecodeRequest& ARequest, const TFileStamp& ANow,
                                       const std::atomic<bool>& ACancel) {
    std::unique_lock<std::mutex> lock(FLock);
    // A worker whose request was superseded stops waiting; the next one may still take it.
    const auto waitFor = [&](TStage AStage) {
        ++FWaiting;
        while (!FAsked && FStage < AStage && !ACancel.load())
            FChanged.wait_for(lock, std::chrono::milliseconds(5));
        --FWaiting;
        return !FAsked && FStage >= AStage;
    };
    if (!waitFor(TStage::Decoding))
        return std::nullopt;
    if (FPath != ARequest.Path || ARequest.Page != 0) {
        // Another file or page first: the window searched something else.
        FAsked = true;
        FCancel.store(true);
        FFrame.reset();
        return std::nullopt;
    }
    if (!waitFor(TStage::Done))
        return std::nullopt;
    FAsked = true;
    std::optional<TFrame> frame = std::exchange(FFrame, std::nullopt);
    if (!frame || frame->Failed() || !frame->Stamp.IsKnown() || frame->Stamp != ANow ||
        frame->Page != ARequest.Page || !FrameCovers(*frame, ARequest.Rule))
        return std::nullopt;
    ++FServed;
    return frame;
}

void THeadStart::Install(std::shared_ptr<THeadStart> AHeadStart) {
    std::shared_ptr<THeadStart> before;
    {
        const std::lock_guard<std::mutex> lock(InstalledLock);
        before = std::exchange(InstalledHeadStart, std::move(AHeadStart));
    }
    // The last owner waits for the thread here, outside the lock the workers take.
}

std::shared_ptr<THeadStart> THeadStart::Installed() {
    const std::lock_guard<std::mutex> lock(InstalledLock);
    return InstalledHeadStart;
}
