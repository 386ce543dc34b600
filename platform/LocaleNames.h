// Month and day names in the user's language, for formatting dates the way the user
// reads them. One backend per operating system (posix/, win32/).
#pragma once

#include <array>
#include <string>

namespace lvplatform {

struct TDateNames {
    std::array<std::string, 12> ShortMonth, LongMonth; // January first
    std::array<std::string, 7> ShortDay, LongDay;      // Sunday first
};

// English names: what the user gets when the user's own cannot be had.
TDateNames EnglishDateNames();

// The user's names as UTF-8, read from the user's date settings on every call (POSIX:
// LC_TIME, with LC_ALL and LANG as the C library orders them). A name the system does
// not have, or cannot give as UTF-8, stays English.
TDateNames UserDateNames();

} // namespace lvplatform
