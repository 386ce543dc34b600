#include "toolbar/LvToolBarFrm.h"

#include "toolbar/LvToolBarDock.h"
#include "toolbar/Orlenza.ToolBarController.h"

#include "platform/FolderWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPrintDialog>
#include <QPrinter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QSequentialAnimationGroup>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string S(const QString& text) {
    return text.toUtf8().toStdString();
}

// How long a click that activated the window may take to reach the save button.
constexpr int kActivationClickMs = 500;

// Counts a modal dialog of the window while it is open.
class TOwnDialog {
public:
    explicit TOwnDialog(int& ACount) : FCount(ACount) { ++FCount; }
    ~TOwnDialog() { --FCount; }
    TOwnDialog(const TOwnDialog&) = delete;
    TOwnDialog& operator=(const TOwnDialog&) = delete;

private:
    int& FCount;
};

// Both icons share one grid, outline and palette, so they sit together as a pair: the
// same 1 px dark outline, the same slate body, white paper/label, bottoms on one line.
const QColor kOutline(0x2E, 0x34, 0x40);
const QColor kBody(0x5B, 0x7D, 0xA8);
const QColor kPaper(0xF4, 0xF6, 0xF8);
const QColor kMetal(0xB8, 0xC2, 0xCC);

QPixmap BlankIcon(int ASize) {
    QPixmap pixmap(ASize, ASize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// The window system reports the console in its own pixels, while Qt places windows in
// units of devicePixelRatio pixels on a scaled desktop. Each screen's top-left corner is
// the same point in both.
lvplatform::WINDOWPLACEMENT InWindowUnits(const lvplatform::WINDOWPLACEMENT& APlacement) {
    const QPoint corner(APlacement.rcNormalPosition.left, APlacement.rcNormalPosition.top);
    const QScreen* screen = nullptr;
    for (const QScreen* candidate : QGuiApplication::screens()) {
        const QRect pixels(candidate->geometry().topLeft(),
                           candidate->geometry().size() * candidate->devicePixelRatio());
        if (pixels.contains(corner)) {
            screen = candidate;
            break;
        }
    }
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen || screen->devicePixelRatio() == 1.0)
        return APlacement;
    const qreal ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    auto x = [&](std::int32_t v) { return origin.x() + qRound((v - origin.x()) / ratio); };
    auto y = [&](std::int32_t v) { return origin.y() + qRound((v - origin.y()) / ratio); };
    lvplatform::WINDOWPLACEMENT p = APlacement;
    p.rcNormalPosition = {x(p.rcNormalPosition.left), y(p.rcNormalPosition.top),
                          x(p.rcNormalPosition.right), y(p.rcNormalPosition.bottom)};
    p.ptMaxPosition = {x(p.ptMaxPosition.x), y(p.ptMaxPosition.y)};
    p.ptMinPosition = {x(p.ptMinPosition.x), y(p.ptMinPosition.y)};
    return p;
}

} // namespace

