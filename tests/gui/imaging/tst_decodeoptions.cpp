// What a decode is asked for beside the size: the page of a multi-page file (each with its
// own size, orientation and resolution, a broken one failing alone), the resolution a file
// records, stopping when the caller cancels, and the memory budget.
#include "AllocationMeter.h"
#include "ImagingFixtures.h"
#include "viewer/ImageDecoding.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <stdexcept>
#include <tuple>

namespace {

// Which quarter of AImage is dark: the stored upper left quarter of every fixture page is.
QString DarkQuarter(const QImage& AImage) {
    QStringList dark;
    for (const auto& [name, fx, fy] :
         {std::tuple{"top-left", 1, 1}, std::tuple{"top-right", 3, 1},
          std::tuple{"bottom-left", 1, 3}, std::tuple{"bottom-right", 3, 3}}) {
        if (qGray(AImage.pixel(AImage.width() * fx / 4, AImage.height() * fy / 4)) < 128) {
            dark << name;
        }
    }
    return dark.isEmpty() ? QStringLiteral("none") : dark.join(" and ");
}

// An EXIF block (APP1 body) with orientation, X and Y resolution and their unit.
QByteArray ExifWithResolution(int AOrientation, quint32 AX, quint32 AY, int AUnit) {
    QByteArray tiff;
    auto put = [&](quint32 AValue, int ABytes) {
        for (int i = 0; i < ABytes; ++i) {
            tiff.append(static_cast<char>((AValue >> (8 * i)) & 0xFF));
        }
    };
    tiff.append("II");
    put(42, 2);
    put(8, 4);
    put(4, 2);
    const quint32 data = 8 + 2 + 4 * 12 + 4;
    put(0x0112, 2), put(3, 2), put(1, 4), put(static_cast<quint32>(AOrientation), 4);
    put(0x011A, 2), put(5, 2), put(1, 4), put(data, 4);
    put(0x011B, 2), put(5, 2), put(1, 4), put(data + 8, 4);
    put(0x0128, 2), put(3, 2), put(1, 4), put(static_cast<quint32>(AUnit), 4);
    put(0, 4);
    put(AX * 10, 4), put(10, 4);
    put(AY * 10, 4), put(10, 4);
    return QByteArray("Exif\0\0", 6) + tiff;
}

void WriteTiffResolution(const QString& APath, float AX, float AY, uint16_t AUnit) {
    TIFF* tif = TIFFOpen(APath.toLocal8Bit().constData(), "w");
    if (!tif) {
        throw std::runtime_error("cannot write " + APath.toStdString());
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 64u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 8u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, AX);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, AY);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, AUnit);
    std::vector<uint8_t> row(8, 0);
    for (uint32_t y = 0; y < 8; ++y) {
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
}

// The five pages of the document used throughout, as stored.
const std::vector<TDocumentPage> Pages = {
    {QSize(620, 877), 1, 75},             // A4 portrait
    {QSize(1240, 877), 1, 150},           // A3 landscape
    {QSize(877, 620), 6, 200, true, 100}, // stored turned, unequal resolution
    {QSize(300, 200), 3, 72, false},      // colour, upside down
    {QSize(500, 400), 1, 0},              // no resolution
};

// Where the stored upper left quarter shows, by orientation.
const char* const QuarterFor[] = {"top-left", "top-right", "bottom-right", "bottom-left",
                                  "top-left", "top-right", "bottom-right", "bottom-left"};

} // namespace

class TDecodeOptionsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void eachPageHasItsOwnGeometry_data();
    void eachPageHasItsOwnGeometry();
    void brokenPageFailsAlone_data();
    void brokenPageFailsAlone();
    void resolution_data();
    void resolution();
    void cancel_data();
    void cancel();
    void memoryBudget_data();
    void memoryBudget();

private:
    QString Path(const QString& AName) const { return FDir.filePath(AName); }
    QString WriteKind(const QString& AKind);
    QTemporaryDir FDir;
};

void TDecodeOptionsTest::initTestCase() {
    QVERIFY(FDir.isValid());
    WriteDocumentTiff(Path("invoice.tif"), Pages);
    QVERIFY(QFile::copy(Path("invoice.tif"), Path("0007~B.lva")));
}

