// What the viewer window's source files share and nothing else needs: its colours and two
// small conversions.
#pragma once

#include <QColor>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <cmath>
#include <string>

namespace lvform {

inline const QColor kNoImageColor(0xFA, 0xEB, 0xD7);   // antique white
inline const QColor kHintColor(0xE8, 0xEA, 0xED);      // light grey
inline const QColor kLoadErrorColor(0xBC, 0x8F, 0x8F); // rosy brown
inline const QColor kControllerFill(0xA9, 0xA9, 0xA9); // dark gray
inline const QColor kBusyFrom(Qt::white);
inline const QColor kBusyTo(0x87, 0xCE, 0xEB); // sky blue

// The title keeps at least this much of the top bar.
constexpr int kMinTitleWidth = 140;

inline QSize DevicePixels(QSizeF ALogical, qreal ADevicePixelRatio) {
    return {static_cast<int>(std::ceil(ALogical.width() * ADevicePixelRatio)),
            static_cast<int>(std::ceil(ALogical.height() * ADevicePixelRatio))};
}

inline QString Q(const std::string& AText) {
    return QString::fromStdString(AText);
}

} // namespace lvform
