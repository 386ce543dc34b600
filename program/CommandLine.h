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

// The one line said on stderr at start when the viewer has no control block to work with:
// no block name given, or a name no host has created (ABlockExists false). It names the
// block and the host's command that creates it. Nothing for a block that exists.
std::optional<std::string> MissingBlockNotice(const std::vector<std::string>& args,
                                              bool ABlockExists);

// The line said when the window system cannot be reached (ADisplay: $DISPLAY).
std::string NoDisplayNotice(const std::string& ADisplay);
