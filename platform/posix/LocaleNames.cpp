// POSIX backend of the user's month and day names: nl_langinfo on the user's LC_TIME.
#include "platform/LocaleNames.h"

#include <cstring>
#include <langinfo.h>
#include <locale.h>

namespace lvplatform {

TDateNames UserDateNames() {
    TDateNames names = EnglishDateNames();
    // The names' encoding is the locale's code set: only UTF-8 (or plain ASCII) is taken.
    locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc)
        loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc)
        return names;
    const char* codeset = nl_langinfo_l(CODESET, loc);
    const bool utf8 = codeset && std::strcmp(codeset, "UTF-8") == 0;
    auto take = [&](nl_item item, std::string& into) {
        const char* text = nl_langinfo_l(item, loc);
        if (!text || !*text)
            return;
        bool ascii = true;
        for (const char* c = text; *c; ++c)
            ascii = ascii && static_cast<unsigned char>(*c) < 0x80;
        if (ascii || utf8)
            into = text;
    };
    for (int i = 0; i < 12; ++i) {
        const auto at = static_cast<std::size_t>(i);
        take(static_cast<nl_item>(ABMON_1 + i), names.ShortMonth[at]);
        take(static_cast<nl_item>(MON_1 + i), names.LongMonth[at]);
    }
    for (int i = 0; i < 7; ++i) {
        const auto at = static_cast<std::size_t>(i);
        take(static_cast<nl_item>(ABDAY_1 + i), names.ShortDay[at]);
        take(static_cast<nl_item>(DAY_1 + i), names.LongDay[at]);
    }
    freelocale(loc);
    return names;
}

} // namespace lvplatform