namespace lvtoolbar {

QPixmap DiskIcon(int ASize) {
    QPixmap pixmap = BlankIcon(ASize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(ASize / 16.0, ASize / 16.0);
    QPen pen(kOutline, 1.0);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    // Body with the cut top-right corner of a diskette.
    QPainterPath body;
    body.moveTo(1.5, 1.5);
    body.lineTo(12.5, 1.5);
    body.lineTo(14.5, 3.5);
    body.lineTo(14.5, 14.5);
    body.lineTo(1.5, 14.5);
    body.closeSubpath();
    p.setBrush(kBody);
    p.drawPath(body);
    // Shutter.
    p.setBrush(kMetal);
    p.drawRect(QRectF(4.5, 1.5, 7, 4.5));
    p.setBrush(kOutline);
    p.drawRect(QRectF(9, 2.5, 1.5, 2.5));
    // Label.
    p.setBrush(kPaper);
    p.drawRect(QRectF(3.5, 8.5, 9, 6));
    p.setPen(QPen(kMetal, 0.8));
    p.drawLine(QPointF(5, 10.5), QPointF(11, 10.5));
    p.drawLine(QPointF(5, 12.5), QPointF(11, 12.5));
    return pixmap;
}

QPixmap PrinterIcon(int ASize) {
    QPixmap pixmap = BlankIcon(ASize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(ASize / 16.0, ASize / 16.0);
    QPen pen(kOutline, 1.0);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    // Paper going in.
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    // Body.
    p.setBrush(kBody);
    p.drawRoundedRect(QRectF(1.5, 5.5, 13, 6.5), 1.2, 1.2);
    p.setBrush(kMetal);
    p.drawEllipse(QPointF(12.2, 7.8), 0.8, 0.8);
    // Paper coming out, down to the same bottom line as the diskette.
    p.setBrush(kPaper);
    p.drawRect(QRectF(3.5, 9.5, 9, 5));
    p.setPen(QPen(kMetal, 0.8));
    p.drawLine(QPointF(5, 11.5), QPointF(11, 11.5));
    p.drawLine(QPointF(5, 13), QPointF(11, 13));
    return pixmap;
}

// ---- TSpeedButton ----------------------------------------------------------------

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setFocusPolicy(Qt::NoFocus); // speed buttons never take the focus
    setIconSize(QSize(16, 16));
}

void TSpeedButton::SetScaleX(qreal AValue) {
    if (qFuzzyCompare(FScaleX, AValue))
        return;
    FScaleX = AValue;
    update();
}

void TSpeedButton::paintEvent(QPaintEvent* event) {
    if (qFuzzyCompare(FScaleX, 1.0)) {
        QToolButton::paintEvent(event);
        return;
    }
    QStylePainter p(this);
    const qreal cx = width() / 2.0;
    p.translate(cx, 0);
    p.scale(FScaleX, 1.0);
    p.translate(-cx, 0);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    p.drawComplexControl(QStyle::CC_ToolButton, option);
}

} // namespace lvtoolbar

using lvtoolbar::DiskIcon;
using lvtoolbar::PrinterIcon;
using lvtoolbar::TSpeedButton;

// ---- the form ----------------------------------------------------------------------

TLvTerminalToolBarForm::TLvTerminalToolBarForm(QWidget* parent)
    : TOrlenzaForm(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("LvTerminalToolBarForm"));
    // The name the window manager lists it under: the program's, and which window it is.
    setWindowTitle(QString::fromUtf8(kToolbarTitle));
    // The strip reappears whenever its console is restored; the keyboard must stay with
    // the console the user just brought back. A click still activates the strip.
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The console usually has the keyboard; the buttons' tooltips show all the same.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    FSaveDialog = &RunSaveDialog;
    FPrinterDialog = &RunPrinterDialog;
    FCursorPosition = [] { return QCursor::pos(); };
    BuildLayout();

    // FormCreate
    FIsTracking = false;
    fBorderWidth = -1;
    ResetTracking();
    FitToWidth(kClientWidth); // the outer height is the client height
    LvTerminalToolBarForm = this;
    InstallControllerCallbacks();

    ttToolbarPosition = new QTimer(this);
    ttToolbarPosition->setObjectName(QStringLiteral("ttToolbarPosition"));
    ttToolbarPosition->setInterval(100);
    connect(ttToolbarPosition, &QTimer::timeout, this, [this] { ttToolbarPositionTimer(); });
    ttToolbarPosition->start();
    Guarded(this, [this] { UpdateToolTips(); });
}

TLvTerminalToolBarForm::~TLvTerminalToolBarForm() {
    if (LvTerminalToolBarForm == this)
        LvTerminalToolBarForm = nullptr;
    if (auto* controller = dynamic_cast<TLvToolbarController*>(ToolbarController.get()))
        controller->SetToolbarWindow(0);
}

