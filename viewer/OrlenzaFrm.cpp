#include "viewer/OrlenzaFrm.h"

#include "app/QtFormPlacement.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "controlfile/Trace.h"
#include "positions/PrintOptionsStore.h"
#include "viewer/ImageDecoding.h"
#include "viewer/ImageGeometry.h"
#include "viewer/Orlenza.DocumentPrinting.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEasingCurve>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPauseAnimation>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QSequentialAnimationGroup>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace {

using namespace lvform;

// "<name> cannot be shown: <reason>". Decoding names the file before its reason and may
// add a technical detail in brackets; the user reads the reason alone.
QString LoadErrorText(const TLumivaneImage& AImage, const QString& AError) {
    const QString name = Q(AImage.Name);
    QString reason = AError.trimmed();
    if (!name.isEmpty() && reason.startsWith(name + QStringLiteral(": ")))
        reason = reason.mid(name.size() + 2);
    if (reason.endsWith(QLatin1Char(')'))) {
        const qsizetype open = reason.lastIndexOf(QStringLiteral(" ("));
        if (open > 0)
            reason.truncate(open);
    }
    return (name.isEmpty() ? QStringLiteral("The file") : name) +
           QStringLiteral(" cannot be shown: ") + reason;
}

// The margins the top bar's layout gives the list and the title, left and right together.
constexpr int kListMargins = 8;
constexpr int kTitleMargins = 8;

} // namespace

// ---------------------------------------------------------------------------------------
// Creation (the components are built in OrlenzaFrm.Components.cpp; pointer and key
// input is handled in OrlenzaFrm.Input.cpp)

TLumivaneViewerForm::TLumivaneViewerForm(QWidget* parent) : TOrlenzaForm(parent) {
    FPrinting = new TDocumentPrinting(this);
    CreatePipeline();
    // Folder listings of searches. A listing cannot be stopped once it runs: one held up
    // by a slow share must leave threads for the searches after it.
    FListingWorkers = new QThreadPool(this);
    FListingWorkers->setObjectName(QStringLiteral("ListingWorkers"));
    FListingWorkers->setMaxThreadCount(4);
    CreateComponents();
    InstallKeys();
    InstallClipboard();
    InstallWatching();
    connect(swFitToWidth, &QAbstractButton::toggled, this,
            [this] { Guarded(this, [this] { ApplyFitToWidthSwitch(); }); });
    UpdateMinimumSize();
    TopToolBar->installEventFilter(this); // the list's width follows the bar's
    FormCreate();
}

TLumivaneViewerForm::~TLumivaneViewerForm() {
    // The window handle goes away after this part of the object: a focus change then must
    // not reach it.
    disconnect(FFocusWatch);
    // Workers stop and nothing they finish reaches a window being taken apart.
    FPipeline.reset();
    if (LumivaneViewerForm == this)
        LumivaneViewerForm = nullptr;
    // The controller outlives windows in tests; it must not call back into a dead one.
    if (ViewController && FStateEvent)
        ViewController->SetOnCloseImageAndHide(nullptr);
}

void TLumivaneViewerForm::FormCreate() {
    FLastKeyPress = QDateTime();
    FDefaultImageListWidth = static_cast<float>(FTopLayout->ItemSize(cbxImageList).width());
    FImageListWidth = FTopLayout->ItemSize(cbxImageList).width();
    FShown = false;
    tabImage->setCurrentIndex(0);
    if (!InitializeViewController)
        throw std::logic_error(
            "OrlenzaFrm: InitializeViewController not set prior to creating the viewer window");
    InitializeViewController();
    if (!ViewController)
        throw std::logic_error(
            "OrlenzaFrm: InitializeViewController did not publish a view controller");
    ChangeViewState(vsIdle);
    ViewController->SetOnCloseImageAndHide([this](void* Sender) { CloseImageAndHide(Sender); });
    FStateEvent = ViewController->StateEvent();
    OpenTurnStore();
    LumivaneViewerForm = this;
    RestorePlacement();
    UpdatePrintEnabled();
}

