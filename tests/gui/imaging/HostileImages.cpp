#include "HostileImages.h"

#include "ImagingFixtures.h"

#include <QFile>
#include <QImage>
#include <QRandomGenerator>

#include <stdexcept>

namespace {

void PutLittle(QByteArray& AData, qsizetype AAt, quint32 AValue, int ABytes) {
    for (int i = 0; i < ABytes; ++i) {
        AData[AAt + i] = static_cast<char>((AValue >> (8 * i)) & 0xFF);
    }
}

void PutBig(QByteArray& AData, qsizetype AAt, quint32 AValue, int ABytes) {
    for (int i = 0; i < ABytes; ++i) {
        AData[AAt + i] = static_cast<char>((AValue >> (8 * (ABytes - 1 - i))) & 0xFF);
    }
}

quint32 Little(const QByteArray& AData, qsizetype AAt, int ABytes) {
    quint32 value = 0;
    for (int i = ABytes - 1; i >= 0; --i) {
        value = value << 8 | static_cast<uchar>(AData[AAt + i]);
    }
    return value;
}

quint32 Crc32(const QByteArray& AData) {
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : AData) {
        crc ^= static_cast<uchar>(ch);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// Sets the value of tag ATag in the first directory of a little-endian classic TIFF, in
// place, as the entry's own type (SHORT or LONG) holds it.
void SetTiffTag(QByteArray& AData, int ATag, quint32 AValue) {
    const qsizetype ifd = Little(AData, 4, 4);
    const int entries = static_cast<int>(Little(AData, ifd, 2));
    for (int i = 0; i < entries; ++i) {
        const qsizetype at = ifd + 2 + qsizetype{12} * i;
        if (static_cast<int>(Little(AData, at, 2)) == ATag) {
            const quint32 type = Little(AData, at + 2, 2);
            PutLittle(AData, at + 8, AValue, type == 3 ? 2 : 4);
            return;
        }
    }
    throw std::runtime_error("tag not in the directory");
}

// The classic 1 x 1 GIF: header, screen, two-colour table, image, LZW data, trailer.
QByteArray TinyGif() {
    return QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
                      ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                      35);
}

QByteArray Random(QRandomGenerator& AGenerator, qsizetype ACount) {
    QByteArray data(ACount, '\0');
    for (auto& c : data) {
        c = static_cast<char>(AGenerator.bounded(256));
    }
    return data;
}

// A 1-bit page of paper only: the worst case for a decompression bomb, since deflate
// codes it at about 1000:1.
void WriteBlankBilevelPng(const QString& APath, int ASide, bool AInterlaced) {
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
    png_set_IHDR(png, info, static_cast<png_uint_32>(ASide), static_cast<png_uint_32>(ASide), 1,
                 PNG_COLOR_TYPE_GRAY, AInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_write_info(png, info);
    const int passes = AInterlaced ? png_set_interlace_handling(png) : 1;
    std::vector<uint8_t> row(static_cast<size_t>((ASide + 7) / 8), 0xFF);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < ASide; ++y) {
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

void WriteBlankBilevelTiff(const QString& APath, int ASide, uint16_t ACompression) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(ASide));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(ASide));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, ACompression);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(ASide)); // one strip
    if (ACompression == COMPRESSION_ADOBE_DEFLATE) {
        TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 9);
    }
    std::vector<uint8_t> row(static_cast<size_t>((ASide + 7) / 8), 0);
    for (int y = 0; y < ASide; ++y) {
        TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(tif);
}

// A small progressive JPEG (libjpeg's own scan script).
void WriteProgressiveJpeg(const QString& APath, int AWidth, int AHeight) {
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
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(AWidth) * 3);
    for (int y = 0; y < AHeight; ++y) {
        for (int x = 0; x < AWidth; ++x) {
            row[static_cast<size_t>(x) * 3] = static_cast<uint8_t>(x * 7);
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<uint8_t>(y * 5);
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(x ^ y);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

// Sets the size in a JPEG's start-of-frame marker (baseline C0 or progressive C2).
void SetJpegSize(QByteArray& AData, int AWidth, int AHeight) {
    qsizetype sof = AData.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0) {
        sof = AData.indexOf(QByteArray("\xFF\xC2", 2));
    }
    if (sof < 0) {
        throw std::runtime_error("no start of frame");
    }
    PutBig(AData, sof + 5, static_cast<quint32>(AHeight), 2);
    PutBig(AData, sof + 7, static_cast<quint32>(AWidth), 2);
}

} // namespace

