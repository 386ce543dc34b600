#include "app/CommandLine.h"

#include <algorithm>
#include <cctype>

namespace {
std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}
} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };
    TCommandLine result;
    result.StartupSearchText = arg(2);
    if (Lower(result.StartupSearchText) == "screen")
        result.StartupSearchText.clear();
    if (result.StartupSearchText.empty())
        return result;
    if (Lower(arg(3)).find("screen") != std::string::npos)
        result.StartMaximized = arg(4) == "max";
    return result;
}
