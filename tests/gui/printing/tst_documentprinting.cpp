// Print jobs printed to a real PDF through Qt's printer and read back with poppler: how
// many pages each choice gives, where the picture lands for each size, turns, sheet
// orientation, the resolution pages are decoded at, the job title, failures and Cancel.
#include "PrintFixtures.h"
#include "viewer/PrintJob.h"

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <memory>

using namespace printfixtures;
using lvprint::TPrintOptions;
using lvprint::TPrintOrientation;
using lvprint::TPrintPages;
using lvprint::TPrintSize;

Q_DECLARE_METATYPE(TPrintPages)
Q_DECLARE_METATYPE(TPrintSize)
Q_DECLARE_METATYPE(TPrintOrientation)

namespace {

constexpr int RenderDpi = 50;
// Half a rendered pixel is 0.25 mm; the edges of the ink are allowed 1 mm.
constexpr double ToleranceMm = 1.0;

// Page k of the five-page document has a black bar 100 px high at row 200 + 300 k, so a
// printed page says which page it is.
TBilevelPage DocumentPage(int AIndex) {
    return {1240, 1754, {QRect(100, 200 + 300 * AIndex, 1040, 100)}, 150};
}

QString Describe(const QRectF& ARect) {
    return QStringLiteral("(%1, %2) %3 x %4 mm")
        .arg(ARect.x(), 0, 'f', 1)
        .arg(ARect.y(), 0, 'f', 1)
        .arg(ARect.width(), 0, 'f', 1)
        .arg(ARect.height(), 0, 'f', 1);
}

bool Near(const QRectF& AActual, const QRectF& AExpected) {
    return qAbs(AActual.left() - AExpected.left()) <= ToleranceMm &&
           qAbs(AActual.top() - AExpected.top()) <= ToleranceMm &&
           qAbs(AActual.right() - AExpected.right()) <= ToleranceMm &&
           qAbs(AActual.bottom() - AExpected.bottom()) <= ToleranceMm;
}

} // namespace

class TDocumentPrintingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void pagesForEachChoice_data();
    void pagesForEachChoice();
    void pictureBoxForEachSize_data();
    void pictureBoxForEachSize();
    void turnedAsShownOrAsStored_data();
    void turnedAsShownOrAsStored();
    void sheetOrientation_data();
    void sheetOrientation();
    void decodedAtThePrintersResolution_data();
    void decodedAtThePrintersResolution();
    void unreadablePageIsPrintedAsItsError();
    void refusedJobIsReported();
    void cancelKeepsTheFinishedPages();
    void cancelFromTheProgressDialog();

private:
    QString Pdf(const QString& AName) const;
    TPrintSource List() const;
    TPrintOutcome Print(const TPrintSource& ASource, const TPrintOptions& AOptions,
                        const QString& APdf,
                        QPageLayout::Orientation APrinter = QPageLayout::Portrait,
                        int AResolution = 0);

    QTemporaryDir FDir;
};

void TDocumentPrintingTest::initTestCase() {
    QVERIFY(FDir.isValid());
    for (const char* tool : {"pdfinfo", "pdftoppm", "pdfimages"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            QFAIL(qPrintable(QStringLiteral("%1 (poppler-utils) is needed").arg(tool)));
        }
    }
    QDir().mkpath(LV_TEST_OUTPUT_DIR);
    std::vector<TBilevelPage> document;
    document.reserve(5);
    for (int i = 0; i < 5; ++i) {
        document.push_back(DocumentPage(i));
    }
    WriteBilevelPages(FDir.filePath("0001~A.tif"), document);
    WritePicture(FDir.filePath("0001~B.png"), QSize(600, 800), {QRect(0, 0, 600, 100)}, 100);
    WritePicture(FDir.filePath("0001~C.jpg"), QSize(800, 600), {QRect(0, 0, 800, 100)}, 100);
}

QString TDocumentPrintingTest::Pdf(const QString& AName) const {
    QString name = AName;
    name.replace(QRegularExpression("[^A-Za-z0-9.-]"), "_");
    QString path = FDir.filePath(name + ".pdf");
    QFile::remove(path);
    return path;
}

// The identifier's three files: the five-page TIFF shown at its third page.
TPrintSource TDocumentPrintingTest::List() const {
    TPrintSource source;
    for (const char* name : {"0001~A.tif", "0001~B.png", "0001~C.jpg"}) {
        source.Files.push_back({FDir.filePath(name), QString::fromLatin1(name)});
    }
    source.ShownFile = 0;
    source.ShownPage = 2;
    source.Identifier = "0001";
    return source;
}

