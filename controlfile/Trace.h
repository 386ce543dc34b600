// Integrator trace: with LUMIVANE_TRACE=1 the program prints one line per protocol event
// on stderr ("lumivane: <event>"). Off by default, so the program normally writes nothing.
#pragma once

#include <string>

namespace lvtrace {

bool Enabled();
void Line(const std::string& event);

} // namespace lvtrace
