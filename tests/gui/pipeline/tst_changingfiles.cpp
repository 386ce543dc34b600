// Files that change while they are read: a scanner or a copy may cut a file short or
// rewrite it in place while a page of it decodes or is pre-read as a neighbour. Every
// format must end in a picture or in an error that names the file, never in a crash
// (a decoder reading through a memory map of the file dies with SIGBUS on the pages the
// cut took away).
#include "tests/gui/imaging/ImagingFixtures.h"
#include "viewer/DecodePipeline.h"
#include "viewer/ImageDecoding.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdint>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

enum class TChange { Cut, Rewrite };

// Noise-like pixels, so the compressed data spreads over many pages of the file.
void Pixel(int x, int y, uint8_t* px) {
    const uint32_t h = static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 40503u;
    px[0] = static_cast<uint8_t>(h >> 7);
    px[1] = static_cast<uint8_t>(x);
    px[2] = static_cast<uint8_t>(y + (h >> 19));
}

// A fax page of noise in one G4 strip: the decoder reads through the strip as it goes.
void WriteNoiseG4(const QString& APath, int AWidth, int AHeight) {
    TIFF* tif = TIFFOpen(QFile::encodeName(APath).constData(), "w");
    if (!tif)
        throw std::runtime_error("cannot write " + APath.toStdString());
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(AWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(AHeight));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(AHeight));
    std::vector<uint8_t> row(static_cast<size_t>((AWidth + 7) / 8));
    for (int y = 0; y < AHeight; ++y) {
        for (size_t i = 0; i < row.size(); ++i) {
            uint8_t px[3];
            Pixel(int(i), y, px);
            row[i] = px[0];
        }
        TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(tif);
}

struct TFormat {
    const char* Name;
    // Writes the picture AWidth x AHeight large at APath.
    void (*Write)(const QString& APath, int AWidth, int AHeight);
};

const TFormat kFormats[] = {
    {"tiff-lzw-strips",
     [](const QString& APath, int AWidth, int AHeight) {
         WriteRgbTiffOf(APath, AWidth, AHeight, COMPRESSION_LZW, 0, ORIENTATION_TOPLEFT, Pixel);
     }},
    {"tiff-deflate-tiles",
     [](const QString& APath, int AWidth, int AHeight) {
         WriteRgbTiffOf(APath, AWidth, AHeight, COMPRESSION_ADOBE_DEFLATE, 128, ORIENTATION_TOPLEFT,
                        Pixel);
     }},
    {"tiff-g4-one-strip",
     [](const QString& APath, int AWidth, int AHeight) { WriteNoiseG4(APath, AWidth, AHeight); }},
    {"tiff-uncompressed",
     [](const QString& APath, int AWidth, int AHeight) {
         WriteRgbTiffOf(APath, AWidth, AHeight, COMPRESSION_NONE, 0, ORIENTATION_TOPLEFT, Pixel);
     }},
    {"jpeg", [](const QString& APath, int AWidth,
                int AHeight) { WriteJpegOf(APath, AWidth, AHeight, false, 95, {}, Pixel); }},
    {"png", [](const QString& APath, int AWidth,
               int AHeight) { WritePngOf(APath, AWidth, AHeight, 3, false, 0, Pixel); }},
    {"bmp (Qt's reader)",
     [](const QString& APath, int AWidth, int AHeight) {
         QImage image(AWidth, AHeight, QImage::Format_RGB888);
         for (int y = 0; y < AHeight; ++y)
             for (int x = 0; x < AWidth; ++x)
                 Pixel(x, y, image.scanLine(y) + x * 3);
         if (!image.save(APath, "BMP"))
             throw std::runtime_error("cannot write " + APath.toStdString());
     }},
};

