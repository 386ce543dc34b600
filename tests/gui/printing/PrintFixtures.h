// Scans made by the tests and PDFs read back through poppler (pdfinfo, pdfimages,
// pdftoppm): what a printed job really holds, page by page.
#pragma once

#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace printfixtures {

// One page of a bilevel TIFF: white paper with black rectangles.
struct TBilevelPage {
    int Width = 0;
    int Height = 0;
    std::vector<QRect> Black;
    double Dpi = 300; // 0 writes no resolution
};

// Writes every page as its own directory of one G4 TIFF, row by row.
inline void WriteBilevelPages(const QString& APath, const std::vector<TBilevelPage>& APages) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    bool ok = true;
    for (size_t n = 0; n < APages.size() && ok; ++n) {
        const TBilevelPage& page = APages[n];
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(page.Width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.Height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.Height));
        if (APages.size() > 1) {
            TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(n),
                         static_cast<uint16_t>(APages.size()));
        }
        if (page.Dpi > 0) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(page.Dpi));
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(page.Dpi));
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        }
        std::vector<uint8_t> row(static_cast<size_t>((page.Width + 7) / 8));
        for (int y = 0; y < page.Height && ok; ++y) {
            std::fill(row.begin(), row.end(), 0x00);
            for (const QRect& r : page.Black) {
                if (y < r.top() || y > r.bottom()) {
                    continue;
                }
                for (int x = std::max(0, r.left()); x <= std::min(page.Width - 1, r.right()); ++x) {
                    row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80u >> (x % 8));
                }
            }
            ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    if (!ok) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
}

// A picture saved through Qt (PNG, JPEG) at ADpi (Qt writes its own 96 dpi when ADpi is 0:
// a file without any resolution is a TIFF written with none).
inline void WritePicture(const QString& APath, QSize ASize, const std::vector<QRect>& ABlack,
                         double ADpi) {
    QImage image(ASize, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (const QRect& r : ABlack) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                image.setPixel(x, y, qRgb(0, 0, 0));
            }
        }
    }
    if (ADpi > 0) {
        image.setDotsPerMeterX(qRound(ADpi / 0.0254));
        image.setDotsPerMeterY(qRound(ADpi / 0.0254));
    }
    if (!image.save(APath)) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
}

inline QString Run(const QString& AProgram, const QStringList& AArgs) {
    QProcess process;
    process.start(AProgram, AArgs);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        throw std::runtime_error(
            (AProgram + " " + AArgs.join(' ') + " failed: " + process.readAllStandardError())
                .toStdString());
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Pages of a PDF; throws when poppler cannot read it (a corrupt file).
inline int PdfPages(const QString& APdf) {
    const QRegularExpressionMatch m =
        QRegularExpression("^Pages:\\s+(\\d+)", QRegularExpression::MultilineOption)
            .match(Run("pdfinfo", {APdf}));
    if (!m.hasMatch()) {
        throw std::runtime_error("no page count in " + APdf.toStdString());
    }
    return m.captured(1).toInt();
}

inline QString PdfTitle(const QString& APdf) {
    const QRegularExpressionMatch m =
        QRegularExpression("^Title:[ \\t]*(.*)$", QRegularExpression::MultilineOption)
            .match(Run("pdfinfo", {APdf}));
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

// The paper size of each page in millimetres.
inline std::vector<QSizeF> PdfPageSizes(const QString& APdf) {
    const int pages = PdfPages(APdf);
    const QString info = Run("pdfinfo", {"-f", "1", "-l", QString::number(pages), APdf});
    std::vector<QSizeF> sizes;
    QRegularExpressionMatchIterator it =
        QRegularExpression("^Page\\s+\\d+\\s+size:\\s+([\\d.]+) x ([\\d.]+) pts",
                           QRegularExpression::MultilineOption)
            .globalMatch(info);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        sizes.emplace_back(m.captured(1).toDouble() * 25.4 / 72,
                           m.captured(2).toDouble() * 25.4 / 72);
    }
    return sizes;
}

// The pixel sizes of the images a PDF holds, in the order pdfimages lists them, with the
// 1-based page each is on.
struct TPdfImage {
    int Page = 0;
    QSize Size;
};
inline std::vector<TPdfImage> PdfImages(const QString& APdf) {
    const QStringList lines = Run("pdfimages", {"-list", APdf}).split('\n');
    std::vector<TPdfImage> images;
    for (int i = 2; i < lines.size(); ++i) {
        const QStringList f = lines[i].simplified().split(' ');
        if (f.size() > 4 && f[2] == "image") {
            images.push_back({f[0].toInt(), QSize(f[3].toInt(), f[4].toInt())});
        }
    }
    return images;
}

// Renders one page (1-based) at ADpi.
inline QImage RenderPdfPage(const QString& APdf, int APage, int ADpi) {
    const QString stem = APdf + QStringLiteral("-p%1-%2").arg(APage).arg(ADpi);
    Run("pdftoppm", {"-f", QString::number(APage), "-l", QString::number(APage), "-r",
                     QString::number(ADpi), "-gray", "-png", "-singlefile", APdf, stem});
    return QImage(stem + ".png");
}

// The bounding box of the dark pixels (grey below AThreshold), empty for a blank page.
inline QRect InkBox(const QImage& AImage, int AThreshold = 128) {
    QRect box;
    const QImage grey = AImage.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x) {
            if (line[x] < AThreshold) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

// A box in pixels at ADpi, in millimetres.
inline QRectF Millimetres(const QRect& APixels, int ADpi) {
    const double k = 25.4 / ADpi;
    return {APixels.x() * k, APixels.y() * k, APixels.width() * k, APixels.height() * k};
}

// A PDF printer on A4 with Qt's default margins, at its high resolution.
inline std::unique_ptr<QPrinter>
PdfPrinter(const QString& AFile, QPageLayout::Orientation AOrientation = QPageLayout::Portrait) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(AFile);
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setPageOrientation(AOrientation);
    printer->setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    return printer;
}

} // namespace printfixtures
