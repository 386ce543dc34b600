// The picture as the page paints it: a frame decoded at the drawn size is drawn pixel for
// pixel; a large frame drawn smaller is reduced on a worker, never inside the paint, with
// the page drawn meanwhile from what is there and the area-averaged frame swapped in once
// made, at the size last asked for.
#include "viewer/ViewerWidgets.h"

#include <QtTest>

namespace {

// Every pixel different from its neighbours: any resampling shows.
QImage Checker(QSize ASize) {
    QImage image(ASize, QImage::Format_RGB32);
    for (int y = 0; y < ASize.height(); ++y)
        for (int x = 0; x < ASize.width(); ++x)
            image.setPixel(x, y, (x + y) % 2 ? qRgb(250, 240, 10) : qRgb(10, 20, 200));
    return image;
}

// White with a black column every tenth: reduced tenfold by area it is an even grey,
// sampled by the painter it is white or black.
QImage Hairlines(QSize ASize) {
    QImage image(ASize, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < ASize.height(); ++y)
        for (int x = 0; x < ASize.width(); x += 10)
            image.setPixel(x, y, qRgb(0, 0, 0));
    return image;
}

bool ShownAt(const QImage& AShot, const QImage& AImage, QPoint AAt) {
    const QImage part = AShot.copy(QRect(AAt, AImage.size())).convertToFormat(QImage::Format_RGB32);
    return part == AImage.convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TImageControlTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        FPage = std::make_unique<TImagePage>();
        FPage->resize(600, 400);
        FImage = new TImageControl(FPage.get());
        FPage->SetImage(FImage);
        FPage->show();
        QVERIFY(QTest::qWaitForWindowExposed(FPage.get()));
    }
    void cleanup() { FPage.reset(); }

    void fittedFrameIsDrawnAsDecoded_data() {
        QTest::addColumn<QSize>("decoded");
        QTest::newRow("the drawn size") << QSize(400, 300);
        QTest::newRow("a pixel wider (the decoder's rounding)") << QSize(401, 300);
        QTest::newRow("a pixel taller") << QSize(400, 301);
    }
    void fittedFrameIsDrawnAsDecoded() {
        QFETCH(QSize, decoded);
        const QImage frame = Checker(decoded);
        FImage->SetBitmap(frame, QSize(4000, 3000));
        FImage->SetBounds(QRectF(100, 50, 400, 300));
        QCOMPARE(FImage->DrawnSize(), QSizeF(400, 300));
        const QImage shot = FPage->grab().toImage();
        // Centred on the bounds' centre; an odd side may land half a pixel either way.
        bool found = false;
        for (int dy : {0, -1})
            for (int dx : {0, -1})
                found = found || ShownAt(shot, frame, QPoint(100 + dx, 50 + dy));
        QVERIFY2(found, "the decoded frame was resampled instead of drawn as it is");
        QVERIFY(!FImage->IsReducing());
    }

    void largeFrameIsReducedOffThePaint_data() {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("nothing") << QString();
        QTest::newRow("zoomed on") << QStringLiteral("zoom");
        QTest::newRow("another frame came") << QStringLiteral("frame");
    }
    void largeFrameIsReducedOffThePaint() {
        QFETCH(QString, meanwhile);
        const QImage frame = Hairlines(QSize(4000, 3000));
        QVERIFY(qint64{frame.width()} * frame.height() > TImageControl::kReduceOnPaintPixels);
        FImage->SetBitmap(frame);
        FImage->SetBounds(QRectF(100, 50, 400, 300));
        const QImage first = FPage->grab().toImage();
        const QImage reduced =
            frame.scaled(400, 300, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // The paint drew without waiting for the reduction: the result can only arrive
        // through the event loop, which has not run.
        QVERIFY(FImage->IsReducing());
        QVERIFY(!ShownAt(first, reduced, QPoint(100, 50)));
        QVERIFY2(first.pixelColor(300, 200) != QColor(0x8C, 0x8F, 0x94), "nothing was drawn");

        QImage expected = reduced;
        QRect where(100, 50, 400, 300);
        if (meanwhile == "zoom") {
            FImage->SetBounds(QRectF(50, 25, 500, 350));
            (void)FPage->grab();
            // 500 x 375 fits 500 x 350 as 466.67 x 350.
            const QSize pixels(467, 350);
            QCOMPARE(FImage->DrawnSize().toSize(), pixels);
            expected = frame.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            where = QRect(QPoint(300 - pixels.width() / 2, 200 - pixels.height() / 2), pixels);
        } else if (meanwhile == "frame") {
            const QImage next = Checker(QSize(2000, 1500));
            FImage->SetBitmap(next, QSize(4000, 3000));
            (void)FPage->grab();
            expected = next.scaled(400, 300, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        // Each grab paints, as the window would on the update the finished reduction asks for.
        const auto shown = [&] {
            const QImage shot = FPage->grab().toImage();
            for (int dy : {0, -1})
                for (int dx : {0, -1})
                    if (ShownAt(shot, expected, where.topLeft() + QPoint(dx, dy)))
                        return true;
            return false;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(
            shown(), "the area-averaged frame for the size on screen never came", 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!FImage->IsReducing(), 30000);
    }

private:
    std::unique_ptr<TImagePage> FPage;
    TImageControl* FImage = nullptr;
};

QTEST_MAIN(TImageControlTest)
#include "tst_imagecontrol.moc"
