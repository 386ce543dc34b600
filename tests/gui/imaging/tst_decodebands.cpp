// Decoding for the printer in bands: the bands put together are the picture the display
// decode gives at the same size, upright, whatever the format and orientation, also when
// the budget splits a turned page into several passes; and a 600 dpi A3 page never holds
// more than a band of the result at a time (measured on the heap). A display decode on
// several threads gives the frame a single thread gives.
#include "AllocationMeter.h"
#include "ImagingFixtures.h"
#include "viewer/ImageDecoding.h"

#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <stdexcept>

namespace {

// AImage averaged down to AOut: source pixel i belongs to output pixel i * out / in.
QImage BoxReduced(const QImage& AImage, QSize AOut) {
    std::vector<double> sums(size_t(AOut.width() * AOut.height()) * 3, 0.0);
    std::vector<int> counts(size_t(AOut.width() * AOut.height()), 0);
    for (int y = 0; y < AImage.height(); ++y) {
        const int oy = int(qint64(y) * AOut.height() / AImage.height());
        for (int x = 0; x < AImage.width(); ++x) {
            const int ox = int(qint64(x) * AOut.width() / AImage.width());
            const size_t cell = size_t(oy) * size_t(AOut.width()) + size_t(ox);
            const QRgb px = AImage.pixel(x, y);
            sums[cell * 3] += qRed(px);
            sums[cell * 3 + 1] += qGreen(px);
            sums[cell * 3 + 2] += qBlue(px);
            ++counts[cell];
        }
    }
    QImage out(AOut, QImage::Format_RGB32);
    for (int oy = 0; oy < AOut.height(); ++oy) {
        for (int ox = 0; ox < AOut.width(); ++ox) {
            const size_t cell = size_t(oy) * size_t(AOut.width()) + size_t(ox);
            const auto avg = [&](int k) {
                return int(std::lround(sums[cell * 3 + size_t(k)] / counts[cell]));
            };
            out.setPixel(ox, oy, qRgb(avg(0), avg(1), avg(2)));
        }
    }
    return out;
}

// The picture as stored from its upright form (orientations 1, 2, 3, 6, 7), and back.
QImage Stored(const QImage& AUpright, int AOrientation) {
    switch (AOrientation) {
    case 2:
        return AUpright.mirrored(true, false);
    case 3:
        return AUpright.mirrored(true, true);
    case 6:
        return AUpright.transformed(QTransform().rotate(270));
    case 7:
        return AUpright.mirrored(false, true).transformed(QTransform().rotate(270));
    default:
        return AUpright;
    }
}

QImage Upright(const QImage& AStored, int AOrientation) {
    switch (AOrientation) {
    case 2:
        return AStored.mirrored(true, false);
    case 3:
        return AStored.mirrored(true, true);
    case 6:
        return AStored.transformed(QTransform().rotate(90));
    case 7:
        return AStored.transformed(QTransform().rotate(90)).mirrored(false, true);
    default:
        return AStored;
    }
}

// Collects the bands of one decode, checking their shape as they come.
struct TBandCollector {
    int BandRows = 0;
    QList<QImage> Bands; // copies: a band is only valid during the call
    int NextTop = 0;
    QStringList Faults;

    void operator()(const QImage& ABand, int ATop) {
        if (ATop != NextTop) {
            Faults << QStringLiteral("band at %1, expected %2").arg(ATop).arg(NextTop);
        }
        if (ABand.height() > BandRows || ABand.height() <= 0) {
            Faults << QStringLiteral("band of %1 rows").arg(ABand.height());
        }
        if (!Bands.isEmpty() && ABand.width() != Bands.first().width()) {
            Faults << QStringLiteral("band %1 wide, first %2")
                          .arg(ABand.width())
                          .arg(Bands.first().width());
        }
        Bands << ABand.copy().convertToFormat(QImage::Format_ARGB32);
        NextTop = ATop + ABand.height();
    }

