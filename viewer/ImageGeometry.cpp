#include "viewer/ImageGeometry.h"

#include <algorithm>
#include <cmath>

namespace lvgeometry {

bool FitImage(int ABitmapWidth, int ABitmapHeight, float AAreaHeight, int AClientWidth,
              bool AFitToWidth, TFitResult& AResult) {
    if (ABitmapWidth <= 0 || ABitmapHeight <= 0)
        return false;
    const double r = static_cast<double>(ABitmapWidth) / ABitmapHeight;
    TFitResult result;
    if (r < 1 && !AFitToWidth) {
        // Upright picture: as tall as the area; the bitmap's own width keeps it from
        // being drawn wider than its pixels.
        result.BaseWidth = static_cast<float>(r * ABitmapHeight);
        result.BaseHeight = AAreaHeight;
    } else {
        result.BaseWidth = static_cast<float>(AClientWidth);
        result.BaseHeight = static_cast<float>(ABitmapWidth / r);
    }
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

} // namespace lvgeometry
