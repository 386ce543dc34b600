// Decoding real files: the reduced size, the pixels where they must land, the kinds that
// take each decoder (by content, not name), large scans past Qt's allocation limit, and
// the failures that must come out as errors naming the file.
#include "ImagingFixtures.h"
#include "viewer/ImageDecoding.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>
#include <tuple>

namespace {

int Grey(const QImage& AImage, int AX, int AY) {
    return qGray(AImage.pixel(AX, AY));
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

void PutBigEndian(QByteArray& AData, int AAt, quint32 AValue, int ABytes) {
    for (int i = 0; i < ABytes; ++i) {
        AData[AAt + i] = static_cast<char>((AValue >> (8 * (ABytes - 1 - i))) & 0xFF);
    }
}

// The picture of the orientation cases, as stored: 160 x 80, near white, with a red block
// over the upper left 2/5 of each side.
const QSize MarkedSize(160, 80);

bool InMarkedBlock(int AX, int AY) {
    return AX < MarkedSize.width() * 2 / 5 && AY < MarkedSize.height() * 2 / 5;
}

// Which corner of AImage holds the red block: "top-left", ..., or "none" / "several".
// Sampled at 1/8 and 7/8 of each side, well inside the block and clear of it.
QString MarkedCorner(const QImage& AImage) {
    QStringList red;
    for (const auto& [name, fx, fy] :
         {std::tuple{"top-left", 1, 1}, std::tuple{"top-right", 7, 1},
          std::tuple{"bottom-left", 1, 7}, std::tuple{"bottom-right", 7, 7}}) {
        const QColor c = AImage.pixelColor(AImage.width() * fx / 8, AImage.height() * fy / 8);
        if (c.red() > 180 && c.green() < 90 && c.blue() < 90) {
            red << name;
        } else if (c.red() < 200 || c.green() < 200 || c.blue() < 200) {
            return QStringLiteral("muddled %1 at %2").arg(c.name(), name);
        }
    }
    return red.isEmpty() ? QStringLiteral("none") : red.join(" and ");
}

// A PNG with an eXIf chunk (the same TIFF structure as in a JPEG's EXIF block) before the
// image data.
void WriteMarkedPng(const QString& APath, int AOrientation) {
    QImage picture(MarkedSize, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter(&picture).fillRect(0, 0, 64, 32, QColor(220, 20, 20));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG")) {
        throw std::runtime_error("cannot encode PNG");
    }
    const QByteArray body = "eXIf" + ExifApp1(AOrientation, true).mid(6);
    QByteArray chunk(4, '\0');
    PutBigEndian(chunk, 0, static_cast<quint32>(body.size() - 4), 4);
    chunk += body + QByteArray(4, '\0');
    PutBigEndian(chunk, int(chunk.size() - 4), Crc32(body), 4);
    png.insert(8 + 25, chunk); // after the signature and IHDR
    WriteAll(APath, png);
}

// The A4 page used throughout: 2480 x 3508 at 300 dpi, a black block in the upper left.
const QSize PageSize(2480, 3508);
const QRect PageBlock(400, 1000, 800, 800);

} // namespace

class TImageDecodingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(FDir.isValid()); }

    void decodeSizeWithin_data();
    void decodeSizeWithin();
    void bilevelPage_data();
    void bilevelPage();
    void colourKinds_data();
    void colourKinds();
    void containerFileDecodesByContent();
    void largeScansShowReduced_data();
    void largeScansShowReduced();
    void targetFromFullSize();
    void orientation_data();
    void orientation();
    void failures_data();
    void failures();

private:
    QString Path(const QString& AName) const { return FDir.filePath(AName); }
    QTemporaryDir FDir;
};

void TImageDecodingTest::decodeSizeWithin_data() {
    QTest::addColumn<QSize>("full");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("upright page limited by height")
        << QSize(2480, 3508) << QSize(600, 496) << QSize(351, 496);
    QTest::newRow("wide photo limited by width")
        << QSize(6000, 4000) << QSize(600, 496) << QSize(600, 400);
    QTest::newRow("never enlarged") << QSize(300, 200) << QSize(2400, 1984) << QSize(300, 200);
    QTest::newRow("empty box means full size") << QSize(300, 200) << QSize() << QSize(300, 200);
    QTest::newRow("sliver keeps one pixel") << QSize(10000, 2) << QSize(100, 100) << QSize(100, 1);
}