void TLvTerminalToolBarForm::BuildLayout() {
    pnlTop = new QWidget(this);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));

    // Geometry comes from PlaceControls.
    edImageId = new QLineEdit(pnlTop);
    edImageId->setObjectName(QStringLiteral("edImageId"));
    edImageId->installEventFilter(this);

    BtnForm = new QPushButton(QStringLiteral("Form"), pnlTop);
    BtnForm->setObjectName(QStringLiteral("BtnForm"));
    BtnForm->installEventFilter(this); // its font and caption are measured
    connect(BtnForm, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { BtnFormClick(); }); });

    const QIcon disk(DiskIcon(32));
    const QIcon printer(PrinterIcon(32));

    sbtnSave = new TSpeedButton(pnlTop);
    sbtnSave->setObjectName(QStringLiteral("sbtnSave"));
    sbtnSave->setIcon(disk);
    sbtnSave->setText(QStringLiteral("1"));
    connect(sbtnSave, &QToolButton::clicked, this, [this] {
        if (FSwallowSaveClick) { // the activation already ran this click
            FSwallowSaveClick = false;
            return;
        }
        Guarded(this, [this] { sbtnSaveClick(); });
    });

    sbtnPrinter = new TSpeedButton(pnlTop);
    sbtnPrinter->setObjectName(QStringLiteral("sbtnPrinter"));
    sbtnPrinter->setIcon(printer);
    sbtnPrinter->setText(QStringLiteral("down"));
    connect(sbtnPrinter, &QToolButton::clicked, this,
            [this] { Guarded(this, [this] { sbtnPrinterClick(); }); });

    sbtnUpload = new TSpeedButton(pnlTop);
    sbtnUpload->setObjectName(QStringLiteral("sbtnUpload"));
    sbtnUpload->setText(QStringLiteral("up"));
    sbtnUpload->setToolButtonStyle(Qt::ToolButtonTextOnly);
    sbtnUpload->setVisible(false);

    sbtnDownload = new TSpeedButton(pnlTop);
    sbtnDownload->setObjectName(QStringLiteral("sbtnDownload"));
    sbtnDownload->setIcon(printer);
    sbtnDownload->setText(QStringLiteral("1"));
    sbtnDownload->setVisible(false);

    Circle1 = new TCircleShape(QColor::fromRgba(kConnectedColor), Qt::black, pnlTop);
    Circle1->SetStrokeThickness(1);
    Circle1->setObjectName(QStringLiteral("Circle1"));

    cbKeySet = new QComboBox(pnlTop);
    cbKeySet->setObjectName(QStringLiteral("cbKeySet"));
    cbKeySet->addItems({QStringLiteral("Keys: Application"), QStringLiteral("Keys: TCL"),
                        QStringLiteral("Keys: UNIX")});
    cbKeySet->setCurrentIndex(-1);
    cbKeySet->installEventFilter(this); // its font is measured
    connect(cbKeySet, &QComboBox::currentIndexChanged, this,
            [this] { Guarded(this, [this] { cbKeySetChange(); }); });

    btnExpander = new QPushButton(QStringLiteral("+"), pnlTop);
    btnExpander->setObjectName(QStringLiteral("btnExpander"));
    QFont expanderFont = btnExpander->font();
    expanderFont.setPointSize(20);
    btnExpander->setFont(expanderFont);
    btnExpander->setVisible(false);

    // The save button pulses while a capture runs: its width from 1.0 to 0.8 and back,
    // one second each way.
    fanSaveButton = new QSequentialAnimationGroup(this);
    fanSaveButton->setObjectName(QStringLiteral("fanSaveButton"));
    auto* squeeze = new QPropertyAnimation(sbtnSave, "scaleX", fanSaveButton);
    squeeze->setStartValue(1.0);
    squeeze->setEndValue(0.8);
    squeeze->setDuration(1000);
    auto* widen = new QPropertyAnimation(sbtnSave, "scaleX", fanSaveButton);
    widen->setStartValue(0.8);
    widen->setEndValue(1.0);
    widen->setDuration(1000);
    fanSaveButton->addAnimation(squeeze);
    fanSaveButton->addAnimation(widen);
    fanSaveButton->setLoopCount(-1);
}