void TDecodeOptionsTest::eachPageHasItsOwnGeometry_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("page");
    for (int p = 0; p < int(Pages.size()); ++p) {
        QTest::addRow("tif page %d", p + 1) << "invoice.tif" << p;
    }
    QTest::newRow("container holding the document, page 3") << "0007~B.lva" << 2;
    QTest::newRow("container holding the document, page 5") << "0007~B.lva" << 4;
}

void TDecodeOptionsTest::eachPageHasItsOwnGeometry() {
    QFETCH(QString, file);
    QFETCH(int, page);
    const TDocumentPage& stored = Pages[size_t(page)];
    const bool turned = stored.Orientation >= 5;
    const QSize upright = turned ? stored.Size.transposed() : stored.Size;
    const double dpiY = stored.DpiY > 0 ? stored.DpiY : stored.Dpi;
    const QSizeF dpi = stored.Dpi <= 0 ? QSizeF()
                       : turned        ? QSizeF(dpiY, stored.Dpi)
                                       : QSizeF(stored.Dpi, dpiY);
    TDecodeOptions options;
    options.Page = page;

    QCOMPARE(ReadPageCount(Path(file)), 5);
    const TDecodedImage header = ReadImageHeader(Path(file), options);
    QVERIFY(header.image.isNull());
    QCOMPARE(header.fullSize, upright);
    QCOMPARE(header.page, page);
    QCOMPARE(header.pageCount, 5);
    QCOMPARE(header.dotsPerInch, dpi);

    QSize seen;
    const TDecodedImage decoded = DecodeForDisplay(
        Path(file),
        [&](QSize AFull) {
            seen = AFull;
            return QSize(200, 200);
        },
        options);
    QCOMPARE(seen, upright);
    QCOMPARE(decoded.fullSize, upright);
    QCOMPARE(decoded.page, page);
    QCOMPARE(decoded.pageCount, 5);
    QCOMPARE(decoded.dotsPerInch, dpi);
    QCOMPARE(decoded.image.size(), DecodeSizeWithin(upright, QSize(200, 200)));
    QCOMPARE(DarkQuarter(decoded.image), QString(QuarterFor[stored.Orientation - 1]));
}

void TDecodeOptionsTest::brokenPageFailsAlone_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("page 3's coded rows wiped") << "rows"
                                               << "truncated or corrupt";
    QTest::newRow("page 3's strip points past the end of the file") << "offset"
                                                                    << "truncated or corrupt";
}

// A scanner that wrote one page badly must not cost the others.
void TDecodeOptionsTest::brokenPageFailsAlone() {
    QFETCH(QString, damage);
    QFETCH(QString, reason);
    const QString file = Path("broken-" + damage + ".tif");
    WriteDocumentTiff(file, Pages);
    QByteArray data = ReadAll(file);
    const auto [offset, length] = TiffPageData(file, 2);
    if (damage == "rows") {
        for (qint64 i = offset + 8; i < offset + length; ++i) {
            data[i] = '\0';
        }
    } else {
        // The strip offset entry of page 3's directory holds its single strip's offset.
        TIFF* tif = TIFFOpen(file.toLocal8Bit().constData(), "r");
        QVERIFY(tif && TIFFSetDirectory(tif, 2));
        const auto ifd = static_cast<qint64>(TIFFCurrentDirOffset(tif));
        TIFFClose(tif);
        const int entries = uchar(data[ifd]) | uchar(data[ifd + 1]) << 8;
        bool found = false;
        for (int i = 0; i < entries; ++i) {
            const qint64 at = ifd + 2 + qint64{12} * i;
            if ((uchar(data[at]) | uchar(data[at + 1]) << 8) == TIFFTAG_STRIPOFFSETS) {
                data[at + 8] = '\x00';
                data[at + 9] = '\x00';
                data[at + 10] = '\x00';
                data[at + 11] = '\x70';
                found = true;
            }
        }
        QVERIFY(found);
    }
    WriteAll(file, data);

    QCOMPARE(ReadPageCount(file), 5);
    for (int page = 0; page < 5; ++page) {
        TDecodeOptions options;
        options.Page = page;
        if (page != 2) {
            const TDecodedImage decoded = DecodeForDisplay(file, QSize(100, 100), options);
            QCOMPARE(decoded.page, page);
            QVERIFY(!decoded.image.isNull());
            continue;
        }
        try {
            DecodeForDisplay(file, QSize(100, 100), options);
            QFAIL("the broken page decoded");
        } catch (const TDecodeCancelled&) {
            QFAIL("a broken page reported as cancelled");
        } catch (const std::runtime_error& e) {
            const QString message = QString::fromUtf8(e.what());
            QVERIFY2(message.startsWith("broken-" + damage + ".tif: page 3: "), e.what());
            QVERIFY2(message.contains(reason), e.what());
        }
    }
    TDecodeOptions past;
    past.Page = 5;
    try {
        ReadImageHeader(file, past);
        QFAIL("page 6 of 5 read");
    } catch (const std::runtime_error& e) {
        QVERIFY2(QString::fromUtf8(e.what()).contains("page 6"), e.what());
    }
}