void TLumivaneViewerForm::FitImageListWidth() {
    // As wide as its longest path asked for, but never over the title's room: a narrow
    // window clips the list's text, not the title.
    const int room = TopToolBar->width() - FTopLayout->ItemSize(loInputControls).width() -
                     kListMargins - kMinTitleWidth - kTitleMargins;
    const int designed = static_cast<int>(FDefaultImageListWidth);
    const int width = std::max(designed, std::min(FImageListWidth, room));
    const QSize current = FTopLayout->ItemSize(cbxImageList);
    if (current.width() != width)
        FTopLayout->SetItemSize(cbxImageList, {width, current.height()});
}

void TLumivaneViewerForm::UpdateMinimumSize() {
    // Small enough for half of a small desktop at 200 %, large enough that no bar's
    // controls run into each other: the identifier box, the list and a readable title on
    // top; fit-to-width, Print and the zoom bar with its dial below; some picture between.
    constexpr int kGap = 8;
    constexpr int kPictureHeight = 160;
    const auto* bottomLayout = static_cast<const TAlignLayout*>(BottomToolBar->layout());
    const int top = FTopLayout->ItemSize(loInputControls).width() +
                    FTopLayout->ItemSize(cbxImageList).width() + kListMargins + kMinTitleWidth +
                    kTitleMargins;
    const int bottom = bottomLayout->ItemPosition(BtnPrint).x() +
                       bottomLayout->ItemSize(BtnPrint).width() + kGap +
                       bottomLayout->ItemSize(loControls).width();
    setMinimumSize(std::max(top, bottom), FFormLayout->ItemSize(TopToolBar).height() +
                                              FFormLayout->ItemSize(BottomToolBar).height() +
                                              kPictureHeight);
}

void TLumivaneViewerForm::ChangeViewState(TImageViewerState AState) {
    FViewState = AState;
    ViewController->ChangeViewState(AState);
}

void TLumivaneViewerForm::ttImageStateTimer() {
    if (FStateEvent)
        FStateEvent(this);
}

// ---------------------------------------------------------------------------------------
// Window events

bool TLumivaneViewerForm::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        const bool result = TOrlenzaForm::event(event);
        Guarded(this, [this] { FormActivate(); });
        return result;
    }
    return TOrlenzaForm::event(event);
}

void TLumivaneViewerForm::FormActivate() {
    Qt::WindowStates state = windowState();
    // The command line's state is the first one only; later the user's state stands.
    if (!FCommandLineStateApplied) {
        FCommandLineStateApplied = true;
        state.setFlag(Qt::WindowMaximized, StartMaximized);
    }
    state.setFlag(Qt::WindowMinimized, false);
    if (state != windowState())
        setWindowState(state);
    // Focus coming back from a window this one opened (its error report, the print dialog)
    // is no return to the window: searching again would raise a failed search's report
    // anew on every dismissal, and take the user off the page just printed.
    // With a start-up text a return searches again, for the identifier last searched: the
    // start-up text until the user searches another one, which it must not replace.
    // A search still being listed is the newest one asked for: it goes on.
    if (!StartupSearchText.empty() && !FFocusOnOwnWindow && !FListing)
        NewImage(FLastSearchText.empty() ? StartupSearchText : FLastSearchText);
}

bool TLumivaneViewerForm::IsOwnWindow(const QWindow* AWindow) const {
    const QWindow* own = windowHandle();
    if (!own || !AWindow || AWindow == own)
        return false;
    for (const QWindow* w = AWindow->transientParent(); w; w = w->transientParent())
        if (w == own)
            return true;
    return false;
}

void TLumivaneViewerForm::closeEvent(QCloseEvent* event) {
    // FormCloseQuery: the close is always allowed; a visible window saves its placement.
    Guarded(this, [this] {
        if (isVisible())
            SavePlacement();
    });
    // FormClose: the window only hides; the program goes on. A page still decoding is not
    // shown after the close.
    CancelDecodes();
    CancelListing();
    Guarded(this, [this] { ChangeViewState(vsUnknown); });
    event->accept();
}

