// Reading one page in the viewer window on a real X server with a window manager: the
// fitted page is seen whole, also when turned, in wide and tall windows. Geometry is read
// from the widgets and from screenshots of the image area; keys go in as a user's.
#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.FormCommon.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/ViewerWidgets.h"

#include "ViewerWindow.h"
#include "tests/gui/imaging/ImagingFixtures.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDrag>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <memory>

using namespace lvtest;

namespace {

// The edges of a test page each have a colour of their own, so a screenshot tells which
// edges of the page can be seen and where they went when the page was turned.
const QColor kTopEdge(220, 20, 20);
const QColor kBottomEdge(20, 20, 220);
const QColor kLeftEdge(20, 170, 20);
const QColor kRightEdge(200, 20, 200);

QImage EdgePage(QSize ASize) {
    QImage page(ASize, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    const int band = std::max(4, std::min(ASize.width(), ASize.height()) / 12);
    p.fillRect(QRect(0, band, band, ASize.height() - 2 * band), kLeftEdge);
    p.fillRect(QRect(ASize.width() - band, band, band, ASize.height() - 2 * band), kRightEdge);
    p.fillRect(QRect(0, 0, ASize.width(), band), kTopEdge);
    p.fillRect(QRect(0, ASize.height() - band, ASize.width(), band), kBottomEdge);
    return page;
}

// A3 at 600 dpi.
constexpr int kA3Width = 7016;
constexpr int kA3Height = 9921;

bool Near(QColor A, QColor B) {
    return std::abs(A.red() - B.red()) < 40 && std::abs(A.green() - B.green()) < 40 &&
           std::abs(A.blue() - B.blue()) < 40;
}

// Where a colour shows in a screenshot: the box around its pixels (empty when none).
QRect ColourBox(const QImage& AShot, QColor AColour) {
    QRect box;
    for (int y = 0; y < AShot.height(); ++y)
        for (int x = 0; x < AShot.width(); ++x)
            if (Near(AShot.pixelColor(x, y), AColour))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class TestViewerReading : public QObject, ViewerWindow<> {
    Q_OBJECT

private:
    QLabel* Percent() { return Child<QLabel>("lblZoomPercent"); }
    // The point of the picture (0..1 of its size) in the middle of the area.
    QPointF Middle() {
        const QRectF b = Image()->Bounds();
        const QPointF c = QRectF(Page()->rect()).center();
        return {(c.x() - b.left()) / b.width(), (c.y() - b.top()) / b.height()};
    }

    // The identifier's folder (as the pattern "****...." has it).
    QString IdFolder(const QString& AId) { return Folder(AId.left(4)); }
    void AddPage(const QString& AId, QSize ASize, int AFile = 1) {
        QVERIFY(EdgePage(ASize).save(IdFolder(AId) + AId + "~" + QString::number(AFile) + ".png"));
    }
    void ShowFromToolbar(const char* AId) {
        ViewerWindow::ShowFromToolbar(AId);
        QCOMPARE(FBlock->ViewState(), vsOpen);
    }
    // Presses, moves and releases the left or right button as a user's hand does, from
    // AFrom by AMove (window coordinates).
    void Drag(QPoint AFrom, QPoint AMove, Qt::MouseButton AButton = Qt::LeftButton,
              Qt::KeyboardModifiers AMods = {}) {
        QWindow* window = FForm->windowHandle();
        QTest::mousePress(window, AButton, AMods, AFrom);
        QTest::mouseMove(window, AFrom + AMove / 2);
        QTest::mouseMove(window, AFrom + AMove);
        QTest::mouseRelease(window, AButton, AMods, AFrom + AMove);
    }
    QPoint InWindow(QWidget* AWidget, QPoint AAt) { return AWidget->mapTo(FForm.get(), AAt); }
    // For a look at the window: saved where LV_TEST_SHOTS says, when it says.
    void SaveShot(const QString& AName, QWidget* AWidget = nullptr) {
        const QString dir = qEnvironmentVariable("LV_TEST_SHOTS");
        if (!dir.isEmpty())
            (AWidget ? AWidget : FForm.get())->grab().save(dir + "/" + AName + ".png");
    }
    // The drawn picture as it stands on the screen: turned by the dial's quarter turns.
    QSizeF OnScreen() {
        const QSizeF drawn = Image()->DrawnSize();
        return std::abs(Dial()->Angle()) == 90 ? drawn.transposed() : drawn;
    }

private slots:
    void initTestCase() {
        QVERIFY(FRoot.isValid());
        AddPage("11110001", {1600, 1200}); // a 4:3 landscape page
        AddPage("22220001", {1240, 1754}); // A4 upright at 150 dpi
        AddPage("33330001", {300, 200});   // smaller than any area
        // An A4 scan at 300 dpi, and a second file after it.
        AddPage("44440001", {2480, 3508});
        AddPage("44440001", {2480, 3508}, 2);
        // An A3 scan at 600 dpi, bilevel as such scans are: one black column a pixel wide
        // down the middle of the page.
        WriteBilevelTiff(IdFolder("55550001") + "55550001~1.tif", kA3Width, kA3Height,
                         QRect(kA3Width / 2, 0, 1, kA3Height));
        // Three files, the second of three pages.
        AddPage("66660001", {800, 600});
        WriteDocumentTiff(IdFolder("66660001") + "66660001~2.tif",
                          {{{600, 800}}, {{600, 800}}, {{600, 800}}});
        AddPage("66660001", {800, 600}, 3);
    }

    void init() { StartHost(); }

    void cleanup() { EndHost(); }

    // With fit-to-width off the fitted page lies wholly inside the image area, as turned,
    // filling it in one direction unless that would enlarge it beyond its own pixels;
    // the zoom steps stay 1 to 4 times that size.
    void fittedPageIsSeenWholeAsTurned_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<int>("turns"); // quarter turns right, with the R key
        QTest::newRow("landscape, wide window") << "11110001" << QSize(1000, 520) << 0;
        QTest::newRow("landscape, tall window") << "11110001" << QSize(520, 760) << 0;
        QTest::newRow("landscape turned, tall window") << "11110001" << QSize(520, 760) << 1;
        QTest::newRow("landscape turned, wide window") << "11110001" << QSize(1000, 520) << 1;
        QTest::newRow("upright, wide window") << "22220001" << QSize(1000, 520) << 0;
        QTest::newRow("upright turned, wide window") << "22220001" << QSize(1000, 520) << 1;
        QTest::newRow("upright turned back, wide window") << "22220001" << QSize(1000, 520) << 3;
        QTest::newRow("upright half turned, tall window") << "22220001" << QSize(520, 760) << 2;
        QTest::newRow("small, wide window") << "33330001" << QSize(1000, 520) << 0;
        QTest::newRow("small turned, tall window") << "33330001" << QSize(520, 760) << 1;
    }
    void fittedPageIsSeenWholeAsTurned() {
        QFETCH(QString, id);
        QFETCH(QSize, window);
        QFETCH(int, turns);
        CreateForm(window);
        ShowFromToolbar(qPrintable(id));
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        for (int i = 0; i < turns; ++i)
            Key(Qt::Key_R);
        const int angles[] = {0, 90, 180, -90};
        QCOMPARE(Dial()->Angle(), angles[turns % 4]);
        const QSizeF area = Page()->size();
        const QSize full = Image()->FullSize();
        const QSizeF fitted = Image()->DrawnSize();
        const QSizeF seen = OnScreen();
        // Inside the area, never beyond the page's own pixels, and as large as both allow.
        QVERIFY2(seen.width() <= area.width() + 0.5 && seen.height() <= area.height() + 0.5,
                 qPrintable(QStringLiteral("%1x%2 in %3x%4")
                                .arg(seen.width())
                                .arg(seen.height())
                                .arg(area.width())
                                .arg(area.height())));
        QVERIFY(fitted.width() <= full.width() + 0.5);
        const bool ownSize = std::abs(fitted.width() - full.width()) < 1;
        const bool fillsOneWay = std::abs(seen.width() - area.width()) < 1 ||
                                 std::abs(seen.height() - area.height()) < 1;
        QVERIFY2(ownSize || fillsOneWay, "the fitted page could be larger");

        // The screenshot shows all four edges, where the turn put them.
        const QImage shot = Page()->grab().toImage();
        const QRect top = ColourBox(shot, kTopEdge);
        const QRect bottom = ColourBox(shot, kBottomEdge);
        const QRect left = ColourBox(shot, kLeftEdge);
        const QRect right = ColourBox(shot, kRightEdge);
        QVERIFY(!top.isEmpty() && !bottom.isEmpty() && !left.isEmpty() && !right.isEmpty());
        // The screenshot is in device pixels.
        const qreal dpr = shot.devicePixelRatio();
        const QRect whole = top | bottom | left | right;
        QVERIFY2(std::abs(whole.width() - seen.width() * dpr) <= 2 * dpr &&
                     std::abs(whole.height() - seen.height() * dpr) <= 2 * dpr,
                 qPrintable(QStringLiteral("screenshot %1x%2, widgets %3x%4")
                                .arg(whole.width())
                                .arg(whole.height())
                                .arg(seen.width())
                                .arg(seen.height())));
        switch ((turns % 4 + 4) % 4) {
        case 0:
            QVERIFY(top.center().y() < bottom.center().y() &&
                    left.center().x() < right.center().x());
            break;
        case 1: // a quarter turn right: the top edge is at the right
            QVERIFY(top.center().x() > bottom.center().x() &&
                    left.center().y() < right.center().y());
            break;
        case 2:
            QVERIFY(top.center().y() > bottom.center().y() &&
                    left.center().x() > right.center().x());
            break;
        case 3:
            QVERIFY(top.center().x() < bottom.center().x() &&
                    left.center().y() > right.center().y());
            break;
        }

        // Zoom steps run from the fitted size to four times it, and 0 goes back.
        for (int i = 0; i < 12; ++i)
            Key(Qt::Key_Plus);
        QCOMPARE(Zoom()->Value(), 1.0);
        QVERIFY(std::abs(Image()->DrawnSize().width() - 4 * fitted.width()) < 1);
        Key(Qt::Key_0);
        QVERIFY(std::abs(Image()->DrawnSize().width() - fitted.width()) < 0.5);
    }

    // The zoom is shown as a share of the picture's own pixels beside the zoom bar, in the
    // title line's font; "1" shows the own pixels, beyond the bar's 4 times, keeping the
    // middle of what was shown; "0" goes back to the fit.
    void zoomShownAsOwnPixelsAndOneGoesBeyondTheBar() {
        CreateForm({1000, 520});
        ShowFromToolbar("44440001");
        const QSize full = Image()->FullSize();
        const QSizeF fitted = Image()->DrawnSize();
        const auto percent = [&] {
            return QStringLiteral("%1 %").arg(
                std::lround(100.0 * Image()->DrawnSize().width() / full.width()));
        };
        QCOMPARE(Percent()->text(), percent());
        QVERIFY(Percent()->isVisible());
        QCOMPARE(Percent()->font(), Child<QLabel>("lblCurrentImageName")->font());
        Key(Qt::Key_Plus);
        QCOMPARE(Percent()->text(), percent());
        Key(Qt::Key_Down); // somewhere below the middle
        const QPointF middle = Middle();
        Key(Qt::Key_1);
        QVERIFY(std::abs(Image()->DrawnSize().width() - full.width()) < 1);
        QCOMPARE(Percent()->text(), QStringLiteral("100 %"));
        // The whole label can be read beside the bar, which keeps its room.
        QVERIFY(Percent()->width() >=
                Percent()->fontMetrics().horizontalAdvance(Percent()->text()));
        QVERIFY(!Percent()->geometry().intersects(Zoom()->geometry()));
        SaveShot("zoom-100");
        QCOMPARE(Zoom()->Value(), 1.0); // the bar at its end; the picture further
        QVERIFY2(std::abs(Middle().x() - middle.x()) < 0.01 &&
                     std::abs(Middle().y() - middle.y()) < 0.01,
                 qPrintable(QStringLiteral("%1,%2 then %3,%4")
                                .arg(middle.x())
                                .arg(middle.y())
                                .arg(Middle().x())
                                .arg(Middle().y())));
        Key(Qt::Key_0);
        QVERIFY(std::abs(Image()->DrawnSize().width() - fitted.width()) < 0.5);
        QCOMPARE(Percent()->text(), percent());
        QCOMPARE(Image()->Bounds().center(), QRectF(Page()->rect()).center());
    }

    // Inside a page larger than its area: Up/Down and Shift+Left/Right scroll a tenth of
    // the area, Space and Shift+Space most of a screen, Shift+wheel a tenth per notch; no
    // gap opens at an edge; at the page's end Space goes on to the next page.
    void keysAndShiftWheelScrollThePage() {
        CreateForm({1000, 520});
        ShowFromToolbar("44440001");
        Key(Qt::Key_1);
        const QSizeF area = Page()->size();
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            QPointF moves; // of the picture, in the area's units
        } steps[] = {
            {Qt::Key_Down, {}, {0, -0.1}},
            {Qt::Key_Down, {}, {0, -0.1}},
            {Qt::Key_Up, {}, {0, 0.1}},
            {Qt::Key_Right, Qt::ShiftModifier, {-0.1, 0}},
            {Qt::Key_Left, Qt::ShiftModifier, {0.1, 0}},
            {Qt::Key_Space, {}, {0, -0.9}},
            {Qt::Key_Space, Qt::ShiftModifier, {0, 0.9}},
        };
        for (const auto& step : steps) {
            const QPointF before = Image()->Bounds().topLeft();
            Key(step.key, step.mods);
            const QPointF moved = Image()->Bounds().topLeft() - before;
            QVERIFY2(std::abs(moved.x() - step.moves.x() * area.width()) < 1 &&
                         std::abs(moved.y() - step.moves.y() * area.height()) < 1,
                     qPrintable(QStringLiteral("key %1 moved %2,%3")
                                    .arg(step.key)
                                    .arg(moved.x())
                                    .arg(moved.y())));
        }
        // Shift+wheel, as the user turns it over the page.
        const QPoint over = Page()->mapToGlobal(Page()->rect().center());
        const QPointF before = Image()->Bounds().topLeft();
        QProcess::execute("xdotool",
                          {"mousemove", QString::number(over.x()), QString::number(over.y()),
                           "keydown", "shift", "click", "5", "keyup", "shift"});
        QTRY_VERIFY(std::abs(Image()->Bounds().top() - (before.y() - area.height() / 10)) < 1);
        QCOMPARE(Image()->Bounds().left(), before.x());
        // Space to the end, never past it, then on to the next file.
        for (int i = 0; i < 40 && Image()->Bounds().bottom() > area.height() + 0.5; ++i) {
            Key(Qt::Key_Space);
            QVERIFY(Image()->Bounds().bottom() >= area.height() - 0.5);
        }
        QVERIFY(std::abs(Image()->Bounds().bottom() - area.height()) < 0.5);
        QCOMPARE(FForm->ImageId(), 1);
        Key(Qt::Key_Space);
        QTRY_COMPARE(FForm->ImageId(), 2);
        QTRY_COMPARE(FForm->ShownPage(), 0);
        QVERIFY(Settled());
    }

    // Fit to width starts at the top of a page taller than the area, when switched on and
    // for every page shown after.
    void fitToWidthStartsAtTheTop() {
        CreateForm({520, 760});
        ShowFromToolbar("44440001");
        Key(Qt::Key_W);
        QVERIFY(Image()->DrawnSize().height() > Page()->height());
        QCOMPARE(Image()->Bounds().top(), 0.0);
        // And a page that does not fit is scrolled from there.
        Key(Qt::Key_Down);
        QVERIFY(std::abs(Image()->Bounds().top() + Page()->height() / 10.0) < 1);
        Key(Qt::Key_Right);
        QTRY_COMPARE(FForm->ImageId(), 2);
        QVERIFY(Settled());
        QVERIFY(Image()->DrawnSize().height() > Page()->height());
        QCOMPARE(Image()->Bounds().top(), 0.0);
        // The screenshot shows the page's top edge at the top of the area.
        const QRect top = ColourBox(Page()->grab().toImage(), kTopEdge);
        QVERIFY(!top.isEmpty());
        QCOMPARE(top.top(), 0);
    }

    // "1" on a 600 dpi A3 scan shows its own pixels: the pixel-wide column is drawn sharp,
    // one screen pixel of black, once the detail has been decoded.
    void a3ScanIsReadableAtOwnPixels() {
        CreateForm({1000, 700});
        ShowFromToolbar("55550001");
        QCOMPARE(Image()->FullSize(), QSize(kA3Width, kA3Height));
        Key(Qt::Key_1);
        QCOMPARE(Percent()->text(), QStringLiteral("100 %"));
        QVERIFY(std::abs(Image()->DrawnSize().width() - kA3Width) < 1);
        const qreal dpr = FForm->devicePixelRatioF();
        // Every pixel of the page is held (at 200 % each is drawn on four).
        QTRY_COMPARE_WITH_TIMEOUT(Image()->Bitmap().size(), QSize(kA3Width, kA3Height), 30000);
        // Across the middle row of the area: the column is one dark pixel wide (at 1:1 in
        // device pixels it may fall on two at a fractional scale), with paper either side.
        QTRY_VERIFY_WITH_TIMEOUT(!Image()->IsReducing(), 30000);
        const QImage shot = Page()->grab().toImage();
        const int y = shot.height() / 2;
        int dark = 0, first = -1;
        for (int x = 0; x < shot.width(); ++x)
            if (qGray(shot.pixel(x, y)) < 100) {
                ++dark;
                if (first < 0)
                    first = x;
            }
        QVERIFY2(dark >= 1 && dark <= std::ceil(dpr),
                 qPrintable(QStringLiteral("%1 dark pixels").arg(dark)));
        QVERIFY(qGray(shot.pixel(first - 2, y)) > 200 &&
                qGray(shot.pixel(first + int(std::ceil(dpr)) + 1, y)) > 200);
    }

    // The left button pans a page larger than its area, as the right one does. A press that
    // moves turns nothing; only a click that did not move turns the page. The file goes out
    // by a drag of the title line's file name, or by Ctrl+drag on the page, never by a plain
    // drag.
    void leftDragPansAndOnlyAStillClickTurns() {
        CreateForm({1000, 520});
        ShowFromToolbar("44440001");
        // Any drag of the file is looked at from its own event loop and called off.
        QObject* dragSource = nullptr;
        QList<QUrl> dragged;
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, this, [&] {
            for (QObject* source : {static_cast<QObject*>(Image()),
                                    static_cast<QObject*>(Child<QLabel>("lblCurrentImageName"))})
                if (auto* drag = source->findChild<QDrag*>()) {
                    dragSource = source;
                    dragged = drag->mimeData()->urls();
                    QDrag::cancel();
                }
        });
        watch.start();
        const QPoint moves = {-60, -80};
        const QPoint onPicture = InWindow(Image(), Image()->rect().center());
        const QPoint besidePicture = InWindow(Page(), {5, Page()->height() / 2});
        QVERIFY(Image()->Bounds().left() > 5); // the fitted page leaves room beside it

        // Fitted: nothing to pan to. A drag on the picture or beside it neither turns the
        // page nor moves it nor takes the file.
        const QRectF fitted = Image()->Bounds();
        // (Beside it the drag stays inside the page, where a click would turn it.)
        for (const QPoint from : {besidePicture, onPicture}) {
            Drag(from, from == besidePicture ? -moves / 2 : moves);
            QCOMPARE(Dial()->Angle(), 0);
            QCOMPARE(Image()->Bounds(), fitted);
        }
        QVERIFY(dragged.isEmpty());

        // At the picture's own pixels the left drag pans it, step for step, and turns nothing.
        Key(Qt::Key_1);
        const QRectF before = Image()->Bounds();
        Drag(onPicture, moves);
        QCOMPARE(Image()->Bounds().topLeft(), before.topLeft() + QPointF(moves));
        QCOMPARE(Dial()->Angle(), 0);
        // The right button as well.
        Drag(onPicture, -moves, Qt::RightButton);
        QCOMPARE(Image()->Bounds().topLeft(), before.topLeft());
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
        QVERIFY(dragged.isEmpty());

        // A click that did not move turns it, on the picture and beside it.
        QTest::mouseClick(FForm->windowHandle(), Qt::LeftButton, {}, onPicture);
        QTRY_COMPARE(Dial()->Angle(), 90);
        Key(Qt::Key_0);
        QVERIFY(Image()->Bounds().left() > 5);
        QTest::mouseClick(FForm->windowHandle(), Qt::LeftButton, {}, besidePicture);
        QTRY_COMPARE(Dial()->Angle(), 180);

        // The file goes out from the title line, and by Ctrl+drag on the page.
        const QString file = FScans + "4444/44440001~1.png";
        QLabel* title = Child<QLabel>("lblCurrentImageName");
        const QPoint far(QApplication::startDragDistance() + 20, 0);
        const struct {
            QObject* source;
            QPoint from;
            Qt::KeyboardModifiers mods;
        } outs[] = {
            {title, InWindow(title, title->rect().center()), {}},
            {Image(), onPicture, Qt::ControlModifier},
        };
        for (const auto& out : outs) {
            dragged.clear();
            dragSource = nullptr;
            const QRectF at = Image()->Bounds();
            Drag(out.from, far, Qt::LeftButton, out.mods);
            QTRY_COMPARE(dragged, QList<QUrl>{QUrl::fromLocalFile(file)});
            QCOMPARE(dragSource, out.source);
            QCOMPARE(Image()->Bounds(), at);
            QCOMPARE(Dial()->Angle(), 180);
        }
    }

