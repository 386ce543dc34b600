// What each word of the viewer's command line means.
#include "program/CommandLine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

TEST(CommandLine, ArgumentTable) {
    struct Case {
        std::vector<std::string> args;
        std::string search;
        bool maximized;
    };
    const Case cases[] = {
        {{"12345"}, "12345", false},
        {{"12345", "Screen", "max"}, "12345", true},
        {{"12345", "screen", "MAX"}, "12345", false},
        {{"12345", "fullscreen", "max"}, "12345", true},
        {{"SCREEN", "max"}, "", false},
        {{"screen", "screen", "max"}, "", false},
        {{}, "", false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{"lumivane-viewer", "block"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const TCommandLine parsed = ParseCommandLine(argv);
        EXPECT_EQ(parsed.StartupSearchText, c.search) << ::testing::PrintToString(c.args);
        EXPECT_EQ(parsed.StartMaximized, c.maximized) << ::testing::PrintToString(c.args);
    }
}

// Only "--help" or "--version" right after the program asks for information; anywhere
// else, or spelt otherwise, a word keeps its meaning (block name or search text).
TEST(CommandLine, InformationRequests) {
    struct Case {
        std::vector<std::string> args;
        std::string answerStart; // empty: no information asked for
    };
    const Case cases[] = {
        {{"--help"}, "Usage: lumivane-viewer NAME"},
        {{"--version"}, "lumivane-viewer "},
        {{"--help", "12345", "screen", "max"}, "Usage: lumivane-viewer NAME"},
        {{"block", "--help"}, ""},
        {{"block", "--version"}, ""},
        {{"-h"}, ""},
        {{"--HELP"}, ""},
        {{"--help=1"}, ""},
        {{}, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{"lumivane-viewer"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const std::optional<std::string> answer = InformationRequest(argv);
        SCOPED_TRACE(::testing::PrintToString(c.args));
        if (c.answerStart.empty()) {
            EXPECT_FALSE(answer.has_value());
        } else {
            ASSERT_TRUE(answer.has_value());
            EXPECT_EQ(answer->rfind(c.answerStart, 0), 0u) << *answer;
            EXPECT_EQ(answer->back(), '\n');
        }
    }
    // A search text that looks like an option stays a search text.
    EXPECT_EQ(ParseCommandLine({"lumivane-viewer", "block", "--help"}).StartupSearchText, "--help");
}

// "--open" right after the program takes every later word as a path, options included;
// anywhere else it is a block name or a search text.
TEST(CommandLine, OpenRequests) {
    using Paths = std::vector<std::string>;
    struct Case {
        Paths args;
        std::optional<Paths> paths;
    };
    const Case cases[] = {
        {{"--open", "a.tif"}, Paths{"a.tif"}},
        {{"--open", "a.tif", "dir", "--help", "-x", ""}, Paths{"a.tif", "dir", "--help", "-x", ""}},
        {{"--open"}, Paths{}},
        {{"block", "--open", "a.tif"}, std::nullopt},
        {{"--OPEN", "a.tif"}, std::nullopt},
        {{"--open=a.tif"}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{"lumivane-viewer"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_EQ(OpenRequest(argv), c.paths);
        // --open with paths is no request for information.
        if (c.paths) {
            EXPECT_FALSE(InformationRequest(argv).has_value());
        }
    }
    EXPECT_EQ(ParseCommandLine({"lumivane-viewer", "block", "--open"}).StartupSearchText, "--open");
    // Both ways of starting are in the help.
    const std::string help = *InformationRequest({"lumivane-viewer", "--help"});
    EXPECT_NE(help.find("lumivane-viewer NAME [SEARCH|screen]"), std::string::npos) << help;
    EXPECT_NE(help.find("lumivane-viewer --open PATH..."), std::string::npos) << help;
    // A path's problem stays on its one line, whatever the path holds.
    EXPECT_EQ(OpenProblemNotice("'a\nb\x1b[2J.tif': no such file or folder"),
              "lumivane-viewer: 'a?b?[2J.tif': no such file or folder\n");
}

TEST(StartNotices, OneLineNamingTheBlockAndTheHostCommand) {
    struct Case {
        std::vector<std::string> args;
        bool exists;
        std::vector<std::string> says; // empty: no notice
    };
    const Case cases[] = {
        {{}, false, {"no control block name given", "lumivane-host serve NAME"}},
        {{""}, false, {"no control block name given"}},
        {{"demo"}, false, {"no control block 'demo'", "lumivane-host serve demo --info"}},
        {{"demo", "12345678"}, false, {"no control block 'demo'"}},
        {{"demo"}, true, {}},
        // A hostile name stays on its one line.
        {{"bad\nname\x1b[2J"}, false, {"no control block 'bad?name?[2J'"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{"lumivane-viewer"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const std::optional<std::string> notice = MissingBlockNotice(argv, c.exists);
        if (c.says.empty()) {
            EXPECT_FALSE(notice.has_value());
            continue;
        }
        ASSERT_TRUE(notice.has_value());
        EXPECT_EQ(notice->rfind("lumivane-viewer: ", 0), 0u) << *notice;
        EXPECT_EQ(notice->find('\n'), notice->size() - 1) << *notice;
        for (const std::string& part : c.says)
            EXPECT_NE(notice->find(part), std::string::npos) << *notice;
    }
    EXPECT_EQ(NoDisplayNotice(""), "lumivane-viewer: cannot open display (DISPLAY is not set)\n");
    EXPECT_EQ(NoDisplayNotice(":9"), "lumivane-viewer: cannot open display ':9'\n");
}

} // namespace
