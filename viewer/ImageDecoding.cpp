#include "viewer/ImageDecoding.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTransform>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>
// jerror.h after jpeglib.h: it needs its types and gives the message codes.
#include <jerror.h>
#include <tiffio.h>

namespace {

[[noreturn]] void Fail(const QString& APath, const QString& AReason) {
    throw std::runtime_error((QFileInfo(APath).fileName() + ": " + AReason).toStdString());
}

void CheckDeclaredSize(const QString& APath, QSize ASize) {
    if (ASize.width() <= 0 || ASize.height() <= 0) {
        Fail(APath, QStringLiteral("the image declares no pixels (%1 x %2)")
                        .arg(ASize.width())
                        .arg(ASize.height()));
    }
    if (ASize.width() > MaxImageSide || ASize.height() > MaxImageSide ||
        static_cast<long long>(ASize.width()) * ASize.height() > MaxImagePixels) {
        Fail(APath, QStringLiteral("the declared size of %1 x %2 pixels is too large")
                        .arg(ASize.width())
                        .arg(ASize.height()));
    }
}

// ---- Orientation ----------------------------------------------------------------------
//
// The TIFF/EXIF orientation, 1..8: where the stored first row and column belong in the
// upright picture. 1 is as stored; 5..8 turn it a quarter, so width and height swap.
// Decoders reduce in stored terms and turn the small result, never the full frame.

int ValidOrientation(long long AValue) {
    return AValue >= 1 && AValue <= 8 ? static_cast<int>(AValue) : 1;
}

bool SwapsSides(int AOrientation) {
    return AOrientation >= 5;
}

QSize Upright(QSize AStored, int AOrientation) {
    return SwapsSides(AOrientation) ? AStored.transposed() : AStored;
}

// The caller fits the upright picture; the decoder reduces the stored one. The size rule is
// symmetric, so the turned result has exactly the size the upright box asks for.
QSize StoredOut(QSize AStoredFull, int AOrientation,
                const std::function<QSize(QSize)>& ATargetFor) {
    const QSize box = ATargetFor(Upright(AStoredFull, AOrientation));
    return DecodeSizeWithin(AStoredFull, SwapsSides(AOrientation) ? box.transposed() : box);
}

QImage ToUpright(QImage AImage, int AOrientation) {
    switch (AOrientation) {
    case 2:
        return AImage.mirrored(true, false);
    case 3:
        return AImage.mirrored(true, true);
    case 4:
        return AImage.mirrored(false, true);
    case 5: // transposed: the stored first row is the upright first column
        return AImage.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6: // taken turned a quarter counter-clockwise: turn it clockwise
        return AImage.transformed(QTransform().rotate(90));
    case 7:
        return AImage.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8:
        return AImage.transformed(QTransform().rotate(270));
    default:
        return AImage;
    }
}

// The orientation tag of a TIFF structure held in memory (the body of an EXIF block or of
// a PNG eXIf chunk), from the first directory. Everything is read within ASize: a cut or
// garbled block means 1, as stored.
int ExifOrientation(const uint8_t* AData, size_t ASize) {
    if (!AData || ASize < 8) {
        return 1;
    }
    bool little;
    if (AData[0] == 'I' && AData[1] == 'I') {
        little = true;
    } else if (AData[0] == 'M' && AData[1] == 'M') {
        little = false;
    } else {
        return 1;
    }
    const auto u16 = [&](size_t AAt) {
        return little ? static_cast<uint32_t>(AData[AAt] | AData[AAt + 1] << 8)
                      : static_cast<uint32_t>(AData[AAt] << 8 | AData[AAt + 1]);
    };
    const auto u32 = [&](size_t AAt) {
        return little ? u16(AAt) | u16(AAt + 2) << 16 : u16(AAt) << 16 | u16(AAt + 2);
    };
    if (u16(2) != 42) {
        return 1;
    }
    const uint64_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > ASize) {
        return 1;
    }
    const uint32_t entries = u16(static_cast<size_t>(ifd));
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t at = ifd + 2 + 12 * i;
        if (at + 12 > ASize) {
            return 1;
        }
        const auto entry = static_cast<size_t>(at);
        constexpr uint32_t OrientationTag = 0x0112;
        constexpr uint32_t TypeShort = 3;
        if (u16(entry) == OrientationTag) {
            return u16(entry + 2) == TypeShort && u32(entry + 4) >= 1
                       ? ValidOrientation(u16(entry + 8))
                       : 1;
        }
    }
    return 1;
}

enum class TFileKind { Jpeg, Tiff, Other };

