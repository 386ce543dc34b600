// The head start: the first page decoded while the program starts, taken by the pipeline's
// worker asked for it. Real PNG files, a real pipeline and its workers. What is checked is
// what reaches FrameReady: the head start's frame only for the same page of the same file,
// unchanged, with the pixels asked for; everything else decodes as without it, and the
// picture shown is always the file as it is when asked.
#include "tests/gui/imaging/ImagingFixtures.h"
#include "viewer/DecodePipeline.h"
#include "viewer/HeadStart.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <future>
#include <memory>

Q_DECLARE_METATYPE(TFrameKey)
Q_DECLARE_METATYPE(TFrame)
Q_DECLARE_METATYPE(TDecodeKind)

namespace {

// The rule of the designed window: a 496-high image area in a 600-wide window, fit.
const TDrawRule kFitRule{496, 600, false, 1.0, 1.0F, {}};
// Larger than the window: what the program gives, the desktop.
const QSize kDesktop(1600, 1000);

// What the steps between the head start and the window's question do.
enum class TMeanwhile {
    Nothing,
    FileReplaced,    // another picture renamed over the file
    AnotherFile,     // the window searched something else first
    WindowLarger,    // the window draws more pixels than the head start decoded
    CorruptFile,     // the file cannot be decoded
    TargetDisappears // the file is gone
};

} // namespace
Q_DECLARE_METATYPE(TMeanwhile)

class TestHeadStart : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;

    QString File(const QString& AName) const { return FDir.filePath(AName); }
    static void WriteSolidPng(const QString& APath, int AWidth, int AHeight, QColor AColour) {
        WritePngOf(APath, AWidth, AHeight, 3, false, 0, [&](int, int, uint8_t* px) {
            px[0] = static_cast<uint8_t>(AColour.red());
            px[1] = static_cast<uint8_t>(AColour.green());
            px[2] = static_cast<uint8_t>(AColour.blue());
        });
    }
    static QColor Centre(const TFrame& AFrame) {
        return AFrame.Image.pixelColor(AFrame.Image.width() / 2, AFrame.Image.height() / 2);
    }
    static bool Near(QColor A, QColor B) {
        return std::abs(A.red() - B.red()) < 16 && std::abs(A.green() - B.green()) < 16 &&
               std::abs(A.blue() - B.blue()) < 16;
    }
    static std::shared_ptr<THeadStart> Begin(const QString& APath, QSize ABox = kDesktop) {
        auto headStart = std::make_shared<THeadStart>([APath] { return APath; }, ABox);
        THeadStart::Install(headStart);
        return headStart;
    }
    // The frame a Show of APath gets, from the cache at once or from a worker.
    static TFrame Shown(TDecodePipeline& APipeline, const QString& APath,
                        TDrawRule ARule = kFitRule) {
        QSignalSpy ready(&APipeline, &TDecodePipeline::FrameReady);
        if (std::optional<TFrame> frame = APipeline.Show({APath, 0, ARule}))
            return *frame;
        if (!ready.wait(20000))
            return {};
        return ready.takeFirst().at(1).value<TFrame>();
    }

