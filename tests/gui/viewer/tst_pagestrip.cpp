// The page strip on the real window (X server with a window manager, see scripts/with-x):
// one tile per page of every file, thumbnails decoded for the tiles in view only, the
// error tile with its reason, a container's alias, the highlight following the page, a
// click and the keys showing pages, 1,000 tiles, the geometry, and the strip remembered
// per connection.
#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.FormCommon.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/ViewerWidgets.h"
#include "viewer/strip/PageStrip.h"
#include "viewer/strip/PageStripModel.h"

#include "ViewerWindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <tiffio.h>

#include <memory>

using namespace lvtest;

namespace {

// Grey pages of the given size, page i at grey level AFirstGrey + 20 i (mod 256).
void WriteGreyPagesTiff(const QString& APath, int APages, QSize ASize, int AFirstGrey = 40) {
    TIFF* tif = TIFFOpen(QFile::encodeName(APath).constData(), "w");
    QVERIFY(tif);
    std::vector<uint8_t> row(static_cast<size_t>(ASize.width()));
    for (int page = 0; page < APages; ++page) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(ASize.width()));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(ASize.height()));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(ASize.height()));
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        std::fill(row.begin(), row.end(), static_cast<uint8_t>((AFirstGrey + 20 * page) % 256));
        for (int y = 0; y < ASize.height(); ++y)
            TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

constexpr qint64 kTileBudget = 2 * 1024 * 1024 / 100; // 2 MiB for 100 tiles

} // namespace

class TestPageStrip : public QObject, ViewerWindow<> {
    Q_OBJECT

private:
    TPageStrip& Strip() { return FForm->Strip(); }
    TPageStripModel& Tiles() { return Strip().StripModel(); }
    QString Title() { return Child<QLabel>("lblCurrentImageName")->text(); }
    QVariant Tile(int ARow, int ARole) { return Tiles().index(ARow).data(ARole); }