void TLumivaneViewerForm::SavePlacementAtEnd() {
    if (!isVisible())
        return;
    try {
        SavePlacement();
    } catch (const std::exception& e) {
        // The end goes on: nobody may be at the screen to answer a message now.
        lvtrace::Line(std::string("placement not saved at the end: ") + e.what());
    }
}

// ---------------------------------------------------------------------------------------
// Searching and showing

int TLumivaneViewerForm::ImageId() const {
    return cbxImageList->currentIndex() + 1;
}

const TLumivaneImage& TLumivaneViewerForm::SelectedImage() const {
    static const TLumivaneImage empty;
    const int index = cbxImageList->currentIndex();
    if (index >= 0 && index < Count())
        return FImages[static_cast<std::size_t>(index)];
    return empty;
}

void TLumivaneViewerForm::NewImage(const std::string& ASearchText) {
    // The toolbar, the start-up text and the identifier box search here; the window's own
    // keys then act on the picture, not on the box.
    if (!ViewController->SearchTextIsValidForSearch(ASearchText))
        return;
    const bool wasShown = isVisible() && !(windowState() & Qt::WindowMinimized);
    // A return to the identifier already shown leaves the focus where the user had it.
    if (SearchFor(ASearchText, true) || !wasShown)
        FocusPicture();
}

bool TLumivaneViewerForm::SearchFor(const std::string& ASearchText, bool AFocusIfNew) {
    if (!ViewController->SearchTextIsValidForSearch(ASearchText))
        return false;
    if (FListing && ASearchText == FListingText) {
        // Being listed already (a return to the window right after a search): on its way.
        EnsureShown();
        return false;
    }
    if (RefreshShownSearch(ASearchText, AFocusIfNew))
        return false;
    ClearImage();
    EnsureShown();
    LoadImageList(ASearchText);
    return true;
}

bool TLumivaneViewerForm::RefreshShownSearch(const std::string& ASearchText, bool AFocusIfNew) {
    if (ASearchText != FLastSearchText || SelectedImage().IsEmpty())
        return false;
    // The picture, its zoom and its turn stay while the folders are listed again.
    EnsureShown();
    edImageId->setText(Q(ASearchText));
    btnForm->setEnabled(true);
    StartListing(ASearchText, true, AFocusIfNew);
    return true;
}

void TLumivaneViewerForm::ShowForm() {
    RestoreFromMinimized();
    TOrlenzaForm::ShowForm();
    FocusPicture();
}

void TLumivaneViewerForm::RestoreFromMinimized() {
    // The toolkit counts a minimised window as visible; the user does not see it.
    if (isVisible() && (windowState() & Qt::WindowMinimized))
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
}

void TLumivaneViewerForm::EnsureShown() {
    if (isVisible()) {
        RestoreFromMinimized();
        return;
    }
    if (!FShown) {
        FShown = true;
        ShowForm();
    } else {
        setVisible(true);
    }
}

void TLumivaneViewerForm::ClearImage() {
    CancelListing();
    CancelDecodes();
    FTurnFile.clear();
    FShownKey = {};
    FShownPageCount = 1;
    FPipeline->Cache().SetShown({});
    Image->SetBitmap(QImage());
    tabForImage->ClearNotice();
    FBitmapFile.clear();
    FHasPicture = false;
    UpdatePrintEnabled();
}

void TLumivaneViewerForm::LoadImageList(const std::string& ASearchText) {
    // An empty text searches what the box holds. A text from elsewhere has passed the
    // length check, so the Form button must not stay off from a shorter text typed before.
    if (!ASearchText.empty()) {
        edImageId->setText(Q(ASearchText));
        btnForm->setEnabled(ViewController->SearchTextIsValidForSearch(ASearchText));
    }
    ClearImage();
    ChangeViewState(vsIdle);
    const std::string identifier = edImageId->text().toStdString();
    // Frames of another identifier are not coming back; a search again for the same one
    // (a return to the window) finds its pages ready.
    if (identifier != FCachedIdentifier) {
        FPipeline->Cache().Clear();
        FCachedIdentifier = identifier;
    }
    // The list goes on showing the identifier before until the new one's arrives (a search
    // the folder search refuses leaves it); nothing of it is opened or merged meanwhile.
    StopWatching();
    StartListing(identifier, false, false);
}

