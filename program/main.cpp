// lumivane-viewer: start-up and shutdown order of the program.
//
// Start: the toolbar controller exists before any window; the event loop then creates the
// toolbar window (the main window) and the viewer window, whose creation opens the block;
// then the toolbar is shown. Stop: only closing the toolbar window ends the program, and
// the loop ends without closing the viewer window (its close is the user's); after
// the loop the block object is destroyed (writing vsClosed, the last value the program
// writes) and the controllers are released.
//
// With --open the viewer window is the only window and the main one: the paths are listed
// before anything else (a path that shows nothing is said at once, without a display),
// and a controller with no block feeds the window that list.
#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.Form.h"
#include "app/Orlenza.FormCommon.h"
#include "app/WindowManagerArrival.h"
#include "controlfile/Trace.h"
#include "images/OpenedImages.h"
#include "platform/EndRequests.h"
#include "platform/SharedMemory.h"
#include "platform/WindowSystem.h"
#include "program/CommandLine.h"
#include "toolbar/LvToolBarFrm.h"
#include "toolbar/Orlenza.ToolBarController.h"
#include "toolbar/ProcessWindowMonitor.h"
#include "viewcontrol/OpenedFilesController.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/OrlenzaFrm.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

// The teardown waits for every worker thread. One stuck in a file system that stopped
// answering (a dead network share) would keep the process alive for good after the host
// was told it ended; past this bound the process ends as it stands.
constexpr auto kTeardownLimit = std::chrono::seconds(5);

void BoundTheTeardown(int AStatus) {
    std::thread([AStatus] {
        std::this_thread::sleep_for(kTeardownLimit);
        std::fputs("lumivane: a worker held the end; ending without it\n", stderr);
        std::_Exit(AStatus);
    }).detach();
}