void TDecodeOptionsTest::resolution_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSizeF>("dpi"); // upright
    QTest::newRow("TIFF per inch") << "inch.tif" << QSizeF(300, 150);
    QTest::newRow("TIFF per centimetre") << "cm.tif" << QSizeF(300, 300);
    QTest::newRow("TIFF without a unit has none") << "nounit.tif" << QSizeF();
    QTest::newRow("JPEG JFIF per inch") << "jfif-inch.jpg" << QSizeF(300, 600);
    QTest::newRow("JPEG JFIF per centimetre") << "jfif-cm.jpg" << QSizeF(200, 200);
    QTest::newRow("JPEG JFIF aspect only, EXIF per inch") << "exif.jpg" << QSizeF(240, 240);
    QTest::newRow("JPEG EXIF of a turned picture comes upright")
        << "exif-turned.jpg" << QSizeF(100, 200);
    QTest::newRow("JPEG without any") << "none.jpg" << QSizeF();
    QTest::newRow("PNG pHYs per metre") << "phys.png" << QSizeF(300, 300);
    QTest::newRow("PNG without pHYs") << "nophys.png" << QSizeF();
}

void TDecodeOptionsTest::resolution() {
    QFETCH(QString, name);
    QFETCH(QSizeF, dpi);
    const QString file = Path(name);
    if (name == "inch.tif") {
        WriteTiffResolution(file, 300, 150, RESUNIT_INCH);
    } else if (name == "cm.tif") {
        WriteTiffResolution(file, 300 / 2.54f, 300 / 2.54f, RESUNIT_CENTIMETER);
    } else if (name == "nounit.tif") {
        WriteTiffResolution(file, 300, 300, RESUNIT_NONE);
    } else if (name == "jfif-inch.jpg") {
        WriteJpegWithDensity(file, 1, 300, 600);
    } else if (name == "jfif-cm.jpg") {
        WriteJpegWithDensity(file, 2, 200, 200); // 200 dots per cm would be 508 dpi
    } else if (name == "exif.jpg") {
        WriteJpegWithDensity(file, 0, 1, 1, ExifWithResolution(1, 240, 240, 2));
    } else if (name == "exif-turned.jpg") {
        WriteJpegWithDensity(file, 0, 1, 1, ExifWithResolution(6, 200, 100, 2));
    } else if (name == "none.jpg") {
        WriteJpegWithDensity(file, 0, 1, 1);
    } else {
        WritePngOf(file, 32, 16, 3, false, name == "phys.png" ? 11811 : 0,
                   [](int, int, uint8_t* px) { px[0] = px[1] = px[2] = 128; });
    }
    if (name == "jfif-cm.jpg") {
        dpi = QSizeF(508, 508);
    }
    const QSizeF seen = ReadImageHeader(file).dotsPerInch;
    QCOMPARE(seen.isEmpty(), dpi.isEmpty());
    QVERIFY2(qAbs(seen.width() - dpi.width()) < 0.1 && qAbs(seen.height() - dpi.height()) < 0.1,
             qPrintable(QStringLiteral("%1 x %2").arg(seen.width()).arg(seen.height())));
    QCOMPARE(DecodeForDisplay(file, QSize(16, 16)).dotsPerInch, ReadImageHeader(file).dotsPerInch);
}

void TDecodeOptionsTest::cancel_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"tiff bilevel", "tiff rgb strips", "tiff rgb tiles", "jpeg", "png",
                             "png interlaced", "bmp"}) {
        QTest::newRow(kind) << kind;
    }
}

