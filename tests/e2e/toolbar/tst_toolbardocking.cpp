// The toolbar on a real X server with a real window manager (the runner's Xvfb +
// openbox): the reference host's stand-in console window, a real control block, the real
// controllers and the toolbar's own 100 ms timer.
#include "tests/support/XTestWindows.h"
#include "toolbar/LvToolBarFrm.h"
#include "toolbar/Orlenza.ToolBarController.h"
#include "viewcontrol/Orlenza.ViewController.h"

#include "controlfile/ImageViewer.ControlFile.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QToolTip>
#include <QtTest>

#include <cstring>
#include <functional>
#include <unistd.h>

class TestToolbarDocking : public QObject {
    Q_OBJECT

private:
    std::string name;
    std::string format;
    std::unique_ptr<lvplatform::ISharedMemoryView> host;
    std::uint8_t* block = nullptr;
    QProcess console;
    xcb_window_t consoleWindow = 0;
    std::unique_ptr<lvtest::XDesktop> desktop;
    TLvTerminalToolBarForm* form = nullptr;
    int ticks = 0;

    void HostString(std::size_t offset, const std::string& value) {
        lvcontrol::WriteSlotString(block, offset, value, lvcontrol::kStringLimit);
    }

    // Starts the stand-in console for the block, titled by its format and id unless a
    // title is given, and waits until the window manager manages it.
    bool OpenConsole(const QStringList& extra = {}) {
        console.setProgram(QStringLiteral(LV_HOST_BIN));
        console.setArguments(QStringList{QStringLiteral("console"), QString::fromStdString(name),
                                         QStringLiteral("--geometry"),
                                         QStringLiteral("700x300+200+300")} +
                             extra);
        console.start();
        if (!console.waitForStarted() || !console.waitForReadyRead(10000))
            return false;
        bool ok = false;
        consoleWindow = console.readLine().trimmed().toUInt(&ok, 16);
        return ok && desktop->WaitManaged(consoleWindow);
    }

    QRect ConsoleFrame() {
        const auto g = desktop->FrameGeometry(consoleWindow);
        return g.empty() ? QRect() : QRect(g[0], g[1], g[2], g[3]);
    }

    // The toolbar's bottom edge on the console's top edge, left edges together.
    bool Docked() {
        const QRect frame = ConsoleFrame();
        const QRect bar = form->frameGeometry();
        return form->isVisible() && !frame.isEmpty() && bar.bottom() + 1 == frame.top() &&
               bar.left() == frame.left();
    }

    void CreateForm() {
        form = new TLvTerminalToolBarForm();
        // Count the controller's checks through the window's own callback.
        auto show = ToolbarController->OnCheckCaptureState();
        ToolbarController->SetOnCheckCaptureState([this, show](TCaptureFileState s) {
            ++ticks;
            show(s);
        });
        form->SetSaveDialog([](QWidget*) { return std::optional<std::string>(); });
        form->move(0, 0);
        form->show();
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the runner's X server (scripts/with-x)");
        desktop = std::make_unique<lvtest::XDesktop>();
        QVERIFY(desktop->Ok());
    }

    void init() {
        static int counter = 0;
        name = "lv-toolbar-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        format = "Lumivane E2E " + name + " Console %d";
        host = lvplatform::CreateSharedMemory(name, lvcontrol::kBlockSize);
        QVERIFY(host && host->IsMapped());
        block = host->Data();
        std::memset(block, 0, lvcontrol::kBlockSize);
        HostString(lvcontrol::kCallingWindowNameFormat, format);
        block[lvcontrol::kConsoleInstanceId] = 5;
        SetProcessWindowTextFormat("");
        ToolbarController = std::make_shared<TLvToolbarController>();
        ViewController = std::make_shared<TOrlenzaViewController>();
        ToolbarController->SetControlFile(std::make_unique<TMemoryMappedControlFile>(name));
        ticks = 0;
    }

    void cleanup() {
        delete form;
        form = nullptr;
        console.kill();
        console.waitForFinished();
        ToolbarController->SetControlFile(nullptr);
        ToolbarController.reset();
        ViewController.reset();
        host.reset();
        lvplatform::RemoveSharedMemory(name);
        SetProcessWindowTextFormat("");
    }

