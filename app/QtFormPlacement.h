// Placement of Qt windows: a top-level QWidget as an IPlacementWindow, the screens and
// the main window as a TPlacementEnvironment, and the save/load entry points for Qt code.
#pragma once

#include "positions/ScreenPositionTracker.h"

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <string>
#include <vector>

// A top-level QWidget as the tracker sees it: frameGeometry is the outer rectangle,
// geometry the client area, objectName the component name; its environment is the one of
// QtPlacementEnvironment(AMainWindow).
class TQtPlacementWindow : public IPlacementForm {
public:
    explicit TQtPlacementWindow(QWidget* AWindow, const QWidget* AMainWindow = nullptr);

    TPlacementEnvironment PlacementEnvironment() const override;

    std::string ComponentName() const override;
    int Left() const override;
    int Top() const override;
    int Width() const override;
    int Height() const override;
    int ClientWidth() const override;
    int ClientHeight() const override;
    TWindowState WindowState() const override;
    bool FullScreen() const override;
    void SetDesignedPosition() override;
    void SetPosition(int ALeft, int ATop) override;
    // Outer size. Before the window manager has framed the window its frame is unknown,
    // so the outer size is applied again once the frame is known.
    void SetSize(int AWidth, int AHeight) override;
    void SetWindowState(TWindowState AState) override;
    void SetFullScreen(bool AFullScreen) override;

private:
    QPointer<QWidget> FWindow;
    QPointer<const QWidget> FMainWindow;
};

// The displays in QGuiApplication::screens() order: available geometry as work area,
// geometry as bounds.
std::vector<TPlacementDisplay> QtPlacementDisplays();

// Displays, the main window's outer geometry (AMainWindow, else the toolbar window
// LvTerminalToolBarForm when it is a widget, else none), the local data folder and the
// program's title from its executable.
TPlacementEnvironment QtPlacementEnvironment(const QWidget* AMainWindow = nullptr);

// The default placement: the window's outer frame at left 0 and top 0, its outer width
// and height half those of the whole desktop (the rectangle spanning all displays), each
// truncated. A window the window manager has not framed yet gets that outer size once it
// is framed.
void PlaceAtHalfDesktop(QWidget* AForm);

// The folder of the placement files and of the per-connection stores beside them
// (TTurnStore, TPrintOptionsStore): the local data folder, the program's title, "screen".
std::filesystem::path QtPlacementFolder();

// TPositionTracker::SaveFormPosition / LoadFormPosition for a Qt window.
void SaveFormPosition(QWidget* AForm, const std::string& ATargetName,
                      const TPositionTrackerEvent& AOnCustomProperties,
                      const QWidget* AMainWindow = nullptr);
void LoadFormPosition(QWidget* AForm, const std::string& ATargetName,
                      const TPositionTrackerEvent& AOnDefault,
                      const TPositionTrackerEvent& AOnCustomProperties,
                      const QWidget* AMainWindow = nullptr);
