// PNG through libpng, row by row into the box filter, so a full frame is never held: a
// small file that declares a huge picture costs its decode time, not its frame.
#include "viewer/ImageDecoding.Internal.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include <png.h>

namespace ImageDecodingDetail {
namespace {

// Runs libpng between one setjmp and its longjmps: everything with a destructor lives
// here, outside the frame the jump leaves.
struct TPngRun {
    const TDecodeJob* Job = nullptr;
    FILE* File = nullptr;
    std::jmp_buf Jump;
    char Message[256] = {};
    QSize Full; // as stored
    int Orientation = 1;
    QSizeF DotsPerInch; // as stored
    std::optional<TFrameSink> Sink;
    std::optional<TSampleReducer> Reducer;
    std::optional<TScatterReducer> Scatter;
    std::vector<uint8_t> Row;
    QImage Image;
    // A C++ exception from the rows' way on (cancel, budget, the band callback): kept and
    // thrown once libpng is done.
    std::exception_ptr Error;
};

void PngError(png_structp APng, png_const_charp AMessage) {
    auto* run = static_cast<TPngRun*>(png_get_error_ptr(APng));
    std::snprintf(run->Message, sizeof run->Message, "%s", AMessage);
    std::longjmp(run->Jump, 1);
}

// Benign trouble (a bad ancillary chunk, extra data after the image) does not stop a
// picture whose pixels are whole.
void PngWarning(png_structp, png_const_charp) {}

void ReadHeaderFacts(TPngRun& ARun, png_structp APng, png_infop AInfo) {
    png_uint_32 numExif = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(APng, AInfo, &numExif, &exif) && exif) {
        ARun.Orientation = ReadExif(exif, numExif).Orientation;
    }
    png_uint_32 xres = 0;
    png_uint_32 yres = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    if (png_get_pHYs(APng, AInfo, &xres, &yres, &unit) && unit == PNG_RESOLUTION_METER &&
        xres > 0 && yres > 0) {
        ARun.DotsPerInch = QSizeF(xres * 0.0254, yres * 0.0254);
    }
}

// After png_read_update_info: every row into the sink, straight (at full size) or
// through a box filter (row-wise, or by scattering the passes of an interlaced image).
void PngRows(TPngRun& ARun, png_structp APng, png_infop AInfo, QSize AOut, bool AInterlaced,
             bool ADirect) {
    const TDecodeJob& job = *ARun.Job;
    const int w = ARun.Full.width();
    const int h = ARun.Full.height();
    const int channels = png_get_channels(APng, AInfo);
    ARun.Row.resize(png_get_rowbytes(APng, AInfo));
    if (ADirect) {
        const QImage::Format format = channels == 1   ? QImage::Format_Grayscale8
                                      : channels == 3 ? QImage::Format_RGB32
                                                      : QImage::Format_ARGB32;
        ARun.Sink.emplace(job, AOut, format, ARun.Orientation);
        // Interlaced: libpng fills the rows pass by pass, so they must stay put (only the
        // whole frame of a display decode takes this way).
        const int passes = AInterlaced ? PNG_INTERLACE_ADAM7_PASSES : 1;
        for (int pass = 0; pass < passes; ++pass) {
            for (int y = 0; y < h; ++y) {
                job.CheckCancel();
                uchar* line = ARun.Sink->Line(y);
                png_read_row(APng, line ? line : ARun.Row.data(), nullptr);
                if (line && pass == passes - 1) {
                    ARun.Sink->Done(y);
                }
            }
        }
    } else if (!AInterlaced) {
        ARun.Sink.emplace(job, AOut, FormatForChannels(channels), ARun.Orientation);
        ARun.Reducer.emplace(w, h, channels, *ARun.Sink, AOut);
        for (int y = 0; y < h; ++y) {
            job.CheckCancel();
            png_read_row(APng, ARun.Row.data(), nullptr);
            ARun.Reducer->AddRow(ARun.Row.data());
        }
        ARun.Reducer->Finish();
    } else {
        ARun.Sink.emplace(job, AOut, FormatForChannels(channels), ARun.Orientation, false,
                          TScatterReducer::WorkBytesPerPixel(channels));
        ARun.Scatter.emplace(ARun.Full, channels, *ARun.Sink, AOut);
        // Without libpng's interlace handling each row read is one row of the current pass,
        // holding that pass's columns only.
        long long rows = 0;
        for (int pass = 0; pass < 7; ++pass) {
            if (PNG_PASS_COLS(static_cast<png_uint_32>(w), pass) > 0) {
                rows += PNG_PASS_ROWS(static_cast<png_uint_32>(h), pass);
            }
        }
        for (long long i = 0; i < rows; ++i) {
            job.CheckCancel();
            const int pass = png_get_current_pass_number(APng);
            const png_uint_32 passRow = png_get_current_row_number(APng);
            png_read_row(APng, ARun.Row.data(), nullptr);
            ARun.Scatter->AddPixels(
                static_cast<int>(PNG_ROW_FROM_PASS_ROW(passRow, pass)),
                static_cast<int>(PNG_PASS_START_COL(pass)), 1 << PNG_PASS_COL_SHIFT(pass),
                static_cast<int>(PNG_PASS_COLS(static_cast<png_uint_32>(w), pass)),
                ARun.Row.data());
        }
        ARun.Scatter->Finish();
    }
    ARun.Image = ARun.Sink->Finish();
}

bool RunPng(TPngRun& ARun) {
    const TDecodeJob& job = *ARun.Job;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ARun, PngError, PngWarning);
    if (!png) {
        std::snprintf(ARun.Message, sizeof ARun.Message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (setjmp(ARun.Jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (!info) {
        png_error(png, "out of memory");
    }
    png_init_io(png, ARun.File);
    // Every chunk's CRC still covers the compressed bytes, so a corrupt file still fails;
    // the stream's own Adler-32 over the inflated bytes only repeats that check.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    // The size is checked below against our own limits, with our own message.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colour = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    ARun.Full = QSize(static_cast<int>(std::min<png_uint_32>(width, 0x7fffffff)),
                      static_cast<int>(std::min<png_uint_32>(height, 0x7fffffff)));
    ReadHeaderFacts(ARun, png, info);
    if (job.HeaderOnly) {
        png_destroy_read_struct(&png, &info, nullptr);
        return true;
    }
    try {
        job.CheckDeclaredSize(ARun.Full);
        const QSize out = StoredOut(ARun.Full, ARun.Orientation, job);
        const bool interlaced = interlace != PNG_INTERLACE_NONE;
        // Straight into the frame when nothing is reduced; an interlaced picture only so
        // for display, where the whole frame is held anyway.
        const bool direct = out == ARun.Full && (!interlaced || !job.Bands());
        if (colour == PNG_COLOR_TYPE_PALETTE) {
            png_set_palette_to_rgb(png);
        }
        if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) {
            png_set_expand_gray_1_2_4_to_8(png);
        }
        const bool alpha =
            (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
        if (png_get_valid(png, info, PNG_INFO_tRNS)) {
            png_set_tRNS_to_alpha(png);
        }
        if (depth == 16) {
            png_set_scale_16(png);
        }
        const bool grey = (colour & PNG_COLOR_MASK_COLOR) == 0;
        if (grey && alpha) {
            png_set_gray_to_rgb(png);
        }
        if (direct && !(grey && !alpha)) {
            // Qt's 32-bit formats as stored on little-endian machines: B, G, R, A/X.
            png_set_bgr(png);
            if (!alpha) {
                png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
            }
        }
        if (direct && interlaced) {
            // Before png_read_update_info, or libpng reads past the image data.
            png_set_interlace_handling(png);
        }
        png_read_update_info(png, info);
        PngRows(ARun, png, info, out, interlaced, direct);
    } catch (...) {
        ARun.Error = std::current_exception();
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

} // namespace

TDecodedImage DecodePng(const TDecodeJob& AJob) {
    const TFileHandle file = OpenOnePictureFile(AJob);
    // libpng asks for a chunk's 8-byte head and then its data: read ahead in large blocks
    // rather than a system call for each.
    std::setvbuf(file.get(), nullptr, _IOFBF, 256 * 1024);
    TPngRun run;
    run.Job = &AJob;
    run.File = file.get();
    if (!RunPng(run)) {
        AJob.Fail(QStringLiteral("the PNG data is truncated or corrupt (%1)")
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
