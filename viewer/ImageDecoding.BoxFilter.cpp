// Box filters: rows in, a reduced frame out, so a full frame is never held.
#include "viewer/ImageDecoding.Internal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <new>
#include <stdexcept>

namespace ImageDecodingDetail {

// Source index i belongs to output bin i * out / in: every source pixel counts exactly
// once and every bin gets at least one pixel when out <= in.
std::vector<int> BinOf(int AIn, int AOut) {
    std::vector<int> bins(static_cast<size_t>(AIn));
    for (int i = 0; i < AIn; ++i) {
        bins[static_cast<size_t>(i)] = static_cast<int>(static_cast<long long>(i) * AOut / AIn);
    }
    return bins;
}

int BinStart(int AIn, int AOut, int AOutIndex) {
    // The least i with i * out / in >= index.
    const long long scaled = static_cast<long long>(AOutIndex) * AIn;
    return static_cast<int>((scaled + AOut - 1) / AOut);
}

std::vector<uint32_t> BinSizes(const std::vector<int>& ABins, int AOut) {
    std::vector<uint32_t> sizes(static_cast<size_t>(AOut), 0);
    for (int b : ABins) {
        ++sizes[static_cast<size_t>(b)];
    }
    return sizes;
}

// Bits set in each byte value. A table, since std::popcount without a CPU baseline that
// has the instruction becomes a library call per byte.
constexpr auto BitsSet = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v) {
        table[v] = static_cast<uint8_t>(std::popcount(v));
    }
    return table;
}();

TBilevelReducer::TBilevelReducer(int AWidth, int AHeight, TFrameSink& ASink, QSize AOut,
                                 bool AOneIsBlack)
    : FWidth(AWidth), FHeight(AHeight), FOneIsBlack(AOneIsBlack), FSink(ASink),
      FCounts(static_cast<size_t>(AOut.width()), 0) {
    const std::vector<int> xbin = BinOf(AWidth, AOut.width());
    for (uint32_t width : BinSizes(xbin, AOut.width())) {
        FColScale.push_back(255.0f / static_cast<float>(width));
    }
    FRowBin = BinOf(AHeight, AOut.height());
    FRowHeight = BinSizes(FRowBin, AOut.height());
    const int bytes = (AWidth + 7) / 8;
    FSegBegin.reserve(static_cast<size_t>(bytes) + 1);
    for (int bx = 0; bx < bytes; ++bx) {
        FSegBegin.push_back(static_cast<uint32_t>(FSegs.size()));
        for (int bit = 0; bit < 8; ++bit) {
            const int x = bx * 8 + bit;
            if (x >= AWidth) {
                break;
            }
            const int ox = xbin[static_cast<size_t>(x)];
            const auto mask = static_cast<uint8_t>(0x80u >> bit);
            if (FSegs.size() > FSegBegin.back() && FSegs.back().ox == ox) {
                FSegs.back().mask = static_cast<uint8_t>(FSegs.back().mask | mask);
            } else {
                FSegs.push_back({ox, mask});
            }
        }
    }
    FSegBegin.push_back(static_cast<uint32_t>(FSegs.size()));
}

bool TBilevelReducer::NextRowWanted() const {
    return FRow < FHeight && FSink.Wants(FRowBin[static_cast<size_t>(FRow)]);
}

void TBilevelReducer::AddRow(const uint8_t* ABits) {
    const int oy = FRowBin[static_cast<size_t>(FRow)];
    if (oy != FOutRow) {
        Flush();
        FOutRow = oy;
    }
    if (!FSink.Wants(oy)) {
        ++FRow;
        return;
    }
    const size_t bytes = FSegBegin.size() - 1;
    const TSeg* segs = FSegs.data();
    const uint32_t* begin = FSegBegin.data();
    uint32_t* counts = FCounts.data();
    for (size_t bx = 0; bx < bytes; ++bx) {
        const uint8_t b = ABits[bx];
        if (b == 0) {
            continue;
        }
        for (uint32_t s = begin[bx]; s < begin[bx + 1]; ++s) {
            counts[segs[s].ox] += BitsSet[b & segs[s].mask];
        }
    }
    ++FRow;
}

