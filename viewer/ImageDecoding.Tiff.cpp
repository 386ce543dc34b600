// TIFF through libtiff: strips row by row into the box filters, everything else through
// libtiff's RGBA reader in bands.
#include "viewer/ImageDecoding.Internal.h"

#include <QFile>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

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

// What a page in contiguous strips holds, as the scanline path reads it.
struct TStripLayout {
    enum TKind { Bilevel, Palette, Samples };
    TKind Kind = Samples;
    uint16_t Bps = 1;
    uint16_t Spp = 1;
    uint16_t Photometric = PHOTOMETRIC_MINISWHITE;
    QSize Full;

    explicit TStripLayout(TIFF* ATif, QSize AFull) : Full(AFull) {
        TIFFGetFieldDefaulted(ATif, TIFFTAG_BITSPERSAMPLE, &Bps);
        TIFFGetFieldDefaulted(ATif, TIFFTAG_SAMPLESPERPIXEL, &Spp);
        if (!TIFFGetField(ATif, TIFFTAG_PHOTOMETRIC, &Photometric)) {
            Photometric = PHOTOMETRIC_MINISWHITE;
        }
        if (Bps == 1 && Spp == 1 &&
            (Photometric == PHOTOMETRIC_MINISWHITE || Photometric == PHOTOMETRIC_MINISBLACK)) {
            Kind = Bilevel;
        } else if (Photometric == PHOTOMETRIC_PALETTE && Spp == 1 && (Bps == 8 || Bps == 4)) {
            Kind = Palette;
        }
    }
    bool operator==(const TStripLayout&) const = default;

    // 8-bit grey, RGB or RGBA in one plane.
    int Channels() const { return Kind == Palette ? 3 : Spp == 1 ? 1 : Spp == 3 ? 3 : 4; }
    QImage::Format Format() const {
        return Kind == Bilevel ? QImage::Format_Grayscale8 : FormatForChannels(Channels());
    }
};

// Reads rows of a page in contiguous strips into its box filter. One per thread: each
// holds its own TIFF handle's state, and any rows of the page can be asked for.
class TStripReader {
public:
    TStripReader(const TDecodeJob& AJob, const TTiffFile& ATiff, const TStripLayout& ALayout,
                 TFrameSink& ASink, QSize AOut)
        : FJob(AJob), FTiff(ATiff), FLayout(ALayout) {
        TIFF* tif = ATiff.get();
        const int w = ALayout.Full.width();
        const int h = ALayout.Full.height();
        const tmsize_t lineSize = TIFFScanlineSize(tif);
        if (lineSize <= 0) {
            ATiff.FailWith(QStringLiteral("the file is corrupt"));
        }
        FLine.resize(static_cast<size_t>(lineSize));
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        FRowsPerStrip =
            static_cast<int>(std::clamp<uint32_t>(rowsPerStrip, 1, static_cast<uint32_t>(h)));
        switch (ALayout.Kind) {
        case TStripLayout::Bilevel:
            FBilevel.emplace(w, h, ASink, AOut, ALayout.Photometric == PHOTOMETRIC_MINISWHITE);
            return;
        case TStripLayout::Palette:
            ReadPalette();
            FConverted.resize(static_cast<size_t>(w) * 3);
            break;
        case TStripLayout::Samples:
            // Grey + alpha spreads the grey over R, G, B; samples beyond RGBA are dropped.
            if (ALayout.Spp == 2) {
                FSource[1] = 0;
                FSource[2] = 0;
                FSource[3] = 1;
            }
            if (ALayout.Spp > 4 || ALayout.Spp == 2) {
                FConverted.resize(static_cast<size_t>(w) * static_cast<size_t>(ALayout.Channels()));
            }
            break;
        }
        FSamples.emplace(w, h, ALayout.Channels(), ASink, AOut);
    }

