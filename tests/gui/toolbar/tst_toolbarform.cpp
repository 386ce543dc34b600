// The toolbar window driven for real (offscreen): real control block, the real toolbar
// and view controllers; the modal dialogs answered through the window's dialog seam.
#include "toolbar/LvToolBarFrm.h"
#include "toolbar/Orlenza.ToolBarController.h"
#include "viewcontrol/Orlenza.ViewController.h"

#include "controlfile/ImageViewer.ControlFile.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>
#include <QSequentialAnimationGroup>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <unistd.h>

namespace {

// Stands in for the viewer window, which is not part of this test: records what the
// view controller asks of it.
class RecordingViewer : public TOrlenzaForm {
public:
    void SetSearchText(const std::string&) override {}
    void NewImage(const std::string& ASearchText) override { images.push_back(ASearchText); }
    std::vector<std::string> images;
};

} // namespace

class TestToolbarForm : public QObject {
    Q_OBJECT

private:
    std::string name;
    std::unique_ptr<lvplatform::ISharedMemoryView> host;
    std::uint8_t* block = nullptr;
    std::unique_ptr<RecordingViewer> viewer;
    TLvTerminalToolBarForm* form = nullptr;
    int saveDialogs = 0;
    std::optional<std::string> saveAnswer;

    std::uint8_t At(std::size_t offset) const { return block[offset]; }
    void HostString(std::size_t offset, const std::string& value) {
        lvcontrol::WriteSlotString(block, offset, value, lvcontrol::kStringLimit);
    }
    template <typename T> T* Child(const char* objectName) const {
        T* child = form->findChild<T*>(QString::fromLatin1(objectName));
        if (!child)
            qFatal("no child %s", objectName);
        return child;
    }
    void Tick() { form->ttToolbarPositionTimer(); }
    void OpenBlock() {
        ToolbarController->SetControlFile(std::make_unique<TMemoryMappedControlFile>(name));
    }

private slots:
    void init() {
        static int counter = 0;
        name = "lv-toolbar-gui-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        host = lvplatform::CreateSharedMemory(name, lvcontrol::kBlockSize);
        QVERIFY(host && host->IsMapped());
        block = host->Data();
        std::memset(block, 0, lvcontrol::kBlockSize);
        HostString(lvcontrol::kImageInformation, R"({"Source":"/scans/","Pattern":"****...."})");
        SetProcessWindowTextFormat("");

        ToolbarController = std::make_shared<TLvToolbarController>();
        ViewController = std::make_shared<TOrlenzaViewController>();
        OpenBlock();
        viewer = std::make_unique<RecordingViewer>();
        LumivaneViewerForm = viewer.get();

        form = new TLvTerminalToolBarForm();
        form->ToolbarPositionTimer()->stop(); // ticks are run by hand below
        saveDialogs = 0;
        saveAnswer.reset();
        form->SetSaveDialog([this](QWidget*) {
            ++saveDialogs;
            return saveAnswer;
        });
    }