void TBilevelReducer::Finish() {
    if (FRow != FHeight) {
        throw std::logic_error("bilevel reducer: not all rows given");
    }
    Flush();
}

void TBilevelReducer::StartAt(int ARow) {
    FRow = ARow;
    FOutRow = -1;
    std::fill(FCounts.begin(), FCounts.end(), 0);
}

void TBilevelReducer::FinishPart() {
    Flush();
    FOutRow = -1;
}

void TBilevelReducer::Flush() {
    if (FOutRow < 0) {
        return;
    }
    uchar* line = FSink.Line(FOutRow);
    if (!line) {
        return;
    }
    // A multiplication by the cell's reciprocal area instead of a division per pixel.
    const float rowScale = 1.0f / static_cast<float>(FRowHeight[static_cast<size_t>(FOutRow)]);
    for (size_t ox = 0; ox < FCounts.size(); ++ox) {
        const float level =
            std::min(255.0f, static_cast<float>(FCounts[ox]) * FColScale[ox] * rowScale + 0.5f);
        const auto value = static_cast<uchar>(level);
        line[ox] = FOneIsBlack ? static_cast<uchar>(255 - value) : value;
        FCounts[ox] = 0;
    }
    FSink.Done(FOutRow);
}

QImage::Format FormatForChannels(int AChannels) {
    return AChannels == 1   ? QImage::Format_Grayscale8
           : AChannels == 3 ? QImage::Format_RGB32
                            : QImage::Format_ARGB32;
}

TSampleReducer::TSampleReducer(int AWidth, int AHeight, int AChannels, TFrameSink& ASink,
                               QSize AOut)
    : FWidth(AWidth), FHeight(AHeight), FChannels(AChannels), FSink(ASink),
      FXBin(BinOf(AWidth, AOut.width())), FRowBin(BinOf(AHeight, AOut.height())),
      FSums(static_cast<size_t>(AOut.width()) * static_cast<size_t>(AChannels), 0) {
    FColWidth = BinSizes(FXBin, AOut.width());
    FRowHeight = BinSizes(FRowBin, AOut.height());
}

bool TSampleReducer::NextRowWanted() const {
    return FRow < FHeight && FSink.Wants(FRowBin[static_cast<size_t>(FRow)]);
}

void TSampleReducer::AddRow(const uint8_t* ASamples) {
    const int oy = FRowBin[static_cast<size_t>(FRow)];
    if (oy != FOutRow) {
        Flush();
        FOutRow = oy;
    }
    if (!FSink.Wants(oy)) {
        ++FRow;
        return;
    }
    uint64_t* sums = FSums.data();
    const int* xbin = FXBin.data();
    const auto c = static_cast<size_t>(FChannels);
    for (int x = 0; x < FWidth; ++x) {
        uint64_t* cell = sums + static_cast<size_t>(xbin[x]) * c;
        const uint8_t* px = ASamples + static_cast<size_t>(x) * c;
        for (size_t k = 0; k < c; ++k) {
            cell[k] += px[k];
        }
    }
    ++FRow;
}

void TSampleReducer::Finish() {
    if (FRow != FHeight) {
        throw std::logic_error("sample reducer: not all rows given");
    }
    Flush();
}

void TSampleReducer::StartAt(int ARow) {
    FRow = ARow;
    FOutRow = -1;
    std::fill(FSums.begin(), FSums.end(), 0);
}

void TSampleReducer::FinishPart() {
    Flush();
    FOutRow = -1;
}