// Horizontal room around the resizable controls: the margins of all controls, the two
// speed buttons and the circle (see the table of BuildLayout).
namespace {
constexpr int kFixedWidth = (2 + 4) + (2 + 0) + (2 + 22 + 2) + (6 + 22 + 2) + (0 + 4) + (20 + 4);
}

TLvTerminalToolBarForm::TWidths TLvTerminalToolBarForm::NeededWidths() const {
    // An eight-digit identifier in the box; the button's caption with its padding; the
    // longest key set with the list's arrow, as the style measures a combo box.
    QStyleOptionComboBox keys;
    keys.initFrom(cbKeySet);
    int longest = 0;
    for (int i = 0; i < cbKeySet->count(); ++i)
        longest =
            std::max(longest, cbKeySet->fontMetrics().horizontalAdvance(cbKeySet->itemText(i)));
    const QSize keysText(longest, cbKeySet->fontMetrics().height());
    return {edImageId->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 10,
            BtnForm->fontMetrics().horizontalAdvance(BtnForm->text()) + 12,
            cbKeySet->style()
                ->sizeFromContents(QStyle::CT_ComboBox, &keys, keysText, cbKeySet)
                .width()};
}

TLvTerminalToolBarForm::TWidths TLvTerminalToolBarForm::DesignedWidths() const {
    // The designed widths, or more where a font needs more.
    const TWidths need = NeededWidths();
    return {std::max(117, need.edit), std::max(80, need.button), std::max(128, need.keys)};
}

int TLvTerminalToolBarForm::MinimumStripWidth() const {
    const TWidths need = NeededWidths();
    return kFixedWidth + need.edit + need.button + need.keys;
}

TLvTerminalToolBarForm::TMeasured TLvTerminalToolBarForm::Measured() const {
    TMeasured measured{style(),
                       logicalDpiX(),
                       edImageId->font(),
                       BtnForm->font(),
                       cbKeySet->font(),
                       BtnForm->text(),
                       {}};
    for (int i = 0; i < cbKeySet->count(); ++i)
        measured.KeySets << cbKeySet->itemText(i);
    return measured;
}

void TLvTerminalToolBarForm::FitToWidth(int AAvailable) {
    if (AAvailable == FFittedFor && !FMeasureStale)
        return;
    FMeasureStale = false;
    TMeasured measured = Measured();
    if (AAvailable == FFittedFor && measured == FFitted)
        return;
    FFittedFor = AAvailable;
    FFitted = std::move(measured);
    const TWidths designed = DesignedWidths();
    const TWidths need = NeededWidths();
    const int natural = kFixedWidth + designed.edit + designed.button + designed.keys;
    const int width = std::clamp(AAvailable, std::min(MinimumStripWidth(), kClientWidth),
                                 std::max(natural, kClientWidth));
    TWidths widths = designed;
    int excess = natural - width; // what the controls must give up
    const int fromEdit = std::clamp(excess, 0, designed.edit - need.edit);
    widths.edit -= fromEdit;
    excess -= fromEdit;
    widths.button -= std::clamp(excess, 0, designed.button - need.button);
    if (size() != QSize(width, kClientHeight))
        setFixedSize(width, kClientHeight);
    PlaceControls(width, widths);
}

