// The folder watcher on real folders with the kernel's own notifications: when a file
// counts as complete (not while its writer has it open, not while it keeps changing, never
// empty), which changes of listed files are reported, removals and moved folders, bursts
// gathered into few reports, and the fallback to polling when the kernel has no watch left
// (a user namespace of its own with the watch limit at 0, so nothing else on the machine
// is touched).
#include "viewer/FolderWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TFolderChanges)

namespace {

// Short enough for a quick test, long enough that a loaded machine's scheduling does not
// look like a finished file.
constexpr int kSettleMs = 400;

QByteArray Bytes(int ACount, char AFill) {
    return QByteArray(ACount, AFill);
}

bool WriteFile(const QString& APath, const QByteArray& ABytes) {
    QFile f(APath);
    return f.open(QIODevice::WriteOnly) && f.write(ABytes) == ABytes.size();
}

// Every report the watcher sent, merged.
struct TCollected {
    QHash<QString, TFileStamp> Complete;
    QStringList Removed;
    bool ListAgain = false;
    int Reports = 0;
};

enum class TChange { RenamedOver, CopiedOver, Appended, Deleted };

} // namespace

class TestFolderWatcher : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TFolderWatcher> FWatcher;
    TCollected FGot;

    QString Path(const QString& AName) const { return FDir->filePath(AName); }
    void Watch(const QHash<QString, TFileStamp>& AListed = {}) {
        FWatcher =
            std::make_unique<TFolderWatcher>(TFolderWatcher::TTiming{kSettleMs, 300, 50}, nullptr);
        connect(FWatcher.get(), &TFolderWatcher::Changed, this, [this](const TFolderChanges& A) {
            ++FGot.Reports;
            for (auto it = A.Complete.cbegin(); it != A.Complete.cend(); ++it)
                FGot.Complete.insert(it.key(), it.value());
            FGot.Removed << A.Removed;
            FGot.ListAgain = FGot.ListAgain || A.ListAgain;
        });
        FWatcher->Watch({FDir->path()}, AListed);
    }
    bool PendingWith(const QString& APath, qint64 ASize) const {
        return FWatcher->Pending().contains(qMakePair(APath, ASize));
    }

