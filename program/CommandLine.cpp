#include "program/CommandLine.h"

#include <algorithm>
#include <cctype>

namespace {
std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}
} // namespace

std::optional<std::string> InformationRequest(const std::vector<std::string>& args) {
    if (args.size() < 2)
        return std::nullopt;
    if (args[1] == "--version")
        return std::string("lumivane-viewer ") + LV_VERSION + "\n";
    if (args[1] == "--help")
        return std::string(
            "Usage: lumivane-viewer NAME [SEARCH|screen] [screen] [max]\n"
            "       lumivane-viewer --open PATH...\n"
            "       lumivane-viewer --help | --version\n"
            "\n"
            "Shows scanned document images beside a terminal host's console window. The host\n"
            "creates the 4096-byte shared-memory control block NAME and starts the viewer.\n"
            "  SEARCH      identifier to show at start-up (\"screen\" or nothing: none)\n"
            "  screen max  after SEARCH: open the viewer window maximised\n"
            "\n"
            "--open shows image files (.tif, .tiff, .png, .jpg, .jpeg, .lva) or folders without\n"
            "a host: the viewer window alone, with no block and no toolbar. One file lists the\n"
            "images of its folder in natural order and starts at that file; a folder lists its\n"
            "images; several paths list the files named and the images of the folders named,\n"
            "in the order given. Closing the window ends the program. It fails (status 1) when\n"
            "no path names an image it can show.\n"
            "\n"
            "Environment: LUMIVANE_TRACE=1 prints one line per protocol event on stderr.\n");
    return std::nullopt;
}

std::optional<std::vector<std::string>> OpenRequest(const std::vector<std::string>& args) {
    if (args.size() < 2 || args[1] != "--open")
        return std::nullopt;
    return std::vector<std::string>(args.begin() + 2, args.end());
}

std::string OpenNeedsPathsNotice() {
    return "lumivane-viewer: --open needs at least one image file or folder, as in "
           "'lumivane-viewer --open scan.tif'\n";
}

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

namespace {
// A name from the command line on one line of its own: control characters shown as '?'.
std::string OneLine(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return s;
}
} // namespace

std::string OpenProblemNotice(const std::string& AProblem) {
    return "lumivane-viewer: " + OneLine(AProblem) + "\n";
}

std::optional<std::string> MissingBlockNotice(const std::vector<std::string>& args,
                                              bool ABlockExists) {
    const std::string name = OneLine(args.size() > 1 ? args[1] : std::string());
    if (name.empty())
        return std::string("lumivane-viewer: no control block name given; a host creates the "
                           "block and starts the viewer with its name, as in "
                           "'lumivane-host serve NAME --info JSON --viewer lumivane-viewer'; "
                           "going on without a block\n");
    if (ABlockExists)
        return std::nullopt;
    return "lumivane-viewer: no control block '" + name +
           "': no host has created it; a host creates it with 'lumivane-host serve " + name +
           " --info JSON' before starting the viewer; going on without it\n";
}

std::string NoDisplayNotice(const std::string& ADisplay) {
    return "lumivane-viewer: cannot open display" +
           (ADisplay.empty() ? std::string(" (DISPLAY is not set)")
                             : " '" + OneLine(ADisplay) + "'") +
           "\n";
}