void TLvTerminalToolBarForm::PlaceControls(int AWidth, const TWidths& AWidths) {
    pnlTop->setGeometry(0, 0, AWidth, 26);
    // Left-aligned controls, each after the previous one's right margin plus its own
    // left margin; right-aligned ones the same way from the right edge.
    int x = 2;
    edImageId->setGeometry(x, 2, AWidths.edit, 22);
    x += AWidths.edit + 4 + 2;
    BtnForm->setGeometry(x, 2, AWidths.button, 22);
    x += AWidths.button + 0 + 2;
    sbtnSave->setGeometry(x, 0, 22, 26);
    x += 22 + 2 + 6;
    sbtnPrinter->setGeometry(x, 0, 22, 26);
    x += 22 + 2 + 2;
    sbtnUpload->setGeometry(x, 0, 22, 26);
    sbtnDownload->setGeometry(x + 22 + 2 + 6, 0, 22, 26);
    Circle1->setGeometry(AWidth - 4 - 20, 0, 20, 26);
    cbKeySet->setGeometry(Circle1->x() - 4 - AWidths.keys, 2, AWidths.keys, 22);
    btnExpander->setGeometry(AWidth - 16, 0, 16, 26);
}

void TLvTerminalToolBarForm::InstallControllerCallbacks() {
    if (!ToolbarController)
        return;
    // One guarded reference for all callbacks: the controller (and the monitor, which
    // keeps its own copy) may outlive this window.
    const QPointer<TLvTerminalToolBarForm> self(this);
    ToolbarController->SetOnTerminalWindowInfoReceived(
        [self](const lvplatform::WINDOWPLACEMENT& placement) {
            if (self)
                self->DockToConsole(placement);
        });
    ToolbarController->SetOnCheckCaptureState([self](TCaptureFileState state) {
        if (self)
            self->CheckCaptureState(state);
    });
    ToolbarController->SetOnSetPassThroughPrinterState(nullptr);
    ToolbarController->SetOnCheckKeyStateIndex([self](std::int32_t index) {
        if (self)
            self->CheckKeySetIndex(index);
    });
    if (auto* controller = dynamic_cast<TLvToolbarController*>(ToolbarController.get()))
        controller->SetOnExploreFolder(
            [](const std::filesystem::path& folder) { lvplatform::ExploreFolder(folder); });
}

bool TLvTerminalToolBarForm::ControllersAssigned() const {
    return ToolbarController && ViewController;
}

void TLvTerminalToolBarForm::ResetTracking() {
    FTrackingLeft = 0;
    FTrackingTop = 0;
    FLeftOffset = 0;
    fTopOffset = 0;
}

std::int32_t TLvTerminalToolBarForm::GetBorderWidth() const {
    return fBorderWidth >= 0 ? fBorderWidth : lvplatform::SystemFrameWidth();
}

// ---- ticks and docking -------------------------------------------------------------

void TLvTerminalToolBarForm::ttToolbarPositionTimer() {
    Guarded(this, [this] {
        if (!ToolbarController)
            return;
        ToolbarController->CheckState(this);
        Circle1->SetFillColor(QColor::fromRgba(
            ToolbarController->Connected() ? kConnectedColor : kNotConnectedColor));
        UpdateToolTips();
    });
}