void TLumivaneViewerForm::StartListing(const std::string& ASearchText, bool ARefresh,
                                       bool AFocusIfNew) {
    TPreparedImageSearch search = ViewController->PrepareImageSearch(ASearchText);
    TListing listing;
    listing.SearchText = ASearchText;
    listing.Refresh = ARefresh;
    listing.FocusIfNew = AFocusIfNew;
    listing.Run = std::move(search.Run);
    const int generation = ++FListingGeneration;
    FListing = true;
    FListingNewSearch = !ARefresh;
    FListingText = ASearchText;
    SetBusy(true);
    // A folder of thousands of entries, or one on a slow share, must not hold up input,
    // paints or the state timer.
    QPointer<TLumivaneViewerForm> self(this);
    FListingWorkers->start([self, generation, listing = std::move(listing),
                            folders = std::move(search.Folders)]() mutable {
        try {
            if (listing.Run)
                listing.Images = listing.Run();
        } catch (...) {
            listing.Error = std::current_exception();
        }
        for (const std::string& folder : folders)
            if (QFileInfo(Q(folder)).isDir())
                listing.Folders << Q(folder);
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, listing = std::move(listing)]() mutable {
                if (self)
                    self->ListingFinished(generation, std::move(listing));
            },
            Qt::QueuedConnection);
    });
}

void TLumivaneViewerForm::CancelListing() {
    ++FListingGeneration;
    if (!FListing)
        return;
    FListing = false;
    FListingText.clear();
    if (FWantedKey.IsEmpty())
        SetBusy(false);
}

void TLumivaneViewerForm::ListingFinished(int AGeneration, TListing AListing) {
    // A newer search, a hide, a close or a clear came since: this result shows nothing.
    if (!FListing || AGeneration != FListingGeneration)
        return;
    FListing = false;
    FListingText.clear();
    if (FWantedKey.IsEmpty())
        SetBusy(false);
    // Queued from the worker: a boundary where errors are reported.
    Guarded(this, [&] { TakeListing(std::move(AListing)); });
}

void TLumivaneViewerForm::TakeListing(TListing AListing) {
    // A search the folder search refused is reported; the block keeps vsIdle and a return
    // to the window does not search it again.
    if (AListing.Error)
        std::rethrow_exception(AListing.Error);
    if (AListing.Refresh) {
        const std::string shown = SelectedImage().Path;
        const bool stillFound =
            !shown.empty() &&
            std::any_of(AListing.Images.begin(), AListing.Images.end(),
                        [&](const TLumivaneImage& AImage) { return AImage.Path == shown; });
        if (stillFound) {
            MergeImageList(std::move(AListing.Images));
            if (Image->IsBitmapEmpty()) {
                // Hidden by the host since, which let the picture go: the same file again,
                // at the zoom and turn it had.
                const double zoom = tbZoom->Value();
                const int angle = arcdImageRotation->Angle();
                ShowSelectedImage();
                SetRotation(angle);
                tbZoom->SetValue(zoom);
            } else if (FViewState != vsOpen) {
                ChangeViewState(vsOpen);
            }
            if (FWatchedSearch != AListing.SearchText)
                WatchSearchedFolders(AListing.SearchText, std::move(AListing.Run),
                                     AListing.Folders);
            emit ImagesListed();
            return;
        }
        // The file shown has gone: a new search, with what was just found.
        ClearImage();
        ChangeViewState(vsIdle);
        if (AListing.FocusIfNew)
            FocusPicture();
    }
    FImages = std::move(AListing.Images);
    FillImageList();
    // Only a search that went through: a refused one is not searched again on a return.
    FLastSearchText = AListing.SearchText;
    WatchSearchedFolders(AListing.SearchText, std::move(AListing.Run), AListing.Folders);
    SelectImage(1);
    emit ImagesListed();
}

