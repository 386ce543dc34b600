// JPEG through libjpeg-turbo, at the smallest DCT scale that covers the target.
#include "viewer/ImageDecoding.Internal.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
// jerror.h after jpeglib.h: it needs its types and gives the message codes.
#include <jerror.h>

namespace ImageDecodingDetail {
namespace {

struct TJpegError {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr AInfo) {
    auto* error = reinterpret_cast<TJpegError*>(AInfo->err);
    (*AInfo->err->format_message)(AInfo, error->Message);
    std::longjmp(error->Jump, 1);
}

// A missing tail would otherwise come out as grey rows without any error.
void JpegEmitMessage(j_common_ptr AInfo, int ALevel) {
    if (ALevel < 0 &&
        (AInfo->err->msg_code == JWRN_JPEG_EOF || AInfo->err->msg_code == JWRN_HIT_MARKER)) {
        JpegErrorExit(AInfo);
    }
}

struct TFileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// Runs libjpeg between one setjmp and its longjmps; only plain data and objects that
// live in memory (not registers) are touched after the jump.
struct TJpegJob {
    FILE* File = nullptr;
    std::function<QSize(QSize)> TargetFor;
    QSize Full; // as stored
    int Orientation = 1;
    QSize Out;
    QImage Image;
    bool Cmyk = false;
    bool HeaderOnly = false;
    char Message[JMSG_LENGTH_MAX] = {};
    bool SizeRejected = false;
};

bool RunJpeg(TJpegJob& AJob) {
    jpeg_decompress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.Pub);
    error.Pub.error_exit = JpegErrorExit;
    error.Pub.emit_message = JpegEmitMessage;
    if (setjmp(error.Jump)) {
        std::memcpy(AJob.Message, error.Message, sizeof AJob.Message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, AJob.File);
    // APP1 holds EXIF (and XMP); the orientation is read from it once the header is in.
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        static constexpr char ExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= sizeof ExifId &&
            std::memcmp(m->data, ExifId, sizeof ExifId) == 0) {
            AJob.Orientation =
                ExifOrientation(m->data + sizeof ExifId, m->data_length - sizeof ExifId);
            break;
        }
    }
    AJob.Full = QSize(static_cast<int>(info.image_width), static_cast<int>(info.image_height));
    if (AJob.HeaderOnly || AJob.Full.width() > MaxImageSide || AJob.Full.height() > MaxImageSide ||
        static_cast<long long>(AJob.Full.width()) * AJob.Full.height() > MaxImagePixels ||
        AJob.Full.isEmpty()) {
        AJob.SizeRejected = !AJob.HeaderOnly;
        jpeg_destroy_decompress(&info);
        return true;
    }
    try {
        AJob.Out = StoredOut(AJob.Full, AJob.Orientation, AJob.TargetFor);
    } catch (...) {
        jpeg_destroy_decompress(&info);
        throw;
    }

    // The smallest DCT scale M/8 whose output still covers the target.
    unsigned num = 8;
    for (unsigned m = 1; m <= 8; ++m) {
        if ((info.image_width * m + 7) / 8 >= static_cast<unsigned>(AJob.Out.width()) &&
            (info.image_height * m + 7) / 8 >= static_cast<unsigned>(AJob.Out.height())) {
            num = m;
            break;
        }
    }
    info.scale_num = num;
    info.scale_denom = 8;
    QImage::Format format = QImage::Format_RGB32;
    if (info.jpeg_color_space == JCS_GRAYSCALE) {
        info.out_color_space = JCS_GRAYSCALE;
        format = QImage::Format_Grayscale8;
    } else if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        info.out_color_space = JCS_CMYK;
        AJob.Cmyk = true;
    } else {
        info.out_color_space = JCS_EXT_BGRX;
    }
    jpeg_start_decompress(&info);
    AJob.Image =
        QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), format);
    if (AJob.Image.isNull()) {
        std::strcpy(AJob.Message, "not enough memory");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[4];
        const unsigned first = info.output_scanline;
        const unsigned count = std::min(4u, info.output_height - first);
        for (unsigned i = 0; i < count; ++i) {
            rows[i] = AJob.Image.scanLine(static_cast<int>(first + i));
        }
        jpeg_read_scanlines(&info, rows, count);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

TDecodedImage DecodeJpeg(const QString& APath, const TTargetFor& ATargetFor, bool AHeaderOnly) {
    std::unique_ptr<FILE, TFileCloser> file(std::fopen(QFile::encodeName(APath).constData(), "rb"));
    if (!file) {
        Fail(APath, QStringLiteral("cannot open the file (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    TJpegJob job;
    job.File = file.get();
    job.TargetFor = ATargetFor;
    job.HeaderOnly = AHeaderOnly;
    if (!RunJpeg(job)) {
        Fail(APath, QStringLiteral("the JPEG data is truncated or corrupt (%1)")
                        .arg(QString::fromLocal8Bit(job.Message)));
    }
    CheckDeclaredSize(APath, job.Full);
    TDecodedImage result;
    result.fullSize = Upright(job.Full, job.Orientation);
    if (AHeaderOnly) {
        return result;
    }
    if (job.Cmyk) {
        // Adobe writes inverted CMYK; libjpeg hands it over as stored.
        QImage rgb(job.Image.size(), QImage::Format_RGB32);
        for (int y = 0; y < rgb.height(); ++y) {
            const uchar* in = job.Image.constScanLine(y);
            auto* out = reinterpret_cast<QRgb*>(rgb.scanLine(y));
            for (int x = 0; x < rgb.width(); ++x, in += 4) {
                const int k = in[3];
                out[x] = qRgb(in[0] * k / 255, in[1] * k / 255, in[2] * k / 255);
            }
        }
        job.Image = std::move(rgb);
    }
    // The DCT-scaled frame is kept as it is, up to one scale step above the target: the
    // viewer resamples it to the screen anyway, and a second resampling here would cost a
    // fifth of the decode.
    result.image = ToUpright(std::move(job.Image), job.Orientation);
    return result;
}

} // namespace ImageDecodingDetail
