// Printing as a user meets it on a real X server with a window manager: the keyboard stays
// with the viewer while a job prints, a report of a failed page takes the keyboard so Enter
// closes it, the printer settings offer no second page range or Print button, a PDF is
// named after what it prints in the last folder used, bilevel pages reach a PDF as bits,
// and the preview names its sheet and turns one sheet per wheel notch.
#include "../viewer/ViewerTestSupport.h"
#include "PrintFixtures.h"
#include "app/Orlenza.CustomController.h"
#include "positions/PrintOptionsStore.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/Orlenza.DocumentPrinting.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/PrintDialog.h"

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPrintPreviewWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace printfixtures;
using lvtest::HostBlock;

class TPrintSnagsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void progressLeavesTheKeyboardToTheViewer();
    void failedPageReportTakesTheKeyboardAndEnterClosesIt();
    void printerSettingsOfferNoSecondRangeOrPrint();
    void pdfIsNamedAfterWhatItPrintsInTheLastFolder();
    void bilevelPagesGoToThePdfAsBits();
    void previewNamesItsSheetAndTheWheelTurnsOnePerNotch();

private:
    void ShowViewer(const char* AId);
    void PrintListTo(const QString& APdf);
    template <class T> T* Child(QObject* AParent, const char* AName) const {
        T* child = AParent->findChild<T*>(QString::fromLatin1(AName));
        if (!child) {
            qFatal("no %s", AName);
        }
        return child;
    }
    TPrintSource Source(const QString& AFolder, const QStringList& ANames, int AShown,
                        const QString& AIdentifier) const;

    QTemporaryDir FRoot;
    QString FScans;
    std::unique_ptr<HostBlock> FBlock;
    std::unique_ptr<TLumivaneViewerForm> FForm;
};

void TPrintSnagsTest::initTestCase() {
    QVERIFY(FRoot.isValid());
    for (const char* tool : {"pdfinfo", "pdftoppm", "pdfimages", "xdotool"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            QFAIL(qPrintable(QStringLiteral("%1 is needed").arg(tool)));
        }
    }
    FScans = FRoot.path() + "/scans/";
    // Eight A4 colour pages at 300 dpi: a job long enough to show its progress.
    QDir().mkpath(FScans + "6666");
    for (int i = 0; i < 8; ++i) {
        QImage page(2480, 3508, QImage::Format_RGB32);
        page.fill(QColor(250, 245, 230));
        QPainter p(&page);
        p.fillRect(QRect(200, 300 + 350 * i, 2000, 200), QColor(30, 60, 160));
        p.end();
        page.setDotsPerMeterX(11811);
        page.setDotsPerMeterY(11811);
        QVERIFY(page.save(FScans + QStringLiteral("6666/66660000~%1.png").arg(i + 1)));
    }
    // A good page, then one that cannot be read.
    QDir().mkpath(FScans + "7777");
    WriteBilevelPages(FScans + "7777/77770000~1.tif",
                      {{1240, 1754, {QRect(100, 100, 800, 80)}, 150}});
    QFile broken(FScans + "7777/77770000~2.tif");
    QVERIFY(broken.open(QIODevice::WriteOnly));
    static const char kBroken[] = "II*\0 this is no TIFF directory at all";
    broken.write(kBroken, sizeof kBroken - 1);
    broken.close();
    qputenv("XDG_DATA_HOME", (FRoot.path() + "/data").toLocal8Bit());
}

void TPrintSnagsTest::cleanup() {
    FForm.reset();
    TOrlenzaCustomerController::ReleaseSharedControlFile();
    ViewController.reset();
    FBlock.reset();
}

void TPrintSnagsTest::ShowViewer(const char* AId) {
    FBlock = std::make_unique<HostBlock>(FScans, "****....");
    StartupSearchText.clear();
    SetProgramArguments({"lumivane-viewer", FBlock->Name});
    TOrlenzaViewController::InstallInitializer();
    FForm = std::make_unique<TLumivaneViewerForm>();
    FForm->resize(700, 600);
    FForm->NewImage(AId);
    QTRY_VERIFY(!FForm->IsLoading());
    QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
    QTRY_VERIFY(Child<QPushButton>(FForm.get(), "BtnPrint")->isEnabled());
}

