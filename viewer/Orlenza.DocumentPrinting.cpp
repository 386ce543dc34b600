#include "viewer/Orlenza.DocumentPrinting.h"

#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <cmath>
#include <stdexcept>

TPrintPlacement PlaceBitmapOnPage(double APageWidth, double APageHeight, int ABitmapWidth,
                                  int ABitmapHeight) {
    if (ABitmapWidth <= 0 || ABitmapHeight <= 0 || !(APageWidth > 0) || !(APageHeight > 0) ||
        !std::isfinite(APageWidth) || !std::isfinite(APageHeight)) {
        return {};
    }
    const double scale = std::min(APageWidth / ABitmapWidth, APageHeight / ABitmapHeight);
    // The destination keeps the bitmap's proportions; stretching it to the full page width
    // would distort a page taller than the paper.
    return {0, 0, ABitmapWidth * scale, ABitmapHeight * scale};
}

void PrintBitmap(QPrinter& APrinter, const QImage& ABitmap, const QString& ATitle) {
    if (ABitmap.isNull() || ABitmap.width() <= 0 || ABitmap.height() <= 0) {
        return;
    }
    APrinter.setDocName(ATitle);
    QPainter painter;
    if (!painter.begin(&APrinter)) {
        throw std::runtime_error(
            QStringLiteral("The printer could not start the job \"%1\"").arg(ATitle).toStdString());
    }
    // Ending the painter ends the document and submits the page, also on the way out of a
    // failed draw.
    struct TEndJob {
        QPainter& Painter;
        ~TEndJob() {
            if (Painter.isActive()) {
                Painter.end();
            }
        }
    } endJob{painter};

    // The painter's coordinates start at the top left of the printable area, in device
    // pixels (the printer is not in full-page mode).
    const TPrintPlacement place =
        PlaceBitmapOnPage(APrinter.width(), APrinter.height(), ABitmap.width(), ABitmap.height());
    if (place.IsEmpty()) {
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setOpacity(1.0);
    painter.drawImage(QRectF(place.Left, place.Top, place.Width, place.Height), ABitmap,
                      QRectF(0, 0, ABitmap.width(), ABitmap.height()));
}
