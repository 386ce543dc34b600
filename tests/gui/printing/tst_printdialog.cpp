// The print dialog driven for real: its controls set the options, its preview shows the
// sheets the PDF gets (same count, the picture in the same place), the note for a file
// without a resolution, and the options remembered per host connection.
#include "PrintFixtures.h"
#include "positions/PrintOptionsStore.h"
#include "viewer/Orlenza.DocumentPrinting.h"
#include "viewer/PrintDialog.h"

#include <QCheckBox>
#include <QDir>
#include <QGraphicsView>
#include <QLabel>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace printfixtures;
// The store's own option names are global; the dialog's live in lvprint.
using TOptions = lvprint::TPrintOptions;
using TOrientation = lvprint::TPrintOrientation;
using TPages = lvprint::TPrintPages;
using TSize = lvprint::TPrintSize;

Q_DECLARE_METATYPE(TPages)
Q_DECLARE_METATYPE(TSize)

namespace {

// The sheet and the ink on it as fractions of the sheet, from a picture of a rendered page:
// the sheet is the white area, the ink the dark pixels on it.
struct TInkOnSheet {
    QRectF Ink; // fractions of the sheet's width and height
    double Aspect = 0;
};

TInkOnSheet FindInk(const QImage& AImage, bool AWholeImageIsSheet) {
    const QImage grey = AImage.convertToFormat(QImage::Format_Grayscale8);
    // The preview may show the top of the next sheet below the first: the first sheet is
    // the first band of rows that are mostly white.
    QRect sheet = AWholeImageIsSheet ? grey.rect() : QRect();
    const auto whiteIn = [&grey](int AY) {
        int white = 0;
        for (int x = 0; x < grey.width(); ++x) {
            white += grey.constScanLine(AY)[x] >= 250;
        }
        return white;
    };
    for (int y = 0; !AWholeImageIsSheet && y < grey.height(); ++y) {
        if (whiteIn(y) < grey.width() / 4) {
            if (!sheet.isEmpty()) {
                break;
            }
            continue;
        }
        for (int x = 0; x < grey.width(); ++x) {
            if (grey.constScanLine(y)[x] >= 250) {
                sheet |= QRect(x, y, 1, 1);
            }
        }
    }
    QRect ink;
    for (int y = sheet.top(); y <= sheet.bottom(); ++y) {
        for (int x = sheet.left(); x <= sheet.right(); ++x) {
            if (grey.constScanLine(y)[x] < 100) {
                ink |= QRect(x, y, 1, 1);
            }
        }
    }
    TInkOnSheet result;
    if (sheet.isEmpty() || ink.isEmpty()) {
        return result;
    }
    const double w = sheet.width();
    const double h = sheet.height();
    result.Ink = QRectF((ink.left() - sheet.left()) / w, (ink.top() - sheet.top()) / h,
                        ink.width() / w, ink.height() / h);
    result.Aspect = w / h;
    return result;
}

QString Describe(const TInkOnSheet& AInk) {
    return QStringLiteral("ink (%1, %2) %3 x %4 of a sheet %5 wide for 1 high")
        .arg(AInk.Ink.x(), 0, 'f', 3)
        .arg(AInk.Ink.y(), 0, 'f', 3)
        .arg(AInk.Ink.width(), 0, 'f', 3)
        .arg(AInk.Ink.height(), 0, 'f', 3)
        .arg(AInk.Aspect, 0, 'f', 3);
}

template <class T> T* Child(QWidget* AParent, const char* AName) {
    T* child = AParent->findChild<T*>(QString::fromLatin1(AName));
    if (!child) {
        qFatal("no %s", AName);
    }
    return child;
}

} // namespace

class TPrintDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void controlsSetTheOptions();
    void previewShowsWhatThePdfGets_data();
    void previewShowsWhatThePdfGets();
    void saysWhenAFileHasNoResolution();
    void printingFromTheSeamStartsTheJob();
    void optionsRememberedPerConnection();
    void fitsAShortScreenWithItsButtonsInView();

private:
    TPrintSource List() const;
    QTemporaryDir FDir;
};

