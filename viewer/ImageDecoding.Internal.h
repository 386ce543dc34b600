// What the codec files of ImageDecoding share: the decode job (path, page, cancel, budget,
// where the rows go), the declared-size check, orientation, the box filters, the frame
// sink, and each codec's entry point. Not for use outside them.
#pragma once

#include "viewer/ImageDecoding.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace ImageDecodingDetail {

using TTargetFor = std::function<QSize(QSize)>;
using TOnBand = std::function<void(const QImage&, int)>;

// Throws the std::runtime_error every failure is: "name.ext: reason".
[[noreturn]] void Fail(const QString& APath, const QString& AReason);

// Where the passes of a band decode stand; the sink plans them on the first pass.
struct TBandPlan {
    int Passes = 1;
    int Pass = 0;
    int RowsPerPass = 0; // upright rows
};

// One decode: what is asked for, and where the rows go.
struct TDecodeJob {
    QString Path;
    TDecodeOptions Options;
    TTargetFor TargetFor;
    bool HeaderOnly = false;
    // Band delivery for the printer; empty for a display decode (one whole frame).
    int BandRows = 0;
    TOnBand OnBand;
    TBandPlan* Plan = nullptr;
    // Known once the codec has read the page count: messages name the page when there
    // are several.
    mutable int PageCount = 1;

    bool Bands() const { return static_cast<bool>(OnBand); }
    QSize TargetForFull(QSize AUprightFull) const;
    bool Cancelled() const;
    // Throws TDecodeCancelled when the caller asked to stop.
    void CheckCancel() const;
    [[noreturn]] void Fail(const QString& AReason) const;
    // Refuses a size with no pixels or beyond MaxImageSide / MaxImagePixels.
    void CheckDeclaredSize(QSize ASize) const;
    // Refuses working memory beyond the budget, naming what it was for.
    void CheckBudget(long long ABytes, const QString& AWhat) const;
};

struct TFileCloser {
    void operator()(std::FILE* AFile) const { std::fclose(AFile); }
};
using TFileHandle = std::unique_ptr<std::FILE, TFileCloser>;

// The file of a one-picture format (JPEG, PNG) opened for its codec; fails for any page
// but the first, and with the system's reason when the file cannot be opened.
TFileHandle OpenOnePictureFile(const TDecodeJob& AJob);

// ---- Orientation (ImageDecoding.Orientation.cpp) ----
//
// The TIFF/EXIF orientation, 1..8: where the stored first row and column belong in the
// upright picture. 1 is as stored; 5..8 turn it a quarter, so width and height swap.
// Decoders reduce in stored terms and turn the small result, never the full frame.
int ValidOrientation(long long AValue);
bool SwapsSides(int AOrientation);
QSize Upright(QSize AStored, int AOrientation);
QSizeF Upright(QSizeF AStored, int AOrientation);
// The caller fits the upright picture; the decoder reduces the stored one.
QSize StoredOut(QSize AStoredFull, int AOrientation, const TDecodeJob& AJob);
QImage ToUpright(QImage AImage, int AOrientation);
// The stored rectangle (of a stored frame of size AStored) that becomes upright rows
// [ATop, ATop + ACount).
QRect StoredRectOfUprightRows(QSize AStored, int AOrientation, int ATop, int ACount);

// What an EXIF block (a TIFF structure in memory: JPEG APP1, PNG eXIf) says. A cut or
// garbled block means as stored and no resolution.
struct TExifInfo {
    int Orientation = 1;
    QSizeF DotsPerInch;
};
TExifInfo ReadExif(const uint8_t* AData, size_t ASize);

// ---- Frame sink (ImageDecoding.Bands.cpp) ----
//
// Where reduced rows go, in stored terms, top to bottom: one frame for display (turned
// upright at the end), or bands for the printer. Rows outside the window of the current
// pass are not wanted: Line() gives nullptr and the producer skips the work.
class TFrameSink {
public:
    // AStoredOut: the reduced frame as stored; AFormat: Grayscale8, RGB32 or ARGB32.
    // ASequential: rows come top to bottom once (false: the producer needs all rows of the
    // window at once, AWorkPerPixel bytes a pixel beside the frame, as the interlaced PNG).
    TFrameSink(const TDecodeJob& AJob, QSize AStoredOut, QImage::Format AFormat, int AOrientation,
               bool ASequential = true, int AWorkPerPixel = 0);
    TFrameSink(const TFrameSink&) = delete;
    TFrameSink& operator=(const TFrameSink&) = delete;

    // The stored rectangle this pass keeps.
    QRect Window() const { return FWindow; }
    bool Wants(int AY) const { return AY >= FWindow.top() && AY <= FWindow.bottom(); }
    // Row AY of the stored frame to write (full width), or nullptr when it is not wanted.
    // For a display frame, threads may write distinct rows at once (Line and Done).
    uchar* Line(int AY);
    // Row AY is written.
    void Done(int AY);
    // All rows are in: the upright frame for display; bands are handed over and a null
    // image comes back.
    QImage Finish();

private:
    void EmitUpright(const QImage& AUpright, int ATop);

