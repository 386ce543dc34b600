#include "images/Orlenza.Types.h"

#include "platform/FileSystem.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <random>
#include <string_view>
#include <thread>

namespace {

// ---- text helpers ------------------------------------------------------------------

std::string FromUtf16(std::u16string_view text) {
    std::u32string cps;
    cps.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cps.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (text[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            cps.push_back(0xFFFD); // a half of a pair picked alone has no text of its own
        } else {
            cps.push_back(u);
        }
    }
    return lvplatform::EncodeUtf8(cps);
}

std::u16string ToUtf16(std::string_view text) {
    return lvplatform::ToUtf16(lvplatform::DecodeUtf8(text));
}

// Bytes as UTF-8 text, every malformed sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view bytes) {
    std::u32string cps = lvplatform::DecodeUtf8(bytes);
    for (char32_t& c : cps)
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
    return lvplatform::EncodeUtf8(cps);
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    const std::u32string x = lvplatform::DecodeUtf8(a);
    const std::u32string y = lvplatform::DecodeUtf8(b);
    if (x.size() != y.size())
        return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (lvplatform::UpperCase(x[i]) != lvplatform::UpperCase(y[i]))
            return false;
    return true;
}

// ---- path safety ---------------------------------------------------------------------

// The search text and the sub-folder name come from the host or a keyboard: they may
// only ever name something inside a source folder.
void RequireSafeName(const std::string& AName, const char* AWhat) {
    if (AName.find('\0') != std::string::npos)
        throw std::invalid_argument(std::string("Invalid ") + AWhat +
                                    ": it contains a NUL character");
    if (lvplatform::LastDirectoryDelimiter(AName) != std::string::npos)
        throw std::invalid_argument(std::string("Invalid ") + AWhat + " '" + AName +
                                    "': it contains a path delimiter");
    if (AName == "." || AName == "..")
        throw std::invalid_argument(std::string("Invalid ") + AWhat + " '" + AName +
                                    "': it names a folder, not an image");
}

void RequireValidPath(const std::string& APath) {
    if (APath.find('\0') != std::string::npos)
        throw std::invalid_argument("Invalid folder path: it contains a NUL character");
    if (APath.size() > lvplatform::MaxPathLength())
        throw std::invalid_argument("Invalid folder path '" + APath.substr(0, 64) +
                                    "...': it is longer than the system allows");
}

bool EndsWithDelimiter(const std::string& APath) {
    return !APath.empty() && lvplatform::LastDirectoryDelimiter(APath) == APath.size() - 1;
}

std::string CombinePath(const std::string& AFolder, const std::string& AName) {
    if (AFolder.empty())
        return AName;
    if (AName.empty())
        return AFolder;
    if (AName.front() == lvplatform::PathDelimiter)
        return AName; // a rooted name wins
    return EndsWithDelimiter(AFolder) ? AFolder + AName
                                      : AFolder + lvplatform::PathDelimiter + AName;
}

// "*.tif;*.png" -> {".tif", ".png"}
std::vector<std::string> ParseExtensions(const std::string& AList) {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start <= AList.size()) {
        std::size_t end = AList.find(';', start);
        if (end == std::string::npos)
            end = AList.size();
        std::string item = AList.substr(start, end - start);
        while (!item.empty() && item.front() == ' ')
            item.erase(0, 1);
        while (!item.empty() && item.back() == ' ')
            item.pop_back();
        if (!item.empty() && item.front() == '*')
            item.erase(0, 1);
        if (!item.empty())
            result.push_back(item);
        start = end + 1;
    }
    return result;
}

// ---- unit-level error texts ------------------------------------------------------------

const std::vector<std::string>& LockedTexts() {
    static const std::vector<std::string> texts = lvplatform::LockedErrorTexts();
    return texts;
}

const std::vector<std::string>& SecuredTexts() {
    static const std::vector<std::string> texts = lvplatform::SecuredErrorTexts();
    return texts;
}

bool ContainsAny(const std::string& AMessage, const std::vector<std::string>& ATexts) {
    for (const std::string& t : ATexts)
        if (!t.empty() && AMessage.find(t) != std::string::npos)
            return true;
    return false;
}

