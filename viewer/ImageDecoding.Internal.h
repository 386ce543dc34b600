// What the codec files of ImageDecoding share: the error helper, the declared-size check,
// orientation, the box filters, and each codec's entry point. Not for use outside them.
#pragma once

#include "viewer/ImageDecoding.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace ImageDecodingDetail {

using TTargetFor = std::function<QSize(QSize)>;

// Throws the std::runtime_error every failure is: "name.ext: reason".
[[noreturn]] void Fail(const QString& APath, const QString& AReason);

// Refuses a size with no pixels or beyond MaxImageSide / MaxImagePixels.
void CheckDeclaredSize(const QString& APath, QSize ASize);

// ---- Orientation (ImageDecoding.Orientation.cpp) ----
//
// The TIFF/EXIF orientation, 1..8: where the stored first row and column belong in the
// upright picture. 1 is as stored; 5..8 turn it a quarter, so width and height swap.
// Decoders reduce in stored terms and turn the small result, never the full frame.
int ValidOrientation(long long AValue);
bool SwapsSides(int AOrientation);
QSize Upright(QSize AStored, int AOrientation);
// The caller fits the upright picture; the decoder reduces the stored one.
QSize StoredOut(QSize AStoredFull, int AOrientation, const TTargetFor& ATargetFor);
QImage ToUpright(QImage AImage, int AOrientation);
// The orientation tag of a TIFF structure held in memory (an EXIF block, a PNG eXIf
// chunk); a cut or garbled block means 1.
int ExifOrientation(const uint8_t* AData, size_t ASize);

// ---- Box filters (ImageDecoding.BoxFilter.cpp) ----

// Source index i belongs to output bin i * out / in.
std::vector<int> BinOf(int AIn, int AOut);
std::vector<uint32_t> BinSizes(const std::vector<int>& ABins, int AOut);

// Box filter from 1-bit rows straight to 8-bit grey: counts the set bits of each output
// cell a byte at a time, skipping bytes with no set bits (the paper of a page).
class TBilevelReducer {
public:
    TBilevelReducer(int AWidth, int AHeight, QSize AOut, bool AOneIsBlack);
    // Rows arrive top to bottom, MSB first, as libtiff gives them.
    void AddRow(const uint8_t* ABits);
    QImage Take();

private:
    struct TSeg {
        int ox;
        uint8_t mask;
    };
    void Flush();

    int FWidth;
    int FHeight;
    bool FOneIsBlack;
    QImage FImage;
    std::vector<uint32_t> FCounts;
    std::vector<float> FColScale;
    std::vector<int> FRowBin;
    std::vector<uint32_t> FRowHeight;
    std::vector<TSeg> FSegs;
    std::vector<uint32_t> FSegBegin;
    int FRow = 0;
    int FOutRow = -1;
};

// Box filter for 8-bit samples, 1 (grey), 3 (RGB) or 4 (RGBA) per pixel, rows top to
// bottom. Output: Grayscale8, RGB32 or ARGB32.
class TSampleReducer {
public:
    TSampleReducer(int AWidth, int AHeight, int AChannels, QSize AOut);
    void AddRow(const uint8_t* ASamples);
    QImage Take();

private:
    void Flush();

    int FWidth;
    int FHeight;
    int FChannels;
    QImage FImage;
    std::vector<int> FXBin;
    std::vector<int> FRowBin;
    std::vector<uint64_t> FSums;
    std::vector<uint32_t> FColWidth;
    std::vector<uint32_t> FRowHeight;
    int FRow = 0;
    int FOutRow = -1;
};

// ---- Codecs ----
// Each returns the upright full size and, unless AHeaderOnly, the reduced upright image.

TDecodedImage DecodeTiff(const QString& APath, const TTargetFor& ATargetFor, bool AHeaderOnly);
TDecodedImage DecodeJpeg(const QString& APath, const TTargetFor& ATargetFor, bool AHeaderOnly);
// Anything else, through Qt's image readers.
TDecodedImage DecodeWithQt(const QString& APath, const TTargetFor& ATargetFor, bool AHeaderOnly);

} // namespace ImageDecodingDetail
