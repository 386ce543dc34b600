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
#include "viewer/strip/PageStrip.h"
#include "viewer/strip/PageStripModel.h"

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
#include <utility>

namespace {

using namespace lvform;

// The margins the top bar's layout gives the list and the title, left and right together.
constexpr int kListMargins = 8;
constexpr int kTitleMargins = 8;

} // namespace

// ---------------------------------------------------------------------------------------
// Creation (the components are built in OrlenzaFrm.Components.cpp; pointer and key
// input is handled in OrlenzaFrm.Input.cpp)

TLumivaneViewerForm::TLumivaneViewerForm(QWidget* parent) : TOrlenzaForm(parent) {
    FPrinting = new TDocumentPrinting(this);
    FBrowse = new TBrowseModel(this);
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
    ConnectBrowse();
    InstallStrip();
    connect(swFitToWidth, &QAbstractButton::toggled, this,
            [this] { Guarded(this, [this] { ApplyFitToWidthSwitch(); }); });
    UpdateMinimumSize();
    TopToolBar->installEventFilter(this); // the list's width follows the bar's
    FormCreate();
}

TLumivaneViewerForm::~TLumivaneViewerForm() {
    FAlive->store(false);
    // The window handle goes away after this part of the object: a focus change then must
    // not reach it.
    disconnect(FFocusWatch);
    // The strip asks the pipeline for tiles until it is hidden, which the window's teardown
    // does after this: it goes first.
    if (FStrip) {
        TPageStripModel* tiles = &FStrip->StripModel();
        delete std::exchange(FStrip, nullptr);
        delete tiles;
    }
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
    RestoreStrip();
    ShowSearchHint();
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
    // top; fit-to-width, Print, the strip's button and the zoom bar with its dial below;
    // some picture between.
    constexpr int kGap = 8;
    constexpr int kPictureHeight = 160;
    const auto* bottomLayout = static_cast<const TAlignLayout*>(BottomToolBar->layout());
    const int top = FTopLayout->ItemSize(loInputControls).width() +
                    FTopLayout->ItemSize(cbxImageList).width() + kListMargins + kMinTitleWidth +
                    kTitleMargins;
    const int bottom = bottomLayout->ItemPosition(btnStrip).x() +
                       bottomLayout->ItemSize(btnStrip).width() + kGap +
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
    // shown after the close, and fresh scans are no longer watched for.
    CancelDecodes();
    CancelListing();
    StopWatching();
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
    FBrowse->ClearShown();
    FPipeline->Cache().SetShown({});
    Image->SetBitmap(QImage());
    tabForImage->ClearNotice();
    FBitmapFile.clear();
    FHasPicture = false;
    UpdatePrintEnabled();
    UpdateZoomLabel();
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

void TLumivaneViewerForm::UpdatePrintEnabled() {
    BtnPrint->setEnabled(FHasPicture && !Image->IsBitmapEmpty());
}

void TLumivaneViewerForm::CloseImageAndHide(void*) {
    StopWatching();
    ClearImage();
    ShowSearchHint(); // for whenever the window is shown again with nothing searched
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
    for (const TLumivaneImage& image : FBrowse->Images())
        source.Files.push_back({Q(image.FullFileName()), Q(image.Name)});
    source.ShownFile = ImageId() - 1;
    source.ShownPage = ShownPage();
    source.ShownAngle = Image->RotationAngle();
    source.Identifier = Q(FLastSearchText);
    // The printer and options are remembered per host connection, beside the placements.
    FPrinting->SetStore(std::make_shared<TPrintOptionsStore>(
        QtPlacementFolder(), ViewController ? ViewController->StoreName() : std::string()));
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

bool TLumivaneViewerForm::UpdateZoomBase(bool AFitToWidth) {
    const QSize full = Image->FullSize();
    lvgeometry::TFitResult fit;
    // Fitted as it is turned, so a quarter-turned page fills the area it is drawn in.
    if (Image->IsBitmapEmpty() ||
        !lvgeometry::FitImage(full.width(), full.height(), static_cast<float>(tabImage->height()),
                              width(), AFitToWidth, fit, Image->RotationAngle()))
        return false;
    FZoomBaseWidth = fit.BaseWidth;
    FZoomBaseHeight = fit.BaseHeight;
    FPanAnchorX = 0;
    FPanAnchorY = 0;
    return true;
}

void TLumivaneViewerForm::FitImage(bool AFitToWidth) {
    if (!UpdateZoomBase(AFitToWidth))
        return;
    FActualPixels = false;
    const QSizeF size(FZoomBaseWidth, FZoomBaseHeight);
    CenterImage(size);
    // Read from the top: with fit to width a page taller than the area starts with its top
    // edge showing, not its middle.
    if (AFitToWidth)
        FPanOffset.setY(PanLimits(size).y());
    PlaceImage(size);
    if (tbZoom->value() != 0)
        tbZoom->SetValue(0); // its change handler sizes the image the same way
    UpdateZoomLabel();
    FDetailTimer->start();
}

void TLumivaneViewerForm::PlaceImage(QSizeF ASize) {
    const QSizeF page = tabForImage->size();
    Image->SetBounds(QRectF((page.width() - ASize.width()) / 2 + FPanOffset.x(),
                            (page.height() - ASize.height()) / 2 + FPanOffset.y(), ASize.width(),
                            ASize.height()));
}

QPointF TLumivaneViewerForm::PanLimits(QSizeF ASize) const {
    const lvgeometry::TSizeF extent =
        lvgeometry::TurnedExtent(static_cast<float>(ASize.width()),
                                 static_cast<float>(ASize.height()), Image->RotationAngle());
    return {lvgeometry::PanLimit(extent.Width, static_cast<float>(tabForImage->width())),
            lvgeometry::PanLimit(extent.Height, static_cast<float>(tabForImage->height()))};
}

void TLumivaneViewerForm::ScrollBy(QPointF AStep) {
    if (!FHasPicture)
        return;
    const QSizeF size = Image->Bounds().size();
    const lvgeometry::TSizeF extent =
        lvgeometry::TurnedExtent(static_cast<float>(size.width()),
                                 static_cast<float>(size.height()), Image->RotationAngle());
    FPanOffset = QPointF(
        lvgeometry::ScrollAxis(static_cast<float>(FPanOffset.x()), static_cast<float>(AStep.x()),
                               extent.Width, static_cast<float>(tabForImage->width())),
        lvgeometry::ScrollAxis(static_cast<float>(FPanOffset.y()), static_cast<float>(AStep.y()),
                               extent.Height, static_cast<float>(tabForImage->height())));
    PlaceImage(size);
}

bool TLumivaneViewerForm::AtPageEnd() const {
    // Half a pixel short still counts: the offsets are scaled floats.
    return FPanOffset.y() <= -PanLimits(Image->Bounds().size()).y() + 0.5;
}

bool TLumivaneViewerForm::IsLargerThanArea() const {
    const QPointF limits = PanLimits(Image->Bounds().size());
    return FHasPicture && (limits.x() > 0 || limits.y() > 0);
}

QSizeF TLumivaneViewerForm::ZoomedImageSize() const {
    if (FActualPixels && FZoomBaseWidth > 0) {
        const QSize full = Image->FullSize();
        return {double(full.width()), double(full.height())};
    }
    const lvgeometry::TSizeF size = lvgeometry::ZoomedSize(FZoomBaseWidth, FZoomBaseHeight,
                                                           static_cast<float>(tbZoom->Value()));
    return {size.Width, size.Height};
}

void TLumivaneViewerForm::ShowActualPixels() {
    if (!FHasPicture || FZoomBaseWidth <= 0)
        return;
    FActualPixels = true;
    {
        // The bar goes as far as it goes; the picture on to its own pixels.
        const QSignalBlocker quiet(tbZoom);
        const double factor = Image->FullSize().width() / double(FZoomBaseWidth);
        tbZoom->SetValue(std::clamp((factor - 1) / 3, 0.0, 1.0));
    }
    ApplyZoom();
}

void TLumivaneViewerForm::UpdateZoomLabel() {
    const QSize full = Image->FullSize();
    if (!FHasPicture || full.isEmpty()) {
        lblZoomPercent->clear();
        return;
    }
    lblZoomPercent->setText(
        QStringLiteral("%1 %").arg(std::lround(100.0 * Image->DrawnSize().width() / full.width())));
}

void TLumivaneViewerForm::RefitTurned() {
    // The turn changes what fits; the zoom step stays, the view starts from the middle.
    if (UpdateZoomBase(swFitToWidth->isChecked())) {
        FPanOffset = {};
        ApplyZoom();
    }
}

void TLumivaneViewerForm::ApplyZoom() {
    // What was in the middle of the area stays there, as far as the picture allows.
    const QSizeF before = Image->Bounds().size();
    const QSizeF size = ZoomedImageSize();
    if (before.width() > 0 && before.height() > 0)
        FPanOffset = QPointF(FPanOffset.x() * size.width() / before.width(),
                             FPanOffset.y() * size.height() / before.height());
    const QPointF limits = PanLimits(size);
    FPanOffset = {std::clamp(FPanOffset.x(), -limits.x(), limits.x()),
                  std::clamp(FPanOffset.y(), -limits.y(), limits.y())};
    PlaceImage(size);
    UpdateZoomLabel();
    FDetailTimer->start();
}

void TLumivaneViewerForm::tbZoomChange() {
    FActualPixels = false;
    ApplyZoom();
}

void TLumivaneViewerForm::RotateQuarterTurn() {
    arcdImageRotation->SetAngle(lvgeometry::NextQuarterTurn(arcdImageRotation->Angle()));
    TurnImage(arcdImageRotation->Angle());
}

void TLumivaneViewerForm::SetRotation(int AAngle) {
    arcdImageRotation->SetAngle(AAngle);
    TurnImage(AAngle);
}

void TLumivaneViewerForm::TurnImage(double AAngle) {
    if (Image->RotationAngle() == AAngle)
        return;
    Image->SetRotationAngle(AAngle);
    RefitTurned();
}

void TLumivaneViewerForm::tabImageResize() {
    // Refitted as the switch says, keeping the zoom step (and "1"'s own pixels) and what
    // was in the middle of the area: maximising used to throw the zoom away.
    if (!FHasPicture || Image->IsBitmapEmpty()) {
        FitImage(swFitToWidth->isChecked());
        return;
    }
    if (UpdateZoomBase(swFitToWidth->isChecked()))
        ApplyZoom();
}

void TLumivaneViewerForm::ApplyFitToWidthSwitch() {
    FitImage(swFitToWidth->isChecked());
}

void TLumivaneViewerForm::EnsureDetail() {
    const TBrowsePosition shown = FBrowse->Shown();
    if (!FHasPicture || Image->IsBitmapEmpty() || shown.IsEmpty())
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
    FPipeline->Detail({FBrowse->FilePath(shown.File), shown.Page, rule});
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