// The kind comes from the first bytes, so container files and misnamed files take the
// decoder their content needs.
TFileKind SniffKind(const QString& APath) {
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(APath, QStringLiteral("cannot open the file (%1)").arg(file.errorString()));
    }
    const QByteArray head = file.read(4);
    if (head.size() >= 3 && static_cast<unsigned char>(head[0]) == 0xFF &&
        static_cast<unsigned char>(head[1]) == 0xD8 &&
        static_cast<unsigned char>(head[2]) == 0xFF) {
        return TFileKind::Jpeg;
    }
    if (head.size() == 4 && ((head.startsWith("II") && head[2] == 42 && head[3] == 0) ||
                             (head.startsWith("MM") && head[2] == 0 && head[3] == 42) ||
                             (head.startsWith("II") && head[2] == 43 && head[3] == 0) ||
                             (head.startsWith("MM") && head[2] == 0 && head[3] == 43))) {
        return TFileKind::Tiff;
    }
    return TFileKind::Other;
}

// Source index i belongs to output bin i * out / in: every source pixel counts exactly
// once and every bin gets at least one pixel when out <= in.
std::vector<int> BinOf(int AIn, int AOut) {
    std::vector<int> bins(static_cast<size_t>(AIn));
    for (int i = 0; i < AIn; ++i) {
        bins[static_cast<size_t>(i)] = static_cast<int>(static_cast<long long>(i) * AOut / AIn);
    }
    return bins;
}

std::vector<uint32_t> BinSizes(const std::vector<int>& ABins, int AOut) {
    std::vector<uint32_t> sizes(static_cast<size_t>(AOut), 0);
    for (int b : ABins) {
        ++sizes[static_cast<size_t>(b)];
    }
    return sizes;
}

// Bits set in each byte value. A table, since std::popcount without a CPU baseline that
// has the instruction becomes a library call per byte.
constexpr auto BitsSet = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        table[v] = static_cast<uint8_t>(std::popcount(v));
    }
    return table;
}();

// Box filter from 1-bit rows straight to 8-bit grey: counts the set bits of each output
// cell a byte at a time, skipping bytes with no set bits (the paper of a page).
class TBilevelReducer {
public:
    TBilevelReducer(int AWidth, int AHeight, QSize AOut, bool AOneIsBlack)
        : FWidth(AWidth), FHeight(AHeight), FOneIsBlack(AOneIsBlack),
          FImage(AOut, QImage::Format_Grayscale8), FCounts(static_cast<size_t>(AOut.width()), 0) {
        if (FImage.isNull()) {
            throw std::bad_alloc();
        }
        const std::vector<int> xbin = BinOf(AWidth, AOut.width());
        for (uint32_t width : BinSizes(xbin, AOut.width())) {
            FColScale.push_back(255.0f / static_cast<float>(width));
        }
        FRowBin = BinOf(AHeight, AOut.height());
        FRowHeight = BinSizes(FRowBin, AOut.height());
        const int bytes = (AWidth + 7) / 8;
        FSegBegin.reserve(static_cast<size_t>(bytes) + 1);
        for (int bx = 0; bx < bytes; ++bx) {
            FSegBegin.push_back(static_cast<uint32_t>(FSegs.size()));
            for (int bit = 0; bit < 8; ++bit) {
                const int x = bx * 8 + bit;
                if (x >= AWidth) {
                    break;
                }
                const int ox = xbin[static_cast<size_t>(x)];
                const auto mask = static_cast<uint8_t>(0x80u >> bit);
                if (FSegs.size() > FSegBegin.back() && FSegs.back().ox == ox) {
                    FSegs.back().mask = static_cast<uint8_t>(FSegs.back().mask | mask);
                } else {
                    FSegs.push_back({ox, mask});
                }
            }
        }
        FSegBegin.push_back(static_cast<uint32_t>(FSegs.size()));
    }

    // Rows arrive top to bottom, MSB first, as libtiff gives them.
    void AddRow(const uint8_t* ABits) {
        const int oy = FRowBin[static_cast<size_t>(FRow)];
        if (oy != FOutRow) {
            Flush();
            FOutRow = oy;
        }
        const size_t bytes = FSegBegin.size() - 1;
        const TSeg* segs = FSegs.data();
        const uint32_t* begin = FSegBegin.data();
        uint32_t* counts = FCounts.data();
        for (size_t bx = 0; bx < bytes; ++bx) {
            const uint8_t b = ABits[bx];
            if (b == 0) {
                continue;
            }
            for (uint32_t s = begin[bx]; s < begin[bx + 1]; ++s) {
                counts[segs[s].ox] += BitsSet[b & segs[s].mask];
            }
        }
        ++FRow;
    }

