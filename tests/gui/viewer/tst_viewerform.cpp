// The viewer window against a real control block and real image folders: searching,
// navigation, the identifier box, the host's hide and show, closing, the list's width,
// the image geometry on the real widgets, printing to a PDF, and screenshots.
#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.FormCommon.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "images/Orlenza.Types.h"
#include "platform/SharedMemory.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/Orlenza.DocumentPrinting.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/PrintDialog.h"
#include "viewer/ViewerWidgets.h"

#include "ViewerWindow.h"

#include <QAbstractAnimation>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

using namespace lvtest;

class TestViewerForm : public QObject, ViewerWindow<> {
    Q_OBJECT

private:
    QRect FCreatedGeometry;

    void Save(const QImage& AImage, const QString& APath) {
        QVERIFY2(AImage.save(APath), qPrintable(APath));
    }

    void CreateForm() {
        MakeForm();
        FCreatedGeometry = FForm->geometry();
        // The designed client size, whatever the offscreen desktop gives the default.
        FForm->resize(600, 568);
    }
    // The colours the window paints over its image area when a file fails to load and when
    // nothing is found.
    static inline const QColor kLoadError{0xBC, 0x8F, 0x8F};
    static inline const QColor kNoImage{0xFA, 0xEB, 0xD7};

    // Saves what the window shows (for a person to look at) and returns the share of its
    // pixels that are AColour, so the test checks what the picture holds.
    double Screenshot(const QString& AName, QColor AColour) {
        QDir().mkpath(LV_TEST_OUTPUT_DIR);
        const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
        const QString file = QStringLiteral(LV_TEST_OUTPUT_DIR "/%1@%2x.png").arg(AName, scale);
        const QImage shot = FForm->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (!shot.save(file))
            qWarning("screenshot not saved: %s", qPrintable(file));
        qInfo("screenshot: %s", qPrintable(file));
        qint64 matching = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (std::abs(c.red() - AColour.red()) <= 16 &&
                    std::abs(c.green() - AColour.green()) <= 16 &&
                    std::abs(c.blue() - AColour.blue()) <= 16)
                    ++matching;
            }
        return shot.isNull() ? 0.0 : double(matching) / (double(shot.width()) * shot.height());
    }