    void docksOnTheConsoleAndFollowsIt() {
        QVERIFY(OpenConsole());
        CreateForm();
        QTRY_VERIFY_WITH_TIMEOUT(Docked(), 10000);
        QCOMPARE(form->frameGeometry().height(), 28);
        form->grab().save(QStringLiteral(LV_TEST_OUTPUT_DIR "/toolbar-docked.png"));

        desktop->Move(consoleWindow, 420, 500);
        QTRY_VERIFY_WITH_TIMEOUT(ConsoleFrame().left() != 200, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(Docked(), 5000);
        QCOMPARE(form->frameGeometry().left(), ConsoleFrame().left());
    }

    void hidesWhileTheConsoleIsMinimisedAndLeavesItTheKeyboard() {
        QVERIFY(OpenConsole());
        CreateForm();
        QTRY_VERIFY_WITH_TIMEOUT(Docked(), 10000);
        desktop->Activate(consoleWindow);
        QTRY_COMPARE_WITH_TIMEOUT(desktop->ActiveWindow(), consoleWindow, 5000);
        desktop->Minimise(consoleWindow);
        QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 5000);
        // The user brings the console back from the task bar and goes on typing there.
        desktop->Activate(consoleWindow);
        QTRY_VERIFY_WITH_TIMEOUT(Docked(), 5000);
        // The window manager handles requests in order: once it has moved the console, it
        // has also dealt with the strip that reappeared before.
        const int left = ConsoleFrame().left();
        desktop->Move(consoleWindow, left + 10, ConsoleFrame().top());
        QTRY_COMPARE_WITH_TIMEOUT(ConsoleFrame().left(), left + 10, 5000);
        QCOMPARE(desktop->ActiveWindow(), consoleWindow);
        QTRY_VERIFY_WITH_TIMEOUT(Docked(), 5000);
    }