// ---- date formatting ------------------------------------------------------------------

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

// Month and day names in the user's language (LC_TIME), English when the user's locale
// is unavailable or its names cannot be given as UTF-8.
class TLocaleNames {
public:
    TLocaleNames() {
        static const char* const months[] = {"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
        static const char* const days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                           "Thursday", "Friday", "Saturday"};
        for (int i = 0; i < 12; ++i) {
            LongMonth[i] = months[i];
            ShortMonth[i] = LongMonth[i].substr(0, 3);
        }
        for (int i = 0; i < 7; ++i) {
            LongDay[i] = days[i];
            ShortDay[i] = LongDay[i].substr(0, 3);
        }
        locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
        if (!loc)
            loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        if (!loc)
            return;
        const bool utf8 = std::strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
        auto take = [&](nl_item item, std::string& into) {
            const char* text = nl_langinfo_l(item, loc);
            if (!text || !*text)
                return;
            std::string value(text);
            bool ascii = true;
            for (char c : value)
                ascii = ascii && static_cast<unsigned char>(c) < 0x80;
            if (ascii || utf8)
                into = value;
        };
        for (int i = 0; i < 12; ++i) {
            take(static_cast<nl_item>(ABMON_1 + i), ShortMonth[i]);
            take(static_cast<nl_item>(MON_1 + i), LongMonth[i]);
        }
        for (int i = 0; i < 7; ++i) {
            take(static_cast<nl_item>(ABDAY_1 + i), ShortDay[i]);
            take(static_cast<nl_item>(DAY_1 + i), LongDay[i]);
        }
        freelocale(loc);
    }
    std::string ShortMonth[12], LongMonth[12], ShortDay[7], LongDay[7];
};

const TLocaleNames& LocaleNames() {
    static const TLocaleNames names;
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
    const TLocaleNames& names = LocaleNames();
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
                out += names.ShortDay[p.DayOfWeek];
            else
                out += names.LongDay[p.DayOfWeek];
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
                out += names.ShortMonth[p.Month - 1];
            else
                out += names.LongMonth[p.Month - 1];
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
                const std::string_view word = AFormat.substr(i + (p.Hour < 12 ? 0 : 3), 2);
                out += word;
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

int RandomPause(int AMax) {
    thread_local std::minstd_rand generator{std::random_device{}()};
    return std::uniform_int_distribution<int>(1, AMax)(generator);
}

} // namespace

// ---- TLumivaneImage -----------------------------------------------------------------------

void TLumivaneImage::New() {
    Path.clear();
    Alias.clear();
    PageCount = 0;
    TimeStamp = 0;
    FCantOpenReason = corNone;
}

std::string TLumivaneImage::DisplayName() const {
    const std::size_t tilde = Name.find('~');
    return tilde == std::string::npos ? std::string() : Name.substr(0, tilde);
}

std::string TLumivaneImage::FullFileName() const {
    return CombinePath(Source, Name);
}

std::string TLumivaneImage::FormattedTimeStamp(const std::string& AFormat) const {
    return FormatDayCount(AFormat, TimeStamp);
}

// ---- lists and the search ------------------------------------------------------------------

int TLumivaneImageList::Add(const TLumivaneImage& AItem) {
    FItems.push_back(AItem);
    return Count() - 1;
}

std::unique_ptr<TLumivaneImageListFolder>
TLumivaneImageListFolder::GetList(const std::vector<std::string>* ASources,
                                  const std::string& ASearchString, const std::string& APattern,
                                  const std::string& ASupportedExtensions) {
    auto result = std::make_unique<TLumivaneImageListFolder>();
    if (!ASources)
        throw EAssertionFailed("Sources not defined (Orlenza.Types, line " +
                               std::to_string(__LINE__) + ")");
    RequireSafeName(ASearchString, "search text");
    for (const std::string& source : *ASources) {
        const std::size_t delimiter = lvplatform::LastDirectoryDelimiter(source);
        const std::string folder =
            delimiter == std::string::npos ? std::string() : source.substr(0, delimiter + 1);
        const std::string sub = FolderNameFromPattern(APattern, ASearchString);
        if (sub.empty())
            continue;
        RequireSafeName(sub, "sub-folder name");
        RequireValidPath(folder);
        const std::string path = CombinePath(folder, sub);
        RequireValidPath(path);
        result->SearchForFiles(path, ASearchString, false, ASupportedExtensions);
    }
    return result;
}

