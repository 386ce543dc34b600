// Image files for the imaging tests, written with the real encoders.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <utility>
#include <vector>

// The largest difference of any channel between two images of one size.
inline int MaxDifference(const QImage& A, const QImage& B) {
    int most = 0;
    for (int y = 0; y < A.height(); ++y) {
        for (int x = 0; x < A.width(); ++x) {
            const QRgb a = A.pixel(x, y);
            const QRgb b = B.pixel(x, y);
            most = std::max({most, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                             std::abs(qBlue(a) - qBlue(b))});
        }
    }
    return most;
}

// A file's bytes, or an exception naming it.
inline QByteArray ReadAll(const QString& APath) {
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot read " + APath.toStdString());
    }
    return f.readAll();
}

inline void WriteAll(const QString& APath, const QByteArray& AData) {
    QFile f(APath);
    if (!f.open(QIODevice::WriteOnly) || f.write(AData) != AData.size()) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
}

// Writes a bilevel page: white paper with a black rectangle [x0,x1) x [y0,y1).
// AOneIsBlack picks the photometric (min-is-white when true), ACompression the codec.
// ARowsPerStrip 0: the page in one strip.
inline void WriteBilevelTiff(const QString& APath, int AWidth, int AHeight, QRect ABlack,
                             uint16_t ACompression = COMPRESSION_CCITTFAX4, bool AOneIsBlack = true,
                             int ARowsPerStrip = 0) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(AWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(AHeight));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, ACompression);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 AOneIsBlack ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 static_cast<uint32_t>(ARowsPerStrip > 0 ? ARowsPerStrip : AHeight));
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<uint8_t> row(static_cast<size_t>((AWidth + 7) / 8));
    for (int y = 0; y < AHeight; ++y) {
        std::fill(row.begin(), row.end(), AOneIsBlack ? 0x00 : 0xFF);
        if (y >= ABlack.top() && y <= ABlack.bottom()) {
            for (int x = ABlack.left(); x <= ABlack.right(); ++x) {
                const auto bit = static_cast<uint8_t>(0x80u >> (x % 8));
                if (AOneIsBlack) {
                    row[static_cast<size_t>(x / 8)] |= bit;
                } else {
                    row[static_cast<size_t>(x / 8)] &= static_cast<uint8_t>(~bit);
                }
            }
        }
        if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) < 0) {
            TIFFClose(tif);
            throw std::runtime_error("cannot write row of " + APath.toStdString());
        }
    }
    TIFFClose(tif);
}

// Writes an 8-bit RGB TIFF row by row (no full frame in memory), APixel(x, y, rgb) giving
// each pixel. ATileSize > 0 writes tiles instead of strips; AOrientation other than 1 goes
// into the orientation tag (the pixels stay as given: that is how they are stored).
template <class TPixel>
void WriteRgbTiffOf(const QString& APath, int AWidth, int AHeight, uint16_t ACompression,
                    int ATileSize, int AOrientation, TPixel APixel) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(AWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(AHeight));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, ACompression);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (AOrientation != ORIENTATION_TOPLEFT) {
        TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<uint16_t>(AOrientation));
    }
    bool ok = true;
    if (ATileSize > 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(ATileSize));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, static_cast<uint32_t>(ATileSize));
        std::vector<uint8_t> tile(static_cast<size_t>(ATileSize) * ATileSize * 3);
        for (int ty = 0; ty < AHeight && ok; ty += ATileSize) {
            for (int tx = 0; tx < AWidth && ok; tx += ATileSize) {
                for (int y = 0; y < ATileSize; ++y) {
                    for (int x = 0; x < ATileSize; ++x) {
                        APixel(tx + x, ty + y, &tile[static_cast<size_t>((y * ATileSize + x) * 3)]);
                    }
                }
                ok = TIFFWriteTile(tif, tile.data(), static_cast<uint32_t>(tx),
                                   static_cast<uint32_t>(ty), 0, 0) >= 0;
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
        std::vector<uint8_t> row(static_cast<size_t>(AWidth) * 3);
        for (int y = 0; y < AHeight && ok; ++y) {
            for (int x = 0; x < AWidth; ++x) {
                APixel(x, y, &row[static_cast<size_t>(x) * 3]);
            }
            ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) >= 0;
        }
    }
    TIFFClose(tif);
    if (!ok) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
}

