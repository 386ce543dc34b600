// JPEG through libjpeg-turbo, at the smallest DCT scale that covers the target.
#include "viewer/ImageDecoding.Internal.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include <jpeglib.h>
// jerror.h after jpeglib.h: it needs its types and gives the message codes.
#include <jerror.h>

namespace ImageDecodingDetail {
namespace {

struct TJpegError {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    int Code;
};

void JpegErrorExit(j_common_ptr AInfo) {
    auto* error = reinterpret_cast<TJpegError*>(AInfo->err);
    (*AInfo->err->format_message)(AInfo, error->Message);
    error->Code = AInfo->err->msg_code;
    std::longjmp(error->Jump, 1);
}

// A missing tail would otherwise come out as grey rows without any error.
void JpegEmitMessage(j_common_ptr AInfo, int ALevel) {
    if (ALevel < 0 &&
        (AInfo->err->msg_code == JWRN_JPEG_EOF || AInfo->err->msg_code == JWRN_HIT_MARKER)) {
        JpegErrorExit(AInfo);
    }
}

// Runs libjpeg between one setjmp and its longjmps; only plain data and objects that
// live in memory (not registers) are touched after the jump. Everything with a destructor
// lives here, outside the frame the jump leaves.
struct TJpegRun {
    const TDecodeJob* Job = nullptr;
    FILE* File = nullptr;
    QSize Full; // as stored
    int Orientation = 1;
    QSizeF DotsPerInch; // as stored
    bool Cmyk = false;
    char Message[JMSG_LENGTH_MAX] = {};
    int MessageCode = 0;
    bool SizeRejected = false;
    // What goes on after the header.
    std::optional<TFrameSink> Sink;
    std::optional<TSampleReducer> Reducer;
    std::vector<uint8_t> Row;
    std::vector<uint8_t> Rgb;
    QImage Image;
    // A C++ exception from the rows' way on (cancel, budget, the band callback): it must not
    // pass through libjpeg, so it is kept and thrown once libjpeg is done.
    std::exception_ptr Error;
};

QSizeF JfifDotsPerInch(const jpeg_decompress_struct& AInfo) {
    if (!AInfo.saw_JFIF_marker || AInfo.X_density == 0 || AInfo.Y_density == 0 ||
        (AInfo.density_unit != 1 && AInfo.density_unit != 2)) {
        return {};
    }
    const double perInch = AInfo.density_unit == 2 ? 2.54 : 1.0;
    return {AInfo.X_density * perInch, AInfo.Y_density * perInch};
}

// Adobe writes inverted CMYK; libjpeg hands it over as stored.
void CmykToRgb32(const uint8_t* AIn, uchar* AOut, int AWidth) {
    auto* out = reinterpret_cast<QRgb*>(AOut);
    for (int x = 0; x < AWidth; ++x, AIn += 4) {
        const int k = AIn[3];
        out[x] = qRgb(AIn[0] * k / 255, AIn[1] * k / 255, AIn[2] * k / 255);
    }
}

void CmykToRgb(const uint8_t* AIn, uint8_t* AOut, int AWidth) {
    for (int x = 0; x < AWidth; ++x, AIn += 4, AOut += 3) {
        const int k = AIn[3];
        AOut[0] = static_cast<uint8_t>(AIn[0] * k / 255);
        AOut[1] = static_cast<uint8_t>(AIn[1] * k / 255);
        AOut[2] = static_cast<uint8_t>(AIn[2] * k / 255);
    }
}

// After jpeg_start_decompress: every row into the sink, straight or through the reducer.
void JpegRows(TJpegRun& ARun, jpeg_decompress_struct& AInfo, QSize AExact) {
    const TDecodeJob& job = *ARun.Job;
    const int w = static_cast<int>(AInfo.output_width);
    const int h = static_cast<int>(AInfo.output_height);
    const bool grey = AInfo.out_color_space == JCS_GRAYSCALE;
    const bool direct = QSize(w, h) == AExact;
    if (direct) {
        ARun.Sink.emplace(job, AExact, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32,
                          ARun.Orientation);
    } else {
        const int channels = grey ? 1 : 3;
        ARun.Sink.emplace(job, AExact, FormatForChannels(channels), ARun.Orientation);
        ARun.Reducer.emplace(w, h, channels, *ARun.Sink, AExact);
    }
    ARun.Row.resize(static_cast<size_t>(w) * static_cast<size_t>(AInfo.output_components));
    ARun.Rgb.resize(ARun.Cmyk && !direct ? static_cast<size_t>(w) * 3 : 0);
    for (int y = 0; y < h; ++y) {
        job.CheckCancel();
        uchar* line = direct ? ARun.Sink->Line(y) : nullptr;
        JSAMPROW row = line && !ARun.Cmyk ? line : ARun.Row.data();
        jpeg_read_scanlines(&AInfo, &row, 1);
        if (direct) {
            if (line && ARun.Cmyk) {
                CmykToRgb32(ARun.Row.data(), line, w);
            }
            if (line) {
                ARun.Sink->Done(y);
            }
        } else if (ARun.Cmyk) {
            CmykToRgb(ARun.Row.data(), ARun.Rgb.data(), w);
            ARun.Reducer->AddRow(ARun.Rgb.data());
        } else {
            ARun.Reducer->AddRow(ARun.Row.data());
        }
    }
    if (ARun.Reducer) {
        ARun.Reducer->Finish();
    }
    ARun.Image = ARun.Sink->Finish();
}

bool RunJpeg(TJpegRun& ARun) {
    const TDecodeJob& job = *ARun.Job;
    jpeg_decompress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.Pub);
    error.Pub.error_exit = JpegErrorExit;
    error.Pub.emit_message = JpegEmitMessage;
    if (setjmp(error.Jump)) {
        std::memcpy(ARun.Message, error.Message, sizeof ARun.Message);
        ARun.MessageCode = error.Code;
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, ARun.File);
    // APP1 holds EXIF (and XMP); the orientation is read from it once the header is in.
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    QSizeF exifDpi;
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        static constexpr char ExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= sizeof ExifId &&
            std::memcmp(m->data, ExifId, sizeof ExifId) == 0) {
            const TExifInfo exif =
                ReadExif(m->data + sizeof ExifId, m->data_length - sizeof ExifId);
            ARun.Orientation = exif.Orientation;
            exifDpi = exif.DotsPerInch;
            break;
        }
    }
    ARun.DotsPerInch = JfifDotsPerInch(info);
    if (ARun.DotsPerInch.isEmpty()) {
        ARun.DotsPerInch = exifDpi;
    }
    ARun.Full = QSize(static_cast<int>(info.image_width), static_cast<int>(info.image_height));
    if (job.HeaderOnly || ARun.Full.width() > MaxImageSide || ARun.Full.height() > MaxImageSide ||
        static_cast<long long>(ARun.Full.width()) * ARun.Full.height() > MaxImagePixels ||
        ARun.Full.isEmpty()) {
        ARun.SizeRejected = !job.HeaderOnly;
        jpeg_destroy_decompress(&info);
        return true;
    }
    try {
        const QSize exact = StoredOut(ARun.Full, ARun.Orientation, job);
        // The smallest DCT scale M/8 whose output still covers the target.
        unsigned num = 8;
        for (unsigned m = 1; m <= 8; ++m) {
            if ((info.image_width * m + 7) / 8 >= static_cast<unsigned>(exact.width()) &&
                (info.image_height * m + 7) / 8 >= static_cast<unsigned>(exact.height())) {
                num = m;
                break;
            }
        }
        info.scale_num = num;
        info.scale_denom = 8;
        if (info.jpeg_color_space == JCS_GRAYSCALE) {
            info.out_color_space = JCS_GRAYSCALE;
        } else if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
            info.out_color_space = JCS_CMYK;
            ARun.Cmyk = true;
        } else {
            // Display keeps the DCT-scaled frame as it is, up to one scale step above the
            // target: the viewer resamples it to the screen anyway, and a second resampling
            // here would cost a fifth of the decode. Bands come at the exact size, through
            // the box filter when the scale does not hit it.
            info.out_color_space = JCS_EXT_BGRX;
        }
        jpeg_calc_output_dimensions(&info);
        if (job.Bands() && info.out_color_space == JCS_EXT_BGRX &&
            QSize(static_cast<int>(info.output_width), static_cast<int>(info.output_height)) !=
                exact) {
            info.out_color_space = JCS_RGB;
            jpeg_calc_output_dimensions(&info);
        }
        const QSize scaled(static_cast<int>(info.output_width),
                           static_cast<int>(info.output_height));
        // The codec's own buffers (whole-file coefficients of a progressive JPEG) get what the
        // frame leaves of the budget; beyond it libjpeg stops with an error.
        const long long frame =
            job.Bands() ? 0 : static_cast<long long>(scaled.width()) * scaled.height() * 4;
        info.mem->max_memory_to_use =
            static_cast<long>(std::max<long long>(job.Options.MemoryBudget - frame, 1 << 20));
        jpeg_start_decompress(&info);
        JpegRows(ARun, info, job.Bands() ? exact : scaled);
        jpeg_finish_decompress(&info);
    } catch (...) {
        ARun.Error = std::current_exception();
    }
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

TDecodedImage DecodeJpeg(const TDecodeJob& AJob) {
    const TFileHandle file = OpenOnePictureFile(AJob);
    TJpegRun run;
    run.Job = &AJob;
    run.File = file.get();
    if (!RunJpeg(run)) {
        // Beyond max_memory_to_use libjpeg asks for a backing store, which it does not have.
        if (run.MessageCode == JERR_NO_BACKING_STORE || run.MessageCode == JERR_OUT_OF_MEMORY) {
            AJob.Fail(
                QStringLiteral("the picture needs more memory than the %1 MiB a decode may use")
                    .arg(AJob.Options.MemoryBudget / (1024LL * 1024)));
        }
        AJob.Fail(QStringLiteral("the JPEG data is truncated or corrupt (%1)")
                      .arg(QString::fromLocal8Bit(run.Message)));
    }
    if (run.Error) {
        std::rethrow_exception(run.Error);
    }
    AJob.CheckDeclaredSize(run.Full);
    TDecodedImage result;
    result.fullSize = Upright(run.Full, run.Orientation);
    result.dotsPerInch = Upright(run.DotsPerInch, run.Orientation);
    result.image = std::move(run.Image);
    return result;
}

} // namespace ImageDecodingDetail
