// The viewer window's building blocks that Qt does not offer as such: an edge/centre
// alignment layout with margins, tool bar panels, a filled rectangle, the zoom track bar
// over 0..1, the rotation dial, the on/off switch, the busy circle with its spinner, and
// the image control with the page that draws it.
#pragma once

#include "app/SharedWidgets.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QList>
#include <QMargins>
#include <QRectF>
#include <QSlider>
#include <QVariantAnimation>
#include <QWidget>

#include <memory>

// Where a child sits in its parent: edges first (Most* before the ordinary ones, each in
// the order added), then the area that is left for Client, Center, VertCenter and
// FitRight. None keeps a fixed position and size.
enum class TAlign {
    None,
    MostTop,
    MostLeft,
    Top,
    Bottom,
    Left,
    Right,
    FitRight,
    Client,
    Center,
    VertCenter
};

// Lays children out by TAlign with margins and designed sizes. It never imposes a minimum
// size on its widget, so a widened child is clipped instead of growing the window.
class TAlignLayout : public QLayout {
public:
    explicit TAlignLayout(QWidget* parent);
    ~TAlignLayout() override;

    void Add(QWidget* AWidget, TAlign AAlign, QSize ASize, QMargins AMargins = {},
             QPoint APosition = {});
    void SetItemSize(QWidget* AWidget, QSize ASize);
    QSize ItemSize(QWidget* AWidget) const;
    // The fixed position of an item without alignment.
    QPoint ItemPosition(QWidget* AWidget) const;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(FEntries.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override { return {0, 0}; }
    void setGeometry(const QRect& rect) override;

private:
    struct Entry {
        QLayoutItem* Item;
        TAlign Align;
        QSize Size;
        QMargins Margins;
        QPoint Position;
    };
    QList<Entry> FEntries;
};

// A tool bar background: a soft gradient with a separating line towards the image.
class TToolBarPanel : public QWidget {
    Q_OBJECT
public:
    enum class TEdge { Top, Bottom };
    TToolBarPanel(TEdge AEdge, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TEdge FEdge;
};

// A centred label of one or more lines; a line wider than the label is cut with an
// ellipsis instead of losing both its ends. text() keeps the whole text.
class TTitleLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A filled rectangle shape.
class TFilledRect : public QWidget {
    Q_OBJECT
public:
    TFilledRect(QColor AFill, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor FFill;
};

// Horizontal track bar over 0..1 with a resolution of 0.001.
class TTrackBar : public QSlider {
    Q_OBJECT
public:
    static constexpr int Steps = 1000;
    explicit TTrackBar(QWidget* parent = nullptr);
    double Value() const { return value() / static_cast<double>(Steps); }
    // Kept within 0..1, as a track bar keeps its value.
    void SetValue(double AValue);
};

// Rotary dial holding an angle in degrees, clockwise from the top, in -180 < v <= 180.
class TRotaryDial : public QAbstractSlider {
    Q_OBJECT
public:
    explicit TRotaryDial(QWidget* parent = nullptr);
    int Angle() const { return value(); }
    // Any angle; stored brought into the dial's range (270 reads back as -90).
    void SetAngle(double AAngle);
    QSize sizeHint() const override { return {24, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SetFromPoint(QPointF APoint);
};

// On/off switch: a checkable painted track with a knob.
class TToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit TToggleSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {49, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Spinning activity indicator; draws nothing while stopped.
class TActivityIndicator : public QWidget {
    Q_OBJECT
public:
    explicit TActivityIndicator(QWidget* parent = nullptr);
    bool IsRunning() const { return FRunning; }
    void SetRunning(bool ARunning);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void UpdateAnimation();
    bool FRunning = false;
    QVariantAnimation FSpin;
};

// The image control: holds the bitmap and its rotation. Its widget rectangle is the
// control's bounds (where events land); the page draws the bitmap fitted into those
// bounds with the aspect ratio kept and turned about their centre, so a turned picture
// is clipped only by the page, not by the unturned bounds.
//
// A bitmap drawn smaller than it is gets reduced once per size with area averaging. Only
// small ones are reduced during the paint: a large one (a detail frame while zooming) is
// reduced on a worker of Qt's thread pool while the paint draws what it has, scaled by
// the painter (work bounded by the page, not the frame), and the reduced frame swaps in
// when it is ready. A bitmap within a pixel of the drawn size is drawn 1:1.
class TImageControl : public QWidget {
    Q_OBJECT
public:
    explicit TImageControl(QWidget* parent = nullptr);
    ~TImageControl() override;

    // Bitmaps of more pixels than this are reduced on a worker.
    static constexpr qint64 kReduceOnPaintPixels = 1 << 20;

    const QImage& Bitmap() const { return FBitmap; }
    // AFullSize is the picture's own size when ABitmap holds a reduction of it.
    void SetBitmap(QImage ABitmap, QSize AFullSize = {});
    QSize FullSize() const { return FFullSize; }
    bool IsBitmapEmpty() const { return FBitmap.width() == 0 || FBitmap.height() == 0; }
    // Fills the whole bitmap; an empty bitmap stays empty.
    void FillBitmap(const QColor& AColor);

    double RotationAngle() const { return FRotationAngle; }
    void SetRotationAngle(double AAngle);

    // The bounds in the page's coordinates, unrounded.
    QRectF Bounds() const { return FBounds; }
    void SetBounds(const QRectF& ABounds);
    // Size of the picture inside the bounds, before the turn.
    QSizeF DrawnSize() const;

    void Paint(QPainter& APainter);
    // A reduction of the bitmap is being made on a worker.
    bool IsReducing() const { return FReducing; }

private:
    struct TReduceLink;
    void Changed();
    void ForgetReduced();
    // Starts reducing the bitmap to APixels on a worker, or notes that size for when the
    // reduction under way is done.
    void ReduceLater(QSize APixels);
    void Reduced(quint64 AGeneration, QImage AImage);

    QImage FBitmap;
    QSize FFullSize;
    QImage FScaled; // the bitmap reduced to the drawn size, made once per size
    qint64 FScaledKey = 0;
    double FRotationAngle = 0;
    QRectF FBounds;
    // Reductions on workers: one at a time, the size last asked for next.
    std::shared_ptr<TReduceLink> FReduceLink;
    quint64 FGeneration = 0; // a new bitmap makes reductions under way stale
    bool FReducing = false;
    QSize FReduceNext;
};

// The tab page that holds the image control and draws it. In place of a picture it can
// show a notice: the whole page in one colour with a line saying why nothing is shown.
class TImagePage : public QWidget {
    Q_OBJECT
public:
    explicit TImagePage(QWidget* parent = nullptr);
    void SetImage(TImageControl* AImage) { FImage = AImage; }

    void SetNotice(const QColor& AFill, const QString& AText);
    void ClearNotice();
    bool HasNotice() const { return FNoticeFill.isValid(); }
    QString NoticeText() const { return FNoticeText; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TImageControl* FImage = nullptr;
    QColor FNoticeFill; // invalid: no notice
    QString FNoticeText;
};