// Left half red, right half blue.
inline void WriteRgbTiff(const QString& APath, int AWidth, int AHeight, uint16_t ACompression,
                         int ATileSize = 0) {
    WriteRgbTiffOf(APath, AWidth, AHeight, ACompression, ATileSize, ORIENTATION_TOPLEFT,
                   [AWidth](int x, int, uint8_t* px) {
                       px[0] = x < AWidth / 2 ? 220 : 20;
                       px[1] = 20;
                       px[2] = x < AWidth / 2 ? 20 : 220;
                   });
}

// Writes an 8-bit min-is-white grey TIFF with an alpha sample (fully opaque): dark on the
// left half (stored 225), light on the right (stored 35).
inline void WriteGreyAlphaMinIsWhiteTiff(const QString& APath, int AWidth, int AHeight) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(AWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(AHeight));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 2);
    const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> row(static_cast<size_t>(AWidth) * 2);
    for (int x = 0; x < AWidth; ++x) {
        row[static_cast<size_t>(x) * 2] = x < AWidth / 2 ? 225 : 35;
        row[static_cast<size_t>(x) * 2 + 1] = 255;
    }
    for (int y = 0; y < AHeight; ++y) {
        TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(tif);
}

#include <cstdio>
#include <jpeglib.h>

// Writes a JPEG row by row (no full frame in memory), APixel(x, y, samples) giving each
// pixel (one grey sample when AGrey, else R, G, B). AApp1, when given, is written as an
// APP1 marker (e.g. an EXIF block, see ExifApp1).
template <class TPixel>
void WriteJpegOf(const QString& APath, int AWidth, int AHeight, bool AGrey, int AQuality,
                 const QByteArray& AApp1, TPixel APixel) {
    FILE* file = std::fopen(APath.toLocal8Bit().constData(), "wb");
    if (!file) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(AWidth);
    info.image_height = static_cast<JDIMENSION>(AHeight);
    info.input_components = AGrey ? 1 : 3;
    info.in_color_space = AGrey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, AQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (!AApp1.isEmpty()) {
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(AApp1.constData()),
                          static_cast<unsigned>(AApp1.size()));
    }
    const size_t samples = AGrey ? 1 : 3;
    std::vector<uint8_t> row(static_cast<size_t>(AWidth) * samples);
    for (int y = 0; y < AHeight; ++y) {
        for (int x = 0; x < AWidth; ++x) {
            APixel(x, y, &row[static_cast<size_t>(x) * samples]);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

// A JPEG of one grey level with a JFIF density (unit 0: aspect only, 1: per inch, 2: per
// centimetre) and, when given, an APP1 block.
inline void WriteJpegWithDensity(const QString& APath, int AUnit, int AXDensity, int AYDensity,
                                 const QByteArray& AApp1 = {}) {
    FILE* file = std::fopen(APath.toLocal8Bit().constData(), "wb");
    if (!file) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = 64;
    info.image_height = 48;
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    info.write_JFIF_header = TRUE;
    info.density_unit = static_cast<UINT8>(AUnit);
    info.X_density = static_cast<UINT16>(AXDensity);
    info.Y_density = static_cast<UINT16>(AYDensity);
    jpeg_start_compress(&info, TRUE);
    if (!AApp1.isEmpty()) {
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(AApp1.constData()),
                          static_cast<unsigned>(AApp1.size()));
    }
    std::vector<uint8_t> row(64, 128);
    for (int y = 0; y < 48; ++y) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

// Left half red, right half blue, or dark left and light right when AGrey.
inline void WriteJpeg(const QString& APath, int AWidth, int AHeight, bool AGrey = false,
                      int AQuality = 90) {
    WriteJpegOf(APath, AWidth, AHeight, AGrey, AQuality, {}, [=](int x, int, uint8_t* px) {
        if (AGrey) {
            px[0] = x < AWidth / 2 ? 30 : 220;
        } else {
            px[0] = x < AWidth / 2 ? 220 : 20;
            px[1] = 20;
            px[2] = x < AWidth / 2 ? 20 : 220;
        }
    });
}

// The body of an EXIF APP1 marker: "Exif\0\0" and a TIFF structure in either byte order
// whose first directory holds a camera make and then the orientation (a plain SHORT).
inline QByteArray ExifApp1(int AOrientation, bool ABigEndian) {
    QByteArray tiff;
    auto put = [&](uint32_t AValue, int ABytes) {
        for (int i = 0; i < ABytes; ++i) {
            const int shift = 8 * (ABigEndian ? ABytes - 1 - i : i);
            tiff.append(static_cast<char>((AValue >> shift) & 0xFF));
        }
    };
    tiff.append(ABigEndian ? "MM" : "II");
    put(42, 2);
    put(8, 4);      // first directory right after the header
    put(2, 2);      // two entries
    put(0x010F, 2); // Make, ASCII, 6 bytes, stored after the directory
    put(2, 2);
    put(6, 4);
    put(8 + 2 + 2 * 12 + 4, 4);
    put(0x0112, 2); // Orientation, SHORT, 1, left-justified in the value field
    put(3, 2);
    put(1, 4);
    put(static_cast<uint32_t>(AOrientation), 2);
    put(0, 2);
    put(0, 4); // no next directory
    tiff.append("Lumi\0\0", 6);
    return QByteArray("Exif\0\0", 6) + tiff;
}

#include <QColor>
#include <QFile>

// One page of a multi-page TIFF: its stored size, a fill colour, and its orientation tag
// (the pixels are stored as given). A black square of a tenth of the shorter side marks
// the stored top left corner, so a test can tell how the page was turned.
struct TColourTiffPage {
    QSize Size;
    QColor Fill;
    int Orientation = ORIENTATION_TOPLEFT;
};

// Writes the pages as successive image directories, 8-bit RGB, LZW, one strip a page.
inline void WriteColourPagesTiff(const QString& APath, const std::vector<TColourTiffPage>& APages) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    bool ok = true;
    for (std::size_t i = 0; i < APages.size() && ok; ++i) {
        const TColourTiffPage& page = APages[i];
        const int w = page.Size.width();
        const int h = page.Size.height();
        const int mark = std::max(1, std::min(w, h) / 10);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(h));
        TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<uint16_t>(page.Orientation));
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(i),
                     static_cast<uint16_t>(APages.size()));
        std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
        for (int y = 0; y < h && ok; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool marked = x < mark && y < mark;
                uint8_t* px = &row[static_cast<size_t>(x) * 3];
                px[0] = marked ? 0 : static_cast<uint8_t>(page.Fill.red());
                px[1] = marked ? 0 : static_cast<uint8_t>(page.Fill.green());
                px[2] = marked ? 0 : static_cast<uint8_t>(page.Fill.blue());
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

// Points the one strip of page APage (0-based) of a classic little-endian TIFF past the end
// of the file, so that page fails to decode while the others stay intact.
inline void BreakTiffPageStrip(const QString& APath, int APage) {
    QFile file(APath);
    if (!file.open(QIODevice::ReadWrite)) {
        throw std::runtime_error("cannot open " + APath.toStdString());
    }
    QByteArray bytes = file.readAll();
    const auto u16 = [&](qsizetype at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]) |
                                     static_cast<uint8_t>(bytes[at + 1]) << 8);
    };
    const auto u32 = [&](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    if (bytes.size() < 8 || !bytes.startsWith("II")) {
        throw std::runtime_error("not a little-endian TIFF: " + APath.toStdString());
    }
    qsizetype ifd = u32(4);
    for (int page = 0; page < APage && ifd != 0; ++page) {
        ifd = u32(ifd + 2 + 12 * static_cast<qsizetype>(u16(ifd)));
    }
    if (ifd == 0) {
        throw std::runtime_error("no such page in " + APath.toStdString());
    }
    const uint32_t entries = u16(ifd);
    for (uint32_t i = 0; i < entries; ++i) {
        const qsizetype entry = ifd + 2 + 12 * static_cast<qsizetype>(i);
        if (u16(entry) == TIFFTAG_STRIPOFFSETS && u32(entry + 4) == 1) {
            const uint32_t beyond = 0x7FFFFF00u;
            file.seek(entry + 8);
            const char value[4] = {
                static_cast<char>(beyond & 0xFF), static_cast<char>((beyond >> 8) & 0xFF),
                static_cast<char>((beyond >> 16) & 0xFF), static_cast<char>((beyond >> 24) & 0xFF)};
            file.write(value, 4);
            return;
        }
    }
    throw std::runtime_error("no single strip offset on that page of " + APath.toStdString());
}

