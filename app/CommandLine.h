// The viewer's command line: NAME [SEARCH|screen] [screen] [max].
#pragma once

#include <string>
#include <vector>

struct TCommandLine {
    std::string StartupSearchText;
    bool StartMaximized = false;
};

// args[0] is the program; missing arguments read as empty.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);
