// Races of the asynchronous viewer on the real window, against a real block and real
// files: while a large LZW page decodes, another identifier is searched, the window is
// hidden, closed or torn down, or the shown file is deleted, replaced, cut short, its
// folder renamed or made unreadable; and the real program is ended by its host's
// terminate while a 600 dpi A3 page decodes. Each case runs 20 times (the moments differ
// run to run). In every run: no crash, no picture of a file that is no longer the
// selection, no vsOpen from a hidden or closed window, nothing written after vsClosed, and
// a replaced file shows its new content.
//
// Root reads any folder, so run as root this program first becomes an ordinary user
// (nobody): everything it creates, the block included, is that user's.
#include "app/Orlenza.CustomController.h"
#include "tests/gui/imaging/ImagingFixtures.h"
#include "tests/gui/viewer/ViewerWindow.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/ViewerWidgets.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

using lvtest::HostBlock;

namespace {

// Notes, for every vsOpen, whether the window was visible when it was written.
class VisibleAtOpen : public lvtest::StateRecorder {
public:
    using StateRecorder::StateRecorder;
    void ChangeViewState(TImageViewerState AState) override {
        if (AState == vsOpen && Visible)
            HiddenOpens += Visible() ? 0 : 1;
        StateRecorder::ChangeViewState(AState);
    }
    std::function<bool()> Visible;
    int HiddenOpens = 0;
};

bool Near(QColor A, QColor B) {
    return A.isValid() && std::abs(A.red() - B.red()) < 24 &&
           std::abs(A.green() - B.green()) < 24 && std::abs(A.blue() - B.blue()) < 24;
}

QByteArray SolidJpeg(const QString& APath, QSize ASize, QColor AColour) {
    WriteJpegOf(APath, ASize.width(), ASize.height(), false, 85, {}, [&](int, int, uint8_t* px) {
        px[0] = static_cast<uint8_t>(AColour.red());
        px[1] = static_cast<uint8_t>(AColour.green());
        px[2] = static_cast<uint8_t>(AColour.blue());
    });
    return ReadAll(APath);
}

bool Overwrite(const QString& APath, const QByteArray& ABytes) {
    QFile f(APath);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(ABytes) == ABytes.size();
}

enum class TRace {
    NewIdentifier,
    HostHide,
    Close,
    TornDown,
    Deleted,
    Replaced,
    Truncated,
    FolderRenamed,
    FolderUnreadable,
};

const QColor kBig(200, 120, 40), kNext(30, 180, 30), kOther(220, 220, 30), kNew(30, 30, 210);
constexpr int kRuns = 20;

} // namespace

class TestViewerRaces : public QObject, lvtest::ViewerWindow<VisibleAtOpen> {
    Q_OBJECT

public:
    TestViewerRaces() : ViewerWindow(QStringLiteral("lv-races")) {}

private:
    QByteArray FBigBytes, FNextBytes, FNewBytes;

    QString Dir() const { return FScans + "3100/"; }
    QString BigFile() const { return Dir() + "31000001~1.tif"; }