private slots:
    void initTestCase() {
        QVERIFY(FDir.isValid());
        qRegisterMetaType<TFrameKey>();
        qRegisterMetaType<TFrame>();
        qRegisterMetaType<TDecodeKind>();
    }
    void cleanup() { THeadStart::Install(nullptr); }

    void servesOnlyTheSameFileUnchanged_data() {
        QTest::addColumn<TMeanwhile>("meanwhile");
        QTest::addColumn<int>("served");
        QTest::addColumn<QColor>("colour"); // of the frame shown; invalid: a failure
        const QColor red(220, 20, 20);
        QTest::newRow("unchanged") << TMeanwhile::Nothing << 1 << red;
        QTest::newRow("replaced") << TMeanwhile::FileReplaced << 0 << QColor(20, 20, 220);
        QTest::newRow("another file") << TMeanwhile::AnotherFile << 0 << QColor(20, 200, 20);
        QTest::newRow("window larger") << TMeanwhile::WindowLarger << 0 << red;
        QTest::newRow("corrupt") << TMeanwhile::CorruptFile << 0 << QColor();
        QTest::newRow("gone") << TMeanwhile::TargetDisappears << 0 << QColor();
    }
    void servesOnlyTheSameFileUnchanged() {
        QFETCH(TMeanwhile, meanwhile);
        QFETCH(int, served);
        QFETCH(QColor, colour);
        const QString path = File(QStringLiteral("%1.png").arg(QTest::currentDataTag()));
        WriteSolidPng(path, 1200, 900, QColor(220, 20, 20));
        if (meanwhile == TMeanwhile::CorruptFile) {
            const QByteArray whole = ReadAll(path);
            WriteAll(path, whole.left(whole.size() / 2));
        }
        const QSize box = meanwhile == TMeanwhile::WindowLarger ? QSize(200, 150) : kDesktop;
        const std::shared_ptr<THeadStart> headStart = Begin(path, box);
        QTRY_VERIFY_WITH_TIMEOUT(headStart->Ready(), 20000);

        QString asked = path;
        if (meanwhile == TMeanwhile::FileReplaced) {
            const QString other = File(QStringLiteral("blue-new.png"));
            WriteSolidPng(other, 1200, 900, QColor(20, 20, 220));
            QVERIFY(std::rename(QFile::encodeName(other).constData(),
                                QFile::encodeName(path).constData()) == 0);
        } else if (meanwhile == TMeanwhile::AnotherFile) {
            asked = File(QStringLiteral("green.png"));
            WriteSolidPng(asked, 1200, 900, QColor(20, 200, 20));
        } else if (meanwhile == TMeanwhile::TargetDisappears) {
            QVERIFY(QFile::remove(path));
        }

        TDecodePipeline pipeline(128LL * 1024 * 1024);
        const TFrame frame = Shown(pipeline, asked);
        QCOMPARE(headStart->Served(), served);
        if (!colour.isValid()) {
            QVERIFY2(frame.Failed(), "a file that cannot be decoded shows its failure");
            return;
        }
        QVERIFY2(!frame.Failed(), qPrintable(frame.Error));
        QVERIFY2(Near(Centre(frame), colour), qPrintable(Centre(frame).name()));
        // As the window draws it: fitted to 600 x 496, not the desktop's size.
        QCOMPARE(frame.Image.size(), QSize(600, 450));
        QCOMPARE(frame.FullSize, QSize(1200, 900));
        QVERIFY(frame.Stamp.IsKnown());
        if (meanwhile == TMeanwhile::AnotherFile) {
            // Only the first question is answered: the start-up file asked later decodes.
            const TFrame later = Shown(pipeline, path);
            QVERIFY(Near(Centre(later), QColor(220, 20, 20)));
            QCOMPARE(headStart->Served(), 0);
        }
    }

    // The window asks while the head start is still finding its file: the worker waits for
    // it rather than decoding the same page beside it. A question withdrawn meanwhile (a
    // hide) leaves the frame to the next one.
    void waitsForTheFrameBeingMade() {
        const QString path = File(QStringLiteral("waited.png"));
        WriteSolidPng(path, 1200, 900, QColor(220, 20, 20));
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        auto headStart = std::make_shared<THeadStart>(
            [path, released] {
                released.wait();
                return path;
            },
            kDesktop);
        THeadStart::Install(headStart);

        TDecodePipeline pipeline(128LL * 1024 * 1024);
        QSignalSpy ready(&pipeline, &TDecodePipeline::FrameReady);
        QVERIFY(!pipeline.Show({path, 0, kFitRule}));
        QTRY_COMPARE(headStart->Waiting(), 1);
        pipeline.CancelAll();
        QTRY_COMPARE(pipeline.Pending(), 0);
        QVERIFY(ready.isEmpty());

        QVERIFY(!pipeline.Show({path, 0, kFitRule}));
        release.set_value();
        QVERIFY(ready.wait(20000));
        const TFrame frame = ready.takeFirst().at(1).value<TFrame>();
        QCOMPARE(headStart->Served(), 1);
        QVERIFY(Near(Centre(frame), QColor(220, 20, 20)));
        QCOMPARE(frame.Image.size(), QSize(600, 450));
    }

    // Ended while it decodes (the program closes at once): the thread stops and nothing
    // is served afterwards.
    void endsWhileDecoding() {
        const QString path = File(QStringLiteral("large.png"));
        WriteSolidPng(path, 4000, 3000, QColor(220, 20, 20));
        for (int i = 0; i < 3; ++i) {
            auto headStart = std::make_shared<THeadStart>([path] { return path; }, kDesktop);
            headStart.reset(); // cancels and waits: must neither hang nor crash
        }
        THeadStart::Install(nullptr);
        TDecodePipeline pipeline(128LL * 1024 * 1024);
        const TFrame frame = Shown(pipeline, path);
        QVERIFY(Near(Centre(frame), QColor(220, 20, 20)));
    }
};

QTEST_GUILESS_MAIN(TestHeadStart)
#include "tst_headstart.moc"