void TPrintDialogTest::initTestCase() {
    QVERIFY(FDir.isValid());
    for (const char* tool : {"pdfinfo", "pdftoppm"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            QFAIL(qPrintable(QStringLiteral("%1 (poppler-utils) is needed").arg(tool)));
        }
    }
    std::vector<TBilevelPage> document;
    document.reserve(5);
    for (int i = 0; i < 5; ++i) {
        document.push_back({1240, 1754, {QRect(100, 200 + 300 * i, 800, 150)}, 150});
    }
    WriteBilevelPages(FDir.filePath("0001~A.tif"), document);
    // Landscape, so the automatic orientation has a landscape sheet to show.
    WritePicture(FDir.filePath("0001~B.png"), QSize(800, 600), {QRect(400, 300, 300, 200)}, 100);
    WriteBilevelPages(FDir.filePath("0001~C.tif"), {{600, 800, {QRect(0, 0, 600, 100)}, 0}});
}

TPrintSource TPrintDialogTest::List() const {
    TPrintSource source;
    for (const char* name : {"0001~A.tif", "0001~B.png", "0001~C.tif"}) {
        source.Files.push_back({FDir.filePath(name), QString::fromLatin1(name)});
    }
    source.ShownFile = 0;
    source.ShownPage = 0;
    source.ShownAngle = 90;
    source.Identifier = "0001";
    return source;
}

void TPrintDialogTest::controlsSetTheOptions() {
    auto printer = PdfPrinter(FDir.filePath("controls.pdf"));
    TOptions start;
    start.Pages = TPages::File;
    start.Size = TSize::Actual;
    start.AsShown = false;
    start.Orientation = TOrientation::Printer;
    TPrintDialog dialog(*printer, List(), start);
    QCOMPARE(dialog.Options(), start);
    QVERIFY(Child<QRadioButton>(&dialog, "rbPagesFile")->isChecked());
    QVERIFY(Child<QRadioButton>(&dialog, "rbSizeActual")->isChecked());
    QVERIFY(!Child<QCheckBox>(&dialog, "chkAsShown")->isChecked());
    QVERIFY(Child<QRadioButton>(&dialog, "rbOrientationPrinter")->isChecked());

    Child<QRadioButton>(&dialog, "rbPagesList")->click();
    Child<QRadioButton>(&dialog, "rbSizeFitPage")->click();
    Child<QCheckBox>(&dialog, "chkAsShown")->click();
    Child<QRadioButton>(&dialog, "rbOrientationAuto")->click();
    TOptions expected;
    expected.Pages = TPages::List;
    expected.Size = TSize::FitPage;
    expected.AsShown = true;
    expected.Orientation = TOrientation::Automatic;
    QCOMPARE(dialog.Options(), expected);
    // The request follows: the list's three files under the identifier.
    const TPrintRequest request = dialog.Request();
    QCOMPARE(request.Title, QStringLiteral("0001"));
    QCOMPARE(request.Documents.size(), size_t(3));
    // Choosing a PDF file points the dialog's printer at it.
    const QString pdf = FDir.filePath("chosen.pdf");
    dialog.SelectPdfFile(pdf);
    QCOMPARE(printer->outputFormat(), QPrinter::PdfFormat);
    QCOMPARE(printer->outputFileName(), pdf);
}

void TPrintDialogTest::previewShowsWhatThePdfGets_data() {
    QTest::addColumn<TPages>("pages");
    QTest::addColumn<TSize>("size");
    QTest::addColumn<int>("shownFile");
    QTest::newRow("the page shown, turned, fit width") << TPages::Shown << TSize::FitWidth << 0;
    QTest::newRow("the whole file, fit page") << TPages::File << TSize::FitPage << 0;
    QTest::newRow("the list, actual size") << TPages::List << TSize::Actual << 0;
    QTest::newRow("a landscape page on its landscape sheet")
        << TPages::Shown << TSize::FitPage << 1;
}

