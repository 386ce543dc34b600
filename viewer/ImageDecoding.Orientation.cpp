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
QSize StoredOut(QSize AStoredFull, int AOrientation,
                const std::function<QSize(QSize)>& ATargetFor) {
    const QSize box = ATargetFor(Upright(AStoredFull, AOrientation));
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

// The orientation tag of a TIFF structure held in memory (the body of an EXIF block or of
// a PNG eXIf chunk), from the first directory. Everything is read within ASize: a cut or
// garbled block means 1, as stored.
int ExifOrientation(const uint8_t* AData, size_t ASize) {
    if (!AData || ASize < 8) {
        return 1;
    }
    bool little;
    if (AData[0] == 'I' && AData[1] == 'I') {
        little = true;
    } else if (AData[0] == 'M' && AData[1] == 'M') {
        little = false;
    } else {
        return 1;
    }
    const auto u16 = [&](size_t AAt) {
        return little ? static_cast<uint32_t>(AData[AAt] | AData[AAt + 1] << 8)
                      : static_cast<uint32_t>(AData[AAt] << 8 | AData[AAt + 1]);
    };
    const auto u32 = [&](size_t AAt) {
        return little ? u16(AAt) | u16(AAt + 2) << 16 : u16(AAt) << 16 | u16(AAt + 2);
    };
    if (u16(2) != 42) {
        return 1;
    }
    const uint64_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > ASize) {
        return 1;
    }
    const uint32_t entries = u16(static_cast<size_t>(ifd));
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t at = ifd + 2 + 12 * i;
        if (at + 12 > ASize) {
            return 1;
        }
        const auto entry = static_cast<size_t>(at);
        constexpr uint32_t OrientationTag = 0x0112;
        constexpr uint32_t TypeShort = 3;
        if (u16(entry) == OrientationTag) {
            return u16(entry + 2) == TypeShort && u32(entry + 4) >= 1
                       ? ValidOrientation(u16(entry + 8))
                       : 1;
        }
    }
    return 1;
}

} // namespace ImageDecodingDetail