TPrintOutcome TDocumentPrintingTest::Print(const TPrintSource& ASource,
                                           const TPrintOptions& AOptions, const QString& APdf,
                                           QPageLayout::Orientation APrinter, int AResolution) {
    auto printer = PdfPrinter(APdf, APrinter);
    if (AResolution > 0) {
        printer->setResolution(AResolution);
    }
    TPrintOutcome outcome = PrintJob(*printer, MakePrintRequest(ASource, AOptions), nullptr, {});
    // The printer's own setting is what the next job starts from.
    if (printer->pageLayout().orientation() != APrinter) {
        qWarning("the job left the printer's orientation changed");
        return {};
    }
    return outcome;
}

void TDocumentPrintingTest::pagesForEachChoice_data() {
    QTest::addColumn<TPrintPages>("pages");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QList<int>>("bars"); // which document page each printed page shows
    QTest::newRow("the page shown") << TPrintPages::Shown << 1 << "0001~A.tif" << QList<int>{2};
    QTest::newRow("every page of the file")
        << TPrintPages::File << 5 << "0001~A.tif" << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("every page of every file")
        << TPrintPages::List << 7 << "0001" << QList<int>{0, 1, 2, 3, 4};
}

void TDocumentPrintingTest::pagesForEachChoice() {
    QFETCH(TPrintPages, pages);
    QFETCH(int, count);
    QFETCH(QString, title);
    QFETCH(QList<int>, bars);
    const QString pdf = Pdf(QStringLiteral("pages-%1").arg(QTest::currentDataTag()));
    TPrintOptions options;
    options.Pages = pages;
    options.Orientation = TPrintOrientation::Printer;
    const TPrintOutcome outcome = Print(List(), options, pdf);
    QVERIFY2(outcome.Error.isEmpty(), qPrintable(outcome.Error));
    QVERIFY2(outcome.Failures.isEmpty(), qPrintable(outcome.Failures.join("; ")));
    QCOMPARE(outcome.PagesPrinted, count);
    QCOMPARE(PdfPages(pdf), count);
    QCOMPARE(PdfTitle(pdf), title);
    // The document's pages come in order: each shows its own bar, whose top sits at
    // (200 + 300 k) / 1754 of the picture's height (fit width on a portrait sheet).
    for (int i = 0; i < bars.size(); ++i) {
        const QImage page = RenderPdfPage(pdf, i + 1, RenderDpi);
        const QRectF bar = Millimetres(InkBox(page), RenderDpi);
        const double pictureHigh = 190.0 * 1754 / 1240;
        const double expectedTop = 10 + pictureHigh * (200 + 300 * bars[i]) / 1754;
        QVERIFY2(qAbs(bar.top() - expectedTop) <= ToleranceMm,
                 qPrintable(QStringLiteral("printed page %1: bar at %2, expected page %3's")
                                .arg(i + 1)
                                .arg(Describe(bar))
                                .arg(bars[i] + 1)));
    }
    if (pages == TPrintPages::List) {
        // The PNG and the JPEG follow, each with its bar across its top.
        for (int i = 5; i < 7; ++i) {
            const QRectF bar = Millimetres(InkBox(RenderPdfPage(pdf, i + 1, RenderDpi)), RenderDpi);
            QVERIFY2(qAbs(bar.top() - 10) <= ToleranceMm && qAbs(bar.width() - 190) <= ToleranceMm,
                     qPrintable(QStringLiteral("page %1: %2").arg(i + 1).arg(Describe(bar))));
        }
    }
}

