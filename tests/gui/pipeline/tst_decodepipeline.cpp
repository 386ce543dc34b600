// The decode pipeline and its frame cache on real files decoded by real workers: what a
// Show answers from the cache and what it decodes, which frames reach the screen when
// requests supersede each other, prefetch order and takeover, errors, detail, the budget.
#include "tests/gui/imaging/ImagingFixtures.h"
#include "viewer/DecodePipeline.h"
#include "viewer/FrameCache.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

Q_DECLARE_METATYPE(TFrameKey)
Q_DECLARE_METATYPE(TFrame)
Q_DECLARE_METATYPE(TDecodeKind)

namespace {

// The rule of the designed window: a 496-high image area in a 600-wide window, fit.
const TDrawRule kFitRule{496, 600, false, 1.0, 1.0F, {}};

TDrawRule Zoomed(float AZoom) {
    TDrawRule rule = kFitRule;
    rule.Zoom = AZoom;
    return rule;
}

QImage Solid(int AWidth, int AHeight) {
    QImage image(AWidth, AHeight, QImage::Format_RGB32);
    image.fill(Qt::gray);
    return image;
}

TFrame FrameOf(QImage AImage) {
    TFrame frame;
    frame.FullSize = AImage.size();
    frame.Image = std::move(AImage);
    return frame;
}

constexpr qint64 kMiB = qint64{1024} * 1024;

// Every FrameReady the pipeline sends, in order.
struct Received {
    TFrameKey Key;
    TFrame Frame;
    TDecodeKind Kind;
};

} // namespace

class TestDecodePipeline : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;
    std::vector<Received> FReceived;

    QString File(const char* AName) const { return FDir.filePath(QString::fromLatin1(AName)); }
    void WriteSolidJpeg(const char* AName, int AWidth, int AHeight, QColor AColour) {
        WriteJpegOf(File(AName), AWidth, AHeight, false, 90, {}, [&](int, int, uint8_t* px) {
            px[0] = static_cast<uint8_t>(AColour.red());
            px[1] = static_cast<uint8_t>(AColour.green());
            px[2] = static_cast<uint8_t>(AColour.blue());
        });
    }
    std::unique_ptr<TDecodePipeline> NewPipeline(qint64 ABudget = 128 * kMiB) {
        auto pipeline = std::make_unique<TDecodePipeline>(ABudget);
        FReceived.clear();
        connect(pipeline.get(), &TDecodePipeline::FrameReady, this,
                [this](const TFrameKey& AKey, const TFrame& AFrame, TDecodeKind AKind) {
                    FReceived.push_back({AKey, AFrame, AKind});
                });
        return pipeline;
    }
    static TDecodeRequest Request(const QString& APath, TDrawRule ARule = kFitRule) {
        return {APath, 0, ARule};
    }
    static QColor Centre(const TFrame& AFrame) {
        return AFrame.Image.pixelColor(AFrame.Image.width() / 2, AFrame.Image.height() / 2);
    }
    static bool Near(QColor A, QColor B) {
        return std::abs(A.red() - B.red()) < 16 && std::abs(A.green() - B.green()) < 16 &&
               std::abs(A.blue() - B.blue()) < 16;
    }

