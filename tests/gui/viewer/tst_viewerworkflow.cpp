// The viewer window's everyday workflow on a real X server with a window manager: its
// keys (with the focus in and out of the identifier box), copying to the clipboard,
// dragging the file out, the picture's context menu, fresh scans joining the list, and
// keeping the user's place when the window is returned to, resized or refitted.
#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.FormCommon.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/Orlenza.DocumentPrinting.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/PrintDialog.h"
#include "viewer/ViewerWidgets.h"

#include "ViewerWindow.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QDrag>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

using namespace lvtest;

namespace {

// Receives what the window asks the desktop to open (QDesktopServices' handler hook).
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Opened;
public slots:
    void Open(const QUrl& AUrl) { Opened << AUrl; }
};

} // namespace

class TestViewerWorkflow : public QObject, ViewerWindow<> {
    Q_OBJECT

private:
    QLineEdit* Box() { return Child<QLineEdit>("edImageId"); }
    TToggleSwitch* Fit() { return Child<TToggleSwitch>("swFitToWidth"); }

    void CreateForm() { ViewerWindow::CreateForm({700, 600}); }
    void ActivateElsewhereAndBack(QWidget& AOther) {
        AOther.show();
        AOther.activateWindow();
        QTRY_VERIFY(AOther.isActiveWindow());
        FForm->activateWindow();
        QTRY_VERIFY(FForm->isActiveWindow());
    }

private slots:
    void initTestCase() {
        QVERIFY(FRoot.isValid());
        const QString f = Folder("1234");
        QVERIFY(DocumentPage({1000, 1414}, QColor(200, 30, 30), "12345678 page 1")
                    .save(f + "12345678~1.png"));
        QVERIFY(DocumentPage({1000, 1414}, QColor(30, 160, 30), "12345678 page 2")
                    .save(f + "12345678~2.jpg"));
        QVERIFY(DocumentPage({1000, 1414}, QColor(30, 30, 200), "12345678 page 3")
                    .save(f + "12345678~3.tif"));
        QVERIFY(QImage(1000, 2000, QImage::Format_RGB32).save(Folder("2000") + "20000001~a.png"));
        // A container naming an image file beside it.
        const QString c = Folder("9000");
        QVERIFY(DocumentPage({300, 424}, Qt::darkCyan, "named").save(c + "named-page.png"));
        QFile container(c + "90000001~1.lva");
        QVERIFY(container.open(QIODevice::WriteOnly));
        container.write("named-page.png\n");
    }

    void init() {
        StartHost();
        QGuiApplication::clipboard()->clear();
        CreateForm();
    }

    void cleanup() { EndHost(); }

    // ---- keys ---------------------------------------------------------------------------

