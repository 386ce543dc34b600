// The 12-megapixel PNG of bench_imaging --make through three decoders, in one run:
//   libpng      row by row into one row buffer (what the viewer does today);
//   libspng     progressive, row by row into one row buffer;
//   libdeflate  the IDAT data inflated whole into one buffer, then unfiltered in place
//               (needs the compressed data and every filtered row at once).
// Each decodes every row to RGB and touches it; the ratios are to libpng. Peak memory:
// --peak DECODER FILE runs one decode in its own process and prints the growth of VmHWM.
//   bench_png_decoders FILE [repetitions]
//   bench_png_decoders --peak libpng|libspng|libdeflate FILE
#include "../BenchSupport.h"

#include <libdeflate.h>
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A sum over every row, so no decoder's work can be left out.
uint64_t Touch(const uint8_t* ARow, size_t ABytes) {
    uint64_t sum = 0;
    for (size_t i = 0; i < ABytes; i += 61)
        sum += ARow[i];
    return sum;
}

uint64_t Libpng(const char* APath) {
    FILE* f = std::fopen(APath, "rb");
    if (!f)
        throw std::runtime_error("cannot read the PNG");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        throw std::runtime_error("libpng failed");
    png_init_io(png, f);
    png_read_info(png, info);
    png_read_update_info(png, info);
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    const png_uint_32 h = png_get_image_height(png, info);
    uint64_t sum = 0;
    for (png_uint_32 y = 0; y < h; ++y) {
        png_read_row(png, row.data(), nullptr);
        sum += Touch(row.data(), row.size());
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return sum;
}

uint64_t Libspng(const char* APath) {
    FILE* f = std::fopen(APath, "rb");
    if (!f)
        throw std::runtime_error("cannot read the PNG");
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_file(ctx, f);
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr))
        throw std::runtime_error("libspng: no header");
    size_t size = 0;
    spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size);
    std::vector<uint8_t> row(size / ihdr.height);
    if (spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE))
        throw std::runtime_error("libspng: cannot start");
    uint64_t sum = 0;
    int ret = 0;
    do {
        ret = spng_decode_row(ctx, row.data(), row.size());
        if (ret == 0 || ret == SPNG_EOI)
            sum += Touch(row.data(), row.size());
    } while (ret == 0);
    if (ret != SPNG_EOI)
        throw std::runtime_error(std::string("libspng: ") + spng_strerror(ret));
    spng_ctx_free(ctx);
    std::fclose(f);
    return sum;
}

uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// 8-bit RGB, not interlaced (the sample), as any whole-buffer PNG reader must do it.
uint64_t Libdeflate(const char* APath) {
    std::vector<uint8_t> file;
    if (FILE* f = std::fopen(APath, "rb")) {
        std::fseek(f, 0, SEEK_END);
        file.resize(static_cast<size_t>(std::ftell(f)));
        std::fseek(f, 0, SEEK_SET);
        if (std::fread(file.data(), 1, file.size(), f) != file.size())
            file.clear();
        std::fclose(f);
    }
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> idat;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = Be32(&file[at]);
        const uint8_t* kind = &file[at + 4];
        if (std::memcmp(kind, "IHDR", 4) == 0) {
            w = Be32(&file[at + 8]);
            h = Be32(&file[at + 12]);
        } else if (std::memcmp(kind, "IDAT", 4) == 0) {
            idat.insert(idat.end(), &file[at + 8], &file[at + 8 + length]);
        }
        at += 12 + length;
    }
    const size_t stride = size_t{w} * 3;
    std::vector<uint8_t> data((stride + 1) * h);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    size_t got = 0;
    if (libdeflate_zlib_decompress(d, idat.data(), idat.size(), data.data(), data.size(), &got) !=
            LIBDEFLATE_SUCCESS ||
        got != data.size())
        throw std::runtime_error("libdeflate failed");
    libdeflate_free_decompressor(d);
    uint64_t sum = 0;
    const uint8_t* prior = nullptr;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = &data[y * (stride + 1) + 1];
        // One loop per filter type, as a decoder's unfilter is written.
        static const std::vector<uint8_t> zeros(stride, 0);
        const uint8_t* up = prior ? prior : zeros.data();
        switch (row[-1]) {
        case 1:
            for (size_t i = 3; i < stride; ++i)
                row[i] = static_cast<uint8_t>(row[i] + row[i - 3]);
            break;
        case 2:
            for (size_t i = 0; i < stride; ++i)
                row[i] = static_cast<uint8_t>(row[i] + up[i]);
            break;
        case 3:
            for (size_t i = 0; i < 3; ++i)
                row[i] = static_cast<uint8_t>(row[i] + up[i] / 2);
            for (size_t i = 3; i < stride; ++i)
                row[i] = static_cast<uint8_t>(row[i] + (row[i - 3] + up[i]) / 2);
            break;
        case 4:
            for (size_t i = 0; i < 3; ++i)
                row[i] = static_cast<uint8_t>(row[i] + up[i]);
            for (size_t i = 3; i < stride; ++i) {
                const int a = row[i - 3], b = up[i], c = up[i - 3];
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b),
                          pc = std::abs(p - c);
                row[i] = static_cast<uint8_t>(row[i] + (pa <= pb && pa <= pc ? a
                                                        : pb <= pc           ? b
                                                                             : c));
            }
            break;
        default:
            break;
        }
        sum += Touch(row, stride);
        prior = row;
    }
    return sum;
}

} // namespace

int main(int argc, char** argv) {
    const std::pair<const char*, uint64_t (*)(const char*)> decoders[] = {
        {"libpng", Libpng}, {"libspng", Libspng}, {"libdeflate", Libdeflate}};
    if (argc == 4 && std::strcmp(argv[1], "--peak") == 0) {
        for (const auto& [name, decode] : decoders) {
            if (std::strcmp(argv[2], name) == 0) {
                const long before = lvbench::StatusKb("VmHWM:");
                const uint64_t sum = decode(argv[3]);
                std::printf("  %-10s peak RSS grew by %6.1f MiB (checksum %llu)\n", name,
                            static_cast<double>(lvbench::StatusKb("VmHWM:") - before) / 1024.0,
                            static_cast<unsigned long long>(sum));
                return 0;
            }
        }
        return 2;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_png_decoders FILE [repetitions]\n");
        return 2;
    }
    const int reps = argc > 2 ? std::atoi(argv[2]) : 7;
    std::vector<double> times[3];
    uint64_t sums[3] = {};
    // Interleaved, so a busy spell of the machine falls on all alike.
    for (int r = 0; r < reps; ++r) {
        for (int i = 0; i < 3; ++i) {
            const auto t0 = lvbench::Clock::now();
            sums[i] = decoders[i].second(argv[1]);
            times[i].push_back(lvbench::Ms(lvbench::Clock::now() - t0));
        }
    }
    if (sums[0] != sums[1] || sums[0] != sums[2]) {
        std::printf("the decoders disagree on the pixels (%llu, %llu, %llu)\n",
                    static_cast<unsigned long long>(sums[0]),
                    static_cast<unsigned long long>(sums[1]),
                    static_cast<unsigned long long>(sums[2]));
        return 1;
    }
    double median[3];
    for (int i = 0; i < 3; ++i)
        median[i] = lvbench::Median(times[i]);
    std::printf("decode of every row, medians of %d interleaved runs, against libpng:\n", reps);
    for (int i = 0; i < 3; ++i)
        std::printf("  %-10s %8.1f ms  %.2fx\n", decoders[i].first, median[i],
                    median[i] / median[0]);
    return 0;
}
