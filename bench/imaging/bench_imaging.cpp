// Decoding for display against floors measured in the same run:
//  (a) a 300 dpi A4 bilevel G4 page: floor = libtiff scanline decode + a box filter from
//      1 bit straight to 8-bit grey at the target size;
//  (b) a 24-megapixel JPEG: floor = libjpeg-turbo's decode at the smallest DCT scale
//      (M/8) whose output covers the target size;
//  (c) a 12-megapixel PNG: floor = a plain libpng decode of the whole frame (what a viewer
//      that decodes first and reduces after must pay before it can reduce anything).
// Targets: the viewer's designed image area of 600 x 496 at zoom 0, and the widest zoom
// (4x the fit: 2400 x 1984). Qt's plain paths are timed for reference.
// Usage: bench_imaging [benchmark flags]              timings and ratios (needs repetitions:
//                                                     the ratios use the medians)
//        bench_imaging --make DIR                     write the test files into DIR
//        bench_imaging --peak FILE W H                decode for W x H, print peak memory
//        bench_imaging --peak-libpng FILE             the same for a plain libpng full decode
//        bench_imaging --make-a3 DIR                  write the 600 dpi A3 LZW page into DIR
//        bench_imaging --a3 DIR [benchmark flags]     that page: one-thread libtiff against ours
//        bench_imaging --make-zoom DIR                a 48 MP JPEG and the A3 page, for zooming
#include "viewer/ImageDecoding.h"

#include "../BenchSupport.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace {

QString GDir;
QString G4File() {
    return GDir + "/a4-300dpi-g4.tif";
}
QString JpegFile() {
    return GDir + "/photo-24mp.jpg";
}
QString PngFile() {
    return GDir + "/photo-12mp.png";
}
const QSize FitBox(600, 496);
const QSize Zoom4Box(2400, 1984);

// ---- Test files -----------------------------------------------------------------------

// A text-like page: lines of words made of glyph-sized strokes, ~8% ink.
void MakeG4Page(const QString& APath) {
    const int w = 2480;
    const int h = 3508;
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write the G4 page");
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
    std::vector<uint8_t> row(static_cast<size_t>((w + 7) / 8));
    uint32_t seed = 12345;
    auto rnd = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<uint32_t>(n));
    };
    // Word layout per text line (same pattern seeds per line, varied by line).
    std::vector<std::pair<int, int>> words;
    for (int y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), 0);
        const int lineTop = (y - 300) / 50 * 50 + 300;
        const int inLine = y - lineTop;
        if (y >= 300 && y < h - 300 && inLine < 30) {
            if (inLine == 0) {
                words.clear();
                for (int x = 250; x < w - 250;) {
                    const int len = 40 + rnd(160);
                    words.emplace_back(x, std::min(x + len, w - 250));
                    x += len + 25 + rnd(20);
                }
            }
            for (const auto& [x0, x1] : words) {
                for (int x = x0; x < x1; ++x) {
                    const int cx = (x - x0) % 14;
                    // Vertical stems, plus bars at the top, middle and foot of the glyphs.
                    const bool stem = cx < 4;
                    const bool bar =
                        (inLine < 4 || (inLine >= 13 && inLine < 16) || inLine >= 26) && cx < 10 &&
                        ((x - x0) / 14 + y / 50) % 3;
                    if (stem || bar) {
                        row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80u >> (x % 8));
                    }
                }
            }
        }
        TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(tif);
}