    void CreateForm() { ViewerWindow::CreateForm({700, 600}); }
    // The identifier shown with the strip open and every page count known.
    void Open(const char* AId, int ARows) {
        FForm->NewImage(AId);
        QVERIFY(Settled());
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        if (!Strip().isVisible())
            Key(Qt::Key_F9);
        QVERIFY(Strip().isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(Tiles().rowCount(), ARows, 10000);
    }
    // Input as a user's, through the X server.
    static void Xdotool(const QStringList& AArguments) {
        QProcess tool;
        tool.start(QStringLiteral("xdotool"), AArguments);
        QVERIFY2(tool.waitForFinished(10000) && tool.exitCode() == 0,
                 qPrintable(AArguments.join(' ') + ": " + tool.readAllStandardError()));
    }
    bool InView(int ARow) {
        return Strip().viewport()->rect().contains(Strip().visualRect(Tiles().index(ARow)));
    }

private slots:
    void initTestCase() {
        QVERIFY(FRoot.isValid());
        QVERIFY2(!QStandardPaths::findExecutable("xdotool").isEmpty(), "xdotool is needed");
        const QString f = Folder("5555");
        QVERIFY(DocumentPage({1000, 1414}, Qt::red, "one").save(f + "55550001~1.png"));
        WriteGreyPagesTiff(f + "55550001~2.tif", 4, {700, 990});
        QFile broken(f + "55550001~3.jpg");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("this is no picture at all, whatever its name says");
        broken.close();
        QFile container(f + "55550001~4.lva");
        QVERIFY(container.open(QIODevice::WriteOnly));
        container.write("55550001~1.png\n");
        container.close();
        WriteGreyPagesTiff(Folder("7777") + "77770001~1.tif", 1000, {40, 56});
        // A4 photos around a link out of the sources, which is listed but never opened.
        const QString a4 = Folder("8888");
        for (int i = 1; i <= 12; ++i)
            if (i != 2)
                QVERIFY(
                    DocumentPage({2480, 3508}, QColor::fromHsv(i * 30, 200, 160), "a4")
                        .save(a4 + QStringLiteral("88880001~%1.jpg").arg(i, 2, 10, QChar('0'))));
        QVERIFY(DocumentPage({300, 400}, Qt::darkGreen, "outside").save(FRoot.filePath("out.png")));
        QVERIFY(QFile::link(FRoot.filePath("out.png"), a4 + "88880001~02.jpg"));
    }

    void init() {
        StartHost();
        CreateForm();
    }

    void cleanup() { EndHost(); }

    // One tile per page of every file, labelled by file and page; the broken file's tile
    // carries the reason the window gives for it, the container's its alias; every tile
    // decoded is small enough that 100 of them fit 2 MiB.
    void tilesForEveryPage() {
        Open("55550001", 7);
        const QString dot = QString(QChar(0x00B7));
        const QStringList labels{"~1",
                                 "~2 " + dot + " 1/4",
                                 "~2 " + dot + " 2/4",
                                 "~2 " + dot + " 3/4",
                                 "~2 " + dot + " 4/4",
                                 "~3",
                                 "55550001~1.png"};
        for (int row = 0; row < labels.size(); ++row) {
            Strip().scrollTo(Tiles().index(row));
            QTRY_COMPARE(Tile(row, Qt::DisplayRole).toString(), labels[row]);
            // Every tile ends decoded or failed.
            QTRY_VERIFY_WITH_TIMEOUT(
                !Tile(row, TPageStripModel::ThumbnailRole).value<QImage>().isNull() ||
                    !Tile(row, TPageStripModel::ErrorRole).toString().isEmpty(),
                10000);
        }
        const QString reason = Tile(5, TPageStripModel::ErrorRole).toString();
        QVERIFY(!reason.isEmpty());
        // (The container's tile is decoded as the window shows it: from the container.)
        for (int row : {0, 1, 2, 3, 4}) {
            QVERIFY2(Tile(row, TPageStripModel::ErrorRole).toString().isEmpty(),
                     qPrintable(QString::number(row) + " " +
                                Tile(row, TPageStripModel::ErrorRole).toString()));
            const QImage thumb = Tile(row, TPageStripModel::ThumbnailRole).value<QImage>();
            QVERIFY2(thumb.sizeInBytes() <= kTileBudget, qPrintable(QString::number(row)));
            QVERIFY(std::max(thumb.width(), thumb.height()) <= Tiles().ThumbnailSide());
        }
        // The pages of the TIFF are told apart: each tile shows its own page.
        for (int page = 0; page < 4; ++page) {
            const QImage thumb = Tile(1 + page, TPageStripModel::ThumbnailRole).value<QImage>();
            QCOMPARE(qGray(thumb.pixel(thumb.width() / 2, thumb.height() / 2)), 40 + 20 * page);
        }
        // The window says the same of the broken file when it is shown.
        Strip().scrollTo(Tiles().index(5));
        QTest::mouseClick(Strip().viewport(), Qt::LeftButton, {},
                          Strip().visualRect(Tiles().index(5)).center());
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 3);
        const QString notice = Child<TImagePage>("tabForImage")->NoticeText();
        QVERIFY2(notice.endsWith(" cannot be shown: " + reason),
                 qPrintable(notice + " / " + reason));
        // Painted in the error colour.
        const QRect tile = Strip().visualRect(Tiles().index(5));
        const QImage shot = Strip().viewport()->grab(tile).toImage();
        QCOMPARE(QColor(shot.pixel(shot.width() / 2, shot.height() / 6)).rgb(),
                 QColor(0xBC, 0x8F, 0x8F).rgb());
    }

    // A click on a tile, and the arrows with Enter when the strip has the focus, show
    // that page; the title follows.
    void clickAndKeysShowThePage() {
        Open("55550001", 7);
        const QString dot = QString(QChar(0x00B7));
        QTest::mouseClick(Strip().viewport(), Qt::LeftButton, {},
                          Strip().visualRect(Tiles().index(3)).center());
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        QCOMPARE(FForm->ShownPage(), 2);
        QVERIFY2(Title().endsWith("2 of 4 " + dot + " page 3/4"), qPrintable(Title()));
        QVERIFY(Strip().hasFocus());
        const struct {
            Qt::Key Key;
            int File, Page; // shown after the key (1-based file, 0-based page)
        } steps[] = {
            {Qt::Key_Down, 2, 2}, // the focus moves, the page stays
            {Qt::Key_Return, 2, 3}, {Qt::Key_Up, 2, 3},     {Qt::Key_Up, 2, 3},
            {Qt::Key_Up, 2, 3},     {Qt::Key_Up, 2, 3},     {Qt::Key_Enter, 1, 0},
            {Qt::Key_End, 1, 0},    {Qt::Key_Return, 4, 0},
        };
        for (const auto& step : steps) {
            Key(step.Key);
            QVERIFY(Settled());
            QCOMPARE(FForm->ImageId(), step.File);
            QCOMPARE(FForm->ShownPage(), step.Page);
        }
        // The container's page is what it names.
        QTRY_COMPARE(QString::fromStdString(FForm->SelectedImage().Alias).trimmed(),
                     QStringLiteral("55550001~1.png"));
    }