void TLvTerminalToolBarForm::UpdateToolTips() {
    const TMemoryMappedControlFile* block =
        ToolbarController ? ToolbarController->ControlFile() : nullptr;
    auto set = [](QWidget* AWidget, const QString& AText) {
        if (AWidget->toolTip() != AText)
            AWidget->setToolTip(AText);
    };
    const QString captureFile = block ? Q(block->CaptureFileName()) : QString();
    const TCaptureFileState capture = block ? block->CaptureFileState() : cfsUnknown;
    if (capture == cfsCapturing)
        set(sbtnSave, QStringLiteral("Capturing the terminal to %1.\nClick to stop and open "
                                     "its folder.")
                          .arg(captureFile));
    else if (capture == cfsStartingCapture)
        set(sbtnSave, QStringLiteral("Starting to capture the terminal to %1; waiting for the "
                                     "host.")
                          .arg(captureFile));
    else
        set(sbtnSave, QStringLiteral("Capture the terminal to a file: not capturing now.\n"
                                     "Click to choose the file."));

    const QString printer = block ? Q(block->PassThroughPrinterName()) : QString();
    const QString printerNow =
        printer.isEmpty() ? QStringLiteral("none chosen") : QStringLiteral("now %1").arg(printer);
    set(sbtnPrinter,
        sbtnPrinter->isEnabled()
            ? QStringLiteral("Pass-through printer (%1).\nClick to choose the printer the "
                             "host prints to.")
                  .arg(printerNow)
            : QStringLiteral("Pass-through printer %1 sent to the host.").arg(printer));

    set(Circle1, ToolbarController && ToolbarController->Connected()
                     ? QStringLiteral("Connected: the host has given the image folders and "
                                      "pattern, so identifiers can be looked up.")
                     : QStringLiteral("Not connected: the host has not given the image "
                                      "folders and pattern yet."));

    set(BtnForm, BtnForm->isEnabled()
                     ? QStringLiteral("Show the images for the identifier in the viewer "
                                      "(Enter).")
                     : QStringLiteral("Show the images for the identifier in the viewer "
                                      "(Enter): type an identifier as long as the host's "
                                      "pattern first."));
}

void TLvTerminalToolBarForm::closeEvent(QCloseEvent* event) {
    // Closing the main window ends the program; a docking tick must not show it again
    // before the program has noticed it closed.
    ttToolbarPosition->stop();
    TOrlenzaForm::closeEvent(event);
}

void TLvTerminalToolBarForm::DockToConsole(const lvplatform::WINDOWPLACEMENT& APlacement) {
    fTopOffset = 0;
    const lvplatform::WINDOWPLACEMENT units = InWindowUnits(APlacement);
    // No wider than the console (on a scaled desktop the designed strip may be), kept
    // inside its frame on both sides.
    const bool centred =
        (units.flags & (lvplatform::WPF_SETMINPOSITION | lvplatform::WPF_RESTORETOMAXIMIZED)) != 0;
    const std::int32_t consoleWidth = units.rcNormalPosition.right - units.rcNormalPosition.left;
    if (units.showCmd != lvplatform::SW_HIDE && units.showCmd != lvplatform::SW_SHOWMINIMIZED &&
        consoleWidth > 0)
        FitToWidth(centred ? consoleWidth : consoleWidth - 4 * GetBorderWidth());
    const TToolbarDock dock = ToolbarDockFor(units, frameGeometry().height(), width(),
                                             GetBorderWidth(), FLeftOffset, fTopOffset);
    if (!dock.visible) {
        if (isVisible())
            hide();
        return;
    }
    // Position first, so the window manager maps the strip where it belongs.
    const QPoint current = pos();
    if (current.y() != dock.top || current.x() != dock.left)
        move(dock.left, dock.top);
    if (!isVisible())
        show();
}

void TLvTerminalToolBarForm::CheckCaptureState(TCaptureFileState AState) {
    switch (AState) {
    case cfsUnknown:
    case cfsNotCapturing:
        sbtnSave->setEnabled(true);
        sbtnSave->setChecked(false);
        sbtnSave->setCheckable(false);
        break;
    case cfsStartingCapture:
        sbtnSave->setEnabled(false);
        sbtnSave->setCheckable(true);
        sbtnSave->setChecked(true);
        break;
    case cfsCapturing:
        sbtnSave->setEnabled(true);
        sbtnSave->setCheckable(true);
        sbtnSave->setChecked(true);
        break;
    default: // a value the host should not write: leave the button as it is
        break;
    }
}

void TLvTerminalToolBarForm::CheckKeySetIndex(std::int32_t AIndex) {
    {
        const QSignalBlocker detached(cbKeySet);
        if (AIndex != cbKeySet->currentIndex() && AIndex >= -1 && AIndex < cbKeySet->count())
            cbKeySet->setCurrentIndex(AIndex);
    }
    cbKeySet->setEnabled(true);
}