// A 6000 x 4000 photo-like picture (or AW x AH): smooth shapes with fine texture,
// quality 90.
void MakeJpeg(const QString& APath, int AW = 6000, int AH = 4000) {
    const int w = AW;
    const int h = AH;
    FILE* f = std::fopen(APath.toLocal8Bit().constData(), "wb");
    if (!f) {
        throw std::runtime_error("cannot write the JPEG");
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, f);
    info.image_width = w;
    info.image_height = h;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    uint32_t seed = 99;
    // Wave tables: the picture is sums of waves along x, y and the diagonal.
    std::vector<double> alongX(static_cast<size_t>(w) * 3);
    std::vector<double> alongXY(static_cast<size_t>(w + h) * 3);
    for (int i = 0; i < w + h; ++i) {
        for (int c = 0; c < 3; ++c) {
            if (i < w) {
                alongX[static_cast<size_t>(i) * 3 + static_cast<size_t>(c)] =
                    std::sin(i / (97.0 + 13 * c));
            }
            alongXY[static_cast<size_t>(i) * 3 + static_cast<size_t>(c)] =
                30 * std::sin(i / 9.0 + c);
        }
    }
    for (int y = 0; y < h; ++y) {
        double alongY[3];
        for (int c = 0; c < 3; ++c) {
            alongY[c] = 70 * std::cos(y / (71.0 + 17 * c));
        }
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>((seed >> 24) % 24) - 12;
            for (int c = 0; c < 3; ++c) {
                const double v =
                    128 + alongX[static_cast<size_t>(x) * 3 + static_cast<size_t>(c)] * alongY[c] +
                    alongXY[static_cast<size_t>(x + y) * 3 + static_cast<size_t>(c)];
                row[static_cast<size_t>(x) * 3 + static_cast<size_t>(c)] =
                    static_cast<uint8_t>(std::clamp(static_cast<int>(v) + noise, 0, 255));
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(f);
}

// A 4000 x 3000 photo-like picture (the JPEG's waves and grain), RGB, libpng's default
// compression.
void MakePng(const QString& APath) {
    const int w = 4000;
    const int h = 3000;
    FILE* f = std::fopen(APath.toLocal8Bit().constData(), "wb");
    if (!f) {
        throw std::runtime_error("cannot write the PNG");
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        throw std::runtime_error("cannot encode the PNG");
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    uint32_t seed = 7;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>((seed >> 24) % 16) - 8;
            for (int c = 0; c < 3; ++c) {
                const double v =
                    128 + 70 * std::sin(x / (97.0 + 13 * c)) * std::cos(y / (71.0 + 17 * c)) +
                    30 * std::sin((x + y) / 9.0 + c);
                row[static_cast<size_t>(x) * 3 + static_cast<size_t>(c)] =
                    static_cast<uint8_t>(std::clamp(static_cast<int>(v) + noise, 0, 255));
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

// A 600 dpi A3 colour scan, 7000 x 9900 RGB, LZW in libtiff's default strips (one row of
// 21000 bytes each): paper with grain, blocks of print and a photo-like band.
QString A3File() {
    return GDir + "/a3-600dpi-lzw.tif";
}
void MakeA3(const QString& APath) {
    const int w = 7000;
    const int h = 9900;
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write the A3 TIFF");
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    uint32_t seed = 5;
    for (int y = 0; y < h; ++y) {
        const bool photo = y >= 4000 && y < 6500;
        const bool printLine = !photo && (y / 60) % 3 != 2 && (y % 60) < 40;
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = static_cast<int>((seed >> 24) % 6);
            for (int c = 0; c < 3; ++c) {
                int v = 246 - grain + c;
                if (photo && x >= 500 && x < 6500) {
                    v = 128 +
                        static_cast<int>(90 * std::sin(x / (61.0 + 7 * c)) *
                                         std::cos(y / (53.0 + 11 * c))) +
                        grain * 3;
                } else if (printLine && x >= 600 && x < 6400 && ((x / 23) % 5) != 4 &&
                           ((x + y) % 23) < 9) {
                    v = 30 + grain * 4 + c * 10;
                }
                row[static_cast<size_t>(x) * 3 + static_cast<size_t>(c)] =
                    static_cast<uint8_t>(std::clamp(v, 0, 255));
            }
        }
        if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) < 0) {
            throw std::runtime_error("cannot write the A3 TIFF");
        }
    }
    TIFFClose(tif);
}

// The three samples the decoding benchmarks and the viewer's read.
void MakeSamples(const QString& ADir) {
    GDir = ADir;
    MakeG4Page(G4File());
    MakeJpeg(JpegFile());
    MakePng(PngFile());
}

// ---- Floors ---------------------------------------------------------------------------

// libpng's plain full decode: every row into one frame, as stored (RGB), nothing else.
// The frame is left uninitialised, as any decoder's own frame is: zeroing it first would
// make the floor slower than it has to be.
std::unique_ptr<uint8_t[]> LibpngFull(const QString& APath, size_t* ASize = nullptr) {
    FILE* f = std::fopen(APath.toLocal8Bit().constData(), "rb");
    if (!f) {
        throw std::runtime_error("cannot read the PNG");
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        throw std::runtime_error("cannot decode the PNG");
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    auto pixels = std::make_unique_for_overwrite<uint8_t[]>(rowBytes * h);
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y) {
        rows[y] = pixels.get() + rowBytes * y;
    }
    if (ASize) {
        *ASize = rowBytes * h;
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return pixels;
}

// libtiff's decode of every row on one thread, nothing done with the rows: the part of a
// TIFF decode no reduction can avoid.
void LibtiffRowsOnly(const QString& APath) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "r");
    uint32_t h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t y = 0; y < h; ++y) {
        TIFFReadScanline(tif, line.data(), y, 0);
    }
    benchmark::DoNotOptimize(line);
    TIFFClose(tif);
}