    QImage Take() {
        if (FRow != FHeight) {
            throw std::logic_error("bilevel reducer: not all rows given");
        }
        Flush();
        return std::move(FImage);
    }

private:
    struct TSeg {
        int ox;
        uint8_t mask;
    };

    void Flush() {
        if (FOutRow < 0) {
            return;
        }
        uchar* line = FImage.scanLine(FOutRow);
        // A multiplication by the cell's reciprocal area instead of a division per pixel.
        const float rowScale = 1.0f / static_cast<float>(FRowHeight[static_cast<size_t>(FOutRow)]);
        for (size_t ox = 0; ox < FCounts.size(); ++ox) {
            const float level =
                std::min(255.0f, static_cast<float>(FCounts[ox]) * FColScale[ox] * rowScale + 0.5f);
            const auto value = static_cast<uchar>(level);
            line[ox] = FOneIsBlack ? static_cast<uchar>(255 - value) : value;
            FCounts[ox] = 0;
        }
    }

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
    TSampleReducer(int AWidth, int AHeight, int AChannels, QSize AOut)
        : FWidth(AWidth), FHeight(AHeight), FChannels(AChannels),
          FImage(AOut, AChannels == 1   ? QImage::Format_Grayscale8
                       : AChannels == 3 ? QImage::Format_RGB32
                                        : QImage::Format_ARGB32),
          FXBin(BinOf(AWidth, AOut.width())), FRowBin(BinOf(AHeight, AOut.height())),
          FSums(static_cast<size_t>(AOut.width()) * static_cast<size_t>(AChannels), 0) {
        if (FImage.isNull()) {
            throw std::bad_alloc();
        }
        FColWidth = BinSizes(FXBin, AOut.width());
        FRowHeight = BinSizes(FRowBin, AOut.height());
    }

    void AddRow(const uint8_t* ASamples) {
        const int oy = FRowBin[static_cast<size_t>(FRow)];
        if (oy != FOutRow) {
            Flush();
            FOutRow = oy;
        }
        uint64_t* sums = FSums.data();
        const int* xbin = FXBin.data();
        const auto c = static_cast<size_t>(FChannels);
        for (int x = 0; x < FWidth; ++x) {
            uint64_t* cell = sums + static_cast<size_t>(xbin[x]) * c;
            const uint8_t* px = ASamples + static_cast<size_t>(x) * c;
            for (size_t k = 0; k < c; ++k) {
                cell[k] += px[k];
            }
        }
        ++FRow;
    }

    QImage Take() {
        if (FRow != FHeight) {
            throw std::logic_error("sample reducer: not all rows given");
        }
        Flush();
        return std::move(FImage);
    }

private:
    void Flush() {
        if (FOutRow < 0) {
            return;
        }
        uchar* line = FImage.scanLine(FOutRow);
        const uint64_t rowHeight = FRowHeight[static_cast<size_t>(FOutRow)];
        const auto c = static_cast<size_t>(FChannels);
        for (size_t ox = 0; ox < FColWidth.size(); ++ox) {
            const uint64_t area = FColWidth[ox] * rowHeight;
            uint64_t* cell = FSums.data() + ox * c;
            auto avg = [&](size_t k) { return static_cast<int>((cell[k] + area / 2) / area); };
            if (c == 1) {
                line[ox] = static_cast<uchar>(avg(0));
            } else {
                const QRgb px = qRgba(avg(0), avg(1), avg(2), c == 4 ? avg(3) : 255);
                reinterpret_cast<QRgb*>(line)[ox] = px;
            }
            std::fill(cell, cell + c, 0);
        }
    }

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

// ---- TIFF -----------------------------------------------------------------------------

struct TTiffMessages {
    QString FirstError;
    bool DataDamaged = false;
};

int TiffError(TIFF*, void* AUser, const char* AModule, const char* AFormat, va_list AArgs) {
    auto* messages = static_cast<TTiffMessages*>(AUser);
    if (messages->FirstError.isEmpty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, AFormat, AArgs);
        messages->FirstError = AModule && *AModule
                                   ? QString::fromUtf8(AModule) + ": " + QString::fromUtf8(text)
                                   : QString::fromUtf8(text);
    }
    return 1;
}

// Unknown tags and similar trifles are common in scanner output; they are not shown. The
// fax decoders, though, only warn about missing or garbled rows and fill them with paper,
// which would show a damaged page as if it were whole.
int TiffWarning(TIFF* ATiff, void* AUser, const char* AModule, const char* AFormat, va_list AArgs) {
    if (AModule && std::strncmp(AModule, "Fax", 3) == 0) {
        static_cast<TTiffMessages*>(AUser)->DataDamaged = true;
        TiffError(ATiff, AUser, AModule, AFormat, AArgs);
    }
    return 1;
}