    QImage Whole() const {
        QImage whole(Bands.isEmpty() ? 0 : Bands.first().width(), NextTop, QImage::Format_ARGB32);
        QPainter painter(&whole);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        int top = 0;
        for (const QImage& band : Bands) {
            painter.drawImage(0, top, band);
            top += band.height();
        }
        return whole;
    }
};

// Near white paper shading off both ways (no two rows or columns alike), a red block in
// the stored upper left.
void Paper(int x, int y, uint8_t* px) {
    const bool red = x < 120 && y < 80;
    px[0] = red ? 220 : 255;
    px[1] = static_cast<uint8_t>(red ? 20 : 255 - x / 3);
    px[2] = static_cast<uint8_t>(red ? 20 : 255 - y / 2);
}

// No two neighbours alike, so a row taken from the wrong place or summed twice shows.
void Noise(int x, int y, uint8_t* px) {
    const auto h = static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 40503u;
    px[0] = static_cast<uint8_t>(h >> 8);
    px[1] = static_cast<uint8_t>(h >> 16);
    px[2] = static_cast<uint8_t>(h >> 24);
}

const QSize StoredSize(360, 240);
constexpr qint64 plentyBudget = DefaultDecodeBudget;

} // namespace

class TDecodeBandsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(FDir.isValid()); }
    void bandsMakeTheDisplayFrame_data();
    void bandsMakeTheDisplayFrame();
    void a3PageHoldsOneBand_data();
    void a3PageHoldsOneBand();
    void threadsMakeTheSameFrame_data();
    void threadsMakeTheSameFrame();

private:
    QString Path(const QString& AName) const { return FDir.filePath(AName); }
    QTemporaryDir FDir;
};

void TDecodeBandsTest::bandsMakeTheDisplayFrame_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<qint64>("budget");
    const qint64 plenty = plentyBudget;
    // An upright row of the window takes ~1.2 KB (4.8 KB with the sums of an interlaced
    // PNG), and half the budget goes to the window: 256 KiB forces two passes (ten).
    const qint64 tight = qint64{256} * 1024;
    for (const char* kind : {"tiff strips", "tiff tiles", "png", "png interlaced", "jpeg"}) {
        for (int o : {1, 2, 3, 6, 7}) {
            QTest::addRow("%s, orientation %d", kind, o) << QString(kind) << o << plenty;
        }
        QTest::addRow("%s, turned, in passes under a tight budget", kind)
            << QString(kind) << 6 << tight;
        QTest::addRow("%s, upside down, in passes under a tight budget", kind)
            << QString(kind) << 3 << tight;
    }
    QTest::newRow("png interlaced, as stored, in passes under a tight budget")
        << "png interlaced" << 1 << tight;
    QTest::newRow("tiff bilevel") << "tiff bilevel" << 1 << plenty;
    QTest::newRow("bmp through Qt's reader (whole frame)") << "bmp" << 1 << plenty;
}

