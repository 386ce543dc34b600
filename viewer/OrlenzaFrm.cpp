#include "viewer/OrlenzaFrm.h"

#include "app/QtFormPlacement.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "controlfile/Trace.h"
#include "viewer/ImageDecoding.h"
#include "viewer/ImageGeometry.h"
#include "viewer/Orlenza.DocumentPrinting.h"
#include "viewer/ViewerWidgets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEasingCurve>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPauseAnimation>
#include <QPrintDialog>
#include <QPrinter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QSequentialAnimationGroup>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

std::string StartupSearchText;
bool StartMaximized = false;

namespace {

const QColor kNoImageColor(0xFA, 0xEB, 0xD7);   // antique white
const QColor kLoadErrorColor(0xBC, 0x8F, 0x8F); // rosy brown
const QColor kControllerFill(0xA9, 0xA9, 0xA9); // dark gray
const QColor kBusyFrom(Qt::white);
const QColor kBusyTo(0x87, 0xCE, 0xEB); // sky blue

// Printed scans gain nothing from more than 300 pixels per inch of paper.
constexpr double kPrintDotsPerInch = 300;

QSize DevicePixels(QSizeF ALogical, qreal ADevicePixelRatio) {
    return {static_cast<int>(std::ceil(ALogical.width() * ADevicePixelRatio)),
            static_cast<int>(std::ceil(ALogical.height() * ADevicePixelRatio))};
}

QString Q(const std::string& AText) {
    return QString::fromStdString(AText);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Creation

TLumivaneViewerForm::TLumivaneViewerForm(QWidget* parent) : TOrlenzaForm(parent) {
    CreateComponents();
    FormCreate();
}

TLumivaneViewerForm::~TLumivaneViewerForm() {
    // The window handle goes away after this part of the object: a focus change then must
    // not reach it.
    disconnect(FFocusWatch);
    if (LumivaneViewerForm == this)
        LumivaneViewerForm = nullptr;
    // The controller outlives windows in tests; it must not call back into a dead one.
    if (ViewController && FStateEvent)
        ViewController->SetOnCloseImageAndHide(nullptr);
}

void TLumivaneViewerForm::CreateComponents() {
    setObjectName(QStringLiteral("LumivaneViewerForm"));
    setWindowTitle(QStringLiteral("Lumivane Viewer"));
    resize(600, 568);
    move(0, 0);
    FFormLayout = new TAlignLayout(this);

    // Top tool bar: identifier box and Form button, the image list, the title.
    TopToolBar = new TToolBarPanel(TToolBarPanel::TEdge::Top, this);
    TopToolBar->setObjectName(QStringLiteral("TopToolBar"));
    FFormLayout->Add(TopToolBar, TAlign::Top, {600, 32});
    FTopLayout = new TAlignLayout(TopToolBar);

    lblCurrentImageName = new TTitleLabel(QStringLiteral("..."), TopToolBar);
    lblCurrentImageName->setObjectName(QStringLiteral("lblCurrentImageName"));
    lblCurrentImageName->setAlignment(Qt::AlignCenter);
    {
        // Two lines (name and date, then the position) must fit the 24-unit bar.
        QFont f = lblCurrentImageName->font();
        f.setPixelSize(10);
        lblCurrentImageName->setFont(f);
    }
    FTopLayout->Add(lblCurrentImageName, TAlign::Client, {323, 24}, {4, 4, 4, 4});

    cbxImageList = new QComboBox(TopToolBar);
    cbxImageList->setObjectName(QStringLiteral("cbxImageList"));
    cbxImageList->setEditable(false);
    cbxImageList->setSizeAdjustPolicy(QComboBox::AdjustToContentsOnFirstShow);
    FTopLayout->Add(cbxImageList, TAlign::Left, {44, 24}, {4, 4, 4, 4});

    loInputControls = new QWidget(TopToolBar);
    loInputControls->setObjectName(QStringLiteral("loInputControls"));
    FTopLayout->Add(loInputControls, TAlign::MostLeft, {217, 32});
    auto* inputLayout = new TAlignLayout(loInputControls);
    btnForm = new QPushButton(QStringLiteral("Form"), loInputControls);
    btnForm->setObjectName(QStringLiteral("btnForm"));
    inputLayout->Add(btnForm, TAlign::Right, {80, 24}, {2, 4, 4, 4});
    edImageId = new QLineEdit(loInputControls);
    edImageId->setObjectName(QStringLiteral("edImageId"));
    edImageId->setTextMargins(0, 0, 0, 0);
    inputLayout->Add(edImageId, TAlign::Left, {117, 16}, {4, 8, 4, 8});

    // Bottom tool bar: fit-to-width, Print, zoom and rotation.
    BottomToolBar = new TToolBarPanel(TToolBarPanel::TEdge::Bottom, this);
    BottomToolBar->setObjectName(QStringLiteral("BottomToolBar"));
    FFormLayout->Add(BottomToolBar, TAlign::Bottom, {600, 40});
    auto* bottomLayout = new TAlignLayout(BottomToolBar);

    loControls = new QWidget(BottomToolBar);
    loControls->setObjectName(QStringLiteral("loControls"));
    bottomLayout->Add(loControls, TAlign::Right, {195, 40});
    auto* controlsLayout = new TAlignLayout(loControls);
    rectController = new TFilledRect(kControllerFill, loControls);
    rectController->setObjectName(QStringLiteral("rectController"));
    controlsLayout->Add(rectController, TAlign::Client, {187, 32}, {4, 4, 4, 4});
    auto* rectLayout = new TAlignLayout(rectController);
    tbZoom = new TTrackBar(rectController);
    tbZoom->setObjectName(QStringLiteral("tbZoom"));
    tbZoom->setFocusPolicy(Qt::StrongFocus);
    tbZoom->setToolTip(QStringLiteral("Zoom"));
    rectLayout->Add(tbZoom, TAlign::VertCenter, {150, 19}, {5, 0, 15, 0});
    arcdImageRotation = new TRotaryDial(rectController);
    arcdImageRotation->setObjectName(QStringLiteral("arcdImageRotation"));
    arcdImageRotation->setToolTip(QStringLiteral("Rotation"));
    rectLayout->Add(arcdImageRotation, TAlign::FitRight, {24, 24}, {4, 4, 4, 4});

    loFitToWidth = new QWidget(BottomToolBar);
    loFitToWidth->setObjectName(QStringLiteral("loFitToWidth"));
    bottomLayout->Add(loFitToWidth, TAlign::Left, {161, 40});
    auto* fitLayout = new TAlignLayout(loFitToWidth);
    loFitToWidth1 = new QWidget(loFitToWidth);
    loFitToWidth1->setObjectName(QStringLiteral("loFitToWidth1"));
    loFitToWidth2 = new QWidget(loFitToWidth);
    loFitToWidth2->setObjectName(QStringLiteral("loFitToWidth2"));
    // The switch stands left of its label.
    fitLayout->Add(loFitToWidth1, TAlign::Left, {49, 40});
    fitLayout->Add(loFitToWidth2, TAlign::Left, {120, 40});
    swFitToWidth = new TToggleSwitch(loFitToWidth1);
    swFitToWidth->setObjectName(QStringLiteral("swFitToWidth"));
    swFitToWidth->setChecked(false);
    (new TAlignLayout(loFitToWidth1))->Add(swFitToWidth, TAlign::Client, {49, 24}, {0, 8, 0, 8});
    lblFitToWidth = new QLabel(QStringLiteral("Fit to Width"), loFitToWidth2);
    lblFitToWidth->setObjectName(QStringLiteral("lblFitToWidth"));
    lblFitToWidth->setBuddy(swFitToWidth);
    (new TAlignLayout(loFitToWidth2))
        ->Add(lblFitToWidth, TAlign::VertCenter, {116, 20}, {4, 0, 0, 0});

    BtnPrint = new QPushButton(QStringLiteral("Print"), BottomToolBar);
    BtnPrint->setObjectName(QStringLiteral("BtnPrint"));
    bottomLayout->Add(BtnPrint, TAlign::None, {80, 24}, {}, {177, 8});

    // The image area: a tab control whose one page holds the image and the page turner.
    tabImage = new QTabWidget(this);
    tabImage->setObjectName(QStringLiteral("tabImage"));
    tabImage->setDocumentMode(true);
    tabImage->tabBar()->hide();
    FFormLayout->Add(tabImage, TAlign::Client, {600, 496});
    tabForImage = new TImagePage();
    tabForImage->setObjectName(QStringLiteral("tabForImage"));
    tabImage->addTab(tabForImage, QStringLiteral("Caption Tab Item #1"));

    Image = new TImageControl(tabForImage);
    Image->setObjectName(QStringLiteral("Image"));
    Image->setMouseTracking(false);
    tabForImage->SetImage(Image);
    Image->SetBounds(QRectF((600 - 384) / 2.0, (496 - 468) / 2.0, 384, 468));

    // The page turner floats over the top of the page; only its buttons take the pointer.
    loPageTurner = new QWidget(tabForImage);
    loPageTurner->setObjectName(QStringLiteral("loPageTurner"));
    FPageTurnerLayout = new TAlignLayout(loPageTurner);
    loPageTurnerButtons = new QWidget(loPageTurner);
    loPageTurnerButtons->setObjectName(QStringLiteral("loPageTurnerButtons"));
    loPageTurnerButtons->setAttribute(Qt::WA_StyledBackground);
    loPageTurnerButtons->setStyleSheet(
        QStringLiteral("#loPageTurnerButtons { background: rgba(250,250,250,215); border: 1px "
                       "solid rgba(0,0,0,45);"
                       " border-radius: 6px; }"));
    FPageTurnerLayout->Add(loPageTurnerButtons, TAlign::Center, {81, 25}, {2, 0, 2, 0});
    FPageTurnerButtonsLayout = new TAlignLayout(loPageTurnerButtons);
    btnBack = new QToolButton(loPageTurnerButtons);
    btnBack->setObjectName(QStringLiteral("btnBack"));
    btnBack->setArrowType(Qt::LeftArrow);
    btnBack->setAutoRaise(true);
    btnBack->setToolTip(QStringLiteral("Back"));
    FPageTurnerButtonsLayout->Add(btnBack, TAlign::Left, {24, 17}, {4, 4, 0, 4});
    loBusyIndicator = new QWidget(loPageTurnerButtons);
    loBusyIndicator->setObjectName(QStringLiteral("loBusyIndicator"));
    FPageTurnerButtonsLayout->Add(loBusyIndicator, TAlign::Left, {24, 25});
    Circle1 = new TCircleShape(Qt::white, QColor(0xFA, 0xEB, 0xD7), loBusyIndicator);
    Circle1->setObjectName(QStringLiteral("Circle1"));
    (new TAlignLayout(loBusyIndicator))->Add(Circle1, TAlign::Client, {24, 17}, {0, 4, 0, 4});
    AniIndicator1 = new TActivityIndicator(Circle1);
    AniIndicator1->setObjectName(QStringLiteral("AniIndicator1"));
    (new TAlignLayout(Circle1))->Add(AniIndicator1, TAlign::Client, {24, 9}, {0, 4, 0, 4});
    AniIndicator1->SetRunning(true);
    {
        // White to sky blue and back, looping, after a short delay.
        auto* forward = new QPropertyAnimation(Circle1, "fillColor");
        forward->setStartValue(kBusyFrom);
        forward->setEndValue(kBusyTo);
        forward->setDuration(500);
        auto* back = new QPropertyAnimation(Circle1, "fillColor");
        back->setStartValue(kBusyTo);
        back->setEndValue(kBusyFrom);
        back->setDuration(500);
        auto* loop = new QSequentialAnimationGroup;
        loop->addAnimation(forward);
        loop->addAnimation(back);
        loop->setLoopCount(-1);
        BusyIndicatorColorAnimation = new QSequentialAnimationGroup(this);
        BusyIndicatorColorAnimation->setObjectName(QStringLiteral("BusyIndicatorColorAnimation"));
        BusyIndicatorColorAnimation->addPause(100);
        BusyIndicatorColorAnimation->addAnimation(loop);
    }
    btnNext = new QToolButton(loPageTurnerButtons);
    btnNext->setObjectName(QStringLiteral("btnNext"));
    btnNext->setArrowType(Qt::RightArrow);
    btnNext->setAutoRaise(true);
    btnNext->setText(QStringLiteral("Go to <Tab>"));
    btnNext->setToolTip(QStringLiteral("Next"));
    FPageTurnerButtonsLayout->Add(btnNext, TAlign::Left, {24, 17}, {0, 4, 4, 4});
    fanmPageTurnerHider = new QVariantAnimation(this);
    fanmPageTurnerHider->setObjectName(QStringLiteral("fanmPageTurnerHider"));
    fanmPageTurnerHider->setStartValue(24.0);
    fanmPageTurnerHider->setEndValue(0.0);
    fanmPageTurnerHider->setDuration(200);
    fanmPageTurnerHider->setEasingCurve(QEasingCurve::OutCubic);

    ttImageState = new QTimer(this);
    ttImageState->setObjectName(QStringLiteral("ttImageState"));
    ttImageState->setInterval(300);

    FDetailTimer = new QTimer(this);
    FDetailTimer->setSingleShot(true);
    FDetailTimer->setInterval(120);

    // Tab order: top bar (list, then Form and the box), the image, the bottom bar.
    setTabOrder(cbxImageList, btnForm);
    setTabOrder(btnForm, edImageId);
    setTabOrder(edImageId, btnBack);
    setTabOrder(btnBack, btnNext);
    setTabOrder(btnNext, tbZoom);
    setTabOrder(tbZoom, arcdImageRotation);
    setTabOrder(arcdImageRotation, swFitToWidth);
    setTabOrder(swFitToWidth, BtnPrint);

    // Event bindings.
    connect(cbxImageList, &QComboBox::currentIndexChanged, this,
            [this] { Guarded(this, [this] { cbxImageListChange(); }); });
    connect(btnForm, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { btnFormClick(); }); });
    connect(btnBack, &QToolButton::clicked, this,
            [this] { Guarded(this, [this] { btnBackClick(); }); });
    connect(btnNext, &QToolButton::clicked, this,
            [this] { Guarded(this, [this] { btnNextClick(); }); });
    connect(BtnPrint, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { BtnPrintClick(); }); });
    connect(tbZoom, &QSlider::valueChanged, this,
            [this] { Guarded(this, [this] { tbZoomChange(); }); });
    // The one binding: turning the dial turns the image.
    connect(arcdImageRotation, &QAbstractSlider::valueChanged, this,
            [this](int AValue) { Image->SetRotationAngle(AValue); });
    connect(fanmPageTurnerHider, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& AValue) {
                FPageTurnerButtonsLayout->SetItemSize(
                    loPageTurnerButtons, {81, static_cast<int>(std::lround(AValue.toDouble()))});
                FPageTurnerLayout->SetItemSize(
                    loPageTurnerButtons, {81, static_cast<int>(std::lround(AValue.toDouble()))});
                loPageTurner->setMask(QRegion(loPageTurnerButtons->geometry()));
            });
    connect(fanmPageTurnerHider, &QVariantAnimation::finished, this,
            [this] { Guarded(this, [this] { fanmPageTurnerHiderFinish(); }); });
    connect(ttImageState, &QTimer::timeout, this,
            [this] { Guarded(this, [this] { ttImageStateTimer(); }); });
    connect(FDetailTimer, &QTimer::timeout, this,
            [this] { Guarded(this, [this] { EnsureDetail(); }); });
    // Activation is delivered before the application reports the new focus window, so
    // this still tells where the focus came from when FormActivate runs.
    FFocusWatch = connect(qApp, &QGuiApplication::focusWindowChanged, this,
                          [this](QWindow* AWindow) { FFocusOnOwnWindow = IsOwnWindow(AWindow); });
    edImageId->installEventFilter(this);
    tabImage->installEventFilter(this);
    tabForImage->installEventFilter(this);
    Image->installEventFilter(this);
    loPageTurner->installEventFilter(this);

    ttImageState->start();
}