void TDocumentPrintingTest::pictureBoxForEachSize_data() {
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<TPrintSize>("size");
    QTest::addColumn<TPrintOrientation>("orientation");
    QTest::addColumn<QSizeF>("paper");
    QTest::addColumn<QRectF>("box"); // millimetres on the paper
    // A4 with 10 mm margins: the printable area is (10, 10) 190 x 277 mm.
    const QSizeF a4(210, 297);
    // 1500 x 1000 at 300 dpi is 127 x 84.67 mm.
    QTest::newRow("fit width: across the printable width at its top")
        << QSize(1500, 1000) << 300 << TPrintSize::FitWidth << TPrintOrientation::Printer << a4
        << QRectF(10, 10, 190, 190 / 1.5);
    QTest::newRow("fit width: a tall page held to the printable height")
        << QSize(1000, 3000) << 300 << TPrintSize::FitWidth << TPrintOrientation::Printer << a4
        << QRectF(10, 10, 277 / 3.0, 277);
    QTest::newRow("fit page: centred in the printable area")
        << QSize(1500, 1000) << 300 << TPrintSize::FitPage << TPrintOrientation::Printer << a4
        << QRectF(10, 10 + (277 - 190 / 1.5) / 2, 190, 190 / 1.5);
    QTest::newRow("actual size: its own millimetres, centred on the paper")
        << QSize(1500, 1000) << 300 << TPrintSize::Actual << TPrintOrientation::Printer << a4
        << QRectF((210 - 127) / 2.0, (297 - 1000 * 25.4 / 300) / 2, 127, 1000 * 25.4 / 300);
    QTest::newRow("actual size: an A4 300 dpi scan fills the A4 page")
        << QSize(2480, 3508) << 300 << TPrintSize::Actual << TPrintOrientation::Automatic << a4
        << QRectF(0, 0, 210, 297);
    QTest::newRow("actual size: no resolution in the file is taken as 300 dpi")
        << QSize(2480, 3508) << 0 << TPrintSize::Actual << TPrintOrientation::Automatic << a4
        << QRectF(0, 0, 210, 297);
    QTest::newRow("actual size: a landscape scan on a landscape sheet")
        << QSize(1500, 1000) << 300 << TPrintSize::Actual << TPrintOrientation::Automatic
        << a4.transposed()
        << QRectF((297 - 127) / 2.0, (210 - 1000 * 25.4 / 300) / 2, 127, 1000 * 25.4 / 300);
}

void TDocumentPrintingTest::pictureBoxForEachSize() {
    QFETCH(QSize, pixels);
    QFETCH(int, dpi);
    QFETCH(TPrintSize, size);
    QFETCH(TPrintOrientation, orientation);
    QFETCH(QSizeF, paper);
    QFETCH(QRectF, box);
    const QString scan = FDir.filePath(
        QStringLiteral("black-%1x%2-%3.tif").arg(pixels.width()).arg(pixels.height()).arg(dpi));
    if (!QFile::exists(scan)) {
        WriteBilevelPages(scan, {{pixels.width(),
                                  pixels.height(),
                                  {QRect(QPoint(0, 0), pixels)},
                                  static_cast<double>(dpi)}});
    }
    TPrintSource source;
    source.Files.push_back({scan, "scan.tif"});
    source.ShownFile = 0;
    TPrintOptions options;
    options.Size = size;
    options.Orientation = orientation;
    const QString pdf = Pdf(QStringLiteral("size-%1").arg(QTest::currentDataTag()));
    const TPrintOutcome outcome = Print(source, options, pdf);
    QVERIFY2(outcome.Error.isEmpty() && outcome.Failures.isEmpty(),
             qPrintable(outcome.Error + outcome.Failures.join("; ")));
    const std::vector<QSizeF> sheets = PdfPageSizes(pdf);
    QCOMPARE(sheets.size(), size_t(1));
    QVERIFY2(
        qAbs(sheets[0].width() - paper.width()) < 0.5 &&
            qAbs(sheets[0].height() - paper.height()) < 0.5,
        qPrintable(
            QStringLiteral("paper %1 x %2 mm").arg(sheets[0].width()).arg(sheets[0].height())));
    const QImage page = RenderPdfPage(pdf, 1, RenderDpi);
    page.save(QStringLiteral(LV_TEST_OUTPUT_DIR "/%1.png").arg(QFileInfo(pdf).completeBaseName()));
    const QRectF ink = Millimetres(InkBox(page), RenderDpi);
    QVERIFY2(Near(ink, box),
             qPrintable(QStringLiteral("ink %1, expected %2").arg(Describe(ink), Describe(box))));
}

