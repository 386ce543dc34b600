// The frame sink: reduced rows into one upright frame for display, or into bands for the
// printer, planning as many passes over the page as the memory budget needs.
#include "viewer/ImageDecoding.Internal.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ImageDecodingDetail {

namespace {

int BytesPerPixel(QImage::Format AFormat) {
    return AFormat == QImage::Format_Grayscale8 ? 1 : 4;
}

QImage NewImage(QSize ASize, QImage::Format AFormat) {
    QImage image(ASize, AFormat);
    if (image.isNull()) {
        throw std::bad_alloc();
    }
    return image;
}

// Rows [ATop, ATop + ACount) of AImage without a copy; valid while AImage lives.
QImage RowsOf(const QImage& AImage, int ATop, int ACount) {
    return QImage(AImage.constScanLine(ATop), AImage.width(), ACount,
                  static_cast<qsizetype>(AImage.bytesPerLine()), AImage.format());
}

} // namespace

TFrameSink::TFrameSink(const TDecodeJob& AJob, QSize AStoredOut, QImage::Format AFormat,
                       int AOrientation, bool ASequential, int AWorkPerPixel)
    : FJob(AJob), FStoredOut(AStoredOut), FFormat(AFormat), FOrientation(AOrientation) {
    const long long bpp = BytesPerPixel(AFormat);
    const long long pixels = static_cast<long long>(AStoredOut.width()) * AStoredOut.height();
    const QString what = QStringLiteral("the picture at %1 x %2 pixels")
                             .arg(AStoredOut.width())
                             .arg(AStoredOut.height());
    if (!AJob.Bands()) {
        // Turning the frame upright takes a second one for a moment.
        AJob.CheckBudget(pixels * (bpp * (AOrientation == 1 ? 1 : 2) + AWorkPerPixel), what);
        FWindow = QRect(QPoint(0, 0), AStoredOut);
        FStore = NewImage(AStoredOut, AFormat);
        FBits = FStore.bits();
        FStride = FStore.bytesPerLine();
        return;
    }
    const int bandRows = std::min(AJob.BandRows, AStoredOut.height());
    if (ASequential && (AOrientation == 1 || AOrientation == 2)) {
        FStream = true;
        AJob.CheckBudget(static_cast<long long>(AStoredOut.width()) * bandRows * bpp,
                         QStringLiteral("one band of %1").arg(what));
        FWindow = QRect(QPoint(0, 0), AStoredOut);
        FStore = NewImage(QSize(AStoredOut.width(), bandRows), AFormat);
        return;
    }
    // The rest goes in windows of upright rows, each a pass over the page: as few as the
    // budget allows (half of it for the window, the rest for the codec), whole bands each.
    const QSize upright = Upright(AStoredOut, AOrientation);
    const long long rowBytes = static_cast<long long>(upright.width()) * (bpp * 2 + AWorkPerPixel);
    TBandPlan& plan = *AJob.Plan;
    if (plan.Pass == 0) {
        const long long fit = std::max<long long>(1, AJob.Options.MemoryBudget / 2 / rowBytes);
        if (fit >= upright.height()) {
            plan.RowsPerPass = upright.height();
        } else {
            plan.RowsPerPass =
                static_cast<int>(std::max<long long>(bandRows, fit / bandRows * bandRows));
        }
        plan.Passes = (upright.height() + plan.RowsPerPass - 1) / plan.RowsPerPass;
    }
    AJob.CheckBudget(rowBytes * plan.RowsPerPass, QStringLiteral("one band of %1").arg(what));
    FUprightTop = plan.Pass * plan.RowsPerPass;
    const int count = std::min(plan.RowsPerPass, upright.height() - FUprightTop);
    FWindow = StoredRectOfUprightRows(AStoredOut, AOrientation, FUprightTop, count);
    FStore = NewImage(FWindow.size(), AFormat);
    if (FWindow.width() < AStoredOut.width()) {
        FRow.resize(static_cast<size_t>(AStoredOut.width() * bpp));
    }
}

uchar* TFrameSink::Line(int AY) {
    if (!Wants(AY)) {
        return nullptr;
    }
    if (FStream) {
        return FStore.scanLine(AY - FStoreTop);
    }
    if (FBits) {
        return FBits + static_cast<qsizetype>(AY - FWindow.top()) * FStride;
    }
    return FRow.empty() ? FStore.scanLine(AY - FWindow.top()) : FRow.data();
}

void TFrameSink::Done(int AY) {
    if (FStream) {
        const int rows = AY - FStoreTop + 1;
        if (rows == FStore.height() || AY == FStoredOut.height() - 1) {
            FJob.CheckCancel();
            const QImage band = RowsOf(FStore, 0, rows);
            FJob.OnBand(FOrientation == 2 ? band.mirrored(true, false) : band, FStoreTop);
            FStoreTop = AY + 1;
        }
        return;
    }
    if (!FRow.empty() && Wants(AY)) {
        const int bpp = BytesPerPixel(FFormat);
        std::memcpy(FStore.scanLine(AY - FWindow.top()),
                    FRow.data() + static_cast<size_t>(FWindow.left()) * static_cast<size_t>(bpp),
                    static_cast<size_t>(FWindow.width()) * static_cast<size_t>(bpp));
    }
}

QImage TFrameSink::Finish() {
    if (!FJob.Bands()) {
        return ToUpright(std::move(FStore), FOrientation);
    }
    if (!FStream) {
        EmitUpright(ToUpright(std::move(FStore), FOrientation), FUprightTop);
    }
    return QImage();
}

void TFrameSink::EmitUpright(const QImage& AUpright, int ATop) {
    for (int row = 0; row < AUpright.height(); row += FJob.BandRows) {
        FJob.CheckCancel();
        const int rows = std::min(FJob.BandRows, AUpright.height() - row);
        FJob.OnBand(RowsOf(AUpright, row, rows), ATop + row);
    }
}

} // namespace ImageDecodingDetail
