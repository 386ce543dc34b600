// Printing one bitmap: the placement rule from a table, then real jobs printed to PDF
// through Qt's printer, rendered back with pdftoppm and checked where the ink lands.
#include "viewer/Orlenza.DocumentPrinting.h"

#include <QDir>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <stdexcept>

namespace {

// Render resolution for the check: 50 dpi, so the 1200 dpi device pixels map 24:1.
constexpr int RenderDpi = 50;
constexpr double DevicePerRendered = 1200.0 / RenderDpi;

// A printer whose printable area is APrintable device pixels at 1200 dpi, with the given
// margin (inches) on every side.
std::unique_ptr<QPrinter> PdfPrinter(const QString& AFile, QSize APrintable, double AMargin) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(AFile);
    printer->setResolution(1200);
    const QSizeF paper(APrintable.width() / 1200.0 + 2 * AMargin,
                       APrintable.height() / 1200.0 + 2 * AMargin);
    printer->setPageLayout(
        QPageLayout(QPageSize(paper, QPageSize::Inch, "test"), QPageLayout::Portrait,
                    QMarginsF(AMargin, AMargin, AMargin, AMargin), QPageLayout::Inch, QMarginsF()));
    return printer;
}

QString Run(const QString& AProgram, const QStringList& AArgs) {
    QProcess process;
    process.start(AProgram, AArgs);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        throw std::runtime_error(
            (AProgram + " failed: " + process.readAllStandardError()).toStdString());
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

QImage RenderFirstPage(const QString& APdf) {
    const QString stem = APdf.chopped(4);
    Run("pdftoppm", {"-r", QString::number(RenderDpi), "-png", "-singlefile", APdf, stem});
    return QImage(stem + ".png");
}

int Pages(const QString& APdf) {
    const QString info = Run("pdfinfo", {APdf});
    const QRegularExpressionMatch m =
        QRegularExpression("^Pages:\\s+(\\d+)", QRegularExpression::MultilineOption).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString Title(const QString& APdf) {
    const QString info = Run("pdfinfo", {APdf});
    const QRegularExpressionMatch m =
        QRegularExpression("^Title:[ \\t]*(.*)$", QRegularExpression::MultilineOption).match(info);
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

} // namespace

class TDocumentPrintingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void placement_data();
    void placement();
    void printsWhereThePlacementSays_data();
    void printsWhereThePlacementSays();
    void emptyBitmapStartsNoJob();
    void refusedJobIsReported();

private:
    QTemporaryDir FDir;
};

void TDocumentPrintingTest::initTestCase() {
    QVERIFY(FDir.isValid());
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty() ||
        QStandardPaths::findExecutable("pdfinfo").isEmpty()) {
        QFAIL("pdftoppm and pdfinfo (poppler-utils) are needed");
    }
    QDir().mkpath(LV_TEST_OUTPUT_DIR);
}

void TDocumentPrintingTest::placement_data() {
    QTest::addColumn<QSizeF>("page");
    QTest::addColumn<QSize>("bitmap");
    QTest::addColumn<QRectF>("expected");
    QTest::newRow("wider than the page spans the width")
        << QSizeF(4800, 6600) << QSize(2000, 1000) << QRectF(0, 0, 4800, 2400);
    QTest::newRow("taller than the page keeps its proportions")
        << QSizeF(4800, 6600) << QSize(1000, 2000) << QRectF(0, 0, 3300, 6600);
    QTest::newRow("same proportions fill the page")
        << QSizeF(4800, 6600) << QSize(480, 660) << QRectF(0, 0, 4800, 6600);
    QTest::newRow("small bitmap is enlarged")
        << QSizeF(4800, 6600) << QSize(48, 33) << QRectF(0, 0, 4800, 3300);
    QTest::newRow("empty bitmap gives nothing") << QSizeF(4800, 6600) << QSize(0, 100) << QRectF();
    QTest::newRow("empty page gives nothing") << QSizeF(0, 6600) << QSize(100, 100) << QRectF();
    QTest::newRow("page size not a number gives nothing")
        << QSizeF(qQNaN(), 6600) << QSize(100, 100) << QRectF();
}

void TDocumentPrintingTest::placement() {
    QFETCH(QSizeF, page);
    QFETCH(QSize, bitmap);
    QFETCH(QRectF, expected);
    const TPrintPlacement p =
        PlaceBitmapOnPage(page.width(), page.height(), bitmap.width(), bitmap.height());
    QCOMPARE(p.IsEmpty(), expected.isEmpty());
    QCOMPARE(QRectF(p.Left, p.Top, p.Width, p.Height), expected);
}

