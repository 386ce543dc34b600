// Widgets both windows draw the same way, written once.
#pragma once

#include <QColor>
#include <QWidget>

// A filled circle as large as the smaller side of its box, centred in it (a wide box
// still shows a circle). The fill colour is a property so it can be animated; the outline
// is drawn only with a thickness above 0.
class TCircleShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor fillColor READ FillColor WRITE SetFillColor)
public:
    TCircleShape(QColor AFill, QColor AStroke, QWidget* parent = nullptr);
    QColor FillColor() const { return FFill; }
    void SetFillColor(const QColor& AColor);
    QColor StrokeColor() const { return FStroke; }
    qreal StrokeThickness() const { return FStrokeThickness; }
    void SetStrokeThickness(qreal AThickness);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor FFill;
    QColor FStroke;
    qreal FStrokeThickness = 0;
};