// libtiff scanlines + box filter, 1 bit -> 8-bit grey, nothing else.
std::vector<uint8_t> G4Floor(QSize ABox) {
    TIFF* tif = TIFFOpen(G4File().toLocal8Bit().constData(), "r");
    uint32_t w = 0;
    uint32_t h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    const QSize out = DecodeSizeWithin(QSize(int(w), int(h)), ABox);
    const auto ow = static_cast<uint32_t>(out.width());
    const auto oh = static_cast<uint32_t>(out.height());
    std::vector<uint32_t> xbin(w);
    std::vector<uint32_t> colw(ow, 0);
    for (uint32_t x = 0; x < w; ++x) {
        xbin[x] = static_cast<uint32_t>(uint64_t{x} * ow / w);
        ++colw[xbin[x]];
    }
    std::vector<uint32_t> rowh(oh, 0);
    for (uint32_t y = 0; y < h; ++y) {
        ++rowh[uint64_t{y} * oh / h];
    }
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tif)));
    std::vector<uint32_t> counts(ow, 0);
    std::vector<uint8_t> grey(static_cast<size_t>(ow) * oh);
    uint32_t oy = 0;
    auto flush = [&] {
        for (uint32_t ox = 0; ox < ow; ++ox) {
            const uint64_t area = uint64_t{colw[ox]} * rowh[oy];
            grey[size_t{oy} * ow + ox] =
                static_cast<uint8_t>(255 - (uint64_t{counts[ox]} * 255 + area / 2) / area);
            counts[ox] = 0;
        }
    };
    for (uint32_t y = 0; y < h; ++y) {
        TIFFReadScanline(tif, line.data(), y, 0);
        const auto ny = static_cast<uint32_t>(uint64_t{y} * oh / h);
        if (ny != oy) {
            flush();
            oy = ny;
        }
        for (uint32_t bx = 0; bx < line.size(); ++bx) {
            const uint8_t b = line[bx];
            if (b == 0) {
                continue;
            }
            for (uint32_t bit = 0; bit < 8; ++bit) {
                if (b & (0x80u >> bit) && bx * 8 + bit < w) {
                    ++counts[xbin[bx * 8 + bit]];
                }
            }
        }
    }
    flush();
    TIFFClose(tif);
    return grey;
}

unsigned DctScaleFor(unsigned AW, unsigned AH, QSize AOut) {
    for (unsigned m = 1; m <= 8; ++m) {
        if ((AW * m + 7) / 8 >= unsigned(AOut.width()) &&
            (AH * m + 7) / 8 >= unsigned(AOut.height())) {
            return m;
        }
    }
    return 8;
}

// libjpeg-turbo at the DCT scale that first covers the target, nothing else.
std::vector<uint8_t> JpegFloor(QSize ABox) {
    FILE* f = std::fopen(JpegFile().toLocal8Bit().constData(), "rb");
    jpeg_decompress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, f);
    jpeg_read_header(&info, TRUE);
    const QSize out = DecodeSizeWithin(QSize(int(info.image_width), int(info.image_height)), ABox);
    info.scale_num = DctScaleFor(info.image_width, info.image_height, out);
    info.scale_denom = 8;
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    std::vector<uint8_t> pixels(size_t{info.output_width} * info.output_height * 4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {&pixels[size_t{info.output_scanline} * info.output_width * 4]};
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(f);
    return pixels;
}

// ---- Benchmarks -----------------------------------------------------------------------