void TLumivaneViewerForm::FormCreate() {
    FLastKeyPress = QDateTime();
    FDefaultImageListWidth = static_cast<float>(FTopLayout->ItemSize(cbxImageList).width());
    FShown = false;
    tabImage->setCurrentIndex(0);
    if (!InitializeViewController)
        throw std::logic_error(
            "OrlenzaFrm: InitializeViewController not set prior to creating the viewer window");
    InitializeViewController();
    if (!ViewController)
        throw std::logic_error(
            "OrlenzaFrm: InitializeViewController did not publish a view controller");
    ViewController->ChangeViewState(vsIdle);
    ViewController->SetOnCloseImageAndHide([this](void* Sender) { CloseImageAndHide(Sender); });
    FStateEvent = ViewController->StateEvent();
    LumivaneViewerForm = this;
    RestorePlacement();
    UpdatePrintEnabled();
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
    state.setFlag(Qt::WindowMaximized, StartMaximized);
    state.setFlag(Qt::WindowMinimized, false);
    if (state != windowState())
        setWindowState(state);
    // Focus coming back from a window this one opened (its error report, the print dialog)
    // is no return to the window: searching again would raise a failed search's report
    // anew on every dismissal, and take the user off the page just printed.
    // With a start-up text a return searches again, for the identifier last searched: the
    // start-up text until the user searches another one, which it must not replace.
    if (!StartupSearchText.empty() && !FFocusOnOwnWindow)
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
    // FormClose: the window only hides; the program goes on.
    Guarded(this, [this] { ViewController->ChangeViewState(vsUnknown); });
    event->accept();
}