    // Each single key acts with the focus on the picture and types into the identifier box
    // instead when the focus is there.
    void singleKeysActOnlyOutsideTheIdentifierBox_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        QTest::addColumn<std::function<void(TLumivaneViewerForm*)>>("before");
        QTest::addColumn<std::function<QString(TLumivaneViewerForm*)>>("state");
        QTest::addColumn<QString>("after");
        auto id = [](TLumivaneViewerForm* F) { return QString::number(F->ImageId()); };
        auto child = [](TLumivaneViewerForm* F, const char* N) {
            return F->findChild<QWidget*>(QString::fromLatin1(N));
        };
        auto zoom = [child](TLumivaneViewerForm* F) {
            return QString::number(static_cast<TTrackBar*>(child(F, "tbZoom"))->Value());
        };
        auto angle = [child](TLumivaneViewerForm* F) {
            return QString::number(
                static_cast<TRotaryDial*>(child(F, "arcdImageRotation"))->Angle());
        };
        auto second = [](TLumivaneViewerForm* F) {
            F->findChild<QToolButton*>("btnNext")->click();
            QVERIFY(QTest::qWaitFor([F] { return !F->IsLoading(); }, 10000));
        };
        auto zoomed = [child](TLumivaneViewerForm* F) {
            static_cast<TTrackBar*>(child(F, "tbZoom"))->SetValue(0.5);
        };
        auto nothing = [](TLumivaneViewerForm*) {};
        QTest::newRow("Right: next file")
            << int(Qt::Key_Right) << 0 << std::function<void(TLumivaneViewerForm*)>(nothing)
            << std::function<QString(TLumivaneViewerForm*)>(id) << "2";
        QTest::newRow("Left: previous file")
            << int(Qt::Key_Left) << 0 << std::function<void(TLumivaneViewerForm*)>(second)
            << std::function<QString(TLumivaneViewerForm*)>(id) << "1";
        QTest::newRow("End: last file")
            << int(Qt::Key_End) << 0 << std::function<void(TLumivaneViewerForm*)>(nothing)
            << std::function<QString(TLumivaneViewerForm*)>(id) << "3";
        QTest::newRow("Home: first file")
            << int(Qt::Key_Home) << 0 << std::function<void(TLumivaneViewerForm*)>(second)
            << std::function<QString(TLumivaneViewerForm*)>(id) << "1";
        QTest::newRow("+: one wheel step in")
            << int(Qt::Key_Plus) << 0 << std::function<void(TLumivaneViewerForm*)>(nothing)
            << std::function<QString(TLumivaneViewerForm*)>(zoom) << "0.12";
        QTest::newRow("-: one wheel step out")
            << int(Qt::Key_Minus) << 0 << std::function<void(TLumivaneViewerForm*)>(zoomed)
            << std::function<QString(TLumivaneViewerForm*)>(zoom) << "0.38";
        QTest::newRow("0: fitted size")
            << int(Qt::Key_0) << 0 << std::function<void(TLumivaneViewerForm*)>(zoomed)
            << std::function<QString(TLumivaneViewerForm*)>(zoom) << "0";
        QTest::newRow("W: fit to width")
            << int(Qt::Key_W) << 0 << std::function<void(TLumivaneViewerForm*)>(nothing)
            << std::function<QString(TLumivaneViewerForm*)>([child](TLumivaneViewerForm* F) {
                   return QString::number(
                       static_cast<TToggleSwitch*>(child(F, "swFitToWidth"))->isChecked());
               })
            << "1";
        QTest::newRow("R: quarter turn right")
            << int(Qt::Key_R) << 0 << std::function<void(TLumivaneViewerForm*)>(nothing)
            << std::function<QString(TLumivaneViewerForm*)>(angle) << "90";
        QTest::newRow("Shift+R: quarter turn left")
            << int(Qt::Key_R) << int(Qt::ShiftModifier)
            << std::function<void(TLumivaneViewerForm*)>(nothing)
            << std::function<QString(TLumivaneViewerForm*)>(angle) << "-90";
        QTest::newRow("/: the identifier box")
            << int(Qt::Key_Slash) << 0 << std::function<void(TLumivaneViewerForm*)>(nothing)
            << std::function<QString(TLumivaneViewerForm*)>([](TLumivaneViewerForm* F) {
                   auto* box = F->findChild<QLineEdit*>("edImageId");
                   return QString::number(box->hasFocus()) + box->selectedText();
               })
            << "112345678";
    }
    void singleKeysActOnlyOutsideTheIdentifierBox() {
        QFETCH(int, key);
        QFETCH(int, mods);
        QFETCH(std::function<void(TLumivaneViewerForm*)>, before);
        QFETCH(std::function<QString(TLumivaneViewerForm*)>, state);
        QFETCH(QString, after);
        ShowFromToolbar("12345678");
        before(FForm.get());
        // In the identifier box the key is the box's: nothing of the window changes.
        FForm->activateWindow();
        Box()->setFocus();
        QTRY_VERIFY(Box()->hasFocus());
        Box()->end(false);
        const QString unchanged = state(FForm.get());
        Key(Qt::Key(key), Qt::KeyboardModifiers(mods));
        QCOMPARE(state(FForm.get()), unchanged);
        // Anywhere else the window acts: on the picture and on the zoom bar alike.
        for (const char* focus : {"tabForImage", "tbZoom"}) {
            // From the same start each time: first file, fitted, upright.
            List()->setCurrentIndex(0);
            QVERIFY(Settled());
            Zoom()->SetValue(0);
            Fit()->setChecked(false);
            Dial()->SetAngle(0);
            Box()->setText("12345678");
            before(FForm.get());
            auto* target = Child<QWidget>(focus);
            target->setFocus();
            QTRY_VERIFY(target->hasFocus());
            Key(Qt::Key(key), Qt::KeyboardModifiers(mods));
            QVERIFY2(state(FForm.get()) == after, focus);
        }
    }

    // Keys with Ctrl, Esc and F1 act wherever the focus is, the identifier box included.
    void ctrlEscAndF1ActEverywhere() {
        const QString pdf = FRoot.path() + "/key-print.pdf";
        int printed = 0;
        FForm->Printing().SetDialogRunner([&](TPrintDialog& ADialog) {
            ++printed;
            ADialog.SelectPdfFile(pdf);
            return true;
        });
        for (const char* focus : {"edImageId", "tabForImage"}) {
            const QByteArray where = QByteArray("focus in ") + focus;
            ShowFromToolbar("12345678");
            auto* target = Child<QWidget>(focus);
            target->setFocus();
            QTRY_VERIFY2(target->hasFocus(), where);
            // Ctrl+F: the box, its text selected.
            Key(Qt::Key_F, Qt::ControlModifier);
            QTRY_VERIFY2(Box()->hasFocus(), where);
            QCOMPARE(Box()->selectedText(), QStringLiteral("12345678"));
            target->setFocus();
            QTRY_VERIFY2(target->hasFocus(), where);
            // Ctrl+P prints as the Print button does.
            const int printedBefore = printed;
            Key(Qt::Key_P, Qt::ControlModifier);
            QCOMPARE(printed, printedBefore + 1);
            QTRY_VERIFY2(!FForm->Printing().IsPrinting() && QFileInfo(pdf).size() > 1000, where);
            // Ctrl+C copies the page (nothing selected in the box to copy instead).
            Box()->deselect();
            QGuiApplication::clipboard()->clear();
            Key(Qt::Key_C, Qt::ControlModifier);
            QTRY_VERIFY2_WITH_TIMEOUT(QGuiApplication::clipboard()->mimeData()->hasImage(), where,
                                      15000);
            // F1: the window listing the keys.
            Key(Qt::Key_F1);
            QWidget* help = nullptr;
            QTRY_VERIFY2((help = FForm->findChild<QDialog*>("keyHelp")) && help->isVisible(),
                         where);
            const QString listed = help->findChild<QLabel*>("keyHelpText")->text();
            for (const char* k : {"Right / Left", "Home / End", "Ctrl+P", "Ctrl+C", "Esc", "F1"})
                QVERIFY2(listed.contains(QLatin1String(k)), k);
            help->close();
            FForm->activateWindow();
            QTRY_VERIFY(FForm->isActiveWindow());
            target->setFocus();
            QTRY_VERIFY2(target->hasFocus(), where);
            // Esc hides the window exactly as closing it does: state and placement.
            TakeStates();
            Key(Qt::Key_Escape);
            QTRY_VERIFY2(!FForm->isVisible(), where);
            QCOMPARE(TakeStates(), std::vector<TImageViewerState>{vsUnknown});
            QCOMPARE(FBlock->ViewState(), vsUnknown);
            QVERIFY(QDir(qEnvironmentVariable("XDG_DATA_HOME"))
                        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                        .size() > 0);
        }
        // With nothing shown, Ctrl+P does nothing (the Print button is off).
        FForm->NewImage("99999999");
        QVERIFY(Settled());
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        const int printedBefore = printed;
        Key(Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(printed, printedBefore);
    }

    void tooltipsShowTheirKeys() {
        const struct {
            const char* Widget;
            const char* Key;
        } rows[] = {
            {"btnBack", "Left"},    {"btnNext", "Right"},         {"tbZoom", "+ / -"},
            {"tbZoom", "0"},        {"arcdImageRotation", "R"},   {"swFitToWidth", "(W)"},
            {"BtnPrint", "Ctrl+P"}, {"edImageId", "Ctrl+F or /"},
        };
        for (const auto& row : rows)
            QVERIFY2(Child<QWidget>(row.Widget)->toolTip().contains(QLatin1String(row.Key)),
                     row.Widget);
    }

    // A search from the toolbar, the start-up text or the host's show gives the picture the
    // focus, so the keys work at once; one typed into the box leaves the focus there.
    void searchesFromElsewhereFocusThePicture() {
        ShowFromToolbar("12345678");
        QVERIFY(Page()->hasFocus());
        // Typed into the box: the focus stays for the next identifier.
        Box()->setFocus();
        QTRY_VERIFY(Box()->hasFocus());
        Box()->clear();
        QTest::keyClicks(Box(), "12345679");
        QTest::keyClick(Box(), Qt::Key_Return);
        QTRY_COMPARE(List()->count(), 0);
        QVERIFY(Box()->hasFocus());
        // The host shows the window again after the user closed it.
        Box()->setFocus();
        FForm->close();
        QTRY_VERIFY(!FForm->isVisible());
        FBlock->At(lvcontrol::kCommandState) = vcOpen;
        QTRY_VERIFY(FForm->isVisible());
        QTRY_VERIFY(Page()->hasFocus());
        // The start-up text, on the window's activation.
        DestroyForm();
        CreateForm();
        StartupSearchText = "12345678";
        FForm->ShowForm();
        QTRY_COMPARE(List()->count(), 3);
        QVERIFY(Settled());
        QTRY_VERIFY(Page()->hasFocus());
    }

    // ---- copy, drag, context menu -----------------------------------------------------------

    void copyPutsTheFullTurnedPageAndItsFileOnTheClipboard() {
        ShowFromToolbar("12345678");
        // The window holds a reduction; the clipboard gets the file's own pixels.
        QVERIFY(Image()->Bitmap().size() != QSize(1000, 1414));
        Key(Qt::Key_R);
        QCOMPARE(Dial()->Angle(), 90);
        Key(Qt::Key_C, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::clipboard()->mimeData()->hasImage(), 15000);
        const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
        const QImage image = qvariant_cast<QImage>(copied->imageData());
        QCOMPARE(image.size(), QSize(1414, 1000));
        // Turned right: the red heading bar, at the top of the page, is now at the right.
        auto reddish = [](QColor C) { return C.red() > 150 && C.green() < 90 && C.blue() < 90; };
        QVERIFY(reddish(image.pixelColor(image.width() - 1 - 1414 / 12 - 40, image.height() / 2)));
        QVERIFY(!reddish(image.pixelColor(1414 / 12 + 40, image.height() / 2)));
        QCOMPARE(copied->urls(), QList<QUrl>{QUrl::fromLocalFile(FScans + "1234/12345678~1.png")});
    }

    void ctrlDragDragsTheFileOutAndRightDragStillPans() {
        const struct {
            const char* Id;
            QString Expected;
        } rows[] = {
            {"12345678", FScans + "1234/12345678~1.png"},
            // A container drags the image file it names.
            {"90000001", FScans + "9000/named-page.png"},
        };
        for (const auto& row : rows) {
            ShowFromToolbar(row.Id);
            // A container's text is read once it is selected.
            QTRY_VERIFY(!FForm->SelectedImage().ContainerPending());
            const QRectF before = Image()->Bounds();
            QList<QUrl> dragged;
            QStringList formats;
            // The drag runs its own event loop; look at it from there and call it off.
            QTimer watch;
            watch.setInterval(20);
            connect(&watch, &QTimer::timeout, this, [&] {
                if (auto* drag = Image()->findChild<QDrag*>()) {
                    dragged = drag->mimeData()->urls();
                    formats = drag->mimeData()->formats();
                    watch.stop();
                    QDrag::cancel();
                }
            });
            watch.start();
            QWindow* window = FForm->windowHandle();
            const QPoint start = Image()->mapTo(FForm.get(), Image()->rect().center());
            // With Ctrl held: a plain left drag pans.
            QTest::mousePress(window, Qt::LeftButton, Qt::ControlModifier, start);
            QTest::mouseMove(window, start + QPoint(QApplication::startDragDistance() + 10, 0));
            QTest::mouseMove(window, start + QPoint(QApplication::startDragDistance() + 30, 0));
            QTRY_VERIFY2(!dragged.isEmpty(), row.Id);
            QTest::mouseRelease(window, Qt::LeftButton, Qt::ControlModifier, start + QPoint(60, 0));
            QCOMPARE(dragged, QList<QUrl>{QUrl::fromLocalFile(row.Expected)});
            QVERIFY(formats.contains(QStringLiteral("text/uri-list")));
            // A drag neither pans nor turns the picture.
            QCOMPARE(Image()->Bounds(), before);
            QCOMPARE(Dial()->Angle(), 0);
        }
        // The right button pans, and a pan opens no menu.
        const QRectF before = Image()->Bounds();
        QWindow* window = FForm->windowHandle();
        const QPoint start = Image()->mapTo(FForm.get(), Image()->rect().center());
        QTest::mousePress(window, Qt::RightButton, {}, start);
        QTest::mouseMove(window, start + QPoint(20, 0));
        QTest::mouseMove(window, start + QPoint(40, 0));
        QTest::mouseRelease(window, Qt::RightButton, {}, start + QPoint(40, 0));
        QCOMPARE(Image()->Bounds().topLeft(), before.topLeft() + QPointF(40, 0));
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
    }

    void contextMenuActionsDoWhatTheySay() {
        ShowFromToolbar("12345678");
        const QString file = FScans + "1234/12345678~1.png";
        // A right click without a pan opens the menu over the picture.
        QWindow* window = FForm->windowHandle();
        const QPoint at = Image()->mapTo(FForm.get(), Image()->rect().center());
        QTest::mouseClick(window, Qt::RightButton, {}, at);
        QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
        auto* shown = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QStringList texts;
        for (QAction* a : shown->actions())
            if (!a->isSeparator())
                texts << a->text().section('\t', 0, 0);
        QCOMPARE(texts, (QStringList{"Copy image", "Copy file path", "Open containing folder",
                                     "Turn right", "Turn left", "Fit to width", "Print..."}));
        shown->close();

        std::unique_ptr<QMenu> menu(FForm->CreatePictureMenu());
        auto trigger = [&menu](const char* AName) {
            auto* action = menu->findChild<QAction*>(QString::fromLatin1(AName));
            QVERIFY2(action && action->isEnabled(), AName);
            action->trigger();
        };
        trigger("actTurnRight");
        QCOMPARE(Dial()->Angle(), 90);
        QCOMPARE(Image()->RotationAngle(), 90.0);
        trigger("actTurnLeft");
        QCOMPARE(Dial()->Angle(), 0);
        trigger("actFitToWidth");
        QVERIFY(Fit()->isChecked());
        trigger("actCopyFilePath");
        QCOMPARE(QGuiApplication::clipboard()->text(), file);
        QGuiApplication::clipboard()->clear();
        trigger("actCopyImage");
        QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::clipboard()->mimeData()->hasImage(), 15000);
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->urls(),
                 QList<QUrl>{QUrl::fromLocalFile(file)});
        UrlCatcher desktop;
        QDesktopServices::setUrlHandler("file", &desktop, "Open");
        trigger("actOpenFolder");
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(desktop.Opened, QList<QUrl>{QUrl::fromLocalFile(FScans + "1234")});
        const QString pdf = FRoot.path() + "/menu-print.pdf";
        FForm->Printing().SetDialogRunner([&](TPrintDialog& ADialog) {
            ADialog.SelectPdfFile(pdf);
            return true;
        });
        trigger("actPrint");
        QTRY_VERIFY(!FForm->Printing().IsPrinting() && QFileInfo(pdf).size() > 1000);
        // With nothing found there is nothing to copy or print.
        FForm->NewImage("99999999");
        QVERIFY(Settled());
        menu.reset(FForm->CreatePictureMenu());
        for (const char* name : {"actCopyImage", "actCopyFilePath", "actOpenFolder", "actPrint"})
            QVERIFY2(!menu->findChild<QAction*>(name)->isEnabled(), name);
    }

    // ---- fresh scans ------------------------------------------------------------------------

    void freshScansJoinWhenCompleteAndLeaveWhenDeleted() {
        const QString dir = Folder("8000");
        for (const char* name : {"80000001~1.png", "80000001~3.png"})
            QVERIFY(DocumentPage({400, 566}, Qt::darkRed, name).save(dir + name));
        ShowFromToolbar("80000001");
        QCOMPARE(List()->count(), 2);
        const qint64 shown = Image()->Bitmap().cacheKey();
        TakeStates();

        // A scan written in three pieces: seen, but not listed until it stops growing.
        QByteArray bytes;
        {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(DocumentPage({400, 566}, Qt::darkGreen, "fresh").save(&buffer, "PNG"));
        }
        const QString fresh = dir + "80000001~2.png";
        QFile writer(fresh);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        const qint64 piece = bytes.size() / 3;
        for (int i = 0; i < 2; ++i) {
            writer.write(bytes.mid(i * piece, piece));
            writer.flush();
            const qint64 written = (i + 1) * piece;
            QTRY_VERIFY(FForm->PendingScans().contains(qMakePair(fresh, written)));
            QCOMPARE(List()->count(), 2);
        }
        writer.write(bytes.mid(2 * piece));
        writer.close();
        QTRY_COMPARE_WITH_TIMEOUT(List()->count(), 3, 3000);
        QVERIFY(FForm->PendingScans().isEmpty());
        // In its sorted place; the picture and the selection stay; the count follows.
        QCOMPARE(List()->itemText(1), fresh);
        QCOMPARE(FForm->ImageId(), 1);
        QCOMPARE(Image()->Bitmap().cacheKey(), shown);
        QVERIFY2(Title().endsWith("\r\n1 of 3"), qPrintable(Title()));
        QVERIFY(TakeStates().empty()); // the host sees nothing

        // A file that is not shown leaves the list; the picture stays.
        QVERIFY(QFile::remove(dir + "80000001~3.png"));
        QTRY_COMPARE_WITH_TIMEOUT(List()->count(), 2, 3000);
        QCOMPARE(Image()->Bitmap().cacheKey(), shown);
        QVERIFY(Title().endsWith("\r\n1 of 2"));
        // The file shown leaves: the next one is shown in its place.
        QVERIFY(QFile::remove(dir + "80000001~1.png"));
        QTRY_COMPARE_WITH_TIMEOUT(List()->count(), 1, 3000);
        QVERIFY(Settled());
        QCOMPARE(List()->itemText(0), fresh);
        QCOMPARE(FForm->ImageId(), 1);
        QVERIFY(Image()->Bitmap().cacheKey() != shown);
        QVERIFY2(Title().startsWith("80000001 ") && Title().endsWith("\r\n1 of 1"),
                 qPrintable(Title()));
        // The last one leaves: the no-image rules.
        QVERIFY(QFile::remove(fresh));
        QTRY_COMPARE_WITH_TIMEOUT(List()->count(), 0, 3000);
        QCOMPARE(Page()->NoticeText(), QStringLiteral("No images for 80000001"));
        QCOMPARE(Title(), QString());
    }

    // ---- files that change on disk ---------------------------------------------------------

    // The colour in the middle of the picture on screen.
    QColor ShownColour() {
        const QImage& bitmap = Image()->Bitmap();
        if (bitmap.isNull())
            return {};
        return bitmap.pixelColor(bitmap.width() / 2, bitmap.height() / 2);
    }
    static bool Near(QColor A, QColor B) {
        return A.isValid() && std::abs(A.red() - B.red()) < 24 &&
               std::abs(A.green() - B.green()) < 24 && std::abs(A.blue() - B.blue()) < 24;
    }
    static QByteArray SolidPng(QColor AColour, QSize ASize = {400, 566}) {
        QImage image(ASize, QImage::Format_RGB32);
        image.fill(AColour);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }
    static bool Overwrite(const QString& APath, const QByteArray& ABytes) {
        QFile f(APath); // truncated and written in place: same file, new content
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               f.write(ABytes) == ABytes.size();
    }
    static bool RenameOver(const QString& APath, const QByteArray& ABytes) {
        const QString temp = QFileInfo(APath).path() + "/.incoming";
        return Overwrite(temp, ABytes) && std::rename(QFile::encodeName(temp).constData(),
                                                      QFile::encodeName(APath).constData()) == 0;
    }

    // The shown file replaced under its name shows its new content, never the frame held
    // for the old one: seen by the folder watcher, or when the identifier is searched again.
    void replacedFileShowsItsNewContent_data() {
        QTest::addColumn<bool>("renamed");
        QTest::addColumn<bool>("searchAgain");
        QTest::newRow("renamed over, watched") << true << false;
        QTest::newRow("copied over, watched") << false << false;
        QTest::newRow("renamed over, searched again") << true << true;
        QTest::newRow("copied over, searched again") << false << true;
    }
    void replacedFileShowsItsNewContent() {
        QFETCH(bool, renamed);
        QFETCH(bool, searchAgain);
        const QString dir = Folder(QStringLiteral("81%1%2").arg(renamed ? 1 : 2).arg(searchAgain));
        const QString id = QFileInfo(dir.chopped(1)).fileName() + "0001";
        QVERIFY(Overwrite(dir + id + "~1.png", SolidPng(QColor(220, 30, 30))));
        QVERIFY(Overwrite(dir + id + "~2.png", SolidPng(QColor(30, 160, 30))));
        ShowFromToolbar(qPrintable(id));
        QVERIFY(Near(ShownColour(), QColor(220, 30, 30)));
        // Both held by the cache: the neighbour was pre-read.
        QTRY_VERIFY(FForm->Pipeline().Cache().Contains({dir + id + "~2.png", 0}));
        const QByteArray blue = SolidPng(QColor(30, 30, 220));
        QVERIFY(renamed ? RenameOver(dir + id + "~1.png", blue)
                        : Overwrite(dir + id + "~1.png", blue));
        if (searchAgain)
            FForm->NewImage(qPrintable(id));
        QTRY_VERIFY_WITH_TIMEOUT(Near(ShownColour(), QColor(30, 30, 220)), 10000);
        QCOMPARE(FForm->ImageId(), 1);
        QCOMPARE(FBlock->ViewState(), vsOpen);
        // The neighbour replaced too, while not shown: stepping there shows the new one.
        const QByteArray yellow = SolidPng(QColor(220, 220, 30));
        QVERIFY(renamed ? RenameOver(dir + id + "~2.png", yellow)
                        : Overwrite(dir + id + "~2.png", yellow));
        if (searchAgain)
            FForm->NewImage(qPrintable(id));
        else // the watcher's word drops the frame held for the old file
            QTRY_VERIFY_WITH_TIMEOUT(!FForm->Pipeline().Cache().Contains({dir + id + "~2.png", 0}),
                                     10000);
        QTRY_COMPARE(List()->count(), 2);
        Key(Qt::Key_Right);
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(Near(ShownColour(), QColor(220, 220, 30)), 10000);
    }

    // A file that failed while it was being written is decoded again once it is whole:
    // when the watcher sees it change, when it is shown again, or searched again.
    void failedFileIsDecodedAgainOnceWhole_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("the watcher sees it completed") << 0;
        QTest::newRow("shown again after the next file") << 1;
        QTest::newRow("searched again") << 2;
    }
    void failedFileIsDecodedAgainOnceWhole() {
        QFETCH(int, how);
        const QString dir = Folder(QStringLiteral("83%1").arg(how, 2, 10, QLatin1Char('0')));
        const QString id = QFileInfo(dir.chopped(1)).fileName() + "0001";
        const QByteArray whole = SolidPng(QColor(30, 160, 160), {1200, 1600});
        QVERIFY(Overwrite(dir + id + "~1.png", whole.left(whole.size() / 2)));
        QVERIFY(Overwrite(dir + id + "~2.png", SolidPng(QColor(30, 160, 30))));
        ShowFromToolbar(qPrintable(id));
        QVERIFY2(!Page()->NoticeText().isEmpty(), "the cut file shows its load error");
        QVERIFY(Overwrite(dir + id + "~1.png", whole));
        if (how == 1) {
            Key(Qt::Key_Right);
            QVERIFY(Settled());
            QVERIFY(Near(ShownColour(), QColor(30, 160, 30)));
            Key(Qt::Key_Left);
            QVERIFY(Settled());
        } else if (how == 2) {
            FForm->NewImage(qPrintable(id));
        }
        QTRY_VERIFY_WITH_TIMEOUT(Near(ShownColour(), QColor(30, 160, 160)), 10000);
        QCOMPARE(FForm->ImageId(), 1);
        QVERIFY(Page()->NoticeText().isEmpty());
    }

    // The file list shows the browse model's files: after each fresh scan its rows are the
    // model's files in order and its current row the model's selection; the selected file
    // stays selected wherever a scan moves it; a pick in the list after re-lists shows the
    // file picked.
    void listFollowsTheModelAcrossFreshScans() {
        const QString dir = Folder("8800");
        const QString kept = dir + "88000001~5.png";
        QVERIFY(Overwrite(dir + "88000001~3.png", SolidPng(QColor(30, 30, 220))));
        QVERIFY(Overwrite(kept, SolidPng(QColor(220, 30, 30))));
        ShowFromToolbar("88000001");
        List()->setCurrentIndex(1);
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        const auto listIsTheModels = [this] {
            const TBrowseModel& browse = FForm->Browse();
            if (List()->count() != browse.Count() || List()->currentIndex() != browse.Selected())
                return false;
            for (int i = 0; i < browse.Count(); ++i)
                if (List()->itemText(i) != QString::fromStdString(browse.Image(i).Path))
                    return false;
            return true;
        };
        struct TStep {
            const char* What;
            const char* Name;
            bool Add;
            int Count, Selected;
        };
        const TStep steps[] = {
            {"a file joins before the selected one", "88000001~1.png", true, 3, 2},
            {"a file joins after it", "88000001~7.png", true, 4, 2},
            {"a file before it leaves", "88000001~3.png", false, 3, 1},
        };
        for (const TStep& step : steps) {
            if (step.Add)
                QVERIFY(Overwrite(dir + step.Name, SolidPng(QColor(30, 160, 30))));
            else
                QVERIFY(QFile::remove(dir + step.Name));
            QTRY_COMPARE_WITH_TIMEOUT(FForm->Count(), step.Count, 5000);
            QVERIFY2(listIsTheModels(), step.What);
            QVERIFY2(FForm->ImageId() - 1 == step.Selected, step.What);
            QCOMPARE(List()->currentText(), kept);
        }
        // A pick after the re-lists: the row picked is the model's file.
        List()->setCurrentIndex(0);
        QVERIFY(Settled());
        QCOMPARE(QString::fromStdString(FForm->SelectedImage().Path), dir + "88000001~1.png");
        QVERIFY(listIsTheModels());
    }

    // A scan growing for a while among 10,000 files of its identifier: the folder is listed
    // once for the search and once when the scan is complete, never on its writes.
    void growingFileInALargeFolderIsListedOnceComplete() {
        const QString dir = Folder("8600");
        QVERIFY(Overwrite(dir + "86000001~00001.png", SolidPng(QColor(220, 30, 30))));
        for (int i = 2; i <= 10000; ++i)
            QVERIFY(Overwrite(
                dir + QStringLiteral("86000001~%1.png").arg(i, 5, 10, QLatin1Char('0')), "x"));
        auto listings = std::make_shared<std::atomic<int>>(0);
        FRecorder->BeforeListing = [listings] { ++*listings; };
        ShowFromToolbar("86000001");
        QCOMPARE(List()->count(), 10000);
        QCOMPARE(listings->load(), 1);
        const QString growing = dir + "86000001~10001.png";
        QFile writer(growing);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        qint64 written = 0;
        for (int i = 0; i < 40; ++i) {
            written += writer.write(QByteArray(4096, char('a' + i % 26)));
            writer.flush();
            QTest::qWait(25); // a scanner's pace, roughly
        }
        // Examined with its last size, not complete while the writer has it open.
        QTRY_VERIFY_WITH_TIMEOUT(FForm->PendingScans().contains(qMakePair(growing, written)),
                                 10000);
        QCOMPARE(listings->load(), 1);
        QCOMPARE(List()->count(), 10000);
        writer.close();
        QTRY_COMPARE_WITH_TIMEOUT(List()->count(), 10001, 10000);
        QCOMPARE(listings->load(), 2);
        QCOMPARE(FForm->ImageId(), 1);
    }

    // A window the user closed, or the host hid, watches nothing: a scan dropped into the
    // folder afterwards writes no state into the block (read back from the block itself).
    void closedOrHiddenWindowWritesNothingForFreshScans_data() {
        QTest::addColumn<bool>("byHost");
        QTest::newRow("closed by the user") << false;
        QTest::newRow("hidden by the host") << true;
    }
    void closedOrHiddenWindowWritesNothingForFreshScans() {
        QFETCH(bool, byHost);
        const QString dir = Folder(byHost ? "8501" : "8500");
        const QString id = QFileInfo(dir.chopped(1)).fileName() + "0001";
        QVERIFY(Overwrite(dir + id + "~1.png", SolidPng(Qt::darkRed)));
        ShowFromToolbar(qPrintable(id));
        QCOMPARE(FBlock->ViewState(), vsOpen);
        if (byHost)
            FForm->CloseImageAndHide(nullptr);
        else
            FForm->close();
        QTRY_VERIFY(!FForm->isVisible());
        // The host's hide leaves its state as it was; a close writes vsUnknown.
        const TImageViewerState after = FBlock->ViewState();
        QCOMPARE(after, byHost ? vsOpen : vsUnknown);
        TakeStates();
        QVERIFY(Overwrite(dir + id + "~2.png", SolidPng(Qt::darkGreen)));
        // A watching window would have taken the file within twice its settle time; nothing
        // can be waited for when nothing is to happen.
        QTest::qWait(2500);
        QCOMPARE(FBlock->ViewState(), after);
        QVERIFY(TakeStates().empty());
        QCOMPARE(List()->count(), 1);
    }

    // ---- turns remembered per file ----------------------------------------------------------

    void turnsAreRememberedPerFileAndConnection() {
        const QString dir = Folder("8200");
        const QString first = dir + "82000001~1.png", second = dir + "82000001~2.png";
        QVERIFY(DocumentPage({400, 566}, Qt::darkRed, "1").save(first));
        QVERIFY(DocumentPage({400, 566}, Qt::darkGreen, "2").save(second));
        // The store's file: one per connection beside the placement files.
        auto storeFiles = [] {
            QStringList found;
            QDirIterator it(qEnvironmentVariable("XDG_DATA_HOME"), {"*.turns"}, QDir::Files,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                found << it.next();
            return found;
        };
        auto storeHolds = [&](const QString& APath) {
            for (const QString& name : storeFiles()) {
                QFile f(name);
                if (f.open(QIODevice::ReadOnly) && f.readAll().contains(APath.toUtf8()))
                    return true;
            }
            return false;
        };
        auto restart = [&](const std::string& AConnection) {
            DestroyForm();
            FBlock = std::make_unique<HostBlock>(FScans, "****....", AConnection);
            CreateForm();
            ShowFromToolbar("82000001");
        };
        auto shows = [&](int AImageId) {
            if (FForm->ImageId() != AImageId) {
                List()->setCurrentIndex(AImageId - 1);
                QVERIFY(Settled());
            }
            QTRY_VERIFY(!FForm->IsLoading());
        };

        ShowFromToolbar("82000001");
        shows(2);
        Key(Qt::Key_R);
        QCOMPARE(Dial()->Angle(), 90);
        QTRY_VERIFY(storeHolds(second));
        QVERIFY(!storeHolds(first));

        // The same connection after a restart: file 2 comes back turned, file 1 upright.
        restart("viewer-test-host");
        QCOMPARE(FForm->ImageId(), 1);
        QTRY_VERIFY(FForm->TurnsKnown());
        QCOMPARE(Dial()->Angle(), 0);
        shows(2);
        QTRY_COMPARE(Dial()->Angle(), 90);
        QCOMPARE(Image()->RotationAngle(), 90.0);

        // Another connection does not see it.
        restart("another-host");
        shows(2);
        QTRY_VERIFY(FForm->TurnsKnown());
        QCOMPARE(Dial()->Angle(), 0);

        // A corrupt store counts as empty; turning works on and is kept again.
        DestroyForm();
        for (const QString& name : storeFiles()) {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(QByteArrayLiteral("\x01\xff garbage\n\t\t\t\n"));
        }
        restart("viewer-test-host");
        shows(2);
        QTRY_VERIFY(FForm->TurnsKnown());
        QCOMPARE(Dial()->Angle(), 0);
        Key(Qt::Key_R, Qt::ShiftModifier);
        QCOMPARE(Dial()->Angle(), -90);
        QTRY_VERIFY(storeHolds(second));
        restart("viewer-test-host");
        shows(2);
        QTRY_COMPARE(Dial()->Angle(), -90);

        // A scan replaced under the same name starts upright.
        QVERIFY(DocumentPage({420, 594}, Qt::darkBlue, "2 again").save(second));
        restart("viewer-test-host");
        shows(2);
        QCOMPARE(Image()->FullSize(), QSize(420, 594));
        QTRY_VERIFY(FForm->TurnsKnown());
        QCOMPARE(Dial()->Angle(), 0);
    }

    // ---- keeping the user's place -----------------------------------------------------------

    // Returning to the window for the identifier shown keeps file, zoom, turn and pan, and
    // only refreshes the list.
    void returnToTheSameIdentifierKeepsThePlace() {
        const QString dir = Folder("8100");
        for (const char* name : {"81000001~1.png", "81000001~2.png"})
            QVERIFY(DocumentPage({400, 566}, Qt::darkBlue, name).save(dir + name));
        StartupSearchText = "81000001";
        FForm->ShowForm();
        QTRY_COMPARE(List()->count(), 2);
        QVERIFY(Settled());
        Child<QToolButton>("btnNext")->click();
        QVERIFY(Settled());
        Zoom()->SetValue(0.5);
        Key(Qt::Key_R);
        QWindow* window = FForm->windowHandle();
        const QPoint start = Image()->mapTo(FForm.get(), QPoint(30, 30));
        QTest::mousePress(window, Qt::RightButton, {}, start);
        QTest::mouseMove(window, start + QPoint(30, 0));
        QTest::mouseRelease(window, Qt::RightButton, {}, start + QPoint(30, 0));
        const QRectF bounds = Image()->Bounds();
        QVERIFY(DocumentPage({400, 566}, Qt::darkBlue, "3").save(dir + "81000001~3.png"));
        TakeStates();
        QWidget other;
        ActivateElsewhereAndBack(other);
        QVERIFY(Settled());
        QCOMPARE(List()->count(), 3);
        QCOMPARE(FForm->ImageId(), 2);
        QCOMPARE(Zoom()->Value(), 0.5);
        QCOMPARE(Dial()->Angle(), 90);
        QCOMPARE(Image()->Bounds(), bounds);
        QVERIFY(TakeStates().empty());
    }

    // The command line's maximised state is applied once; the user's state stands after.
    void windowStateOfTheCommandLineOnlyWhenFirstShown() {
        FForm->ShowForm();
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        FForm->showMaximized();
        QTRY_VERIFY(FForm->windowState() & Qt::WindowMaximized);
        QWidget other;
        ActivateElsewhereAndBack(other);
        QVERIFY(FForm->windowState() & Qt::WindowMaximized);
        // And the other way round: a window started maximised that the user restored.
        DestroyForm();
        CreateForm();
        StartMaximized = true;
        FForm->ShowForm();
        // The toolkit reports the state it asked for at once; the window manager's own
        // maximise arrives later and would undo a restore sent before it.
        const QRect screen = FForm->screen()->availableGeometry();
        QTRY_VERIFY((FForm->windowState() & Qt::WindowMaximized) &&
                    FForm->frameGeometry().width() >= screen.width() - 1);
        FForm->showNormal();
        QTRY_VERIFY(!(FForm->windowState() & Qt::WindowMaximized) &&
                    FForm->frameGeometry().width() < screen.width() - 1);
        ActivateElsewhereAndBack(other);
        QVERIFY(!(FForm->windowState() & Qt::WindowMaximized));
    }

    // A resize refits and centres the picture at once; so does the fit-to-width switch.
    void resizeAndFitToWidthRefitAtOnce() {
        ShowFromToolbar("20000001"); // 1000 x 2000: fitted to the page's height
        auto* page = Page();
        auto fittedToHeight = [&] {
            return Image()->Bounds().height() == page->height() &&
                   Image()->Bounds().center() == QRectF(page->rect()).center();
        };
        QVERIFY(fittedToHeight());
        for (const QSize size : {QSize(900, 760), QSize(640, 520)}) {
            FForm->resize(size);
            QTRY_COMPARE(page->height(), size.height() - 72);
            QVERIFY2(fittedToHeight(),
                     qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
        }
        // The switch, and W, refit the picture shown.
        Fit()->setChecked(true);
        QCOMPARE(Image()->Bounds().width(), double(FForm->width()));
        QCOMPARE(Image()->DrawnSize().width(), double(FForm->width()));
        Page()->setFocus();
        Key(Qt::Key_W);
        QVERIFY(!Fit()->isChecked());
        QVERIFY(fittedToHeight());
    }

    // At the desktop's scale (run at 100 %, 150 % and 200 %): at the default size and at the
    // smallest the window allows, the bars' controls do not overlap, stay inside the window
    // and keep room for their text.
    void layoutKeepsEveryControlUsable() {
        DestroyForm();
        CreateForm();
        const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
        const QSize defaultSize = desktop.size() / 2;
        FForm->resize(defaultSize);
        FForm->NewImage("12345678");
        QVERIFY(Settled());
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        for (const QSize asked : {defaultSize, QSize(1, 1)}) {
            FForm->resize(asked);
            QTRY_VERIFY(FForm->width() >= FForm->minimumWidth() &&
                        Child<QWidget>("BottomToolBar")->width() == FForm->width());
            const QString at = QStringLiteral("at %1x%2").arg(FForm->width()).arg(FForm->height());
            const QRect window = FForm->rect();
            const char* bars[][6] = {
                {"edImageId", "btnForm", "cbxImageList", "lblCurrentImageName", nullptr, nullptr},
                {"swFitToWidth", "lblFitToWidth", "BtnPrint", "btnStrip", "tbZoom",
                 "arcdImageRotation"},
            };
            for (const auto& bar : bars) {
                QList<QPair<const char*, QRect>> placed;
                for (const char* name : bar) {
                    if (!name)
                        continue;
                    auto* w = Child<QWidget>(name);
                    const QRect r(w->mapTo(FForm.get(), QPoint(0, 0)), w->size());
                    QVERIFY2(window.contains(r), qPrintable(at + " outside: " + name));
                    for (const auto& other : placed)
                        QVERIFY2(!r.intersects(other.second),
                                 qPrintable(at + " overlap: " + name + " / " + other.first));
                    placed.append({name, r});
                }
            }
            // Room for the texts and a usable zoom bar and title.
            for (const char* name : {"btnForm", "BtnPrint"}) {
                auto* button = Child<QPushButton>(name);
                QVERIFY2(button->width() >=
                             button->fontMetrics().horizontalAdvance(button->text()) + 8,
                         qPrintable(at + " " + name));
            }
            auto* fitLabel = Child<QLabel>("lblFitToWidth");
            QVERIFY2(fitLabel->width() >=
                         fitLabel->fontMetrics().horizontalAdvance(fitLabel->text()),
                     qPrintable(at));
            QVERIFY2(Child<QWidget>("tbZoom")->width() >= 80, qPrintable(at));
            QVERIFY2(Child<QWidget>("lblCurrentImageName")->width() >= 120, qPrintable(at));
            QVERIFY2(Page()->height() >= 120, qPrintable(at));
        }
    }
};

QTEST_MAIN(TestViewerWorkflow)
#include "tst_viewerworkflow.moc"
