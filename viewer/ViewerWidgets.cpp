#include "viewer/ViewerWidgets.h"

#include "viewer/ImageGeometry.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionSlider>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <mutex>

// ---------------------------------------------------------------------------------------
// TAlignLayout

TAlignLayout::TAlignLayout(QWidget* parent) : QLayout(parent) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
    setSizeConstraint(QLayout::SetNoConstraint);
}

TAlignLayout::~TAlignLayout() {
    for (auto& e : FEntries)
        delete e.Item;
}

void TAlignLayout::Add(QWidget* AWidget, TAlign AAlign, QSize ASize, QMargins AMargins,
                       QPoint APosition) {
    addChildWidget(AWidget);
    FEntries.append({new QWidgetItem(AWidget), AAlign, ASize, AMargins, APosition});
    invalidate();
}

void TAlignLayout::SetItemSize(QWidget* AWidget, QSize ASize) {
    for (auto& e : FEntries)
        if (e.Item->widget() == AWidget && e.Size != ASize) {
            e.Size = ASize;
            invalidate();
            if (QWidget* w = parentWidget())
                setGeometry(w->rect());
        }
}

QSize TAlignLayout::ItemSize(QWidget* AWidget) const {
    for (const auto& e : FEntries)
        if (e.Item->widget() == AWidget)
            return e.Size;
    return {};
}

QPoint TAlignLayout::ItemPosition(QWidget* AWidget) const {
    for (const auto& e : FEntries)
        if (e.Item->widget() == AWidget)
            return e.Position;
    return {};
}

void TAlignLayout::addItem(QLayoutItem* item) {
    FEntries.append({item, TAlign::None, item->sizeHint(), {}, {}});
}

QLayoutItem* TAlignLayout::itemAt(int index) const {
    return index >= 0 && index < FEntries.size() ? FEntries[index].Item : nullptr;
}

QLayoutItem* TAlignLayout::takeAt(int index) {
    if (index < 0 || index >= FEntries.size())
        return nullptr;
    return FEntries.takeAt(index).Item;
}

QSize TAlignLayout::sizeHint() const {
    return parentWidget() ? parentWidget()->size() : QSize();
}

void TAlignLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    int left = rect.left(), top = rect.top(), right = rect.left() + rect.width(),
        bottom = rect.top() + rect.height();
    auto place = [](const Entry& e, int x, int y, int w, int h) {
        if (QWidget* widget = e.Item->widget())
            widget->setGeometry(x, y, std::max(w, 0), std::max(h, 0));
        else
            e.Item->setGeometry(QRect(x, y, std::max(w, 0), std::max(h, 0)));
    };
    auto edges = [&](std::initializer_list<TAlign> aligns) {
        for (const auto& e : FEntries) {
            if (std::find(aligns.begin(), aligns.end(), e.Align) == aligns.end())
                continue;
            const QMargins& m = e.Margins;
            switch (e.Align) {
            case TAlign::MostTop:
            case TAlign::Top:
                place(e, left + m.left(), top + m.top(), right - left - m.left() - m.right(),
                      e.Size.height());
                top += m.top() + e.Size.height() + m.bottom();
                break;
            case TAlign::Bottom:
                place(e, left + m.left(), bottom - m.bottom() - e.Size.height(),
                      right - left - m.left() - m.right(), e.Size.height());
                bottom -= m.top() + e.Size.height() + m.bottom();
                break;
            case TAlign::MostLeft:
            case TAlign::Left:
                place(e, left + m.left(), top + m.top(), e.Size.width(),
                      bottom - top - m.top() - m.bottom());
                left += m.left() + e.Size.width() + m.right();
                break;
            case TAlign::Right:
                place(e, right - m.right() - e.Size.width(), top + m.top(), e.Size.width(),
                      bottom - top - m.top() - m.bottom());
                right -= m.left() + e.Size.width() + m.right();
                break;
            case TAlign::FitRight: {
                // Fits the height that is left, keeping the designed aspect ratio; taken
                // off the right edge so a VertCenter sibling does not run under it.
                const int availH = bottom - top - m.top() - m.bottom();
                const int h = std::max(availH, 0);
                const int w = e.Size.height() > 0 ? e.Size.width() * h / e.Size.height() : 0;
                place(e, right - m.right() - w, top + m.top(), w, h);
                right -= m.left() + w + m.right();
                break;
            }
            default:
                break;
            }
        }
    };
    edges({TAlign::MostTop, TAlign::MostLeft});
    edges({TAlign::Top, TAlign::Bottom, TAlign::Left, TAlign::Right, TAlign::FitRight});
    for (const auto& e : FEntries) {
        const QMargins& m = e.Margins;
        const int innerW = right - left - m.left() - m.right();
        const int innerH = bottom - top - m.top() - m.bottom();
        switch (e.Align) {
        case TAlign::Client:
            place(e, left + m.left(), top + m.top(), innerW, innerH);
            break;
        case TAlign::Center:
            place(e, left + m.left() + (innerW - e.Size.width()) / 2,
                  top + m.top() + (innerH - e.Size.height()) / 2, e.Size.width(), e.Size.height());
            break;
        case TAlign::VertCenter:
            place(e, left + m.left(), top + m.top() + (innerH - e.Size.height()) / 2, innerW,
                  e.Size.height());
            break;
        case TAlign::None:
            place(e, rect.left() + e.Position.x(), rect.top() + e.Position.y(), e.Size.width(),
                  e.Size.height());
            break;
        default:
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Shapes and panels

TToolBarPanel::TToolBarPanel(TEdge AEdge, QWidget* parent) : QWidget(parent), FEdge(AEdge) {}

void TToolBarPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    if (FEdge == TEdge::Top) {
        g.setColorAt(0, QColor(0xFA, 0xFA, 0xFA));
        g.setColorAt(1, QColor(0xEC, 0xEC, 0xEC));
    } else {
        g.setColorAt(0, QColor(0xF2, 0xF2, 0xF2));
        g.setColorAt(1, QColor(0xE3, 0xE3, 0xE3));
    }
    p.fillRect(rect(), g);
    p.setPen(QColor(0xBF, 0xBF, 0xBF));
    const qreal y = FEdge == TEdge::Top ? height() - 0.5 : 0.5;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.drawLine(QPointF(0, y), QPointF(width(), y));
}

void TTitleLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QFontMetrics fm(font());
    QString all = text();
    all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QStringList lines = all.split(QLatin1Char('\n'));
    const int lineHeight = fm.height();
    int y = (height() - lineHeight * static_cast<int>(lines.size())) / 2;
    for (const QString& line : lines) {
        p.drawText(QRect(0, y, width(), lineHeight), Qt::AlignHCenter | Qt::AlignVCenter,
                   fm.elidedText(line, Qt::ElideRight, width()));
        y += lineHeight;
    }
}

TFilledRect::TFilledRect(QColor AFill, QWidget* parent) : QWidget(parent), FFill(AFill) {}

void TFilledRect::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(FFill);
    p.drawRoundedRect(QRectF(rect()), 4, 4);
}

// ---------------------------------------------------------------------------------------
// Track bar, dial, switch

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, Steps);
    setSingleStep(Steps / 100);
    setPageStep(Steps / 10);
    setValue(0);
    setStyleSheet(QStringLiteral(
        "QSlider::groove:horizontal { height: 4px; border-radius: 2px; background: #EDEDED;"
        " border: 1px solid #8A8A8A; }"
        "QSlider::sub-page:horizontal { height: 4px; border-radius: 2px; background: #2F7BD9;"
        " border: 1px solid #245FA8; }"
        "QSlider::handle:horizontal { width: 13px; height: 13px; margin: -6px 0; border-radius: "
        "7px;"
        " background: #FFFFFF; border: 1px solid #6E6E6E; }"
        "QSlider::handle:horizontal:hover, QSlider::handle:horizontal:focus { border: 1px solid "
        "#1E5AA8; }"));
}

void TTrackBar::SetValue(double AValue) {
    if (!std::isfinite(AValue))
        AValue = 0;
    setValue(static_cast<int>(std::lround(std::clamp(AValue, 0.0, 1.0) * Steps)));
}