class TTiffFile {
public:
    explicit TTiffFile(const QString& APath) : FPath(APath) {
        std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                             TIFFOpenOptionsFree);
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), TiffError, &FMessages);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), TiffWarning, &FMessages);
        // No single buffer (a strip, a tile) may be larger than this.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t{512} * 1024 * 1024);
        FTiff = TIFFOpenExt(QFile::encodeName(APath).constData(), "r", options.get());
        if (!FTiff) {
            FailWith(QStringLiteral("not a readable TIFF file"));
        }
    }
    ~TTiffFile() {
        if (FTiff) {
            TIFFClose(FTiff);
        }
    }
    TTiffFile(const TTiffFile&) = delete;
    TTiffFile& operator=(const TTiffFile&) = delete;

    TIFF* get() const { return FTiff; }
    bool DataDamaged() const { return FMessages.DataDamaged; }

    [[noreturn]] void FailWith(const QString& AReason) const {
        Fail(FPath, FMessages.FirstError.isEmpty()
                        ? AReason
                        : QStringLiteral("%1 (%2)").arg(AReason, FMessages.FirstError));
    }

    QSize Size() const {
        uint32_t w = 0;
        uint32_t h = 0;
        TIFFGetField(FTiff, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(FTiff, TIFFTAG_IMAGELENGTH, &h);
        const auto clamp = [](uint32_t v) {
            return static_cast<int>(std::min<uint32_t>(v, 0x7fffffff));
        };
        return {clamp(w), clamp(h)};
    }

    int Orientation() const {
        uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(FTiff, TIFFTAG_ORIENTATION, &orientation);
        return ValidOrientation(orientation);
    }

private:
    QString FPath;
    TTiffMessages FMessages;
    TIFF* FTiff = nullptr;
};

QImage DecodeTiffScanlines(const TTiffFile& ATiff, QSize AFull, QSize AOut) {
    TIFF* tif = ATiff.get();
    uint16_t bps = 1;
    uint16_t spp = 1;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        photometric = PHOTOMETRIC_MINISWHITE;
    }
    const int w = AFull.width();
    const int h = AFull.height();
    const tmsize_t lineSize = TIFFScanlineSize(tif);
    if (lineSize <= 0) {
        ATiff.FailWith(QStringLiteral("the file is corrupt"));
    }
    std::vector<uint8_t> line(static_cast<size_t>(lineSize));
    auto readLine = [&](int y) {
        if (TIFFReadScanline(tif, line.data(), static_cast<uint32_t>(y), 0) < 0 ||
            ATiff.DataDamaged()) {
            ATiff.FailWith(QStringLiteral("the file is truncated or corrupt"));
        }
    };

    if (bps == 1 && spp == 1 &&
        (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK)) {
        TBilevelReducer reducer(w, h, AOut, photometric == PHOTOMETRIC_MINISWHITE);
        for (int y = 0; y < h; ++y) {
            readLine(y);
            reducer.AddRow(line.data());
        }
        return reducer.Take();
    }

    if (photometric == PHOTOMETRIC_PALETTE && spp == 1 && (bps == 8 || bps == 4)) {
        uint16_t* red = nullptr;
        uint16_t* green = nullptr;
        uint16_t* blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
            ATiff.FailWith(QStringLiteral("the palette is missing"));
        }
        const int entries = 1 << bps;
        // Colour maps are 16-bit; some writers put 8-bit values in them.
        bool eightBit = true;
        for (int i = 0; i < entries; ++i) {
            if (red[i] > 255 || green[i] > 255 || blue[i] > 255) {
                eightBit = false;
            }
        }
        std::vector<uint8_t> lut(static_cast<size_t>(entries) * 3);
        for (int i = 0; i < entries; ++i) {
            const auto to8 = [&](uint16_t v) {
                return static_cast<uint8_t>(eightBit ? v : v >> 8);
            };
            lut[static_cast<size_t>(i) * 3] = to8(red[i]);
            lut[static_cast<size_t>(i) * 3 + 1] = to8(green[i]);
            lut[static_cast<size_t>(i) * 3 + 2] = to8(blue[i]);
        }
        std::vector<uint8_t> rgb(static_cast<size_t>(w) * 3);
        TSampleReducer reducer(w, h, 3, AOut);
        for (int y = 0; y < h; ++y) {
            readLine(y);
            for (int x = 0; x < w; ++x) {
                const int index =
                    bps == 8 ? line[static_cast<size_t>(x)]
                             : (line[static_cast<size_t>(x / 2)] >> (x % 2 ? 0 : 4)) & 0x0F;
                std::memcpy(&rgb[static_cast<size_t>(x) * 3], &lut[static_cast<size_t>(index) * 3],
                            3);
            }
            reducer.AddRow(rgb.data());
        }
        return reducer.Take();
    }

    // 8-bit grey, RGB or RGBA in one plane.
    const int channels = spp == 1 ? 1 : spp == 3 ? 3 : 4;
    TSampleReducer reducer(w, h, channels, AOut);
    std::vector<uint8_t> packed;
    const bool repack = spp > 4 || spp == 2;
    // Where each output channel comes from: grey + alpha spreads the grey over R, G, B;
    // samples beyond RGBA are dropped.
    int source[4] = {0, 1, 2, 3};
    if (spp == 2) {
        source[1] = 0;
        source[2] = 0;
        source[3] = 1;
    }
    for (int y = 0; y < h; ++y) {
        readLine(y);
        if (photometric == PHOTOMETRIC_MINISWHITE) {
            for (size_t x = 0; x < static_cast<size_t>(w); ++x) {
                uint8_t& grey = line[x * spp];
                grey = static_cast<uint8_t>(255 - grey);
            }
        }
        if (repack) {
            packed.resize(static_cast<size_t>(w) * static_cast<size_t>(channels));
            for (int x = 0; x < w; ++x) {
                for (int k = 0; k < channels; ++k) {
                    packed[static_cast<size_t>(x * channels + k)] =
                        line[static_cast<size_t>(x * spp + source[k])];
                }
            }
            reducer.AddRow(packed.data());
        } else {
            reducer.AddRow(line.data());
        }
    }
    return reducer.Take();
}