void TLumivaneViewerForm::FillImageList() {
    cbxImageList->setUpdatesEnabled(false);
    {
        // Filling the list is not a pick: no change event, and nothing selected after.
        QSignalBlocker block(cbxImageList);
        cbxImageList->clear();
        // MeasureImageListItem: every text in the list's font, the widest remembered.
        std::unique_ptr<QFontMetricsF> metrics;
        qreal widest = 0, letterW = 0;
        bool measured = false;
        for (const TLumivaneImage& image : FImages) {
            const QString text = Q(image.Path);
            cbxImageList->addItem(text);
            if (!metrics) {
                metrics = std::make_unique<QFontMetricsF>(cbxImageList->font());
                letterW = metrics->horizontalAdvance(QStringLiteral("W"));
            }
            widest = std::max(widest, metrics->horizontalAdvance(text));
            measured = true;
        }
        cbxImageList->setCurrentIndex(-1);
        if (measured) {
            const qreal need = FDefaultImageListWidth + letterW + widest;
            FImageListWidth = std::max(FImageListWidth, static_cast<int>(std::ceil(need)));
            FitImageListWidth();
        }
    }
    cbxImageList->setUpdatesEnabled(true);
    LookUpTurns();
}

void TLumivaneViewerForm::SelectImage(int AImageId, int APage) {
    // While another identifier is listed the list still holds the one before: a pick
    // there would show a file of the identifier the host no longer asks for.
    if (FListing && FListingNewSearch)
        return;
    // The hourglass while the image loads; given back once it is shown.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    struct Restore {
        ~Restore() { QGuiApplication::restoreOverrideCursor(); }
    } restore;
    if (AImageId <= cbxImageList->count() && AImageId != ImageId()) {
        // The change event would show the same image a second time; it is shown below.
        QSignalBlocker block(cbxImageList);
        cbxImageList->setCurrentIndex(AImageId - 1);
    }
    ShowSelectedImage(APage);
}

void TLumivaneViewerForm::ShowSelectedImage(int APage) {
    ResolveSelectedContainer();
    if (!SelectedImage().IsEmpty()) {
        // Decoded on a worker and put on screen when it is ready (at once when the cache
        // holds it); until then the window goes on showing what it shows.
        ShowPage(APage);
        return;
    }
    CancelDecodes();
    FShownKey = {};
    Image->hide();
    SetBusy(true);
    SetRotation(0);
    try {
        ShowNoImage();
        ChangeViewState(vsOpen);
        FitImage(swFitToWidth->isChecked());
        UpdateTitle();
    } catch (...) {
        ShowLoadError(ErrorText(std::current_exception()));
        // The title names what the list shows, also when it cannot be shown.
        UpdateTitle();
    }
    SetBusy(false);
    Image->show();
    CenterImage(Image->Bounds().size());
}

void TLumivaneViewerForm::ShowNoImage() {
    // The bitmap stays empty (nothing to print or copy); the page shows the colour and why.
    Image->FillBitmap(kNoImageColor);
    tabForImage->SetNotice(kNoImageColor, QStringLiteral("No images for ") + edImageId->text());
    FHasPicture = false;
    UpdatePrintEnabled();
}

void TLumivaneViewerForm::ShowLoadError(const QString& AReason) {
    if (Image->IsBitmapEmpty()) {
        // Nothing was shown before (the first image of a search): fill the image area, so
        // the failure is seen instead of an empty page.
        QImage fill(std::max(1, tabImage->width()), std::max(1, tabImage->height()),
                    QImage::Format_RGB32);
        Image->SetBitmap(std::move(fill));
        Image->FillBitmap(kLoadErrorColor);
        FitImage(false);
    } else {
        Image->FillBitmap(kLoadErrorColor);
    }
    tabForImage->SetNotice(kLoadErrorColor, LoadErrorText(SelectedImage(), AReason));
    FHasPicture = false;
    UpdatePrintEnabled();
}

