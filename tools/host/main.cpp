// lumivane-host: a reference terminal host. It creates and drives a control block the
// way a real host does, so integrators can try the viewer and our tests can drive it.
#include "HostCommand.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    using namespace lvhost;
    const auto& commands = AllHostCommands();
    auto usage = [&](FILE* out) {
        std::fprintf(out,
                     "usage: lumivane-host COMMAND [ARGS...]   (COMMAND --help for details)\n\n");
        for (const auto& c : commands)
            std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
    };
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        usage(stdout);
        return 0;
    }
    for (const auto& c : commands) {
        if (name == c.name) {
            Args args(argv + 2, argv + argc);
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