bool TLumivaneViewerForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == edImageId) {
        if (type == QEvent::KeyRelease) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!key->isAutoRepeat())
                Guarded(this, [this, k = key->key()] { edImageIdKeyUp(k); });
        }
        return false;
    }
    if (watched == tabImage) {
        if (type == QEvent::Enter)
            Guarded(this, [this] { tabImageMouseEnter(); });
        else if (type == QEvent::Resize)
            Guarded(this, [this] { tabImageResize(); });
        return false;
    }
    if (watched == loPageTurner) {
        if (type == QEvent::Resize || type == QEvent::LayoutRequest)
            loPageTurner->setMask(QRegion(loPageTurnerButtons->geometry()));
        return false;
    }
    if (watched == tabForImage && type == QEvent::Resize) {
        loPageTurner->setGeometry(0, 0, tabForImage->width(), 24);
        loPageTurner->setMask(QRegion(loPageTurnerButtons->geometry()));
        return false;
    }
    const bool onImage = watched == Image;
    if (!onImage && watched != tabForImage)
        return false;
    switch (type) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int delta =
            wheel->angleDelta().y() != 0 ? wheel->angleDelta().y() : wheel->angleDelta().x();
        Guarded(this, [this, delta] { ImageMouseWheel(delta); });
        // Handled once, whether the pointer is over the image or the page around it.
        wheel->accept();
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        FPressedOnImage = onImage;
        FPressedOnPage = !onImage;
        if (onImage) {
            const QPointF pos = Image->mapToParent(mouse->position());
            Guarded(this, [this, b = mouse->button(), pos] { ImageMouseDown(b, pos); });
        }
        return true;
    }
    case QEvent::MouseMove: {
        if (onImage) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const QPointF pos = Image->mapToParent(mouse->position());
            Guarded(this, [this, pos] { ImageMouseMove(pos); });
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (onImage)
            Guarded(this, [this] { ImageMouseUp(); });
        const bool click = mouse->button() == Qt::LeftButton && !FSuppressNextClick &&
                           (onImage ? FPressedOnImage : FPressedOnPage) &&
                           (onImage ? Image : static_cast<QWidget*>(tabForImage))
                               ->rect()
                               .contains(mouse->position().toPoint());
        FSuppressNextClick = false;
        FPressedOnImage = FPressedOnPage = false;
        if (click)
            Guarded(this, [this, onImage] { onImage ? ImageClick() : tabImageClick(); });
        return true;
    }
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            FSuppressNextClick = true;
            Guarded(this, [this, onImage] { onImage ? ImageDblClick() : tabImageDblClick(); });
        }
        return true;
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------
// Searching and showing

