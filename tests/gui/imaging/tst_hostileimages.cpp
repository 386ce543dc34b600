// The hostile corpus through the real decoder, for display and for the printer: nothing
// crashes, every broken file fails with an error naming it and its reason, the bombs show
// like any picture, and no decode takes more heap than the decode budget.
#include "AllocationMeter.h"
#include "HostileImages.h"
#include "viewer/ImageDecoding.h"

#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

namespace {

constexpr double MiB = 1024.0 * 1024.0;

// Runs ADecode, expecting what AImage says; returns the failure text or an empty string.
template <class TDecode> QString Expect(const THostileImage& AImage, TDecode ADecode) {
    try {
        const bool produced = ADecode();
        if (!AImage.Decodes) {
            return QStringLiteral("decoded without an error");
        }
        return produced ? QString() : QStringLiteral("decoded to nothing");
    } catch (const TDecodeCancelled& e) {
        return QStringLiteral("reported as cancelled: ") + e.what();
    } catch (const std::runtime_error& e) {
        const QString message = QString::fromUtf8(e.what());
        if (AImage.Decodes) {
            return QStringLiteral("failed: ") + message;
        }
        if (!message.startsWith(AImage.Name + ": ") || message.size() <= AImage.Name.size() + 8) {
            return QStringLiteral("message without the file and a reason: ") + message;
        }
        if (!message.contains(AImage.Reason)) {
            return QStringLiteral("reason not \"%1\": %2").arg(AImage.Reason, message);
        }
        qInfo("%s", qPrintable(message));
        return {};
    }
}

} // namespace

class THostileImagesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void display_data() { Rows(); }
    void display();
    void displayOnThreads_data() { Rows(); }
    void displayOnThreads();
    void printerBands_data() { Rows(); }
    void printerBands();

private:
    void Rows();
    QTemporaryDir FDir;
    std::vector<THostileImage> FCorpus;
};

void THostileImagesTest::initTestCase() {
    QVERIFY(FDir.isValid());
    FCorpus = WriteHostileImages(FDir.path());
    QVERIFY(FCorpus.size() > 30);
}

void THostileImagesTest::Rows() {
    QTest::addColumn<int>("index");
    for (size_t i = 0; i < FCorpus.size(); ++i) {
        QTest::addRow("%s: %s", qPrintable(FCorpus[i].Name), qPrintable(FCorpus[i].What)) << int(i);
    }
}

// As the viewer shows a file: the fit box of its image area.
void THostileImagesTest::display() {
    QFETCH(int, index);
    const THostileImage& image = FCorpus[size_t(index)];
    const QString file = FDir.filePath(image.Name);
    const AllocationMeter::TScope meter;
    const QString fault =
        Expect(image, [&] { return !DecodeForDisplay(file, QSize(600, 496)).image.isNull(); });
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    if (AllocationMeter::Available()) {
        qInfo("peak heap growth %.1f MiB", double(meter.PeakGrowth()) / MiB);
        QVERIFY2(meter.PeakGrowth() <= DefaultDecodeBudget,
                 qPrintable(QStringLiteral("%1 MiB").arg(double(meter.PeakGrowth()) / MiB)));
    }
}

// The same with every page split over threads, however small: a failure in one part must
// stop the others and come out as the same clean error.
void THostileImagesTest::displayOnThreads() {
    QFETCH(int, index);
    const THostileImage& image = FCorpus[size_t(index)];
    const QString file = FDir.filePath(image.Name);
    TDecodeOptions options;
    options.Threads = 4;
    const QString fault = Expect(
        image, [&] { return !DecodeForDisplay(file, QSize(600, 496), options).image.isNull(); });
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

// As the printer takes a file: an A4 page at 300 dpi, in bands.
void THostileImagesTest::printerBands() {
    QFETCH(int, index);
    const THostileImage& image = FCorpus[size_t(index)];
    const QString file = FDir.filePath(image.Name);
    const AllocationMeter::TScope meter;
    const QString fault = Expect(image, [&] {
        int rows = 0;
        DecodeInBands(file, {}, QSize(2480, 3508), 256,
                      [&](const QImage& ABand, int) { rows += ABand.height(); });
        return rows > 0;
    });
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    if (AllocationMeter::Available()) {
        qInfo("peak heap growth %.1f MiB", double(meter.PeakGrowth()) / MiB);
        QVERIFY2(meter.PeakGrowth() <= DefaultDecodeBudget,
                 qPrintable(QStringLiteral("%1 MiB").arg(double(meter.PeakGrowth()) / MiB)));
    }
}

QTEST_GUILESS_MAIN(THostileImagesTest)
#include "tst_hostileimages.moc"
