// UTF-8 <-> UTF-16 at the Win32 API boundary: the core keeps UTF-8, the system takes
// UTF-16. Invalid UTF-8 becomes U+FFFD, as the system's own conversion does.
#pragma once

#include <string>
#include <string_view>

namespace lvplatform::win32 {

std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
// The system's text for a Win32 error code, in the user's language, without the trailing
// line break FormatMessageW adds.
std::string SystemErrorText(unsigned long code);

} // namespace lvplatform::win32