void TLumivaneViewerForm::SetBusy(bool ABusy) {
    AniIndicator1->SetRunning(ABusy);
    if (ABusy) {
        if (BusyIndicatorColorAnimation->state() != QAbstractAnimation::Running)
            BusyIndicatorColorAnimation->start();
    } else {
        BusyIndicatorColorAnimation->stop();
        Circle1->SetFillColor(kBusyFrom);
    }
}

void TLumivaneViewerForm::UpdateTitle() {
    const TLumivaneImage& selected = SelectedImage();
    if (selected.IsEmpty()) {
        lblCurrentImageName->setText(QString());
        return;
    }
    // Put together from its parts: a name is shown as it is, whatever it holds.
    const QString line1 = Q(selected.DisplayName()) + QLatin1Char(' ') +
                          Q(selected.FormattedTimeStamp("mmm dd yyyy HH:nn")) + QLatin1Char(' ');
    QString line2 = QString::number(ImageId()) + QStringLiteral(" of ") + QString::number(Count());
    if (ShownPageCount() > 1)
        line2 += QStringLiteral(" \u00B7 page ") + QString::number(ShownPage() + 1) +
                 QLatin1Char('/') + QString::number(ShownPageCount());
    lblCurrentImageName->setText(line1 + QStringLiteral("\r\n") + line2);
}

void TLumivaneViewerForm::UpdatePrintEnabled() {
    BtnPrint->setEnabled(FHasPicture && !Image->IsBitmapEmpty());
}

void TLumivaneViewerForm::CloseImageAndHide(void*) {
    StopWatching();
    ClearImage();
    hide();
}

void TLumivaneViewerForm::SetSearchText(const std::string& ASearchText) {
    if (!ASearchText.empty())
        return;
    const qint64 seconds = FLastKeyPress.isValid()
                               ? std::llabs(FLastKeyPress.secsTo(QDateTime::currentDateTime()))
                               : std::numeric_limits<qint64>::max();
    if (seconds > 3)
        edImageId->clear();
}

// ---------------------------------------------------------------------------------------
// Printing

void TLumivaneViewerForm::BtnPrintClick() {
    if (!FHasPicture || Image->IsBitmapEmpty())
        return;
    TPrintSource source;
    for (const TLumivaneImage& image : FImages)
        source.Files.push_back({Q(image.FullFileName()), Q(image.Name)});
    source.ShownFile = ImageId() - 1;
    source.ShownPage = ShownPage();
    source.ShownAngle = Image->RotationAngle();
    source.Identifier = Q(FLastSearchText);
    // The printer and options are remembered per host connection, beside the placements.
    const TMemoryMappedControlFile* block =
        ViewController ? ViewController->ControlFile() : nullptr;
    FPrinting->SetStore(std::make_shared<TPrintOptionsStore>(
        QtPlacementFolder(), block ? block->ConnectionName() : std::string()));
    FPrinting->Print(source);
}

// ---------------------------------------------------------------------------------------
// Geometry

void TLumivaneViewerForm::CenterImage(QSizeF ASize) {
    // The image is centre-aligned in its page: any size change puts it back there.
    FPanOffset = {};
    const QSizeF page = tabForImage->size();
    Image->SetBounds(QRectF((page.width() - ASize.width()) / 2,
                            (page.height() - ASize.height()) / 2, ASize.width(), ASize.height()));
}

void TLumivaneViewerForm::FitImage(bool AFitToWidth) {
    const QSize full = Image->FullSize();
    lvgeometry::TFitResult fit;
    if (Image->IsBitmapEmpty() ||
        !lvgeometry::FitImage(full.width(), full.height(), static_cast<float>(tabImage->height()),
                              width(), AFitToWidth, fit))
        return;
    FZoomBaseWidth = fit.BaseWidth;
    FZoomBaseHeight = fit.BaseHeight;
    FPanAnchorX = 0;
    FPanAnchorY = 0;
    CenterImage(QSizeF(fit.BaseWidth, fit.BaseHeight));
    if (tbZoom->value() != 0)
        tbZoom->SetValue(0); // its change handler sizes the image the same way
    FDetailTimer->start();
}

