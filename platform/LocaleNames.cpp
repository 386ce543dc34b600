// The English names every backend starts from.
#include "platform/LocaleNames.h"

namespace lvplatform {

TDateNames EnglishDateNames() {
    static const char* const months[] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
    static const char* const days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                       "Thursday", "Friday", "Saturday"};
    TDateNames names;
    for (std::size_t i = 0; i < 12; ++i) {
        names.LongMonth[i] = months[i];
        names.ShortMonth[i] = names.LongMonth[i].substr(0, 3);
    }
    for (std::size_t i = 0; i < 7; ++i) {
        names.LongDay[i] = days[i];
        names.ShortDay[i] = names.LongDay[i].substr(0, 3);
    }
    return names;
}

} // namespace lvplatform
