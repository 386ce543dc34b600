// ImageDecoding: turns an image file (TIFF, PNG, JPEG, or a container file whose content
// is one of those) into a bitmap the viewer can paint, at no more resolution than the
// caller needs. Scanned archives hold pages far larger than the screen (a 600 dpi colour
// A3 page is about 7000 x 9900 pixels, ~280 MB as a full 32-bit frame), so decoding
// reduces while it reads wherever the format allows it:
//   - JPEG: libjpeg-turbo's DCT scaling, at the smallest scale M/8 whose output covers
//     the target (so up to 1/8 of the full size larger than the target on each side);
//   - TIFF: libtiff row by row into a box filter (bilevel pages go straight from 1 bit
//     to 8-bit grey), so a full frame is never held;
//   - anything else (PNG, ...): Qt's image readers, decoded whole and then reduced.
// The file's kind is taken from its content, not its name.
//
// Pictures come upright by their stored orientation (TIFF orientation tag, EXIF in JPEG,
// eXIf in PNG, what Qt's readers report for the rest): every size here, given or returned,
// is in upright terms, with width and height swapped for a picture stored turned a quarter.
//
// Failures (missing or unreadable file, unknown format, corrupt or truncated data, an
// absurd declared size) are thrown as std::runtime_error whose message names the file and
// the reason, e.g. "scan.tif: the file is truncated or corrupt (Read error on strip 3)".
// All functions are reentrant: they may run on a worker thread.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

struct TDecodedImage {
    // The pixels, aspect kept: no larger than the size asked for, except JPEG, which comes
    // at the DCT scale that first covers it (see above). Paint it scaled to the bounds.
    // Format_Grayscale8 for grey and bilevel sources, Format_RGB32 or Format_ARGB32
    // otherwise.
    QImage image;
    // The file's own pixel size, upright. Geometry that depends on "the bitmap's own size" (the fit
    // rules of the viewer) must use this, not image.size().
    QSize fullSize;

    bool IsReduced() const { return image.size() != fullSize; }
};

// The largest size that fits within ABox keeping AFull's proportions, never larger than
// AFull and never smaller than 1 x 1. An empty or invalid ABox means AFull itself.
QSize DecodeSizeWithin(QSize AFull, QSize ABox);

// Reads only the header: the file's own pixel size, upright (the same as the fullSize a
// decode reports). Throws like DecodeForDisplay.
QSize ReadImageSize(const QString& APath);

// Decodes APath reduced to fit within ATargetSize (see DecodeSizeWithin; JPEG may come up
// to one DCT step larger). ATargetSize is the size the image is drawn at, in device pixels:
// for the first paint the fitted size (fast), and when the zoom asks for more detail, call
// again with the larger size (at most 4x the fit). An empty ATargetSize decodes at full
// size.
TDecodedImage DecodeForDisplay(const QString& APath, QSize ATargetSize);

// As above, with the target computed from the file's own size once the header is read
// (one open of the file): ATargetFor(fullSize) returns the box to fit within. Lets a
// caller apply its fit rules, which depend on the image's proportions, before decoding.
TDecodedImage DecodeForDisplay(const QString& APath, const std::function<QSize(QSize)>& ATargetFor);

// Limits on a declared image size. Anything beyond is refused as absurd before any pixel
// memory is taken: no side over 65535 (the JPEG and practical TIFF limit), at most
// 600 megapixels (a 1200 dpi A2 scan is ~280 MP).
constexpr int MaxImageSide = 65535;
constexpr long long MaxImagePixels = 600LL * 1000 * 1000;