    void CreateForm() {
        ViewerWindow::CreateForm({600, 568});
        FRecorder->Visible = [this] { return FForm && FForm->isVisible(); };
    }
    // The folder as each run starts: the large page first, a small one after it.
    void ResetFolder() {
        QDir().rename(FScans + "3100-moved", FScans + "3100");
        ::chmod(QFile::encodeName(Dir()).constData(), 0755);
        QDir().mkpath(Dir());
        QVERIFY(Overwrite(BigFile(), FBigBytes));
        QVERIFY(Overwrite(Dir() + "31000001~2.jpg", FNextBytes));
    }
    bool Quiet() {
        QCoreApplication::processEvents();
        return QTest::qWaitFor(
            [this] { return !FForm->IsLoading() && FForm->Pipeline().Pending() == 0; }, 20000);
    }

private slots:
    void initTestCase() {
        QVERIFY2(::geteuid() != 0, "root reads unreadable folders: run as an ordinary user");
        QVERIFY(FRoot.isValid());
        qputenv("LUMIVANE_SETTLE_MS", "150");
        QDir().mkpath(FScans + "3200");
        // 9 megapixels of LZW in strips: decoded on the workers for a good while.
        WriteRgbTiffOf(FRoot.filePath("big.tif"), 3000, 3000, COMPRESSION_LZW, 0,
                       ORIENTATION_TOPLEFT, [](int x, int y, uint8_t* px) {
                           const bool fleck = ((x * 7 + y * 13) % 97) == 0;
                           px[0] = fleck ? 0 : 200;
                           px[1] = fleck ? 0 : 120;
                           px[2] = fleck ? 0 : 40;
                       });
        FBigBytes = ReadAll(FRoot.filePath("big.tif"));
        FNextBytes = SolidJpeg(FRoot.filePath("next.jpg"), {600, 800}, kNext);
        FNewBytes = SolidJpeg(FRoot.filePath("new.jpg"), {600, 800}, kNew);
        SolidJpeg(FScans + "3200/32000001~1.jpg", {600, 800}, kOther);
    }
    void cleanupTestCase() { qunsetenv("LUMIVANE_SETTLE_MS"); }

    void init() {
        StartHost();
        CreateForm();
    }
    void cleanup() {
        EndHost();
        ResetFolder();
    }

    void raceWhileTheLargePageDecodes_data() {
        QTest::addColumn<int>("race");
        QTest::newRow("another identifier") << int(TRace::NewIdentifier);
        QTest::newRow("the host's hide") << int(TRace::HostHide);
        QTest::newRow("the window closed") << int(TRace::Close);
        QTest::newRow("the window torn down (the program's end)") << int(TRace::TornDown);
        QTest::newRow("the shown file deleted") << int(TRace::Deleted);
        QTest::newRow("the shown file replaced") << int(TRace::Replaced);
        QTest::newRow("the shown file cut short") << int(TRace::Truncated);
        QTest::newRow("the folder renamed") << int(TRace::FolderRenamed);
        QTest::newRow("the folder made unreadable") << int(TRace::FolderUnreadable);
    }
    void raceWhileTheLargePageDecodes() {
        QFETCH(int, race);
        for (int run = 0; run < kRuns; ++run) {
            ResetFolder();
            if (!FForm)
                CreateForm();
            // Another identifier first: the large page is not held by the cache.
            FForm->NewImage("32000001");
            QVERIFY(Quiet());
            FForm->NewImage("31000001");
            FRecorder->States.clear();
            FRecorder->HiddenOpens = 0;
            QVERIFY(WhenListed(
                [&] {
                    switch (TRace(race)) {
                    case TRace::NewIdentifier:
                        FForm->NewImage("32000001");
                        break;
                    case TRace::HostHide:
                        FBlock->At(lvcontrol::kCommandState) = vcHide;
                        FRecorder->StateEvent()(FForm.get());
                        break;
                    case TRace::Close:
                        FForm->close();
                        break;
                    case TRace::TornDown:
                        break; // below, outside the window's own signal
                    case TRace::Deleted:
                        QVERIFY(QFile::remove(BigFile()));
                        break;
                    case TRace::Replaced: {
                        const QString temp = Dir() + ".incoming";
                        QVERIFY(Overwrite(temp, FNewBytes));
                        QCOMPARE(std::rename(QFile::encodeName(temp).constData(),
                                             QFile::encodeName(BigFile()).constData()),
                                 0);
                        break;
                    }
                    case TRace::Truncated:
                        QVERIFY(QFile::resize(BigFile(), FBigBytes.size() / 3));
                        break;
                    case TRace::FolderRenamed:
                        QVERIFY(QDir().rename(FScans + "3100", FScans + "3100-moved"));
                        break;
                    case TRace::FolderUnreadable:
                        QCOMPARE(::chmod(QFile::encodeName(Dir()).constData(), 0), 0);
                        break;
                    }
                },
                20000));
            if (TRace(race) == TRace::TornDown) {
                QVERIFY(FForm->IsLoading());
                const auto recorder = FRecorder;
                DestroyForm(); // waits for its workers; nothing may reach a dead window
                QVERIFY(recorder->States.empty());
                continue;
            }
            const auto why = [&] {
                return QStringLiteral("run %1: shown %2, notice \"%3\", %4 listed")
                    .arg(run)
                    .arg(Shown().name(), Page()->NoticeText())
                    .arg(List()->count());
            };
            switch (TRace(race)) {
            case TRace::NewIdentifier:
                QVERIFY(Quiet());
                QVERIFY2(Near(Shown(), kOther), qPrintable(why()));
                break;
            case TRace::HostHide:
            case TRace::Close:
                QVERIFY(Quiet());
                QVERIFY(!FForm->isVisible());
                QVERIFY(Image()->IsBitmapEmpty());
                for (TImageViewerState state : FRecorder->States)
                    QVERIFY(state != vsOpen);
                break;
            case TRace::Deleted:
                // The next file takes the place of the one that went.
                QTRY_VERIFY2_WITH_TIMEOUT(List()->count() == 1 && Near(Shown(), kNext),
                                          qPrintable(why()), 20000);
                break;
            case TRace::Replaced:
                QTRY_VERIFY2_WITH_TIMEOUT(Near(Shown(), kNew), qPrintable(why()), 20000);
                QCOMPARE(FForm->ImageId(), 1);
                break;
            case TRace::Truncated:
                // Whatever was decoded before the cut, the file as it is now fails.
                QTRY_VERIFY2_WITH_TIMEOUT(!Page()->NoticeText().isEmpty() && !Near(Shown(), kBig),
                                          qPrintable(why()), 20000);
                break;
            case TRace::FolderRenamed:
                QTRY_VERIFY2_WITH_TIMEOUT(List()->count() == 0 && !Near(Shown(), kBig),
                                          qPrintable(why()), 20000);
                break;
            case TRace::FolderUnreadable:
                // Nothing can be listed there: the page says the folder cannot be read, not
                // merely that there are no images; readable again, its files come back.
                QTRY_VERIFY2_WITH_TIMEOUT(List()->count() == 0 && !Near(Shown(), kBig) &&
                                              Page()->NoticeText().contains("cannot be read"),
                                          qPrintable(why()), 20000);
                QCOMPARE(::chmod(QFile::encodeName(Dir()).constData(), 0755), 0);
                QTRY_VERIFY2_WITH_TIMEOUT(List()->count() == 2 && Near(Shown(), kBig) &&
                                              Page()->NoticeText().isEmpty(),
                                          qPrintable(why()), 20000);
                break;
            case TRace::TornDown:
                break;
            }
            QVERIFY(Quiet());
            QCOMPARE(FRecorder->HiddenOpens, 0);
        }
    }

