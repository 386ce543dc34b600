// Where the toolbar stands for a console placement: the arithmetic of docking, kept
// free of the window so it can be checked from a table.
#pragma once

#include "platform/WindowSystem.h"

#include <cstdint>

struct TToolbarDock {
    bool visible = false; // false: hide the toolbar and leave its position alone
    bool centred = false;
    std::int32_t top = 0;
    std::int32_t left = 0;
};

// The toolbar sits on the console's top edge: left-aligned inside the console's frame
// (2 x the frame width in), or centred over a console that restores to maximised.
// Halvings truncate toward zero, as integer division does.
inline TToolbarDock ToolbarDockFor(const lvplatform::WINDOWPLACEMENT& APlacement,
                                   std::int32_t AOuterHeight, std::int32_t AClientWidth,
                                   std::int32_t ABorderWidth, std::int32_t ALeftOffset = 0,
                                   std::int32_t ATopOffset = 0) {
    TToolbarDock dock;
    if (APlacement.showCmd == lvplatform::SW_HIDE ||
        APlacement.showCmd == lvplatform::SW_SHOWMINIMIZED)
        return dock;
    dock.visible = true;
    dock.centred = (APlacement.flags &
                    (lvplatform::WPF_SETMINPOSITION | lvplatform::WPF_RESTORETOMAXIMIZED)) != 0;
    const lvplatform::TPoint anchor =
        dock.centred
            ? APlacement.ptMaxPosition
            : lvplatform::TPoint{APlacement.rcNormalPosition.left, APlacement.rcNormalPosition.top};
    dock.top = anchor.y - AOuterHeight + ATopOffset;
    if (dock.centred) {
        const std::int32_t consoleWidth =
            APlacement.rcNormalPosition.right - APlacement.rcNormalPosition.left;
        dock.left = anchor.x + consoleWidth / 2 - AClientWidth / 2 + ALeftOffset;
    } else {
        dock.left = anchor.x + 2 * ABorderWidth + ALeftOffset;
    }
    return dock;
}