void TDocumentPrintingTest::turnedAsShownOrAsStored_data() {
    QTest::addColumn<double>("angle");
    QTest::addColumn<bool>("asShown");
    QTest::addColumn<QRectF>("mark"); // millimetres on a portrait A4 sheet
    // A 1000 x 1400 page with a 300 x 300 mark at its top left, fitted to the whole
    // printable area (10, 10) 190 x 277.
    const double upright = 190.0 / 1000; // mm per pixel upright: 190 x 266 mm
    const double turned = 190.0 / 1400;  // turned a quarter: 190 x 135.7 mm
    const QRectF uprightMark(10, 10 + (277 - 1400 * upright) / 2, 300 * upright, 300 * upright);
    QTest::newRow("as stored when 'as shown' is off") << 90.0 << false << uprightMark;
    QTest::newRow("a quarter turn right puts the mark top right")
        << 90.0 << true
        << QRectF(200 - 300 * turned, 10 + (277 - 1000 * turned) / 2, 300 * turned, 300 * turned);
    QTest::newRow("a quarter turn left puts the mark bottom left")
        << -90.0 << true
        << QRectF(10, 10 + (277 - 1000 * turned) / 2 + (1000 - 300) * turned, 300 * turned,
                  300 * turned);
    QTest::newRow("half a turn puts the mark bottom right")
        << 180.0 << true
        << QRectF(200 - 300 * upright, 10 + (277 - 1400 * upright) / 2 + 1100 * upright,
                  300 * upright, 300 * upright);
    QTest::newRow("upright and as shown is as stored") << 0.0 << true << uprightMark;
}

void TDocumentPrintingTest::turnedAsShownOrAsStored() {
    QFETCH(double, angle);
    QFETCH(bool, asShown);
    QFETCH(QRectF, mark);
    const QString scan = FDir.filePath("marked.tif");
    if (!QFile::exists(scan)) {
        WriteBilevelPages(scan, {{1000, 1400, {QRect(0, 0, 300, 300)}, 300}});
    }
    TPrintSource source;
    source.Files.push_back({scan, "marked.tif"});
    source.ShownFile = 0;
    source.ShownAngle = angle;
    TPrintOptions options;
    options.Size = TPrintSize::FitPage;
    options.AsShown = asShown;
    options.Orientation = TPrintOrientation::Printer;
    const QString pdf = Pdf(QStringLiteral("turn-%1").arg(QTest::currentDataTag()));
    QVERIFY(Print(source, options, pdf).Error.isEmpty());
    const QRectF ink = Millimetres(InkBox(RenderPdfPage(pdf, 1, RenderDpi)), RenderDpi);
    QVERIFY2(Near(ink, mark),
             qPrintable(QStringLiteral("mark %1, expected %2").arg(Describe(ink), Describe(mark))));
}

void TDocumentPrintingTest::sheetOrientation_data() {
    QTest::addColumn<TPrintOrientation>("orientation");
    QTest::addColumn<QPageLayout::Orientation>("printer");
    QTest::addColumn<double>("angle");
    QTest::addColumn<QList<bool>>("landscape"); // per printed page: portrait, then landscape scan
    QTest::newRow("automatic: each page on the sheet that suits it")
        << TPrintOrientation::Automatic << QPageLayout::Portrait << 0.0 << QList<bool>{false, true};
    QTest::newRow("automatic: the printer's landscape setting does not decide")
        << TPrintOrientation::Automatic << QPageLayout::Landscape << 0.0
        << QList<bool>{false, true};
    QTest::newRow("automatic: turns count") << TPrintOrientation::Automatic << QPageLayout::Portrait
                                            << 90.0 << QList<bool>{true, false};
    QTest::newRow("as the printer says: portrait")
        << TPrintOrientation::Printer << QPageLayout::Portrait << 0.0 << QList<bool>{false, false};
    QTest::newRow("as the printer says: landscape")
        << TPrintOrientation::Printer << QPageLayout::Landscape << 0.0 << QList<bool>{true, true};
}

void TDocumentPrintingTest::sheetOrientation() {
    QFETCH(TPrintOrientation, orientation);
    QFETCH(QPageLayout::Orientation, printer);
    QFETCH(double, angle);
    QFETCH(QList<bool>, landscape);
    const QString portrait = FDir.filePath("0002~portrait.tif");
    const QString wide = FDir.filePath("0002~landscape.png");
    if (!QFile::exists(portrait)) {
        WriteBilevelPages(portrait, {{1000, 1400, {QRect(0, 0, 1000, 100)}, 200}});
        WritePicture(wide, QSize(1400, 1000), {QRect(0, 0, 1400, 100)}, 200);
    }
    TPrintSource source;
    source.Files = {{portrait, "0002~portrait.tif"}, {wide, "0002~landscape.png"}};
    source.ShownFile = 1;
    source.ShownAngle = angle;
    source.AngleOf = [angle](int) { return angle; };
    source.Identifier = "0002";
    TPrintOptions options;
    options.Pages = TPrintPages::List;
    options.Orientation = orientation;
    const QString pdf = Pdf(QStringLiteral("orientation-%1").arg(QTest::currentDataTag()));
    QVERIFY(Print(source, options, pdf, printer).Error.isEmpty());
    const std::vector<QSizeF> sheets = PdfPageSizes(pdf);
    QCOMPARE(static_cast<int>(sheets.size()), landscape.size());
    for (int i = 0; i < landscape.size(); ++i) {
        const QSizeF s = sheets[static_cast<size_t>(i)];
        QCOMPARE(s.width() > s.height(), landscape[i]);
        QVERIFY(qAbs(qMax(s.width(), s.height()) - 297) < 0.5);
    }
}