// Cuts the file to a third, or rewrites it in place (O_TRUNC, then the other picture's
// bytes), as a scanner writing over its own output does.
void Change(const QString& APath, TChange AChange, const QByteArray& AOther) {
    const QByteArray name = QFile::encodeName(APath);
    if (AChange == TChange::Cut) {
        const QFileInfo info(APath);
        if (::truncate(name.constData(), info.size() / 3) != 0)
            throw std::runtime_error("cannot cut " + APath.toStdString());
        return;
    }
    const int fd = ::open(name.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot rewrite " + APath.toStdString());
    qsizetype done = 0;
    while (done < AOther.size()) {
        const ssize_t n = ::write(fd, AOther.constData() + done, size_t(AOther.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
}

// Puts the whole picture back in place (O_TRUNC and write, not a rename: the decoder
// must see the very file change).
void Restore(const QString& APath, const QByteArray& ABytes) {
    Change(APath, TChange::Rewrite, ABytes);
}

} // namespace

class TChangingFilesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void changedWhileBandsDecode_data();
    void changedWhileBandsDecode();
    void changedOverAndOverWhileDisplayDecodes_data();
    void changedOverAndOverWhileDisplayDecodes();
    void changedWhilePreRead();

private:
    static constexpr int kWidth = 1400;
    static constexpr int kHeight = 1800;
    QTemporaryDir FDir;
    // Per format: the whole picture's bytes and a small other picture's bytes.
    std::vector<QByteArray> FWhole;
    std::vector<QByteArray> FOther;

    QString PathOf(size_t AFormat, const QString& ASuffix) const {
        return FDir.filePath(QStringLiteral("f%1-%2").arg(AFormat).arg(ASuffix));
    }
};

void TChangingFilesTest::initTestCase() {
    QVERIFY(FDir.isValid());
    for (size_t i = 0; i < std::size(kFormats); ++i) {
        const QString whole = PathOf(i, QStringLiteral("whole"));
        const QString other = PathOf(i, QStringLiteral("other"));
        kFormats[i].Write(whole, kWidth, kHeight);
        kFormats[i].Write(other, 90, 70);
        FWhole.push_back(ReadAll(whole));
        FOther.push_back(ReadAll(other));
        // Large enough that a cut to a third leaves many pages of a map without a file.
        QVERIFY2(FWhole.back().size() > 128 * 1024, kFormats[i].Name);
    }
}

void TChangingFilesTest::changedWhileBandsDecode_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("change");
    for (size_t i = 0; i < std::size(kFormats); ++i) {
        QTest::addRow("%s cut", kFormats[i].Name) << int(i) << int(TChange::Cut);
        QTest::addRow("%s rewritten", kFormats[i].Name) << int(i) << int(TChange::Rewrite);
    }
}

// The change comes after the first band, so the decoder has the file open and has read
// its head and first rows: what follows is read from a file that is no longer the one
// opened. The outcome is a whole picture or an error naming the file.
void TChangingFilesTest::changedWhileBandsDecode() {
    QFETCH(int, format);
    QFETCH(int, change);
    const QString path = PathOf(size_t(format), QStringLiteral("banded"));
    WriteAll(path, FWhole[size_t(format)]);
    int bands = 0;
    int rows = 0;
    QString error;
    try {
        DecodeInBands(path, TDecodeOptions(), QSize(kWidth, kHeight), 16,
                      [&](const QImage& ABand, int) {
                          if (bands++ == 0)
                              Change(path, TChange(change), FOther[size_t(format)]);
                          rows += ABand.height();
                      });
    } catch (const TDecodeCancelled&) {
        QFAIL("nothing cancelled this decode");
    } catch (const std::runtime_error& e) {
        error = QString::fromStdString(e.what());
    }
    QVERIFY2(bands >= 1, qPrintable(error));
    if (error.isEmpty())
        QCOMPARE(rows, kHeight);
    else
        QVERIFY2(error.startsWith(QFileInfo(path).fileName() + ": "), qPrintable(error));
}

void TChangingFilesTest::changedOverAndOverWhileDisplayDecodes_data() {
    QTest::addColumn<int>("format");
    for (size_t i = 0; i < std::size(kFormats); ++i)
        QTest::addRow("%s", kFormats[i].Name) << int(i);
}

// Another thread cuts, rewrites and restores the file for as long as the decodes run; the
// moments differ from decode to decode, so some land inside the codec's reads.
void TChangingFilesTest::changedOverAndOverWhileDisplayDecodes() {
    QFETCH(int, format);
    const QString path = PathOf(size_t(format), QStringLiteral("raced"));
    WriteAll(path, FWhole[size_t(format)]);
    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    std::thread changer([&] {
        for (int round = 0; !stop.load(); ++round) {
            Change(path, round % 2 ? TChange::Cut : TChange::Rewrite, FOther[size_t(format)]);
            std::this_thread::yield();
            Restore(path, FWhole[size_t(format)]);
            ++changes;
        }
    });
    int pictures = 0;
    int errors = 0;
    for (int i = 0; i < 12; ++i) {
        try {
            const TDecodedImage decoded = DecodeForDisplay(path, QSize(kWidth / 3, kHeight / 3));
            if (!decoded.image.isNull())
                ++pictures;
        } catch (const std::runtime_error& e) {
            const QString text = QString::fromStdString(e.what());
            if (!text.startsWith(QFileInfo(path).fileName() + ": ")) {
                stop = true;
                changer.join();
                QFAIL(qPrintable(text));
            }
            ++errors;
        }
    }
    stop = true;
    changer.join();
    QCOMPARE(pictures + errors, 12);
    QVERIFY(changes.load() > 0);
}

// Neighbours pre-read by the pipeline while another thread cuts and rewrites them: every
// one ends in the cache as a picture or a failure, and the pipeline stays usable.
void TChangingFilesTest::changedWhilePreRead() {
    std::vector<QString> paths;
    for (size_t i = 0; i < std::size(kFormats); ++i) {
        paths.push_back(PathOf(i, QStringLiteral("neighbour")));
        WriteAll(paths.back(), FWhole[i]);
    }
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (int round = 0; !stop.load(); ++round) {
            for (size_t i = 0; i < paths.size(); ++i) {
                Change(paths[i], (round + int(i)) % 2 ? TChange::Cut : TChange::Rewrite, FOther[i]);
                std::this_thread::yield();
                Restore(paths[i], FWhole[i]);
            }
        }
    });
    TDecodePipeline pipeline(qint64(512) * 1024 * 1024);
    std::vector<TDecodeRequest> requests;
    for (const QString& path : paths)
        requests.push_back({path, 0, TDrawRule{0, 0, false, 1, 1, QSize(kWidth / 2, kHeight / 2)}});
    pipeline.Prefetch(requests);
    const bool settled = QTest::qWaitFor(
        [&] { return pipeline.DecodesStarted() == int(paths.size()) && pipeline.Pending() == 0; },
        60000);
    stop = true;
    changer.join();
    QVERIFY(settled);
    for (const QString& path : paths) {
        const TFrame* frame = pipeline.Cache().Peek({path, 0});
        QVERIFY2(frame, qPrintable(path));
        QVERIFY2(frame->Failed() != !frame->Image.isNull(), qPrintable(path));
    }
}

QTEST_GUILESS_MAIN(TChangingFilesTest)
#include "tst_changingfiles.moc"
