// The real viewer window's placement under X with a window manager, where a window has a
// frame: with nothing saved, the default placement gives the window's outer frame half
// the desktop at the top-left corner (not its inside).
#include "app/Orlenza.FormCommon.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/OrlenzaFrm.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <memory>

class TestViewerPlacement : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FData;

private slots:
    void initTestCase() {
        QVERIFY(FData.isValid());
        // An empty data folder: no placement saved for any connection.
        qputenv("XDG_DATA_HOME", FData.path().toLocal8Bit());
        // A block nobody created: the window runs with an inert control file.
        SetProgramArguments({"lumivane-viewer", "lvtest-viewerplacement-no-block"});
        TOrlenzaViewController::InstallInitializer();
    }

    void defaultPlacementSizesTheOuterFrame() {
        auto form = std::make_unique<TLumivaneViewerForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        // Framed by the window manager: the frame is larger than the inside.
        QTRY_VERIFY(form->frameGeometry().size() != form->geometry().size());
        const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
        const QRect expected(0, 0, desktop.width() / 2, desktop.height() / 2);
        QTRY_COMPARE(form->frameGeometry(), expected);
        form->hide();
    }
};

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
        std::puts("SKIP: needs an X server (DISPLAY)");
        return 77;
    }
    QApplication app(argc, argv);
    TestViewerPlacement test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_viewerplacement.moc"