    const TDecodeJob& FJob;
    QSize FStoredOut;
    QImage::Format FFormat;
    int FOrientation;
    bool FStream = false; // bands straight from the rows (stored upright or mirrored)
    QRect FWindow;
    int FUprightTop = 0;
    QImage FStore;          // the window, or one band when streaming
    uchar* FBits = nullptr; // FStore's rows, taken once (scanLine() would detach each time)
    qsizetype FStride = 0;
    std::vector<uchar> FRow; // a full row when the window is narrower than the frame
    int FStoreTop = 0;
};

// ---- Box filters (ImageDecoding.BoxFilter.cpp) ----

// The sink format for 1 (grey), 3 (RGB) or 4 (RGBA) channels.
QImage::Format FormatForChannels(int AChannels);

// Source index i belongs to output bin i * out / in.
std::vector<int> BinOf(int AIn, int AOut);
// The first source index of output bin AOutIndex.
int BinStart(int AIn, int AOut, int AOutIndex);
std::vector<uint32_t> BinSizes(const std::vector<int>& ABins, int AOut);

// Box filter from 1-bit rows straight to 8-bit grey: counts the set bits of each output
// cell a byte at a time, skipping bytes with no set bits (the paper of a page).
class TBilevelReducer {
public:
    TBilevelReducer(int AWidth, int AHeight, TFrameSink& ASink, QSize AOut, bool AOneIsBlack);
    // Rows arrive top to bottom, MSB first, as libtiff gives them.
    void AddRow(const uint8_t* ABits);
    // Whether the next row would be thrown away (outside the sink's window): the caller may
    // skip converting it, not reading it.
    bool NextRowWanted() const;
    void Finish();
    // For a part of the page (one worker's rows): the next row given is ARow, which must
    // start an output row, and FinishPart writes the output rows begun since.
    void StartAt(int ARow);
    void FinishPart();

private:
    struct TSeg {
        int ox;
        uint8_t mask;
    };
    void Flush();

    int FWidth;
    int FHeight;
    bool FOneIsBlack;
    TFrameSink& FSink;
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
// bottom, into Grayscale8, RGB32 or ARGB32 rows of the sink.
class TSampleReducer {
public:
    TSampleReducer(int AWidth, int AHeight, int AChannels, TFrameSink& ASink, QSize AOut);
    void AddRow(const uint8_t* ASamples);
    bool NextRowWanted() const;
    void Finish();
    // As TBilevelReducer's.
    void StartAt(int ARow);
    void FinishPart();

private:
    void Flush();

    int FWidth;
    int FHeight;
    int FChannels;
    TFrameSink& FSink;
    std::vector<int> FXBin;
    std::vector<int> FRowBin;
    std::vector<uint64_t> FSums;
    std::vector<uint32_t> FColWidth;
    std::vector<uint32_t> FRowHeight;
    int FRow = 0;
    int FOutRow = -1;
    bool FRowWanted = true;
};

// Box filter for pixels that arrive in any order (the passes of an interlaced PNG): sums
// for every output pixel of the sink's window, written out at the end.
class TScatterReducer {
public:
    TScatterReducer(QSize AFull, int AChannels, TFrameSink& ASink, QSize AOut);
    // Whether any pixel of source row AY lands in the window.
    bool RowWanted(int AY) const;
    // Pixels of source row AY at columns AX0, AX0 + AStep, ... (ACount of them).
    void AddPixels(int AY, int AX0, int AStep, int ACount, const uint8_t* ASamples);
    void Finish();

    static int WorkBytesPerPixel(int AChannels) { return AChannels * 8; }

private:
    int FChannels;
    TFrameSink& FSink;
    QRect FWindow;
    std::vector<int> FXBin;
    std::vector<int> FYBin;
    std::vector<uint32_t> FColWidth;
    std::vector<uint32_t> FRowHeight;
    std::vector<uint64_t> FSums;
};

// ---- Codecs ----
// Each reads the page AJob asks for and returns its header facts (upright full size,
// page, page count, resolution) and, for a display decode, the reduced upright image.

TDecodedImage DecodeTiff(const TDecodeJob& AJob);
TDecodedImage DecodeJpeg(const TDecodeJob& AJob);
TDecodedImage DecodePng(const TDecodeJob& AJob);
// Anything else, through Qt's image readers.
TDecodedImage DecodeWithQt(const TDecodeJob& AJob);
// Page count without decoding (TIFF directories).
int TiffPageCount(const TDecodeJob& AJob);

} // namespace ImageDecodingDetail