    // Rows [AFrom, ATo); AFrom starts an output row. Stops early once AStop is set.
    void Rows(int AFrom, int ATo, const std::atomic<bool>* AStop) {
        const bool whole = AFrom == 0 && ATo == FLayout.Full.height();
        if (!whole) {
            FBilevel ? FBilevel->StartAt(AFrom) : FSamples->StartAt(AFrom);
            // The codecs cannot skip rows: a part starting inside a strip decodes the
            // strip's rows before it for nothing (unless this handle just read them).
            if (TIFFCurrentRow(FTiff.get()) != static_cast<uint32_t>(AFrom)) {
                for (int y = AFrom / FRowsPerStrip * FRowsPerStrip; y < AFrom; ++y) {
                    ReadLine(y);
                }
            }
        }
        for (int y = AFrom; y < ATo; ++y) {
            if (AStop && AStop->load(std::memory_order_relaxed)) {
                return;
            }
            AddRow(y);
        }
        if (whole) {
            FBilevel ? FBilevel->Finish() : FSamples->Finish();
        } else {
            FBilevel ? FBilevel->FinishPart() : FSamples->FinishPart();
        }
    }

private:
    void ReadLine(int AY) {
        FJob.CheckCancel();
        if (TIFFReadScanline(FTiff.get(), FLine.data(), static_cast<uint32_t>(AY), 0) < 0 ||
            FTiff.DataDamaged()) {
            FTiff.FailWith(QStringLiteral("the file is truncated or corrupt"));
        }
    }

    void AddRow(int AY) {
        ReadLine(AY);
        const int w = FLayout.Full.width();
        if (FBilevel) {
            FBilevel->AddRow(FLine.data());
            return;
        }
        if (FLayout.Kind == TStripLayout::Palette) {
            if (FSamples->NextRowWanted()) {
                const uint16_t bps = FLayout.Bps;
                for (int x = 0; x < w; ++x) {
                    const int index =
                        bps == 8 ? FLine[static_cast<size_t>(x)]
                                 : (FLine[static_cast<size_t>(x / 2)] >> (x % 2 ? 0 : 4)) & 0x0F;
                    std::memcpy(&FConverted[static_cast<size_t>(x) * 3],
                                &FLut[static_cast<size_t>(index) * 3], 3);
                }
            }
            FSamples->AddRow(FConverted.data());
            return;
        }
        const size_t spp = FLayout.Spp;
        if (FLayout.Photometric == PHOTOMETRIC_MINISWHITE) {
            for (size_t x = 0; x < static_cast<size_t>(w); ++x) {
                uint8_t& grey = FLine[x * spp];
                grey = static_cast<uint8_t>(255 - grey);
            }
        }
        if (FConverted.empty()) {
            FSamples->AddRow(FLine.data());
            return;
        }
        const auto channels = static_cast<size_t>(FLayout.Channels());
        for (size_t x = 0; x < static_cast<size_t>(w); ++x) {
            for (size_t k = 0; k < channels; ++k) {
                FConverted[x * channels + k] = FLine[x * spp + static_cast<size_t>(FSource[k])];
            }
        }
        FSamples->AddRow(FConverted.data());
    }

    void ReadPalette() {
        uint16_t* red = nullptr;
        uint16_t* green = nullptr;
        uint16_t* blue = nullptr;
        if (!TIFFGetField(FTiff.get(), TIFFTAG_COLORMAP, &red, &green, &blue)) {
            FTiff.FailWith(QStringLiteral("the palette is missing"));
        }
        const int entries = 1 << FLayout.Bps;
        // Colour maps are 16-bit; some writers put 8-bit values in them.
        bool eightBit = true;
        for (int i = 0; i < entries; ++i) {
            if (red[i] > 255 || green[i] > 255 || blue[i] > 255) {
                eightBit = false;
            }
        }
        FLut.resize(static_cast<size_t>(entries) * 3);
        for (int i = 0; i < entries; ++i) {
            const auto to8 = [&](uint16_t v) {
                return static_cast<uint8_t>(eightBit ? v : v >> 8);
            };
            FLut[static_cast<size_t>(i) * 3] = to8(red[i]);
            FLut[static_cast<size_t>(i) * 3 + 1] = to8(green[i]);
            FLut[static_cast<size_t>(i) * 3 + 2] = to8(blue[i]);
        }
    }

