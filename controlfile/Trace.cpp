#include "controlfile/Trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lvtrace {

bool Enabled() {
    static const bool enabled = [] {
        const char* v = std::getenv("LUMIVANE_TRACE");
        return v && std::strcmp(v, "0") != 0 && *v != '\0';
    }();
    return enabled;
}

void Line(const std::string& event) {
    if (!Enabled())
        return;
    // One write per line keeps lines whole when several processes share stderr.
    std::string line = "lumivane: " + event + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace lvtrace