int TLumivaneImageListFolder::SearchForFiles(const std::string& AFolderPath,
                                             const std::string& ASearchFilter, bool AReset,
                                             const std::string& ASupportedExtensions) {
    if (AReset)
        Clear();
    RequireValidPath(AFolderPath);
    RequireSafeName(ASearchFilter, "search text");
    if (!lvplatform::DirectoryExists(AFolderPath))
        return 0;
    const std::string listed =
        EndsWithDelimiter(AFolderPath) ? AFolderPath : AFolderPath + lvplatform::PathDelimiter;
    RequireValidPath(listed);
    const lvplatform::TFileMask mask(ASearchFilter + "*");
    const std::vector<std::string> extensions = ParseExtensions(ASupportedExtensions);

    for (const lvplatform::TFileEntry& entry : lvplatform::ListFiles(listed, mask)) {
        const std::size_t dot = entry.Name.rfind('.');
        if (dot == std::string::npos)
            continue;
        const std::string_view ext = std::string_view(entry.Name).substr(dot);
        // Whole extensions only: a fragment such as ".ti" names no supported format.
        bool supported = false;
        for (const std::string& candidate : extensions)
            supported = supported || SameTextIgnoringCase(ext, candidate);
        if (!supported)
            continue;
        const std::string full = CombinePath(listed, entry.Name);
        TLumivaneCantOpenReason reason = corNone;
        std::string text;
        if (SameTextIgnoringCase(ext, ".lva"))
            ReadAliasText(full, reason, text);
        TLumivaneImage image;
        image.New();
        image.Source = listed;
        image.Name = entry.Name;
        image.Path = full;
        image.Alias = std::move(text);
        image.SetCantOpenReason(reason);
        image.PageCount = 1;
        image.TimeStamp = FileTimeToLocalDateTime(entry.LastWriteTime.Ticks);
        Add(image);
    }
    return Count();
}

// ---- unit routines ---------------------------------------------------------------------------

std::string FolderNameFromPattern(const std::string& APattern, const std::string& ASearchText) {
    const std::u16string pattern = ToUtf16(APattern);
    const std::u16string text = ToUtf16(ASearchText);
    if (pattern.size() > text.size())
        return {};
    std::u16string picked;
    for (std::size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == u'*')
            picked.push_back(text[i]);
    return FromUtf16(picked);
}

double FileTimeToLocalDateTime(std::int64_t AFileTime) {
    return lvplatform::FileTimeToLocalDayCount(lvplatform::TFileTime{AFileTime}).value_or(0.0);
}

void ReadAliasText(const std::string& AFileName, TLumivaneCantOpenReason& AReason,
                   std::string& AText, const TAliasReadPauses& APauses) {
    AText.clear();
    int waited = 0;
    for (;;) {
        const lvplatform::TExclusiveRead read = lvplatform::ReadFileExclusive(AFileName);
        if (read.Stage == lvplatform::TExclusiveRead::rsDone) {
            AText = SanitizeUtf8(read.Bytes);
            return;
        }
        const bool openFailed = read.Stage == lvplatform::TExclusiveRead::rsOpenFailed;
        if (openFailed && IsLockedError(read.Message)) {
            waited += 100;
            if (waited > 300) {
                AReason = corLocked;
                return;
            }
            const int pause = APauses.Random ? APauses.Random(waited) : RandomPause(waited);
            if (APauses.Sleep)
                APauses.Sleep(pause);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            continue;
        }
        AReason = openFailed && IsSecuredError(read.Message) ? corSecured : corUnknown;
        return;
    }
}

bool IsLockedError(const std::string& AMessage) {
    return ContainsAny(AMessage, LockedTexts());
}

bool IsSecuredError(const std::string& AMessage) {
    return ContainsAny(AMessage, SecuredTexts());
}