std::vector<THostileImage> WriteHostileImages(const QString& AFolder) {
    std::vector<THostileImage> corpus;
    const auto path = [&](const QString& AName) { return AFolder + "/" + AName; };
    // Must fail, with AReason in the message (any reason when empty).
    const auto add = [&](const QString& AName, const QString& AWhat, const QString& AReason) {
        corpus.push_back({AName, AWhat, false, AReason});
    };
    // Must decode.
    const auto shows = [&](const QString& AName, const QString& AWhat) {
        corpus.push_back({AName, AWhat, true, {}});
    };
    QRandomGenerator random(20261210);

    // Zero bytes, under every name the viewer lists.
    for (const char* ext : {"tif", "jpg", "png", "gif", "bmp", "lva"}) {
        WriteAll(path(QStringLiteral("empty.%1").arg(ext)), {});
        add(QStringLiteral("empty.%1").arg(ext), QStringLiteral("zero bytes named .%1").arg(ext),
            "not an image format that can be read");
    }

    // A valid signature, then noise.
    const std::vector<std::tuple<const char*, QByteArray, const char*>> signatures = {
        {"noise-ii.tif", QByteArray("II*\0", 4), "not a readable TIFF"},
        {"noise-mm.tif", QByteArray("MM\0*", 4), "not a readable TIFF"},
        {"noise.jpg", QByteArray("\xFF\xD8\xFF\xE0", 4), "JPEG data is truncated or corrupt"},
        {"noise.png", QByteArray("\x89PNG\r\n\x1A\n", 8), "PNG data is truncated or corrupt"},
        {"noise.gif", QByteArray("GIF89a"), ""},
        {"noise.bmp", QByteArray("BM"), ""},
    };
    for (const auto& [name, signature, reason] : signatures) {
        WriteAll(path(name), signature + Random(random, 4096));
        add(name, QStringLiteral("random bytes after the signature"), reason);
    }

    // Cut files of every kind and coding.
    const auto cut = [&](const QString& AWhole, const QString& AName, double AKeep,
                         const QString& AWhat, const QString& AReason) {
        const QByteArray whole = ReadAll(AWhole);
        WriteAll(path(AName),
                 whole.left(static_cast<qsizetype>(static_cast<double>(whole.size()) * AKeep)));
        QFile::remove(AWhole);
        add(AName, AWhat, AReason);
    };
    WriteBilevelTiff(path("whole.tif"), 2480, 3508, QRect(400, 1000, 800, 800));
    cut(path("whole.tif"), "cut-g4.tif", 0.6, "bilevel G4 page cut at 60%", "not a readable TIFF");
    WriteRgbTiff(path("whole.tif"), 600, 400, COMPRESSION_LZW);
    cut(path("whole.tif"), "cut-lzw.tif", 0.6, "LZW colour page cut at 60%", "not a readable TIFF");
    WriteBilevelTiff(path("whole.tif"), 1200, 1600, QRect(0, 0, 600, 600),
                     COMPRESSION_ADOBE_DEFLATE);
    cut(path("whole.tif"), "cut-deflate.tif", 0.6, "deflate bilevel page cut at 60%",
        "not a readable TIFF");
    WriteJpeg(path("whole.jpg"), 1200, 800);
    cut(path("whole.jpg"), "cut.jpg", 0.6, "baseline JPEG cut at 60%", "truncated or corrupt");
    WriteProgressiveJpeg(path("whole.jpg"), 1200, 800);
    cut(path("whole.jpg"), "cut-progressive.jpg", 0.6, "progressive JPEG cut at 60%",
        "truncated or corrupt");
    const auto noisy = [](int x, int y, uint8_t* px) {
        px[0] = static_cast<uint8_t>(x * 13 + y);
        px[1] = static_cast<uint8_t>(y * 7);
        px[2] = static_cast<uint8_t>(x ^ y);
    };
    WritePngOf(path("whole.png"), 1200, 800, 3, false, 0, noisy);
    cut(path("whole.png"), "cut.png", 0.6, "PNG cut at 60%", "truncated or corrupt");
    WritePngOf(path("whole.png"), 1200, 800, 3, true, 0, noisy);
    cut(path("whole.png"), "cut-interlaced.png", 0.6, "interlaced PNG cut at 60%",
        "truncated or corrupt");
    WriteAll(path("cut.gif"), TinyGif().left(24));
    add("cut.gif", "GIF cut inside its image descriptor", "");
    {
        QImage picture(300, 200, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        picture.save(path("whole.bmp"), "BMP");
    }
    cut(path("whole.bmp"), "cut.bmp", 0.6, "BMP cut at 60%", "truncated or corrupt");

    // Coded data damaged inside a whole file.
    {
        WriteBilevelTiff(path("garbled-g4.tif"), 2480, 3508, QRect(400, 1000, 800, 800));
        const auto [offset, length] = TiffPageData(path("garbled-g4.tif"), 0);
        QByteArray data = ReadAll(path("garbled-g4.tif"));
        for (qint64 i = offset + length / 2; i < offset + length; ++i) {
            data[i] = '\0';
        }
        WriteAll(path("garbled-g4.tif"), data);
        add("garbled-g4.tif", "G4 rows wiped (the fax decoder only warns)", "truncated or corrupt");
    }
    {
        WritePngOf(path("badcrc.png"), 300, 200, 3, false, 0, noisy);
        QByteArray data = ReadAll(path("badcrc.png"));
        const qsizetype idat = data.indexOf("IDAT");
        data[idat + 10] = static_cast<char>(data[idat + 10] ^ 0x55);
        WriteAll(path("badcrc.png"), data);
        add("badcrc.png", "PNG image data failing its CRC", "truncated or corrupt");
    }

    // Strips and tiles that lie about where or how large they are.
    {
        WriteBilevelTiff(path("strip-past-end.tif"), 800, 600, QRect(0, 0, 100, 100),
                         COMPRESSION_NONE); // one strip: the offset is the entry's value
        QByteArray data = ReadAll(path("strip-past-end.tif"));
        SetTiffTag(data, TIFFTAG_STRIPOFFSETS, 0x7FFFFFF0u);
        WriteAll(path("strip-past-end.tif"), data);
        add("strip-past-end.tif", "strip offsets past the end of the file", "truncated or corrupt");
    }
    {
        WriteBilevelTiff(path("strip-count-4g.tif"), 800, 600, QRect(0, 0, 100, 100));
        QByteArray data = ReadAll(path("strip-count-4g.tif"));
        SetTiffTag(data, TIFFTAG_STRIPBYTECOUNTS, 0xFFFFFFF0u);
        WriteAll(path("strip-count-4g.tif"), data);
        add("strip-count-4g.tif", "a strip claiming 4 GB in a small file", "truncated or corrupt");
    }
    {
        // A picture of 20000 x 20000 declared over one row's worth of data.
        WriteRgbTiff(path("rows-missing.tif"), 600, 1, COMPRESSION_NONE);
        QByteArray data = ReadAll(path("rows-missing.tif"));
        SetTiffTag(data, TIFFTAG_IMAGEWIDTH, 20000);
        SetTiffTag(data, TIFFTAG_IMAGELENGTH, 20000);
        SetTiffTag(data, TIFFTAG_ROWSPERSTRIP, 20000);
        WriteAll(path("rows-missing.tif"), data);
        add("rows-missing.tif", "20000 x 20000 colour declared over one row of data", "");
    }
    {
        WriteRgbTiff(path("tile-65520.tif"), 64, 64, COMPRESSION_NONE, 16);
        QByteArray data = ReadAll(path("tile-65520.tif"));
        SetTiffTag(data, TIFFTAG_TILEWIDTH, 65520);
        SetTiffTag(data, TIFFTAG_TILELENGTH, 65520);
        WriteAll(path("tile-65520.tif"), data);
        add("tile-65520.tif", "tiles of 65520 x 65520 on a small page", "");
    }
    {
        WriteRgbTiff(path("ifd-entries.tif"), 64, 64, COMPRESSION_NONE);
        QByteArray data = ReadAll(path("ifd-entries.tif"));
        PutLittle(data, Little(data, 4, 4), 0xFFFF, 2);
        WriteAll(path("ifd-entries.tif"), data);
        add("ifd-entries.tif", "a directory claiming 65535 entries", "");
    }
    {
        // Page 2's next directory is page 1: the chain loops.
        WriteDocumentTiff(path("ifd-loop.tif"), {{QSize(200, 300)}, {QSize(300, 200)}});
        QByteArray data = ReadAll(path("ifd-loop.tif"));
        const quint32 first = Little(data, 4, 4);
        const quint32 second = Little(data, first + 2 + 12 * Little(data, first, 2), 4);
        PutLittle(data, second + 2 + 12 * Little(data, second, 2), first, 4);
        WriteAll(path("ifd-loop.tif"), data);
        shows("ifd-loop.tif", "a directory chain that loops back to page 1");
    }

    // Bombs: small files that declare large pictures, within the size limits.
    WriteBlankBilevelPng(path("bomb.png"), 24000, false);
    shows("bomb.png", "PNG of 24000 x 24000 in a few dozen KB");
    WriteBlankBilevelPng(path("bomb-interlaced.png"), 24000, true);
    shows("bomb-interlaced.png", "interlaced PNG of 24000 x 24000");
    QFile::copy(path("bomb.png"), path("0001~BOMB.lva"));
    shows("0001~BOMB.lva", "container holding the PNG bomb");
    WriteBlankBilevelTiff(path("bomb-deflate.tif"), 20000, COMPRESSION_ADOBE_DEFLATE);
    shows("bomb-deflate.tif", "deflate TIFF of 20000 x 20000 in one strip");
    {
        WriteProgressiveJpeg(path("bomb-progressive.jpg"), 64, 48);
        QByteArray data = ReadAll(path("bomb-progressive.jpg"));
        SetJpegSize(data, 24000, 24000);
        WriteAll(path("bomb-progressive.jpg"), data);
        // Its whole-image coefficient store alone would be 1.6 GB.
        add("bomb-progressive.jpg", "progressive JPEG declaring 24000 x 24000", "more memory");
    }
    {
        WriteJpeg(path("bomb-baseline.jpg"), 64, 48);
        QByteArray data = ReadAll(path("bomb-baseline.jpg"));
        SetJpegSize(data, 24000, 24000);
        WriteAll(path("bomb-baseline.jpg"), data);
        add("bomb-baseline.jpg", "baseline JPEG declaring 24000 x 24000", "truncated or corrupt");
    }
    {
        QByteArray data = TinyGif();
        for (const qsizetype at : {6, 6 + 7 + 6 + 5}) { // screen, then image descriptor
            PutLittle(data, at, 20000, 2);
            PutLittle(data, at + 2, 20000, 2);
        }
        WriteAll(path("bomb.gif"), data);
        add("bomb.gif", "GIF declaring 20000 x 20000", "more than the");
    }
    {
        QImage small(8, 8, QImage::Format_RGB32);
        small.fill(Qt::gray);
        small.save(path("bomb.bmp"), "BMP");
        QByteArray data = ReadAll(path("bomb.bmp"));
        PutLittle(data, 18, 20000, 4);
        PutLittle(data, 22, 20000, 4);
        WriteAll(path("bomb.bmp"), data);
        add("bomb.bmp", "BMP declaring 20000 x 20000", "truncated or corrupt");
    }
    {
        // Past the limits: refused before anything is read.
        QImage small(8, 8, QImage::Format_RGB32);
        small.fill(Qt::gray);
        small.save(path("huge.png"), "PNG");
        QByteArray data = ReadAll(path("huge.png"));
        PutBig(data, 16, 70000, 4);
        PutBig(data, 20, 70000, 4);
        PutBig(data, 29, Crc32(data.mid(12, 17)), 4);
        WriteAll(path("huge.png"), data);
        add("huge.png", "PNG declaring 70000 x 70000", "too large");
    }
    return corpus;
}