private slots:
    void initTestCase() {
        QVERIFY(FRoot.isValid());
        // Three pages of 12345678 in three formats, distinct ink colours.
        const QString f = Folder("1234");
        Save(DocumentPage({1000, 1414}, QColor(200, 30, 30), "12345678 page 1"),
             f + "12345678~1.png");
        Save(DocumentPage({1000, 1414}, QColor(30, 160, 30), "12345678 page 2"),
             f + "12345678~2.jpg");
        Save(DocumentPage({1000, 1414}, QColor(30, 30, 200), "12345678 page 3"),
             f + "12345678~3.tif");
        // Not part of the result: another identifier and an unsupported extension.
        Save(DocumentPage({100, 141}, Qt::black, "x"), f + "12345679~1.png");
        Save(DocumentPage({100, 141}, Qt::black, "x"), f + "12345678~4.tiff");
        // Geometry pictures, one per identifier.
        Save(QImage(1000, 2000, QImage::Format_RGB32), Folder("2000") + "20000001~a.png");
        Save(QImage(2000, 1000, QImage::Format_RGB32), Folder("2000") + "20000002~a.png");
        Save(QImage(300, 200, QImage::Format_RGB32), Folder("2000") + "20000003~a.png");
        // A file that cannot be decoded, first in its search.
        QFile bad(Folder("3000") + "30000001~1.tif");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("II*\0this is not a tiff", 22);
        bad.close();
        Save(DocumentPage({500, 707}, Qt::darkCyan, "30000001 page 2"),
             Folder("3000") + "30000001~2.png");
        // A container file whose text is no picture: listed, loaded like any file, refused.
        QFile container(Folder("3000") + "30000001~3.lva");
        QVERIFY(container.open(QIODevice::WriteOnly));
        container.write("{\"pages\": [\"30000001~1.tif\"]}");
        container.close();
        // A JPEG cut off half way.
        {
            QFile whole(f + "12345678~2.jpg");
            QVERIFY(whole.open(QIODevice::ReadOnly));
            QFile cut(Folder("3000") + "30000002~1.jpg");
            QVERIFY(cut.open(QIODevice::WriteOnly));
            cut.write(whole.read(whole.size() / 2));
        }
        // A long name and a short one for the list's width.
        Save(QImage(10, 10, QImage::Format_RGB32),
             Folder("4000") + "40000001~" + QString(90, 'w') + ".png");
        Save(QImage(10, 10, QImage::Format_RGB32), Folder("4000") + "40000002~1.png");
        // A name without "~", with a known time stamp.
        const QString plain = Folder("5000") + "50000001.png";
        Save(DocumentPage({200, 283}, Qt::darkGray, "plain"), plain);
        QFile stamped(plain);
        QVERIFY(stamped.open(QIODevice::ReadWrite));
        QVERIFY(stamped.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(14, 7)),
                                    QFileDevice::FileModificationTime));
        stamped.close();
        // Names holding what a format string would take for its placeholders.
        for (const char* name : {"7777777%1~a.png", "7777777%4~a.png", "7777777%5~a.png"})
            Save(DocumentPage({200, 283}, Qt::darkGray, "percent"), Folder("7777") + name);
        // A page with far more pixels than the window shows at zoom 0.
        QImage large(2400, 3200, QImage::Format_RGB32);
        large.fill(Qt::white);
        Save(large, Folder("6000") + "60000001~1.png");
    }

    void init() {
        StartHost();
        CreateForm();
    }

    void cleanup() { EndHost(); }

    void creationWritesIdleAndShowsStartState() {
        QCOMPARE(FForm->objectName(), QStringLiteral("LumivaneViewerForm"));
        QCOMPARE(FForm->windowTitle(), QStringLiteral("Lumivane Viewer"));
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsIdle});
        QCOMPARE(FBlock->ViewState(), vsIdle);
        QVERIFY(!FForm->isVisible());
        QCOMPARE(Title(), QStringLiteral("..."));
        // Nothing to wait for: no busy indicator, and the page says how to search.
        QVERIFY(!Child<TActivityIndicator>("AniIndicator1")->IsRunning());
        QCOMPARE(Child<QAbstractAnimation>("BusyIndicatorColorAnimation")->state(),
                 QAbstractAnimation::Stopped);
        QCOMPARE(Child<TImagePage>("tabForImage")->NoticeText(),
                 QStringLiteral("Type an identifier and press Enter"));
        QVERIFY(!Child<QPushButton>("BtnPrint")->isEnabled());
        QCOMPARE(LumivaneViewerForm, static_cast<IOrlenzaForm*>(FForm.get()));
        // With nothing saved: the default placement, half the desktop at its corner (no
        // smaller than the window's minimum).
        const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
        QCOMPARE(FCreatedGeometry.size(), (desktop.size() / 2).expandedTo(FForm->minimumSize()));
        QCOMPARE(FCreatedGeometry.topLeft(), QPoint(0, 0));
    }

    void imagePageFillsTheAreaBetweenTheToolBars() {
        FForm->show();
        auto* page = Child<QWidget>("tabForImage");
        QCOMPARE(QRect(page->mapTo(FForm.get(), QPoint(0, 0)), page->size()),
                 QRect(0, 32, 600, 496));
        QCOMPARE(Child<QWidget>("TopToolBar")->geometry(), QRect(0, 0, 600, 32));
        QCOMPARE(Child<QWidget>("BottomToolBar")->geometry(), QRect(0, 528, 600, 40));
        // The page turner row floats over the top of the page, its buttons centred.
        auto* buttons = Child<QWidget>("loPageTurnerButtons");
        QCOMPARE(buttons->size(), QSize(81, 25));
        QCOMPARE(buttons->mapTo(page, QPoint(0, 0)).x(), (600 - 81) / 2);
    }

    void closingSavesPlacementAndCreationRestoresIt() {
        FForm->show();
        FForm->move(40, 30);
        Child<TToggleSwitch>("swFitToWidth")->setChecked(true);
        Zoom()->SetValue(0.75);
        QVERIFY(FForm->close());
        QStringList saved;
        QDirIterator files(qEnvironmentVariable("XDG_DATA_HOME"), QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext())
            saved << QFileInfo(files.next()).fileName();
        QCOMPARE(saved, QStringList{"viewer-test-host.LumivaneViewerForm.json"});
        // A new window for the same host comes back where the last one was, with its
        // zoom and fit-to-width.
        DestroyForm();
        CreateForm();
        QCOMPARE(FCreatedGeometry.topLeft(), QPoint(40, 30));
        QVERIFY(Child<TToggleSwitch>("swFitToWidth")->isChecked());
        QCOMPARE(Zoom()->Value(), 0.75);
    }

    void threeImagesFoundShowTheFirst() {
        TakeStates();
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        QVERIFY(FForm->isVisible());
        QCOMPARE(TakeStates(), (std::vector<TImageViewerState>{vsIdle, vsOpen}));
        QCOMPARE(FBlock->ViewState(), vsOpen);
        QCOMPARE(List()->count(), 3);
        const QString dir = FScans + "1234/";
        QCOMPARE(List()->itemText(0), dir + "12345678~1.png");
        QCOMPARE(List()->itemText(1), dir + "12345678~2.jpg");
        QCOMPARE(List()->itemText(2), dir + "12345678~3.tif");
        QCOMPARE(FForm->ImageId(), 1);
        QCOMPARE(FForm->Count(), 3);
        QVERIFY(!Image()->IsBitmapEmpty());
        QCOMPARE(Image()->FullSize(), QSize(1000, 1414));
        QVERIFY2(Title().startsWith("12345678 "), qPrintable(Title()));
        QVERIFY2(Title().endsWith(" \r\n1 of 3"), qPrintable(Title()));
        QVERIFY(Child<QPushButton>("BtnPrint")->isEnabled());
        QVERIFY(!Child<TActivityIndicator>("AniIndicator1")->IsRunning());
        QCOMPARE(Child<QLineEdit>("edImageId")->text(), QStringLiteral("12345678"));
    }

    void navigationStopsAtTheEnds() {
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        auto* back = Child<QToolButton>("btnBack");
        auto* next = Child<QToolButton>("btnNext");
        const QColor first = CentreColour(Image()->Bitmap());
        TakeStates();
        back->click(); // on the first: nothing
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 1);
        QVERIFY(TakeStates().empty());
        next->click();
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        QVERIFY(Title().endsWith("\r\n2 of 3"));
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsOpen});
        next->click();
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 3);
        TakeStates();
        const qint64 shown = Image()->Bitmap().cacheKey();
        next->click(); // on the last: nothing
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 3);
        QCOMPARE(Image()->Bitmap().cacheKey(), shown);
        QVERIFY(TakeStates().empty());
        back->click();
        QVERIFY(Settled());
        back->click();
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 1);
        QCOMPARE(CentreColour(Image()->Bitmap()), first);
    }

    void pickingTheSecondItemShowsIt() {
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        const QImage firstShown = Image()->Bitmap();
        TakeStates();
        List()->setCurrentIndex(1); // as the user's pick raises the change event
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        QVERIFY2(Title().endsWith("\r\n2 of 3"), qPrintable(Title()));
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsOpen});
        // The second page has green ink in its heading bar.
        const QImage shown = Image()->Bitmap();
        QVERIFY(shown != firstShown);
        const QColor bar = shown.pixelColor(shown.width() / 2, shown.height() * 12 / 100);
        QVERIFY2(bar.green() > 120 && bar.red() < 90, qPrintable(bar.name()));
        QCOMPARE(FForm->SelectedImage().Name, std::string("12345678~2.jpg"));
        // The record is handed out where the window holds it, not copied on every call.
        const TLumivaneImage& selected = FForm->SelectedImage();
        QCOMPARE(&FForm->SelectedImage(), &selected);
    }

    void searchWithoutResultLeavesEverythingEmpty() {
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        TakeStates();
        FForm->NewImage("99999999");
        QVERIFY(Settled());
        QCOMPARE(TakeStates(), (std::vector<TImageViewerState>{vsIdle, vsOpen}));
        QCOMPARE(List()->count(), 0);
        QCOMPARE(FForm->ImageId(), 0);
        QVERIFY(Image()->IsBitmapEmpty());
        QCOMPARE(Title(), QString());
        QVERIFY(!Child<QPushButton>("BtnPrint")->isEnabled());
        QVERIFY(FForm->SelectedImage().IsEmpty());
        // Next with nothing found does nothing.
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        QVERIFY(TakeStates().empty());
        QCOMPARE(FForm->ImageId(), 0);
    }

    void tooShortIdentifierDisablesFormAndEnter() {
        auto* box = Child<QLineEdit>("edImageId");
        auto* form = Child<QPushButton>("btnForm");
        TakeStates();
        // The pattern "****...." needs four characters (its trailing dots do not count).
        QTest::keyClicks(box, "123");
        QVERIFY(!form->isEnabled());
        QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(Settled());
        QVERIFY(TakeStates().empty());
        QVERIFY(!FForm->isVisible());
        QCOMPARE(List()->count(), 0);
        // One more character makes it long enough; Enter then searches.
        QTest::keyClicks(box, "45678");
        QVERIFY(form->isEnabled());
        QTest::keyClick(box, Qt::Key_Enter);
        QVERIFY(Settled());
        QCOMPARE(List()->count(), 3);
        QCOMPARE(TakeStates(), (std::vector<TImageViewerState>{vsIdle, vsOpen}));
        // A search from elsewhere puts its identifier into the box: the button follows it,
        // not the short text typed before.
        box->clear();
        QTest::keyClicks(box, "12");
        QVERIFY(!form->isEnabled());
        FForm->NewImage("12345679");
        QVERIFY(Settled());
        QCOMPARE(box->text(), QStringLiteral("12345679"));
        QVERIFY(form->isEnabled());
        // The Form button for the identifier shown refreshes its list and keeps the place.
        QTest::mouseClick(Image(), Qt::LeftButton, {}, Image()->rect().center());
        TakeStates();
        form->click();
        QVERIFY(Settled());
        QVERIFY(TakeStates().empty());
        QCOMPARE(Dial()->Angle(), 90);
        // Another identifier is a new search.
        box->setText("12345678");
        form->click();
        QVERIFY(Settled());
        QCOMPARE(TakeStates(), (std::vector<TImageViewerState>{vsIdle, vsOpen}));
        QCOMPARE(List()->count(), 3);
    }

    void hostHideEmptiesBitmapKeepsListAndOpenShowsAgain() {
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        FForm->activateWindow();
        FBlock->At(lvcontrol::kCommandState) = vcHide;
        QTRY_VERIFY_WITH_TIMEOUT(!FForm->isVisible(), 3000);
        QCOMPARE(FBlock->At(lvcontrol::kCommandState), std::uint8_t(vcHandled));
        QVERIFY(Image()->IsBitmapEmpty());
        QCOMPARE(List()->count(), 3);
        QCOMPARE(FForm->ImageId(), 1);
        QVERIFY(!Child<QPushButton>("BtnPrint")->isEnabled());
        // Without a start-up search text the window comes back with an empty image, saying
        // how to search, and nothing spinning.
        FBlock->At(lvcontrol::kCommandState) = vcOpen;
        QTRY_VERIFY_WITH_TIMEOUT(FForm->isVisible(), 3000);
        QVERIFY(Image()->IsBitmapEmpty());
        QCOMPARE(List()->count(), 3);
        QCOMPARE(Child<TImagePage>("tabForImage")->NoticeText(),
                 QStringLiteral("Type an identifier and press Enter"));
        QVERIFY(!Child<TActivityIndicator>("AniIndicator1")->IsRunning());
    }

    // A minimised window is visible to the toolkit but not to the user: a search and the
    // host's open both bring it back.
    void minimisedWindowComesBackForSearchAndOpen() {
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        QTRY_VERIFY_WITH_TIMEOUT(FForm->isActiveWindow(), 3000);
        const struct {
            const char* Name;
            std::function<void()> Ask;
        } requests[] = {
            {"search", [this] { FForm->NewImage("12345679"); }},
            {"host open", [this] { FBlock->At(lvcontrol::kCommandState) = vcOpen; }},
        };
        for (const auto& request : requests) {
            FForm->showMinimized();
            QTRY_VERIFY_WITH_TIMEOUT(FForm->windowState() & Qt::WindowMinimized, 3000);
            request.Ask();
            QTRY_VERIFY2_WITH_TIMEOUT(!(FForm->windowState() & Qt::WindowMinimized), request.Name,
                                      3000);
            QVERIFY2(FForm->isVisible(), request.Name);
        }
    }

    void userCloseWritesUnknownAndHides() {
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        TakeStates();
        QVERIFY(FForm->close());
        QVERIFY(!FForm->isVisible());
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsUnknown});
        QCOMPARE(FBlock->ViewState(), vsUnknown);
        FBlock->At(lvcontrol::kCommandState) = vcOpen;
        QTRY_VERIFY_WITH_TIMEOUT(FForm->isVisible(), 3000);
    }

    void startupSearchTextIsSearchedOnActivation() {
        StartupSearchText = "12345678";
        FForm->ShowForm();
        QTRY_COMPARE_WITH_TIMEOUT(List()->count(), 3, 3000);
        QCOMPARE(FForm->ImageId(), 1);
        QVERIFY(!(FForm->windowState() & Qt::WindowMaximized));

        // Another identifier searched since (the toolbar's or the box's) is what a return
        // to the window searches again; the start-up text must not replace it.
        const QString other = FScans + "1234/12345679~1.png";
        QWidget elsewhere;
        elsewhere.show();
        auto returnToWindow = [&] {
            elsewhere.activateWindow();
            QTRY_VERIFY_WITH_TIMEOUT(elsewhere.isActiveWindow(), 3000);
            FForm->activateWindow();
            QTRY_VERIFY_WITH_TIMEOUT(FForm->isActiveWindow(), 3000);
        };
        FForm->NewImage("12345679");
        QVERIFY(Settled());
        returnToWindow();
        QVERIFY(Settled());
        QCOMPARE(List()->count(), 1);
        QCOMPARE(List()->itemText(0), other);
        // Hidden by the host, then a search from the toolbar shows it for that identifier.
        FBlock->At(lvcontrol::kCommandState) = vcHide;
        QTRY_VERIFY_WITH_TIMEOUT(!FForm->isVisible(), 3000);
        elsewhere.activateWindow();
        QTRY_VERIFY_WITH_TIMEOUT(elsewhere.isActiveWindow(), 3000);
        FForm->NewImage("12345679");
        QVERIFY(Settled());
        QTRY_VERIFY_WITH_TIMEOUT(FForm->isActiveWindow(), 3000);
        QCOMPARE(List()->count(), 1);
        QCOMPARE(List()->itemText(0), other);
        QVERIFY(!Image()->IsBitmapEmpty());
        // A search the folder search refuses is reported once; a return searches the last
        // identifier that could be searched, not the refused one again.
        Child<QLineEdit>("edImageId")->setText("1234/678");
        Child<QPushButton>("btnForm")->click();
        QVERIFY(Settled());
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "errorReport" && w->isVisible())
                w->close();
        returnToWindow();
        QVERIFY(Settled());
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY(!(w->objectName() == "errorReport" && w->isVisible()));
        QCOMPARE(List()->count(), 1);
        QCOMPARE(List()->itemText(0), other);
        QVERIFY(!Image()->IsBitmapEmpty());
        // Searching the start-up text again makes it the one a return searches; the return
        // finds it shown and keeps the user's place (no new search, no state written).
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        TakeStates();
        returnToWindow();
        QVERIFY(Settled());
        QCOMPARE(List()->count(), 3);
        QCOMPARE(FForm->ImageId(), 2);
        QVERIFY(TakeStates().empty());
    }

    // Coming back from a window this one opened (its error report, a dialog) is no return
    // to the window: searching the start-up text again would raise the same error report
    // without end, or throw away the page the user was on.
    void returnFromOwnWindowDoesNotSearchAgain() {
        auto visibleReports = [] {
            int n = 0;
            for (QWidget* w : QApplication::topLevelWidgets())
                n += w->objectName() == "errorReport" && w->isVisible();
            return n;
        };
        auto activate = [](QWidget* AWindow) {
            AWindow->activateWindow();
            QTRY_VERIFY_WITH_TIMEOUT(AWindow->isActiveWindow(), 3000);
        };
        // A start-up text the folder search refuses: one report, not one per dismissal.
        StartupSearchText = "1234/678";
        FForm->ShowForm();
        QTRY_COMPARE_WITH_TIMEOUT(visibleReports(), 1, 3000);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "errorReport" && w->isVisible()) {
                activate(w);
                w->close();
            }
        activate(FForm.get());
        QVERIFY(Settled());
        QCOMPARE(visibleReports(), 0);

        // On the second page, a dialog of the window comes and goes: still the second page.
        StartupSearchText = "12345678";
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        TakeStates();
        {
            QDialog dialog(FForm.get());
            dialog.show();
            activate(&dialog);
            dialog.accept();
        }
        activate(FForm.get());
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        QVERIFY(TakeStates().empty());

        // Coming back from another window searches the start-up text again, which is the
        // identifier shown: the list is refreshed and the second page stays.
        QWidget other;
        other.show();
        activate(&other);
        activate(FForm.get());
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        QVERIFY(TakeStates().empty());
    }

    void longPathWidensListOnceAndNeverNarrows() {
        // Wide enough for the long path and the title beside it.
        FForm->resize(2400, 568);
        FForm->show();
        QCOMPARE(List()->width(), 44);
        FForm->NewImage("40000001");
        QVERIFY(Settled());
        QCOMPARE(List()->count(), 1);
        const QFontMetricsF metrics(List()->font());
        const qreal need =
            44 + metrics.horizontalAdvance("W") + metrics.horizontalAdvance(List()->itemText(0));
        // Measured on a worker: the list widens when it answers.
        QTRY_COMPARE(FForm->ListMeasuresPending(), 0);
        const int widened = List()->width();
        QVERIFY2(widened >= need && widened < need + 1, qPrintable(QString::number(widened)));
        // A shorter path measured after the long one leaves the width as it is.
        FForm->NewImage("40000002");
        QVERIFY(Settled());
        QCOMPARE(List()->count(), 1);
        QTRY_COMPARE(FForm->ListMeasuresPending(), 0);
        QCOMPARE(List()->width(), widened);
        FForm->NewImage("99999999"); // nothing found: width unchanged
        QVERIFY(Settled());
        QCOMPARE(List()->width(), widened);
        // A narrow window keeps its size and the title its room: the list gives way, and
        // takes its width back when there is room again.
        FForm->resize(600, 568);
        QTRY_COMPARE(FForm->width(), 600);
        auto* title = Child<QLabel>("lblCurrentImageName");
        QVERIFY2(title->width() >= 140, qPrintable(QString::number(title->width())));
        QVERIFY(List()->geometry().right() < title->geometry().left());
        FForm->resize(2400, 568);
        QTRY_COMPARE(List()->width(), widened);
    }

    void loadErrorShowsErrorFillAndKeepsState() {
        TakeStates();
        FForm->NewImage("30000001");
        QVERIFY(Settled());
        QCOMPARE(List()->count(), 3);
        QCOMPARE(FForm->ImageId(), 1);
        // No vsOpen for an image that could not be shown; the title names the selection.
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsIdle});
        QVERIFY2(Title().startsWith("30000001 ") && Title().endsWith("\r\n1 of 3"),
                 qPrintable(Title()));
        QVERIFY(!Image()->IsBitmapEmpty());
        QCOMPARE(CentreColour(Image()->Bitmap()), QColor(0xBC, 0x8F, 0x8F));
        QVERIFY(!Child<QPushButton>("BtnPrint")->isEnabled());
        // The window goes on working: the next image shows.
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsOpen});
        QVERIFY(Title().endsWith("\r\n2 of 3"));
        const QSize shownSize = Image()->Bitmap().size();
        QVERIFY(CentreColour(Image()->Bitmap()) != QColor(0xBC, 0x8F, 0x8F));
        QVERIFY(Child<QPushButton>("BtnPrint")->isEnabled());
        // The container: the shown bitmap turns to the error colour at its size; no state,
        // and the title follows the list to the failed entry.
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 3);
        QVERIFY(TakeStates().empty());
        QVERIFY(Title().endsWith("\r\n3 of 3"));
        QCOMPARE(Image()->Bitmap().size(), shownSize);
        QCOMPARE(CentreColour(Image()->Bitmap()), QColor(0xBC, 0x8F, 0x8F));
        QVERIFY(!Child<QPushButton>("BtnPrint")->isEnabled());
    }

    void pagesAreListedInReadingOrder() {
        // Saved from the last page to the first, so neither the folder's order nor the
        // names' plain text order (~1, ~10, ~11, ... ~2) gives the reading order.
        QStringList expected;
        for (int i = 1; i <= 19; ++i)
            expected << Folder("8000") + QStringLiteral("80000001~%1.png").arg(i);
        for (auto it = expected.crbegin(); it != expected.crend(); ++it)
            Save(QImage(10, 10, QImage::Format_RGB32), *it);
        FForm->NewImage("80000001");
        QVERIFY(Settled());
        QStringList listed;
        for (int i = 0; i < List()->count(); ++i)
            listed << List()->itemText(i);
        QCOMPARE(listed, expected);
        QVERIFY2(Title().endsWith("\r\n1 of 19"), qPrintable(Title()));
    }

    // FIFOs and link loops named like images, an oversized and twenty locked containers
    // in one folder: the search lists what it may, nothing hangs, and the picture among
    // them still shows.
    void hostileFolderLeavesTheWindowWorking() {
        const QString folder = Folder("9000");
        for (const char* name : {"90000001~1.tif", "90000001~2.lva"})
            QCOMPARE(::mkfifo(QFile::encodeName(folder + name).constData(), 0644), 0);
        QVERIFY(QFile::link(folder + "90000001~4.tif", folder + "90000001~3.tif"));
        QVERIFY(QFile::link(folder + "90000001~3.tif", folder + "90000001~4.tif"));
        QFile huge(folder + "90000001~5.lva");
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.resize(qint64(256) << 20)); // sparse: no disk used
        huge.close();
        std::vector<int> locks;
        for (int i = 10; i < 30; ++i) {
            const QString name = folder + QStringLiteral("90000001~%1.lva").arg(i);
            QFile held(name);
            QVERIFY(held.open(QIODevice::WriteOnly));
            held.write("90000001~6.png");
            held.close();
            // Another open of the file: its lock keeps out every other open, this
            // process's included.
            const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY);
            QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX) == 0);
            locks.push_back(fd);
        }
        Save(DocumentPage({300, 400}, Qt::darkBlue, "90000001 page 6"), folder + "90000001~6.png");

        FForm->NewImage("90000001");
        QVERIFY(Settled());
        QCOMPARE(List()->count(), 22); // ~5, ~6 and the twenty locked containers
        QCOMPARE(List()->itemText(1), folder + "90000001~6.png");
        QCOMPARE(List()->itemText(0), folder + "90000001~5.lva");
        // The oversized container is no picture: refused with its reason.
        QCOMPARE(CentreColour(Image()->Bitmap()), QColor(0xBC, 0x8F, 0x8F));
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        QVERIFY(CentreColour(Image()->Bitmap()) != QColor(0xBC, 0x8F, 0x8F));
        QVERIFY(Child<QPushButton>("BtnPrint")->isEnabled());
        for (const int fd : locks)
            ::close(fd);
    }

    void linkOutOfTheSourcesIsListedButNeverShown() {
        // One link to a picture outside the source folder, one to a picture inside it.
        QDir().mkpath(FRoot.path() + "/outside");
        const QString outside = FRoot.path() + "/outside/page.png";
        Save(DocumentPage({300, 400}, Qt::darkGreen, "outside"), outside);
        QVERIFY(QFile::link(outside, Folder("7000") + "70000001~1.png"));
        QVERIFY(QFile::link(Folder("1234") + "12345678~1.png", Folder("7000") + "70000001~2.png"));
        TakeStates();
        FForm->NewImage("70000001");
        QVERIFY(Settled());
        QCOMPARE(List()->count(), 2);
        QCOMPARE(FForm->SelectedImage().CantOpenReason(), corSecured);
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsIdle});
        QCOMPARE(CentreColour(Image()->Bitmap()), QColor(0xBC, 0x8F, 0x8F));
        QCOMPARE(Child<TImagePage>("tabForImage")->NoticeText(),
                 QStringLiteral("70000001~1.png cannot be shown: access to the file is refused"));
        QVERIFY(!Child<QPushButton>("BtnPrint")->isEnabled());
        // The link that stays inside shows its picture.
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsOpen});
        QVERIFY(CentreColour(Image()->Bitmap()) != QColor(0xBC, 0x8F, 0x8F));
        QVERIFY(Child<QPushButton>("BtnPrint")->isEnabled());
        // Nor is it decoded ahead as the shown page's neighbour.
        QVERIFY(QTest::qWaitFor([this] { return FForm->Pipeline().Pending() == 0; }, 10000));
        QVERIFY(!FForm->Pipeline().Cache().Contains({List()->itemText(0), 0}));
        // Going back to the secured one still opens nothing.
        Child<QToolButton>("btnBack")->click();
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 1);
        QCOMPARE(CentreColour(Image()->Bitmap()), QColor(0xBC, 0x8F, 0x8F));
    }

    void searchErrorIsReportedAndWindowKeepsWorking() {
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        TakeStates();
        // A path delimiter in the identifier is refused by the folder search.
        auto* box = Child<QLineEdit>("edImageId");
        box->setText("1234/678");
        Child<QPushButton>("btnForm")->click();
        QVERIFY(Settled());
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsIdle});
        QMessageBox* report = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "errorReport" && w->isVisible())
                report = qobject_cast<QMessageBox*>(w);
        QVERIFY(report);
        QVERIFY2(report->text().contains("1234/678"), qPrintable(report->text()));
        report->close();
        // The list keeps what the last search found, and the window goes on working.
        QCOMPARE(List()->count(), 3);
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsOpen});
        QVERIFY(!Image()->IsBitmapEmpty());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr); // the hourglass is given back
    }

    void titleOfANameWithoutTildeStartsWithBlank() {
        FForm->NewImage("50000001");
        QVERIFY(Settled());
        QCOMPARE(Title(), QStringLiteral(" Mar 05 2024 14:07 \r\n1 of 1"));
    }

    // The title is put together from its parts: a name that looks like a placeholder stays
    // as it is instead of taking the position or the count.
    void titleKeepsPlaceholderLikeNames() {
        for (const char* id : {"7777777%1", "7777777%4", "7777777%5"}) {
            FForm->NewImage(id);
            QVERIFY(Settled());
            QCOMPARE(FForm->Count(), 1);
            QVERIFY2(Title().startsWith(QString::fromLatin1(id) + ' '), qPrintable(Title()));
            QVERIFY2(Title().endsWith(" \r\n1 of 1"), qPrintable(Title()));
            QCOMPARE(Title().count('%'), 1);
        }
    }

    // Nothing found, or a file that cannot be shown: the image area shows its colour with
    // the reason written on it, in the window's font.
    void noImageAndLoadErrorShowTheirColourAndReason() {
        auto* page = Child<TImagePage>("tabForImage");
        const struct {
            const char* Search;
            QColor Fill;
            QString Reason;
        } rows[] = {
            {"99999999", QColor(0xFA, 0xEB, 0xD7), "No images for 99999999"},
            {"30000002", QColor(0xBC, 0x8F, 0x8F),
             "30000002~1.jpg cannot be shown: the JPEG data is truncated or corrupt"},
            {"30000001", QColor(0xBC, 0x8F, 0x8F),
             "30000001~1.tif cannot be shown: not a readable TIFF file"},
        };
        for (const auto& row : rows) {
            FForm->NewImage(row.Search);
            QVERIFY(Settled());
            QCOMPARE(page->NoticeText(), row.Reason);
            const QImage shown = page->grab().toImage();
            // The whole area, to its corners, not only where a picture would be.
            for (const QPoint corner :
                 {QPoint(2, 2), QPoint(shown.width() - 3, shown.height() - 3)})
                QCOMPARE(shown.pixelColor(corner), row.Fill);
            // The reason is written across the middle: dark text pixels there.
            int ink = 0;
            const int y0 = shown.height() / 2 - 30, y1 = shown.height() / 2 + 30;
            for (int y = y0; y < y1; ++y)
                for (int x = 0; x < shown.width(); ++x)
                    ink += qGray(shown.pixel(x, y)) < 100;
            QVERIFY2(ink > 50, row.Search);
            QCOMPARE(page->font(), FForm->font());
        }
        // A picture shown again takes the notice away.
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        QCOMPARE(page->NoticeText(), QString());
        QVERIFY(page->grab().toImage().pixelColor(2, 2) != QColor(0xFA, 0xEB, 0xD7));
    }

    void hostSearchTextClearsBoxOnlyWhenUserIsNotTyping() {
        auto* box = Child<QLineEdit>("edImageId");
        box->setText("12345678");
        FForm->SetSearchText("87654321"); // a text is ignored
        QCOMPARE(box->text(), QStringLiteral("12345678"));
        FForm->SetSearchText(""); // no key released yet: long ago
        QCOMPARE(box->text(), QString());
        QTest::keyClicks(box, "1234");
        FForm->SetSearchText(""); // typed just now
        QCOMPARE(box->text(), QStringLiteral("1234"));
    }

    void activationAppliesStartMaximized() {
        StartMaximized = true;
        FForm->ShowForm();
        QTRY_VERIFY_WITH_TIMEOUT(FForm->windowState() & Qt::WindowMaximized, 3000);
        QCOMPARE(List()->count(), 0); // no start-up search text: nothing searched
    }

    void zoomDecodesMoreDetailWhenAsked() {
        FForm->NewImage("60000001");
        QVERIFY(Settled());
        const QSize full(2400, 3200);
        QCOMPARE(Image()->FullSize(), full);
        const QSize first = Image()->Bitmap().size();
        // At zoom 0 no more pixels are held than are drawn.
        QVERIFY2(first.width() < full.width() &&
                     first.height() <= 496 * FForm->devicePixelRatioF() + 1,
                 qPrintable(QStringLiteral("%1x%2").arg(first.width()).arg(first.height())));
        Zoom()->SetValue(1);
        const QSizeF drawn = Image()->DrawnSize() * FForm->devicePixelRatioF();
        QTRY_VERIFY_WITH_TIMEOUT(Image()->Bitmap().width() >= std::floor(drawn.width()), 3000);
        QCOMPARE(Image()->FullSize(), full);
        // The control is the picture: 4 times the fitted 372 x 496.
        QCOMPARE(Image()->Bounds().size(), QSizeF(372 * 4, 496 * 4));
    }

    void geometryOnTheRealWidget() {
        auto* fit = Child<TToggleSwitch>("swFitToWidth");
        FForm->NewImage("20000001"); // 1000 x 2000
        QVERIFY(Settled());
        QCOMPARE(Child<QTabWidget>("tabImage")->height(), 496);
        QCOMPARE(FForm->width(), 600);
        // The control is the picture as fitted.
        QCOMPARE(Image()->Bounds().size(), QSizeF(248, 496));
        QCOMPARE(Image()->DrawnSize(), QSizeF(248, 496));
        // Centred in its page.
        QCOMPARE(Image()->Bounds().center(), QPointF(300, 248));

        fit->setChecked(true); // refits the picture shown at once
        QCOMPARE(Image()->Bounds().size(), QSizeF(600, 1200));
        FForm->NewImage("20000002");
        FForm->NewImage("20000001");
        QVERIFY(Settled());
        QCOMPARE(Image()->Bounds().size(), QSizeF(600, 1200));
        QCOMPARE(Image()->DrawnSize(), QSizeF(600, 1200));

        FForm->NewImage("20000002"); // 2000 x 1000, whatever the switch
        QVERIFY(Settled());
        QCOMPARE(Image()->Bounds().size(), QSizeF(600, 300));
        QCOMPARE(Image()->DrawnSize(), QSizeF(600, 300));
        fit->setChecked(false);
        FForm->NewImage("20000002");
        QVERIFY(Settled());
        QCOMPARE(Image()->DrawnSize(), QSizeF(600, 300));
        FForm->NewImage("20000003"); // 300 x 200: never enlarged at zoom 0
        QVERIFY(Settled());
        QCOMPARE(Image()->Bounds().size(), QSizeF(300, 200));
        QCOMPARE(Image()->DrawnSize(), QSizeF(300, 200));

        // Zoom: 0.5 gives 2.5 times the base, 1 gives 4 times.
        Zoom()->SetValue(0.5);
        QCOMPARE(Image()->Bounds().size(), QSizeF(750, 500));
        Zoom()->SetValue(1);
        QCOMPARE(Image()->Bounds().size(), QSizeF(1200, 800));

        // The wheel: one notch back at 0.05 stops at 0, over the image or the page.
        Zoom()->SetValue(0.05);
        const QPointF centre = Image()->rect().center();
        QWheelEvent back(centre, Image()->mapToGlobal(centre), {}, {0, -120}, Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Image(), &back);
        QCOMPARE(Zoom()->Value(), 0.0);
        QCOMPARE(Image()->Bounds().size(), QSizeF(300, 200));
        QWheelEvent up(QPointF(5, 5), FForm->mapToGlobal(QPoint(5, 5)), {}, {0, 120}, Qt::NoButton,
                       Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Child<QWidget>("tabForImage"), &up);
        QCOMPARE(Zoom()->Value(), 0.12); // once, not once per widget under the pointer
        Zoom()->SetValue(0);

        // Four clicks turn the image round to 0; a double click sets 0.
        const int expected[] = {90, 180, -90, 0};
        for (int angle : expected) {
            QTest::mouseClick(Image(), Qt::LeftButton, {}, Image()->rect().center(), 600);
            QCOMPARE(Dial()->Angle(), angle);
            QCOMPARE(Image()->RotationAngle(), double(angle));
        }
        QTest::mouseClick(Child<QWidget>("tabForImage"), Qt::LeftButton, {}, QPoint(3, 60), 600);
        QCOMPARE(Dial()->Angle(), 90);
        QTest::mouseDClick(Image(), Qt::LeftButton, {}, Image()->rect().center(), 600);
        QCOMPARE(Dial()->Angle(), 0);
        QCOMPARE(Image()->RotationAngle(), 0.0);
        // Turning the dial turns the image (the binding), kept in -180 < v <= 180.
        Dial()->SetAngle(270);
        QCOMPARE(Dial()->Angle(), -90);
        QCOMPARE(Image()->RotationAngle(), -90.0);
        Dial()->SetAngle(0);

        // Panning: right button only, and only steps of more than 5 units.
        // Points are where the pointer is on the page; the image reports them in its own
        // coordinates, which shift as it moves.
        auto send = [this](QEvent::Type AType, QPointF APage, Qt::MouseButton AButton,
                           Qt::MouseButtons AButtons) {
            const QPointF local = APage - Image()->Bounds().topLeft();
            QMouseEvent e(AType, local, Image()->mapToGlobal(local), AButton, AButtons,
                          Qt::NoModifier);
            QApplication::sendEvent(Image(), &e);
        };
        const QPointF start = Image()->Bounds().topLeft();
        const QPointF p = start + QPointF(100, 100);
        send(QEvent::MouseButtonPress, p, Qt::RightButton, Qt::RightButton);
        QCOMPARE(Image()->cursor().shape(), Qt::PointingHandCursor);
        send(QEvent::MouseMove, p + QPointF(3, 0), Qt::NoButton, Qt::RightButton);
        QCOMPARE(Image()->Bounds().topLeft(), start);
        send(QEvent::MouseMove, p + QPointF(20, 0), Qt::NoButton, Qt::RightButton);
        QCOMPARE(Image()->Bounds().topLeft(), start + QPointF(20, 0));
        // The image follows the pointer: the next 20 units take it 20 further.
        send(QEvent::MouseMove, p + QPointF(20, 0), Qt::NoButton, Qt::RightButton);
        send(QEvent::MouseMove, p + QPointF(20, 20), Qt::NoButton, Qt::RightButton);
        QCOMPARE(Image()->Bounds().topLeft(), start + QPointF(20, 20));
        send(QEvent::MouseButtonRelease, p, Qt::RightButton, Qt::NoButton);
        QCOMPARE(Image()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(Dial()->Angle(), 0); // a right click is not a click that turns
        // (A left-button drag drags the file out instead: tst_viewerworkflow.)
        // A zoom step centres the image again.
        Zoom()->SetValue(0.2);
        QCOMPARE(Image()->Bounds().center(), QPointF(300, 248));
    }

    void printingGoesToThePrinterWithTheImageName() {
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        QTest::mouseClick(Image(), Qt::LeftButton, {}, Image()->rect().center());
        QCOMPARE(Image()->RotationAngle(), 90.0);
        const QString pdf = QStringLiteral(LV_TEST_OUTPUT_DIR "/print.pdf");
        QDir().mkpath(LV_TEST_OUTPUT_DIR);
        int asked = 0;
        bool asShown = true;
        FForm->Printing().SetDialogRunner([&](TPrintDialog& ADialog) {
            ++asked;
            lvprint::TPrintOptions options = ADialog.Options();
            options.AsShown = asShown;
            ADialog.SetOptions(options);
            ADialog.SelectPdfFile(pdf);
            return true;
        });
        // The page's green heading bar, seen along the middle row and the middle column of
        // the rendered sheet.
        const auto printed = [&] {
            QFile::remove(pdf);
            Child<QPushButton>("BtnPrint")->click();
            QTRY_VERIFY(!FForm->Printing().IsPrinting() && QFile::exists(pdf));
            QProcess info;
            info.start("pdfinfo", {pdf});
            QVERIFY(info.waitForFinished(10000));
            const QString out = QString::fromUtf8(info.readAllStandardOutput());
            QVERIFY2(out.contains(QRegularExpression("Title:\\s+12345678~2\\.jpg")),
                     qPrintable(out));
            QVERIFY2(out.contains(QRegularExpression("Pages:\\s+1\\b")), qPrintable(out));
            QProcess render;
            render.start("pdftoppm", {"-r", "30", "-png", "-singlefile", pdf, pdf + "-page"});
            QVERIFY(render.waitForFinished(20000));
        };
        const auto green = [&](bool AAlongRow, double AFrom, double ATo) {
            const QImage page(pdf + "-page.png");
            const int length = AAlongRow ? page.width() : page.height();
            int hits = 0;
            for (int i = static_cast<int>(AFrom * length); i < static_cast<int>(ATo * length);
                 ++i) {
                const QColor c = AAlongRow ? page.pixelColor(i, page.height() / 2)
                                           : page.pixelColor(page.width() / 2, i);
                hits += c.green() > 110 && c.red() < 90 && c.blue() < 90;
            }
            return hits;
        };
        // Turned as shown: the heading is down the right-hand side of a landscape sheet.
        printed();
        QCOMPARE(asked, 1);
        QVERIFY(green(true, 0.8, 1.0) >= 2);
        QCOMPARE(green(false, 0.0, 0.2), 0);
        // As stored: across the top.
        asShown = false;
        printed();
        QCOMPARE(asked, 2);
        QVERIFY(green(false, 0.0, 0.2) >= 2);
        QCOMPARE(green(false, 0.2, 1.0), 0);

        // A cancelled dialog prints nothing; with nothing shown the button is off.
        QFile::remove(pdf);
        FForm->Printing().SetDialogRunner([&](TPrintDialog&) {
            ++asked;
            return false;
        });
        Child<QPushButton>("BtnPrint")->click();
        QCOMPARE(asked, 3);
        QVERIFY(!FForm->Printing().IsPrinting());
        QVERIFY(!QFile::exists(pdf));
        FForm->NewImage("99999999");
        QVERIFY(Settled());
        QVERIFY(!Child<QPushButton>("BtnPrint")->isEnabled());
    }

    // Each picture shows what it is named for: the first page's red heading bar, or the
    // load-error or no-image colour over the image area, and not the others' colours.
    void screenshots() {
        const QColor pageInk(200, 30, 30);
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        QTest::qWait(0);
        QVERIFY(Screenshot("viewer-document", pageInk) > 0.005);
        QVERIFY(Screenshot("viewer-document", kLoadError) < 0.01);
        FForm->resize(900, 640);
        QTRY_COMPARE(Child<QTabWidget>("tabImage")->height(), 640 - 72);
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        QVERIFY(Screenshot("viewer-document-wide", pageInk) > 0.005);
        FForm->resize(600, 568);
        FForm->NewImage("30000001");
        QVERIFY(Settled());
        QVERIFY(Screenshot("viewer-load-error", kLoadError) > 0.3);
        QVERIFY(Screenshot("viewer-load-error", pageInk) < 0.001);
        FForm->NewImage("99999999");
        QVERIFY(Settled());
        QVERIFY(Screenshot("viewer-no-result", kNoImage) > 0.3);
        QVERIFY(Screenshot("viewer-no-result", kLoadError) < 0.01);
    }
};

QTEST_MAIN(TestViewerForm)
#include "tst_viewerform.moc"
