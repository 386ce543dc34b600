// ImageDecoding's dispatcher: picks the codec by the file's first bytes and turns memory
// exhaustion into the usual error. The codecs live in ImageDecoding.<Codec>.cpp.
#include "viewer/ImageDecoding.Internal.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

namespace ImageDecodingDetail {

[[noreturn]] void Fail(const QString& APath, const QString& AReason) {
    throw std::runtime_error((QFileInfo(APath).fileName() + ": " + AReason).toStdString());
}

QSize TDecodeJob::TargetForFull(QSize AUprightFull) const {
    return TargetFor ? TargetFor(AUprightFull) : QSize();
}

bool TDecodeJob::Cancelled() const {
    return Options.Cancel && Options.Cancel->load(std::memory_order_relaxed);
}

void TDecodeJob::CheckCancel() const {
    if (Cancelled()) {
        throw TDecodeCancelled(
            (QFileInfo(Path).fileName() + ": the decode was cancelled").toStdString());
    }
}

void TDecodeJob::Fail(const QString& AReason) const {
    if (PageCount > 1 || Options.Page > 0) {
        ImageDecodingDetail::Fail(Path,
                                  QStringLiteral("page %1: %2").arg(Options.Page + 1).arg(AReason));
    }
    ImageDecodingDetail::Fail(Path, AReason);
}

TFileHandle OpenOnePictureFile(const TDecodeJob& AJob) {
    if (AJob.Options.Page > 0) {
        AJob.Fail(QStringLiteral("there is no page %1; the file has 1").arg(AJob.Options.Page + 1));
    }
    TFileHandle file(std::fopen(QFile::encodeName(AJob.Path).constData(), "rb"));
    if (!file) {
        AJob.Fail(QStringLiteral("cannot open the file (%1)")
                      .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    return file;
}

void TDecodeJob::CheckDeclaredSize(QSize ASize) const {
    if (ASize.width() <= 0 || ASize.height() <= 0) {
        Fail(QStringLiteral("the image declares no pixels (%1 x %2)")
                 .arg(ASize.width())
                 .arg(ASize.height()));
    }
    if (ASize.width() > MaxImageSide || ASize.height() > MaxImageSide ||
        static_cast<long long>(ASize.width()) * ASize.height() > MaxImagePixels) {
        Fail(QStringLiteral("the declared size of %1 x %2 pixels is too large")
                 .arg(ASize.width())
                 .arg(ASize.height()));
    }
}

void TDecodeJob::CheckBudget(long long ABytes, const QString& AWhat) const {
    if (ABytes > Options.MemoryBudget) {
        constexpr double MiB = 1024.0 * 1024.0;
        Fail(QStringLiteral("%1 would take %2 MiB, more than the %3 MiB a decode may use")
                 .arg(AWhat)
                 .arg(static_cast<double>(ABytes) / MiB, 0, 'f', 0)
                 .arg(static_cast<double>(Options.MemoryBudget) / MiB, 0, 'f', 0));
    }
}

} // namespace ImageDecodingDetail

namespace {

using namespace ImageDecodingDetail;

enum class TFileKind { Jpeg, Tiff, Png, Other };

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
    if (head.size() == 4 && static_cast<unsigned char>(head[0]) == 0x89 && head.endsWith("PNG")) {
        return TFileKind::Png;
    }
    return TFileKind::Other;
}

TDecodedImage Decode(const TDecodeJob& AJob) {
    const TFileKind kind = SniffKind(AJob.Path);
    if (AJob.Options.Page < 0) {
        AJob.Fail(QStringLiteral("there is no page %1").arg(AJob.Options.Page + 1));
    }
    AJob.CheckCancel();
    try {
        switch (kind) {
        case TFileKind::Jpeg:
            return DecodeJpeg(AJob);
        case TFileKind::Tiff:
            return DecodeTiff(AJob);
        case TFileKind::Png:
            return DecodePng(AJob);
        case TFileKind::Other:
            break;
        }
        return DecodeWithQt(AJob);
    } catch (const std::bad_alloc&) {
        AJob.Fail(QStringLiteral("not enough memory to decode the image"));
    }
}

TDecodedImage Decode(const QString& APath, const TTargetFor& ATargetFor,
                     const TDecodeOptions& AOptions, bool AHeaderOnly) {
    TDecodeJob job;
    job.Path = APath;
    job.Options = AOptions;
    job.TargetFor = ATargetFor;
    job.HeaderOnly = AHeaderOnly;
    return Decode(job);
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
    return ReadImageHeader(APath).fullSize;
}

int ReadPageCount(const QString& APath) {
    TDecodeJob job;
    job.Path = APath;
    return SniffKind(APath) == TFileKind::Tiff ? TiffPageCount(job) : 1;
}

TDecodedImage ReadImageHeader(const QString& APath, const TDecodeOptions& AOptions) {
    return Decode(APath, TTargetFor(), AOptions, true);
}

TDecodedImage DecodeForDisplay(const QString& APath, QSize ATargetSize) {
    return DecodeForDisplay(APath, ATargetSize, TDecodeOptions());
}

TDecodedImage DecodeForDisplay(const QString& APath, QSize ATargetSize,
                               const TDecodeOptions& AOptions) {
    return Decode(
        APath, [ATargetSize](QSize) { return ATargetSize; }, AOptions, false);
}

TDecodedImage DecodeForDisplay(const QString& APath,
                               const std::function<QSize(QSize)>& ATargetFor) {
    return DecodeForDisplay(APath, ATargetFor, TDecodeOptions());
}

TDecodedImage DecodeForDisplay(const QString& APath, const std::function<QSize(QSize)>& ATargetFor,
                               const TDecodeOptions& AOptions) {
    return Decode(APath, ATargetFor, AOptions, false);
}

void DecodeInBands(const QString& APath, const TDecodeOptions& AOptions, QSize ATargetSize,
                   int ABandRows,
                   const std::function<void(const QImage& ABand, int ATop)>& AOnBand) {
    TBandPlan plan;
    TDecodeJob job;
    job.Path = APath;
    job.Options = AOptions;
    job.TargetFor = [ATargetSize](QSize) { return ATargetSize; };
    job.BandRows = std::max(1, ABandRows);
    job.OnBand = AOnBand;
    job.Plan = &plan;
    // The sink plans the passes once it knows the page; each pass decodes the page again
    // and keeps only its part.
    for (plan.Pass = 0; plan.Pass < plan.Passes; ++plan.Pass) {
        Decode(job);
    }
}