void TPrintDialogTest::previewShowsWhatThePdfGets() {
    QFETCH(TPages, pages);
    QFETCH(TSize, size);
    QFETCH(int, shownFile);
    QString name = QString::fromLatin1(QTest::currentDataTag());
    const QString pdf =
        FDir.filePath(name.replace(QRegularExpression("[^A-Za-z0-9]"), "_") + ".pdf");
    auto printer = PdfPrinter(pdf);
    TOptions options;
    options.Pages = pages;
    options.Size = size;
    TPrintSource source = List();
    source.ShownFile = shownFile;
    source.ShownAngle = shownFile == 0 ? 90 : 0;
    TPrintDialog dialog(*printer, source, options);
    dialog.SelectPdfFile(pdf);
    dialog.resize(900, 700);
    dialog.show();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.PreviewIsComplete(), 20000);
    const int previewPages = dialog.PreviewPageCount();
    // The view's viewport: the sheets without the scroll bars beside them.
    QGraphicsView* view = dialog.Preview()->findChild<QGraphicsView*>();
    QVERIFY(view);
    const QImage preview = view->viewport()->grab().toImage();
    preview.save(
        QStringLiteral(LV_TEST_OUTPUT_DIR "/preview-%1.png").arg(QFileInfo(pdf).baseName()));

    const TPrintOutcome outcome = PrintJob(*printer, dialog.Request(), nullptr, {});
    QVERIFY2(outcome.Error.isEmpty() && outcome.Failures.isEmpty(),
             qPrintable(outcome.Error + outcome.Failures.join("; ")));
    QCOMPARE(previewPages, PdfPages(pdf));
    QCOMPARE(previewPages, outcome.PagesPrinted);

    const TInkOnSheet onPaper = FindInk(RenderPdfPage(pdf, 1, 40), true);
    const TInkOnSheet onScreen = FindInk(preview, false);
    const QString both = Describe(onPaper) + " on paper, " + Describe(onScreen) + " in the preview";
    QVERIFY2(!onPaper.Ink.isEmpty() && !onScreen.Ink.isEmpty(), qPrintable(both));
    // The preview is a few hundred pixels high: 2% of the sheet is a few of them.
    const double t = 0.02;
    QVERIFY2(qAbs(onPaper.Aspect - onScreen.Aspect) < t, qPrintable(both));
    QVERIFY2(qAbs(onPaper.Ink.left() - onScreen.Ink.left()) < t &&
                 qAbs(onPaper.Ink.top() - onScreen.Ink.top()) < t &&
                 qAbs(onPaper.Ink.right() - onScreen.Ink.right()) < t &&
                 qAbs(onPaper.Ink.bottom() - onScreen.Ink.bottom()) < t,
             qPrintable(both));
}

void TPrintDialogTest::saysWhenAFileHasNoResolution() {
    auto printer = PdfPrinter(FDir.filePath("note.pdf"));
    TPrintSource source = List();
    source.ShownFile = 2; // written without a resolution
    TOptions options;
    options.Size = TSize::Actual;
    TPrintDialog dialog(*printer, source, options);
    dialog.show();
    QLabel* note = Child<QLabel>(&dialog, "lblNoResolution");
    QTRY_VERIFY(dialog.PreviewIsComplete());
    QVERIFY(note->isVisible());
    QVERIFY2(note->text().contains("0001~C.tif") && note->text().contains("300 dpi"),
             qPrintable(note->text()));
    // Only actual size depends on it.
    Child<QRadioButton>(&dialog, "rbSizeFitWidth")->click();
    QTRY_VERIFY(dialog.PreviewIsComplete());
    QVERIFY(!note->isVisible());
    // A file that has one says nothing.
    Child<QRadioButton>(&dialog, "rbSizeActual")->click();
    QTRY_VERIFY(dialog.PreviewIsComplete());
    QVERIFY(note->isVisible());
    Child<QRadioButton>(&dialog, "rbPagesShown")->click();
    TPrintSource withResolution = List();
    TPrintDialog other(*printer, withResolution, options);
    other.show();
    QTRY_VERIFY(other.PreviewIsComplete());
    QVERIFY(!Child<QLabel>(&other, "lblNoResolution")->isVisible());
}