// Ends the event loop once the main window has really closed (a close request that the
// window refuses leaves it visible and the program running). exit(), not quit(): quit()
// first closes every other window, and the viewer window's close would write its own
// state just before vsClosed, which must be the only state the host sees at the end.
class MainWindowCloseWatcher : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            auto* window = static_cast<QWidget*>(watched);
            QMetaObject::invokeMethod(
                qApp,
                [window] {
                    if (!window->isVisible())
                        QCoreApplication::exit(0);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

// An error that escapes the viewer window's creation (an unreadable image information
// record from the host) ends the program: say why, then leave with a failure status.
void ReportStartupFailure(const std::exception_ptr& error) {
    const QString text = ErrorText(error);
    std::fprintf(stderr, "lumivane-viewer: cannot start: %s\n", text.toUtf8().constData());
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Lumivane Viewer"),
                    QStringLiteral("Lumivane Viewer cannot start:\n%1").arg(text));
    box.setObjectName(QStringLiteral("startupError"));
    // Nobody may be at the screen when a host starts the viewer, so the box goes away by
    // itself after a while (LUMIVANE_ERROR_TIMEOUT_MS, default 15 s).
    const char* timeout = std::getenv("LUMIVANE_ERROR_TIMEOUT_MS");
    QTimer::singleShot(timeout ? std::atoi(timeout) : 15000, &box, &QMessageBox::accept);
    box.exec();
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    // Answered before anything else: no display, no block, no window.
    if (const auto information = InformationRequest(arguments)) {
        std::fputs(information->c_str(), stdout);
        return 0;
    }
    SetProgramArguments(arguments);

    // Opened on paths: what they show is known before any window, and a path that shows
    // nothing is said whether or not a window can be opened.
    std::shared_ptr<TOpenedFilesController> opened;
    if (const auto paths = OpenRequest(arguments)) {
        if (paths->empty()) {
            std::fputs(OpenNeedsPathsNotice().c_str(), stderr);
            return 2;
        }
        const lvimages::TOpenedImages found = lvimages::ListOpenedPaths(*paths);
        for (const std::string& problem : found.Problems)
            std::fputs(OpenProblemNotice(problem).c_str(), stderr);
        if (found.Images.empty()) {
            std::fputs(OpenProblemNotice("nothing to show").c_str(), stderr);
            return 1;
        }
        opened = std::make_shared<TOpenedFilesController>(*paths, found.Folders, found.StartPath);
    }

    // Unit initialisation: the view controller's initializer is installed and the toolbar
    // controller exists before any window.
    if (opened)
        InitializeViewController = [opened] { ViewController = opened; };
    else
        TOrlenzaViewController::InstallInitializer();
    if (!opened)
        ToolbarController = std::make_shared<TLvToolbarController>();

    // Finding and following the host's console window needs X11, also under Wayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // Qt aborts when it finds no display; a program that cannot start says why and fails.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((platform.isEmpty() || platform.startsWith("xcb")) && !lvplatform::DisplayReachable()) {
        std::fputs(NoDisplayNotice(qEnvironmentVariable("DISPLAY").toStdString()).c_str(), stderr);
        return 1;
    }
    // Without a block the program still runs (a loose toolbar, or a viewer that ends when
    // no host beats), so tell whoever started it what was missing.
    if (!opened) {
        const std::string name = arguments.size() > 1 ? arguments[1] : std::string();
        if (const auto notice = MissingBlockNotice(
                arguments, !name.empty() && lvplatform::SharedMemoryExists(name)))
            std::fputs(notice->c_str(), stderr);
    }
    // Only the program's name goes to Qt: every word of the command line belongs to the
    // host, and a search text such as "-reverse" must neither be taken away nor change Qt.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // A window manager started together with the program may lose the windows' first map.
    TWindowManagerArrival windowManagerArrival;

    const TCommandLine commandLine = ParseCommandLine(arguments);
    StartupSearchText = commandLine.StartupSearchText;
    StartMaximized = commandLine.StartMaximized;

    std::unique_ptr<TLvTerminalToolBarForm> toolbar;
    std::unique_ptr<TLumivaneViewerForm> viewer;
    MainWindowCloseWatcher closeWatcher;
    int status = 0;

    // Ended from outside (kill, Ctrl+C, the session closing): close the main window as
    // vcClose does, so the block still receives vsClosed last.
    std::unique_ptr<QSocketNotifier> endRequests;
    if (const int fd = lvplatform::WatchEndRequests(); fd >= 0) {
        endRequests = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(endRequests.get(), &QSocketNotifier::activated, [&] {
            const int request = lvplatform::TakeEndRequest();
            if (request == 0)
                return;
            lvtrace::Line("end requested by signal " + std::to_string(request));
            if (toolbar)
                toolbar->close();
            else
                QCoreApplication::exit(status);
        });
    }

    // Windows are created once the event loop runs, toolbar first (it is the main window).
    QTimer::singleShot(0, [&] {
        // A window that cannot be made ends the program with a report.
        auto makeViewer = [&] {
            try {
                viewer = std::make_unique<TLumivaneViewerForm>();
                return true;
            } catch (...) {
                ReportStartupFailure(std::current_exception());
                status = 1;
                QCoreApplication::exit(status);
                return false;
            }
        };
        if (opened) {
            if (!makeViewer())
                return;
            // The only window: closing it ends the program.
            viewer->installEventFilter(&closeWatcher);
            viewer->NewImage(opened->ListName());
            return;
        }
        toolbar = std::make_unique<TLvTerminalToolBarForm>();
        toolbar->installEventFilter(&closeWatcher);
        if (!makeViewer())
            return;
        toolbar->show();
    });

    const int loopStatus = app.exec();
    if (status == 0)
        status = loopStatus;

    // Ended with the viewer window open: no close (it would tell the host vsUnknown just
    // before vsClosed), but its placement is kept as a close keeps it.
    if (viewer)
        viewer->SavePlacementAtEnd();

    // Finalisation, in reverse order of initialisation.
    InitializeViewController = nullptr;
    TOrlenzaCustomerController::ReleaseSharedControlFile();
    StartupSearchText.clear();
    FinalizeFormCommon();
    SetProcessWindowTextFormat("");

    // The block and the placements are written by now; the workers (a store's last write,
    // a decode) get the bound to finish.
    BoundTheTeardown(status);
    viewer.reset();
    toolbar.reset();
    return status;
}