// One page of a scanned document (a multi-page TIFF): its size as stored, orientation tag,
// resolution (0: no resolution tags), and whether it is bilevel (G4, a black block over the upper
// left quarter) or 8-bit RGB (LZW, red upper left quarter on white).
struct TDocumentPage {
    QSize Size;
    int Orientation = 1;
    double Dpi = 300;
    bool Bilevel = true;
    double DpiY = 0; // 0: as Dpi
};

// Writes the pages as the directories of one TIFF, in order.
inline void WriteDocumentTiff(const QString& APath, const std::vector<TDocumentPage>& APages) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    bool ok = true;
    for (size_t p = 0; p < APages.size() && ok; ++p) {
        const TDocumentPage& page = APages[p];
        const int w = page.Size.width();
        const int h = page.Size.height();
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, page.Bilevel ? 1 : 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, page.Bilevel ? 1 : 3);
        TIFFSetField(tif, TIFFTAG_COMPRESSION,
                     page.Bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     page.Bilevel ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.Bilevel ? h : 16));
        TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<uint16_t>(page.Orientation));
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p),
                     static_cast<uint16_t>(APages.size()));
        if (page.Dpi > 0) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(page.Dpi));
            TIFFSetField(tif, TIFFTAG_YRESOLUTION,
                         static_cast<float>(page.DpiY > 0 ? page.DpiY : page.Dpi));
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        }
        std::vector<uint8_t> row(page.Bilevel ? static_cast<size_t>((w + 7) / 8)
                                              : static_cast<size_t>(w) * 3);
        for (int y = 0; y < h && ok; ++y) {
            std::fill(row.begin(), row.end(), page.Bilevel ? 0x00 : 0xFF);
            if (y < h / 2) {
                for (int x = 0; x < w / 2; ++x) {
                    if (page.Bilevel) {
                        row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80u >> (x % 8));
                    } else {
                        row[static_cast<size_t>(x) * 3 + 1] = 20;
                        row[static_cast<size_t>(x) * 3 + 2] = 20;
                    }
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

// Where the coded data of page APage (0-based) starts and how long it is: its first strip.
inline std::pair<qint64, qint64> TiffPageData(const QString& APath, int APage) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "r");
    if (!tif || !TIFFSetDirectory(tif, static_cast<tdir_t>(APage))) {
        if (tif) {
            TIFFClose(tif);
        }
        throw std::runtime_error("cannot read the pages of " + APath.toStdString());
    }
    const auto offset = static_cast<qint64>(TIFFGetStrileOffset(tif, 0));
    const auto length = static_cast<qint64>(TIFFGetStrileByteCount(tif, 0));
    TIFFClose(tif);
    return {offset, length};
}

