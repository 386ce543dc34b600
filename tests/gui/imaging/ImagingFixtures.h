// Image files for the imaging tests, written with the real encoders.
#pragma once

#include <QImage>
#include <QString>

#include <tiffio.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

// Writes a bilevel page: white paper with a black rectangle [x0,x1) x [y0,y1).
// AOneIsBlack picks the photometric (min-is-white when true), ACompression the codec.
inline void WriteBilevelTiff(const QString& APath, int AWidth, int AHeight, QRect ABlack,
                             uint16_t ACompression = COMPRESSION_CCITTFAX4,
                             bool AOneIsBlack = true) {
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
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(AHeight));
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

// Writes an 8-bit RGB TIFF row by row (no full frame in memory): left half red, right
// half blue. ATileSize > 0 writes tiles instead of strips.
inline void WriteRgbTiff(const QString& APath, int AWidth, int AHeight, uint16_t ACompression,
                         int ATileSize = 0) {
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
    auto pixel = [&](int x, uint8_t* px) {
        px[0] = x < AWidth / 2 ? 220 : 20;
        px[1] = 20;
        px[2] = x < AWidth / 2 ? 20 : 220;
    };
    bool ok = true;
    if (ATileSize > 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(ATileSize));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, static_cast<uint32_t>(ATileSize));
        std::vector<uint8_t> tile(static_cast<size_t>(ATileSize) * ATileSize * 3);
        for (int ty = 0; ty < AHeight && ok; ty += ATileSize) {
            for (int tx = 0; tx < AWidth && ok; tx += ATileSize) {
                for (int y = 0; y < ATileSize; ++y) {
                    for (int x = 0; x < ATileSize; ++x) {
                        pixel(tx + x, &tile[static_cast<size_t>((y * ATileSize + x) * 3)]);
                    }
                }
                ok = TIFFWriteTile(tif, tile.data(), static_cast<uint32_t>(tx),
                                   static_cast<uint32_t>(ty), 0, 0) >= 0;
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
        std::vector<uint8_t> row(static_cast<size_t>(AWidth) * 3);
        for (int x = 0; x < AWidth; ++x) {
            pixel(x, &row[static_cast<size_t>(x) * 3]);
        }
        for (int y = 0; y < AHeight && ok; ++y) {
            ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) >= 0;
        }
    }
    TIFFClose(tif);
    if (!ok) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
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

// Writes a JPEG row by row (no full frame in memory): left half red, right half blue, or
// grey levels when AGrey.
inline void WriteJpeg(const QString& APath, int AWidth, int AHeight, bool AGrey = false,
                      int AQuality = 90) {
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
    std::vector<uint8_t> row(static_cast<size_t>(AWidth) * (AGrey ? 1 : 3));
    for (int x = 0; x < AWidth; ++x) {
        if (AGrey) {
            row[static_cast<size_t>(x)] = x < AWidth / 2 ? 30 : 220;
        } else {
            uint8_t* px = &row[static_cast<size_t>(x) * 3];
            px[0] = x < AWidth / 2 ? 220 : 20;
            px[1] = 20;
            px[2] = x < AWidth / 2 ? 20 : 220;
        }
    }
    for (int y = 0; y < AHeight; ++y) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}