void TDocumentPrintingTest::decodedAtThePrintersResolution_data() {
    QTest::addColumn<int>("resolution");
    QTest::addColumn<QSize>("decoded"); // within a pixel or two of rounding
    // An A4 300 dpi scan fitted to the 190 mm printable width: a 1200 dpi printer could
    // take 8976 px across, so it gets all 2480 of the file's; a 150 dpi printer can show
    // about 1122 px across and gets no more.
    QTest::newRow("printer finer than the scan: the file's own pixels")
        << 1200 << QSize(2480, 3508);
    QTest::newRow("printer coarser than the scan: the printer's") << 150 << QSize(1122, 1587);
}

void TDocumentPrintingTest::decodedAtThePrintersResolution() {
    QFETCH(int, resolution);
    QFETCH(QSize, decoded);
    const QString scan = FDir.filePath("a4-300.tif");
    if (!QFile::exists(scan)) {
        WriteBilevelPages(scan, {{2480, 3508, {QRect(0, 0, 2480, 50)}, 300}});
    }
    TPrintSource source;
    source.Files.push_back({scan, "a4-300.tif"});
    source.ShownFile = 0;
    TPrintOptions options;
    options.Orientation = TPrintOrientation::Printer;
    const QString pdf = Pdf(QStringLiteral("resolution-%1").arg(resolution));
    QVERIFY(Print(source, options, pdf, QPageLayout::Portrait, resolution).Error.isEmpty());
    // The page's picture goes into the PDF as bands of the decoded picture, never more
    // than a band of rows each.
    const std::vector<TPdfImage> images = PdfImages(pdf);
    QVERIFY(!images.empty());
    int rows = 0;
    for (const TPdfImage& image : images) {
        QCOMPARE(image.Page, 1);
        QVERIFY2(qAbs(image.Size.width() - decoded.width()) <= 2,
                 qPrintable(QString::number(image.Size.width())));
        QVERIFY2(image.Size.height() <= 256, qPrintable(QString::number(image.Size.height())));
        rows += image.Size.height();
    }
    QVERIFY2(qAbs(rows - decoded.height()) <= 3, qPrintable(QString::number(rows)));
}

// A page that cannot be read does not end the job: it prints as its error, and the pages
// after it still print.
void TDocumentPrintingTest::unreadablePageIsPrintedAsItsError() {
    const QString broken = FDir.filePath("0003~broken.tif");
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("II*\0garbage that is no directory", 32);
    file.close();
    TPrintSource source = List();
    source.Files.insert(source.Files.begin() + 1, {broken, "0003~broken.tif"});
    TPrintOptions options;
    options.Pages = TPrintPages::List;
    const QString pdf = Pdf("unreadable");
    const TPrintOutcome outcome = Print(source, options, pdf);
    QVERIFY(outcome.Error.isEmpty());
    QCOMPARE(outcome.Failures.size(), 1);
    QVERIFY2(outcome.Failures[0].contains("0003~broken.tif"), qPrintable(outcome.Failures[0]));
    QCOMPARE(PdfPages(pdf), 8);
    // The error's page carries ink (its text); the PNG after it is its own picture.
    QVERIFY(!InkBox(RenderPdfPage(pdf, 6, RenderDpi)).isEmpty());
    const QRectF bar = Millimetres(InkBox(RenderPdfPage(pdf, 7, RenderDpi)), RenderDpi);
    QVERIFY2(qAbs(bar.top() - 10) <= ToleranceMm, qPrintable(Describe(bar)));
}