private slots:
    void init() {
        FDir = std::make_unique<QTemporaryDir>();
        QVERIFY(FDir->isValid());
        FGot = {};
    }
    void cleanup() {
        FWatcher.reset();
        FDir.reset();
    }

    // A scan written in three pieces with its writer open all along: examined (its size
    // shows) but not complete until the writer closes it, then reported once.
    void fileWrittenInPiecesJoinsOnlyOnceClosed() {
        Watch();
        const QString path = Path("10000001~1.png");
        QFile writer(path);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        for (int i = 1; i <= 3; ++i) {
            writer.write(Bytes(5000, char('a' + i)));
            writer.flush();
            // Examined after the settle time with this size, and still not complete.
            QTRY_VERIFY_WITH_TIMEOUT(PendingWith(path, 5000 * i), 10000);
            QVERIFY(!FGot.Complete.contains(path));
            QVERIFY(!FWatcher->IsComplete(path));
        }
        writer.close();
        QTRY_VERIFY_WITH_TIMEOUT(FGot.Complete.contains(path), 10000);
        QCOMPARE(FGot.Complete.value(path).Size, 15000);
        QVERIFY(FWatcher->IsComplete(path));
        QVERIFY(FWatcher->Pending().isEmpty());
    }

    // An empty file is never complete, however long it stays; it joins once it has bytes.
    void emptyFileNeverJoins() {
        Watch();
        const QString path = Path("10000001~2.png");
        QVERIFY(WriteFile(path, {}));
        QTRY_VERIFY_WITH_TIMEOUT(PendingWith(path, 0), 10000);
        // Examined twice more, unchanged and still empty: still not complete.
        const int checks = FWatcher->Checks();
        QTRY_VERIFY_WITH_TIMEOUT(FWatcher->Checks() >= checks + 2, 10000);
        QVERIFY(PendingWith(path, 0));
        QCOMPARE(FGot.Reports, 0);
        QVERIFY(!FWatcher->IsComplete(path));
        QVERIFY(WriteFile(path, Bytes(100, 'x')));
        QTRY_VERIFY_WITH_TIMEOUT(FGot.Complete.contains(path), 10000);
    }

    // A listed file replaced or changed is reported complete again with its new stamp;
    // one deleted is reported gone.
    void changesOfListedFiles_data() {
        QTest::addColumn<int>("change");
        QTest::newRow("renamed over") << int(TChange::RenamedOver);
        QTest::newRow("copied over (truncated and written)") << int(TChange::CopiedOver);
        QTest::newRow("appended to") << int(TChange::Appended);
        QTest::newRow("deleted") << int(TChange::Deleted);
    }
    void changesOfListedFiles() {
        QFETCH(int, change);
        const QString path = Path("10000001~1.png");
        const QString other = Path("10000001~2.png");
        QVERIFY(WriteFile(path, Bytes(3000, 'o')));
        QVERIFY(WriteFile(other, Bytes(3000, 'p')));
        const TFileStamp before = StampOf(path);
        Watch({{path, before}, {other, StampOf(other)}});
        QVERIFY(FWatcher->IsComplete(path));
        switch (TChange(change)) {
        case TChange::RenamedOver: {
            const QString temp = FDir->filePath(".incoming");
            QVERIFY(WriteFile(temp, Bytes(3000, 'n')));
            QCOMPARE(
                ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()),
                0);
            break;
        }
        case TChange::CopiedOver:
            QVERIFY(WriteFile(path, Bytes(2500, 'n')));
            break;
        case TChange::Appended: {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append));
            f.write("more");
            break;
        }
        case TChange::Deleted:
            QVERIFY(QFile::remove(path));
            break;
        }
        if (TChange(change) == TChange::Deleted) {
            QTRY_VERIFY_WITH_TIMEOUT(FGot.Removed.contains(path), 10000);
            QVERIFY(!FWatcher->IsComplete(path));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(FGot.Complete.contains(path), 10000);
            QCOMPARE(FGot.Complete.value(path), StampOf(path));
            QVERIFY(FGot.Complete.value(path) != before);
        }
        // The file nobody touched is never reported.
        QVERIFY(!FGot.Complete.contains(other) && !FGot.Removed.contains(other));
        QVERIFY(!FGot.ListAgain);
    }

    // The folder itself moved away: the watcher cannot name the files, the folder is to be
    // listed again.
    void movedFolderAsksForAListing() {
        QVERIFY(WriteFile(Path("10000001~1.png"), Bytes(100, 'a')));
        Watch();
        const QString moved = FDir->path() + "-moved";
        QVERIFY(QDir().rename(FDir->path(), moved));
        QTRY_VERIFY_WITH_TIMEOUT(FGot.ListAgain, 10000);
        QVERIFY(QDir().rename(moved, FDir->path()));
    }

    // A thousand files created and deleted in a burst, then a thousand created: none of
    // the first is ever reported, the second arrive in a few reports, not a thousand.
    void burstIsGatheredIntoFewReports() {
        Watch();
        for (int i = 0; i < 1000; ++i)
            QVERIFY(WriteFile(Path(QStringLiteral("gone-%1.png").arg(i)), Bytes(10, 'g')));
        for (int i = 0; i < 1000; ++i)
            QVERIFY(QFile::remove(Path(QStringLiteral("gone-%1.png").arg(i))));
        for (int i = 0; i < 1000; ++i)
            QVERIFY(WriteFile(Path(QStringLiteral("kept-%1.png").arg(i)), Bytes(10, 'k')));
        QTRY_COMPARE_WITH_TIMEOUT(FGot.Complete.size(), 1000, 20000);
        for (auto it = FGot.Complete.cbegin(); it != FGot.Complete.cend(); ++it)
            QVERIFY2(QFileInfo(it.key()).fileName().startsWith("kept-"), qPrintable(it.key()));
        QVERIFY(FGot.Removed.isEmpty()); // never complete, so never "gone" either
        QVERIFY2(FGot.Reports <= 10, qPrintable(QString::number(FGot.Reports)));
        QVERIFY(FWatcher->Pending().isEmpty());
    }

    // Nothing is reported once the watch is stopped (the window was hidden or closed).
    void stoppedWatcherReportsNothing() {
        Watch();
        const QString path = Path("10000001~1.png");
        QVERIFY(WriteFile(path, Bytes(100, 'a')));
        QTRY_VERIFY(!FWatcher->Pending().isEmpty());
        FWatcher->Stop();
        QVERIFY(FWatcher->Pending().isEmpty());
        QVERIFY(!FWatcher->IsWatching());
        // A second file and a check that would have been due: still nothing. Watched anew,
        // the same folder reports the next file again (the watch really works).
        QVERIFY(WriteFile(Path("10000001~2.png"), Bytes(100, 'b')));
        FWatcher->Watch({FDir->path()}, {});
        const QString third = Path("10000001~3.png");
        QVERIFY(WriteFile(third, Bytes(100, 'c')));
        QTRY_VERIFY_WITH_TIMEOUT(FGot.Complete.contains(third), 10000);
        QVERIFY(!FGot.Complete.contains(path));
    }

    // No inotify watch left: the watcher says so in one trace line, polls the folder, and a
    // new file there still asks for a listing. Runs in a child process in a user namespace
    // of its own whose watch limit is 0: the limit is the kernel's, nothing is simulated,
    // and the rest of the machine keeps its watches.
    void watchLimitReachedFallsBackToPolling() {
        if (qEnvironmentVariableIsSet("LV_WATCH_LIMIT_CHILD")) {
            Watch();
            QVERIFY(FWatcher->IsPolling());
            // The first poll takes the folder as it is, to compare with.
            QTRY_VERIFY_WITH_TIMEOUT(FWatcher->Polls() >= 1, 10000);
            QVERIFY(WriteFile(Path("10000001~1.png"), Bytes(100, 'a')));
            QTRY_VERIFY_WITH_TIMEOUT(FGot.ListAgain, 10000);
            FGot.ListAgain = false;
            QVERIFY(WriteFile(Path("10000001~2.png"), Bytes(100, 'b')));
            QTRY_VERIFY_WITH_TIMEOUT(FGot.ListAgain, 10000);
            return;
        }
        const QString unshare = QStandardPaths::findExecutable("unshare");
        if (unshare.isEmpty())
            QSKIP("unshare(1) is not installed");
        QProcess probe;
        probe.start(unshare, {"-U", "-r", "true"});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP("user namespaces are not allowed here");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LV_WATCH_LIMIT_CHILD", "1");
        env.insert("LUMIVANE_TRACE", "1");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.start(unshare, {"-U", "-r", "sh", "-c",
                              "echo 0 > /proc/sys/user/max_inotify_watches && exec \"$0\" \"$@\"",
                              QCoreApplication::applicationFilePath(),
                              "watchLimitReachedFallsBackToPolling"});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray out = child.readAllStandardOutput();
        const QByteArray err = child.readAllStandardError();
        QVERIFY2(child.exitCode() == 0, (out + err).constData());
        QVERIFY2(out.contains("PASS   : TestFolderWatcher::watchLimitReachedFallsBackToPolling"),
                 out.constData());
        QCOMPARE(err.count("lumivane: folder watch: no inotify watch left"), 1);
    }
};

QTEST_GUILESS_MAIN(TestFolderWatcher)
#include "tst_folderwatcher.moc"