// ---- user requests -----------------------------------------------------------------

std::optional<std::string> TLvTerminalToolBarForm::AskInOwnDialog(const TChooseText& ADialog) {
    const TOwnDialog open(FOwnDialogs);
    return ADialog ? ADialog(this) : std::nullopt;
}

void TLvTerminalToolBarForm::sbtnSaveClick() {
    if (ToolbarController && ToolbarController->IsCapturing()) {
        StopCapture();
        return;
    }
    if (const auto name = AskInOwnDialog(FSaveDialog))
        StartCapture(*name);
}

void TLvTerminalToolBarForm::StartCapture(const std::string& AFileName) {
    if (!ControllersAssigned())
        return;
    fanSaveButton->start();
    ToolbarController->StartCapturing(AFileName);
    sbtnSave->setEnabled(false);
    UpdateToolTips();
}

void TLvTerminalToolBarForm::StopCapture() {
    ToolbarController->StopCapturing();
    fanSaveButton->stop();
    sbtnSave->SetScaleX(1.0);
}

void TLvTerminalToolBarForm::sbtnPrinterClick() {
    if (const auto name = AskInOwnDialog(FPrinterDialog))
        ChangePrinter(*name);
}

void TLvTerminalToolBarForm::ChangePrinter(const std::string& APrinterName) {
    if (!ControllersAssigned())
        return;
    ToolbarController->ChangePassThroughPrinter(APrinterName);
    sbtnPrinter->setEnabled(false);
    UpdateToolTips();
}

void TLvTerminalToolBarForm::cbKeySetChange() {
    {
        // Detached while the list is changed below, and attached again on every path.
        const QSignalBlocker detached(cbKeySet);
        if (ToolbarController)
            ToolbarController->ChangeKeySet(cbKeySet->currentIndex());
        cbKeySet->setCurrentIndex(-1);
        cbKeySet->installEventFilter(this); // its font is measured
        cbKeySet->setEnabled(false);
    }
    edImageId->setFocus();
}

void TLvTerminalToolBarForm::edImageIdKeyUp(int AKey) {
    if (!ViewController)
        return;
    const std::string text = S(edImageId->text());
    BtnForm->setEnabled(ViewController->SearchTextIsValidForSearch(text));
    UpdateToolTips();
    if (BtnForm->isEnabled() && (AKey == Qt::Key_Return || AKey == Qt::Key_Enter))
        NewImage(text);
}

void TLvTerminalToolBarForm::BtnFormClick() {
    NewImage(S(edImageId->text()));
}

void TLvTerminalToolBarForm::SetSearchText(const std::string& ASearchText) {
    if (edImageId->hasFocus())
        return; // the user is typing: keep what they typed
    const QString text = Q(ASearchText);
    if (edImageId->text() != text)
        edImageId->setText(text);
}

void TLvTerminalToolBarForm::NewImage(const std::string& ASearchText) {
    if (ControllersAssigned())
        ViewController->ShowNewImage(ASearchText);
}

// ---- window events -----------------------------------------------------------------

void TLvTerminalToolBarForm::showEvent(QShowEvent* event) {
    TOrlenzaForm::showEvent(event);
    if (!event->spontaneous())
        Guarded(this, [this] { FormShow(); });
}

void TLvTerminalToolBarForm::FormShow() {
    ttToolbarPosition->start();
    // The strip belongs to the console: raised whenever the console is raised or activated.
    if (auto* controller = dynamic_cast<TLvToolbarController*>(ToolbarController.get()))
        controller->SetToolbarWindow(static_cast<lvplatform::TWindowHandle>(winId()));
    // Only the first showing opens the viewer for the start-up search text; later ones
    // come from the console being restored and must not bring a closed viewer back.
    if (FShownBefore)
        return;
    FShownBefore = true;
    if (!StartupSearchText.empty() && LumivaneViewerForm)
        LumivaneViewerForm->ShowForm();
}