// A job the printer cannot start is an error the window reports, not a silent success.
void TDocumentPrintingTest::refusedJobIsReported() {
    const QString pdf = FDir.filePath("no-such-folder/out.pdf");
    const TPrintOutcome outcome = Print(List(), TPrintOptions{}, pdf);
    QVERIFY2(outcome.Error.contains("0001~A.tif"), qPrintable(outcome.Error));
    QCOMPARE(outcome.PagesPrinted, 0);
    QVERIFY(!QFile::exists(pdf));
}

// Twenty single-page files; Cancel after the fifth page leaves a whole PDF of five pages.
void TDocumentPrintingTest::cancelKeepsTheFinishedPages() {
    TPrintSource source;
    for (int i = 0; i < 20; ++i) {
        const QString path = FDir.filePath(QStringLiteral("0004~%1.png").arg(i, 2, 10, QChar('0')));
        if (!QFile::exists(path)) {
            WritePicture(path, QSize(400, 560), {QRect(0, 10 * i, 400, 10)}, 50);
        }
        source.Files.push_back({path, QFileInfo(path).fileName()});
    }
    source.ShownFile = 0;
    source.Identifier = "0004";
    TPrintOptions options;
    options.Pages = TPrintPages::List;
    const QString pdf = Pdf("cancel-after-five");
    auto printer = PdfPrinter(pdf);
    std::atomic<bool> cancel{false};
    QList<int> heard;
    const TPrintOutcome outcome =
        PrintJob(*printer, MakePrintRequest(source, options), &cancel, [&](int ADone, int ATotal) {
            heard << ADone;
            QCOMPARE(ATotal, 20);
            if (ADone == 5) {
                cancel = true;
            }
        });
    QVERIFY(outcome.Cancelled);
    QCOMPARE(outcome.PagesPrinted, 5);
    QCOMPARE(outcome.PagesTotal, 20);
    QCOMPARE(heard, (QList<int>{0, 1, 2, 3, 4, 5}));
    QCOMPARE(PdfPages(pdf), 5);
    // The last page printed is whole: the fifth file's bar at its place.
    const QRectF bar = Millimetres(InkBox(RenderPdfPage(pdf, 5, RenderDpi)), RenderDpi);
    QVERIFY2(qAbs(bar.top() - (10 + 190.0 * 40 / 400)) <= ToleranceMm, qPrintable(Describe(bar)));
}

// The same through the runner: the job runs off the GUI thread, the progress dialog shows
// and its Cancel button ends the job with a whole PDF.
void TDocumentPrintingTest::cancelFromTheProgressDialog() {
    TPrintSource source;
    for (int i = 0; i < 20; ++i) {
        // Large enough that a page takes a while, so Cancel lands part way.
        const QString path = FDir.filePath(QStringLiteral("0005~%1.tif").arg(i, 2, 10, QChar('0')));
        if (!QFile::exists(path)) {
            WriteBilevelPages(path, {{2480, 3508, {QRect(0, 100 * i, 2480, 100)}, 300}});
        }
        source.Files.push_back({path, QFileInfo(path).fileName()});
    }
    source.ShownFile = 0;
    source.Identifier = "0005";
    TPrintOptions options;
    options.Pages = TPrintPages::List;
    const QString pdf = Pdf("cancel-from-dialog");
    QWidget window;
    window.show();
    TPrintJobRunner runner(PdfPrinter(pdf), MakePrintRequest(source, options), &window);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(5);
    runner.Start();
    QVERIFY(runner.IsRunning());
    QTRY_VERIFY(runner.Progress() && runner.Progress()->isVisible());
    QCOMPARE(runner.Progress()->maximum(), 20);
    QTRY_VERIFY(runner.Progress()->value() >= 2);
    // The GUI thread kept running while pages printed.
    QVERIFY(ticks > 0);
    QPushButton* cancel = runner.Progress()->findChild<QPushButton*>();
    QVERIFY(cancel);
    cancel->click();
    QTRY_VERIFY_WITH_TIMEOUT(!runner.IsRunning(), 60000);
    QVERIFY(runner.Outcome().Cancelled);
    QVERIFY(runner.Outcome().PagesPrinted >= 2 && runner.Outcome().PagesPrinted < 20);
    QCOMPARE(PdfPages(pdf), runner.Outcome().PagesPrinted);
    QVERIFY(runner.Progress() == nullptr);
    QVERIFY(runner.TakePrinter() != nullptr);
}

QTEST_MAIN(TDocumentPrintingTest)
#include "tst_documentprinting.moc"
