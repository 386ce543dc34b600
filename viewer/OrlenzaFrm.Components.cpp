// The viewer window's components: created, laid out, named and bound to their handlers.
#include "viewer/OrlenzaFrm.h"

#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"
#include "viewer/browse/ImageListModel.h"

#include <QApplication>
#include <QComboBox>
#include <QEasingCurve>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSequentialAnimationGroup>
#include <QTabBar>
#include <QTabWidget>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWindow>

#include <cmath>

using namespace lvform;

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
    // The window sets the list's width from its texts (MeasureImageList); the combo box
    // must not measure every row of a long list itself, nor lay out every row of its popup.
    cbxImageList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbxImageList->setModel(new TImageListModel(*FBrowse, cbxImageList));
    if (auto* rows = qobject_cast<QListView*>(cbxImageList->view()))
        rows->setUniformItemSizes(true);
    FMeasureWorker = new QThreadPool(this);
    FMeasureWorker->setObjectName(QStringLiteral("ListMeasureWorker"));
    FMeasureWorker->setMaxThreadCount(1); // one after another: they share what was measured
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
    bottomLayout->Add(loControls, TAlign::Right, {243, 40});
    auto* controlsLayout = new TAlignLayout(loControls);
    rectController = new TFilledRect(kControllerFill, loControls);
    rectController->setObjectName(QStringLiteral("rectController"));
    controlsLayout->Add(rectController, TAlign::Client, {235, 32}, {4, 4, 4, 4});
    auto* rectLayout = new TAlignLayout(rectController);
    // The zoom as a share of the picture's own pixels, in the title line's font.
    lblZoomPercent = new QLabel(rectController);
    lblZoomPercent->setObjectName(QStringLiteral("lblZoomPercent"));
    lblZoomPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblZoomPercent->setFont(lblCurrentImageName->font());
    lblZoomPercent->setToolTip(QStringLiteral("Zoom: share of the picture's own pixels "
                                              "(1 for 100 %, 0 for the fitted size)"));
    rectLayout->Add(lblZoomPercent, TAlign::Left, {44, 19}, {4, 0, 0, 0});
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
    // Still until there is something to wait for.
    AniIndicator1->SetRunning(false);
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
            [this](int AValue) { Guarded(this, [this, AValue] { TurnImage(AValue); }); });
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
    lblCurrentImageName->installEventFilter(this);
    tabImage->installEventFilter(this);
    tabForImage->installEventFilter(this);
    Image->installEventFilter(this);
    loPageTurner->installEventFilter(this);

    ttImageState->start();
}
