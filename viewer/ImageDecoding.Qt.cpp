// Formats without a decoder of our own (GIF, BMP, ...), through Qt's image readers. They
// decode the whole frame before any reduction, so the frame must fit the budget.
#include "viewer/ImageDecoding.Internal.h"

#include <QImageReader>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ImageDecodingDetail {
namespace {

QImage ForDisplay(QImage AImage) {
    if (AImage.hasAlphaChannel()) {
        AImage.convertTo(QImage::Format_ARGB32);
    } else if (AImage.isGrayscale()) {
        AImage.convertTo(QImage::Format_Grayscale8);
    } else {
        AImage.convertTo(QImage::Format_RGB32);
    }
    return AImage;
}

// The orientation Qt's reader reports for the formats it knows it for, as 1..8. The reader
// is left not to apply it, so it is applied in one place, to the reduced frame.
int QtOrientation(QImageReader& AReader) {
    using T = QImageIOHandler;
    switch (AReader.transformation()) {
    case T::TransformationMirror:
        return 2;
    case T::TransformationRotate180:
        return 3;
    case T::TransformationFlip:
        return 4;
    case T::TransformationFlipAndRotate90:
        return 5;
    case T::TransformationRotate90:
        return 6;
    case T::TransformationMirrorAndRotate90:
        return 7;
    case T::TransformationRotate270:
        return 8;
    default:
        break;
    }
    return 1;
}

QImage ThroughSink(const TDecodeJob& AJob, QImage AImage, int AOrientation) {
    if (!AJob.Bands()) {
        return ToUpright(std::move(AImage), AOrientation);
    }
    TFrameSink sink(AJob, AImage.size(), AImage.format(), AOrientation);
    const auto bytes = static_cast<size_t>(AImage.width()) *
                       (AImage.format() == QImage::Format_Grayscale8 ? 1u : 4u);
    for (int y = 0; y < AImage.height(); ++y) {
        if (uchar* line = sink.Line(y)) {
            std::memcpy(line, AImage.constScanLine(y), bytes);
            sink.Done(y);
        }
    }
    return sink.Finish();
}

// Qt's BMP reader fills what a cut file lacks with black and reports success; an
// uncompressed BMP says how long its rows are, so a short file is told apart here.
bool BmpIsCut(QIODevice* ADevice) {
    if (!ADevice || ADevice->isSequential()) {
        return false;
    }
    const QByteArray head = ADevice->peek(34);
    if (head.size() < 34 || !head.startsWith("BM")) {
        return false;
    }
    const auto u32 = [&](int AAt) {
        return static_cast<quint32>(static_cast<uchar>(head[AAt]) |
                                    static_cast<uchar>(head[AAt + 1]) << 8 |
                                    static_cast<uchar>(head[AAt + 2]) << 16 |
                                    static_cast<quint32>(static_cast<uchar>(head[AAt + 3])) << 24);
    };
    const quint32 compression = u32(30);
    const quint32 bits = u32(28) & 0xFFFF;
    if (compression != 0 && compression != 3) { // run-length coded: no fixed length
        return false;
    }
    const long long width = static_cast<qint32>(u32(18));
    const long long height = std::abs(static_cast<long long>(static_cast<qint32>(u32(22))));
    const long long rowBytes = (width * bits + 31) / 32 * 4;
    return width > 0 && static_cast<long long>(u32(10)) + rowBytes * height > ADevice->size();
}

} // namespace

TDecodedImage DecodeWithQt(const TDecodeJob& AJob) {
    if (AJob.Options.Page > 0) {
        AJob.Fail(QStringLiteral("there is no page %1; the file has 1").arg(AJob.Options.Page + 1));
    }
    QImageReader reader(AJob.Path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    if (!reader.canRead()) {
        AJob.Fail(
            QStringLiteral("not an image format that can be read (%1)").arg(reader.errorString()));
    }
    if (reader.format() == "bmp" && BmpIsCut(reader.device())) {
        AJob.Fail(QStringLiteral("the image data is truncated or corrupt (the file ends before "
                                 "its last row)"));
    }
    const int orientation = QtOrientation(reader);
    const QSize full = reader.size(); // as stored
    // The reader's own limit holds the frame to the budget, also for readers that cannot
    // tell the size up front.
    const long long budgetMb = std::max<long long>(1, AJob.Options.MemoryBudget / (1024LL * 1024));
    reader.setAllocationLimit(static_cast<int>(std::min<long long>(budgetMb, 1 << 30)));
    TDecodedImage result;
    if (full.isValid()) {
        AJob.CheckDeclaredSize(full);
        result.fullSize = Upright(full, orientation);
        if (AJob.HeaderOnly) {
            return result;
        }
        AJob.CheckBudget(static_cast<long long>(full.width()) * full.height() * 4,
                         QStringLiteral("the whole picture at %1 x %2 pixels")
                             .arg(full.width())
                             .arg(full.height()));
    }
    AJob.CheckCancel();
    QImage image = reader.read();
    if (image.isNull()) {
        AJob.Fail(QStringLiteral("the image data is truncated or corrupt (%1)")
                      .arg(reader.errorString()));
    }
    AJob.CheckDeclaredSize(image.size());
    result.fullSize = Upright(image.size(), orientation);
    if (AJob.HeaderOnly) {
        return result;
    }
    const QSize out = StoredOut(image.size(), orientation, AJob);
    AJob.CheckCancel();
    if (image.size() != out) {
        image = image.scaled(out, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    result.image = ThroughSink(AJob, ForDisplay(std::move(image)), orientation);
    return result;
}

} // namespace ImageDecodingDetail