// The viewer's entry point through the dialog seam: no modal loop, the job runs, the PDF
// comes out with the file's name as its title.
void TPrintDialogTest::printingFromTheSeamStartsTheJob() {
    QWidget window;
    window.show();
    TDocumentPrinting printing(&window);
    const QString pdf = FDir.filePath("seam.pdf");
    int shown = 0;
    printing.SetDialogRunner([&](TPrintDialog& ADialog) {
        ++shown;
        ADialog.SelectPdfFile(pdf);
        return true;
    });
    QVERIFY(printing.Print(List()));
    QCOMPARE(shown, 1);
    QTRY_VERIFY_WITH_TIMEOUT(!printing.IsPrinting(), 20000);
    QCOMPARE(PdfPages(pdf), 1);
    QCOMPARE(PdfTitle(pdf), QStringLiteral("0001~A.tif"));
    // Declined: nothing starts.
    printing.SetDialogRunner([&](TPrintDialog&) {
        ++shown;
        return false;
    });
    QVERIFY(!printing.Print(List()));
    QCOMPARE(shown, 2);
    QVERIFY(!printing.IsPrinting());
}

// What one connection chose comes back for it, in a new run (a new entry point over the
// same files), and not for another connection.
void TPrintDialogTest::optionsRememberedPerConnection() {
    const QString folder = FDir.filePath("placements");
    const auto storeOf = [&folder](const char* AConnection) {
        return std::make_shared<TPrintOptionsStore>(folder.toStdString(), AConnection);
    };
    TOptions chosen;
    chosen.Pages = TPages::List;
    chosen.Size = TSize::Actual;
    chosen.AsShown = false;
    chosen.Orientation = TOrientation::Printer;
    QWidget window;
    {
        TDocumentPrinting printing(&window);
        printing.SetStore(storeOf("host-A"));
        printing.SetDialogRunner([&](TPrintDialog& ADialog) {
            // Nothing remembered yet: the defaults.
            if (ADialog.Options() != TOptions{}) {
                return false;
            }
            ADialog.SetOptions(chosen);
            ADialog.SelectPdfFile(FDir.filePath("remembered.pdf"));
            return true;
        });
        QVERIFY(printing.Print(List()));
        QTRY_VERIFY_WITH_TIMEOUT(!printing.IsPrinting(), 30000);
    }
    const auto opened = [&](const char* AConnection) {
        TDocumentPrinting printing(&window);
        printing.SetStore(storeOf(AConnection));
        TOptions seen;
        printing.SetDialogRunner([&](TPrintDialog& ADialog) {
            seen = ADialog.Options();
            return false;
        });
        printing.Print(List());
        return seen;
    };
    QCOMPARE(opened("host-A"), chosen);
    QCOMPARE(opened("host-B"), TOptions{});
    // A store that cannot be read counts as none.
    QFile broken(QString::fromStdString(storeOf("host-A")->FileName().string()));
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("{\"Pages\": [[[");
    broken.close();
    QCOMPARE(opened("host-A"), TOptions{});
}

// A 1600 x 1000 screen at 200 % leaves about 800 x 460 for a window: the dialog must
// shrink to that with Print and Cancel still on it (the options scroll instead).
void TPrintDialogTest::fitsAShortScreenWithItsButtonsInView() {
    auto printer = PdfPrinter(FDir.filePath("short.pdf"));
    TPrintDialog dialog(*printer, List(), TOptions());
    const QSize screen(800, 460);
    QVERIFY2(dialog.minimumSizeHint().height() <= screen.height() &&
                 dialog.minimumSizeHint().width() <= screen.width(),
             qPrintable(QStringLiteral("smallest dialog %1 x %2")
                            .arg(dialog.minimumSizeHint().width())
                            .arg(dialog.minimumSizeHint().height())));
    dialog.resize(dialog.minimumSizeHint());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (const char* name : {"btnPrint", "btnCancel"}) {
        auto* button = Child<QPushButton>(&dialog, name);
        QVERIFY2(button->isVisible(), name);
        const QRect onDialog(button->mapTo(&dialog, QPoint(0, 0)), button->size());
        QVERIFY2(dialog.rect().contains(onDialog), name);
    }
    // Every option stays reachable: the last one scrolls into view.
    auto* options = Child<QScrollArea>(&dialog, "PrintOptions");
    auto* last = Child<QRadioButton>(&dialog, "rbOrientationPrinter");
    options->ensureWidgetVisible(last);
    QTRY_VERIFY(options->viewport()->rect().contains(
        QRect(last->mapTo(options->viewport(), QPoint(0, 0)), last->size())));
}

QTEST_MAIN(TPrintDialogTest)
#include "tst_printdialog.moc"
