// The real viewer window as the window tests drive it: a host's block naming a source
// folder in a temporary tree, the program's view controller recorded, and the window's
// named parts. A test class derives from QObject and from ViewerWindow<>.
#pragma once

#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.FormCommon.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/ViewerWidgets.h"

#include "ViewerTestSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QObject>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace lvtest {

template <class TRecorder = StateRecorder> class ViewerWindow {
protected:
    explicit ViewerWindow(const QString& ATempPrefix = QStringLiteral("lv"))
        : FRoot(QDir::tempPath() + "/" + ATempPrefix + "-XXXXXX"),
          FScans(FRoot.path() + "/scans/") {}

    QTemporaryDir FRoot;
    QString FScans; // the block's source folder, under FRoot
    std::unique_ptr<HostBlock> FBlock;
    std::shared_ptr<TRecorder> FRecorder;
    std::unique_ptr<TLumivaneViewerForm> FForm;

    // A folder under the source folder, made if missing, with a trailing slash.
    QString Folder(const QString& ASub) {
        const QString path = FScans + ASub;
        QDir().mkpath(path);
        return path + "/";
    }

    // Each test starts as a fresh host connection: its own data folder (so no placement,
    // turn or strip state of an earlier test), a new block, no start-up identifier.
    void StartHost(const std::string& AConnection = "viewer-test-host") {
        static int run = 0;
        const QString data = FRoot.path() + "/data-" + QString::number(run++);
        QDir().mkpath(data);
        qputenv("XDG_DATA_HOME", data.toLocal8Bit());
        FBlock = std::make_unique<HostBlock>(FScans, "****....", AConnection);
        StartupSearchText.clear();
        StartMaximized = false;
    }
    // The window as the program makes it for FBlock, at the size it opens with.
    void MakeForm() {
        InstallRecordingController(FBlock->Name, FRecorder);
        FForm = std::make_unique<TLumivaneViewerForm>();
    }
    void CreateForm(QSize ASize) {
        MakeForm();
        FForm->resize(ASize);
    }
    void DestroyForm() {
        FForm.reset();
        TOrlenzaCustomerController::ReleaseSharedControlFile();
        ViewController.reset();
        FRecorder.reset();
    }
    void EndHost() {
        DestroyForm();
        FBlock.reset();
    }

    template <class T> T* Child(const char* AName) {
        T* w = FForm->findChild<T*>(QString::fromLatin1(AName));
        if (!w)
            qFatal("no child %s", AName);
        return w;
    }
    TImageControl* Image() { return Child<TImageControl>("Image"); }
    TImagePage* Page() { return Child<TImagePage>("tabForImage"); }
    QComboBox* List() { return Child<QComboBox>("cbxImageList"); }
    QString Title() { return Child<QLabel>("lblCurrentImageName")->text(); }
    TTrackBar* Zoom() { return Child<TTrackBar>("tbZoom"); }
    TRotaryDial* Dial() { return Child<TRotaryDial>("arcdImageRotation"); }
    QColor Shown() { return CentreColour(Image()->Bitmap()); }

    // Pages decode on workers: waits until the page asked for last is on screen.
    bool Settled(int ATimeoutMs = 10000) {
        return QTest::qWaitFor([this] { return !FForm->IsLoading(); }, ATimeoutMs);
    }
    // Shows the identifier as the toolbar does and waits until the window has the keys.
    void ShowFromToolbar(const char* AId) {
        FForm->NewImage(AId);
        QVERIFY(Settled());
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        QTRY_VERIFY(Page()->hasFocus());
    }
    // Keys go in as the window system delivers them: to the window, then its focus widget.
    void Key(Qt::Key AKey, Qt::KeyboardModifiers AMods = {}) {
        QTest::keyClick(FForm->windowHandle(), AKey, AMods);
    }
    std::vector<TImageViewerState> TakeStates() { return std::exchange(FRecorder->States, {}); }
    // Acts the moment a search's list is in: its first page has been asked for in the same
    // call, so that page's decode is still on its way.
    bool WhenListed(const std::function<void()>& AAct, int ATimeoutMs = 10000) {
        QObject context;
        bool done = false;
        QObject::connect(FForm.get(), &TLumivaneViewerForm::ImagesListed, &context, [&] {
            if (!std::exchange(done, true))
                AAct();
        });
        return QTest::qWaitFor([&] { return done; }, ATimeoutMs);
    }
};

} // namespace lvtest