void TImageDecodingTest::decodeSizeWithin() {
    QFETCH(QSize, full);
    QFETCH(QSize, box);
    QFETCH(QSize, expected);
    QCOMPARE(DecodeSizeWithin(full, box), expected);
}

void TImageDecodingTest::bilevelPage_data() {
    QTest::addColumn<int>("compression");
    QTest::addColumn<bool>("oneIsBlack");
    QTest::addColumn<QSize>("target");
    QTest::newRow("G4 min-is-white at the fitted size")
        << int(COMPRESSION_CCITTFAX4) << true << QSize(600, 496);
    QTest::newRow("G4 at the widest zoom")
        << int(COMPRESSION_CCITTFAX4) << true << QSize(2400, 1984);
    QTest::newRow("min-is-black must not come out inverted")
        << int(COMPRESSION_NONE) << false << QSize(600, 496);
    QTest::newRow("PackBits at full size") << int(COMPRESSION_PACKBITS) << true << QSize();
}

void TImageDecodingTest::bilevelPage() {
    QFETCH(int, compression);
    QFETCH(bool, oneIsBlack);
    QFETCH(QSize, target);
    const QString file = Path(QStringLiteral("page-%1-%2.tif").arg(compression).arg(oneIsBlack));
    WriteBilevelTiff(file, PageSize.width(), PageSize.height(), PageBlock,
                     static_cast<uint16_t>(compression), oneIsBlack);

    QCOMPARE(ReadImageSize(file), PageSize);
    const TDecodedImage decoded = DecodeForDisplay(file, target);
    QCOMPARE(decoded.fullSize, PageSize);
    const QSize expected = DecodeSizeWithin(PageSize, target);
    QCOMPARE(decoded.image.size(), expected);
    QCOMPARE(decoded.image.format(), QImage::Format_Grayscale8);

    const double sx = double(expected.width()) / PageSize.width();
    const double sy = double(expected.height()) / PageSize.height();
    const QImage& img = decoded.image;
    const QPointF centre = QRectF(PageBlock).center();
    QVERIFY2(Grey(img, int(centre.x() * sx), int(centre.y() * sy)) < 20, "block not dark");
    // Paper: beside, above and below the block, clear of its scaled edges.
    QVERIFY(Grey(img, int((PageBlock.right() + 100) * sx), int(centre.y() * sy)) > 235);
    QVERIFY(Grey(img, int(centre.x() * sx), int((PageBlock.top() - 100) * sy)) > 235);
    QVERIFY(Grey(img, int(centre.x() * sx), int((PageBlock.bottom() + 100) * sy)) > 235);
    QVERIFY(Grey(img, img.width() - 1, img.height() - 1) > 235);
    // The block's area comes out at its scaled size: count dark pixels.
    int dark = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            dark += Grey(img, x, y) < 128 ? 1 : 0;
        }
    }
    const double expectedDark = PageBlock.width() * sx * PageBlock.height() * sy;
    QVERIFY2(std::abs(dark - expectedDark) <
                 0.05 * expectedDark + 4 * (expected.width() / 100.0 + 2),
             qPrintable(QStringLiteral("dark %1, expected about %2").arg(dark).arg(expectedDark)));
}

void TImageDecodingTest::colourKinds_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::newRow("JPEG through DCT scaling") << "photo.jpg"
                                              << "jpeg";
    QTest::newRow("grey JPEG") << "grey.jpg"
                               << "greyjpeg";
    QTest::newRow("PNG through Qt") << "photo.png"
                                    << "png";
    QTest::newRow("RGB TIFF in strips") << "strips.tif"
                                        << "tiff";
    QTest::newRow("RGB TIFF in tiles") << "tiles.tif"
                                       << "tiledtiff";
    QTest::newRow("palette TIFF") << "palette.tif"
                                  << "palette";
    QTest::newRow("grey + alpha min-is-white TIFF must not invert the alpha") << "greyalpha.tif"
                                                                              << "greyalpha";
}

