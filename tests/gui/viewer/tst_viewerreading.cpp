// Reading one page in the viewer window on a real X server with a window manager: the
// fitted page is seen whole, also when turned, in wide and tall windows. Geometry is read
// from the widgets and from screenshots of the image area; keys go in as a user's.
#include "app/Orlenza.CustomController.h"
#include "app/Orlenza.FormCommon.h"
#include "viewcontrol/Orlenza.ViewController.h"
#include "viewer/OrlenzaFrm.h"
#include "viewer/ViewerWidgets.h"

#include "ViewerTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

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

class TestViewerReading : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FRoot{QDir::tempPath() + "/lv-XXXXXX"};
    QString FScans;
    std::unique_ptr<HostBlock> FBlock;
    std::shared_ptr<StateRecorder> FRecorder;
    std::unique_ptr<TLumivaneViewerForm> FForm;

    template <class T> T* Child(const char* AName) {
        T* w = FForm->findChild<T*>(QString::fromLatin1(AName));
        if (!w)
            qFatal("no child %s", AName);
        return w;
    }
    TImageControl* Image() { return Child<TImageControl>("Image"); }
    TImagePage* Page() { return Child<TImagePage>("tabForImage"); }
    TTrackBar* Zoom() { return Child<TTrackBar>("tbZoom"); }
    TRotaryDial* Dial() { return Child<TRotaryDial>("arcdImageRotation"); }

    void AddPage(const QString& AId, QSize ASize) {
        const QString folder = FScans + AId.left(4) + "/";
        QDir().mkpath(folder);
        QVERIFY(EdgePage(ASize).save(folder + AId + "~1.png"));
    }
    void CreateForm(QSize ASize) {
        lvtest::InstallRecordingController(FBlock->Name, FRecorder);
        FForm = std::make_unique<TLumivaneViewerForm>();
        FForm->resize(ASize);
    }
    void DestroyForm() {
        FForm.reset();
        TOrlenzaCustomerController::ReleaseSharedControlFile();
        ViewController.reset();
        FRecorder.reset();
    }
    bool Settled() {
        return QTest::qWaitFor([this] { return !FForm->IsLoading(); }, 10000);
    }
    void ShowFromToolbar(const char* AId) {
        FForm->NewImage(AId);
        QVERIFY(Settled());
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        QTRY_VERIFY(Page()->hasFocus());
        QCOMPARE(FBlock->ViewState(), vsOpen);
    }
    void Key(Qt::Key AKey, Qt::KeyboardModifiers AMods = {}) {
        QTest::keyClick(FForm->windowHandle(), AKey, AMods);
    }
    // The drawn picture as it stands on the screen: turned by the dial's quarter turns.
    QSizeF OnScreen() {
        const QSizeF drawn = Image()->DrawnSize();
        return std::abs(Dial()->Angle()) == 90 ? drawn.transposed() : drawn;
    }

private slots:
    void initTestCase() {
        QVERIFY(FRoot.isValid());
        FScans = FRoot.path() + "/scans/";
        AddPage("11110001", {1600, 1200}); // a 4:3 landscape page
        AddPage("22220001", {1240, 1754}); // A4 upright at 150 dpi
        AddPage("33330001", {300, 200});   // smaller than any area
    }

    void init() {
        static int run = 0;
        const QString data = FRoot.path() + "/data-" + QString::number(run++);
        QDir().mkpath(data);
        qputenv("XDG_DATA_HOME", data.toLocal8Bit());
        FBlock = std::make_unique<HostBlock>(FScans, "****....");
        StartupSearchText.clear();
        StartMaximized = false;
    }

    void cleanup() {
        DestroyForm();
        FBlock.reset();
    }

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
        const QRect whole = top | bottom | left | right;
        QVERIFY2(std::abs(whole.width() - seen.width()) <= 2 &&
                     std::abs(whole.height() - seen.height()) <= 2,
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
};

QTEST_MAIN(TestViewerReading)
#include "tst_viewerreading.moc"