QSize BoxArg(const benchmark::State& AState) {
    return AState.range(0) ? Zoom4Box : FitBox;
}
const char* BoxName(int64_t AArg) {
    return AArg ? "zoom4" : "fit";
}

// Ours at the fit, on as many threads as it takes (ARange: 0 = every core) .
void A3_DecodeForDisplay(benchmark::State& state) {
    TDecodeOptions options;
    options.Threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeForDisplay(A3File(), FitBox, options));
    }
}
void RegisterA3() {
    const auto unit = benchmark::kMillisecond;
    // The A3 floor: libtiff's decode of every row on one thread.
    benchmark::RegisterBenchmark("A3_LibtiffOneThread",
                                 [](benchmark::State& state) {
                                     for (auto _ : state) {
                                         LibtiffRowsOnly(A3File());
                                     }
                                 })
        ->Unit(unit)
        ->UseRealTime();
    benchmark::RegisterBenchmark("A3_DecodeForDisplay/cores", A3_DecodeForDisplay)
        ->Arg(0)
        ->Unit(unit)
        ->UseRealTime();
    benchmark::RegisterBenchmark("A3_DecodeForDisplay/one", A3_DecodeForDisplay)
        ->Arg(1)
        ->Unit(unit)
        ->UseRealTime();
}

// Each benchmark decodes one sample in one way; those taking a box run at the fit and at
// the widest zoom.
using TDecodeInBox = void (*)(QSize);
void Register() {
    const auto unit = benchmark::kMillisecond;
    const auto once = [unit](const std::string& AName, void (*ADecode)()) {
        benchmark::RegisterBenchmark(AName.c_str(), [ADecode](benchmark::State& state) {
            for (auto _ : state) {
                ADecode();
            }
        })->Unit(unit);
    };
    once("Png_LibpngFull/full", [] { benchmark::DoNotOptimize(LibpngFull(PngFile())); });
    // For reference: libtiff's scanline decode alone.
    once("G4_LibtiffDecodeOnly", [] { LibtiffRowsOnly(G4File()); });
    const std::pair<const char*, TDecodeInBox> inBox[] = {
        {"G4_Floor", [](QSize ABox) { benchmark::DoNotOptimize(G4Floor(ABox)); }},
        {"G4_DecodeForDisplay",
         [](QSize ABox) { benchmark::DoNotOptimize(DecodeForDisplay(G4File(), ABox)); }},
        // Qt's plain path: decode to 1 bit, convert, smooth scale.
        {"G4_QtPlain",
         [](QSize ABox) {
             QImage image(G4File());
             image = image.convertToFormat(QImage::Format_Grayscale8)
                         .scaled(ABox, Qt::KeepAspectRatio, Qt::SmoothTransformation);
             benchmark::DoNotOptimize(image);
         }},
        {"Jpeg_Floor", [](QSize ABox) { benchmark::DoNotOptimize(JpegFloor(ABox)); }},
        {"Jpeg_DecodeForDisplay",
         [](QSize ABox) { benchmark::DoNotOptimize(DecodeForDisplay(JpegFile(), ABox)); }},
        {"Jpeg_QtScaledSize",
         [](QSize ABox) {
             QImageReader reader(JpegFile());
             reader.setScaledSize(DecodeSizeWithin(reader.size(), ABox));
             benchmark::DoNotOptimize(reader.read());
         }},
        {"Png_DecodeForDisplay",
         [](QSize ABox) { benchmark::DoNotOptimize(DecodeForDisplay(PngFile(), ABox)); }},
        // For reference: Qt's reader, whole frame then reduced (the way before libpng row
        // by row).
        {"Png_QtScaled",
         [](QSize ABox) {
             QImageReader reader(PngFile());
             reader.setScaledSize(DecodeSizeWithin(reader.size(), ABox));
             benchmark::DoNotOptimize(reader.read());
         }},
    };
    for (int64_t box : {0, 1}) {
        for (const auto& [name, decode] : inBox) {
            benchmark::RegisterBenchmark((std::string(name) + "/" + BoxName(box)).c_str(),
                                         [decode = decode](benchmark::State& state) {
                                             const QSize target = BoxArg(state);
                                             for (auto _ : state) {
                                                 decode(target);
                                             }
                                         })
                ->Arg(box)
                ->Unit(unit);
        }
    }
}