#include <png.h>

// Writes a PNG row by row with libpng (no full frame in memory): AChannels 1 (grey), 2 (grey
// and alpha), 3 (RGB) or 4 (RGBA), 8 bits; Adam7 interlaced when AInterlaced; a pHYs chunk
// of ADotsPerMetre when it is above 0; an eXIf chunk when AExif (a TIFF structure, as in
// the body of a JPEG's EXIF block after "Exif\0\0") is given. APixel(x, y, samples) gives
// each pixel.
template <class TPixel>
void WritePngOf(const QString& APath, int AWidth, int AHeight, int AChannels, bool AInterlaced,
                int ADotsPerMetre, TPixel APixel, const QByteArray& AExif = {}) {
    FILE* file = std::fopen(APath.toLocal8Bit().constData(), "wb");
    if (!file) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        throw std::runtime_error("cannot encode " + APath.toStdString());
    }
    png_init_io(png, file);
    const int types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                         PNG_COLOR_TYPE_RGB_ALPHA};
    png_set_IHDR(png, info, static_cast<png_uint_32>(AWidth), static_cast<png_uint_32>(AHeight), 8,
                 types[AChannels - 1], AInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (ADotsPerMetre > 0) {
        png_set_pHYs(png, info, static_cast<png_uint_32>(ADotsPerMetre),
                     static_cast<png_uint_32>(ADotsPerMetre), PNG_RESOLUTION_METER);
    }
    if (!AExif.isEmpty()) {
        QByteArray exif = AExif;
        png_set_eXIf_1(png, info, static_cast<png_uint_32>(exif.size()),
                       reinterpret_cast<png_bytep>(exif.data()));
    }
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    const int passes = AInterlaced ? png_set_interlace_handling(png) : 1;
    std::vector<uint8_t> row(static_cast<size_t>(AWidth) * static_cast<size_t>(AChannels));
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < AHeight; ++y) {
            for (int x = 0; x < AWidth; ++x) {
                APixel(x, y, &row[static_cast<size_t>(x) * static_cast<size_t>(AChannels)]);
            }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}