    // Going to the refused file while the tiles decode leaves them coming: every tile in
    // view arrives, and the refused one says why it has none.
    void refusedFileLeavesTheTilesComing() {
        FForm->NewImage("88880001");
        QVERIFY(Settled());
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        if (Strip().isVisible())
            Key(Qt::Key_F9);
        Key(Qt::Key_F9);
        QVERIFY(Strip().isVisible());
        QCOMPARE(Tiles().rowCount(), 12);
        int missing = 0;
        for (int row = 0; row < 12; ++row)
            missing +=
                row != 1 && Tile(row, TPageStripModel::ThumbnailRole).value<QImage>().isNull();
        QVERIFY2(missing > 0, "the tiles were all in before the refused file was chosen");
        Key(Qt::Key_Right);
        QCOMPARE(FForm->SelectedImage().CantOpenReason(), corSecured);
        QTRY_VERIFY(InView(0));
        for (int row = 0; row < 12; ++row) {
            if (!InView(row))
                continue;
            if (row == 1)
                QVERIFY(Tile(row, TPageStripModel::ErrorRole).toString().contains("refused"));
            else
                QTRY_VERIFY2_WITH_TIMEOUT(
                    !Tile(row, TPageStripModel::ThumbnailRole).value<QImage>().isNull(),
                    qPrintable(QStringLiteral("tile %1").arg(row)), 20000);
        }
    }

    // Page Down in the window moves the highlight at once and keeps it in view.
    void highlightFollowsPageDown() {
        Open("77770001", 1000);
        Child<TImagePage>("tabForImage")->setFocus();
        for (int i = 1; i <= 12; ++i) {
            Key(Qt::Key_PageDown);
            // Before the page arrives: the wanted page is what the strip marks.
            QVERIFY(Tile(i, TPageStripModel::CurrentRole).toBool());
            QVERIFY(!Tile(i - 1, TPageStripModel::CurrentRole).toBool());
            QTRY_VERIFY(InView(i));
        }
        QVERIFY(Settled());
        QCOMPARE(FForm->ShownPage(), 12);
        Key(Qt::Key_End); // one file: no move
        Key(Qt::Key_PageUp);
        QVERIFY(Tile(11, TPageStripModel::CurrentRole).toBool());
    }

