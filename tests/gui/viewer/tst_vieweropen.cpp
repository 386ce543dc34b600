// The viewer window opened on files or a folder with no host (lumivane-viewer --open), on
// the real X server: the list in natural order starting at the file opened, the keys
// moving through it, a scan added beside it joining the list, and the window's
// remembered choices kept under a name of its own, never a host connection's.
#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.FormCommon.h"
#include "app/QtFormPlacement.h"
#include "images/OpenedImages.h"
#include "positions/ScreenPositionTracker.h"
#include "viewcontrol/OpenedFilesController.h"
#include "viewer/OrlenzaFrm.h"

#include "ViewerTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>

using namespace lvtest;

class TestViewerOpen : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FRoot{QDir::tempPath() + "/lv-XXXXXX"};
    QString FScans;
    std::shared_ptr<TOpenedFilesController> FController;
    std::unique_ptr<TLumivaneViewerForm> FForm;

    // The window fed as the program feeds it for these paths.
    void Open(const QStringList& APaths) {
        std::vector<std::string> paths;
        for (const QString& path : APaths)
            paths.push_back(path.toStdString());
        const lvimages::TOpenedImages found = lvimages::ListOpenedPaths(paths);
        FController =
            std::make_shared<TOpenedFilesController>(paths, found.Folders, found.StartPath);
        InitializeViewController = [controller = FController] { ViewController = controller; };
        FForm = std::make_unique<TLumivaneViewerForm>();
        FForm->resize(700, 600);
        QSignalSpy listed(FForm.get(), &TLumivaneViewerForm::ImagesListed);
        FForm->NewImage(FController->ListName());
        QVERIFY(listed.wait(10000) || listed.count() > 0);
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        QVERIFY(Settled());
    }
    bool Settled() {
        return QTest::qWaitFor([this] { return !FForm->IsLoading(); }, 10000);
    }
    QStringList Listed() const {
        QStringList names;
        for (const TLumivaneImage& image : FForm->Browse().Images())
            names << QString::fromStdString(image.Name);
        return names;
    }
    QString Selected() const { return QString::fromStdString(FForm->SelectedImage().Name); }
    void Key(Qt::Key AKey) { QTest::keyClick(FForm->windowHandle(), AKey); }
    QStringList PlacementFiles() const {
        return QDir(QString::fromStdString(QtPlacementFolder().string()))
            .entryList(QDir::Files, QDir::Name);
    }

private slots:
    void initTestCase() {
        QVERIFY(FRoot.isValid());
        FScans = FRoot.path() + "/scans/";
        QDir().mkpath(FScans);
        const QList<QPair<QString, QColor>> pages = {{"p10.png", Qt::blue},
                                                     {"p2.png", Qt::green},
                                                     {"p1.png", Qt::red},
                                                     {"p3.png", Qt::cyan}};
        for (const auto& [name, ink] : pages)
            QVERIFY(DocumentPage({600, 800}, ink, name).save(FScans + name));
        QFile notes(FScans + "notes.txt");
        QVERIFY(notes.open(QIODevice::WriteOnly));
    }

    void init() {
        static int run = 0;
        const QString data = FRoot.path() + "/data-" + QString::number(run++);
        QDir().mkpath(data);
        qputenv("XDG_DATA_HOME", data.toLocal8Bit());
        SetProgramArguments({"lumivane-viewer", "--open"});
        StartupSearchText.clear();
        StartMaximized = false;
    }

    void cleanup() {
        FForm.reset();
        TOrlenzaCustomerController::ReleaseSharedControlFile();
        ViewController.reset();
        InitializeViewController = nullptr;
        FController.reset();
        QFile::remove(FScans + "p25.png");
    }

    // One file: its folder's images in natural order, starting at it, shown, printable; the
    // keys go on from there through the same list. No block is behind the window.
    void aFileListsItsFolderFromThatFile() {
        Open({FScans + "p2.png"});
        QCOMPARE(Listed(), QStringList({"p1.png", "p2.png", "p3.png", "p10.png"}));
        QCOMPARE(Selected(), QString("p2.png"));
        QCOMPARE(FForm->findChild<QComboBox*>("cbxImageList")->currentIndex(), 1);
        QTRY_VERIFY(FForm->findChild<QPushButton*>("BtnPrint")->isEnabled());
        QCOMPARE(FForm->Browse().Shown().File, 1);
        QVERIFY(ViewController->ControlFile() == nullptr);
        Key(Qt::Key_Right);
        QTRY_COMPARE(Selected(), QString("p3.png"));
        Key(Qt::Key_Right);
        QTRY_COMPARE(Selected(), QString("p10.png"));
        Key(Qt::Key_Home);
        QTRY_COMPARE(Selected(), QString("p1.png"));
        QTRY_COMPARE(FForm->Browse().Shown().File, 0);
    }

    void aFolderListsItsImagesFromTheFirst() {
        Open({FRoot.path() + "/scans"});
        QCOMPARE(Listed(), QStringList({"p1.png", "p2.png", "p3.png", "p10.png"}));
        QCOMPARE(Selected(), QString("p1.png"));
        QTRY_COMPARE(FForm->Browse().Shown().File, 0);
    }

    // A scan written beside the file opened joins the list in its place; the file shown
    // stays shown.
    void aScanAddedBesideJoinsTheList() {
        Open({FScans + "p3.png"});
        QVERIFY(DocumentPage({600, 800}, Qt::magenta, "p25").save(FScans + "p25.png"));
        QTRY_COMPARE_WITH_TIMEOUT(
            Listed(), QStringList({"p1.png", "p2.png", "p3.png", "p10.png", "p25.png"}), 20000);
        QCOMPARE(Selected(), QString("p3.png"));
    }

    // Placement and turns are kept under the opened files' own name: no host connection's
    // files (the default's included) are written or read.
    void itsChoicesAreKeptUnderANameOfItsOwn() {
        Open({FScans + "p1.png"});
        QTRY_VERIFY(FForm->findChild<QPushButton*>("BtnPrint")->isEnabled());
        Key(Qt::Key_R); // a quarter turn, remembered for the file
        QTRY_VERIFY(PlacementFiles().contains("%00opened-files.turns"));
        FForm->close();
        const QStringList files = PlacementFiles();
        QVERIFY2(files.contains("%00opened-files.LumivaneViewerForm.json"),
                 qPrintable(files.join(' ')));
        for (const QString& file : files)
            QVERIFY2(file.startsWith("%00opened-files."), qPrintable(file));

        // Opened again, the window stands where it was left.
        const QRect left = FForm->geometry();
        FForm.reset();
        ViewController.reset();
        Open({FScans + "p1.png"});
        QTRY_COMPARE(FForm->geometry().size(), left.size());
    }
};

QTEST_MAIN(TestViewerOpen)
#include "tst_vieweropen.moc"