QString TDecodeOptionsTest::WriteKind(const QString& AKind) {
    QString file = Path("cancel-" + QString(AKind).replace(' ', '-'));
    const auto rgb = [](int x, int y, uint8_t* px) {
        px[0] = static_cast<uint8_t>(x);
        px[1] = static_cast<uint8_t>(y);
        px[2] = 90;
    };
    if (AKind == "tiff bilevel") {
        WriteBilevelTiff(file, 1200, 1600, QRect(100, 100, 300, 300));
    } else if (AKind.startsWith("tiff rgb")) {
        WriteRgbTiffOf(file, 800, 1200, COMPRESSION_LZW, AKind.endsWith("tiles") ? 64 : 0, 1, rgb);
    } else if (AKind == "jpeg") {
        WriteJpegOf(file, 800, 1200, false, 80, {}, rgb);
    } else if (AKind.startsWith("png")) {
        WritePngOf(file, 800, 1200, 3, AKind.endsWith("interlaced"), 0, rgb);
    } else {
        QImage picture(800, 1200, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        if (!picture.save(file, "BMP")) {
            throw std::runtime_error("cannot write BMP");
        }
    }
    return file;
}

// A superseded decode stops between rows: once the flag is up, no further row is worked
// on and the caller gets TDecodeCancelled, not a load error.
void TDecodeOptionsTest::cancel() {
    QFETCH(QString, kind);
    const QString file = WriteKind(kind);
    std::atomic<bool> cancel{false};
    TDecodeOptions options;
    options.Cancel = &cancel;

    // Raised once the header is read, before any row.
    try {
        DecodeForDisplay(
            file,
            [&](QSize) {
                cancel = true;
                return QSize(300, 300);
            },
            options);
        QFAIL("a cancelled decode finished");
    } catch (const TDecodeCancelled& e) {
        QVERIFY2(QString::fromUtf8(e.what()).startsWith(QFileInfo(file).fileName() + ": "),
                 e.what());
    }

    // Raised by the first band: the decode must not go on to another.
    cancel = false;
    int bandsAfter = 0;
    int bands = 0;
    try {
        DecodeInBands(file, options, QSize(400, 600), 16, [&](const QImage&, int) {
            ++bands;
            if (cancel) {
                ++bandsAfter;
            }
            cancel = true;
        });
        QFAIL("a cancelled band decode finished");
    } catch (const TDecodeCancelled&) {
    }
    QCOMPARE(bands, 1);
    QCOMPARE(bandsAfter, 0);

    // Not raised: the same decode goes through.
    cancel = false;
    QCOMPARE(DecodeForDisplay(file, QSize(300, 300), options).image.isNull(), false);
}

void TDecodeOptionsTest::memoryBudget_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind :
         {"tiff rgb strips", "tiff rgb tiles", "jpeg", "png", "png interlaced", "bmp"}) {
        QTest::newRow(kind) << kind;
    }
}

// A decode whose result alone would pass the budget is refused before it allocates; one
// that fits keeps within the budget, measured on the heap.
void TDecodeOptionsTest::memoryBudget() {
    QFETCH(QString, kind);
    const QString file = WriteKind(kind);
    TDecodeOptions options;
    options.MemoryBudget = qint64{2} * 1024 * 1024; // the full frame is 3.7 MiB
    try {
        const AllocationMeter::TScope meter;
        DecodeForDisplay(file, QSize(), options);
        QFAIL("a full frame past the budget was decoded");
    } catch (const std::runtime_error& e) {
        QVERIFY2(QString::fromUtf8(e.what()).contains("more than the 2 MiB"), e.what());
    }
    if (kind == "bmp") {
        // Qt's reader takes the whole frame before any reduction: refused at any size.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 DecodeForDisplay(file, QSize(200, 300), options));
        return;
    }
    const AllocationMeter::TScope meter;
    const TDecodedImage decoded = DecodeForDisplay(file, QSize(200, 300), options);
    QVERIFY(!decoded.image.isNull());
    if (AllocationMeter::Available()) {
        qInfo("%s at 200 x 300: peak heap growth %lld bytes", qPrintable(kind), meter.PeakGrowth());
        QVERIFY2(meter.PeakGrowth() <= options.MemoryBudget,
                 qPrintable(QString::number(meter.PeakGrowth())));
    }
}

QTEST_GUILESS_MAIN(TDecodeOptionsTest)
#include "tst_decodeoptions.moc"
