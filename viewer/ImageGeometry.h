// Image geometry of the viewer window as plain arithmetic: how a shown bitmap is fitted to
// the image area, zoomed, turned by quarter turns and panned. No toolkit types here, so
// every rule is checked exactly from tables and the window only applies the results.
#pragma once

namespace lvgeometry {

struct TSizeF {
    float Width = 0;
    float Height = 0;
};

// The image control's size at zoom 0 and the position FitImage gives it.
struct TFitResult {
    float BaseWidth = 0;
    float BaseHeight = 0;
    float Left = 0;
    float Top = 0;
};

// Sizes the image control for a bitmap shown in an image area `AAreaHeight` high inside a
// window `AClientWidth` wide, turned by `ARotation` degrees clockwise about its centre.
// Returns false (and leaves AResult alone) for an empty bitmap. The base size is the
// picture as drawn at zoom 0, in its own (unturned) orientation: scaled so the turned
// picture lies wholly inside the area (with fit-to-width, inside the window's width),
// and never larger than the bitmap's own pixels.
bool FitImage(int ABitmapWidth, int ABitmapHeight, float AAreaHeight, int AClientWidth,
              bool AFitToWidth, TFitResult& AResult, double ARotation = 0);

// Zoom factor of the track bar's value: 1 at 0, 4 at 1.
float ZoomFactor(float AZoom);
// The control's size at the track bar's value.
TSizeF ZoomedSize(float ABaseWidth, float ABaseHeight, float AZoom);
// The track bar's value after a mouse wheel turn (120 per common notch adds 0.12), kept
// within 0..1 as the track bar keeps it.
float WheelZoom(float AZoom, int AWheelDelta);

// The dial's stored value for an angle: brought into -180 < v <= 180 by whole turns.
double NormalizeDialAngle(double AAngle);
// The next quarter-turn angle for the dial's current value, already normalized
// (0 -> 90 -> 180 -> -90 -> 0; a dial turned by hand to -179..-101 moves 100 clockwise).
int NextQuarterTurn(double ADialValue);

// The size a bitmap is drawn at inside bounds, keeping its aspect ratio (enlarging or
// shrinking); 0 by 0 for an empty bitmap or empty bounds.
TSizeF AspectFit(float ABoundsWidth, float ABoundsHeight, int ABitmapWidth, int ABitmapHeight);

// One pan step on one axis. An anchor of 0 or less means no drag is under way. A pointer
// movement of more than the threshold moves the image by it and re-anchors; smaller
// movements change nothing, so a trembling hand does not shake the page.
struct TPanStep {
    float Delta = 0;
    float Anchor = 0;
};
constexpr float PanThreshold = 5;
TPanStep PanAxis(float AAnchor, float APosition);

// Scrolling a picture larger than its area. The offset is the picture's centre from the
// area's centre on one axis. A picture larger than the area may stand off-centre until
// its edge meets the area's edge, never further, so no gap opens; one that fits stays
// centred (limit 0).
float PanLimit(float AExtent, float AArea);
// The offset after scrolling the view by AStep (positive: further down or right, so the
// picture moves the other way), kept within the limit.
float ScrollAxis(float AOffset, float AStep, float AExtent, float AArea);
// The turned picture's extent on screen for a control of the given size.
TSizeF TurnedExtent(float AWidth, float AHeight, double ARotation);

} // namespace lvgeometry
