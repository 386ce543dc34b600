// lumivane-host: a reference terminal host. It creates and drives a control block the
// way a real host does, so integrators can try the viewer and our tests can drive it.
#include "HostCommand.h"
#include "platform/ChildProcess.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace lvhost;
    const auto& commands = AllHostCommands();
    auto usage = [&](FILE* out) {
        std::fprintf(out, "usage: lumivane-host COMMAND [ARGS...]   (COMMAND --help for details)\n"
                          "       lumivane-host --help | --version\n\n");
        for (const auto& c : commands)
            std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
    };
    // UTF-8 on every platform: block names, search texts and paths pass through unchanged.
    const std::vector<std::string> argList = lvplatform::ProgramArguments(argc, argv);
    if (argList.size() < 2) {
        usage(stderr);
        return 2;
    }
    const std::string& name = argList[1];
    if (name == "-h" || name == "--help" || name == "help") {
        usage(stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("lumivane-host %s\n", LV_VERSION);
        return 0;
    }
    for (const auto& c : commands) {
        if (name == c.name) {
            Args args(argList.begin() + 2, argList.end());
            try {
                return c.run(args);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "lumivane-host %s: %s\n", c.name, e.what());
                return 1;
            }
        }
    }
    std::fprintf(stderr, "lumivane-host: unknown command '%s'\n\n", name.c_str());
    usage(stderr);
    return 2;
}
