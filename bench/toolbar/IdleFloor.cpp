// The floor for the idle benchmark: a shown Qt window with a 100 ms and a 300 ms timer
// that do nothing, the least any program of this shape costs while idle.
// With --crowd N it is the crowd instead: N plain top-level windows and no timers, the
// other programs of a desktop the measured ones live beside.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "--crowd") == 0) {
        std::vector<std::unique_ptr<QWidget>> crowd;
        const int count = std::atoi(argv[2]);
        for (int i = 0; i < count; ++i) {
            auto window = std::make_unique<QWidget>();
            window->setWindowTitle(QStringLiteral("Crowd %1").arg(i));
            window->setGeometry(20 + (i % 20) * 60, 40 + (i / 20) * 60, 200, 120);
            window->show();
            crowd.push_back(std::move(window));
        }
        return app.exec();
    }
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
