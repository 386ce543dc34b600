// Stored orientation (TIFF tag, EXIF) to upright: sizes and the turn of a reduced frame.
#include "viewer/ImageDecoding.Internal.h"

#include <QTransform>

#include <algorithm>

namespace ImageDecodingDetail {

int ValidOrientation(long long AValue) {
    return AValue >= 1 && AValue <= 8 ? static_cast<int>(AValue) : 1;
}

bool SwapsSides(int AOrientation) {
    return AOrientation >= 5;
}

QSize Upright(QSize AStored, int AOrientation) {
    return SwapsSides(AOrientation) ? AStored.transposed() : AStored;
}

// The caller fits the upright picture; the decoder reduces the stored one. The size rule is
// symmetric, so the turned result has exactly the size the upright box asks for.
QSizeF Upright(QSizeF AStored, int AOrientation) {
    return SwapsSides(AOrientation) ? AStored.transposed() : AStored;
}

QSize StoredOut(QSize AStoredFull, int AOrientation, const TDecodeJob& AJob) {
    const QSize box = AJob.TargetForFull(Upright(AStoredFull, AOrientation));
    return DecodeSizeWithin(AStoredFull, SwapsSides(AOrientation) ? box.transposed() : box);
}

QImage ToUpright(QImage AImage, int AOrientation) {
    switch (AOrientation) {
    case 2:
        return AImage.mirrored(true, false);
    case 3:
        return AImage.mirrored(true, true);
    case 4:
        return AImage.mirrored(false, true);
    case 5: // transposed: the stored first row is the upright first column
        return AImage.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6: // taken turned a quarter counter-clockwise: turn it clockwise
        return AImage.transformed(QTransform().rotate(90));
    case 7:
        return AImage.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8:
        return AImage.transformed(QTransform().rotate(270));
    default:
        return AImage;
    }
}

// The first directory of a TIFF structure held in memory (the body of an EXIF block or of a
// PNG eXIf chunk). Everything is read within ASize; reading stops at the first entry that
// does not fit, keeping what came before.
TExifInfo ReadExif(const uint8_t* AData, size_t ASize) {
    TExifInfo info;
    if (!AData || ASize < 8) {
        return info;
    }
    bool little;
    if (AData[0] == 'I' && AData[1] == 'I') {
        little = true;
    } else if (AData[0] == 'M' && AData[1] == 'M') {
        little = false;
    } else {
        return info;
    }
    const auto u16 = [&](size_t AAt) {
        return little ? static_cast<uint32_t>(AData[AAt] | AData[AAt + 1] << 8)
                      : static_cast<uint32_t>(AData[AAt] << 8 | AData[AAt + 1]);
    };
    const auto u32 = [&](size_t AAt) {
        return little ? u16(AAt) | u16(AAt + 2) << 16 : u16(AAt) << 16 | u16(AAt + 2);
    };
    if (u16(2) != 42) {
        return info;
    }
    const uint64_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > ASize) {
        return info;
    }
    constexpr uint32_t TypeShort = 3;
    constexpr uint32_t TypeRational = 5;
    double xres = 0;
    double yres = 0;
    uint32_t unit = 2; // inches unless the block says otherwise
    // A rational's value lies elsewhere in the block, at the offset the entry holds.
    const auto rational = [&](size_t AEntry) {
        const uint64_t at = u32(AEntry + 8);
        if (u16(AEntry + 2) != TypeRational || at + 8 > ASize) {
            return 0.0;
        }
        const uint32_t den = u32(static_cast<size_t>(at) + 4);
        return den == 0 ? 0.0 : static_cast<double>(u32(static_cast<size_t>(at))) / den;
    };
    const uint32_t entries = u16(static_cast<size_t>(ifd));
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t at = ifd + 2 + 12 * i;
        if (at + 12 > ASize) {
            break;
        }
        const auto entry = static_cast<size_t>(at);
        switch (u16(entry)) {
        case 0x0112: // orientation
            info.Orientation = u16(entry + 2) == TypeShort && u32(entry + 4) >= 1
                                   ? ValidOrientation(u16(entry + 8))
                                   : 1;
            break;
        case 0x011A:
            xres = rational(entry);
            break;
        case 0x011B:
            yres = rational(entry);
            break;
        case 0x0128:
            unit = u16(entry + 2) == TypeShort ? u16(entry + 8) : 0;
            break;
        default:
            break;
        }
    }
    if (xres > 0 && yres > 0 && (unit == 2 || unit == 3)) {
        const double perInch = unit == 3 ? 2.54 : 1.0;
        info.DotsPerInch = QSizeF(xres * perInch, yres * perInch);
    }
    return info;
}

QRect StoredRectOfUprightRows(QSize AStored, int AOrientation, int ATop, int ACount) {
    const int w = AStored.width();
    const int h = AStored.height();
    switch (AOrientation) {
    case 3:
    case 4: // upright row y is stored row h - 1 - y
        return {0, h - ATop - ACount, w, ACount};
    case 5:
    case 6: // upright row y is stored column y
        return {ATop, 0, ACount, h};
    case 7:
    case 8: // upright row y is stored column w - 1 - y
        return {w - ATop - ACount, 0, ACount, h};
    default:
        return {0, ATop, w, ACount};
    }
}

} // namespace ImageDecodingDetail