    const TDecodeJob& FJob;
    const TTiffFile& FTiff;
    TStripLayout FLayout;
    std::vector<uint8_t> FLine;
    std::vector<uint8_t> FConverted; // palette colours or repacked samples
    std::vector<uint8_t> FLut;
    int FSource[4] = {0, 1, 2, 3};
    int FRowsPerStrip = 1;
    std::optional<TBilevelReducer> FBilevel;
    std::optional<TSampleReducer> FSamples;
};

// ---- Decoding one page on several threads ----
//
// Strips and tiles are compressed independently, so a page splits into parts of whole
// output rows, each read through its own TIFF handle into its rows of the one frame. The
// parts are cut near strip or tile boundaries (a part starting inside one decodes that
// strip's first rows for nothing) and are more than the threads, so a slow thread does
// not hold up the rest.

// How many threads a display decode of a page of APixels may use.
int ThreadsFor(const TDecodeJob& AJob, long long APixels) {
    if (AJob.Bands() || AJob.Options.Threads == 1) {
        return 1;
    }
    if (AJob.Options.Threads > 1) {
        return std::min(AJob.Options.Threads, 64);
    }
    // Below a few megapixels a second thread costs about what it saves.
    constexpr long long kParallelPixels = 4LL << 20;
    return APixels < kParallelPixels ? 1 : std::max(1, QThread::idealThreadCount());
}

// Source row bounds of the parts: 0, ..., AHeight, each the first row of an output row,
// about AUnit apart at least (AUnit: rows per strip, tile or band).
std::vector<int> PartBounds(int AHeight, int AOutHeight, int AUnit, int AThreads) {
    const int unit = std::clamp(AUnit, 1, AHeight);
    const int wanted = std::max(1, AHeight / std::max(1, AThreads * 4));
    const int partRows = std::max(unit, (wanted + unit - 1) / unit * unit);
    std::vector<int> bounds{0};
    for (long long cut = partRows; cut < AHeight; cut += partRows) {
        const int bin = static_cast<int>(cut * AOutHeight / AHeight);
        const int start = BinStart(AHeight, AOutHeight, bin);
        if (start > bounds.back() && start < AHeight) {
            bounds.push_back(start);
        }
    }
    bounds.push_back(AHeight);
    return bounds;
}