int TLumivaneViewerForm::ImageId() const {
    return cbxImageList->currentIndex() + 1;
}

TLumivaneImage TLumivaneViewerForm::SelectedImage() const {
    const int index = cbxImageList->currentIndex();
    if (index >= 0 && index < Count())
        return FImages[static_cast<std::size_t>(index)];
    TLumivaneImage empty;
    empty.New();
    return empty;
}

void TLumivaneViewerForm::NewImage(const std::string& ASearchText) {
    if (!ViewController->SearchTextIsValidForSearch(ASearchText))
        return;
    ClearImage();
    EnsureShown();
    LoadImageList(ASearchText);
    // Only a search that went through: a refused one is not searched again on a return.
    FLastSearchText = ASearchText;
    SelectImage(1);
}

void TLumivaneViewerForm::ShowForm() {
    RestoreFromMinimized();
    TOrlenzaForm::ShowForm();
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
    Image->SetBitmap(QImage());
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
    ViewController->ChangeViewState(vsIdle);
    FImages = ViewController->ImagesFor(edImageId->text().toStdString());

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
            const QSize current = FTopLayout->ItemSize(cbxImageList);
            if (current.width() < need)
                FTopLayout->SetItemSize(cbxImageList,
                                        {static_cast<int>(std::ceil(need)), current.height()});
        }
    }
    cbxImageList->setUpdatesEnabled(true);
}