    void doesNotDockToAnotherTitle() {
        // The host's console 6 is open, but this viewer belongs to console 5.
        QVERIFY(OpenConsole({QStringLiteral("--id"), QStringLiteral("6")}));
        CreateForm();
        const QPoint start = form->pos();
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 5, 5000);
        auto* controller = dynamic_cast<TLvToolbarController*>(ToolbarController.get());
        QVERIFY(controller->WindowMonitor());
        QVERIFY(!controller->WindowMonitor()->ConsoleRunning(5));
        QVERIFY(controller->WindowMonitor()->ConsoleRunning(6));
        QCOMPARE(form->pos(), start);
        QVERIFY(!Docked());
    }

    void keySetPickGoesToTheHostAndTheListWaitsForTheNextTick() {
        QVERIFY(OpenConsole());
        CreateForm();
        QTRY_VERIFY_WITH_TIMEOUT(Docked(), 10000);
        auto* keys = form->findChild<QComboBox*>(QStringLiteral("cbKeySet"));
        QTRY_VERIFY(keys->isEnabled());
        QCOMPARE(keys->currentIndex(), 0); // the host's key set 0 is shown
        // The user opens the list and picks the next entry with the keyboard.
        keys->setFocus();
        QTest::mouseClick(keys, Qt::LeftButton);
        QTRY_VERIFY(keys->view()->isVisible());
        QTest::keyClick(keys->view(), Qt::Key_Down);
        const int ticksAtPick = ticks;
        QTest::keyClick(keys->view(), Qt::Key_Return);
        QCOMPARE(block[lvcontrol::kKeyIndex], std::uint8_t(1));
        QCOMPARE(block[lvcontrol::kTerminalCommandState], std::uint8_t(tcChangeKeySet));
        if (ticks == ticksAtPick) { // no tick came in between: the list is still blank
            QCOMPARE(keys->currentIndex(), -1);
            QVERIFY(!keys->isEnabled());
        }
        QTRY_VERIFY(ticks > ticksAtPick && keys->isEnabled());
        QCOMPARE(keys->currentIndex(), 1);
        QCOMPARE(keys->currentText(), QStringLiteral("Keys: TCL"));
    }

    void indicatorTurnsGreenWhenTheHostGivesAPattern() {
        CreateForm();
        auto* circle = form->findChild<TCircleShape*>(QStringLiteral("Circle1"));
        QTRY_VERIFY(ticks >= 3);
        QCOMPARE(circle->FillColor().rgba(), kNotConnectedColor);
        HostString(lvcontrol::kImageInformation, R"({"Source":"/scans/","Pattern":"****...."})");
        QTRY_COMPARE(circle->FillColor().rgba(), kConnectedColor);
    }

    // The strip belongs to its console: when the user brings the console in front of a
    // maximised window, activated from the task bar or only raised, the strip comes too.
    void risesWithItsConsoleAboveAMaximisedWindow_data() {
        QTest::addColumn<bool>("activate");
        QTest::newRow("console activated") << true;
        QTest::newRow("console raised") << false;
    }
    void risesWithItsConsoleAboveAMaximisedWindow() {
        QFETCH(bool, activate);
        QVERIFY(OpenConsole());
        CreateForm();
        QTRY_VERIFY_WITH_TIMEOUT(Docked(), 10000);
        const auto strip = static_cast<xcb_window_t>(form->winId());
        QTRY_COMPARE_WITH_TIMEOUT(desktop->TransientFor(strip), consoleWindow, 5000);
        auto stripSeen = [&] {
            const QRect bar = form->frameGeometry();
            return desktop->NonBlackShare(bar.x(), bar.y(), bar.width(), bar.height()) > 0.5;
        };
        QVERIFY(stripSeen());
        // A black window over the whole screen, as a maximised viewer, in front.
        const xcb_window_t cover = desktop->Open("Lumivane E2E cover " + name, 0, 0, 900, 700);
        QVERIFY(desktop->WaitManaged(cover));
        desktop->Maximise(cover, true);
        desktop->Activate(cover);
        QTRY_VERIFY_WITH_TIMEOUT(!stripSeen(), 10000);
        if (activate)
            desktop->Activate(consoleWindow);
        else
            desktop->Raise(consoleWindow);
        QTRY_VERIFY_WITH_TIMEOUT(stripSeen(), 10000);
        QVERIFY(Docked());
        // Raised with it, the strip did not take the keyboard.
        if (activate)
            QTRY_COMPARE_WITH_TIMEOUT(desktop->ActiveWindow(), consoleWindow, 5000);
        desktop->Close(cover);
    }

    // The disk, printer, circle and Form buttons say what they do and how they stand, and
    // the tooltips show over the strip while the console has the keyboard.
    void buttonsSayWhatTheyDoAndHowTheyStand() {
        QVERIFY(OpenConsole());
        CreateForm();
        QTRY_VERIFY_WITH_TIMEOUT(Docked(), 10000);
        auto* save = form->findChild<QWidget*>(QStringLiteral("sbtnSave"));
        auto* printer = form->findChild<QWidget*>(QStringLiteral("sbtnPrinter"));
        auto* circle = form->findChild<QWidget*>(QStringLiteral("Circle1"));
        auto* button = form->findChild<QPushButton*>(QStringLiteral("BtnForm"));
        auto* edit = form->findChild<QLineEdit*>(QStringLiteral("edImageId"));
        QVERIFY(save && printer && circle && button && edit);
        const struct {
            const char* name;
            std::function<void()> host; // what the host writes
            QWidget* widget;
            QStringList says;
        } rows[] = {
            {"idle", [] {}, save, {"Capture the terminal to a file", "not capturing"}},
            {"starting",
             [&] {
                 HostString(lvcontrol::kCaptureFileName, "/tmp/session.cap");
                 block[lvcontrol::kCaptureFileState] = cfsStartingCapture;
             },
             save,
             {"Starting", "/tmp/session.cap"}},
            {"capturing",
             [&] { block[lvcontrol::kCaptureFileState] = cfsCapturing; },
             save,
             {"Capturing the terminal to /tmp/session.cap", "stop"}},
            {"no printer", [] {}, printer, {"Pass-through printer", "none chosen", "choose"}},
            {"a printer",
             [&] { HostString(lvcontrol::kPassThroughPrinterName, "Laser 5"); },
             printer,
             {"Pass-through printer", "now Laser 5"}},
            {"not connected", [] {}, circle, {"Not connected", "folders and pattern"}},
            {"connected",
             [&] {
                 HostString(lvcontrol::kImageInformation,
                            R"({"Source":"/scans/","Pattern":"****...."})");
             },
             circle,
             {"Connected", "identifiers can be looked up"}},
        };
        for (const auto& row : rows) {
            row.host();
            const int seen = ticks;
            QTRY_VERIFY(ticks > seen + 1);
            for (const QString& part : row.says)
                QVERIFY2(row.widget->toolTip().contains(part),
                         qPrintable(QStringLiteral("%1: \"%2\" lacks \"%3\"")
                                        .arg(row.name, row.widget->toolTip(), part)));
        }
        // Too short for the pattern: the button is off and says what it needs.
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("12"));
        QTRY_VERIFY(!button->isEnabled());
        QVERIFY2(button->toolTip().contains(QStringLiteral("type an identifier")),
                 qPrintable(button->toolTip()));
        // Long enough: usable, and it says so.
        QTest::keyClicks(edit, QStringLiteral("345678"));
        QTRY_VERIFY(button->isEnabled());
        QVERIFY(button->toolTip().contains(QStringLiteral("(Enter)")));
        QVERIFY(!button->toolTip().contains(QStringLiteral("type an identifier")));

        // The console has the keyboard; the pointer rests on the disk button.
        desktop->Activate(consoleWindow);
        QTRY_COMPARE_WITH_TIMEOUT(desktop->ActiveWindow(), consoleWindow, 5000);
        QTRY_VERIFY(!form->isActiveWindow());
        QTest::mouseMove(save, save->rect().center());
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
        QCOMPARE(QToolTip::text(), save->toolTip());
    }

    // At 100 %, 150 % and 200 % (QT_SCALE_FACTOR, one run each), docked on a 700-pixel
    // console: the strip is no wider than the console, and its controls neither overlap
    // nor get cut off, each at least as wide as its text needs.
    void layoutFitsTheConsoleAtThisScale() {
        QVERIFY(OpenConsole());
        CreateForm();
        const qreal ratio = form->devicePixelRatioF();
        // The console's frame in window units.
        QRect frame;
        QTRY_VERIFY((frame = ConsoleFrame()).isValid());
        const int consoleWidth = qFloor(frame.width() / ratio);
        QTRY_VERIFY(form->isVisible() && form->y() + form->height() == qRound(frame.y() / ratio));
        QVERIFY2(form->width() <= consoleWidth,
                 qPrintable(QStringLiteral("strip %1 wide on a console %2 wide")
                                .arg(form->width())
                                .arg(consoleWidth)));

        auto* panel = form->findChild<QWidget*>(QStringLiteral("pnlTop"));
        QVERIFY(panel);
        QVERIFY(form->rect().contains(panel->geometry()));
        struct TNeed {
            const char* name;
            int width; // what its text needs
        };
        auto* edit = form->findChild<QLineEdit*>(QStringLiteral("edImageId"));
        auto* button = form->findChild<QPushButton*>(QStringLiteral("BtnForm"));
        auto* keys = form->findChild<QComboBox*>(QStringLiteral("cbKeySet"));
        QVERIFY(edit && button && keys);
        // An eight-digit identifier in the edit; the button's caption; the longest key set
        // with the list's arrow.
        QStyleOptionComboBox comboOption;
        comboOption.initFrom(keys);
        const QSize longest(keys->fontMetrics().horizontalAdvance(keys->itemText(0)),
                            keys->fontMetrics().height());
        const TNeed needs[] = {
            {"edImageId", edit->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 8},
            {"BtnForm", button->fontMetrics().horizontalAdvance(button->text()) + 8},
            {"cbKeySet", keys->style()
                             ->sizeFromContents(QStyle::CT_ComboBox, &comboOption, longest, keys)
                             .width()},
            {"sbtnSave", 16},
            {"sbtnPrinter", 16},
            {"Circle1", 12},
        };
        QList<QWidget*> shown;
        for (const TNeed& need : needs) {
            auto* w = panel->findChild<QWidget*>(QString::fromLatin1(need.name));
            QVERIFY2(w && w->isVisible(), need.name);
            QVERIFY2(panel->rect().contains(w->geometry()),
                     qPrintable(QStringLiteral("%1 cut off by the strip").arg(need.name)));
            QVERIFY2(w->width() >= need.width,
                     qPrintable(QStringLiteral("%1 is %2 wide, its text needs %3")
                                    .arg(need.name)
                                    .arg(w->width())
                                    .arg(need.width)));
            for (QWidget* other : shown)
                QVERIFY2(!w->geometry().intersects(other->geometry()),
                         qPrintable(
                             QStringLiteral("%1 overlaps %2").arg(need.name, other->objectName())));
            shown << w;
        }
    }
};

QTEST_MAIN(TestToolbarDocking)
#include "tst_toolbardocking.moc"