// A 1200 x 800 picture, red on the left, blue on the right (the grey JPEG: dark left,
// light right), reduced into 300 x 300.
void TImageDecodingTest::colourKinds() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    const QString file = Path(name);
    const QSize full(1200, 800);
    if (kind == "jpeg" || kind == "greyjpeg") {
        WriteJpeg(file, full.width(), full.height(), kind == "greyjpeg");
    } else if (kind == "tiff") {
        WriteRgbTiff(file, full.width(), full.height(), COMPRESSION_LZW);
    } else if (kind == "greyalpha") {
        WriteGreyAlphaMinIsWhiteTiff(file, full.width(), full.height());
    } else if (kind == "tiledtiff") {
        WriteRgbTiff(file, full.width(), full.height(), COMPRESSION_ADOBE_DEFLATE, 256);
    } else {
        QImage picture(full, QImage::Format_RGB32);
        picture.fill(QColor(20, 20, 220));
        QPainter(&picture).fillRect(0, 0, 600, 800, QColor(220, 20, 20));
        if (kind == "palette") {
            picture = picture.convertToFormat(QImage::Format_Indexed8);
        }
        QVERIFY(picture.save(file, kind == "png" ? "PNG" : "TIFF"));
    }

    QCOMPARE(ReadImageSize(file), full);
    const TDecodedImage decoded = DecodeForDisplay(file, QSize(300, 300));
    QCOMPARE(decoded.fullSize, full);
    QCOMPARE(decoded.image.size(), QSize(300, 200));
    QVERIFY(decoded.IsReduced());
    const QColor left = decoded.image.pixelColor(40, 100);
    const QColor right = decoded.image.pixelColor(260, 100);
    if (kind == "greyjpeg" || kind == "greyalpha") {
        if (kind == "greyjpeg") {
            QCOMPARE(decoded.image.format(), QImage::Format_Grayscale8);
        } else {
            QCOMPARE(left.alpha(), 255);
            QCOMPARE(left.red(), left.blue());
        }
        QVERIFY2(qAbs(left.red() - 30) < 8 && qAbs(right.red() - 220) < 8,
                 qPrintable(left.name() + " " + right.name()));
        return;
    }
    QVERIFY2(left.red() > 190 && left.blue() < 50, qPrintable(left.name()));
    QVERIFY2(right.blue() > 190 && right.red() < 50, qPrintable(right.name()));
    QVERIFY2(left.green() < 50 && right.green() < 50, qPrintable(left.name() + " " + right.name()));
}

// Container files load like any other file: a picture inside decodes, text does not.
void TImageDecodingTest::containerFileDecodesByContent() {
    const QString picture = Path("0001~A.lva");
    WriteBilevelTiff(picture, 800, 600, QRect(0, 0, 400, 600));
    const TDecodedImage decoded = DecodeForDisplay(picture, QSize(200, 200));
    QCOMPARE(decoded.image.size(), QSize(200, 150));
    QVERIFY(Grey(decoded.image, 50, 75) < 20);
    QVERIFY(Grey(decoded.image, 150, 75) > 235);

    const QString text = Path("0002~A.lva");
    WriteAll(text, "{\"pages\": [\"0002~A.tif\"], \"note\": \"container\"}\n");
    try {
        DecodeForDisplay(text, QSize(200, 200));
        QFAIL("a text container decoded as an image");
    } catch (const std::runtime_error& e) {
        QVERIFY2(QString::fromUtf8(e.what()).startsWith("0002~A.lva: "), e.what());
    }
}

void TImageDecodingTest::largeScansShowReduced_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("A3 600 dpi colour JPEG") << "jpeg";
    QTest::newRow("A3 600 dpi colour TIFF, LZW") << "tiff";
    QTest::newRow("PNG past Qt's 128 MB allocation limit") << "png";
}