void TLumivaneViewerForm::SelectImage(int AImageId) {
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
    ShowSelectedImage();
}

void TLumivaneViewerForm::ShowSelectedImage() {
    Image->hide();
    SetBusy(true);
    SetRotation(0);
    std::string file;
    try {
        const TLumivaneImage selected = SelectedImage();
        if (selected.IsEmpty()) {
            ShowNoImage();
        } else {
            file = selected.FullFileName();
            LoadImageFile(file);
            if (lvtrace::Enabled())
                lvtrace::Line("image shown " + file);
        }
        ViewController->ChangeViewState(vsOpen);
        FitImage(swFitToWidth->isChecked());
        UpdateTitle();
    } catch (...) {
        if (lvtrace::Enabled())
            lvtrace::Line("image failed to load " + file + ": " +
                          ErrorText(std::current_exception()).toStdString());
        ShowLoadError();
    }
    SetBusy(false);
    Image->show();
    CenterImage(Image->Bounds().size());
}

void TLumivaneViewerForm::LoadImageFile(const std::string& AFileName) {
    // Decoded no larger than it is drawn right after the fit; more detail is decoded when
    // the zoom asks for it (EnsureDetail).
    const bool fitToWidth = swFitToWidth->isChecked();
    const qreal dpr = devicePixelRatioF();
    TDecodedImage decoded = DecodeForDisplay(Q(AFileName), [&](QSize AFull) {
        lvgeometry::TFitResult fit;
        if (!lvgeometry::FitImage(AFull.width(), AFull.height(),
                                  static_cast<float>(tabImage->height()), width(), fitToWidth, fit))
            return AFull;
        const lvgeometry::TSizeF drawn =
            lvgeometry::AspectFit(fit.BaseWidth, fit.BaseHeight, AFull.width(), AFull.height());
        return DevicePixels(QSizeF(drawn.Width, drawn.Height), dpr);
    });
    Image->SetBitmap(std::move(decoded.image), decoded.fullSize);
    FBitmapFile = AFileName;
    FHasPicture = true;
    UpdatePrintEnabled();
}

