// Peak memory of printing a 600 dpi A3 colour scan at actual size to a 600 dpi PDF,
// against the floor of decoding the same page in the same bands without printing. Each
// measurement runs in its own process (see run.sh): the growth of the peak resident size
// around the work, in MiB.
//   bench_printing --make DIR         writes DIR/a3-600dpi.tif (7016 x 9921 RGB, LZW strips)
//   bench_printing --decode FILE      decodes it in 256-row bands, drawing nothing
//   bench_printing --print FILE PDF   prints it through Qt's printer
#include "viewer/ImageDecoding.h"
#include "viewer/PrintJob.h"

#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>

#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

long StatusKiB(const char* AField) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(AField)) {
            return line.mid(static_cast<int>(std::strlen(AField)))
                .trimmed()
                .split(' ')
                .first()
                .toLong();
        }
    }
    return -1;
}

int Make(const QString& ADir) {
    const int w = 7016;
    const int h = 9921;
    const QString path = ADir + "/a3-600dpi.tif";
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tif) {
        return 1;
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16u);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 600.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 600.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Paper with coloured text lines: compresses like a scan, not like a flat fill.
            const bool ink = (y / 40) % 3 == 0 && (x / 7 + y / 40) % 5 != 0;
            row[static_cast<size_t>(x) * 3] = ink ? 40 : 245;
            row[static_cast<size_t>(x) * 3 + 1] = ink ? 40 : 242;
            row[static_cast<size_t>(x) * 3 + 2] = ink ? 160 : 235;
        }
        if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) < 0) {
            TIFFClose(tif);
            return 1;
        }
    }
    TIFFClose(tif);
    std::printf("%s: %d x %d, full frame at 4 bytes a pixel %.1f MiB\n", qPrintable(path), w, h,
                w * 4.0 * h / (1024 * 1024));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == "--make") {
        return Make(args[2]);
    }
    const long before = StatusKiB("VmRSS:");
    if (args.size() >= 3 && args[1] == "--decode") {
        long rows = 0;
        DecodeInBands(args[2], {}, QSize(), 256,
                      [&rows](const QImage& ABand, int) { rows += ABand.height(); });
        std::printf("decode in bands: %ld rows, peak growth %.1f MiB\n", rows,
                    static_cast<double>(StatusKiB("VmHWM:") - before) / 1024.0);
        return 0;
    }
    if (args.size() >= 4 && args[1] == "--print") {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(args[3]);
        printer.setResolution(600);
        printer.setPageSize(QPageSize(QPageSize::A3));
        TPrintRequest request;
        request.Documents.push_back({args[2], "a3-600dpi.tif", 0, 0});
        request.Options.Size = lvprint::TPrintSize::Actual;
        request.Title = "a3-600dpi.tif";
        const TPrintOutcome outcome = PrintJob(printer, request, nullptr, {});
        if (!outcome.Error.isEmpty() || !outcome.Failures.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(outcome.Error + outcome.Failures.join("; ")));
            return 1;
        }
        std::printf("print to PDF: %d page, peak growth %.1f MiB\n", outcome.PagesPrinted,
                    static_cast<double>(StatusKiB("VmHWM:") - before) / 1024.0);
        return 0;
    }
    std::fprintf(stderr, "usage: %s --make DIR | --decode FILE | --print FILE PDF\n", argv[0]);
    return 2;
}
