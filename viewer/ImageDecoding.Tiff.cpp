// TIFF through libtiff: strips row by row into the box filters, everything else through
// libtiff's RGBA reader in bands.
#include "viewer/ImageDecoding.Internal.h"

#include <QFile>

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include <tiffio.h>

namespace ImageDecodingDetail {
namespace {

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
    explicit TTiffFile(const TDecodeJob& AJob) : FJob(AJob) {
        std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                             TIFFOpenOptionsFree);
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), TiffError, &FMessages);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), TiffWarning, &FMessages);
        // No single buffer (a strip, a tile) may take more than half the budget; the rest is
        // for the reduced result.
        TIFFOpenOptionsSetMaxSingleMemAlloc(
            options.get(),
            static_cast<tmsize_t>(std::max<long long>(AJob.Options.MemoryBudget / 2, 1)));
        // "m": read, never map. A file cut short or rewritten by another process while it
        // is mapped kills the reader with SIGBUS on the pages that went; a read just fails.
        FTiff = TIFFOpenExt(QFile::encodeName(AJob.Path).constData(), "rm", options.get());
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
        FJob.Fail(FMessages.FirstError.isEmpty()
                      ? AReason
                      : QStringLiteral("%1 (%2)").arg(AReason, FMessages.FirstError));
    }

    int PageCount() const { return std::max(1, static_cast<int>(TIFFNumberOfDirectories(FTiff))); }

    void SetPage(int APage) {
        if (APage > 0 && !TIFFSetDirectory(FTiff, static_cast<tdir_t>(APage))) {
            FailWith(QStringLiteral("the page cannot be read"));
        }
    }

    // As stored; empty without a usable unit.
    QSizeF DotsPerInch() const {
        float x = 0;
        float y = 0;
        uint16_t unit = RESUNIT_INCH;
        TIFFGetFieldDefaulted(FTiff, TIFFTAG_RESOLUTIONUNIT, &unit);
        if (!TIFFGetField(FTiff, TIFFTAG_XRESOLUTION, &x) ||
            !TIFFGetField(FTiff, TIFFTAG_YRESOLUTION, &y) || !(x > 0) || !(y > 0) ||
            (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER)) {
            return {};
        }
        const double perInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        return {x * perInch, y * perInch};
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
    const TDecodeJob& FJob;
    TTiffMessages FMessages;
    TIFF* FTiff = nullptr;
};

QImage DecodeTiffScanlines(const TDecodeJob& AJob, const TTiffFile& ATiff, QSize AFull, QSize AOut,
                           int AOrientation) {
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
        AJob.CheckCancel();
        if (TIFFReadScanline(tif, line.data(), static_cast<uint32_t>(y), 0) < 0 ||
            ATiff.DataDamaged()) {
            ATiff.FailWith(QStringLiteral("the file is truncated or corrupt"));
        }
    };

    if (bps == 1 && spp == 1 &&
        (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK)) {
        TFrameSink sink(AJob, AOut, QImage::Format_Grayscale8, AOrientation);
        TBilevelReducer reducer(w, h, sink, AOut, photometric == PHOTOMETRIC_MINISWHITE);
        for (int y = 0; y < h; ++y) {
            readLine(y);
            reducer.AddRow(line.data());
        }
        reducer.Finish();
        return sink.Finish();
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
        TFrameSink sink(AJob, AOut, FormatForChannels(3), AOrientation);
        TSampleReducer reducer(w, h, 3, sink, AOut);
        for (int y = 0; y < h; ++y) {
            readLine(y);
            if (!reducer.NextRowWanted()) {
                reducer.AddRow(rgb.data());
                continue;
            }
            for (int x = 0; x < w; ++x) {
                const int index =
                    bps == 8 ? line[static_cast<size_t>(x)]
                             : (line[static_cast<size_t>(x / 2)] >> (x % 2 ? 0 : 4)) & 0x0F;
                std::memcpy(&rgb[static_cast<size_t>(x) * 3], &lut[static_cast<size_t>(index) * 3],
                            3);
            }
            reducer.AddRow(rgb.data());
        }
        reducer.Finish();
        return sink.Finish();
    }

    // 8-bit grey, RGB or RGBA in one plane.
    const int channels = spp == 1 ? 1 : spp == 3 ? 3 : 4;
    TFrameSink sink(AJob, AOut, FormatForChannels(channels), AOrientation);
    TSampleReducer reducer(w, h, channels, sink, AOut);
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
                    packed[static_cast<size_t>(x) * static_cast<size_t>(channels) +
                           static_cast<size_t>(k)] =
                        line[static_cast<size_t>(x) * static_cast<size_t>(spp) +
                             static_cast<size_t>(source[k])];
                }
            }
            reducer.AddRow(packed.data());
        } else {
            reducer.AddRow(line.data());
        }
    }
    reducer.Finish();
    return sink.Finish();
}

// Everything libtiff can turn into RGBA (tiles, YCbCr, CMYK, 16-bit, separate planes...),
// read in bands so no full frame is held.
QImage DecodeTiffRgba(const TDecodeJob& AJob, const TTiffFile& ATiff, QSize AFull, QSize AOut,
                      int AOrientation) {
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
    TFrameSink sink(AJob, AOut, FormatForChannels(4), AOrientation);
    TSampleReducer reducer(w, h, 4, sink, AOut);
    for (int row = 0; row < h; row += static_cast<int>(bandRows)) {
        AJob.CheckCancel();
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
    reducer.Finish();
    return sink.Finish();
}

} // namespace

TDecodedImage DecodeTiff(const TDecodeJob& AJob) {
    TTiffFile tiff(AJob);
    TDecodedImage result;
    result.page = AJob.Options.Page;
    result.pageCount = AJob.PageCount = tiff.PageCount();
    if (AJob.Options.Page >= result.pageCount) {
        AJob.Fail(QStringLiteral("there is no page %1; the file has %2")
                      .arg(AJob.Options.Page + 1)
                      .arg(result.pageCount));
    }
    tiff.SetPage(AJob.Options.Page);
    const QSize full = tiff.Size();
    AJob.CheckDeclaredSize(full);
    const int orientation = tiff.Orientation();
    result.fullSize = Upright(full, orientation);
    result.dotsPerInch = Upright(tiff.DotsPerInch(), orientation);
    if (AJob.HeaderOnly) {
        return result;
    }
    const QSize out = StoredOut(full, orientation, AJob);
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
    if (contigStrips && (bilevel || palette || plain8)) {
        result.image = DecodeTiffScanlines(AJob, tiff, full, out, orientation);
    } else {
        result.image = DecodeTiffRgba(AJob, tiff, full, out, orientation);
    }
    return result;
}

int TiffPageCount(const TDecodeJob& AJob) {
    return TTiffFile(AJob).PageCount();
}

} // namespace ImageDecodingDetail
