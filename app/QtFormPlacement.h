// Placement of Qt windows: a top-level QWidget as an IPlacementWindow, and the screens and
// the main window as a TPlacementEnvironment. Saving and loading go through
// TPositionTracker (or the view controller) with a TQtPlacementWindow.
#pragma once

#include "positions/ScreenPositionTracker.h"

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <string>
#include <vector>

// A top-level QWidget as the tracker sees it: frameGeometry is the outer rectangle,
// geometry the client area, objectName the component name; its environment is the one of
// QtPlacementEnvironment(AMainWindow). AMainWindow is the program's main window, or null
// when there is none.
class TQtPlacementWindow : public IPlacementForm {
public:
    TQtPlacementWindow(QWidget* AWindow, const QWidget* AMainWindow);

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

// Displays in QGuiApplication::screens() order (available geometry as work area, geometry
// as bounds), the main window's outer geometry (none when AMainWindow is null), the local
// data folder and the program's title from its executable.
TPlacementEnvironment QtPlacementEnvironment(const QWidget* AMainWindow);

// The default placement: the window's outer frame at left 0 and top 0, its outer width
// and height half those of the whole desktop (the rectangle spanning all displays), each
// truncated. A window the window manager has not framed yet gets that outer size once it
// is framed.
void PlaceAtHalfDesktop(QWidget* AForm);

// The folder of the placement files and of the per-connection stores beside them
// (TTurnStore, TPrintOptionsStore): the local data folder, the program's title, "screen".
std::filesystem::path QtPlacementFolder();