void TLumivaneViewerForm::ShowNoImage() {
    Image->FillBitmap(kNoImageColor);
    FHasPicture = false;
    UpdatePrintEnabled();
}

void TLumivaneViewerForm::ShowLoadError() {
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
    const TLumivaneImage selected = SelectedImage();
    if (selected.IsEmpty()) {
        lblCurrentImageName->setText(QString());
        return;
    }
    lblCurrentImageName->setText(QStringLiteral("%1 %2 %3\r\n%4 of %5")
                                     .arg(Q(selected.DisplayName()),
                                          Q(selected.FormattedTimeStamp("mmm dd yyyy HH:nn")),
                                          QString())
                                     .arg(ImageId())
                                     .arg(Count()));
}

void TLumivaneViewerForm::UpdatePrintEnabled() {
    BtnPrint->setEnabled(FHasPicture && !Image->IsBitmapEmpty());
}

void TLumivaneViewerForm::CloseImageAndHide(void*) {
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
// Navigation and the identifier box

void TLumivaneViewerForm::btnNextClick() {
    if (ImageId() < Count())
        SelectImage(ImageId() + 1);
}

void TLumivaneViewerForm::btnBackClick() {
    if (ImageId() > 1)
        SelectImage(ImageId() - 1);
}

void TLumivaneViewerForm::cbxImageListChange() {
    SelectImage(ImageId());
}

void TLumivaneViewerForm::btnFormClick() {
    NewImage(edImageId->text().toStdString());
}

void TLumivaneViewerForm::edImageIdKeyUp(int AKey) {
    FLastKeyPress = QDateTime::currentDateTime();
    btnForm->setEnabled(
        ViewController->SearchTextIsValidForSearch(edImageId->text().toStdString()));
    if (btnForm->isEnabled() && (AKey == Qt::Key_Return || AKey == Qt::Key_Enter))
        NewImage(edImageId->text().toStdString());
}

void TLumivaneViewerForm::tabImageMouseEnter() {
    if (loPageTurnerButtons->height() < 10) {
        fanmPageTurnerHider->setDirection(QAbstractAnimation::Backward);
        fanmPageTurnerHider->start();
    }
}

void TLumivaneViewerForm::fanmPageTurnerHiderFinish() {
    loPageTurnerButtons->setVisible(fanmPageTurnerHider->direction() !=
                                    QAbstractAnimation::Backward);
}

// ---------------------------------------------------------------------------------------
// Printing

void TLumivaneViewerForm::BtnPrintClick() {
    if (!FHasPicture || Image->IsBitmapEmpty())
        return;
    if (!FPrinter)
        FPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    const bool confirmed = FPrintSetup ? FPrintSetup(*FPrinter, this) : [this] {
        QPrintDialog dialog(FPrinter.get(), this);
        dialog.setObjectName(QStringLiteral("PrintDialog1"));
        return dialog.exec() == QDialog::Accepted;
    }();
    if (!confirmed)
        return;
    // The shown bitmap may be reduced to the screen; the page gets the file's own detail,
    // up to what paper can show.
    QImage bitmap = Image->Bitmap();
    if (bitmap.size() != Image->FullSize() && !FBitmapFile.empty()) {
        const QSizeF inches = FPrinter->pageLayout().paintRect(QPageLayout::Inch).size();
        const QSize box(static_cast<int>(inches.width() * kPrintDotsPerInch),
                        static_cast<int>(inches.height() * kPrintDotsPerInch));
        try {
            bitmap = DecodeForDisplay(Q(FBitmapFile), box).image;
        } catch (const std::exception&) {
            // Print what is shown.
        }
    }
    PrintBitmap(*FPrinter, bitmap, Q(SelectedImage().Name));
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

void TLumivaneViewerForm::ImageMouseWheel(int AWheelDelta) {
    tbZoom->SetValue(lvgeometry::WheelZoom(static_cast<float>(tbZoom->Value()), AWheelDelta));
}

void TLumivaneViewerForm::RotateQuarterTurn() {
    arcdImageRotation->SetAngle(lvgeometry::NextQuarterTurn(arcdImageRotation->Angle()));
    Image->SetRotationAngle(arcdImageRotation->Angle());
}

void TLumivaneViewerForm::SetRotation(int AAngle) {
    arcdImageRotation->SetAngle(AAngle);
    Image->SetRotationAngle(AAngle);
}

void TLumivaneViewerForm::ImageClick() {
    RotateQuarterTurn();
}
void TLumivaneViewerForm::tabImageClick() {
    RotateQuarterTurn();
}
void TLumivaneViewerForm::ImageDblClick() {
    SetRotation(0);
}
void TLumivaneViewerForm::tabImageDblClick() {
    SetRotation(0);
}

void TLumivaneViewerForm::ImageMouseDown(Qt::MouseButton AButton, QPointF APosition) {
    FPanButton = AButton;
    if (AButton == Qt::RightButton) {
        Image->setCursor(Qt::PointingHandCursor);
        FPanAnchorX = static_cast<float>(APosition.x());
        FPanAnchorY = static_cast<float>(APosition.y());
    } else {
        FPanAnchorX = 0;
        FPanAnchorY = 0;
    }
}

void TLumivaneViewerForm::ImageMouseMove(QPointF APosition) {
    if (FPanButton != Qt::RightButton)
        return;
    // Anchors are in the page's coordinates, which do not move with the image, so the
    // picture follows the pointer step for step.
    const lvgeometry::TPanStep x =
        lvgeometry::PanAxis(FPanAnchorX, static_cast<float>(APosition.x()));
    const lvgeometry::TPanStep y =
        lvgeometry::PanAxis(FPanAnchorY, static_cast<float>(APosition.y()));
    FPanAnchorX = x.Anchor;
    FPanAnchorY = y.Anchor;
    if (x.Delta != 0 || y.Delta != 0) {
        FPanOffset += QPointF(x.Delta, y.Delta);
        Image->SetBounds(Image->Bounds().translated(x.Delta, y.Delta));
    }
}

void TLumivaneViewerForm::ImageMouseUp() {
    FPanAnchorX = 0;
    FPanAnchorY = 0;
    Image->unsetCursor();
}

void TLumivaneViewerForm::tabImageResize() {
    FitImage(false);
}

void TLumivaneViewerForm::EnsureDetail() {
    if (!FHasPicture || Image->IsBitmapEmpty() || FBitmapFile.empty())
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
    const QSize target = DevicePixels(QSizeF(drawn.Width, drawn.Height), dpr).expandedTo(needed);
    try {
        TDecodedImage decoded = DecodeForDisplay(Q(FBitmapFile), target);
        if (decoded.fullSize == full)
            Image->SetBitmap(std::move(decoded.image), decoded.fullSize);
    } catch (const std::exception&) {
        // The file changed or went away since it was shown: keep the picture as it is.
    }
}

// ---------------------------------------------------------------------------------------
// Placement

// The view controller keeps placements per host connection.
void TLumivaneViewerForm::RestorePlacement() {
    if (!ViewController)
        return;
    TQtPlacementWindow form(this);
    ViewController->LoadState(
        form, [this](const IPositionTrackerPtr& ATracker) { SetDefaultPlacement(ATracker); },
        [this](const IPositionTrackerPtr& ATracker) { ApplyCustomProperties(ATracker); });
}

void TLumivaneViewerForm::SavePlacement() {
    if (!ViewController)
        return;
    TQtPlacementWindow form(this);
    ViewController->SaveState(
        form, [this](const IPositionTrackerPtr& ATracker) { CollectCustomProperties(ATracker); });
}

void TLumivaneViewerForm::SetDefaultPlacement(const IPositionTrackerPtr&) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen ? screen->virtualGeometry() : QRect();
    move(0, 0);
    if (desktop.width() > 0 && desktop.height() > 0)
        resize(desktop.width() / 2, desktop.height() / 2);
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
