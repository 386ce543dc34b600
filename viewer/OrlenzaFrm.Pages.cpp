// The viewer window's pages and its side of the decode pipeline: which page of the
// selected file is asked for, putting a finished frame on screen, the neighbours to have
// ready, more detail for a zoom. Which page is wanted is the browse model's; nothing here
// decodes or reads a file: the pipeline's workers and the page counter do.
#include "viewer/OrlenzaFrm.h"

#include "controlfile/ImageViewer.ControlFile.h"
#include "controlfile/Trace.h"
#include "viewer/ImageGeometry.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"
#include "viewer/browse/PageCounter.h"

#include <QComboBox>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <stdexcept>
#include <utility>

using namespace lvform;

void TLumivaneViewerForm::CreatePipeline() {
    FPipeline = std::make_unique<TDecodePipeline>(FrameCacheBudgetFromEnvironment());
    // Queued from the workers: this is a boundary where errors are reported.
    connect(FPipeline.get(), &TDecodePipeline::FrameReady, this,
            [this](const TFrameKey& AKey, const TFrame& AFrame, TDecodeKind AKind) {
                Guarded(this, [&] { FrameReady(AKey, AFrame, AKind); });
            });
    FPageCounter = new TPageCounter(this);
    connect(FPageCounter, &TPageCounter::Counted, this,
            [this](const QString& APath, int ACount, bool) {
                Guarded(this, [&] { FBrowse->SetPageCount(APath, ACount); });
            });
}

void TLumivaneViewerForm::CountPages() {
    // The selected file first, then onwards, so steps from it find their counts ready.
    QStringList paths;
    const int n = Count();
    const int from = std::max(0, FBrowse->Selected());
    for (int i = 0; i < n; ++i) {
        const int file = (from + i) % n;
        if (FBrowse->PageCount(file) >= 0)
            continue;
        if (FBrowse->Image(file).CantOpenReason() == corSecured)
            FBrowse->SetPageCount(FBrowse->FilePath(file), 1); // never opened, not even read
        else
            paths << FBrowse->FilePath(file);
    }
    FPageCounter->Count(paths);
}

TDrawRule TLumivaneViewerForm::CurrentDrawRule() const {
    TDrawRule rule;
    rule.AreaHeight = tabImage->height();
    rule.ClientWidth = width();
    rule.FitToWidth = swFitToWidth->isChecked();
    rule.DevicePixelRatio = devicePixelRatioF();
    return rule;
}

void TLumivaneViewerForm::ShowWantedPage() {
    const int file = FBrowse->Selected();
    const TLumivaneImage& selected = FBrowse->Image(file);
    if (selected.IsEmpty())
        return;
    const QString path = FBrowse->FilePath(file);
    if (selected.CantOpenReason() == corSecured) {
        // A link out of the sources is listed, so the user sees it exists, but the file
        // it leads to is never opened.
        CancelDecodes();
        TFrame refused;
        refused.Error = QStringLiteral("access to the file is refused");
        PutFrameOnScreen({path, 0}, refused);
        return;
    }
    SetBusy(true);
    const int page = FBrowse->WantedPage();
    if (page < 0) {
        // Which page this is depends on the file's page count: its header is read next,
        // and the count's arrival asks again (the model's WantedChanged).
        FPageCounter->Prefer(path);
        return;
    }
    if (std::optional<TFrame> frame = FPipeline->Show({path, page, CurrentDrawRule()}))
        PutFrameOnScreen({path, frame->Page}, *frame);
}

void TLumivaneViewerForm::FrameReady(const TFrameKey& AKey, const TFrame& AFrame,
                                     TDecodeKind AKind) {
    if (AKind == TDecodeKind::Thumbnail)
        return; // the page strip's
    if (AKind == TDecodeKind::Show) {
        // The pipeline sends only the last page asked for; a hide or another search has
        // cancelled the rest. Still, the position may have moved on since it was asked for.
        if (!FBrowse->IsPending() || FBrowse->FilePath(FBrowse->Selected()) != AKey.Path)
            return;
        if (FBrowse->PageCount(FBrowse->Selected()) < 0 && !AFrame.Failed()) {
            // Known from the decode before the header read: may move the position.
            FBrowse->SetPageCount(AKey.Path, AFrame.PageCount);
            if (!FBrowse->IsPending())
                return; // put on screen from the cache meanwhile
        }
        if (FBrowse->WantedPage() == AKey.Page)
            PutFrameOnScreen(AKey, AFrame);
        return;
    }
    // More detail of the page on screen, as long as it is still the same picture.
    const TBrowsePosition shown = FBrowse->Shown();
    if (AKey == TFrameKey{FBrowse->FilePath(shown.File), shown.Page} && FHasPicture &&
        !AFrame.Failed() && AFrame.FullSize == Image->FullSize())
        Image->SetBitmap(AFrame.Image, AFrame.FullSize);
}

void TLumivaneViewerForm::PutFrameOnScreen(const TFrameKey& AKey, const TFrame& AFrame) {
    const int file = FBrowse->Selected();
    const int known = FBrowse->PageCount(file);
    const int pageCount = known > 0 ? known : std::max(1, AFrame.PageCount);
    FBrowse->SetShown(file, AKey.Page, pageCount);
    Image->hide();
    SetRotation(0);
    const std::string path = AKey.Path.toStdString();
    try {
        if (AFrame.Failed())
            throw std::runtime_error(AFrame.Error.toStdString());
        Image->SetBitmap(AFrame.Image, AFrame.FullSize);
        FBitmapFile = path;
        FHasPicture = true;
        UpdatePrintEnabled();
        tabForImage->ClearNotice();
        if (lvtrace::Enabled())
            lvtrace::Line("image shown " + path +
                          (pageCount > 1 ? " page " + std::to_string(AKey.Page + 1) : ""));
        ChangeViewState(vsOpen);
        FitImage(swFitToWidth->isChecked());
        PageOnScreen();
        UpdateTitle();
    } catch (...) {
        if (lvtrace::Enabled())
            lvtrace::Line("image failed to load " + path + ": " +
                          ErrorText(std::current_exception()).toStdString());
        ShowLoadError(ErrorText(std::current_exception()));
        // The title names what the list shows, also when it cannot be shown.
        UpdateTitle();
    }
    SetBusy(false);
    Image->show();
    // Where the fit put it: centred, or with fit to width at the top of the page.
    PlaceImage(Image->Bounds().size());
    // After the paint this page asked for: the neighbours' decodes must not compete with it.
    QMetaObject::invokeMethod(
        this, [this] { Guarded(this, [this] { PrefetchNeighbours(); }); }, Qt::QueuedConnection);
}

void TLumivaneViewerForm::CancelDecodes() {
    if (FPipeline)
        FPipeline->CancelAll();
    // The indicator ran for the page that will not come.
    if (FBrowse->IsPending())
        SetBusy(false);
    FBrowse->Abandon();
}

void TLumivaneViewerForm::PrefetchNeighbours() {
    // Nothing shown, or already on the way to another page: no neighbours to ready.
    if (FBrowse->Shown().IsEmpty() || FBrowse->IsPending())
        return;
    const TDrawRule rule = CurrentDrawRule();
    std::vector<TDecodeRequest> next;
    for (const TBrowsePosition& at : FBrowse->Neighbours())
        next.push_back({FBrowse->FilePath(at.File), at.Page, rule});
    FPipeline->Prefetch(std::move(next));
}
