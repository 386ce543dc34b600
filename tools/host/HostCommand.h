// Subcommands of lumivane-host register themselves here, so each lives in its own
// source file and the dispatcher never needs editing when one is added.
#pragma once

#include <string>
#include <vector>

namespace lvhost {

using Args = std::vector<std::string>;

struct HostCommand {
    const char* name;
    const char* summary;          // one line for the command list
    int (*run)(const Args& args); // args exclude the program and subcommand names
};

// Declare one at namespace scope in the subcommand's source file:
//   static lvhost::HostCommandRegistrar reg{{"serve", "create a block ...", &RunServe}};
struct HostCommandRegistrar {
    explicit HostCommandRegistrar(HostCommand command);
};

const std::vector<HostCommand>& AllHostCommands();

// True when args hold -h or --help; subcommands print their usage then.
bool WantsHelp(const Args& args);

} // namespace lvhost