    // Ctrl+G asks for a file and page and takes only one there is; Enter goes there, Esc
    // leaves the page as it was.
    void goToAFileAndPage() {
        CreateForm({1000, 520});
        ShowFromToolbar("66660001");
        QTRY_COMPARE(FForm->Browse().PageCount(1), 3);
        QDialog* dialog = nullptr;
        const auto ask = [&]() -> QLineEdit* {
            Key(Qt::Key_G, Qt::ControlModifier);
            if (!QTest::qWaitFor([&] {
                    dialog = FForm->findChild<QDialog*>("goToPage");
                    return dialog && dialog->isVisible() &&
                           dialog->findChild<QLineEdit*>("edGoTo")->hasFocus();
                }))
                return nullptr;
            return dialog->findChild<QLineEdit*>("edGoTo");
        };
        const auto type = [](QLineEdit* AEdit, const char* AText) {
            AEdit->selectAll();
            QTest::keyClicks(AEdit, QString::fromLatin1(AText));
            QCOMPARE(AEdit->text(), QString::fromLatin1(AText));
        };
        QLineEdit* edit = ask();
        QVERIFY(edit);
        QCOMPARE(edit->text(), QStringLiteral("1")); // where the user is
        SaveShot("goto", dialog);
        // Past the list, past the file's pages, nothing: Enter does nothing and the dialog
        // says why.
        for (const char* refused : {"4", "2/4", "0", "1/2", "2/"}) {
            type(edit, refused);
            QTest::keyClick(edit, Qt::Key_Return);
            QVERIFY2(dialog->isVisible(), refused);
            QVERIFY2(!dialog->findChild<QLabel*>("lblGoToWhy")->text().isEmpty(), refused);
            QCOMPARE(FForm->ImageId(), 1);
        }
        type(edit, "2/3");
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_COMPARE(FForm->findChild<QDialog*>("goToPage"), nullptr);
        QTRY_COMPARE(FForm->ImageId(), 2);
        QTRY_COMPARE(FForm->ShownPage(), 2);
        QVERIFY(Child<QLabel>("lblCurrentImageName")->text().contains("page 3/3"));
        // Esc cancels, whatever was typed.
        edit = ask();
        QVERIFY(edit);
        QCOMPARE(edit->text(), QStringLiteral("2/3"));
        type(edit, "3");
        QTest::keyClick(edit, Qt::Key_Escape);
        QTRY_COMPARE(FForm->findChild<QDialog*>("goToPage"), nullptr);
        QVERIFY(Settled());
        QCOMPARE(FForm->ImageId(), 2);
        QCOMPARE(FForm->ShownPage(), 2);
        // The picture has the keys again.
        QTRY_VERIFY(FForm->isActiveWindow());
        Key(Qt::Key_Right);
        QTRY_COMPARE(FForm->ImageId(), 3);
    }

