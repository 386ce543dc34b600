// Formats without a decoder of our own (PNG, ...), through Qt's image readers.
#include "viewer/ImageDecoding.Internal.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cstdint>

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

// PNG keeps EXIF in an eXIf chunk, which Qt's reader does not look at; only chunks before
// the image data are searched, so the scan costs a few small reads.
int PngOrientation(const QString& APath) {
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(8)) {
        return 1;
    }
    for (;;) {
        const QByteArray head = file.read(8);
        if (head.size() != 8) {
            return 1;
        }
        const auto* b = reinterpret_cast<const uint8_t*>(head.constData());
        const uint32_t length = static_cast<uint32_t>(b[0]) << 24 |
                                static_cast<uint32_t>(b[1]) << 16 |
                                static_cast<uint32_t>(b[2]) << 8 | b[3];
        const QByteArray type = head.mid(4);
        if (type == "IDAT" || type == "IEND" || length > 0x7FFFFFFFu) {
            return 1;
        }
        if (type == "eXIf") {
            const QByteArray exif = file.read(std::min<qint64>(length, 0xFFFF));
            return ExifOrientation(reinterpret_cast<const uint8_t*>(exif.constData()),
                                   static_cast<size_t>(exif.size()));
        }
        if (!file.seek(file.pos() + length + 4)) {
            return 1;
        }
    }
}

// The orientation Qt's reader reports for the formats it knows it for, as 1..8. The reader
// is left not to apply it, so it is applied in one place, to the reduced frame.
int QtOrientation(QImageReader& AReader, const QString& APath) {
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
    return AReader.format() == "png" ? PngOrientation(APath) : 1;
}

} // namespace

TDecodedImage DecodeWithQt(const QString& APath, const TTargetFor& ATargetFor, bool AHeaderOnly) {
    QImageReader reader(APath);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    if (!reader.canRead()) {
        Fail(APath,
             QStringLiteral("not an image format that can be read (%1)").arg(reader.errorString()));
    }
    const int orientation = QtOrientation(reader, APath);
    QSize full = reader.size(); // as stored
    if (!full.isValid()) {
        // A reader that cannot tell the size up front: decode under Qt's default limit.
        QImage image = reader.read();
        if (image.isNull()) {
            Fail(APath, QStringLiteral("the image data is truncated or corrupt (%1)")
                            .arg(reader.errorString()));
        }
        full = image.size();
        CheckDeclaredSize(APath, full);
        TDecodedImage result{QImage(), Upright(full, orientation)};
        if (!AHeaderOnly) {
            const QSize out = StoredOut(full, orientation, ATargetFor);
            result.image = out == full
                               ? std::move(image)
                               : image.scaled(out, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            result.image = ToUpright(ForDisplay(std::move(result.image)), orientation);
        }
        return result;
    }
    CheckDeclaredSize(APath, full);
    TDecodedImage result;
    result.fullSize = Upright(full, orientation);
    if (AHeaderOnly) {
        return result;
    }
    const QSize out = StoredOut(full, orientation, ATargetFor);
    // These readers decode the whole frame before any reduction; the size was checked
    // above, so the frame may take what it needs.
    const long long frameMb =
        static_cast<long long>(full.width()) * full.height() * 4 / (1024 * 1024) + 1;
    reader.setAllocationLimit(static_cast<int>(std::max<long long>(128, frameMb * 2)));
    if (out != full) {
        reader.setScaledSize(out);
    }
    QImage image = reader.read();
    if (image.isNull()) {
        Fail(APath, QStringLiteral("the image data is truncated or corrupt (%1)")
                        .arg(reader.errorString()));
    }
    if (image.size() != out) {
        image = image.scaled(out, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    result.image = ToUpright(ForDisplay(std::move(image)), orientation);
    return result;
}

} // namespace ImageDecodingDetail