void TDecodeBandsTest::bandsMakeTheDisplayFrame() {
    QFETCH(QString, kind);
    QFETCH(int, orientation);
    QFETCH(qint64, budget);
    const QString file = Path(QStringLiteral("%1-%2").arg(kind).arg(orientation).replace(' ', '-'));
    const QByteArray exif = ExifApp1(orientation, false);
    if (kind.startsWith("tiff") && kind != "tiff bilevel") {
        WriteRgbTiffOf(file, StoredSize.width(), StoredSize.height(), COMPRESSION_LZW,
                       kind == "tiff tiles" ? 32 : 0, orientation, Paper);
    } else if (kind == "tiff bilevel") {
        WriteBilevelTiff(file, StoredSize.width(), StoredSize.height(), QRect(0, 0, 120, 80),
                         COMPRESSION_CCITTFAX4);
    } else if (kind.startsWith("png")) {
        WritePngOf(file, StoredSize.width(), StoredSize.height(), 3, kind.endsWith("interlaced"), 0,
                   Paper, exif.mid(6));
    } else if (kind == "jpeg") {
        WriteJpegOf(file, StoredSize.width(), StoredSize.height(), false, 95, exif, Paper);
    } else {
        QImage picture(StoredSize, QImage::Format_RGB32);
        for (int y = 0; y < StoredSize.height(); ++y) {
            for (int x = 0; x < StoredSize.width(); ++x) {
                uint8_t px[3];
                Paper(x, y, px);
                picture.setPixel(x, y, qRgb(px[0], px[1], px[2]));
            }
        }
        QVERIFY(picture.save(file, "BMP"));
    }
    const QSize box(150, 150);
    const QSize upright = orientation >= 5 ? StoredSize.transposed() : StoredSize;
    const QSize exact = DecodeSizeWithin(upright, box);

    TDecodeOptions options;
    options.MemoryBudget = budget;
    TBandCollector bands;
    bands.BandRows = 16;
    DecodeInBands(file, options, box, bands.BandRows,
                  [&](const QImage& ABand, int ATop) { bands(ABand, ATop); });
    QVERIFY2(bands.Faults.isEmpty(), qPrintable(bands.Faults.join("; ")));
    const QImage whole = bands.Whole();
    QCOMPARE(whole.size(), exact);

    if (kind == "jpeg") {
        // Display keeps JPEG at its DCT scale; that frame averaged down to the exact size
        // (as stored, where the decoder reduces) is the reference.
        const QImage scaled = DecodeForDisplay(file, box).image;
        QVERIFY(scaled.width() >= exact.width() && scaled.height() >= exact.height());
        const QSize storedExact = orientation >= 5 ? exact.transposed() : exact;
        const QImage reference =
            Upright(BoxReduced(Stored(scaled, orientation), storedExact), orientation);
        const int most = MaxDifference(whole, reference);
        QVERIFY2(most <= 1, qPrintable(QString::number(most)));
    } else {
        const TDecodedImage display = DecodeForDisplay(file, box);
        QCOMPARE(display.image.size(), exact);
        QCOMPARE(MaxDifference(whole, display.image), 0);
    }
    if (kind.startsWith("png") && orientation == 1 && budget == plentyBudget) {
        // At full size the rows go straight into the frame (an interlaced one pass by
        // pass): Qt's own reader of the same file is the reference.
        const QImage full = DecodeForDisplay(file, QSize()).image;
        const QImage reference(file);
        QCOMPARE(full.size(), reference.size());
        QCOMPARE(MaxDifference(full, reference), 0);
    }
}

void TDecodeBandsTest::a3PageHoldsOneBand_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"tiff bilevel", "tiff rgb", "jpeg", "png"}) {
        QTest::newRow(kind) << kind;
    }
}

// 7016 x 9921 is ~280 MB as a 32-bit frame: printed at its own resolution it must go out a
// band at a time, the heap never holding much more than one band.
void TDecodeBandsTest::a3PageHoldsOneBand() {
    QFETCH(QString, kind);
    const QSize full(7016, 9921);
    const QString file = Path("a3-" + QString(kind).replace(' ', '-'));
    const auto colour = [&](int x, int, uint8_t* px) {
        px[0] = x < full.width() / 2 ? 220 : 20;
        px[1] = 20;
        px[2] = x < full.width() / 2 ? 20 : 220;
    };
    if (kind == "tiff bilevel") {
        WriteBilevelTiff(file, full.width(), full.height(),
                         QRect(0, 0, full.width() / 2, full.height()));
    } else if (kind == "tiff rgb") {
        WriteRgbTiff(file, full.width(), full.height(), COMPRESSION_LZW);
    } else if (kind == "jpeg") {
        WriteJpegOf(file, full.width(), full.height(), false, 75, {}, colour);
    } else {
        WritePngOf(file, full.width(), full.height(), 3, false, 0, colour);
    }
    const int bandRows = 256;
    int bands = 0;
    int bandsRight = 0;
    long long bandBytes = 0;
    const AllocationMeter::TScope meter;
    DecodeInBands(file, {}, full, bandRows, [&](const QImage& ABand, int) {
        ++bands;
        bandBytes = std::max<long long>(bandBytes, ABand.sizeInBytes());
        const bool leftDark = qGray(ABand.pixel(full.width() / 4, 0)) < 128;
        const QColor right = ABand.pixelColor(full.width() * 3 / 4, ABand.height() - 1);
        const bool rightOk = kind == "tiff bilevel" ? qGray(right.rgb()) > 200 : right.blue() > 190;
        bandsRight += leftDark && rightOk;
    });
    const long long growth = meter.PeakGrowth();
    QCOMPARE(bands, (full.height() + bandRows - 1) / bandRows);
    QCOMPARE(bandsRight, bands);
    if (AllocationMeter::Available()) {
        qInfo("%s: band %lld bytes, peak heap growth %lld bytes (full frame %lld)",
              qPrintable(kind), bandBytes, growth,
              static_cast<long long>(full.width()) * full.height() * 4);
        // The band itself, the codec's row and strip buffers, the box filter's sums.
        QVERIFY2(growth <= bandBytes + qint64{4} * 1024 * 1024,
                 qPrintable(QString::number(growth)));
    }
    QFile::remove(file);
}

