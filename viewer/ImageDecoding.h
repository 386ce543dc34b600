// ImageDecoding: turns an image file (TIFF, PNG, JPEG, or a container file whose content
// is one of those) into a bitmap the viewer can paint, at no more resolution than the
// caller needs. Scanned archives hold pages far larger than the screen (a 600 dpi colour
// A3 page is about 7000 x 9900 pixels, ~280 MB as a full 32-bit frame), so decoding
// reduces while it reads wherever the format allows it:
//   - JPEG: libjpeg-turbo's DCT scaling, at the smallest scale M/8 whose output covers
//     the target (so up to 1/8 of the full size larger than the target on each side);
//   - TIFF: libtiff row by row into a box filter (bilevel pages go straight from 1 bit
//     to 8-bit grey), so a full frame is never held;
//   - PNG: libpng row by row into the same box filter;
//   - anything else (GIF, BMP, ...): Qt's image readers, decoded whole and then reduced,
//     refused when the whole frame would not fit the memory budget.
// The file's kind is taken from its content, not its name.
//
// Pictures come upright by their stored orientation (TIFF orientation tag, EXIF in JPEG,
// eXIf in PNG, what Qt's readers report for the rest): every size here, given or returned,
// is in upright terms, with width and height swapped for a picture stored turned a quarter.
//
// Failures (missing or unreadable file, unknown format, corrupt or truncated data, an
// absurd declared size, a page that would not fit the memory budget) are thrown as
// std::runtime_error whose message names the file, the page of a multi-page file, and the
// reason, e.g. "scan.tif: the file is truncated or corrupt (Read error on strip 3)" or
// "invoice.tif, page 3: the file is truncated or corrupt (...)".
// All functions are reentrant: they may run on a worker thread.
#pragma once

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <functional>
#include <stdexcept>

struct TDecodedImage {
    // The pixels, aspect kept: no larger than the size asked for, except JPEG, which comes
    // at the DCT scale that first covers it (see above). Paint it scaled to the bounds.
    // Format_Grayscale8 for grey and bilevel sources, Format_RGB32 or Format_ARGB32
    // otherwise. Null when only the header was read.
    QImage image;
    // The page's own pixel size, upright. Geometry that depends on "the bitmap's own size"
    // (the fit rules of the viewer) must use this, not image.size().
    QSize fullSize;
    // Which page this is (0-based) and how many the file has (1 for single-page formats).
    int page = 0;
    int pageCount = 1;
    // The page's resolution, upright (x across, y down), from the TIFF resolution tags,
    // JPEG JFIF or EXIF density, or PNG pHYs. Empty when the file does not say.
    QSizeF dotsPerInch;

    bool IsReduced() const { return image.size() != fullSize; }
};

// The memory a decode may take when the caller does not say: the full frame of a large
// picture is never held, only rows, the reduced result and the codec's own buffers.
constexpr long long DefaultDecodeBudget = 256LL * 1024 * 1024;

struct TDecodeOptions {
    // 0-based page of a multi-page file (TIFF directories). Past the last page is an error.
    int Page = 0;
    // Polled between rows, strips and bands; once it reads true the decode stops and throws
    // TDecodeCancelled. Must outlive the call.
    const std::atomic<bool>* Cancel = nullptr;
    // Bytes the decode may allocate for pixels (the result, band and row buffers, the
    // codec's own). A decode that cannot keep within it is refused with an error saying so.
    long long MemoryBudget = DefaultDecodeBudget;
    // Threads a decode for display may run on, the calling one included: 0 lets a large
    // page use every core (TIFF strips and tiles decode independently), 1 keeps it on the
    // calling thread.
    int Threads = 0;
};

// Thrown when TDecodeOptions::Cancel was set during the decode. Derives from
// std::runtime_error, so code that reports load errors never lets it escape; catch it
// first to tell a superseded decode from a broken file.
class TDecodeCancelled : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The largest size that fits within ABox keeping AFull's proportions, never larger than
// AFull and never smaller than 1 x 1. An empty or invalid ABox means AFull itself.
QSize DecodeSizeWithin(QSize AFull, QSize ABox);

// Reads only the header: the file's own pixel size, upright (the same as the fullSize a
// decode reports). Throws like DecodeForDisplay.
QSize ReadImageSize(const QString& APath);

// How many pages the file has: the directories of a TIFF (also inside a container file),
// 1 for every other format. Throws like DecodeForDisplay when the file cannot be read.
int ReadPageCount(const QString& APath);

// Reads only the header of the page AOptions.Page: everything a decode reports except the
// pixels (image stays null). Cheap; lets the printer size a page from its resolution.
TDecodedImage ReadImageHeader(const QString& APath, const TDecodeOptions& AOptions = {});

// Decodes APath reduced to fit within ATargetSize (see DecodeSizeWithin; JPEG may come up
// to one DCT step larger). ATargetSize is the size the image is drawn at, in device pixels:
// for the first paint the fitted size (fast), and when the zoom asks for more detail, call
// again with the larger size (at most 4x the fit). An empty ATargetSize decodes at full
// size (refused when that frame alone is over the memory budget).
TDecodedImage DecodeForDisplay(const QString& APath, QSize ATargetSize);
TDecodedImage DecodeForDisplay(const QString& APath, QSize ATargetSize,
                               const TDecodeOptions& AOptions);

// As above, with the target computed from the page's own size once the header is read
// (one open of the file): ATargetFor(fullSize) returns the box to fit within. Lets a
// caller apply its fit rules, which depend on the image's proportions, before decoding.
TDecodedImage DecodeForDisplay(const QString& APath, const std::function<QSize(QSize)>& ATargetFor);
TDecodedImage DecodeForDisplay(const QString& APath, const std::function<QSize(QSize)>& ATargetFor,
                               const TDecodeOptions& AOptions);

// For the printer: decodes the page reduced to exactly DecodeSizeWithin(fullSize,
// ATargetSize) (JPEG included) and hands it over top to bottom in bands of ABandRows rows
// (the last may be shorter): AOnBand(band, top row of the band). The band is only valid
// during the call. Where the format streams rows (TIFF strips, PNG, JPEG, stored upright)
// no more than a band of the result is held at a time; otherwise (tiles, turned pages,
// interlaced PNG) the page is decoded in as few passes as the memory budget allows.
// Throws like DecodeForDisplay; an exception thrown by AOnBand passes through.
void DecodeInBands(const QString& APath, const TDecodeOptions& AOptions, QSize ATargetSize,
                   int ABandRows,
                   const std::function<void(const QImage& ABand, int ATop)>& AOnBand);

// Limits on a declared image size. Anything beyond is refused as absurd before any pixel
// memory is taken: no side over 65535 (the JPEG and practical TIFF limit), at most
// 600 megapixels (a 1200 dpi A2 scan is ~280 MP).
constexpr int MaxImageSide = 65535;
constexpr long long MaxImagePixels = 600LL * 1000 * 1000;