// A 600 dpi colour A3 page (7016 x 9921) is ~280 MB as a full frame, past Qt's default
// reader limit of 128 MB; it must still show, reduced.
void TImageDecodingTest::largeScansShowReduced() {
    QFETCH(QString, kind);
    QSize full(7016, 9921);
    const QString file = Path("a3." + kind);
    if (kind == "jpeg") {
        WriteJpeg(file, full.width(), full.height(), false, 75);
    } else if (kind == "tiff") {
        WriteRgbTiff(file, full.width(), full.height(), COMPRESSION_LZW);
    } else {
        full = QSize(6000, 6000); // 144 MB as 32-bit: enough to cross the limit
        QImage picture(full, QImage::Format_RGB32);
        picture.fill(QColor(20, 20, 220));
        QPainter(&picture).fillRect(0, 0, 3000, 6000, QColor(220, 20, 20));
        QVERIFY(picture.save(file, "PNG", 0));
    }
    const TDecodedImage decoded = DecodeForDisplay(file, QSize(2400, 1984));
    QCOMPARE(decoded.fullSize, full);
    const QSize target = DecodeSizeWithin(full, QSize(2400, 1984));
    if (kind == "jpeg") {
        // The first DCT scale covering 1403 x 1984 is 2/8.
        QCOMPARE(decoded.image.size(), QSize(1754, 2481));
    } else {
        QCOMPARE(decoded.image.size(), target);
    }
    const QColor left = decoded.image.pixelColor(decoded.image.width() / 4, 500);
    const QColor right = decoded.image.pixelColor(decoded.image.width() * 3 / 4, 500);
    QVERIFY2(left.red() > 190 && right.blue() > 190, qPrintable(left.name() + right.name()));
    QFile::remove(file);
}

// The caller's fit rules depend on the image's proportions, known only from its header.
void TImageDecodingTest::targetFromFullSize() {
    const QString file = Path("tall.jpg");
    WriteJpeg(file, 1000, 2000);
    QSize seen;
    const TDecodedImage decoded = DecodeForDisplay(file, [&](QSize AFull) {
        seen = AFull;
        return QSize(AFull.width() / 4, AFull.height() / 4);
    });
    QCOMPARE(seen, QSize(1000, 2000));
    QCOMPARE(decoded.image.size(), QSize(250, 500));
}

void TImageDecodingTest::orientation_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QByteArray>("exif"); // JPEG: the APP1 body; empty: a valid one
    QTest::addColumn<QString>("corner");  // where the stored upper left shows
    QTest::addColumn<bool>("turned");     // a quarter turn: upright width = stored height
    const char* corners[] = {"top-left", "top-right", "bottom-right", "bottom-left",
                             "top-left", "top-right", "bottom-right", "bottom-left"};
    const char* names[] = {
        "as stored",  "mirrored",         "upside down", "flipped",
        "transposed", "turned clockwise", "transverse",  "turned counter-clockwise"};
    // Strips take the scanline path, tiles libtiff's RGBA reader (which flips by itself
    // when asked, band by band).
    for (const QString kind : {"jpeg", "tiff strips", "tiff tiles"}) {
        for (int o = 1; o <= 8; ++o) {
            QTest::addRow("%s %d %s", qPrintable(kind), o, names[o - 1])
                << kind << o << QByteArray() << QString(corners[o - 1]) << (o >= 5);
        }
    }
    QTest::newRow("png 6 eXIf chunk turned clockwise")
        << "png" << 6 << QByteArray() << "top-right" << true;
    QTest::newRow("png 4 eXIf chunk flipped")
        << "png" << 4 << QByteArray() << "bottom-left" << false;

    // Broken EXIF blocks show the picture as stored, reading nothing outside the block.
    const QByteArray valid = ExifApp1(6, false);
    QByteArray farDirectory = valid;
    PutBigEndian(farDirectory, 6 + 4, 0xF8FFFFFFu, 4); // little-endian 0xFFFFFFF8
    QByteArray manyEntries = valid.left(6 + 8 + 2 + 12);
    manyEntries[6 + 8] = '\xFF';
    manyEntries[6 + 9] = '\xFF';
    QByteArray noByteOrder = valid;
    noByteOrder[6] = 'X';
    QTest::newRow("jpeg EXIF cut inside the orientation entry")
        << "jpeg" << 1 << valid.left(6 + 8 + 2 + 12 + 9) << "top-left" << false;
    QTest::newRow("jpeg EXIF directory offset past the end (overflows 32 bits)")
        << "jpeg" << 1 << farDirectory << "top-left" << false;
    QTest::newRow("jpeg EXIF claiming 65535 entries in 12 bytes")
        << "jpeg" << 1 << manyEntries << "top-left" << false;
    QTest::newRow("jpeg EXIF without a byte order")
        << "jpeg" << 1 << noByteOrder << "top-left" << false;
    QTest::newRow("jpeg EXIF orientation 9")
        << "jpeg" << 1 << ExifApp1(9, true) << "top-left" << false;
    QTest::newRow("jpeg EXIF header only")
        << "jpeg" << 1 << QByteArray("Exif\0\0", 6) << "top-left" << false;
}

