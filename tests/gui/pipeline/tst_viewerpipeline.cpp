// The viewer window with its decodes on workers, against a real block and real files:
// what the host sees and when, requests that supersede each other, a hide or close while a
// page decodes, prefetched neighbours and the cache budget, pages of multi-page files and
// Page Down / Page Up across files.
#include "app/CommandLine.h"
#include "app/Orlenza.CustomController.h"
#include "tests/gui/imaging/ImagingFixtures.h"
#include "tests/gui/viewer/ViewerTestSupport.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/ViewerWidgets.h"

#include <QAbstractAnimation>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

using lvtest::HostBlock;

namespace {

// Also notes, for every vsOpen, whether a picture was on screen when it was written.
class OpenWatcher : public lvtest::StateRecorder {
public:
    using StateRecorder::StateRecorder;
    void ChangeViewState(TImageViewerState AState) override {
        if (AState == vsOpen && PictureOnScreen)
            PictureAtOpen.push_back(PictureOnScreen());
        StateRecorder::ChangeViewState(AState);
    }
    std::function<bool()> PictureOnScreen;
    std::vector<bool> PictureAtOpen;
};

void WriteSolidJpeg(const QString& APath, QSize ASize, QColor AColour) {
    WriteJpegOf(APath, ASize.width(), ASize.height(), false, 85, {}, [&](int, int, uint8_t* px) {
        px[0] = static_cast<uint8_t>(AColour.red());
        px[1] = static_cast<uint8_t>(AColour.green());
        px[2] = static_cast<uint8_t>(AColour.blue());
    });
}

bool Near(QColor A, QColor B) {
    return std::abs(A.red() - B.red()) < 24 && std::abs(A.green() - B.green()) < 24 &&
           std::abs(A.blue() - B.blue()) < 24;
}

const QColor kRed(210, 30, 30), kGreen(30, 180, 30), kBlue(30, 30, 210), kYellow(220, 220, 30);
constexpr qint64 kMiB = 1024 * 1024;

} // namespace

class TestViewerPipeline : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FRoot{QDir::tempPath() + "/lv-pipeline-XXXXXX"};
    QString FScans;
    std::unique_ptr<HostBlock> FBlock;
    std::shared_ptr<OpenWatcher> FRecorder;
    std::unique_ptr<TLumivaneViewerForm> FForm;

    QString Folder(const QString& ASub) {
        const QString path = FScans + ASub;
        QDir().mkpath(path);
        return path + "/";
    }
    template <class T> T* Child(const char* AName) {
        T* w = FForm->findChild<T*>(QString::fromLatin1(AName));
        if (!w)
            qFatal("no child %s", AName);
        return w;
    }
    TImageControl* Image() { return Child<TImageControl>("Image"); }
    QString Title() { return Child<QLabel>("lblCurrentImageName")->text(); }
    QColor Shown() { return lvtest::CentreColour(Image()->Bitmap()); }
    bool Busy() { return Child<TActivityIndicator>("AniIndicator1")->IsRunning(); }

    void CreateForm() {
        SetProgramArguments({"lumivane-viewer", FBlock->Name});
        TOrlenzaViewController::InstallInitializer();
        const auto realInit = InitializeViewController;
        InitializeViewController = [this, realInit] {
            realInit();
            FRecorder = std::make_shared<OpenWatcher>(ViewController);
            ViewController = FRecorder;
        };
        FForm = std::make_unique<TLumivaneViewerForm>();
        FForm->resize(600, 568);
        FRecorder->PictureOnScreen = [this] { return !Image()->IsBitmapEmpty(); };
        FRecorder->States.clear();
    }
    void DestroyForm() {
        FForm.reset();
        TOrlenzaCustomerController::ReleaseSharedControlFile();
        ViewController.reset();
        FRecorder.reset();
    }
    std::vector<TImageViewerState> TakeStates() {
        auto states = FRecorder->States;
        FRecorder->States.clear();
        return states;
    }
    bool Settled() {
        return QTest::qWaitFor([this] { return !FForm->IsLoading(); }, 10000);
    }
    // Every decode handed back, the cancelled ones and the neighbours included.
    bool Quiet() {
        return QTest::qWaitFor([this] { return FForm->Pipeline().Pending() == 0; }, 10000);
    }
    void Click(const char* AButton) { Child<QToolButton>(AButton)->click(); }
    void Key(Qt::Key AKey) { QTest::keyClick(FForm.get(), AKey); }