private slots:
    void initTestCase() {
        QVERIFY(FDir.isValid());
        WriteSolidJpeg("red.jpg", 1600, 1200, QColor(220, 20, 20));
        WriteSolidJpeg("green.jpg", 1600, 1200, QColor(20, 200, 20));
        WriteSolidJpeg("blue.jpg", 1600, 1200, QColor(20, 20, 220));
        WriteSolidJpeg("big.jpg", 4000, 3000, QColor(200, 200, 20));
        // The head of a JPEG: the header reads, the pixels do not.
        QFile whole(File("red.jpg"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QFile cut(File("cut.jpg"));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(whole.read(700));
    }

    // The cache on its own: frames of 256 KiB under a budget of 1 MiB.
    void cacheEvictsLeastRecentlyUsedWithinBudget() {
        TFrameCache cache(1 * kMiB);
        for (int i = 0; i < 4; ++i)
            cache.Insert({QString::number(i), 0}, FrameOf(Solid(256, 256)));
        QCOMPARE(cache.Used(), 1 * kMiB);
        QVERIFY(cache.Find({QStringLiteral("0"), 0})); // 0 is now the most recent
        cache.Insert({QStringLiteral("4"), 0}, FrameOf(Solid(256, 256)));
        QCOMPARE(cache.Used(), 1 * kMiB);
        QVERIFY(cache.Contains({QStringLiteral("0"), 0}));
        QVERIFY(!cache.Contains({QStringLiteral("1"), 0}));
        QVERIFY(cache.Contains({QStringLiteral("2"), 0}));
        QVERIFY(cache.Contains({QStringLiteral("4"), 0}));
    }

    void cacheNeverEvictsShownFrame_data() {
        QTest::addColumn<QSize>("shownSize");
        QTest::addColumn<int>("othersLeft");
        // The shown frame is the least recently used: eviction passes it over.
        QTest::newRow("shown is the oldest") << QSize(256, 256) << 3;
        // Larger than the whole budget: it stays, alone.
        QTest::newRow("shown over budget") << QSize(1024, 512) << 0;
    }
    void cacheNeverEvictsShownFrame() {
        QFETCH(QSize, shownSize);
        QFETCH(int, othersLeft);
        TFrameCache cache(1 * kMiB);
        const TFrameKey shown{QStringLiteral("shown"), 2};
        cache.SetShown(shown);
        cache.Insert(shown, FrameOf(Solid(shownSize.width(), shownSize.height())));
        for (int i = 0; i < 6; ++i)
            cache.Insert({QString::number(i), 0}, FrameOf(Solid(256, 256)));
        QVERIFY(cache.Contains(shown));
        QCOMPARE(cache.Count(), othersLeft + 1);
        const qint64 shownBytes = cache.Peek(shown)->Bytes();
        QVERIFY(cache.Used() <= std::max(cache.Budget(), shownBytes));
        // No longer on screen: it is an ordinary frame again and goes first.
        cache.SetShown({});
        cache.Insert({QStringLiteral("next"), 0}, FrameOf(Solid(256, 256)));
        QVERIFY(!cache.Contains(shown));
        QVERIFY(cache.Used() <= cache.Budget());
    }

    void cacheKeepsSharperFrameAndForgets() {
        TFrameCache cache(64 * kMiB);
        const TFrameKey key{QStringLiteral("a.tif"), 1};
        TFrame sharp = FrameOf(Solid(800, 600));
        sharp.FullSize = {1600, 1200};
        sharp.PageCount = 3;
        cache.Insert(key, sharp);
        TFrame fit = FrameOf(Solid(400, 300));
        fit.FullSize = {1600, 1200};
        fit.PageCount = 3;
        cache.Insert(key, fit);
        QCOMPARE(cache.Find(key)->Image.size(), QSize(800, 600));
        QCOMPARE(cache.PageCount(key.Path), 3);
        // A failure replaces it: the file changed.
        TFrame failed;
        failed.Error = QStringLiteral("a.tif: truncated");
        cache.Insert(key, failed);
        QVERIFY(cache.Find(key)->Failed());
        QCOMPARE(cache.Used(), 0);
        cache.Insert({QStringLiteral("b.tif"), 0}, fit);
        cache.Remove(key.Path);
        QVERIFY(!cache.Contains(key));
        QCOMPARE(cache.PageCount(key.Path), -1);
        QCOMPARE(cache.Count(), 1);
        cache.Clear();
        QCOMPARE(cache.Count(), 0);
        QCOMPARE(cache.Used(), 0);
    }

    void cacheBudgetFromEnvironment_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<qint64>("mebibytes");
        QTest::newRow("unset") << QByteArray() << qint64(128);
        QTest::newRow("set") << QByteArray("64") << qint64(64);
        QTest::newRow("blanks around") << QByteArray(" 32 ") << qint64(32);
        QTest::newRow("zero") << QByteArray("0") << qint64(128);
        QTest::newRow("negative") << QByteArray("-5") << qint64(128);
        QTest::newRow("not a number") << QByteArray("lots") << qint64(128);
        QTest::newRow("absurd") << QByteArray("99999999999") << qint64(128);
    }
    void cacheBudgetFromEnvironment() {
        QFETCH(QByteArray, value);
        QFETCH(qint64, mebibytes);
        if (value.isNull())
            qunsetenv("LUMIVANE_CACHE_MB");
        else
            qputenv("LUMIVANE_CACHE_MB", value);
        QCOMPARE(FrameCacheBudgetFromEnvironment(), mebibytes * kMiB);
        qunsetenv("LUMIVANE_CACHE_MB");
    }

    // The pipeline with real workers.
    void showDecodesInBackgroundThenAnswersFromCache() {
        auto pipeline = NewPipeline();
        QVERIFY(!pipeline->Show(Request(File("red.jpg"))));
        // Not decoded inside the call: the frame comes through the event loop.
        QVERIFY(FReceived.empty());
        QVERIFY(pipeline->IsBusy());
        QTRY_COMPARE(FReceived.size(), std::size_t(1));
        const Received& got = FReceived.front();
        QCOMPARE(got.Kind, TDecodeKind::Show);
        QCOMPARE(got.Key.Path, File("red.jpg"));
        QVERIFY(!got.Frame.Failed());
        QCOMPARE(got.Frame.FullSize, QSize(1600, 1200));
        // Drawn 600 x 450 in the designed window; decoded no larger.
        QCOMPARE(got.Frame.Image.size(), QSize(600, 450));
        QVERIFY(Near(Centre(got.Frame), QColor(220, 20, 20)));
        QCOMPARE(pipeline->Cache().Shown(), got.Key);

        const std::optional<TFrame> again = pipeline->Show(Request(File("red.jpg")));
        QVERIFY(again);
        QCOMPARE(again->Image.size(), QSize(600, 450));
        QCOMPARE(pipeline->DecodesStarted(), 1);
        // A window twice as large needs more pixels than the cache holds (the fit keeps
        // the whole page inside the area, so width alone would not do).
        TDrawRule wider = kFitRule;
        wider.ClientWidth = 1200;
        wider.AreaHeight = 2 * kFitRule.AreaHeight;
        QVERIFY(!pipeline->Show(Request(File("red.jpg"), wider)));
        QTRY_COMPARE(FReceived.size(), std::size_t(2));
        QCOMPARE(FReceived.back().Frame.Image.size(), QSize(1200, 900));
    }

    void laterRequestsSupersedeEarlierOnes_data() {
        QTest::addColumn<bool>("hideAtEnd");
        QTest::newRow("three shows, the last wins") << false;
        QTest::newRow("three shows, then a hide") << true;
    }
    void laterRequestsSupersedeEarlierOnes() {
        QFETCH(bool, hideAtEnd);
        auto pipeline = NewPipeline();
        // All in one turn of the event loop, so no decode can have been handed back yet.
        QVERIFY(!pipeline->Show(Request(File("big.jpg"))));
        QVERIFY(!pipeline->Show(Request(File("green.jpg"))));
        pipeline->Detail(Request(File("green.jpg"), Zoomed(4)));
        QVERIFY(!pipeline->Show(Request(File("blue.jpg"))));
        if (hideAtEnd)
            pipeline->CancelAll();
        QTRY_COMPARE(pipeline->Pending(), 0);
        QVERIFY(!pipeline->IsBusy());
        if (hideAtEnd) {
            QVERIFY(FReceived.empty());
            return;
        }
        QCOMPARE(FReceived.size(), std::size_t(1));
        QCOMPARE(FReceived.front().Key.Path, File("blue.jpg"));
        QVERIFY(Near(Centre(FReceived.front().Frame), QColor(20, 20, 220)));
    }

    void showTakesOverPrefetchUnderWay() {
        auto pipeline = NewPipeline();
        pipeline->Prefetch({Request(File("green.jpg")), Request(File("blue.jpg"))});
        QCOMPARE(pipeline->DecodesStarted(), 1); // one neighbour at a time
        // The user asks for the page being prefetched: no second decode of it.
        QVERIFY(!pipeline->Show(Request(File("green.jpg"))));
        QCOMPARE(pipeline->DecodesStarted(), 1);
        QTRY_COMPARE(FReceived.size(), std::size_t(1));
        QCOMPARE(FReceived.front().Key.Path, File("green.jpg"));
        QCOMPARE(FReceived.front().Kind, TDecodeKind::Show);
        // The old list ended with the Show; blue was never started.
        QTRY_COMPARE(pipeline->Pending(), 0);
        QCOMPARE(pipeline->DecodesStarted(), 1);
    }

    void prefetchWaitsForWhatTheUserAskedFor() {
        auto pipeline = NewPipeline();
        QVERIFY(!pipeline->Show(Request(File("red.jpg"))));
        pipeline->Prefetch({Request(File("green.jpg")), Request(File("blue.jpg"))});
        QCOMPARE(pipeline->DecodesStarted(), 1);
        QTRY_COMPARE(FReceived.size(), std::size_t(1));
        // Then the neighbours, one after the other, into the cache only.
        QTRY_COMPARE(pipeline->DecodesStarted(), 3);
        QTRY_COMPARE(pipeline->Pending(), 0);
        QCOMPARE(FReceived.size(), std::size_t(1));
        QVERIFY(pipeline->Cache().Contains({File("green.jpg"), 0}));
        QVERIFY(pipeline->Cache().Contains({File("blue.jpg"), 0}));
        // Held already: a second list of the same neighbours decodes nothing.
        pipeline->Prefetch({Request(File("green.jpg")), Request(File("blue.jpg"))});
        QCOMPARE(pipeline->DecodesStarted(), 3);
        // Shown from the cache at once.
        const std::optional<TFrame> blue = pipeline->Show(Request(File("blue.jpg")));
        QVERIFY(blue);
        QVERIFY(Near(Centre(*blue), QColor(20, 20, 220)));
    }

    void decodeErrorReachesTheRequester_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("truncated") << QStringLiteral("cut.jpg") << QStringLiteral("cut.jpg");
        QTest::newRow("missing") << QStringLiteral("gone.jpg") << QStringLiteral("gone.jpg");
    }
    void decodeErrorReachesTheRequester() {
        QFETCH(QString, file);
        QFETCH(QString, reasonPart);
        auto pipeline = NewPipeline();
        QVERIFY(!pipeline->Show(Request(FDir.filePath(file))));
        QTRY_COMPARE(FReceived.size(), std::size_t(1));
        const TFrame& frame = FReceived.front().Frame;
        QVERIFY(frame.Failed());
        QVERIFY2(frame.Error.contains(reasonPart), qPrintable(frame.Error));
        QVERIFY(frame.Image.isNull());
    }

    void detailBringsSharperFrameThatServesLaterShows() {
        auto pipeline = NewPipeline();
        QVERIFY(!pipeline->Show(Request(File("red.jpg"))));
        QTRY_COMPARE(FReceived.size(), std::size_t(1));
        // The widest zoom draws 2400 x 1800: the file's own 1600 x 1200 is all there is.
        pipeline->Detail(Request(File("red.jpg"), Zoomed(4)));
        QTRY_COMPARE(FReceived.size(), std::size_t(2));
        QCOMPARE(FReceived.back().Kind, TDecodeKind::Detail);
        QCOMPARE(FReceived.back().Frame.Image.size(), QSize(1600, 1200));
        const std::optional<TFrame> fit = pipeline->Show(Request(File("red.jpg")));
        QVERIFY(fit);
        QCOMPARE(fit->Image.size(), QSize(1600, 1200));
        QCOMPARE(pipeline->DecodesStarted(), 2);
    }

    // The last page of a file whose page count nobody knows yet: the worker finds it.
    void lastPageOfAnUnknownFile() {
        WriteColourPagesTiff(File("three.tif"), {{{300, 400}, QColor(200, 0, 0)},
                                                 {{400, 300}, QColor(0, 200, 0)},
                                                 {{300, 400}, QColor(0, 0, 200)}});
        auto pipeline = NewPipeline();
        QVERIFY(!pipeline->Show({File("three.tif"), kLastPage, kFitRule}));
        QTRY_COMPARE(FReceived.size(), std::size_t(1));
        QCOMPARE(FReceived.front().Key, (TFrameKey{File("three.tif"), 2}));
        QCOMPARE(FReceived.front().Frame.PageCount, 3);
        QVERIFY(Near(Centre(FReceived.front().Frame), QColor(0, 0, 200)));
        // Known from now on: the last page comes from the cache.
        QCOMPARE(pipeline->Cache().PageCount(File("three.tif")), 3);
        const std::optional<TFrame> again =
            pipeline->Show({File("three.tif"), kLastPage, kFitRule});
        QVERIFY(again);
        QCOMPARE(again->Page, 2);
        QCOMPARE(pipeline->DecodesStarted(), 1);
    }

    void cacheKeepsToBudgetWhileStepping() {
        // Budget for about two fitted frames (600 x 450 x 4 bytes ~ 1 MiB each).
        auto pipeline = NewPipeline(2 * kMiB + kMiB / 2);
        const char* files[] = {"red.jpg", "green.jpg", "blue.jpg", "big.jpg", "red.jpg"};
        for (const char* name : files) {
            const std::size_t before = FReceived.size();
            if (!pipeline->Show(Request(File(name))))
                QTRY_COMPARE(FReceived.size(), before + 1);
            const TFrameCache& cache = pipeline->Cache();
            const TFrame* shown = cache.Peek(cache.Shown());
            QVERIFY(shown);
            // big.jpg comes at a DCT scale of 1000 x 750 (~2.9 MiB): over the budget on its
            // own, so it is kept alone.
            QVERIFY(cache.Used() <= std::max(cache.Budget(), shown->Bytes()));
        }
        QVERIFY(pipeline->Cache().Count() <= 2);
    }

    // Thumbnails: kept under keys of their own size, so a tile and the page never take
    // each other's place; decoded on every worker, but the page the user asks for takes the
    // workers back (the tiles decoding then wait again); a list replaced drops the tiles no
    // longer on it.
    void thumbnailsStayOutOfTheWay() {
        auto pipeline = NewPipeline();
        const QString red = File("red.jpg");
        const QStringList others{File("green.jpg"), File("blue.jpg"), File("big.jpg")};
        std::vector<TDecodeRequest> tiles;
        for (const QString& path : others)
            tiles.push_back(ThumbnailRequest(path, 0, 80));
        tiles.push_back(ThumbnailRequest(red, 0, 80));
        pipeline->Thumbnails(tiles);
        QCOMPARE(pipeline->Running(), std::min(4, pipeline->Workers()));
        QVERIFY(!pipeline->Show(Request(red)));
        // The page alone: every tile decoding gave its worker up.
        QCOMPARE(pipeline->Running(), 1);
        QTRY_COMPARE(pipeline->Pending(), 0);
        // Every tile came, those put back included, small, beside the page's own frame.
        const TFrameCache& cache = pipeline->Cache();
        for (const QString& path : others + QStringList{red}) {
            const TFrame* tile = cache.Peek(ThumbnailKey(path, 0, 80));
            QVERIFY2(tile && !tile->Failed(), qPrintable(path));
            QCOMPARE(std::max(tile->Image.width(), tile->Image.height()), 80);
            QVERIFY(tile->Bytes() <= 80 * 80 * 2);
        }
        const TFrame* page = cache.Peek({red, 0});
        QVERIFY(page && page->Image.width() > 80);
        QVERIFY(Near(Centre(*page), QColor(220, 20, 20)));
        // A tile of another size is another entry.
        QVERIFY(!cache.Contains(ThumbnailKey(red, 0, 100)));
        // Tiles scrolled away before their turn are never decoded: at most those already
        // started on the workers.
        int started = pipeline->DecodesStarted();
        std::vector<TDecodeRequest> larger;
        for (const QString& path : others + QStringList{red})
            larger.push_back(ThumbnailRequest(path, 0, 100));
        pipeline->Thumbnails(larger);
        pipeline->Thumbnails({});
        QCOMPARE(pipeline->Running(), 0);
        QTRY_COMPARE(pipeline->Pending(), 0);
        QVERIFY(pipeline->DecodesStarted() - started <= pipeline->Workers());
        // A list that keeps the tiles decoding does not start them twice.
        std::vector<TDecodeRequest> smaller;
        for (const QString& path : others + QStringList{red})
            smaller.push_back(ThumbnailRequest(path, 0, 60));
        started = pipeline->DecodesStarted();
        pipeline->Thumbnails(smaller);
        const int first = pipeline->DecodesStarted() - started;
        pipeline->Thumbnails(smaller);
        QCOMPARE(pipeline->DecodesStarted() - started, first);
        QTRY_COMPARE(pipeline->Pending(), 0);
        QCOMPARE(pipeline->DecodesStarted() - started, 4);
    }

    // Tiles decode on threads of their own that yield to the GUI thread; pages keep the
    // priority they had. Read back from the kernel, by the pools' thread names.
    void tilesRunBelowThePages() {
        auto pipeline = NewPipeline();
        std::vector<TDecodeRequest> tiles;
        for (const char* name : {"green.jpg", "blue.jpg", "big.jpg"})
            tiles.push_back(ThumbnailRequest(File(name), 0, 72));
        pipeline->Thumbnails(tiles);
        QTRY_COMPARE(pipeline->Pending(), 0);
        QVERIFY(!pipeline->Show(Request(File("red.jpg"))));
        QTRY_COMPARE(pipeline->Pending(), 0);
        std::map<QString, std::set<int>> niceByName; // pool threads stay a while when idle
        for (const QString& task :
             QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
            QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
            if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
                continue;
            const QString name = QString::fromLatin1(comm.readAll()).trimmed();
            // The fields after the name: state is the 3rd field of the line, nice the 19th.
            const QByteArray line = stat.readAll();
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            if (name.startsWith(QLatin1String("DecodePipeline")) && fields.size() > 16)
                niceByName[name].insert(fields[16].toInt());
        }
        QVERIFY2(niceByName.count(QStringLiteral("DecodePipeline")), "no page thread seen");
        QVERIFY2(niceByName.count(QStringLiteral("DecodePipelineT")), "no tile thread seen");
        QCOMPARE(niceByName[QStringLiteral("DecodePipeline")], std::set<int>{0});
        QCOMPARE(niceByName[QStringLiteral("DecodePipelineT")], std::set<int>{10});
    }

    // A neighbour to prefetch takes a worker from the tiles at once; the page asked for
    // takes them all, and its decode starts in the same call.
    void neighboursAndPagesGoBeforeTiles() {
        auto pipeline = NewPipeline();
        std::vector<TDecodeRequest> tiles;
        for (int side = 60; side < 60 + 8 * 4; side += 4)
            tiles.push_back(ThumbnailRequest(File("big.jpg"), 0, side));
        pipeline->Thumbnails(tiles);
        QCOMPARE(pipeline->Running(), pipeline->Workers());
        int started = pipeline->DecodesStarted();
        pipeline->Prefetch({Request(File("green.jpg"))});
        QCOMPARE(pipeline->DecodesStarted(), started + 1);
        QCOMPARE(pipeline->Running(), pipeline->Workers());
        started = pipeline->DecodesStarted();
        QVERIFY(!pipeline->Show(Request(File("blue.jpg"))));
        QCOMPARE(pipeline->DecodesStarted(), started + 1);
        QCOMPARE(pipeline->Running(), 1);
        QTRY_COMPARE(pipeline->Pending(), 0);
        // Nothing dropped on the way: the page, and every tile.
        QVERIFY(std::any_of(FReceived.begin(), FReceived.end(),
                            [](const Received& r) { return r.Kind == TDecodeKind::Show; }));
        const TFrameCache& cache = pipeline->Cache();
        for (const TDecodeRequest& tile : tiles)
            QVERIFY(cache.Contains(ThumbnailKey(tile.Path, 0, tile.Rule.Box.width())));
    }
};

QTEST_MAIN(TestDecodePipeline)
#include "tst_decodepipeline.moc"