// Everything libtiff can turn into RGBA (tiles, YCbCr, CMYK, 16-bit, separate planes...),
// read in bands so no full frame is held.
QImage DecodeTiffRgba(const TTiffFile& ATiff, QSize AFull, QSize AOut) {
    TIFF* tif = ATiff.get();
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message)) {
        ATiff.FailWith(QStringLiteral("unsupported TIFF layout (%1)").arg(message));
    }
    TIFFRGBAImage img{};
    if (!TIFFRGBAImageBegin(&img, tif, 1, message)) {
        ATiff.FailWith(QStringLiteral("unsupported TIFF layout (%1)").arg(message));
    }
    struct TEnd {
        TIFFRGBAImage* Img;
        ~TEnd() { TIFFRGBAImageEnd(Img); }
    } end{&img};
    // Rows as stored, like the scanline path: the orientation is applied once, to the
    // reduced frame. (Asked for top-left, libtiff would flip each band on its own and
    // leave the quarter turns undone.)
    img.req_orientation = img.orientation;

    const int w = AFull.width();
    const int h = AFull.height();
    uint32_t bandRows = 64;
    if (TIFFIsTiled(tif)) {
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &bandRows);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &bandRows);
    }
    // Whole strips or tiles avoid decoding one twice; the cap keeps the band in check.
    const uint32_t capRows = std::max<uint32_t>(
        16, static_cast<uint32_t>((32u << 20) / (4u * static_cast<unsigned>(w))));
    bandRows =
        std::clamp<uint32_t>(bandRows, 1, std::min<uint32_t>(capRows, static_cast<uint32_t>(h)));

    std::vector<uint32_t> band(static_cast<size_t>(w) * bandRows);
    TSampleReducer reducer(w, h, 4, AOut);
    for (int row = 0; row < h; row += static_cast<int>(bandRows)) {
        const auto rows = static_cast<uint32_t>(std::min<int>(static_cast<int>(bandRows), h - row));
        img.row_offset = row;
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, band.data(), static_cast<uint32_t>(w), rows) ||
            ATiff.DataDamaged()) {
            ATiff.FailWith(QStringLiteral("the file is truncated or corrupt"));
        }
        // ABGR words: R, G, B, A in memory on little-endian machines.
        for (uint32_t r = 0; r < rows; ++r) {
            uint32_t* px = band.data() + static_cast<size_t>(r) * static_cast<size_t>(w);
            if constexpr (std::endian::native == std::endian::big) {
                for (int x = 0; x < w; ++x) {
                    px[x] = __builtin_bswap32(px[x]);
                }
            }
            reducer.AddRow(reinterpret_cast<const uint8_t*>(px));
        }
    }
    return reducer.Take();
}