// A picture with one marked corner, stored as the camera or scanner had it, with its
// orientation: it must come out upright at full size and reduced, with the full size in
// upright terms (the fit is computed from it) and the caller's box taken as upright.
void TImageDecodingTest::orientation() {
    QFETCH(QString, kind);
    QFETCH(int, orientation);
    QFETCH(QByteArray, exif);
    QFETCH(QString, corner);
    QFETCH(bool, turned);
    const QString file = Path(QStringLiteral("marked-%1-%2-%3")
                                  .arg(kind.section(' ', -1))
                                  .arg(orientation)
                                  .arg(QString::number(qHash(exif), 16)));
    // The paper shades off a little along both sides, so that no two rows or columns
    // are alike and a row or column out of place shows against the reference.
    const auto pixel = [](int x, int y, uint8_t* px) {
        const bool red = InMarkedBlock(x, y);
        px[0] = red ? 220 : 255;
        px[1] = static_cast<uint8_t>(red ? 20 : 255 - x / 4);
        px[2] = static_cast<uint8_t>(red ? 20 : 255 - y / 2);
    };
    if (kind == "jpeg") {
        WriteJpegOf(file, MarkedSize.width(), MarkedSize.height(), false, 90,
                    exif.isEmpty() ? ExifApp1(orientation, orientation % 2 == 0) : exif, pixel);
    } else if (kind == "png") {
        WriteMarkedPng(file, orientation);
    } else {
        WriteRgbTiffOf(file, MarkedSize.width(), MarkedSize.height(), COMPRESSION_LZW,
                       kind == "tiff tiles" ? 16 : 0, orientation, pixel);
    }
    QImage reference; // the whole picture upright, by Qt's own readers
    if (exif.isEmpty() && kind != "png") {
        QImageReader reader(file);
        reader.setAutoTransform(true);
        reference = reader.read();
        // The fixture means what the row says.
        QCOMPARE(MarkedCorner(reference), corner);
    }

    const QSize upright = turned ? MarkedSize.transposed() : MarkedSize;
    QCOMPARE(ReadImageSize(file), upright);
    const TDecodedImage whole = DecodeForDisplay(file, QSize());
    QCOMPARE(whole.fullSize, upright);
    QCOMPARE(whole.image.size(), upright);
    QCOMPARE(MarkedCorner(whole.image), corner);
    if (!reference.isNull()) {
        // Every pixel, not only the corners: a flip inside strips or bands shows here.
        const int most = MaxDifference(whole.image, reference);
        QVERIFY2(most <= (kind == "jpeg" ? 12 : 0), qPrintable(QString::number(most)));
    }

    // Half the upright width, the whole height: a box not turned with the picture would
    // give a quarter of the size.
    QSize seen;
    const TDecodedImage reduced = DecodeForDisplay(file, [&](QSize AFull) {
        seen = AFull;
        return QSize(AFull.width() / 2, AFull.height());
    });
    QCOMPARE(seen, upright);
    QCOMPARE(reduced.fullSize, upright);
    QCOMPARE(reduced.image.size(), upright / 2);
    QVERIFY(reduced.IsReduced());
    QCOMPARE(MarkedCorner(reduced.image), corner);
}

void TImageDecodingTest::failures_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << "missing.tif"
                                  << "cannot open";
    QTest::newRow("empty file") << "empty.png"
                                << "";
    QTest::newRow("random bytes named .tif") << "random.tif"
                                             << "";
    QTest::newRow("random bytes behind a TIFF signature") << "badheader.tif"
                                                          << "";
    QTest::newRow("G4 page losing its directory") << "cut.tif"
                                                  << "not a readable TIFF";
    QTest::newRow("G4 rows garbled (fax decoder only warns)") << "zeroed.tif"
                                                              << "truncated or corrupt";
    QTest::newRow("JPEG cut at 60%") << "cut.jpg"
                                     << "truncated or corrupt";
    QTest::newRow("PNG cut at 60%") << "cut.png"
                                    << "truncated or corrupt";
    QTest::newRow("TIFF declaring 100000 x 100000") << "huge.tif"
                                                    << "too large";
    QTest::newRow("JPEG declaring 65000 x 65000") << "huge.jpg"
                                                  << "too large";
    QTest::newRow("PNG declaring 30000 x 30000") << "huge.png"
                                                 << "too large";
}

