// A real QWidget under X with a window manager: its placement is saved, it is moved, and
// the placement comes back, on the same window and on a new one being created.
#include "app/QtFormPlacement.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Saves and loads the way the viewer window does: through the adapter, without a main window.
void SaveFormPosition(QWidget* AForm, const std::string& ATarget,
                      const TPositionTrackerEvent& AOnCustom) {
    TQtPlacementWindow window(AForm, nullptr);
    TPositionTracker::SaveFormPosition(window, ATarget, window.PlacementEnvironment(), AOnCustom);
}

void LoadFormPosition(QWidget* AForm, const std::string& ATarget,
                      const TPositionTrackerEvent& AOnDefault,
                      const TPositionTrackerEvent& AOnCustom) {
    TQtPlacementWindow window(AForm, nullptr);
    TPositionTracker::LoadFormPosition(window, ATarget, window.PlacementEnvironment(), AOnDefault,
                                       AOnCustom);
}

} // namespace

class TestQtFormPlacement : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FData;

    fs::path File(const std::string& target) const {
        return fs::path(FData.path().toStdString()) / "tst_qtformplacement" / "screen" /
               (target + ".LumivaneViewerForm.json");
    }

    // A shown window at a known place, with its frame known.
    static void ShowAt(QWidget& w, QPoint pos, QSize client) {
        w.setObjectName("LumivaneViewerForm");
        w.resize(client);
        w.move(pos);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(w.frameGeometry().size() != w.geometry().size());
        QTRY_COMPARE(w.frameGeometry().topLeft(), pos);
    }

private slots:
    void initTestCase() {
        QVERIFY(FData.isValid());
        qputenv("XDG_DATA_HOME", FData.path().toLocal8Bit());
    }

    void environmentFromScreensAndMainWindow() {
        QWidget main;
        ShowAt(main, {50, 40}, {300, 100});
        const TPlacementEnvironment env = QtPlacementEnvironment(&main);
        const auto screens = QGuiApplication::screens();
        QCOMPARE(env.Displays.size(), static_cast<std::size_t>(screens.size()));
        const QRect wa = screens.first()->availableGeometry();
        QCOMPARE(env.Displays[0].WorkArea,
                 (TPlacementRect{wa.x(), wa.y(), wa.width(), wa.height()}));
        const QRect frame = main.frameGeometry();
        QVERIFY(env.MainWindow);
        QCOMPARE(*env.MainWindow,
                 (TPlacementRect{frame.x(), frame.y(), frame.width(), frame.height()}));
        QCOMPARE(env.DataFolder, fs::path(FData.path().toStdString()));
        QCOMPARE(env.Title, std::string("tst_qtformplacement"));

        // The adapter takes the main window it is given, and none when given none.
        QWidget other;
        QCOMPARE(TQtPlacementWindow(&other, &main).PlacementEnvironment().MainWindow,
                 env.MainWindow);
        QVERIFY(!TQtPlacementWindow(&other, nullptr).PlacementEnvironment().MainWindow);
        QVERIFY(!QtPlacementEnvironment(nullptr).MainWindow);
    }

    void saveMoveAndLoadBack() {
        QWidget w;
        ShowAt(w, {200, 150}, {400, 300});
        const QRect saved = w.frameGeometry();
        SaveFormPosition(&w, "conn", [](const IPositionTrackerPtr& t) { t->SetZoom(0.75f); });
        QVERIFY(fs::is_regular_file(File("conn")));

        w.move(600, 400);
        w.resize(300, 200);
        QTRY_COMPARE(w.frameGeometry().topLeft(), QPoint(600, 400));

        float zoom = 0;
        int defaults = 0;
        LoadFormPosition(
            &w, "conn", [&](const IPositionTrackerPtr&) { ++defaults; },
            [&](const IPositionTrackerPtr& t) { zoom = t->Zoom(); });
        QCOMPARE(defaults, 0);
        QCOMPARE(zoom, 0.75f);
        QTRY_COMPARE(w.frameGeometry(), saved);
        QCOMPARE(w.windowState(), Qt::WindowNoState);
    }

    void newWindowRestoredWhileCreated() {
        QRect saved;
        {
            QWidget w;
            ShowAt(w, {320, 260}, {420, 310});
            saved = w.frameGeometry();
            SaveFormPosition(&w, "fresh", nullptr);
        }
        // As at creation: hidden, designed at 0,0, frame not known yet, and holding its
        // controls, as a real window does.
        QWidget w;
        w.setObjectName("LumivaneViewerForm");
        w.resize(200, 150);
        new QTimer(&w);
        new QWidget(&w);
        int defaults = 0;
        LoadFormPosition(
            &w, "fresh", [&](const IPositionTrackerPtr&) { ++defaults; }, nullptr);
        QCOMPARE(defaults, 0);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The saved outer size, not the saved size plus a frame.
        QTRY_COMPARE(w.frameGeometry(), saved);
    }

    void noFileLeavesWindowToDefaultHook() {
        QWidget w;
        ShowAt(w, {100, 120}, {300, 200});
        const QRect before = w.frameGeometry();
        std::string target;
        LoadFormPosition(
            &w, "never-saved", [&](const IPositionTrackerPtr& t) { target = t->TargetName(); },
            nullptr);
        QCOMPARE(target, std::string("never-saved"));
        QCOMPARE(w.frameGeometry(), before);
    }
};

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
        std::puts("SKIP: needs an X server (DISPLAY)");
        return 77;
    }
    QApplication app(argc, argv);
    TestQtFormPlacement test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_qtformplacement.moc"
