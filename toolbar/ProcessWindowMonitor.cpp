// The console title format and filling it with an instance id.
#include "toolbar/ProcessWindowMonitor.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

std::string& TextFormat() {
    static std::string format;
    return format;
}

[[noreturn]] void InvalidFormat(const std::string& format) {
    throw EFormatError("Format '" + format + "' invalid or incompatible with argument");
}

// Widths and precisions beyond this are refused: no window title is that long, and
// the formatted text must stay small.
constexpr int kMaxFieldWidth = 1024;

} // namespace

bool IsProcessWindowTextFormatSet() {
    return !TextFormat().empty();
}

void SetProcessWindowTextFormat(const std::string& AFormat) {
    TextFormat() = AFormat;
}

std::string GetProcessWindowTextFormat() {
    if (TextFormat().empty())
        throw EAssertionFailed(
            "ProcessWindowTextFormat not set prior to calling (ProcessWindowMonitor.cpp, line " +
            std::to_string(__LINE__) + ")");
    return TextFormat();
}

std::string ProcessWindowText(std::uint16_t AInstanceID) {
    return FormatWithInteger(GetProcessWindowTextFormat(), AInstanceID);
}

std::string FormatWithInteger(const std::string& AFormat, std::int32_t AValue) {
    std::string out;
    bool used = false;
    std::size_t i = 0;
    const std::size_t n = AFormat.size();
    while (i < n) {
        const char c = AFormat[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < n && AFormat[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // One conversion: %[flags][width][.precision][length]conversion
        std::string spec = "%";
        ++i;
        while (i < n && std::string_view("-+ #0").find(AFormat[i]) != std::string_view::npos)
            spec += AFormat[i++];
        auto digits = [&](std::string& into) {
            int value = 0;
            while (i < n && AFormat[i] >= '0' && AFormat[i] <= '9') {
                value = std::min(value * 10 + (AFormat[i] - '0'), kMaxFieldWidth + 1);
                into += AFormat[i++];
            }
            if (value > kMaxFieldWidth)
                InvalidFormat(AFormat);
        };
        digits(spec);
        if (i < n && AFormat[i] == '.') {
            spec += AFormat[i++];
            digits(spec);
        }
        // Length modifiers change nothing for a 16-bit id; they are accepted and dropped.
        while (i < n && std::string_view("hljzt").find(AFormat[i]) != std::string_view::npos)
            ++i;
        if (i >= n || used)
            InvalidFormat(AFormat);
        const char conversion = AFormat[i++];
        if (std::string_view("diuxXo").find(conversion) == std::string_view::npos)
            InvalidFormat(AFormat);
        spec += conversion;
        used = true;

        char buffer[kMaxFieldWidth + 64];
        int written = 0;
        if (conversion == 'd' || conversion == 'i')
            written = std::snprintf(buffer, sizeof buffer, spec.c_str(), static_cast<int>(AValue));
        else
            written =
                std::snprintf(buffer, sizeof buffer, spec.c_str(), static_cast<unsigned>(AValue));
        if (written < 0)
            InvalidFormat(AFormat);
        out.append(buffer, std::min(static_cast<std::size_t>(written), sizeof buffer - 1));
    }
    return out;
}