TPrintSource TPrintSnagsTest::Source(const QString& AFolder, const QStringList& ANames, int AShown,
                                     const QString& AIdentifier) const {
    TPrintSource source;
    for (const QString& name : ANames) {
        source.Files.push_back({QDir(AFolder).filePath(name), name});
    }
    source.ShownFile = AShown;
    source.Identifier = AIdentifier;
    return source;
}

// The print dialog, when it opens, takes the whole list to APdf and prints.
void TPrintSnagsTest::PrintListTo(const QString& APdf) {
    FForm->Printing().SetDialogRunner([APdf](TPrintDialog& ADialog) {
        lvprint::TPrintOptions options = ADialog.Options();
        options.Pages = lvprint::TPrintPages::List;
        ADialog.SetOptions(options);
        ADialog.SelectPdfFile(APdf);
        return true;
    });
}

// While the list prints, its progress shows without taking the keyboard: the viewer keeps
// it, and a key the user presses meanwhile acts in the viewer.
void TPrintSnagsTest::progressLeavesTheKeyboardToTheViewer() {
    ShowViewer("66660000");
    QTRY_COMPARE(FForm->Count(), 8);
    const QString pdf = FRoot.filePath("progress.pdf");
    PrintListTo(pdf);
    QList<QWindow*> focused;
    auto watch = connect(qApp, &QGuiApplication::focusWindowChanged, this,
                         [&focused](QWindow* AWindow) { focused << AWindow; });
    QTest::keyClick(FForm->windowHandle(), Qt::Key_P, Qt::ControlModifier);
    QVERIFY(FForm->Printing().IsPrinting());
    TPrintJobRunner* job = FForm->Printing().Job();
    QTRY_VERIFY(job->Progress() && job->Progress()->isVisible());
    // The user goes on reading: Right, sent where the window system sends keys.
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Right);
    QTRY_COMPARE(FForm->ImageId(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!FForm->Printing().IsPrinting(), 120000);
    disconnect(watch);
    QCOMPARE(PdfPages(pdf), 8);
    for (QWindow* w : focused) {
        QVERIFY2(w == nullptr || w == FForm->windowHandle(),
                 qPrintable(QStringLiteral("the keyboard went to %1").arg(w->objectName())));
    }
    QVERIFY(FForm->isActiveWindow());
}

// A job with a page that cannot be read ends in a report that has the keyboard: Enter,
// pressed where the window system sends keys, closes it.
void TPrintSnagsTest::failedPageReportTakesTheKeyboardAndEnterClosesIt() {
    ShowViewer("77770000");
    QTRY_COMPARE(FForm->Count(), 2);
    const QString pdf = FRoot.filePath("failed.pdf");
    PrintListTo(pdf);
    QTest::keyClick(FForm->windowHandle(), Qt::Key_P, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!FForm->Printing().IsPrinting(), 60000);
    QMessageBox* report = nullptr;
    QTRY_VERIFY((report = FForm->findChild<QMessageBox*>(QStringLiteral("PrintReport"))) &&
                report->isVisible());
    QVERIFY(report->text().contains(QStringLiteral("could not be read")));
    QTRY_VERIFY(report->isActiveWindow());
    QPointer<QMessageBox> open(report);
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
    QTRY_VERIFY(!open || !open->isVisible());
    QTRY_VERIFY(FForm->isActiveWindow());
}