private slots:
    void initTestCase() {
        QVERIFY(FRoot.isValid());
        FScans = FRoot.path() + "/scans/";
        // Three A4 pages at 300 dpi in three colours, and another identifier's page.
        const QSize a4(2480, 3508);
        WriteSolidJpeg(Folder("1111") + "11110001~1.jpg", a4, kRed);
        WriteSolidJpeg(Folder("1111") + "11110001~2.jpg", a4, kGreen);
        WriteSolidJpeg(Folder("1111") + "11110001~3.jpg", a4, kBlue);
        WriteSolidJpeg(Folder("2222") + "22220001~1.jpg", a4, kYellow);
        // Six photos for stepping through under a small cache budget.
        for (int i = 1; i <= 6; ++i)
            WriteSolidJpeg(Folder("4444") + QStringLiteral("44440001~%1.jpg").arg(i), {1600, 1200},
                           QColor::fromHsv(i * 50, 200, 200));
    }

    void init() {
        static int run = 0;
        const QString data = FRoot.path() + "/data-" + QString::number(run++);
        QDir().mkpath(data);
        qputenv("XDG_DATA_HOME", data.toLocal8Bit());
        FBlock = std::make_unique<HostBlock>(FScans, "****....");
        StartupSearchText.clear();
        StartMaximized = false;
        CreateForm();
    }

    void cleanup() {
        DestroyForm();
        FBlock.reset();
        qunsetenv("LUMIVANE_CACHE_MB");
    }

    // The search returns before the page is decoded; the host sees vsOpen only once the
    // picture is on screen.
    void openIsWrittenOnceTheFirstPictureIsShown() {
        FForm->NewImage("11110001");
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsIdle});
        QCOMPARE(FBlock->ViewState(), vsIdle);
        QVERIFY(FForm->IsLoading());
        QVERIFY(Image()->IsBitmapEmpty());
        QVERIFY(Busy());
        QVERIFY(Settled());
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsOpen});
        QCOMPARE(FRecorder->PictureAtOpen, std::vector<bool>{true});
        QCOMPARE(FBlock->ViewState(), vsOpen);
        QVERIFY(Near(Shown(), kRed));
        QVERIFY2(Title().endsWith("\r\n1 of 3"), qPrintable(Title()));
        QVERIFY(!Busy());
    }

    // Requests made before the first decode is handed back: only the last one is shown,
    // also after every decode under way has ended.
    void supersededRequestsNeverReachTheScreen_data() {
        QTest::addColumn<int>("how");
        QTest::addColumn<QColor>("last");
        QTest::addColumn<QString>("lastTitleEnd");
        QTest::addColumn<std::vector<TImageViewerState>>("states");
        QTest::newRow("next twice during the first decode")
            << 0 << kBlue << QStringLiteral("\r\n3 of 3")
            << std::vector<TImageViewerState>{vsIdle, vsOpen};
        QTest::newRow("another search during the first decode")
            << 1 << kYellow << QStringLiteral("\r\n1 of 1")
            << std::vector<TImageViewerState>{vsIdle, vsIdle, vsOpen};
        QTest::newRow("a pick in the list, then back")
            << 2 << kGreen << QStringLiteral("\r\n2 of 3")
            << std::vector<TImageViewerState>{vsIdle, vsOpen};
    }
    void supersededRequestsNeverReachTheScreen() {
        QFETCH(int, how);
        QFETCH(QColor, last);
        QFETCH(QString, lastTitleEnd);
        QFETCH(std::vector<TImageViewerState>, states);
        FForm->NewImage("11110001");
        switch (how) {
        case 0:
            Click("btnNext");
            Click("btnNext");
            break;
        case 1:
            FForm->NewImage("22220001");
            break;
        default:
            Child<QComboBox>("cbxImageList")->setCurrentIndex(2);
            Click("btnBack");
            break;
        }
        QVERIFY(Settled());
        QVERIFY(Quiet());
        QCOMPARE(TakeStates(), states);
        QCOMPARE(FRecorder->PictureAtOpen, std::vector<bool>{true});
        QVERIFY2(Near(Shown(), last), qPrintable(Shown().name()));
        QVERIFY2(Title().endsWith(lastTitleEnd), qPrintable(Title()));
    }

    // The host's hide, or the user's close, while the first page decodes: the page never
    // shows, no vsOpen is written, the indicator stops.
    void hideOrCloseDuringDecodeWins_data() {
        QTest::addColumn<bool>("hostHide");
        QTest::newRow("host's vcHide") << true;
        QTest::newRow("window closed") << false;
    }
    void hideOrCloseDuringDecodeWins() {
        QFETCH(bool, hostHide);
        FForm->NewImage("11110001");
        QVERIFY(FForm->IsLoading());
        if (hostHide) {
            // The state tick as the timer runs it, with the host's command in the block.
            FBlock->At(lvcontrol::kCommandState) = vcHide;
            FRecorder->StateEvent()(FForm.get());
            QCOMPARE(FBlock->At(lvcontrol::kCommandState), std::uint8_t(vcHandled));
        } else {
            QVERIFY(FForm->close());
        }
        QVERIFY(!FForm->isVisible());
        QVERIFY(Quiet());
        QCoreApplication::processEvents();
        QVERIFY(Image()->IsBitmapEmpty());
        QVERIFY(!FForm->IsLoading());
        QVERIFY(!Busy());
        const std::vector<TImageViewerState> expected =
            hostHide ? std::vector<TImageViewerState>{vsIdle}
                     : std::vector<TImageViewerState>{vsIdle, vsUnknown};
        QCOMPARE(TakeStates(), expected);
        QVERIFY(FRecorder->PictureAtOpen.empty());
        // The list survives; showing the window again and picking shows the page.
        QCOMPARE(FForm->Count(), 3);
        FForm->ShowForm();
        Click("btnNext");
        QVERIFY(Settled());
        QVERIFY(Near(Shown(), kGreen));
    }

    // After a page is shown its neighbours are decoded in the background; stepping to one
    // shows it at once, without a decode of its own.
    void neighboursAreReadyBeforeTheyAreAskedFor() {
        FForm->NewImage("11110001");
        QVERIFY(Settled());
        QVERIFY(Quiet());
        const int decodes = FForm->Pipeline().DecodesStarted();
        QCOMPARE(decodes, 2); // the page and its next neighbour
        Click("btnNext");
        QVERIFY(!FForm->IsLoading()); // on screen within the click
        QVERIFY(Near(Shown(), kGreen));
        QVERIFY(Title().endsWith("\r\n2 of 3"));
        // Now both neighbours: the first is held already, the third is decoded.
        QVERIFY(Quiet());
        QCOMPARE(FForm->Pipeline().DecodesStarted(), decodes + 1);
        Click("btnBack");
        QVERIFY(!FForm->IsLoading());
        QVERIFY(Near(Shown(), kRed));
        // A search for another identifier drops these frames.
        FForm->NewImage("22220001");
        QVERIFY(
            !FForm->Pipeline().Cache().Contains({QString(Folder("1111") + "11110001~1.jpg"), 0}));
    }

    // A 2 MiB budget holds about two fitted photos (600 x 450 x 4 bytes each).
    void cacheKeepsItsBudgetAndTheShownPage() {
        DestroyForm();
        qputenv("LUMIVANE_CACHE_MB", "2");
        CreateForm();
        const TFrameCache& cache = FForm->Pipeline().Cache();
        QCOMPARE(cache.Budget(), 2 * kMiB);
        FForm->NewImage("44440001");
        for (int i = 1; i <= 6; ++i) {
            if (i > 1)
                Click("btnNext");
            QVERIFY(Settled());
            QVERIFY(Quiet());
            const TFrameKey shown{Folder("4444") + QStringLiteral("44440001~%1.jpg").arg(i), 0};
            QCOMPARE(cache.Shown(), shown);
            QVERIFY(cache.Contains(shown));
            QVERIFY2(cache.Used() <= cache.Budget(), qPrintable(QString::number(cache.Used())));
            QVERIFY(Near(Shown(), QColor::fromHsv(i * 50, 200, 200)));
        }
    }
};

QTEST_MAIN(TestViewerPipeline)
#include "tst_viewerpipeline.moc"