    // 1,000 tiles scroll, by program, and by the wheel and the keys as a user's (XTEST
    // through xdotool); only the tiles in view are decoded, and those scrolled away before
    // their turn never are.
    void thousandTilesScroll() {
        Open("77770001", 1000);
        const QString file = FForm->Browse().FilePath(0);
        const int side = Tiles().ThumbnailSide();
        const TFrameCache& cache = FForm->Pipeline().Cache();
        // The first tiles in view are decoded...
        QTRY_VERIFY_WITH_TIMEOUT(cache.Contains(ThumbnailKey(file, 0, side)), 10000);
        // ...and a jump to the end leaves the rest of the top behind.
        Strip().scrollToBottom();
        QTRY_VERIFY_WITH_TIMEOUT(cache.Contains(ThumbnailKey(file, 999, side)), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(FForm->Pipeline().Pending() == 0, 10000);
        int inView = 0;
        for (int row = 0; row < 1000; ++row)
            inView += InView(row);
        QVERIFY(inView >= 3);
        int decoded = 0;
        for (int page = 0; page < 1000; ++page)
            decoded += cache.Contains(ThumbnailKey(file, page, side));
        // The tiles seen at the top and at the bottom, and at most a worker's each on its way
        // when the strip jumped.
        QVERIFY2(decoded <= 2 * (inView + 1) + FForm->Pipeline().Workers(),
                 qPrintable(QString::number(decoded)));
        // Scrolling through in steps: every step's tiles arrive.
        for (int value = Strip().verticalScrollBar()->maximum() / 2; value > 0; value -= 4000) {
            Strip().verticalScrollBar()->setValue(value);
            const int top = Strip().indexAt(QPoint(4, 4)).row();
            QTRY_VERIFY_WITH_TIMEOUT(cache.Contains(ThumbnailKey(file, top, side)), 10000);
        }
        // The wheel over the strip, notch by notch from the bottom up.
        Strip().scrollToBottom();
        QScrollBar* bar = Strip().verticalScrollBar();
        const QPoint centre = Strip().viewport()->mapToGlobal(Strip().viewport()->rect().center());
        Xdotool({"mousemove", QString::number(centre.x()), QString::number(centre.y())});
        for (int notch = 0; notch < 3; ++notch) {
            const int before = bar->value();
            Xdotool({"click", "4"});
            QTRY_VERIFY(bar->value() < before);
            const int top = Strip().indexAt(QPoint(4, 4)).row();
            QTRY_VERIFY_WITH_TIMEOUT(cache.Contains(ThumbnailKey(file, top, side)), 10000);
        }
        // A click on the tile under the pointer shows its page; End and Up move the focus,
        // the view following it.
        const int clicked = Strip().indexAt(Strip().viewport()->rect().center()).row();
        Xdotool({"click", "1"});
        QTRY_COMPARE(FForm->ShownPage(), clicked);
        Xdotool({"key", "End"});
        QTRY_COMPARE(Strip().currentIndex().row(), 999);
        QStringList ups{"key", "--delay", "20"};
        for (int i = 0; i < 20; ++i)
            ups << "Up";
        Xdotool(ups);
        QTRY_COMPARE(Strip().currentIndex().row(), 979);
        QVERIFY(InView(979));
        QVERIFY(bar->value() < bar->maximum());
        QTRY_VERIFY_WITH_TIMEOUT(cache.Contains(ThumbnailKey(file, 979, side)), 10000);
        QCOMPARE(FForm->ShownPage(), clicked);
    }

    // The strip sits between the bars left of the picture, overlapping nothing, and takes
    // no width when hidden.
    void geometry() {
        Open("55550001", 7);
        FForm->resize(700, 600);
        auto rectOf = [this](QWidget* AWidget) {
            return QRect(AWidget->mapTo(FForm.get(), QPoint(0, 0)), AWidget->size());
        };
        QWidget* picture = Child<QTabWidget>("tabImage");
        QWidget* top = Child<QWidget>("TopToolBar");
        QWidget* bottom = Child<QWidget>("BottomToolBar");
        QTRY_COMPARE(rectOf(&Strip()).width(), TPageStrip::kWidth);
        for (QWidget* other : {picture, top, bottom})
            QVERIFY2(!rectOf(&Strip()).intersects(rectOf(other)), qPrintable(other->objectName()));
        QCOMPARE(rectOf(picture).left(), rectOf(&Strip()).right() + 1);
        // The tiles fit the strip's width.
        const QRect tile = Strip().visualRect(Tiles().index(0));
        QVERIFY(Strip().viewport()->rect().contains(tile));
        // The button beside Print, apart from every other control of the bar.
        const QRect button = rectOf(Child<QToolButton>("btnStrip"));
        for (const char* name : {"swFitToWidth", "lblFitToWidth", "BtnPrint", "tbZoom"})
            QVERIFY2(!button.intersects(rectOf(Child<QWidget>(name))), name);
        QVERIFY(FForm->rect().contains(button));
        Child<QToolButton>("btnStrip")->click();
        QVERIFY(!Strip().isVisible());
        QTRY_COMPARE(rectOf(picture).width(), FForm->width());
    }

    // Shown or hidden as left, per connection: T toggles it as F9 and the button do.
    void rememberedPerConnection() {
        QVERIFY(Strip().isHidden()); // hidden at first
        FForm->NewImage("55550001");
        QVERIFY(Settled());
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        Child<TImagePage>("tabForImage")->setFocus();
        Key(Qt::Key_T);
        QVERIFY(Strip().isVisible());
        QVERIFY(Child<QToolButton>("btnStrip")->isChecked());
        DestroyForm();
        CreateForm();
        QVERIFY(!Strip().isHidden());
        QVERIFY(Child<QToolButton>("btnStrip")->isChecked());
        // Another connection keeps its own.
        DestroyForm();
        FBlock = std::make_unique<HostBlock>(FScans, "****....", "another-host");
        CreateForm();
        QVERIFY(Strip().isHidden());
        QVERIFY(!Child<QToolButton>("btnStrip")->isChecked());
    }
};

QTEST_MAIN(TestPageStrip)
#include "tst_pagestrip.moc"
