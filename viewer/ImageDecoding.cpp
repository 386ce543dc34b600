// ImageDecoding's dispatcher: picks the codec by the file's first bytes and turns memory
// exhaustion into the usual error. The codecs live in ImageDecoding.<Codec>.cpp.
#include "viewer/ImageDecoding.Internal.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

namespace ImageDecodingDetail {

[[noreturn]] void Fail(const QString& APath, const QString& AReason) {
    throw std::runtime_error((QFileInfo(APath).fileName() + ": " + AReason).toStdString());
}

void CheckDeclaredSize(const QString& APath, QSize ASize) {
    if (ASize.width() <= 0 || ASize.height() <= 0) {
        Fail(APath, QStringLiteral("the image declares no pixels (%1 x %2)")
                        .arg(ASize.width())
                        .arg(ASize.height()));
    }
    if (ASize.width() > MaxImageSide || ASize.height() > MaxImageSide ||
        static_cast<long long>(ASize.width()) * ASize.height() > MaxImagePixels) {
        Fail(APath, QStringLiteral("the declared size of %1 x %2 pixels is too large")
                        .arg(ASize.width())
                        .arg(ASize.height()));
    }
}

} // namespace ImageDecodingDetail

namespace {

using namespace ImageDecodingDetail;

enum class TFileKind { Jpeg, Tiff, Other };

// The kind comes from the first bytes, so container files and misnamed files take the
// decoder their content needs.
TFileKind SniffKind(const QString& APath) {
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(APath, QStringLiteral("cannot open the file (%1)").arg(file.errorString()));
    }
    const QByteArray head = file.read(4);
    if (head.size() >= 3 && static_cast<unsigned char>(head[0]) == 0xFF &&
        static_cast<unsigned char>(head[1]) == 0xD8 &&
        static_cast<unsigned char>(head[2]) == 0xFF) {
        return TFileKind::Jpeg;
    }
    if (head.size() == 4 && ((head.startsWith("II") && head[2] == 42 && head[3] == 0) ||
                             (head.startsWith("MM") && head[2] == 0 && head[3] == 42) ||
                             (head.startsWith("II") && head[2] == 43 && head[3] == 0) ||
                             (head.startsWith("MM") && head[2] == 0 && head[3] == 43))) {
        return TFileKind::Tiff;
    }
    return TFileKind::Other;
}

TDecodedImage Decode(const QString& APath, const TTargetFor& ATargetFor, bool AHeaderOnly) {
    const TFileKind kind = SniffKind(APath);
    try {
        switch (kind) {
        case TFileKind::Jpeg:
            return DecodeJpeg(APath, ATargetFor, AHeaderOnly);
        case TFileKind::Tiff:
            return DecodeTiff(APath, ATargetFor, AHeaderOnly);
        case TFileKind::Other:
            break;
        }
        return DecodeWithQt(APath, ATargetFor, AHeaderOnly);
    } catch (const std::bad_alloc&) {
        Fail(APath, QStringLiteral("not enough memory to decode the image"));
    }
}

} // namespace

QSize DecodeSizeWithin(QSize AFull, QSize ABox) {
    if (AFull.isEmpty()) {
        return AFull;
    }
    if (ABox.width() <= 0 || ABox.height() <= 0) {
        return AFull;
    }
    const double scale = std::min({static_cast<double>(ABox.width()) / AFull.width(),
                                   static_cast<double>(ABox.height()) / AFull.height(), 1.0});
    const auto side = [scale](int full, int box) {
        return std::clamp(static_cast<int>(std::lround(full * scale)), 1, std::min(full, box));
    };
    return {side(AFull.width(), ABox.width()), side(AFull.height(), ABox.height())};
}

QSize ReadImageSize(const QString& APath) {
    return Decode(
               APath, [](QSize full) { return full; }, true)
        .fullSize;
}

TDecodedImage DecodeForDisplay(const QString& APath, QSize ATargetSize) {
    return Decode(
        APath, [ATargetSize](QSize) { return ATargetSize; }, false);
}

TDecodedImage DecodeForDisplay(const QString& APath,
                               const std::function<QSize(QSize)>& ATargetFor) {
    return Decode(
        APath, ATargetFor ? ATargetFor : [](QSize) { return QSize(); }, false);
}