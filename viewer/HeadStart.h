// THeadStart: the first page decoded while the program is still starting. Creating the
// toolkit, its fonts and the windows takes about as long as decoding a large page, and
// the window only asks for the page once it is up; so the program finds the file its
// start-up search will show and decodes that page on a thread of its own meanwhile. The
// pipeline's worker then asked for the page takes this frame instead of decoding the file
// again, but only when it is the same page of the same file, unchanged since, with the
// pixels the window draws: a search for something else, a file replaced or rewritten
// since, or a window larger than the frame all decode as if there had been no head start.
#pragma once

#include "viewer/DecodePipeline.h"
#include "viewer/FrameCache.h"

#include <QSize>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class THeadStart {
public:
    // Made on the program's main thread, before the application object. Starts the thread
    // at once: AFind names the file whose first page is wanted (empty:
    // none; it may list folders, so it runs on the thread too), then that page is decoded
    // to fit within ABox, in device pixels (the desktop: no window draws more at its fit).
    THeadStart(std::function<QString()> AFind, QSize ABox);
    // Cancels the decode (it stops between rows) and waits for the thread.
    ~THeadStart();
    THeadStart(const THeadStart&) = delete;
    THeadStart& operator=(const THeadStart&) = delete;

    // For a decode worker asked for ARequest, the file being ANow as it starts: the frame
    // decoded ahead when it serves the request (see above), waiting while it is still being
    // made; nothing once ACancel is set. Only the first question is answered: the frame
    // goes afterwards, whatever the answer, and a decode still running is cancelled.
    std::optional<TFrame> Take(const TDecodeRequest& ARequest, const TFileStamp& ANow,
                               const std::atomic<bool>& ACancel);
    // How many questions were answered with the frame (0 or 1).
    int Served() const { return FServed.load(); }
    // The frame is made (or there is none to make) and nobody has asked yet.
    bool Ready() const;
    // Workers waiting in Take now.
    int Waiting() const;

    // The head start the pipeline's workers ask; installed by the program before the
    // windows are created, taken away at its end (which waits for the thread).
    static void Install(std::shared_ptr<THeadStart> AHeadStart);
    static std::shared_ptr<THeadStart> Installed();

private:
    enum class TStage { Finding, Decoding, Done };
    void Run(const std::function<QString()>& AFind, QSize ABox);

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    TStage FStage = TStage::Finding;
    bool FAsked = false;
    int FWaiting = 0;
    QString FPath;                // the file decoded, once found
    std::optional<TFrame> FFrame; // once decoded, until asked for
    std::atomic<bool> FCancel{false};
    std::atomic<int> FServed{0};
    std::thread FThread;
};