void TDocumentPrintingTest::printsWhereThePlacementSays_data() {
    QTest::addColumn<QSize>("bitmap");
    QTest::addColumn<double>("margin");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QRect>("inked"); // device pixels within the printable area
    QTest::newRow("wide image over the top of the page")
        << QSize(2000, 1000) << 0.0 << "0001~A 2024-05-01" << QRect(0, 0, 4800, 2400);
    QTest::newRow("tall image not stretched sideways")
        << QSize(1000, 2000) << 0.0 << "0002~B" << QRect(0, 0, 3300, 6600);
    QTest::newRow("placed inside the printer's margins")
        << QSize(2000, 1000) << 0.5 << "margins" << QRect(0, 0, 4800, 2400);
    QTest::newRow("no entry selected: empty job title")
        << QSize(2000, 1000) << 0.0 << "" << QRect(0, 0, 4800, 2400);
}

void TDocumentPrintingTest::printsWhereThePlacementSays() {
    QFETCH(QSize, bitmap);
    QFETCH(double, margin);
    QFETCH(QString, title);
    QFETCH(QRect, inked);
    const QString pdf = FDir.filePath(QStringLiteral("print-%1.pdf")
                                          .arg(QTest::currentDataTag())
                                          .replace(QRegularExpression("[^A-Za-z0-9.-]"), "_"));
    auto printer = PdfPrinter(pdf, QSize(4800, 6600), margin);
    QCOMPARE(printer->width(), 4800);
    QCOMPARE(printer->height(), 6600);

    QImage black(bitmap, QImage::Format_RGB32);
    black.fill(Qt::black);
    PrintBitmap(*printer, black, title);

    QVERIFY(QFile::exists(pdf));
    QCOMPARE(Pages(pdf), 1);
    QCOMPARE(Title(pdf), title);
    const QImage page = RenderFirstPage(pdf);
    QVERIFY(!page.isNull());
    page.save(QStringLiteral(LV_TEST_OUTPUT_DIR "/%1.png").arg(QFileInfo(pdf).completeBaseName()));
    const int offset = qRound(margin * RenderDpi);
    QCOMPARE(page.size(), QSize(qRound(4800 / DevicePerRendered) + 2 * offset,
                                qRound(6600 / DevicePerRendered) + 2 * offset));

    // Every rendered pixel clear of the ink's edges (2 px) must be dark inside, white outside.
    const QRectF ink(offset + inked.left() / DevicePerRendered,
                     offset + inked.top() / DevicePerRendered, inked.width() / DevicePerRendered,
                     inked.height() / DevicePerRendered);
    int wrong = 0;
    QString first;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            const QPointF c(x + 0.5, y + 0.5);
            const bool inside = ink.adjusted(2, 2, -2, -2).contains(c);
            const bool outside = !ink.adjusted(-2, -2, 2, 2).contains(c);
            const int grey = qGray(page.pixel(x, y));
            if ((inside && grey > 40) || (outside && grey < 215)) {
                if (wrong++ == 0) {
                    first = QStringLiteral("(%1,%2) grey %3").arg(x).arg(y).arg(grey);
                }
            }
        }
    }
    QVERIFY2(wrong == 0,
             qPrintable(QStringLiteral("%1 pixels wrong, first %2").arg(wrong).arg(first)));
}

void TDocumentPrintingTest::emptyBitmapStartsNoJob() {
    const QString pdf = FDir.filePath("empty.pdf");
    auto printer = PdfPrinter(pdf, QSize(4800, 6600), 0);
    PrintBitmap(*printer, QImage(), "nothing");
    QVERIFY(!QFile::exists(pdf));
    QCOMPARE(printer->printerState(), QPrinter::Idle);
}

// A job the printer cannot start is an error the window reports, not a silent success.
void TDocumentPrintingTest::refusedJobIsReported() {
    const QString pdf = FDir.filePath("no-such-folder/out.pdf");
    auto printer = PdfPrinter(pdf, QSize(4800, 6600), 0);
    QImage black(100, 100, QImage::Format_RGB32);
    black.fill(Qt::black);
    try {
        PrintBitmap(*printer, black, "0003~C");
        QFAIL("no error for a job that could not start");
    } catch (const std::runtime_error& e) {
        QVERIFY2(QString::fromUtf8(e.what()).contains("0003~C"), e.what());
    }
    QVERIFY(!QFile::exists(pdf));
}

QTEST_MAIN(TDocumentPrintingTest)
#include "tst_documentprinting.moc"