// "Printer settings…" sets up the paper: the pages to print and the Print button are the
// print dialog's own, so the settings offer neither again.
void TPrintSnagsTest::printerSettingsOfferNoSecondRangeOrPrint() {
    auto printer = PdfPrinter(FRoot.filePath("settings.pdf"));
    TPrintDialog dialog(
        *printer, Source(FScans + "6666", {"66660000~1.png", "66660000~2.png"}, 0, "66660000"), {});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QStringList buttons;
    int rangeControls = -1;
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(QApplication::activeModalWidget() &&
                    QApplication::activeModalWidget() != &dialog);
        QWidget* settings = QApplication::activeModalWidget();
        seen = settings->objectName() == QStringLiteral("PrinterSettings");
        for (const QPushButton* b : settings->findChildren<QPushButton*>()) {
            if (b->isVisible()) {
                buttons << b->text().remove(QLatin1Char('&'));
            }
        }
        rangeControls = 0;
        for (const QWidget* w : settings->findChildren<QWidget*>()) {
            const QString name = w->objectName().toLower();
            const bool input = qobject_cast<const QAbstractSpinBox*>(w) ||
                               qobject_cast<const QLineEdit*>(w) ||
                               qobject_cast<const QRadioButton*>(w);
            // The print dialog's range: "pages" and "from"/"to" fields, a "range" edit.
            if (input && w->isVisible() &&
                (name.startsWith(QStringLiteral("pages")) ||
                 name.contains(QStringLiteral("from")) || name.contains(QStringLiteral("range")) ||
                 name == QStringLiteral("to"))) {
                ++rangeControls;
            }
        }
        qobject_cast<QDialog*>(settings)->reject();
    });
    Child<QPushButton>(&dialog, "btnPrinterSettings")->click();
    QVERIFY(seen);
    QVERIFY2(!buttons.contains(QStringLiteral("Print")), qPrintable(buttons.join(", ")));
    QCOMPARE(rangeControls, 0);
    // The dialog's own Print is there and still the one way to print.
    QVERIFY(Child<QPushButton>(&dialog, "btnPrint")->isEnabled());
}

// The PDF is named after the file shown ("66660000~2.pdf") or the identifier for the whole
// list, in the folder of the last PDF, remembered for the connection.
void TPrintSnagsTest::pdfIsNamedAfterWhatItPrintsInTheLastFolder() {
    const QString out = FRoot.filePath("out");
    QDir().mkpath(out);
    const TPrintSource source =
        Source(FScans + "6666", {"66660000~1.png", "66660000~2.png"}, 1, "66660000");
    const auto store = std::make_shared<TPrintOptionsStore>(
        std::filesystem::path(FRoot.filePath("store").toStdString()), "conn");
    QDir().mkpath(FRoot.filePath("store"));
    QWidget window;
    QString offered;
    QString offeredForList;
    const auto choosePdf = [&](TPrintDialog& ADialog) {
        auto* list = Child<QComboBox>(&ADialog, "cbxPrinter");
        list->setCurrentIndex(list->count() - 1); // "Save as PDF"
        offered = Child<QLineEdit>(&ADialog, "edPdfFile")->text();
    };
    {
        TDocumentPrinting printing(&window);
        printing.SetStore(store);
        // First job: the user puts it into the out folder under a name of their own.
        printing.SetDialogRunner([&](TPrintDialog& ADialog) {
            choosePdf(ADialog);
            ADialog.SelectPdfFile(QDir(out).filePath("mine.pdf"));
            return true;
        });
        QVERIFY(printing.Print(source));
        QTRY_VERIFY_WITH_TIMEOUT(!printing.IsPrinting(), 60000);
        QVERIFY(QFile::exists(QDir(out).filePath("mine.pdf")));
    }
    // The first offer: the file shown, without its extension, in the home folder.
    QCOMPARE(offered, QDir::home().filePath(QStringLiteral("66660000~2.pdf")));
    // Next time, in another run of the window: the same folder, named after what is printed.
    TDocumentPrinting printing(&window);
    printing.SetStore(store);
    printing.SetDialogRunner([&](TPrintDialog& ADialog) {
        choosePdf(ADialog);
        Child<QRadioButton>(&ADialog, "rbPagesList")->click();
        offeredForList = Child<QLineEdit>(&ADialog, "edPdfFile")->text();
        return false;
    });
    QVERIFY(!printing.Print(source));
    QCOMPARE(offered, QDir(out).filePath("66660000~2.pdf"));
    QCOMPARE(offeredForList, QDir(out).filePath("66660000.pdf"));
}