    // The host's terminate reaches the real program while it lists and decodes a 600 dpi A3
    // LZW page, each run a little later after the search began: the program ends in order,
    // vsClosed the last state it writes, nothing reported by the sanitizers.
    void hostTerminateWhileAnA3PageDecodes() {
        const QString dir = FScans + "3300/";
        QVERIFY(QDir().mkpath(dir));
        WriteRgbTiffOf(dir + "33000001~1.tif", 7016, 9921, COMPRESSION_LZW, 0, ORIENTATION_TOPLEFT,
                       [](int x, int y, uint8_t* px) {
                           const bool fleck = ((x * 7 + y * 13) % 97) == 0;
                           px[0] = fleck ? 0 : 200;
                           px[1] = fleck ? 0 : 120;
                           px[2] = fleck ? 0 : 40;
                       });
        const QRegularExpression stateLine(QStringLiteral("^lumivane: view state (\\w+)$"),
                                           QRegularExpression::MultilineOption);
        int endedBeforeShown = 0;
        for (int run = 0; run < kRuns; ++run) {
            HostBlock block(FScans, "****....");
            QTimer beat;
            connect(&beat, &QTimer::timeout, [&] { ++block.At(lvcontrol::kCommandHeartBeat); });
            beat.start(100);
            QProcess viewer;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LUMIVANE_TRACE", "1");
            env.insert("XDG_DATA_HOME", FRoot.path() + "/data-terminate-" + QString::number(run));
            viewer.setProcessEnvironment(env);
            // On one core the decode outlasts the window's 300 ms command tick even on an
            // idle machine, so early runs take the terminate while the page decodes.
            viewer.start(QStringLiteral("taskset"),
                         {QStringLiteral("-c"), QStringLiteral("0"), QStringLiteral(LV_VIEWER_BIN),
                          QString::fromStdString(block.Name), QStringLiteral("33000001")});
            QVERIFY(viewer.waitForStarted(20000));
            QByteArray trace;
            const auto ended = [&] {
                trace += viewer.readAllStandardError();
                return viewer.state() == QProcess::NotRunning;
            };
            // The search has begun once the window writes vsIdle.
            QVERIFY(QTest::qWaitFor(
                [&] { return ended() || trace.contains("lumivane: view state vsIdle"); }, 30000));
            QVERIFY2(!ended(), trace.constData());
            QTest::qWait(run * 20);
            block.At(lvcontrol::kCommandState) = vcTerminate;
            QVERIFY2(QTest::qWaitFor(ended, 60000), trace.constData());
            QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
            QVERIFY2(viewer.exitCode() == 0, trace.constData());
            QVERIFY2(!trace.contains("Sanitizer") && !trace.contains("runtime error"),
                     trace.constData());
            QVERIFY2(trace.contains("lumivane: command taken vcTerminate"), trace.constData());
            QStringList states;
            for (auto it = stateLine.globalMatch(QString::fromUtf8(trace)); it.hasNext();)
                states << it.next().captured(1);
            QVERIFY2(!states.isEmpty() && states.last() == "vsClosed" &&
                         states.count("vsClosed") == 1,
                     qPrintable(states.join(' ')));
            QCOMPARE(block.ViewState(), vsClosed);
            endedBeforeShown += trace.contains("lumivane: image shown") ? 0 : 1;
        }
        qInfo("%d of %d runs ended before the page was shown", endedBeforeShown, kRuns);
        // Otherwise no run raced the decode, and this case tested nothing.
        QVERIFY(endedBeforeShown > 0);
    }
};

