// Printing from the real viewer window: Print with a list of twenty scans, Cancel part way
// from the progress dialog while the window goes on to the next file, and the PDF left
// whole with the pages printed so far.
#include "../viewer/ViewerTestSupport.h"
#include "PrintFixtures.h"
#include "app/Orlenza.CustomController.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/Orlenza.DocumentPrinting.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/PrintDialog.h"

#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>

using namespace printfixtures;
using lvtest::HostBlock;

class TPrintViewerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cancelPartWayLeavesAWholePdfAndAUsableWindow();

private:
    void CreateForm();
    template <class T> T* Child(const char* AName) const {
        T* child = FForm->findChild<T*>(QString::fromLatin1(AName));
        if (!child) {
            qFatal("no %s", AName);
        }
        return child;
    }

    QTemporaryDir FRoot;
    QString FScans;
    std::unique_ptr<HostBlock> FBlock;
    std::unique_ptr<TLumivaneViewerForm> FForm;
};

void TPrintViewerTest::initTestCase() {
    QVERIFY(FRoot.isValid());
    FScans = FRoot.path() + "/scans/";
    QDir().mkpath(FScans + "4444");
    // Twenty A4 pages at 300 dpi, each with a bar further down.
    for (int i = 0; i < 20; ++i) {
        WriteBilevelPages(FScans + QStringLiteral("4444/44440000~%1.tif").arg(i, 2, 10, QChar('0')),
                          {{2480, 3508, {QRect(0, 150 * i, 2480, 150)}, 300}});
    }
    qputenv("XDG_DATA_HOME", (FRoot.path() + "/data").toLocal8Bit());
}

void TPrintViewerTest::CreateForm() {
    FBlock = std::make_unique<HostBlock>(FScans, "****....");
    StartupSearchText.clear();
    SetProgramArguments({"lumivane-viewer", FBlock->Name});
    TOrlenzaViewController::InstallInitializer();
    FForm = std::make_unique<TLumivaneViewerForm>();
    FForm->resize(600, 568);
}

void TPrintViewerTest::cleanup() {
    FForm.reset();
    TOrlenzaCustomerController::ReleaseSharedControlFile();
    ViewController.reset();
    FBlock.reset();
}

void TPrintViewerTest::cancelPartWayLeavesAWholePdfAndAUsableWindow() {
    CreateForm();
    FForm->NewImage("44440000");
    QTRY_COMPARE(FForm->Count(), 20);
    QTRY_VERIFY(!FForm->IsLoading());
    QTRY_VERIFY(Child<QPushButton>("BtnPrint")->isEnabled());
    const QString pdf = FRoot.filePath("cancelled.pdf");
    FForm->Printing().SetDialogRunner([&](TPrintDialog& ADialog) {
        lvprint::TPrintOptions options = ADialog.Options();
        options.Pages = lvprint::TPrintPages::List;
        ADialog.SetOptions(options);
        ADialog.SelectPdfFile(pdf);
        // A4 with 10 mm margins, so the test knows where the picture lands.
        ADialog.Printer().setPageSize(QPageSize(QPageSize::A4));
        ADialog.Printer().setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
        return true;
    });
    Child<QPushButton>("BtnPrint")->click();
    QVERIFY(FForm->Printing().IsPrinting());
    TPrintJobRunner* job = FForm->Printing().Job();
    QTRY_VERIFY(job->Progress() && job->Progress()->isVisible());
    QCOMPARE(job->Progress()->maximum(), 20);
    QTRY_VERIFY_WITH_TIMEOUT(job->Progress()->value() >= 2, 30000);

    // The window answers while the job prints: the next file comes up.
    Child<QToolButton>("btnNext")->click();
    QTRY_COMPARE(FForm->ImageId(), 2);
    QTRY_VERIFY(!FForm->IsLoading());

    QPushButton* cancel = job->Progress()->findChild<QPushButton*>();
    QVERIFY(cancel);
    cancel->click();
    TPrintOutcome outcome;
    connect(&FForm->Printing(), &TDocumentPrinting::JobFinished, this,
            [&outcome](const TPrintOutcome& AOutcome) { outcome = AOutcome; });
    QTRY_VERIFY_WITH_TIMEOUT(!FForm->Printing().IsPrinting(), 60000);
    QTRY_VERIFY(outcome.PagesTotal == 20);
    QVERIFY(outcome.Cancelled);
    QVERIFY2(outcome.PagesPrinted >= 2 && outcome.PagesPrinted < 20,
             qPrintable(QString::number(outcome.PagesPrinted)));
    // Whole: poppler reads it, with exactly the pages printed, the last one complete.
    QCOMPARE(PdfPages(pdf), outcome.PagesPrinted);
    const int last = outcome.PagesPrinted;
    const QRect bar = InkBox(RenderPdfPage(pdf, last, 50));
    const QRectF mm = Millimetres(bar, 50);
    const double pictureHigh = 190.0 * 3508 / 2480;
    QVERIFY2(qAbs(mm.top() - (10 + pictureHigh * 150 * (last - 1) / 3508)) <= 1.0,
             qPrintable(QStringLiteral("bar at %1 mm").arg(mm.top())));

    // And the window still prints: a job right after the cancelled one goes through.
    QFile::remove(pdf);
    FForm->Printing().SetDialogRunner([&](TPrintDialog& ADialog) {
        lvprint::TPrintOptions options = ADialog.Options();
        options.Pages = lvprint::TPrintPages::Shown;
        ADialog.SetOptions(options);
        ADialog.SelectPdfFile(pdf);
        return true;
    });
    // Ctrl+P does what the button does.
    FForm->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
    QTest::keySequence(FForm.get(), QKeySequence::Print);
    QTRY_VERIFY(QFile::exists(pdf));
    QTRY_VERIFY_WITH_TIMEOUT(!FForm->Printing().IsPrinting(), 30000);
    QCOMPARE(PdfPages(pdf), 1);
    QCOMPARE(PdfTitle(pdf), QStringLiteral("44440000~01.tif"));
}

QTEST_MAIN(TPrintViewerTest)
#include "tst_printviewer.moc"
