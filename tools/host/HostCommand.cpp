#include "HostCommand.h"

#include <algorithm>

namespace lvhost {

static std::vector<HostCommand>& Registry() {
    static std::vector<HostCommand> commands;
    return commands;
}

HostCommandRegistrar::HostCommandRegistrar(HostCommand command) {
    Registry().push_back(command);
}

const std::vector<HostCommand>& AllHostCommands() {
    auto& commands = Registry();
    std::sort(commands.begin(), commands.end(), [](const HostCommand& a, const HostCommand& b) {
        return std::string(a.name) < b.name;
    });
    return commands;
}

bool WantsHelp(const Args& args) {
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "-h" || a == "--help"; });
}

} // namespace lvhost