    void cleanup() {
        delete form;
        form = nullptr;
        LumivaneViewerForm = nullptr;
        viewer.reset();
        ToolbarController->SetControlFile(nullptr);
        ToolbarController.reset();
        ViewController.reset();
        host.reset();
        lvplatform::RemoveSharedMemory(name);
        SetProcessWindowTextFormat("");
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("errorReport"))
                delete w;
    }

    void layoutFollowsTheStrip() {
        QCOMPARE(form->size(), QSize(516, 28));
        QCOMPARE(form->windowTitle(), QStringLiteral("Lumivane Viewer toolbar"));
        QVERIFY(form->windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(LvTerminalToolBarForm, static_cast<IOrlenzaForm*>(form));
        QCOMPARE(Child<QWidget>("pnlTop")->geometry(), QRect(0, 0, 516, 26));
        const struct {
            const char* name;
            QRect geometry;
        } controls[] = {{"edImageId", {2, 2, 117, 22}},
                        {"BtnForm", {125, 2, 80, 22}},
                        {"sbtnSave", {207, 0, 22, 26}},
                        {"sbtnPrinter", {237, 0, 22, 26}},
                        {"Circle1", {492, 0, 20, 26}}};
        for (const auto& c : controls)
            QVERIFY2(Child<QWidget>(c.name)->geometry() == c.geometry, c.name);
        // The key set list ends 4 left of the circle, 128 wide or wider where the font
        // needs it for "Keys: Application".
        const QRect keysBox = Child<QWidget>("cbKeySet")->geometry();
        QCOMPARE(keysBox.right() + 1, 488);
        QCOMPARE(keysBox.top(), 2);
        QCOMPARE(keysBox.height(), 22);
        QVERIFY(keysBox.width() >= 128);
        for (const char* hidden : {"sbtnUpload", "sbtnDownload", "btnExpander"})
            QVERIFY2(Child<QWidget>(hidden)->isHidden(), hidden);
        auto* keys = Child<QComboBox>("cbKeySet");
        QCOMPARE(keys->count(), 3);
        QCOMPARE(keys->itemText(0), QStringLiteral("Keys: Application"));
        QCOMPARE(keys->itemText(1), QStringLiteral("Keys: TCL"));
        QCOMPARE(keys->itemText(2), QStringLiteral("Keys: UNIX"));
        QCOMPARE(keys->currentIndex(), -1);
        QCOMPARE(Child<QPushButton>("BtnForm")->text(), QStringLiteral("Form"));
        QCOMPARE(form->ToolbarPositionTimer()->interval(), 100);
        QVERIFY(ToolbarController->OnCheckCaptureState());
        QVERIFY(ToolbarController->OnCheckKeyStateIndex());
        QVERIFY(ToolbarController->OnTerminalWindowInfoReceived());
        QVERIFY(!ToolbarController->OnSetPassThroughPrinterState());
        // The timer runs from creation, before the window is shown.
        TLvTerminalToolBarForm other;
        QVERIFY(other.ToolbarPositionTimer()->isActive());
    }

    void captureStateShowsOnTheSaveButton_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("pressed");
        QTest::newRow("unknown: idle") << int(cfsUnknown) << true << false;
        QTest::newRow("not capturing: idle") << int(cfsNotCapturing) << true << false;
        QTest::newRow("starting: disabled and down") << int(cfsStartingCapture) << false << true;
        QTest::newRow("capturing: enabled and down") << int(cfsCapturing) << true << true;
    }
    void captureStateShowsOnTheSaveButton() {
        QFETCH(int, state);
        QFETCH(bool, enabled);
        QFETCH(bool, pressed);
        auto* save = Child<QToolButton>("sbtnSave");
        block[lvcontrol::kCaptureFileState] = static_cast<std::uint8_t>(state);
        Tick();
        QCOMPARE(save->isEnabled(), enabled);
        QCOMPARE(save->isChecked(), pressed);
        QCOMPARE(save->isCheckable(), pressed);
        // A value the host should not write leaves the button as it was.
        block[lvcontrol::kCaptureFileState] = 9;
        Tick();
        QCOMPARE(save->isEnabled(), enabled);
        QCOMPARE(save->isChecked(), pressed);
    }

    void captureRunsFromDialogToStop() {
        auto* save = Child<QToolButton>("sbtnSave");
        auto* pulse = form->SaveButtonAnimation();

        save->click(); // cancelled dialog: nothing happens
        QCOMPARE(saveDialogs, 1);
        QCOMPARE(At(lvcontrol::kTerminalCommandState), std::uint8_t(tcUnknown));
        QCOMPARE(pulse->state(), QAbstractAnimation::Stopped);

        saveAnswer = "/var/tmp/captures/today.log";
        save->click();
        QCOMPARE(saveDialogs, 2);
        QCOMPARE(
            lvcontrol::ReadSlotString(block + lvcontrol::kCaptureFileName, lvcontrol::kStringSlot),
            std::string("/var/tmp/captures/today.log"));
        QCOMPARE(At(lvcontrol::kCaptureFileState), std::uint8_t(cfsStartingCapture));
        QCOMPARE(At(lvcontrol::kTerminalCommandState), std::uint8_t(tcCapture));
        QCOMPARE(pulse->state(), QAbstractAnimation::Running);
        QVERIFY(!save->isEnabled());

        // The host reports on its own that it is not capturing: the button comes up,
        // the pulse goes on, and the next click asks for a file again.
        block[lvcontrol::kCaptureFileState] = cfsNotCapturing;
        Tick();
        QVERIFY(save->isEnabled());
        QVERIFY(!save->isChecked());
        QCOMPARE(pulse->state(), QAbstractAnimation::Running);
        saveAnswer.reset();
        save->click();
        QCOMPARE(saveDialogs, 3);

        // Capturing: a click stops, without a dialog, and the pulse ends at full width.
        block[lvcontrol::kCaptureFileState] = cfsCapturing;
        Tick();
        QVERIFY(save->isChecked());
        QTRY_VERIFY(save->property("scaleX").toDouble() < 0.99); // it really pulses
        save->click();
        QCOMPARE(saveDialogs, 3);
        QCOMPARE(At(lvcontrol::kTerminalCommandState), std::uint8_t(tcStopCapture));
        QCOMPARE(pulse->state(), QAbstractAnimation::Stopped);
        QCOMPARE(save->property("scaleX").toDouble(), 1.0);
    }

    void printerCanBeChosenOnce() {
        auto* printer = Child<QToolButton>("sbtnPrinter");
        form->SetPrinterDialog([](QWidget*) { return std::optional<std::string>(); });
        printer->click();
        QCOMPARE(At(lvcontrol::kTerminalCommandState), std::uint8_t(tcUnknown));
        QVERIFY(printer->isEnabled());
        form->SetPrinterDialog(
            [](QWidget*) { return std::optional<std::string>("Front Desk Laser"); });
        printer->click();
        QCOMPARE(lvcontrol::ReadSlotString(block + lvcontrol::kPassThroughPrinterName,
                                           lvcontrol::kStringSlot),
                 std::string("Front Desk Laser"));
        QCOMPARE(At(lvcontrol::kTerminalCommandState), std::uint8_t(tcChangePrinterName));
        QVERIFY(!printer->isEnabled());
        Tick();
        QVERIFY2(!printer->isEnabled(), "nothing enables the printer button again");
    }

    void pickingAKeySetSendsItAndBlanksTheListUntilTheNextTick() {
        auto* keys = Child<QComboBox>("cbKeySet");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        keys->setCurrentIndex(1); // the user picks "Keys: TCL"
        QCOMPARE(At(lvcontrol::kKeyIndex), std::uint8_t(1));
        QCOMPARE(At(lvcontrol::kTerminalCommandState), std::uint8_t(tcChangeKeySet));
        QCOMPARE(keys->currentIndex(), -1);
        QVERIFY(!keys->isEnabled());
        block[lvcontrol::kTerminalCommandState] = tcUnknown; // the host takes it
        Tick();
        QCOMPARE(keys->currentIndex(), 1);
        QVERIFY(keys->isEnabled());
        QCOMPARE(At(lvcontrol::kTerminalCommandState),
                 std::uint8_t(tcUnknown)); // the tick sends nothing
    }

    void hostKeySetIndexIsShownButOnlyWhenItIsAnItem() {
        auto* keys = Child<QComboBox>("cbKeySet");
        block[lvcontrol::kKeyIndex] = 2;
        Tick();
        QCOMPARE(keys->currentIndex(), 2);
        block[lvcontrol::kKeyIndex] = 3;
        keys->setEnabled(false);
        Tick();
        QCOMPARE(keys->currentIndex(), 2);
        QVERIFY(keys->isEnabled());
        QCOMPARE(At(lvcontrol::kTerminalCommandState), std::uint8_t(tcUnknown));
    }

    void hostSearchTextWaitsWhileTheUserTypes() {
        auto* edit = Child<QLineEdit>("edImageId");
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form));
        Child<QPushButton>("BtnForm")->setFocus();
        QTRY_VERIFY(!edit->hasFocus());
        form->SetSearchText("12345678");
        QCOMPARE(edit->text(), QStringLiteral("12345678"));
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->setText(QStringLiteral("9999"));
        form->SetSearchText("11112222");
        QCOMPARE(edit->text(), QStringLiteral("9999"));
        Child<QPushButton>("BtnForm")->setFocus();
        QTRY_VERIFY(!edit->hasFocus());
        form->SetSearchText("11112222");
        QCOMPARE(edit->text(), QStringLiteral("11112222"));
    }

    void enterOpensTheViewerOnlyForATextLongEnough() {
        auto* edit = Child<QLineEdit>("edImageId");
        auto* button = Child<QPushButton>("BtnForm");
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form));
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("123"));
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(!button->isEnabled());
        QVERIFY(viewer->images.empty());
        QTest::keyClicks(edit, QStringLiteral("45678"));
        QVERIFY(button->isEnabled());
        QVERIFY(viewer->images.empty());
        QTest::keyClick(edit, Qt::Key_Enter);
        QCOMPARE(viewer->images, std::vector<std::string>{"12345678"});
        button->click();
        QCOMPARE(viewer->images.size(), std::size_t(2));

        // Enter pressed in a dialog closes it; its release then lands in the box, which
        // has the focus again. That Enter was the dialog's, not a search.
        QTest::keyRelease(edit, Qt::Key_Return);
        QCOMPARE(viewer->images.size(), std::size_t(2));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(viewer->images.size(), std::size_t(3));
    }

    void indicatorIsGreenOnlyWithAPattern() {
        auto* circle = form->findChild<TCircleShape*>(QStringLiteral("Circle1"));
        QVERIFY(circle);
        Tick();
        QCOMPARE(circle->FillColor().rgba(), kConnectedColor);
        // Drawn as a circle in the smaller side of its 20 x 26 box: the fill at the centre,
        // none at the middle of the box's top edge.
        const QImage drawn = circle->grab().toImage();
        QCOMPARE(drawn.pixelColor(drawn.width() / 2, drawn.height() / 2).rgba(), kConnectedColor);
        QVERIFY(drawn.pixelColor(drawn.width() / 2, 1).rgba() != kConnectedColor);
        HostString(lvcontrol::kImageInformation, R"({"Source":"/scans/","Pattern":""})");
        OpenBlock();
        Tick();
        QCOMPARE(circle->FillColor().rgba(), kNotConnectedColor);
        ToolbarController->SetControlFile(nullptr);
        Tick();
        QCOMPARE(circle->FillColor().rgba(), kNotConnectedColor);
    }

    void dockingMovesOnlyWhenThePlacementChanges() {
        lvplatform::WINDOWPLACEMENT p{};
        p.length = sizeof p;
        p.showCmd = lvplatform::SW_SHOWNORMAL;
        p.rcNormalPosition = {100, 200, 900, 800};
        form->DockToConsole(p);
        QVERIFY(form->isVisible());
        QCOMPARE(form->pos(), QPoint(100, 172));
        int moves = 0;
        struct MoveCounter : QObject {
            int* count;
            explicit MoveCounter(int* c) : count(c) {}
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Move)
                    ++*count;
                return false;
            }
        } counter(&moves);
        form->installEventFilter(&counter);
        form->DockToConsole(p);
        QCoreApplication::processEvents();
        QCOMPARE(moves, 0);
        p.showCmd = lvplatform::SW_SHOWMINIMIZED;
        form->DockToConsole(p);
        QVERIFY(!form->isVisible());
        p.showCmd = lvplatform::SW_SHOWNORMAL;
        p.rcNormalPosition = {300, 400, 1100, 1000};
        form->DockToConsole(p);
        QVERIFY(form->isVisible());
        QCOMPARE(form->pos(), QPoint(300, 372));
        form->removeEventFilter(&counter);
    }

    void aLargerFontRefitsTheStripAtTheSamePlacement() {
        // The tick skips measuring while nothing changed: a font change must still count.
        lvplatform::WINDOWPLACEMENT p{};
        p.length = sizeof p;
        p.showCmd = lvplatform::SW_SHOWNORMAL;
        p.rcNormalPosition = {100, 200, 400, 800}; // narrower than the designed strip
        form->DockToConsole(p);
        auto* edit = Child<QWidget>("edImageId");
        const int narrowEdit = edit->width();
        form->DockToConsole(p);
        QCOMPARE(edit->width(), narrowEdit);
        QFont larger = form->font();
        larger.setPointSizeF(larger.pointSizeF() * 2);
        form->setFont(larger);
        form->DockToConsole(p);
        QVERIFY2(edit->width() > narrowEdit, qPrintable(QString::number(edit->width())));
        // And back.
        form->setFont(QFont());
        form->DockToConsole(p);
        QCOMPARE(edit->width(), narrowEdit);
    }

    void dockingTurnsTheConsolesPixelsIntoWindowUnits() {
        // The window system reports the console in its own pixels; on a scaled desktop Qt
        // places windows in units of several pixels.
        const QScreen* screen = QGuiApplication::primaryScreen();
        const qreal ratio = screen->devicePixelRatio();
        if (ratio == 1.0)
            QSKIP("needs a scaled screen (QT_SCALE_FACTOR)");
        const QPoint origin = screen->geometry().topLeft();
        auto units = [&](int x, int y) {
            return QPoint(origin.x() + qRound((x - origin.x()) / ratio),
                          origin.y() + qRound((y - origin.y()) / ratio));
        };
        lvplatform::WINDOWPLACEMENT p{};
        p.length = sizeof p;
        p.showCmd = lvplatform::SW_SHOWNORMAL;
        p.rcNormalPosition = {200, 300, 600, 500};
        form->DockToConsole(p);
        QCOMPARE(form->pos(), units(200, 300) - QPoint(0, 28));
        // Centred over a maximised console: half its width in window units.
        p.flags = lvplatform::WPF_RESTORETOMAXIMIZED;
        p.ptMaxPosition = {0, 100};
        form->DockToConsole(p);
        // The console is narrower than the designed strip here: the strip narrows as far as
        // its controls allow, and centring uses the strip's width.
        QVERIFY(form->width() < 516);
        QCOMPARE(form->width(), form->MinimumStripWidth());
        QCOMPARE(form->pos(),
                 units(0, 100) + QPoint(qRound(400 / ratio) / 2 - form->width() / 2, -28));
    }

    void activationOverTheSaveButtonClicksItOnce() {
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        const QRect save = Child<QWidget>("sbtnSave")->geometry();
        const struct {
            QPoint local;
            int dialogs;
        } rows[] = {{save.center(), 1},
                    {save.topLeft(), 1},
                    {QPoint(save.left() + save.width(), save.top()), 0},
                    {QPoint(save.left(), save.top() + save.height()), 0},
                    {QPoint(10, 10), 0}};
        for (const auto& row : rows) {
            saveDialogs = 0;
            const QPoint global = form->mapToGlobal(row.local);
            form->SetCursorPosition([global] { return global; });
            QEvent activate(QEvent::WindowActivate);
            QApplication::sendEvent(form, &activate);
            QCOMPARE(saveDialogs, row.dialogs);
            // The click that activated the window arrives too; it must not run again.
            Child<QToolButton>("sbtnSave")->click();
            // Swallowed after the activation ran the save; an ordinary click otherwise.
            QCOMPARE(saveDialogs, 1);
        }
    }

    void windowComingBackFromItsOwnDialogDoesNotClickAgain() {
        // The pointer rests over the save button while the user answers a dialog with
        // the keyboard; closing the dialog hands the activation back to the strip.
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        const QPoint global = form->mapToGlobal(Child<QWidget>("sbtnSave")->geometry().center());
        form->SetCursorPosition([global] { return global; });
        auto activation = [this](QEvent::Type type) {
            QEvent event(type);
            QApplication::sendEvent(form, &event);
        };
        // A modal dialog takes the activation while it is open.
        auto modal = [&](const std::optional<std::string>& answer) {
            return [&activation, answer](QWidget*) {
                activation(QEvent::WindowDeactivate);
                return answer;
            };
        };
        form->SetSaveDialog([&, dialog = modal(std::nullopt)](QWidget* parent) {
            ++saveDialogs;
            return dialog(parent);
        });
        form->SetPrinterDialog(modal(std::nullopt));
        const struct {
            const char* name;
            std::function<void()> openDialog;
            int dialogs;
        } rows[] = {
            {"save dialog opened by the activation", [&] { activation(QEvent::WindowActivate); },
             1},
            {"save dialog opened by a click", [&] { form->sbtnSaveClick(); }, 1},
            {"printer dialog", [&] { form->sbtnPrinterClick(); }, 0},
        };
        for (const auto& row : rows) {
            saveDialogs = 0;
            row.openDialog();
            activation(QEvent::WindowActivate); // the dialog has closed
            QVERIFY2(saveDialogs == row.dialogs, row.name);
            // A later activation by the user still counts.
            activation(QEvent::WindowDeactivate);
            activation(QEvent::WindowActivate);
            QVERIFY2(saveDialogs == row.dialogs + 1, row.name);
            activation(QEvent::WindowDeactivate);
        }
    }

    void saveDialogIsTitledAndReturnsTheChosenFile() {
        const QString path = QDir::tempPath() + QStringLiteral("/lv-capture-") +
                             QString::fromStdString(name) + QStringLiteral(".log");
        QTimer::singleShot(0, [path] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Capture To Disk File"));
            QCOMPARE(dialog->objectName(), QStringLiteral("sdCaptureToDiskFile"));
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        });
        const auto chosen = TLvTerminalToolBarForm::RunSaveDialog(form);
        QVERIFY(chosen);
        QCOMPARE(QString::fromStdString(*chosen), path);
    }

    void printingToAFileIsNoPassThroughPrinter() {
        // Without a printer installed the print dialog offers only a file to print to;
        // confirming it names no printer the host could pass print jobs to.
        if (!QPrinterInfo::availablePrinterNames().isEmpty())
            QSKIP("a printer is installed");
        QTimer::singleShot(0, [] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QMetaObject::invokeMethod(QApplication::activeModalWidget(), "accept",
                                      Qt::DirectConnection);
        });
        QCOMPARE(TLvTerminalToolBarForm::RunPrinterDialog(form), std::optional<std::string>());
    }

    void badTitleFormatIsReportedOnce() {
        HostString(lvcontrol::kCallingWindowNameFormat, "Console %s");
        block[lvcontrol::kCaptureFileState] = cfsCapturing;
        for (int i = 0; i < 4; ++i)
            Tick();
        int reports = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("errorReport") && w->isVisible())
                ++reports;
        QCOMPARE(reports, 1);
        QVERIFY(Child<QToolButton>("sbtnSave")->isChecked()); // later ticks went on
    }

    void controllerOutlivingTheWindowIsHarmless() {
        delete form;
        form = nullptr;
        QCOMPARE(LvTerminalToolBarForm, static_cast<IOrlenzaForm*>(nullptr));
        block[lvcontrol::kCaptureFileState] = cfsCapturing;
        ToolbarController->CheckState(nullptr);
        form = new TLvTerminalToolBarForm(); // for cleanup
    }
};

QTEST_MAIN(TestToolbarForm)
#include "tst_toolbarform.moc"
