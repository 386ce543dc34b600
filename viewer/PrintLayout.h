// PrintLayout: where a scanned page lands on a sheet of paper, as plain arithmetic. The
// printer, the preview and the tests all place pages through these functions, so what the
// preview shows and what the printer prints cannot drift apart. No toolkit types here:
// every rule is checked exactly from tables.
#pragma once

namespace lvprint {

// Which pages a job holds.
enum class TPrintPages {
    Shown, // the page shown in the window
    File,  // every page of the shown file
    List,  // every page of every file in the list, in list order
};

// How a page is sized on the sheet.
enum class TPrintSize {
    FitWidth, // as wide as the printable area, held to its height, at its top left
    FitPage,  // as large as the printable area allows, centred in it
    Actual,   // the scan's own size on paper, from its resolution, centred on the sheet
};

// Which way a sheet is fed.
enum class TPrintOrientation {
    Automatic, // landscape for a page wider than tall (after turning), else portrait
    Printer,   // as the printer settings say
};

struct TPrintOptions {
    TPrintPages Pages = TPrintPages::Shown;
    TPrintSize Size = TPrintSize::FitWidth;
    bool AsShown = true; // turned as on screen; false prints as stored
    TPrintOrientation Orientation = TPrintOrientation::Automatic;

    bool operator==(const TPrintOptions&) const = default;
};

// Resolution taken for a file that records none.
constexpr double AssumedDotsPerInch = 300;

struct TRect {
    double Left = 0;
    double Top = 0;
    double Width = 0;
    double Height = 0;

    bool IsEmpty() const { return !(Width > 0) || !(Height > 0); }
    bool operator==(const TRect&) const = default;
};

// One sheet as the printer sees it, in device pixels: the paper, and the printable area
// within it relative to the paper's top left corner.
struct TSheet {
    double PaperWidth = 0;
    double PaperHeight = 0;
    TRect Printable;
};

// One page of a scan: its pixel size as stored upright, its resolution (0 or less when the
// file records none), and the angle it is turned by, in degrees clockwise.
struct TPageSource {
    double PixelWidth = 0;
    double PixelHeight = 0;
    double DotsPerInchX = 0;
    double DotsPerInchY = 0;
    double Angle = 0;
};

// Where a page goes: Box is the bounding box of the turned picture on the paper (device
// pixels from the paper's top left); the unturned picture is drawn at PictureWidth x
// PictureHeight, centred in Box, turned by Angle. Empty when nothing sensible fits.
struct TPagePlacement {
    TRect Box;
    double PictureWidth = 0;
    double PictureHeight = 0;
    double Angle = 0;
};

// The page's size on paper in inches, unturned: pixels over resolution (each axis on its
// own, so a fax page of 204 x 98 dpi keeps its true proportions). A missing or absurd
// resolution counts as AssumedDotsPerInch.
double InchesWide(const TPageSource& APage);
double InchesHigh(const TPageSource& APage);
bool HasOwnResolution(const TPageSource& APage);

// The angle a page prints at: as shown, or 0 when printing as stored.
double PrintAngle(double AShownAngle, bool AAsShown);

// Whether the page, turned, is wider than tall.
bool IsLandscape(const TPageSource& APage);

// Places APage on ASheet by ASize, ADeviceDotsPerInch being the printer's resolution.
TPagePlacement PlacePage(const TPageSource& APage, const TSheet& ASheet, TPrintSize ASize,
                         double ADeviceDotsPerInch);

// The pixel size to decode a page at for a placement: what the printer can show (the
// picture's size in device pixels), never more than the file's own pixels, at least 1 x 1.
struct TPixelSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TPixelSize&) const = default;
};
TPixelSize DecodeSizeFor(const TPageSource& APage, const TPagePlacement& APlacement);

} // namespace lvprint
