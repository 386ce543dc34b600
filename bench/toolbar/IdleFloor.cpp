// The floor for the idle benchmark: a shown Qt window with a 100 ms and a 300 ms timer
// that do nothing, the least any program of this shape costs while idle.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Idle floor"));
    window.resize(516, 28);
    window.show();
    QTimer fast, slow;
    int ticks = 0;
    QObject::connect(&fast, &QTimer::timeout, [&] { ++ticks; });
    QObject::connect(&slow, &QTimer::timeout, [&] { ++ticks; });
    fast.start(100);
    slow.start(300);
    return app.exec();
}
