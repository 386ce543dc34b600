#include "viewer/PrintLayout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lvprint {

namespace {

// A resolution outside this range is a broken tag, not a scan.
constexpr double MinDotsPerInch = 10;
constexpr double MaxDotsPerInch = 100000;

bool UsableDpi(double ADpi) {
    return std::isfinite(ADpi) && ADpi >= MinDotsPerInch && ADpi <= MaxDotsPerInch;
}

bool Positive(double AValue) {
    return std::isfinite(AValue) && AValue > 0;
}

struct TTurnedSize {
    double Width = 0;
    double Height = 0;
};

// Bounding box of a W x H rectangle turned by AAngle degrees. Quarter turns are exact, so
// a turned A4 page is exactly A4 landscape and not a hair larger.
TTurnedSize Turned(double AWidth, double AHeight, double AAngle) {
    const double a = std::fmod(std::fmod(AAngle, 360.0) + 360.0, 360.0);
    if (a == 0 || a == 180) {
        return {AWidth, AHeight};
    }
    if (a == 90 || a == 270) {
        return {AHeight, AWidth};
    }
    const double r = a * std::numbers::pi / 180.0;
    const double c = std::abs(std::cos(r));
    const double s = std::abs(std::sin(r));
    return {AWidth * c + AHeight * s, AWidth * s + AHeight * c};
}

} // namespace

bool HasOwnResolution(const TPageSource& APage) {
    return UsableDpi(APage.DotsPerInchX) && UsableDpi(APage.DotsPerInchY);
}

double InchesWide(const TPageSource& APage) {
    return APage.PixelWidth / (HasOwnResolution(APage) ? APage.DotsPerInchX : AssumedDotsPerInch);
}

double InchesHigh(const TPageSource& APage) {
    return APage.PixelHeight / (HasOwnResolution(APage) ? APage.DotsPerInchY : AssumedDotsPerInch);
}

double PrintAngle(double AShownAngle, bool AAsShown) {
    return AAsShown && std::isfinite(AShownAngle) ? AShownAngle : 0.0;
}

bool IsLandscape(const TPageSource& APage) {
    if (!Positive(APage.PixelWidth) || !Positive(APage.PixelHeight)) {
        return false;
    }
    const TTurnedSize t = Turned(InchesWide(APage), InchesHigh(APage), APage.Angle);
    return t.Width > t.Height;
}

TPagePlacement PlacePage(const TPageSource& APage, const TSheet& ASheet, TPrintSize ASize,
                         double ADeviceDotsPerInch) {
    if (!Positive(APage.PixelWidth) || !Positive(APage.PixelHeight) ||
        !Positive(ADeviceDotsPerInch) || !Positive(ASheet.PaperWidth) ||
        !Positive(ASheet.PaperHeight) || !std::isfinite(APage.Angle)) {
        return {};
    }
    const double inchesW = InchesWide(APage);
    const double inchesH = InchesHigh(APage);
    const TTurnedSize turned = Turned(inchesW, inchesH, APage.Angle);

    // Device pixels per inch of the scan on paper.
    double scale = ADeviceDotsPerInch;
    TRect box;
    if (ASize == TPrintSize::Actual) {
        // Centred on the paper, not the printable area: an A4 scan on A4 paper lands
        // where it was scanned, and the printer's margins clip what they must.
        box.Width = turned.Width * scale;
        box.Height = turned.Height * scale;
        box.Left = (ASheet.PaperWidth - box.Width) / 2;
        box.Top = (ASheet.PaperHeight - box.Height) / 2;
    } else {
        const TRect& p = ASheet.Printable;
        if (p.IsEmpty() || !std::isfinite(p.Left) || !std::isfinite(p.Top) ||
            !std::isfinite(p.Width) || !std::isfinite(p.Height)) {
            return {};
        }
        scale = std::min(p.Width / turned.Width, p.Height / turned.Height);
        box.Width = turned.Width * scale;
        box.Height = turned.Height * scale;
        if (ASize == TPrintSize::FitPage) {
            box.Left = p.Left + (p.Width - box.Width) / 2;
            box.Top = p.Top + (p.Height - box.Height) / 2;
        } else {
            box.Left = p.Left;
            box.Top = p.Top;
        }
    }
    if (box.IsEmpty()) {
        return {};
    }
    return {box, inchesW * scale, inchesH * scale, APage.Angle};
}

TPixelSize DecodeSizeFor(const TPageSource& APage, const TPagePlacement& APlacement) {
    if (!Positive(APage.PixelWidth) || !Positive(APage.PixelHeight) ||
        !Positive(APlacement.PictureWidth) || !Positive(APlacement.PictureHeight)) {
        return {1, 1};
    }
    // The file's proportions, as much detail as either axis of the picture can show.
    const double k = std::min(1.0, std::max(APlacement.PictureWidth / APage.PixelWidth,
                                            APlacement.PictureHeight / APage.PixelHeight));
    const auto side = [k](double APixels) {
        return static_cast<int>(std::clamp(std::ceil(APixels * k - 1e-9), 1.0, APixels));
    };
    return {side(APage.PixelWidth), side(APage.PixelHeight)};
}

} // namespace lvprint