// A page decoded on several threads, each reading its own parts of the strips or tiles
// into its rows of the frame, is the page decoded on one, pixel for pixel: at sizes whose
// output rows do not fall on strip or tile boundaries, at full size, and turned.
void TDecodeBandsTest::threadsMakeTheSameFrame_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("box");
    const QSize boxes[] = {QSize(150, 150), QSize(400, 333), QSize()};
    for (const char* kind : {"rgb strips", "rgb tiles", "bilevel strips", "grey alpha strips"}) {
        for (const QSize box : boxes) {
            if (box.isValid()) {
                QTest::addRow("%s, within %dx%d", kind, box.width(), box.height())
                    << QString(kind) << 1 << box;
            } else {
                QTest::addRow("%s, full size", kind) << QString(kind) << 1 << box;
            }
        }
    }
    QTest::newRow("rgb strips, turned") << "rgb strips" << 6 << QSize(150, 150);
    QTest::newRow("rgb tiles, upside down") << "rgb tiles" << 3 << QSize(400, 333);
}

void TDecodeBandsTest::threadsMakeTheSameFrame() {
    QFETCH(QString, kind);
    QFETCH(int, orientation);
    QFETCH(QSize, box);
    // Sizes that leave no part, strip or tile even: the parts start inside strips.
    const QSize stored(517, 389);
    const QString file =
        Path(QStringLiteral("threads-%1-%2.tif").arg(kind).arg(orientation).replace(' ', '-'));
    if (kind == "rgb strips") {
        // Rows of 1551 bytes: 5 rows a strip.
        WriteRgbTiffOf(file, stored.width(), stored.height(), COMPRESSION_LZW, 0, orientation,
                       Noise);
    } else if (kind == "rgb tiles") {
        WriteRgbTiffOf(file, stored.width(), stored.height(), COMPRESSION_LZW, 48, orientation,
                       Noise);
    } else if (kind == "bilevel strips") {
        WriteBilevelTiff(file, stored.width(), stored.height(), QRect(31, 17, 301, 211),
                         COMPRESSION_CCITTFAX4, true, 13);
    } else {
        WriteGreyAlphaMinIsWhiteTiff(file, stored.width(), stored.height());
    }
    TDecodeOptions serial;
    serial.Threads = 1;
    const QImage reference = DecodeForDisplay(file, box, serial).image;
    QVERIFY(!reference.isNull());
    QCOMPARE(reference.size(),
             DecodeSizeWithin(orientation >= 5 ? stored.transposed() : stored, box));
    for (const int threads : {2, 3, 8}) {
        TDecodeOptions options;
        options.Threads = threads;
        const QImage parallel = DecodeForDisplay(file, box, options).image;
        QCOMPARE(parallel.format(), reference.format());
        QCOMPARE(parallel.size(), reference.size());
        QVERIFY2(parallel == reference, qPrintable(QStringLiteral("%1 threads: differs by up to %2")
                                                       .arg(threads)
                                                       .arg(MaxDifference(parallel, reference))));
    }
}

QTEST_GUILESS_MAIN(TDecodeBandsTest)
#include "tst_decodebands.moc"