// Runs AWorker(index) on AThreads threads, the calling one among them as index 0. The
// first failure stops the others (AStop) and is rethrown here once all have ended.
void RunWorkers(int AThreads, std::atomic<bool>& AStop, const std::function<void(int)>& AWorker) {
    std::mutex lock;
    std::exception_ptr failure;
    auto run = [&](int AIndex) {
        try {
            AWorker(AIndex);
        } catch (...) {
            const std::lock_guard<std::mutex> guard(lock);
            if (!failure) {
                failure = std::current_exception();
            }
            AStop.store(true);
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<size_t>(AThreads - 1));
    try {
        for (int i = 1; i < AThreads; ++i) {
            helpers.emplace_back(run, i);
        }
    } catch (const std::system_error&) {
        // No more threads to be had: the ones running share the parts.
    }
    run(0);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// A handle of a worker's own on the same page, which must be the page the caller read.
std::unique_ptr<TTiffFile> OpenAgain(const TDecodeJob& AJob, const TTiffFile& AFirst) {
    // Opened the same way as the first, so a file that changes under the decode fails
    // cleanly in every thread alike.
    auto own = std::make_unique<TTiffFile>(AJob);
    own->SetPage(AJob.Options.Page);
    if (own->Size() != AFirst.Size() || own->Orientation() != AFirst.Orientation()) {
        own->FailWith(QStringLiteral("the file changed while it was read"));
    }
    return own;
}

QImage DecodeTiffScanlines(const TDecodeJob& AJob, const TTiffFile& ATiff, QSize AFull, QSize AOut,
                           int AOrientation) {
    const TStripLayout layout(ATiff.get(), AFull);
    TFrameSink sink(AJob, AOut, layout.Format(), AOrientation);
    const int h = AFull.height();
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(ATiff.get(), TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    int threads = ThreadsFor(AJob, static_cast<long long>(AFull.width()) * h);
    // Each thread holds a strip as read and as decoded.
    const long long perThread = std::max<long long>(1, 2LL * TIFFStripSize(ATiff.get()));
    threads = static_cast<int>(std::min<long long>(
        threads, std::max<long long>(1, AJob.Options.MemoryBudget / 4 / perThread)));
    const std::vector<int> bounds =
        threads > 1
            ? PartBounds(h, AOut.height(),
                         static_cast<int>(std::min<uint32_t>(rowsPerStrip, 0x7fffffff)), threads)
            : std::vector<int>{0, h};
    const int parts = static_cast<int>(bounds.size()) - 1;
    if (parts == 1) {
        TStripReader(AJob, ATiff, layout, sink, AOut).Rows(0, h, nullptr);
        return sink.Finish();
    }
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    RunWorkers(std::min(threads, parts), stop, [&](int AIndex) {
        // The calling thread goes on with the handle it has.
        const auto own = AIndex == 0 ? nullptr : OpenAgain(AJob, ATiff);
        const TTiffFile& tiff = own ? *own : ATiff;
        if (!(TStripLayout(tiff.get(), AFull) == layout)) {
            tiff.FailWith(QStringLiteral("the file changed while it was read"));
        }
        TStripReader reader(AJob, tiff, layout, sink, AOut);
        for (int part = next++; part < parts && !stop.load(); part = next++) {
            reader.Rows(bounds[static_cast<size_t>(part)], bounds[static_cast<size_t>(part) + 1],
                        &stop);
        }
    });
    return sink.Finish();
}

// Everything libtiff can turn into RGBA (tiles, YCbCr, CMYK, 16-bit, separate planes...),
// read in bands so no full frame is held.
class TRgbaReader {
public:
    TRgbaReader(const TDecodeJob& AJob, const TTiffFile& ATiff, QSize AFull, uint32_t ABandRows,
                TFrameSink& ASink, QSize AOut)
        : FJob(AJob), FTiff(ATiff), FFull(AFull), FBandRows(ABandRows),
          FBand(static_cast<size_t>(AFull.width()) * ABandRows),
          FReducer(AFull.width(), AFull.height(), 4, ASink, AOut) {
        TIFF* tif = ATiff.get();
        char message[1024] = {};
        if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&FImg, tif, 1, message)) {
            ATiff.FailWith(QStringLiteral("unsupported TIFF layout (%1)").arg(message));
        }
        // Rows as stored, like the scanline path: the orientation is applied once, to the
        // reduced frame. (Asked for top-left, libtiff would flip each band on its own and
        // leave the quarter turns undone.)
        FImg.req_orientation = FImg.orientation;
    }
    ~TRgbaReader() { TIFFRGBAImageEnd(&FImg); }
    TRgbaReader(const TRgbaReader&) = delete;
    TRgbaReader& operator=(const TRgbaReader&) = delete;

    // Rows [AFrom, ATo), as TStripReader::Rows. Bands are read at the same offsets as for
    // the whole page (multiples of the band height), rows before AFrom dropped.
    void Rows(int AFrom, int ATo, const std::atomic<bool>* AStop) {
        const bool whole = AFrom == 0 && ATo == FFull.height();
        if (!whole) {
            FReducer.StartAt(AFrom);
        }
        const int w = FFull.width();
        const auto bandRows = static_cast<int>(FBandRows);
        for (int row = AFrom / bandRows * bandRows; row < ATo; row += bandRows) {
            FJob.CheckCancel();
            if (AStop && AStop->load(std::memory_order_relaxed)) {
                return;
            }
            const int rows = std::min(bandRows, FFull.height() - row);
            FImg.row_offset = row;
            FImg.col_offset = 0;
            if (!TIFFRGBAImageGet(&FImg, FBand.data(), static_cast<uint32_t>(w),
                                  static_cast<uint32_t>(rows)) ||
                FTiff.DataDamaged()) {
                FTiff.FailWith(QStringLiteral("the file is truncated or corrupt"));
            }
            // ABGR words: R, G, B, A in memory on little-endian machines.
            for (int r = std::max(0, AFrom - row); r < rows && row + r < ATo; ++r) {
                uint32_t* px = FBand.data() + static_cast<size_t>(r) * static_cast<size_t>(w);
                if constexpr (std::endian::native == std::endian::big) {
                    for (int x = 0; x < w; ++x) {
                        px[x] = __builtin_bswap32(px[x]);
                    }
                }
                FReducer.AddRow(reinterpret_cast<const uint8_t*>(px));
            }
        }
        if (whole) {
            FReducer.Finish();
        } else {
            FReducer.FinishPart();
        }
    }

private:
    const TDecodeJob& FJob;
    const TTiffFile& FTiff;
    QSize FFull;
    uint32_t FBandRows;
    TIFFRGBAImage FImg{};
    std::vector<uint32_t> FBand;
    TSampleReducer FReducer;
};

QImage DecodeTiffRgba(const TDecodeJob& AJob, const TTiffFile& ATiff, QSize AFull, QSize AOut,
                      int AOrientation) {
    TIFF* tif = ATiff.get();
    const int w = AFull.width();
    const int h = AFull.height();
    uint32_t unitRows = 64;
    const bool tiled = TIFFIsTiled(tif);
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unitRows);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unitRows);
    }
    // Parts for threads only for tiles: libtiff's readers of subsampled strips expect
    // bands from the page's top.
    const int wantedThreads = tiled ? ThreadsFor(AJob, static_cast<long long>(w) * h) : 1;
    // Whole strips or tiles avoid decoding one twice; the cap keeps the bands (one per
    // thread) in check.
    const uint32_t capRows = std::max<uint32_t>(
        16, static_cast<uint32_t>((32u << 20) / wantedThreads / (4u * static_cast<unsigned>(w))));
    const uint32_t bandRows =
        std::clamp<uint32_t>(unitRows, 1, std::min<uint32_t>(capRows, static_cast<uint32_t>(h)));

    TFrameSink sink(AJob, AOut, FormatForChannels(4), AOrientation);
    const std::vector<int> bounds =
        wantedThreads > 1 ? PartBounds(h, AOut.height(), static_cast<int>(bandRows), wantedThreads)
                          : std::vector<int>{0, h};
    const int parts = static_cast<int>(bounds.size()) - 1;
    if (parts == 1) {
        TRgbaReader(AJob, ATiff, AFull, bandRows, sink, AOut).Rows(0, h, nullptr);
        return sink.Finish();
    }
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    RunWorkers(std::min(wantedThreads, parts), stop, [&](int AIndex) {
        const auto own = AIndex == 0 ? nullptr : OpenAgain(AJob, ATiff);
        TRgbaReader reader(AJob, own ? *own : ATiff, AFull, bandRows, sink, AOut);
        for (int part = next++; part < parts && !stop.load(); part = next++) {
            reader.Rows(bounds[static_cast<size_t>(part)], bounds[static_cast<size_t>(part) + 1],
                        &stop);
        }
    });
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
