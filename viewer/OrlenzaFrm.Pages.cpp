// The viewer window's pages and its side of the decode pipeline: which page of the
// selected file is asked for, putting a finished frame on screen, the neighbours to have
// ready, more detail for a zoom, and Page Down / Page Up across file boundaries. Nothing
// here decodes or reads a file: the pipeline's workers do.
#include "viewer/OrlenzaFrm.h"

#include "controlfile/ImageViewer.ControlFile.h"
#include "controlfile/Trace.h"
#include "viewer/ImageGeometry.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QComboBox>
#include <QShortcut>
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
    // Anywhere in the window, the focused control included: the zoom bar and the dial
    // would take these keys for their own steps otherwise.
    const auto pageKey = [this](Qt::Key AKey, int ADirection, const char* AName) {
        auto* shortcut = new QShortcut(QKeySequence(AKey), this);
        shortcut->setObjectName(QString::fromLatin1(AName));
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this,
                [this, ADirection] { Guarded(this, [&] { PageStep(ADirection); }); });
    };
    pageKey(Qt::Key_PageDown, +1, "scPageDown");
    pageKey(Qt::Key_PageUp, -1, "scPageUp");
}

TDrawRule TLumivaneViewerForm::CurrentDrawRule() const {
    TDrawRule rule;
    rule.AreaHeight = tabImage->height();
    rule.ClientWidth = width();
    rule.FitToWidth = swFitToWidth->isChecked();
    rule.DevicePixelRatio = devicePixelRatioF();
    return rule;
}

void TLumivaneViewerForm::ShowPage(int APage) {
    const TLumivaneImage& selected = SelectedImage();
    if (selected.IsEmpty())
        return;
    const QString path = Q(selected.FullFileName());
    if (selected.CantOpenReason() == corSecured) {
        // A link out of the sources is listed, so the user sees it exists, but the file
        // it leads to is never opened.
        CancelDecodes();
        TFrame refused;
        refused.Error = QStringLiteral("access to the file is refused");
        PutFrameOnScreen({path, 0}, refused);
        return;
    }
    FWantedKey = {path, APage};
    SetBusy(true);
    if (std::optional<TFrame> frame = FPipeline->Show({path, APage, CurrentDrawRule()}))
        PutFrameOnScreen({path, frame->Page}, *frame);
}

void TLumivaneViewerForm::FrameReady(const TFrameKey& AKey, const TFrame& AFrame,
                                     TDecodeKind AKind) {
    if (AKind == TDecodeKind::Show) {
        // The pipeline sends only the last page asked for; a hide or another search has
        // cancelled the rest.
        if (!FWantedKey.IsEmpty() && FWantedKey.Path == AKey.Path)
            PutFrameOnScreen(AKey, AFrame);
        return;
    }
    // More detail of the page on screen, as long as it is still the same picture.
    if (AKey == FShownKey && FHasPicture && !AFrame.Failed() &&
        AFrame.FullSize == Image->FullSize())
        Image->SetBitmap(AFrame.Image, AFrame.FullSize);
}

void TLumivaneViewerForm::PutFrameOnScreen(const TFrameKey& AKey, const TFrame& AFrame) {
    if (FPendingPageSteps != 0) {
        // Page keys pressed while this page decoded: it was only the way to where they
        // lead, now that its file's page count is known.
        const int steps = std::exchange(FPendingPageSteps, 0);
        const int direction = steps > 0 ? 1 : -1;
        FWantedKey = AKey;
        for (int i = 0; i != steps; i += direction)
            PageStep(direction);
        if (FWantedKey != AKey || FPendingPageSteps != 0)
            return; // on its way elsewhere (or already there)
        // Nowhere further to go: this page it is.
    }
    FWantedKey = {};
    FShownKey = AKey;
    const int known = FPipeline->Cache().PageCount(AKey.Path);
    FShownPageCount =
        AFrame.Failed() ? std::max({1, known, AFrame.PageCount}) : std::max(1, AFrame.PageCount);
    Image->hide();
    SetRotation(0);
    const std::string file = AKey.Path.toStdString();
    try {
        if (AFrame.Failed())
            throw std::runtime_error(AFrame.Error.toStdString());
        Image->SetBitmap(AFrame.Image, AFrame.FullSize);
        FBitmapFile = file;
        FHasPicture = true;
        UpdatePrintEnabled();
        tabForImage->ClearNotice();
        if (lvtrace::Enabled())
            lvtrace::Line("image shown " + file +
                          (FShownPageCount > 1 ? " page " + std::to_string(AKey.Page + 1) : ""));
        ChangeViewState(vsOpen);
        FitImage(swFitToWidth->isChecked());
        PageOnScreen();
        UpdateTitle();
    } catch (...) {
        if (lvtrace::Enabled())
            lvtrace::Line("image failed to load " + file + ": " +
                          ErrorText(std::current_exception()).toStdString());
        ShowLoadError(ErrorText(std::current_exception()));
        // The title names what the list shows, also when it cannot be shown.
        UpdateTitle();
    }
    SetBusy(false);
    Image->show();
    CenterImage(Image->Bounds().size());
    // After the paint this page asked for: the neighbours' decodes must not compete with it.
    QMetaObject::invokeMethod(
        this, [this] { Guarded(this, [this] { PrefetchNeighbours(); }); }, Qt::QueuedConnection);
}

void TLumivaneViewerForm::CancelDecodes() {
    if (FPipeline)
        FPipeline->CancelAll();
    // The indicator ran for the page that will not come.
    if (!FWantedKey.IsEmpty())
        SetBusy(false);
    FWantedKey = {};
    FPendingPageSteps = 0;
}

void TLumivaneViewerForm::PrefetchNeighbours() {
    // Nothing shown, or already on the way to another page: no neighbours to ready.
    if (FShownKey.IsEmpty() || !FWantedKey.IsEmpty())
        return;
    const TDrawRule rule = CurrentDrawRule();
    std::vector<TDecodeRequest> next;
    if (FShownKey.Page + 1 < FShownPageCount)
        next.push_back({FShownKey.Path, FShownKey.Page + 1, rule});
    const int id = ImageId();
    // Never a secured neighbour: it is not to be opened at all.
    auto neighbour = [&](int AIndex) {
        const TLumivaneImage& image = FImages[static_cast<std::size_t>(AIndex)];
        if (image.CantOpenReason() != corSecured)
            next.push_back({Q(image.FullFileName()), 0, rule});
    };
    if (id >= 1 && id < Count())
        neighbour(id);
    if (id > 1)
        neighbour(id - 2);
    FPipeline->Prefetch(std::move(next));
}

void TLumivaneViewerForm::PageStep(int ADirection) {
    // From the page asked for last, so quick presses add up before their pages arrive.
    const TFrameKey at = FWantedKey.IsEmpty() ? FShownKey : FWantedKey;
    if (at.IsEmpty())
        return;
    int count = FPipeline->Cache().PageCount(at.Path);
    if (count < 0 && at == FShownKey)
        count = FShownPageCount; // a file that failed as a whole counts as one page
    if (at.Page == kLastPage || count < 0) {
        // Where the next page is depends on the page count, known once the page arrives.
        FPendingPageSteps += ADirection;
        return;
    }
    const int page = at.Page + ADirection;
    if (page >= 0 && page < count)
        ShowPage(page);
    else if (ADirection > 0 && ImageId() < Count())
        SelectImage(ImageId() + 1);
    else if (ADirection < 0 && ImageId() > 1)
        SelectImage(ImageId() - 1, kLastPage);
}