TRotaryDial::TRotaryDial(QWidget* parent) : QAbstractSlider(parent) {
    setRange(-179, 180);
    setSingleStep(1);
    setPageStep(15);
    setValue(0);
    setCursor(Qt::PointingHandCursor);
}

void TRotaryDial::SetAngle(double AAngle) {
    setValue(static_cast<int>(std::lround(lvgeometry::NormalizeDialAngle(AAngle))));
}

void TRotaryDial::SetFromPoint(QPointF APoint) {
    const QPointF c = QRectF(rect()).center();
    const double dx = APoint.x() - c.x(), dy = APoint.y() - c.y();
    if (std::hypot(dx, dy) < 1)
        return;
    // Clockwise from the top, as the image's rotation angle counts.
    const double angle = std::atan2(dx, -dy) * 180.0 / M_PI;
    setSliderDown(true);
    SetAngle(angle);
}

void TRotaryDial::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractSlider::mousePressEvent(event);
    SetFromPoint(event->position());
    event->accept();
}

void TRotaryDial::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return QAbstractSlider::mouseMoveEvent(event);
    SetFromPoint(event->position());
    event->accept();
}

void TRotaryDial::keyPressEvent(QKeyEvent* event) {
    // Arrow keys turn round the full circle instead of stopping at the range ends.
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        step = -singleStep();
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        step = singleStep();
        break;
    case Qt::Key_PageDown:
        step = -pageStep();
        break;
    case Qt::Key_PageUp:
        step = pageStep();
        break;
    default:
        return QAbstractSlider::keyPressEvent(event);
    }
    SetAngle(value() + step);
    event->accept();
}