// Collects the median of each benchmark to print ratios against the floors.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    TRatioReporter() : ConsoleReporter(OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                std::string name = run.run_name.str();
                const std::string key = name.substr(0, name.find('/', name.find('/') + 1));
                Medians[key] = run.GetAdjustedRealTime();
                CpuMedians[key] = run.GetAdjustedCPUTime();
            }
        }
    }
    std::map<std::string, double> Medians;
    std::map<std::string, double> CpuMedians;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "--make") == 0) {
        MakeSamples(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--make-a3") == 0) {
        GDir = QString::fromLocal8Bit(argv[2]);
        MakeA3(A3File());
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--make-zoom") == 0) {
        // For the zoom stalls (bench/viewer/responsiveness.sh zoom): a 48 MP JPEG and the A3.
        GDir = QString::fromLocal8Bit(argv[2]);
        MakeJpeg(GDir + "/photo-48mp.jpg", 8000, 6000);
        MakeA3(A3File());
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--a3") == 0) {
        // The A3 page of --make-a3 DIR: the floor and ours, for bench/imaging/a3-tiff.sh.
        GDir = QString::fromLocal8Bit(argv[2]);
        RegisterA3();
        int bargc = argc - 2;
        std::vector<char*> bargv{argv[0]};
        for (int i = 3; i < argc; ++i) {
            bargv.push_back(argv[i]);
        }
        benchmark::Initialize(&bargc, bargv.data());
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        return 0;
    }
    if (argc >= 5 && std::strcmp(argv[1], "--peak") == 0) {
        const long before = lvbench::StatusKb("VmHWM:");
        const QSize box(std::atoi(argv[3]), std::atoi(argv[4]));
        const TDecodedImage decoded = DecodeForDisplay(QString::fromLocal8Bit(argv[2]), box);
        const long after = lvbench::StatusKb("VmHWM:");
        std::printf(
            "%s for %dx%d: %dx%d image, peak RSS grew by %.1f MiB (whole process %.1f MiB)\n",
            argv[2], box.width(), box.height(), decoded.image.width(), decoded.image.height(),
            static_cast<double>(after - before) / 1024.0, static_cast<double>(after) / 1024.0);
        return 0;
    }

    if (argc >= 3 && std::strcmp(argv[1], "--peak-libpng") == 0) {
        const long before = lvbench::StatusKb("VmHWM:");
        size_t size = 0;
        const auto frame = LibpngFull(QString::fromLocal8Bit(argv[2]), &size);
        const long after = lvbench::StatusKb("VmHWM:");
        std::printf("%s, plain libpng full decode: %zu bytes, peak RSS grew by %.1f MiB\n", argv[2],
                    size, static_cast<double>(after - before) / 1024.0);
        return 0;
    }

    QTemporaryDir dir;
    MakeSamples(dir.path());

    Register();
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nRatios (medians against the floor of the same run; CPU time in brackets):\n");
    for (const char* box : {"fit", "zoom4"}) {
        for (const auto& [subject, floor, goal] :
             {std::tuple{"G4_DecodeForDisplay", "G4_Floor", 1.5},
              std::tuple{"G4_QtPlain", "G4_Floor", 1.5},
              std::tuple{"Jpeg_DecodeForDisplay", "Jpeg_Floor", 1.2},
              std::tuple{"Jpeg_QtScaledSize", "Jpeg_Floor", 1.2},
              std::tuple{"Png_DecodeForDisplay", "Png_LibpngFull", 0.9},
              std::tuple{"Png_QtScaled", "Png_LibpngFull", 0.9}}) {
            const std::string s = std::string(subject) + "/" + box;
            const std::string f =
                std::string(floor) + "/" + (std::string(floor) == "Png_LibpngFull" ? "full" : box);
            if (reporter.Medians.count(s) && reporter.Medians.count(f)) {
                std::printf("  %-28s %7.2f ms / %-16s %7.2f ms = %.2fx [%.2fx] (goal <= %.1fx)\n",
                            s.c_str(), reporter.Medians[s], f.c_str(), reporter.Medians[f],
                            reporter.Medians[s] / reporter.Medians[f],
                            reporter.CpuMedians[s] / reporter.CpuMedians[f], goal);
            }
        }
    }
    return 0;
}