// Five simple G4 pages printed to a PDF: every picture in it is 1-bit (no colour JPEG),
// the file stays small beside the scans, and the bars come out black where they belong.
void TPrintSnagsTest::bilevelPagesGoToThePdfAsBits() {
    const QString folder = FRoot.filePath("g4");
    QDir().mkpath(folder);
    QStringList names;
    qint64 scans = 0;
    for (int i = 0; i < 5; ++i) {
        const QString name = QStringLiteral("88880000~%1.tif").arg(i + 1);
        WriteBilevelPages(QDir(folder).filePath(name),
                          {{2480, 3508, {QRect(300, 400 + 500 * i, 1800, 250)}, 300}});
        scans += QFileInfo(QDir(folder).filePath(name)).size();
        names << name;
    }
    const QString pdf = FRoot.filePath("g4.pdf");
    auto printer = PdfPrinter(pdf);
    TPrintRequest request;
    for (const QString& name : names) {
        request.Documents.push_back({QDir(folder).filePath(name), name, 0, 0});
    }
    request.Title = QStringLiteral("88880000");
    const TPrintOutcome outcome = PrintJob(*printer, request, nullptr, nullptr);
    QCOMPARE(outcome.PagesPrinted, 5);
    QVERIFY(outcome.Failures.isEmpty());
    const QStringList lines = Run("pdfimages", {"-list", pdf}).split('\n');
    int pictures = 0;
    for (int i = 2; i < lines.size(); ++i) {
        const QStringList f = lines[i].simplified().split(' ');
        if (f.size() < 10 || f[2] == QStringLiteral("smask")) {
            continue;
        }
        ++pictures;
        // page num type width height color comp bpc enc ...
        QVERIFY2(f[7] == QStringLiteral("1") || f[5] == QStringLiteral("gray"),
                 qPrintable(lines[i]));
        QVERIFY2(f[8] != QStringLiteral("jpeg"), qPrintable(lines[i]));
    }
    QVERIFY(pictures >= 5);
    qInfo("PDF of five G4 pages: %lld bytes (the scans: %lld bytes)", QFileInfo(pdf).size(), scans);
    // Each page's bar is black, where the scan has it, on white paper.
    for (int page = 1; page <= 5; ++page) {
        const QImage rendered = RenderPdfPage(pdf, page, 50);
        const QRect ink = InkBox(rendered);
        QVERIFY2(!ink.isEmpty(), qPrintable(QString::number(page)));
        const QRectF mm = Millimetres(ink, 50);
        // Fit to the printable width (190 mm from 10 mm): the scan's 210 mm are scaled.
        const double k = 190.0 / 210.0;
        const double top = 10 + (400 + 500 * (page - 1)) * 25.4 / 300 * k;
        QVERIFY2(
            qAbs(mm.top() - top) < 1.5,
            qPrintable(
                QStringLiteral("page %1 bar at %2 mm, not %3").arg(page).arg(mm.top()).arg(top)));
        QVERIFY(ink.height() < rendered.height() / 4); // the paper stays white
    }
}

// The preview says which sheet it shows, and one wheel notch over it, turned as a user
// turns it (XTEST through xdotool), moves one sheet.
void TPrintSnagsTest::previewNamesItsSheetAndTheWheelTurnsOnePerNotch() {
    auto printer = PdfPrinter(FRoot.filePath("preview.pdf"));
    QStringList names;
    for (int i = 1; i <= 5; ++i) {
        names << QStringLiteral("66660000~%1.png").arg(i);
    }
    lvprint::TPrintOptions options;
    options.Pages = lvprint::TPrintPages::List;
    TPrintDialog dialog(*printer, Source(FScans + "6666", names, 0, "66660000"), options);
    dialog.resize(900, 700);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTRY_VERIFY_WITH_TIMEOUT(dialog.PreviewIsComplete(), 60000);
    QCOMPARE(dialog.PreviewPageCount(), 5);
    auto* sheet = Child<QLabel>(&dialog, "lblSheet");
    QTRY_COMPARE(sheet->text(), QStringLiteral("Sheet 1 of 5"));
    auto* view = dialog.Preview()->findChild<QAbstractScrollArea*>();
    QVERIFY(view);
    const QPoint centre = view->viewport()->mapToGlobal(view->viewport()->rect().center());
    Run("xdotool", {"mousemove", QString::number(centre.x()), QString::number(centre.y())});
    const struct {
        const char* button; // 5: a notch down, 4: a notch up
        int sheet;
    } steps[] = {{"5", 2}, {"5", 3}, {"4", 2}, {"5", 3}, {"5", 4}, {"5", 5}, {"5", 5}};
    for (const auto& step : steps) {
        Run("xdotool", {"click", step.button});
        QTRY_COMPARE(dialog.Preview()->currentPage(), step.sheet);
        QTRY_COMPARE(sheet->text(), QStringLiteral("Sheet %1 of 5").arg(step.sheet));
    }
}

QTEST_MAIN(TPrintSnagsTest)
#include "tst_printsnags.moc"