bool TLvTerminalToolBarForm::ChangesMeasures(const QEvent* AEvent) {
    switch (AEvent->type()) {
    case QEvent::FontChange:
    case QEvent::ApplicationFontChange:
    case QEvent::StyleChange:
    case QEvent::ScreenChangeInternal:
    case QEvent::LanguageChange:
    case QEvent::LocaleChange:
        return true;
    default:
        return false;
    }
}

bool TLvTerminalToolBarForm::event(QEvent* event) {
    if (ChangesMeasures(event))
        FMeasureStale = true;
    if (event->type() == QEvent::WindowDeactivate) {
        FLostToOwnDialog = FOwnDialogs > 0;
    } else if (event->type() == QEvent::WindowActivate) {
        // Back from its own dialog with the pointer still over the save button, the
        // window would open the save dialog again and again.
        if (FLostToOwnDialog)
            FLostToOwnDialog = false;
        else
            Guarded(this, [this] { FormActivate(); });
    }
    return TOrlenzaForm::event(event);
}

void TLvTerminalToolBarForm::FormActivate() {
    ClickSaveIfUnderMouse();
}

void TLvTerminalToolBarForm::ClickSaveIfUnderMouse() {
    const QPointF local = mapFromGlobal(QPointF(FCursorPosition()));
    // Nearest whole number, ties to even (the default rounding mode).
    const long x = std::lrint(local.x());
    const long y = std::lrint(local.y());
    const QRectF bounds = sbtnSave->geometry(); // pnlTop's origin is the client origin
    const long left = std::lrint(bounds.left()), top = std::lrint(bounds.top());
    const long right = std::lrint(bounds.left() + bounds.width());
    const long bottom = std::lrint(bounds.top() + bounds.height());
    if (x < left || x >= right || y < top || y >= bottom)
        return;
    // On X11 the click that activated the window also reaches the button: it must not
    // run the save a second time.
    FSwallowSaveClick = true;
    QTimer::singleShot(kActivationClickMs, this, [this] { FSwallowSaveClick = false; });
    sbtnSaveClick();
}

bool TLvTerminalToolBarForm::eventFilter(QObject* watched, QEvent* event) {
    if (ChangesMeasures(event))
        FMeasureStale = true;
    if (watched == edImageId &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (event->type() == QEvent::KeyPress) {
            if (enter)
                FEnterPressedInEdit = true;
        } else if (!key->isAutoRepeat()) {
            // An Enter whose press closed a dialog is released here once the box has the
            // focus back; only an Enter pressed in the box asks for a search.
            const bool ours = !enter || std::exchange(FEnterPressedInEdit, false);
            if (ours)
                Guarded(this, [this, code = key->key()] { edImageIdKeyUp(code); });
        }
    }
    return TOrlenzaForm::eventFilter(watched, event);
}

// ---- dialogs -----------------------------------------------------------------------

std::optional<std::string> TLvTerminalToolBarForm::RunSaveDialog(QWidget* AParent) {
    QFileDialog dialog(AParent, QStringLiteral("Capture To Disk File"));
    dialog.setObjectName(QStringLiteral("sdCaptureToDiskFile"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return S(dialog.selectedFiles().first());
}

std::optional<std::string> TLvTerminalToolBarForm::RunPrinterDialog(QWidget* AParent) {
    QPrinter printer;
    QPrintDialog dialog(&printer, AParent);
    dialog.setObjectName(QStringLiteral("pdPassthroughPrinter"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    // Printing to a file names no printer; the host can pass nothing to it, and the one
    // choice of the run must not be spent on it.
    if (printer.outputFormat() != QPrinter::NativeFormat || printer.printerName().isEmpty())
        return std::nullopt;
    return S(printer.printerName());
}