    // F1 lists the keys and the mouse as docs/first-session.md does, row for row.
    void keyListAndFirstSessionPageAgree() {
        CreateForm({1000, 520});
        ShowFromToolbar("11110001");
        Key(Qt::Key_F1);
        QWidget* help = nullptr;
        QTRY_VERIFY((help = FForm->findChild<QWidget*>("keyHelp")) && help->isVisible());
        QTextDocument listed;
        listed.setHtml(help->findChild<QLabel*>("keyHelpText")->text());
        SaveShot("keys", help);
        // One cell a line, as the document gives its table's text.
        QStringList fromWindow = listed.toPlainText().split('\n', Qt::SkipEmptyParts);
        for (QString& cell : fromWindow)
            cell = cell.trimmed();
        help->close();

        QFile page(QStringLiteral(LV_SOURCE_DIR "/docs/first-session.md"));
        QVERIFY(page.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(page.readAll()).split('\n');
        const qsizetype head = lines.indexOf(QStringLiteral("| Keys and mouse | What they do |"));
        QVERIFY(head >= 0);
        QStringList fromPage;
        for (qsizetype i = head + 2; i < lines.size() && lines[i].startsWith('|'); ++i)
            for (const QString& cell : lines[i].split('|', Qt::SkipEmptyParts))
                fromPage << cell.trimmed();
        QCOMPARE(fromWindow, fromPage);
        QVERIFY(fromPage.size() > 30);
    }

    // A resize refits the fitted size and keeps the zoom step and the middle of what was
    // shown.
    void resizeKeepsTheZoomStepAndTheMiddle() {
        CreateForm({1000, 520});
        ShowFromToolbar("44440001");
        Key(Qt::Key_Plus);
        Key(Qt::Key_Plus);
        Key(Qt::Key_Down);
        Key(Qt::Key_Down);
        const double zoom = Zoom()->Value();
        QVERIFY(zoom > 0);
        const QPointF middle = Middle();
        const int areaBefore = Page()->height();
        FForm->resize(1200, 760);
        QTRY_VERIFY(Page()->height() > areaBefore);
        QTRY_COMPARE(Zoom()->Value(), zoom);
        // The fitted page fills the new area's height; the zoom step is kept on it.
        QVERIFY(std::abs(Image()->DrawnSize().height() - (1 + 3 * zoom) * Page()->height()) < 1);
        QVERIFY2(std::abs(Middle().x() - middle.x()) < 0.01 &&
                     std::abs(Middle().y() - middle.y()) < 0.01,
                 qPrintable(QStringLiteral("%1,%2 then %3,%4")
                                .arg(middle.x())
                                .arg(middle.y())
                                .arg(Middle().x())
                                .arg(Middle().y())));
    }
};

QTEST_MAIN(TestViewerReading)
#include "tst_viewerreading.moc"