void TRotaryDial::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(0.8);
    const qreal side = std::min(width(), height()) - 2;
    const QRectF r((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    p.setPen(QPen(QColor(0x6E, 0x6E, 0x6E), 1));
    p.setBrush(QColor(0xFA, 0xFA, 0xFA));
    p.drawEllipse(r);
    // The turn so far as an arc from the top, then the pointer.
    const QRectF arc = r.adjusted(2.5, 2.5, -2.5, -2.5);
    if (value() != 0) {
        p.setPen(QPen(QColor(0x2F, 0x7B, 0xD9), 2.5, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(arc, 90 * 16, -value() * 16);
    }
    const double a = value() * M_PI / 180.0;
    const QPointF c = r.center();
    const qreal len = side / 2 - 3;
    p.setPen(QPen(hasFocus() ? QColor(0x1E, 0x5A, 0xA8) : QColor(0x30, 0x30, 0x30), 1.6,
                  Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(std::sin(a) * len, -std::cos(a) * len));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x30, 0x30));
    p.drawEllipse(c, 1.6, 1.6);
}

TToggleSwitch::TToggleSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setChecked(false);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void TToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal h = std::min<qreal>(height(), 22);
    const qreal w = std::min<qreal>(width(), h * 2);
    const QRectF track((width() - w) / 2.0, (height() - h) / 2.0, w, h);
    const bool on = isChecked();
    QColor fill = on ? QColor(0x2F, 0x7B, 0xD9) : QColor(0xC4, 0xC4, 0xC4);
    if (!isEnabled())
        fill = fill.lighter(130);
    p.setPen(hasFocus() ? QPen(QColor(0x1E, 0x5A, 0xA8), 1) : QPen(fill.darker(115), 1));
    p.setBrush(fill);
    p.drawRoundedRect(track.adjusted(0.5, 0.5, -0.5, -0.5), h / 2, h / 2);
    const qreal knob = h - 4;
    const qreal x = on ? track.right() - 2 - knob : track.left() + 2;
    p.setPen(QPen(QColor(0, 0, 0, 40), 1));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

// ---------------------------------------------------------------------------------------
// Activity indicator

TActivityIndicator::TActivityIndicator(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    FSpin.setStartValue(0.0);
    FSpin.setEndValue(360.0);
    FSpin.setDuration(900);
    FSpin.setLoopCount(-1);
    connect(&FSpin, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void TActivityIndicator::SetRunning(bool ARunning) {
    FRunning = ARunning;
    UpdateAnimation();
    update();
}

void TActivityIndicator::UpdateAnimation() {
    // Spins only while it can be seen, so a hidden window costs no repaints.
    if (FRunning && isVisible()) {
        if (FSpin.state() != QAbstractAnimation::Running)
            FSpin.start();
    } else {
        FSpin.stop();
    }
}

void TActivityIndicator::showEvent(QShowEvent*) {
    UpdateAnimation();
}
void TActivityIndicator::hideEvent(QHideEvent*) {
    UpdateAnimation();
}

void TActivityIndicator::paintEvent(QPaintEvent*) {
    if (!FRunning)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    const qreal pen = std::max<qreal>(1.2, side / 6);
    const QRectF r((width() - side) / 2.0 + pen / 2, (height() - side) / 2.0 + pen / 2, side - pen,
                   side - pen);
    const double angle = FSpin.currentValue().toDouble();
    p.setPen(QPen(QColor(0x2F, 0x7B, 0xD9), pen, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(r, static_cast<int>(-angle * 16), 270 * 16);
}

// ---------------------------------------------------------------------------------------
// Image control and page

// What a worker reducing a bitmap hands its result through: the control, until it is
// destroyed.
struct TImageControl::TReduceLink {
    std::mutex Lock;
    TImageControl* Control = nullptr;
};

TImageControl::TImageControl(QWidget* parent)
    : QWidget(parent), FReduceLink(std::make_shared<TReduceLink>()) {
    // The page draws this control; it only takes the pointer.
    setAttribute(Qt::WA_NoSystemBackground);
    FReduceLink->Control = this;
}

TImageControl::~TImageControl() {
    // A worker still reducing drops its result; one already posted is discarded with the
    // control's pending events.
    const std::lock_guard<std::mutex> guard(FReduceLink->Lock);
    FReduceLink->Control = nullptr;
}

void TImageControl::Changed() {
    if (QWidget* page = parentWidget())
        page->update();
}

void TImageControl::ForgetReduced() {
    FScaled = QImage();
    FScaledKey = 0;
    ++FGeneration;
    FReduceNext = QSize();
}

void TImageControl::SetBitmap(QImage ABitmap, QSize AFullSize) {
    FBitmap = std::move(ABitmap);
    FFullSize = FBitmap.isNull() ? QSize() : AFullSize.isValid() ? AFullSize : FBitmap.size();
    ForgetReduced();
    Changed();
}

void TImageControl::FillBitmap(const QColor& AColor) {
    if (IsBitmapEmpty())
        return;
    if (FBitmap.format() == QImage::Format_Mono || FBitmap.format() == QImage::Format_MonoLSB ||
        FBitmap.format() == QImage::Format_Indexed8 ||
        FBitmap.format() == QImage::Format_Grayscale8 ||
        FBitmap.format() == QImage::Format_Grayscale16)
        FBitmap = QImage(FBitmap.size(), QImage::Format_RGB32);
    FBitmap.fill(AColor);
    ForgetReduced();
    Changed();
}

void TImageControl::SetRotationAngle(double AAngle) {
    if (FRotationAngle == AAngle)
        return;
    FRotationAngle = AAngle;
    Changed();
}

void TImageControl::SetBounds(const QRectF& ABounds) {
    FBounds = ABounds;
    setGeometry(ABounds.toRect());
    Changed();
}

QSizeF TImageControl::DrawnSize() const {
    const lvgeometry::TSizeF s = lvgeometry::AspectFit(static_cast<float>(FBounds.width()),
                                                       static_cast<float>(FBounds.height()),
                                                       FFullSize.width(), FFullSize.height());
    return {s.Width, s.Height};
}

void TImageControl::ReduceLater(QSize APixels) {
    FReduceNext = APixels;
    if (FReducing)
        return;
    FReducing = true;
    FReduceNext = QSize();
    QThreadPool::globalInstance()->start([link = FReduceLink, bitmap = FBitmap,
                                          generation = FGeneration, APixels] {
        QImage reduced = bitmap.scaled(APixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const std::lock_guard<std::mutex> guard(link->Lock);
        if (TImageControl* control = link->Control)
            QMetaObject::invokeMethod(
                control,
                [control, generation, reduced = std::move(reduced)]() mutable {
                    control->Reduced(generation, std::move(reduced));
                },
                Qt::QueuedConnection);
    });
}

void TImageControl::Reduced(quint64 AGeneration, QImage AImage) {
    FReducing = false;
    if (AGeneration == FGeneration && !AImage.isNull()) {
        FScaled = std::move(AImage);
        FScaledKey = FBitmap.cacheKey();
        Changed();
    }
    // A size asked for meanwhile (the zoom moved on, or another bitmap came): the next
    // paint asks again.
    if (FReduceNext.isValid())
        Changed();
    FReduceNext = QSize();
}

void TImageControl::Paint(QPainter& APainter) {
    if (IsBitmapEmpty() || !isVisible())
        return;
    const QSizeF drawn = DrawnSize();
    if (drawn.isEmpty())
        return;
    APainter.save();
    APainter.translate(FBounds.center());
    APainter.rotate(FRotationAngle);
    const qreal dpr = devicePixelRatioF();
    const QSize pixels(static_cast<int>(std::lround(drawn.width() * dpr)),
                       static_cast<int>(std::lround(drawn.height() * dpr)));
    const bool quarterTurn = std::fmod(std::fabs(FRotationAngle), 90.0) == 0.0;
    APainter.setRenderHint(QPainter::SmoothPixmapTransform);
    const auto centred = [&](QSize APixels) {
        const QSizeF size(APixels.width() / dpr, APixels.height() / dpr);
        return QRectF(-size.width() / 2, -size.height() / 2, size.width(), size.height());
    };
    const QRectF target = centred(pixels);
    const bool withinAPixel = std::abs(FBitmap.width() - pixels.width()) <= 1 &&
                              std::abs(FBitmap.height() - pixels.height()) <= 1;
    if (!pixels.isEmpty() && withinAPixel) {
        // Decoded at the drawn size (give or take the rounding): drawn as it is, pixel for
        // pixel, at its own size.
        if (quarterTurn)
            APainter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        APainter.drawImage(centred(FBitmap.size()), FBitmap);
    } else if (!pixels.isEmpty() && pixels.width() <= FBitmap.width() &&
               pixels.height() <= FBitmap.height()) {
        // Reduced once per size with area averaging: scanned text stays legible, where
        // sampling the full bitmap on every paint would drop strokes.
        const bool ready = FScaled.size() == pixels && FScaledKey == FBitmap.cacheKey();
        if (!ready && qint64{FBitmap.width()} * FBitmap.height() <= kReduceOnPaintPixels) {
            FScaled = FBitmap.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            FScaledKey = FBitmap.cacheKey();
        }
        if (FScaled.size() == pixels && FScaledKey == FBitmap.cacheKey()) {
            if (quarterTurn)
                APainter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            APainter.drawImage(target, FScaled);
        } else {
            // Until the worker is done: the reduction held for another size, else the
            // bitmap itself, scaled by the painter over the page's pixels only.
            ReduceLater(pixels);
            const bool older = !FScaled.isNull() && FScaledKey == FBitmap.cacheKey();
            APainter.drawImage(target, older ? FScaled : FBitmap);
        }
    } else {
        APainter.drawImage(target, FBitmap);
    }
    APainter.restore();
}

TImagePage::TImagePage(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImagePage::SetNotice(const QColor& AFill, const QString& AText) {
    FNoticeFill = AFill;
    FNoticeText = AText;
    update();
}

void TImagePage::ClearNotice() {
    if (!HasNotice())
        return;
    FNoticeFill = QColor();
    FNoticeText.clear();
    update();
}

void TImagePage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (HasNotice()) {
        p.fillRect(rect(), FNoticeFill);
        // Dark text on the light fills, wrapped within the page, in the window's font.
        p.setPen(QColor(0x20, 0x20, 0x20));
        p.setFont(font());
        const int margin = std::min(24, width() / 10);
        p.drawText(rect().adjusted(margin, margin, -margin, -margin),
                   Qt::AlignCenter | Qt::TextWordWrap, FNoticeText);
        return;
    }
    p.fillRect(rect(), QColor(0x8C, 0x8F, 0x94));
    if (FImage)
        FImage->Paint(p);
}
