#include "viewer/ImageGeometry.h"

#include <algorithm>
#include <cmath>

namespace lvgeometry {

namespace {

// |cos| and |sin| of a turn in degrees, exact for quarter turns (cos 90 is not 0 in
// floating point, and a turned page must fit to the pixel).
void TurnExtent(double ADegrees, double& ACos, double& ASin) {
    const double a = NormalizeDialAngle(ADegrees);
    if (std::fmod(a, 90.0) == 0.0) {
        const bool quarter = std::fabs(a) == 90.0;
        ACos = quarter ? 0.0 : 1.0;
        ASin = quarter ? 1.0 : 0.0;
        return;
    }
    const double r = a * 3.14159265358979323846 / 180.0;
    ACos = std::fabs(std::cos(r));
    ASin = std::fabs(std::sin(r));
}

} // namespace

bool FitImage(int ABitmapWidth, int ABitmapHeight, float AAreaHeight, int AClientWidth,
              bool AFitToWidth, TFitResult& AResult, double ARotation) {
    if (ABitmapWidth <= 0 || ABitmapHeight <= 0)
        return false;
    double c = 1, s = 0;
    TurnExtent(ARotation, c, s);
    // The turned picture's extent on screen at its own size.
    const double spanW = ABitmapWidth * c + ABitmapHeight * s;
    const double spanH = ABitmapWidth * s + ABitmapHeight * c;
    // Never larger than its pixels; within the width always, within the height unless
    // the user asked for the width alone.
    double scale = std::min(1.0, std::max(0.0, static_cast<double>(AClientWidth)) / spanW);
    if (!AFitToWidth)
        scale = std::min(scale, std::max(0.0, static_cast<double>(AAreaHeight)) / spanH);
    TFitResult result;
    result.BaseWidth = static_cast<float>(ABitmapWidth * scale);
    result.BaseHeight = static_cast<float>(ABitmapHeight * scale);
    result.Left = static_cast<float>(AClientWidth - AClientWidth / 2.0);
    result.Top = static_cast<float>(AAreaHeight - AAreaHeight / 2.0);
    AResult = result;
    return true;
}

float ZoomFactor(float AZoom) {
    return AZoom * 3 + 1;
}

TSizeF ZoomedSize(float ABaseWidth, float ABaseHeight, float AZoom) {
    const float k = ZoomFactor(AZoom);
    return {k * ABaseWidth, k * ABaseHeight};
}

float WheelZoom(float AZoom, int AWheelDelta) {
    return std::clamp(AZoom + static_cast<float>(AWheelDelta) / 1000.0f, 0.0f, 1.0f);
}

double NormalizeDialAngle(double AAngle) {
    if (!std::isfinite(AAngle))
        return 0;
    double v = std::fmod(AAngle, 360.0);
    if (v <= -180)
        v += 360;
    else if (v > 180)
        v -= 360;
    return v;
}

int NextQuarterTurn(double ADialValue) {
    const double truncated = std::trunc(std::isfinite(ADialValue) ? ADialValue : 0.0);
    // The remainder keeps the sign of the dividend, as the rule asks.
    const int m = static_cast<int>(std::fmod(truncated, 360.0));
    int angle;
    if (m >= -100 && m <= -55)
        angle = 0;
    else if (m >= -54 && m <= 35)
        angle = 90;
    else if (m >= 36 && m <= 115)
        angle = 180;
    else if (m >= 116 && m <= 215)
        angle = 270;
    else if (m >= 216 && m <= 260)
        angle = 0;
    else
        angle = m + 100;
    return static_cast<int>(NormalizeDialAngle(angle));
}

TSizeF AspectFit(float ABoundsWidth, float ABoundsHeight, int ABitmapWidth, int ABitmapHeight) {
    if (ABitmapWidth <= 0 || ABitmapHeight <= 0 || ABoundsWidth <= 0 || ABoundsHeight <= 0)
        return {};
    const double s = std::min(static_cast<double>(ABoundsWidth) / ABitmapWidth,
                              static_cast<double>(ABoundsHeight) / ABitmapHeight);
    return {static_cast<float>(ABitmapWidth * s), static_cast<float>(ABitmapHeight * s)};
}

TPanStep PanAxis(float AAnchor, float APosition) {
    if (AAnchor > 0) {
        const float d = APosition - AAnchor;
        if (std::fabs(d) > PanThreshold)
            return {d, APosition};
    }
    return {0, AAnchor};
}

float PanLimit(float AExtent, float AArea) {
    return std::max(0.0f, (AExtent - AArea) / 2);
}

float ScrollAxis(float AOffset, float AStep, float AExtent, float AArea) {
    const float limit = PanLimit(AExtent, AArea);
    return std::clamp(AOffset - AStep, -limit, limit);
}

TSizeF TurnedExtent(float AWidth, float AHeight, double ARotation) {
    double c = 1, s = 0;
    TurnExtent(ARotation, c, s);
    return {static_cast<float>(AWidth * c + AHeight * s),
            static_cast<float>(AWidth * s + AHeight * c)};
}

} // namespace lvgeometry