TDecodedImage DecodeTiff(const QString& APath, const std::function<QSize(QSize)>& ATargetFor) {
    TTiffFile tiff(APath);
    const QSize full = tiff.Size();
    CheckDeclaredSize(APath, full);
    const int orientation = tiff.Orientation();
    const QSize out = StoredOut(full, orientation, ATargetFor);
    TIFF* tif = tiff.get();
    uint16_t bps = 1;
    uint16_t spp = 1;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const bool contigStrips = !TIFFIsTiled(tif) && (planar == PLANARCONFIG_CONTIG || spp == 1);
    const bool bilevel =
        bps == 1 && spp == 1 &&
        (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
    const bool palette = photometric == PHOTOMETRIC_PALETTE && spp == 1 && (bps == 8 || bps == 4);
    const bool plain8 =
        bps == 8 &&
        (((photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
          spp <= 2) ||
         (photometric == PHOTOMETRIC_RGB && spp >= 3));
    TDecodedImage result;
    result.fullSize = Upright(full, orientation);
    if (contigStrips && (bilevel || palette || plain8)) {
        result.image = DecodeTiffScanlines(tiff, full, out);
    } else {
        result.image = DecodeTiffRgba(tiff, full, out);
    }
    result.image = ToUpright(std::move(result.image), orientation);
    return result;
}

// ---- JPEG -----------------------------------------------------------------------------

struct TJpegError {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr AInfo) {
    auto* error = reinterpret_cast<TJpegError*>(AInfo->err);
    (*AInfo->err->format_message)(AInfo, error->Message);
    std::longjmp(error->Jump, 1);
}

// A missing tail would otherwise come out as grey rows without any error.
void JpegEmitMessage(j_common_ptr AInfo, int ALevel) {
    if (ALevel < 0 &&
        (AInfo->err->msg_code == JWRN_JPEG_EOF || AInfo->err->msg_code == JWRN_HIT_MARKER)) {
        JpegErrorExit(AInfo);
    }
}

struct TFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// Runs libjpeg between one setjmp and its longjmps; only plain data and objects that
// live in memory (not registers) are touched after the jump.
struct TJpegJob {
    FILE* File = nullptr;
    std::function<QSize(QSize)> TargetFor;
    QSize Full; // as stored
    int Orientation = 1;
    QSize Out;
    QImage Image;
    bool Cmyk = false;
    bool HeaderOnly = false;
    char Message[JMSG_LENGTH_MAX] = {};
    bool SizeRejected = false;
};

bool RunJpeg(TJpegJob& AJob) {
    jpeg_decompress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.Pub);
    error.Pub.error_exit = JpegErrorExit;
    error.Pub.emit_message = JpegEmitMessage;
    if (setjmp(error.Jump)) {
        std::memcpy(AJob.Message, error.Message, sizeof AJob.Message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, AJob.File);
    // APP1 holds EXIF (and XMP); the orientation is read from it once the header is in.
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        static constexpr char ExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= sizeof ExifId &&
            std::memcmp(m->data, ExifId, sizeof ExifId) == 0) {
            AJob.Orientation =
                ExifOrientation(m->data + sizeof ExifId, m->data_length - sizeof ExifId);
            break;
        }
    }
    AJob.Full = QSize(static_cast<int>(info.image_width), static_cast<int>(info.image_height));
    if (AJob.HeaderOnly || AJob.Full.width() > MaxImageSide || AJob.Full.height() > MaxImageSide ||
        static_cast<long long>(AJob.Full.width()) * AJob.Full.height() > MaxImagePixels ||
        AJob.Full.isEmpty()) {
        AJob.SizeRejected = !AJob.HeaderOnly;
        jpeg_destroy_decompress(&info);
        return true;
    }
    try {
        AJob.Out = StoredOut(AJob.Full, AJob.Orientation, AJob.TargetFor);
    } catch (...) {
        jpeg_destroy_decompress(&info);
        throw;
    }

    // The smallest DCT scale M/8 whose output still covers the target.
    unsigned num = 8;
    for (unsigned m = 1; m <= 8; ++m) {
        if ((info.image_width * m + 7) / 8 >= static_cast<unsigned>(AJob.Out.width()) &&
            (info.image_height * m + 7) / 8 >= static_cast<unsigned>(AJob.Out.height())) {
            num = m;
            break;
        }
    }
    info.scale_num = num;
    info.scale_denom = 8;
    QImage::Format format = QImage::Format_RGB32;
    if (info.jpeg_color_space == JCS_GRAYSCALE) {
        info.out_color_space = JCS_GRAYSCALE;
        format = QImage::Format_Grayscale8;
    } else if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        info.out_color_space = JCS_CMYK;
        AJob.Cmyk = true;
    } else {
        info.out_color_space = JCS_EXT_BGRX;
    }
    jpeg_start_decompress(&info);
    AJob.Image =
        QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), format);
    if (AJob.Image.isNull()) {
        std::strcpy(AJob.Message, "not enough memory");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[4];
        const unsigned first = info.output_scanline;
        const unsigned count = std::min(4u, info.output_height - first);
        for (unsigned i = 0; i < count; ++i) {
            rows[i] = AJob.Image.scanLine(static_cast<int>(first + i));
        }
        jpeg_read_scanlines(&info, rows, count);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

TDecodedImage DecodeJpeg(const QString& APath, const std::function<QSize(QSize)>& ATargetFor,
                         bool AHeaderOnly) {
    std::unique_ptr<FILE, TFileCloser> file(std::fopen(QFile::encodeName(APath).constData(), "rb"));
    if (!file) {
        Fail(APath, QStringLiteral("cannot open the file (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    TJpegJob job;
    job.File = file.get();
    job.TargetFor = ATargetFor;
    job.HeaderOnly = AHeaderOnly;
    if (!RunJpeg(job)) {
        Fail(APath, QStringLiteral("the JPEG data is truncated or corrupt (%1)")
                        .arg(QString::fromLocal8Bit(job.Message)));
    }
    CheckDeclaredSize(APath, job.Full);
    TDecodedImage result;
    result.fullSize = Upright(job.Full, job.Orientation);
    if (AHeaderOnly) {
        return result;
    }
    if (job.Cmyk) {
        // Adobe writes inverted CMYK; libjpeg hands it over as stored.
        QImage rgb(job.Image.size(), QImage::Format_RGB32);
        for (int y = 0; y < rgb.height(); ++y) {
            const uchar* in = job.Image.constScanLine(y);
            auto* out = reinterpret_cast<QRgb*>(rgb.scanLine(y));
            for (int x = 0; x < rgb.width(); ++x, in += 4) {
                const int k = in[3];
                out[x] = qRgb(in[0] * k / 255, in[1] * k / 255, in[2] * k / 255);
            }
        }
        job.Image = std::move(rgb);
    }
    // The DCT-scaled frame is kept as it is, up to one scale step above the target: the
    // viewer resamples it to the screen anyway, and a second resampling here would cost a
    // fifth of the decode.
    result.image = ToUpright(std::move(job.Image), job.Orientation);
    return result;
}

// ---- Anything else: Qt's readers ------------------------------------------------------

QImage ForDisplay(QImage AImage) {
    if (AImage.hasAlphaChannel()) {
        AImage.convertTo(QImage::Format_ARGB32);
    } else if (AImage.isGrayscale()) {
        AImage.convertTo(QImage::Format_Grayscale8);
    } else {
        AImage.convertTo(QImage::Format_RGB32);
    }
    return AImage;
}

// PNG keeps EXIF in an eXIf chunk, which Qt's reader does not look at; only chunks before
// the image data are searched, so the scan costs a few small reads.
int PngOrientation(const QString& APath) {
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(8)) {
        return 1;
    }
    for (;;) {
        const QByteArray head = file.read(8);
        if (head.size() != 8) {
            return 1;
        }
        const auto* b = reinterpret_cast<const uint8_t*>(head.constData());
        const uint32_t length = static_cast<uint32_t>(b[0]) << 24 |
                                static_cast<uint32_t>(b[1]) << 16 |
                                static_cast<uint32_t>(b[2]) << 8 | b[3];
        const QByteArray type = head.mid(4);
        if (type == "IDAT" || type == "IEND" || length > 0x7FFFFFFFu) {
            return 1;
        }
        if (type == "eXIf") {
            const QByteArray exif = file.read(std::min<qint64>(length, 0xFFFF));
            return ExifOrientation(reinterpret_cast<const uint8_t*>(exif.constData()),
                                   static_cast<size_t>(exif.size()));
        }
        if (!file.seek(file.pos() + length + 4)) {
            return 1;
        }
    }
}

// The orientation Qt's reader reports for the formats it knows it for, as 1..8. The reader
// is left not to apply it, so it is applied in one place, to the reduced frame.
int QtOrientation(QImageReader& AReader, const QString& APath) {
    using T = QImageIOHandler;
    switch (AReader.transformation()) {
    case T::TransformationMirror:
        return 2;
    case T::TransformationRotate180:
        return 3;
    case T::TransformationFlip:
        return 4;
    case T::TransformationFlipAndRotate90:
        return 5;
    case T::TransformationRotate90:
        return 6;
    case T::TransformationMirrorAndRotate90:
        return 7;
    case T::TransformationRotate270:
        return 8;
    default:
        break;
    }
    return AReader.format() == "png" ? PngOrientation(APath) : 1;
}

TDecodedImage DecodeWithQt(const QString& APath, const std::function<QSize(QSize)>& ATargetFor,
                           bool AHeaderOnly) {
    QImageReader reader(APath);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    if (!reader.canRead()) {
        Fail(APath,
             QStringLiteral("not an image format that can be read (%1)").arg(reader.errorString()));
    }
    const int orientation = QtOrientation(reader, APath);
    QSize full = reader.size(); // as stored
    if (!full.isValid()) {
        // A reader that cannot tell the size up front: decode under Qt's default limit.
        QImage image = reader.read();
        if (image.isNull()) {
            Fail(APath, QStringLiteral("the image data is truncated or corrupt (%1)")
                            .arg(reader.errorString()));
        }
        full = image.size();
        CheckDeclaredSize(APath, full);
        TDecodedImage result{QImage(), Upright(full, orientation)};
        if (!AHeaderOnly) {
            const QSize out = StoredOut(full, orientation, ATargetFor);
            result.image = out == full
                               ? std::move(image)
                               : image.scaled(out, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            result.image = ToUpright(ForDisplay(std::move(result.image)), orientation);
        }
        return result;
    }
    CheckDeclaredSize(APath, full);
    TDecodedImage result;
    result.fullSize = Upright(full, orientation);
    if (AHeaderOnly) {
        return result;
    }
    const QSize out = StoredOut(full, orientation, ATargetFor);
    // These readers decode the whole frame before any reduction; the size was checked
    // above, so the frame may take what it needs.
    const long long frameMb =
        static_cast<long long>(full.width()) * full.height() * 4 / (1024 * 1024) + 1;
    reader.setAllocationLimit(static_cast<int>(std::max<long long>(128, frameMb * 2)));
    if (out != full) {
        reader.setScaledSize(out);
    }
    QImage image = reader.read();
    if (image.isNull()) {
        Fail(APath, QStringLiteral("the image data is truncated or corrupt (%1)")
                        .arg(reader.errorString()));
    }
    if (image.size() != out) {
        image = image.scaled(out, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    result.image = ToUpright(ForDisplay(std::move(image)), orientation);
    return result;
}

TDecodedImage Decode(const QString& APath, const std::function<QSize(QSize)>& ATargetFor,
                     bool AHeaderOnly) {
    const TFileKind kind = SniffKind(APath);
    try {
        switch (kind) {
        case TFileKind::Jpeg:
            return DecodeJpeg(APath, ATargetFor, AHeaderOnly);
        case TFileKind::Tiff:
            if (AHeaderOnly) {
                TTiffFile tiff(APath);
                CheckDeclaredSize(APath, tiff.Size());
                return {QImage(), Upright(tiff.Size(), tiff.Orientation())};
            }
            return DecodeTiff(APath, ATargetFor);
        case TFileKind::Other:
            break;
        }
        return DecodeWithQt(APath, ATargetFor, AHeaderOnly);
    } catch (const std::bad_alloc&) {
        Fail(APath, QStringLiteral("not enough memory to decode the image"));
    }
}

} // namespace

QSize DecodeSizeWithin(QSize AFull, QSize ABox) {
    if (AFull.isEmpty()) {
        return AFull;
    }
    if (ABox.width() <= 0 || ABox.height() <= 0) {
        return AFull;
    }
    const double scale = std::min({static_cast<double>(ABox.width()) / AFull.width(),
                                   static_cast<double>(ABox.height()) / AFull.height(), 1.0});
    const auto side = [scale](int full, int box) {
        return std::clamp(static_cast<int>(std::lround(full * scale)), 1, std::min(full, box));
    };
    return {side(AFull.width(), ABox.width()), side(AFull.height(), ABox.height())};
}

QSize ReadImageSize(const QString& APath) {
    return Decode(
               APath, [](QSize full) { return full; }, true)
        .fullSize;
}

TDecodedImage DecodeForDisplay(const QString& APath, QSize ATargetSize) {
    return Decode(
        APath, [ATargetSize](QSize) { return ATargetSize; }, false);
}

TDecodedImage DecodeForDisplay(const QString& APath,
                               const std::function<QSize(QSize)>& ATargetFor) {
    return Decode(
        APath, ATargetFor ? ATargetFor : [](QSize) { return QSize(); }, false);
}