// Run as root: becomes nobody, with a home, configuration and runtime folder of its own.
// Returns that folder ("" when nothing changed), or nullopt when it could not.
static std::optional<QByteArray> BecomeOrdinaryUser() {
    if (::geteuid() != 0)
        return QByteArray();
    constexpr uid_t kNobody = 65534;
    constexpr gid_t kNoGroup = 65534;
    QByteArray home = QDir::tempPath().toLocal8Bit() + "/lv-races-home-XXXXXX";
    if (!::mkdtemp(home.data()) || ::chown(home.constData(), kNobody, kNoGroup) != 0)
        return std::nullopt;
    // The viewer it starts lies beside this program, perhaps under a private folder (a
    // clone into mktemp -d is mode 0700): others may pass through, not list.
    std::error_code error;
    for (std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", error);
         !error && dir.has_relative_path(); dir = dir.parent_path()) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !(st.st_mode & S_IXOTH))
            ::chmod(dir.c_str(), (st.st_mode & 07777) | S_IXOTH);
    }
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNoGroup) != 0 || ::setuid(kNobody) != 0)
        return std::nullopt;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        ::setenv(name, home.constData(), 1);
    return home;
}

int main(int argc, char** argv) {
    const std::optional<QByteArray> home = BecomeOrdinaryUser();
    if (!home) {
        std::perror("cannot become an ordinary user");
        return 2;
    }
    int status = 0;
    {
        QApplication app(argc, argv);
        app.setAttribute(Qt::AA_Use96Dpi, true);
        TestViewerRaces test;
        QTEST_SET_MAIN_SOURCE_PATH
        status = QTest::qExec(&test, argc, argv);
    }
    if (!home->isEmpty())
        QDir(QString::fromLocal8Bit(*home)).removeRecursively();
    return status;
}

#include "tst_viewerraces.moc"