void TLumivaneViewerForm::ApplyZoom() {
    const lvgeometry::TSizeF size = lvgeometry::ZoomedSize(FZoomBaseWidth, FZoomBaseHeight,
                                                           static_cast<float>(tbZoom->Value()));
    CenterImage(QSizeF(size.Width, size.Height));
    FDetailTimer->start();
}

void TLumivaneViewerForm::tbZoomChange() {
    ApplyZoom();
}

void TLumivaneViewerForm::RotateQuarterTurn() {
    arcdImageRotation->SetAngle(lvgeometry::NextQuarterTurn(arcdImageRotation->Angle()));
    Image->SetRotationAngle(arcdImageRotation->Angle());
}

void TLumivaneViewerForm::SetRotation(int AAngle) {
    arcdImageRotation->SetAngle(AAngle);
    Image->SetRotationAngle(AAngle);
}

void TLumivaneViewerForm::tabImageResize() {
    // Refitted as the switch says, so a maximised window shows the whole picture centred
    // instead of the old size off-centre.
    FitImage(swFitToWidth->isChecked());
}

void TLumivaneViewerForm::ApplyFitToWidthSwitch() {
    FitImage(swFitToWidth->isChecked());
}

void TLumivaneViewerForm::EnsureDetail() {
    if (!FHasPicture || Image->IsBitmapEmpty() || FShownKey.IsEmpty())
        return;
    const QSize held = Image->Bitmap().size();
    const QSize full = Image->FullSize();
    const qreal dpr = devicePixelRatioF();
    const QSize needed = DevicePixels(Image->DrawnSize(), dpr);
    if (held == full ||
        (needed.width() <= held.width() + 1 && needed.height() <= held.height() + 1))
        return;
    // Enough for the widest zoom of the current fit, so further zoom steps need no decode.
    const lvgeometry::TSizeF widest = lvgeometry::ZoomedSize(FZoomBaseWidth, FZoomBaseHeight, 1);
    const lvgeometry::TSizeF drawn =
        lvgeometry::AspectFit(widest.Width, widest.Height, full.width(), full.height());
    TDrawRule rule;
    rule.Box = DevicePixels(QSizeF(drawn.Width, drawn.Height), dpr).expandedTo(needed);
    // Meanwhile the held pixels are drawn scaled; the sharper frame replaces them when it is
    // ready (FrameReady), unless a further step asks for another one first.
    FPipeline->Detail({FShownKey.Path, FShownKey.Page, rule});
}

// ---------------------------------------------------------------------------------------
// Placement

// The view controller keeps placements per host connection.
void TLumivaneViewerForm::RestorePlacement() {
    if (!ViewController)
        return;
    TQtPlacementWindow form(this, dynamic_cast<const QWidget*>(ViewController->MainForm()));
    ViewController->LoadState(
        form, [this](const IPositionTrackerPtr& ATracker) { SetDefaultPlacement(ATracker); },
        [this](const IPositionTrackerPtr& ATracker) { ApplyCustomProperties(ATracker); });
}

void TLumivaneViewerForm::SavePlacement() {
    if (!ViewController)
        return;
    TQtPlacementWindow form(this, dynamic_cast<const QWidget*>(ViewController->MainForm()));
    ViewController->SaveState(
        form, [this](const IPositionTrackerPtr& ATracker) { CollectCustomProperties(ATracker); });
}

void TLumivaneViewerForm::SetDefaultPlacement(const IPositionTrackerPtr&) {
    PlaceAtHalfDesktop(this);
    FitImage(false);
    SetRotation(0);
}

void TLumivaneViewerForm::CollectCustomProperties(const IPositionTrackerPtr& ATracker) {
    if (!ATracker)
        return;
    ATracker->SetZoom(static_cast<float>(tbZoom->Value()));
    ATracker->SetFitToWidth(swFitToWidth->isChecked());
}

void TLumivaneViewerForm::ApplyCustomProperties(const IPositionTrackerPtr& ATracker) {
    if (!ATracker)
        return;
    swFitToWidth->setChecked(ATracker->FitToWidth());
    tbZoom->SetValue(ATracker->Zoom());
}