void TImageDecodingTest::failures() {
    QFETCH(QString, name);
    QFETCH(QString, reason);
    const QString file = Path(name);
    auto random = [](qsizetype n) {
        QByteArray data(n, '\0');
        for (auto& c : data) {
            c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        }
        return data;
    };
    if (name == "empty.png") {
        WriteAll(file, {});
    } else if (name == "random.tif") {
        WriteAll(file, random(100000));
    } else if (name == "badheader.tif") {
        WriteAll(file, QByteArray("II*\0", 4) + random(5000));
    } else if (name == "cut.tif") {
        // libtiff writes the directory last: a cut file loses it.
        WriteBilevelTiff(Path("whole.tif"), PageSize.width(), PageSize.height(), PageBlock);
        const QByteArray whole = ReadAll(Path("whole.tif"));
        WriteAll(file, whole.left(whole.size() / 2));
    } else if (name == "zeroed.tif") {
        WriteBilevelTiff(Path("whole.tif"), PageSize.width(), PageSize.height(), PageBlock);
        const QByteArray whole = ReadAll(Path("whole.tif"));
        // Keep the directory (at the end), wipe the second half of the coded rows.
        QByteArray cut = whole;
        for (qsizetype i = 8 + (whole.size() - 400) / 2; i < whole.size() - 400; ++i) {
            cut[i] = '\0';
        }
        WriteAll(file, cut);
    } else if (name == "cut.jpg" || name == "cut.png") {
        const QString source = Path("whole." + name.section('.', 1));
        if (name == "cut.jpg") {
            WriteJpeg(source, 1200, 800);
        } else {
            QImage picture(1200, 800, QImage::Format_RGB32);
            for (int y = 0; y < picture.height(); ++y) {
                for (int x = 0; x < picture.width(); ++x) {
                    picture.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
                }
            }
            QVERIFY(picture.save(source, "PNG"));
        }
        const QByteArray whole = ReadAll(source);
        WriteAll(file, whole.left(whole.size() * 6 / 10));
    } else if (name == "huge.tif") {
        TIFF* tif = TIFFOpen(file.toLocal8Bit().constData(), "w");
        QVERIFY(tif);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 100000u);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 100000u);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 100000u);
        std::vector<uint8_t> row(100000 / 8, 0);
        QVERIFY(TIFFWriteScanline(tif, row.data(), 0, 0) >= 0);
        TIFFClose(tif);
    } else if (name == "huge.jpg") {
        WriteJpeg(file, 64, 48);
        QByteArray data = ReadAll(file);
        const qsizetype sof = data.indexOf(QByteArray("\xFF\xC0", 2));
        QVERIFY(sof > 0);
        PutBigEndian(data, int(sof + 5), 65000, 2); // height
        PutBigEndian(data, int(sof + 7), 65000, 2); // width
        WriteAll(file, data);
    } else if (name == "huge.png") {
        QImage small(64, 48, QImage::Format_RGB32);
        small.fill(Qt::white);
        QVERIFY(small.save(file, "PNG"));
        QByteArray data = ReadAll(file);
        // IHDR: length(4) "IHDR" width(4) height(4) ... crc over type and data.
        PutBigEndian(data, 16, 30000, 4);
        PutBigEndian(data, 20, 30000, 4);
        PutBigEndian(data, 29, Crc32(data.mid(12, 17)), 4);
        WriteAll(file, data);
    }

    try {
        const TDecodedImage decoded = DecodeForDisplay(file, QSize(600, 496));
        QFAIL(qPrintable(QStringLiteral("decoded %1 x %2 without an error")
                             .arg(decoded.image.width())
                             .arg(decoded.image.height())));
    } catch (const std::runtime_error& e) {
        const QString message = QString::fromUtf8(e.what());
        QVERIFY2(message.startsWith(name + ": ") && message.size() > name.size() + 4,
                 qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
    }
}

QTEST_GUILESS_MAIN(TImageDecodingTest)
#include "tst_imagedecoding.moc"
