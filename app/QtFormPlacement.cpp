#include "app/QtFormPlacement.h"

#include "platform/DataFolder.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

TPlacementRect ToRect(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

bool FrameKnown(const QWidget* w) {
    return w->frameGeometry().size() != w->geometry().size();
}

// Applies a wanted outer size once the window manager has framed the window; until then
// Qt knows only the client area, and the saved outer size would grow the window by its
// frame on every restore. Gives up quietly for windows that never get a frame, and when
// the window was resized by someone else in between (that size is the newer wish).
class TDeferredOuterSize : public QObject {
public:
    TDeferredOuterSize(QWidget* w, QSize outer) : QObject(w), FWindow(w), FOuter(outer) {
        w->installEventFilter(this);
    }
    void SetOuter(QSize outer, QSize client) {
        FOuter = outer;
        FClient = client;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == FWindow &&
            (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
             event->type() == QEvent::Show)) {
            if (FWindow->isVisible() && FrameKnown(FWindow)) {
                const QSize frame = FWindow->frameGeometry().size() - FWindow->geometry().size();
                const QSize client = FOuter - frame;
                deleteLater();
                FWindow->removeEventFilter(this);
                if (FWindow->windowState() == Qt::WindowNoState && FWindow->size() == FClient)
                    FWindow->resize(std::max(1, client.width()), std::max(1, client.height()));
            } else if (++FEvents > 50) {
                FWindow->removeEventFilter(this);
                deleteLater();
            }
        }
        return false;
    }

private:
    QWidget* FWindow;
    QSize FOuter;
    QSize FClient; // the client size set together with FOuter
    int FEvents = 0;
};

std::string ProgramTitle() {
    const QString exe = QCoreApplication::applicationFilePath();
    return lvpositions::ApplicationTitle(std::filesystem::path(exe.toStdString()));
}

} // namespace

TQtPlacementWindow::TQtPlacementWindow(QWidget* AWindow, const QWidget* AMainWindow)
    : FWindow(AWindow), FMainWindow(AMainWindow) {}

TPlacementEnvironment TQtPlacementWindow::PlacementEnvironment() const {
    return QtPlacementEnvironment(FMainWindow);
}

std::string TQtPlacementWindow::ComponentName() const {
    if (!FWindow)
        return {};
    // Every saved window needs a name of its own; fall back to its class.
    const QString name = FWindow->objectName();
    return (name.isEmpty() ? QString::fromLatin1(FWindow->metaObject()->className()) : name)
        .toStdString();
}

int TQtPlacementWindow::Left() const {
    return FWindow ? FWindow->frameGeometry().x() : 0;
}
int TQtPlacementWindow::Top() const {
    return FWindow ? FWindow->frameGeometry().y() : 0;
}
int TQtPlacementWindow::Width() const {
    return FWindow ? FWindow->frameGeometry().width() : 0;
}
int TQtPlacementWindow::Height() const {
    return FWindow ? FWindow->frameGeometry().height() : 0;
}
int TQtPlacementWindow::ClientWidth() const {
    return FWindow ? FWindow->width() : 0;
}
int TQtPlacementWindow::ClientHeight() const {
    return FWindow ? FWindow->height() : 0;
}

TWindowState TQtPlacementWindow::WindowState() const {
    if (!FWindow)
        return wsNormal;
    const Qt::WindowStates s = FWindow->windowState();
    if (s & Qt::WindowMinimized)
        return wsMinimized;
    if (s & Qt::WindowMaximized)
        return wsMaximized;
    return wsNormal;
}

bool TQtPlacementWindow::FullScreen() const {
    return FWindow && FWindow->isFullScreen();
}

void TQtPlacementWindow::SetDesignedPosition() {
    // Marks the position as chosen by the program, so Qt hands it to the window manager
    // instead of letting it pick a place.
    if (FWindow)
        FWindow->setAttribute(Qt::WA_Moved, true);
}

void TQtPlacementWindow::SetPosition(int ALeft, int ATop) {
    // move() places the frame's top-left corner of a top-level window.
    if (FWindow)
        FWindow->move(ALeft, ATop);
}

void TQtPlacementWindow::SetSize(int AWidth, int AHeight) {
    if (!FWindow)
        return;
    const QSize frame = FWindow->frameGeometry().size() - FWindow->geometry().size();
    FWindow->resize(std::max(1, AWidth - frame.width()), std::max(1, AHeight - frame.height()));
    if (!FWindow->isVisible() || !FrameKnown(FWindow)) {
        // The helper has no meta-object of its own, so findChild would take any child
        // for it; look for it by its real type.
        TDeferredOuterSize* pending = nullptr;
        for (QObject* child : FWindow->children())
            if ((pending = dynamic_cast<TDeferredOuterSize*>(child)))
                break;
        if (!pending)
            pending = new TDeferredOuterSize(FWindow, {AWidth, AHeight});
        pending->SetOuter({AWidth, AHeight}, FWindow->size());
    }
}

void TQtPlacementWindow::SetWindowState(TWindowState AState) {
    if (!FWindow)
        return;
    Qt::WindowStates s = FWindow->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (AState == wsMinimized)
        s |= Qt::WindowMinimized;
    if (AState == wsMaximized)
        s |= Qt::WindowMaximized;
    FWindow->setWindowState(s);
}

void TQtPlacementWindow::SetFullScreen(bool AFullScreen) {
    if (!FWindow)
        return;
    Qt::WindowStates s = FWindow->windowState();
    s.setFlag(Qt::WindowFullScreen, AFullScreen);
    FWindow->setWindowState(s);
}

TPlacementEnvironment QtPlacementEnvironment(const QWidget* AMainWindow) {
    TPlacementEnvironment env;
    for (const QScreen* screen : QGuiApplication::screens())
        env.Displays.push_back({ToRect(screen->availableGeometry()), ToRect(screen->geometry())});
    if (AMainWindow)
        env.MainWindow = ToRect(AMainWindow->frameGeometry());
    env.DataFolder = lvplatform::LocalDataFolder();
    env.Title = ProgramTitle();
    return env;
}

void PlaceAtHalfDesktop(QWidget* AForm) {
    if (!AForm)
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen ? screen->virtualGeometry() : QRect();
    TQtPlacementWindow window(AForm, nullptr);
    window.SetPosition(0, 0);
    if (desktop.width() > 0 && desktop.height() > 0)
        window.SetSize(desktop.width() / 2, desktop.height() / 2);
}

std::filesystem::path QtPlacementFolder() {
    return lvpositions::PlacementFolder(lvplatform::LocalDataFolder(), ProgramTitle());
}