void TSampleReducer::Flush() {
    if (FOutRow < 0) {
        return;
    }
    uchar* line = FSink.Line(FOutRow);
    if (!line) {
        return;
    }
    const uint64_t rowHeight = FRowHeight[static_cast<size_t>(FOutRow)];
    const auto c = static_cast<size_t>(FChannels);
    for (size_t ox = 0; ox < FColWidth.size(); ++ox) {
        const uint64_t area = FColWidth[ox] * rowHeight;
        uint64_t* cell = FSums.data() + ox * c;
        auto avg = [&](size_t k) { return static_cast<int>((cell[k] + area / 2) / area); };
        if (c == 1) {
            line[ox] = static_cast<uchar>(avg(0));
        } else {
            const QRgb px = qRgba(avg(0), avg(1), avg(2), c == 4 ? avg(3) : 255);
            reinterpret_cast<QRgb*>(line)[ox] = px;
        }
        std::fill(cell, cell + c, 0);
    }
    FSink.Done(FOutRow);
}

TScatterReducer::TScatterReducer(QSize AFull, int AChannels, TFrameSink& ASink, QSize AOut)
    : FChannels(AChannels), FSink(ASink), FWindow(ASink.Window()),
      FXBin(BinOf(AFull.width(), AOut.width())), FYBin(BinOf(AFull.height(), AOut.height())),
      FSums(static_cast<size_t>(FWindow.width()) * static_cast<size_t>(FWindow.height()) *
                static_cast<size_t>(AChannels),
            0) {
    FColWidth = BinSizes(FXBin, AOut.width());
    FRowHeight = BinSizes(FYBin, AOut.height());
}

bool TScatterReducer::RowWanted(int AY) const {
    const int oy = FYBin[static_cast<size_t>(AY)];
    return oy >= FWindow.top() && oy <= FWindow.bottom();
}

void TScatterReducer::AddPixels(int AY, int AX0, int AStep, int ACount, const uint8_t* ASamples) {
    if (!RowWanted(AY)) {
        return;
    }
    const auto c = static_cast<size_t>(FChannels);
    const auto stride = static_cast<size_t>(FWindow.width()) * c;
    uint64_t* row =
        FSums.data() + static_cast<size_t>(FYBin[static_cast<size_t>(AY)] - FWindow.top()) * stride;
    for (int i = 0, x = AX0; i < ACount; ++i, x += AStep) {
        const int ox = FXBin[static_cast<size_t>(x)] - FWindow.left();
        if (ox < 0 || ox >= FWindow.width()) {
            continue;
        }
        uint64_t* cell = row + static_cast<size_t>(ox) * c;
        const uint8_t* px = ASamples + static_cast<size_t>(i) * c;
        for (size_t k = 0; k < c; ++k) {
            cell[k] += px[k];
        }
    }
}

void TScatterReducer::Finish() {
    const auto c = static_cast<size_t>(FChannels);
    for (int oy = FWindow.top(); oy <= FWindow.bottom(); ++oy) {
        uchar* line = FSink.Line(oy);
        if (!line) {
            continue;
        }
        const uint64_t rowHeight = FRowHeight[static_cast<size_t>(oy)];
        const uint64_t* row = FSums.data() + static_cast<size_t>(oy - FWindow.top()) *
                                                 static_cast<size_t>(FWindow.width()) * c;
        for (int ox = FWindow.left(); ox <= FWindow.right(); ++ox) {
            const uint64_t area = FColWidth[static_cast<size_t>(ox)] * rowHeight;
            const uint64_t* cell = row + static_cast<size_t>(ox - FWindow.left()) * c;
            auto avg = [&](size_t k) { return static_cast<int>((cell[k] + area / 2) / area); };
            if (c == 1) {
                line[ox] = static_cast<uchar>(avg(0));
            } else {
                reinterpret_cast<QRgb*>(line)[ox] =
                    qRgba(avg(0), avg(1), avg(2), c == 4 ? avg(3) : 255);
            }
        }
        FSink.Done(oy);
    }
}

} // namespace ImageDecodingDetail
