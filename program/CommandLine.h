// The viewer's command line: NAME [SEARCH|screen] [screen] [max].
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TCommandLine {
    std::string StartupSearchText;
    bool StartMaximized = false;
};

// args[0] is the program; missing arguments read as empty.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// "--help" or "--version" as the first word: the text to print before leaving with status
// 0. Any other first word is a block name, and later words keep their meaning whatever
// they look like.
std::optional<std::string> InformationRequest(const std::vector<std::string>& args);
