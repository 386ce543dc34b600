// Formatting a record's time stamp with the user's month and day names, and the file
// time conversion that fills it.
#include "images/Orlenza.Types.h"

#include "platform/FileSystem.h"
#include "platform/LocaleNames.h"

#include <cmath>
#include <string_view>

namespace {

struct TDateParts {
    int Year = 1899, Month = 12, Day = 30, DayOfWeek = 6; // 0 = Sunday
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Civil date from days since 1970-01-01.
void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0));
}

TDateParts DecodeDayCount(double AValue) {
    constexpr std::int64_t DayCountEpoch = -25569; // 1899-12-30 in days since 1970-01-01
    constexpr std::int64_t MsPerDay = 86400000;
    TDateParts p;
    if (!std::isfinite(AValue) || std::fabs(AValue) > 3.0e6)
        return p;
    std::int64_t days = static_cast<std::int64_t>(std::trunc(AValue));
    // Before the epoch the fraction still counts forward from midnight.
    std::int64_t ms =
        std::llround(std::fabs(AValue - static_cast<double>(days)) * static_cast<double>(MsPerDay));
    if (ms >= MsPerDay) {
        ms -= MsPerDay;
        days += AValue < 0 ? -1 : 1;
    }
    const std::int64_t unixDays = days + DayCountEpoch;
    CivilFromDays(unixDays, p.Year, p.Month, p.Day);
    p.DayOfWeek = static_cast<int>(((unixDays % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
    p.Hour = static_cast<int>(ms / 3600000);
    p.Minute = static_cast<int>(ms / 60000 % 60);
    p.Second = static_cast<int>(ms / 1000 % 60);
    p.Millisecond = static_cast<int>(ms % 1000);
    return p;
}

// Read once: formatting a title must not look up the locale every time.
const lvplatform::TDateNames& LocaleNames() {
    static const lvplatform::TDateNames names = lvplatform::UserDateNames();
    return names;
}

std::string Padded(int AValue, int AWidth) {
    std::string s = std::to_string(AValue);
    while (static_cast<int>(s.size()) < AWidth)
        s.insert(0, 1, '0');
    return s;
}

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view what) {
    if (s.size() - at < what.size())
        return false;
    for (std::size_t i = 0; i < what.size(); ++i) {
        char c = s[at + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != what[i])
            return false;
    }
    return true;
}

std::string FormatDayCount(const std::string& AFormat, double AValue) {
    const TDateParts p = DecodeDayCount(AValue);
    const lvplatform::TDateNames& names = LocaleNames();
    bool twelveHour = false;
    for (std::size_t i = 0; i < AFormat.size(); ++i)
        if (StartsWithNoCase(AFormat, i, "am/pm") || StartsWithNoCase(AFormat, i, "a/p") ||
            StartsWithNoCase(AFormat, i, "ampm"))
            twelveHour = true;
    const int hour = twelveHour ? (p.Hour % 12 == 0 ? 12 : p.Hour % 12) : p.Hour;

    std::string out;
    bool afterHour = false; // "m" right after "h" means minutes
    std::size_t i = 0;
    while (i < AFormat.size()) {
        const char c = AFormat[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        std::size_t run = 1;
        while (i + run < AFormat.size() && (AFormat[i + run] | 0x20) == lower && lower >= 'a' &&
               lower <= 'z')
            ++run;
        switch (lower) {
        case '"':
        case '\'': {
            const std::size_t end = AFormat.find(c, i + 1);
            const std::size_t stop = end == std::string::npos ? AFormat.size() : end;
            out.append(AFormat, i + 1, stop - i - 1);
            i = end == std::string::npos ? AFormat.size() : end + 1;
            continue;
        }
        case 'd':
            if (run == 1)
                out += std::to_string(p.Day);
            else if (run == 2)
                out += Padded(p.Day, 2);
            else if (run == 3)
                out += names.ShortDay[static_cast<std::size_t>(p.DayOfWeek)];
            else
                out += names.LongDay[static_cast<std::size_t>(p.DayOfWeek)];
            afterHour = false;
            break;
        case 'm':
            if (afterHour && run <= 2)
                out += run == 1 ? std::to_string(p.Minute) : Padded(p.Minute, 2);
            else if (run == 1)
                out += std::to_string(p.Month);
            else if (run == 2)
                out += Padded(p.Month, 2);
            else if (run == 3)
                out += names.ShortMonth[static_cast<std::size_t>(p.Month - 1)];
            else
                out += names.LongMonth[static_cast<std::size_t>(p.Month - 1)];
            afterHour = false;
            break;
        case 'y':
            out += run <= 2 ? Padded(p.Year % 100, 2) : Padded(p.Year, 4);
            afterHour = false;
            break;
        case 'h':
            out += run == 1 ? std::to_string(hour) : Padded(hour, 2);
            afterHour = true;
            break;
        case 'n':
            out += run == 1 ? std::to_string(p.Minute) : Padded(p.Minute, 2);
            afterHour = false;
            break;
        case 's':
            out += run == 1 ? std::to_string(p.Second) : Padded(p.Second, 2);
            afterHour = false;
            break;
        case 'z':
            out += run == 1 ? std::to_string(p.Millisecond) : Padded(p.Millisecond, 3);
            afterHour = false;
            break;
        case 'a':
            if (StartsWithNoCase(AFormat, i, "am/pm")) {
                // The letters as written: "AM/pm" gives "AM" before noon and "pm" after.
                out.append(AFormat, i + (p.Hour < 12 ? 0 : 3), 2);
                i += 5;
                continue;
            }
            if (StartsWithNoCase(AFormat, i, "a/p")) {
                out += AFormat[i + (p.Hour < 12 ? 0 : 2)];
                i += 3;
                continue;
            }
            if (StartsWithNoCase(AFormat, i, "ampm")) {
                out += p.Hour < 12 ? "AM" : "PM";
                i += 4;
                continue;
            }
            out.append(AFormat, i, run);
            break;
        default:
            out.append(AFormat, i, run);
            break;
        }
        i += run;
    }
    return out;
}

} // namespace

std::string TLumivaneImage::FormattedTimeStamp(const std::string& AFormat) const {
    return FormatDayCount(AFormat, TimeStamp);
}

double FileTimeToLocalDateTime(std::int64_t AFileTime) {
    return lvplatform::FileTimeToLocalDayCount(lvplatform::TFileTime{AFileTime}).value_or(0.0);
}
