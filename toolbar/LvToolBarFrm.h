// TLvTerminalToolBarForm: the thin borderless strip docked on the host console's top
// edge. From it the user opens the viewer for an identifier, captures the terminal to a
// file, picks a pass-through printer and switches the key set; the circle shows whether
// the host has configured the viewer. It is the program's main window. Every request goes
// through ToolbarController (terminal) or ViewController (images); every 100 ms the
// toolbar controller's check docks it and refreshes the capture button and key set list.
#pragma once

#include "app/Orlenza.Form.h"
#include "app/SharedWidgets.h"
#include "controlfile/ImageViewer.LumivaneImageInformation.Intf.h"
#include "platform/WindowSystem.h"

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <QToolButton>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;
class QSequentialAnimationGroup;
class QTimer;

// The strip's own widget kinds, in a namespace of their own so they never meet the
// viewer window's widgets of similar names.
namespace lvtoolbar {

// A speed button: an icon-only tool button whose icon can be squeezed horizontally
// (the save button's pulse animates "scaleX").
class TSpeedButton : public QToolButton {
    Q_OBJECT
    Q_PROPERTY(qreal scaleX READ ScaleX WRITE SetScaleX)
public:
    explicit TSpeedButton(QWidget* parent = nullptr);
    qreal ScaleX() const { return FScaleX; }
    void SetScaleX(qreal AValue);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal FScaleX = 1.0;
};

// Icons of the button image list, drawn on one grid so they match side by side.
QPixmap DiskIcon(int ASize);
QPixmap PrinterIcon(int ASize);

} // namespace lvtoolbar

// The strip's window title.
inline constexpr char kToolbarTitle[] = "Lumivane Viewer toolbar";

// Indicator colours (ARGB).
constexpr QRgb kConnectedColor = 0xFF228B22;    // forest green
constexpr QRgb kNotConnectedColor = 0xFF808080; // grey

class TLvTerminalToolBarForm : public TOrlenzaForm {
    Q_OBJECT
public:
    explicit TLvTerminalToolBarForm(QWidget* parent = nullptr);
    ~TLvTerminalToolBarForm() override;

    void SetSearchText(const std::string& ASearchText) override;
    void NewImage(const std::string& ASearchText) override;
    void CheckCaptureState(TCaptureFileState AState);
    void CheckKeySetIndex(std::int32_t AIndex);
    std::int32_t GetBorderWidth() const;
    void DockToConsole(const lvplatform::WINDOWPLACEMENT& APlacement);

    // Modal dialogs, replaceable so tests can answer them. Each returns the chosen text
    // or nothing when the user cancelled.
    using TChooseText = std::function<std::optional<std::string>(QWidget* AParent)>;
    void SetSaveDialog(TChooseText ADialog) { FSaveDialog = std::move(ADialog); }
    void SetPrinterDialog(TChooseText APrinterDialog) {
        FPrinterDialog = std::move(APrinterDialog);
    }
    // The real dialogs.
    static std::optional<std::string> RunSaveDialog(QWidget* AParent);
    static std::optional<std::string> RunPrinterDialog(QWidget* AParent);
    // Where the pointer is, in screen coordinates (replaceable for tests).
    void SetCursorPosition(std::function<QPoint()> APosition) {
        FCursorPosition = std::move(APosition);
    }

    // The handlers, public so the start-up code and tests can run them as the toolkit does.
    void ttToolbarPositionTimer();
    void sbtnSaveClick();
    void sbtnPrinterClick();
    void cbKeySetChange();
    void BtnFormClick();
    void edImageIdKeyUp(int AKey);
    void ClickSaveIfUnderMouse();

    QTimer* ToolbarPositionTimer() const { return ttToolbarPosition; }
    QSequentialAnimationGroup* SaveButtonAnimation() const { return fanSaveButton; }

    // Layout of the strip: its designed size, and the least width its controls need.
    static constexpr int kClientWidth = 516;
    static constexpr int kClientHeight = 28;
    int MinimumStripWidth() const;
    // Lays the strip out for AAvailable window units: the designed layout when there is
    // room, else narrower down to MinimumStripWidth() (the identifier box gives way first,
    // then the Form button); no control ever narrower than its text needs.
    void FitToWidth(int AAvailable);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    struct TWidths {
        int edit;
        int button;
        int keys;
    };
    // What the text of each resizable control needs, and its designed width.
    TWidths NeededWidths() const;
    TWidths DesignedWidths() const;
    void PlaceControls(int AWidth, const TWidths& AWidths);
    // What the widths depend on besides the width offered: fonts, style, captions, key
    // sets. The docking tick fits the strip ten times a second; it measures text only when
    // this or the width changed.
    struct TMeasured {
        const QStyle* Style = nullptr;
        int Dpi = 0;
        QFont Edit, Button, Keys;
        QString Caption;
        QStringList KeySets;
        bool operator==(const TMeasured&) const = default;
    };
    TMeasured Measured() const;
    int FFittedFor = -1;
    TMeasured FFitted;
    // Set by the events that can change a measure (font, style, screen); the docking tick
    // then compares the measures once, instead of copying fonts and texts ten times a second.
    bool FMeasureStale = true;
    static bool ChangesMeasures(const QEvent* AEvent);
    void InstallControllerCallbacks();
    // The disk, printer, circle and Form buttons say what they do and how they stand.
    void UpdateToolTips();
    bool ControllersAssigned() const;
    void ResetTracking();
    void StartCapture(const std::string& AFileName);
    void StopCapture();
    void ChangePrinter(const std::string& APrinterName);
    void FormShow();
    void FormActivate();

    QWidget* pnlTop = nullptr;
    QLineEdit* edImageId = nullptr;
    QPushButton* BtnForm = nullptr;
    lvtoolbar::TSpeedButton* sbtnSave = nullptr;
    lvtoolbar::TSpeedButton* sbtnPrinter = nullptr;
    lvtoolbar::TSpeedButton* sbtnUpload = nullptr;
    lvtoolbar::TSpeedButton* sbtnDownload = nullptr;
    QComboBox* cbKeySet = nullptr;
    TCircleShape* Circle1 = nullptr;
    QPushButton* btnExpander = nullptr;
    QSequentialAnimationGroup* fanSaveButton = nullptr;
    QTimer* ttToolbarPosition = nullptr;

    bool FSlidingToolbar = false;
    std::int32_t FLeftOffset = 0;
    std::int32_t fTopOffset = 0;
    std::int32_t fBorderWidth = -1;
    bool FIsTracking = false;
    float FTrackingLeft = 0;
    float FTrackingTop = 0;

    // Runs a dialog of this window: the activation it takes is not the user's.
    std::optional<std::string> AskInOwnDialog(const TChooseText& ADialog);

    TChooseText FSaveDialog;
    TChooseText FPrinterDialog;
    std::function<QPoint()> FCursorPosition;
    // Set while a click that activated the window is still on its way to the save
    // button, which the activation already handled.
    bool FSwallowSaveClick = false;
    bool FShownBefore = false;
    // Dialogs of this window now open, and whether the window last lost the activation
    // to one of them: the activation it gets back when the dialog closes is no user's.
    int FOwnDialogs = 0;
    bool FLostToOwnDialog = false;
    // Whether the Enter now held down was pressed in edImageId.
    bool FEnterPressedInEdit = false;
};
