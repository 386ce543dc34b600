// The viewer's command line: NAME [SEARCH|screen] [screen] [max], or --open PATH... to
// show files or a folder without a host.
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

// "--open" as the first word: every later word is a path to show (files or folders, any
// number, "--help" too). Nothing for any other first word.
std::optional<std::vector<std::string>> OpenRequest(const std::vector<std::string>& args);

// The line said on stderr when --open names no path.
std::string OpenNeedsPathsNotice();
// A path that shows nothing, said on a line of its own whatever the path holds.
std::string OpenProblemNotice(const std::string& AProblem);

// The one line said on stderr at start when the viewer has no control block to work with:
// no block name given, or a name no host has created (ABlockExists false). It names the
// block and the host's command that creates it. Nothing for a block that exists.
std::optional<std::string> MissingBlockNotice(const std::vector<std::string>& args,
                                              bool ABlockExists);

// The line said when the window system cannot be reached (ADisplay: $DISPLAY).
std::string NoDisplayNotice(const std::string& ADisplay);
