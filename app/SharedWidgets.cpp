#include "app/SharedWidgets.h"

#include <QPainter>

#include <algorithm>

TCircleShape::TCircleShape(QColor AFill, QColor AStroke, QWidget* parent)
    : QWidget(parent), FFill(AFill), FStroke(AStroke) {}

void TCircleShape::SetFillColor(const QColor& AColor) {
    if (FFill == AColor)
        return;
    FFill = AColor;
    update();
}

void TCircleShape::SetStrokeThickness(qreal AThickness) {
    FStrokeThickness = std::max<qreal>(0, AThickness);
    update();
}

void TCircleShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // Half a pixel in from every side, so the antialiased edge stays inside the box.
    const qreal d = std::min(width(), height()) - 1.0;
    if (d <= 0)
        return;
    const QRectF circle((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    if (FStrokeThickness > 0)
        p.setPen(QPen(FStroke, FStrokeThickness));
    else
        p.setPen(Qt::NoPen);
    p.setBrush(FFill);
    p.drawEllipse(circle);
}
