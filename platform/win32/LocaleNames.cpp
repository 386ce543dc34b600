// Win32 backend of the user's month and day names: GetLocaleInfoEx on the user's locale.
#include "platform/LocaleNames.h"
#include "platform/win32/WideText.h"

#include <windows.h>

namespace lvplatform {

TDateNames UserDateNames() {
    TDateNames names = EnglishDateNames();
    auto take = [](LCTYPE item, std::string& into) {
        wchar_t buffer[128] = {};
        const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, buffer, 128);
        if (n > 1)
            into = win32::Narrow(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)));
    };
    for (std::size_t i = 0; i < 12; ++i) {
        take(static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + i), names.ShortMonth[i]);
        take(static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i), names.LongMonth[i]);
    }
    // The system counts Monday first (LOCALE_SDAYNAME1); ours starts with Sunday.
    for (std::size_t i = 0; i < 7; ++i) {
        const std::size_t system = (i + 6) % 7;
        take(static_cast<LCTYPE>(LOCALE_SABBREVDAYNAME1 + system), names.ShortDay[i]);
        take(static_cast<LCTYPE>(LOCALE_SDAYNAME1 + system), names.LongDay[i]);
    }
    return names;
}

} // namespace lvplatform
