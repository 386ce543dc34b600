// The example host of docs/protocol.md, cross-built for Windows: it creates the named
// mapping and drives a stand-in viewer made of the core (there is no Qt for Windows here).
// The stand-in reads the host's fields through TMemoryMappedControlFile, watches the host
// heartbeat, plays the viewer's states and takes each command the host sends.
#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string BesideUs(const std::string& exe) {
    const std::string own = win32test::OwnExe();
    return own.substr(0, own.find_last_of("\\/") + 1) + exe;
}

// One argument quoted for the command line: backslashes before a quote, or before the
// closing quote, are doubled (a source such as C:\scans\ ends in one).
std::wstring Quoted(const std::string& AArgument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : lvplatform::win32::Wide(AArgument)) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// Runs ARGS through the command processor; what they printed, and the exit status.
std::string RunCommand(const std::vector<std::string>& args, int& status) {
    std::wstring line;
    for (const std::string& a : args)
        line += Quoted(a) + L" ";
    FILE* out = _wpopen((L"\"" + line + L"\"").c_str(), L"rb");
    if (!out)
        return {};
    std::string text;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, out))
        text.append(buffer, n);
    status = _pclose(out);
    return text;
}

TEST(MinimalHost, DrivesAViewerThroughTheNamedMapping) {
    const std::string name = "LumivaneMinimalHost" + std::to_string(GetCurrentProcessId());
    // The stand-in's part: read the fields, see the host beat, come up showing the
    // identifier, then take hide, open and close; leaving writes vsClosed.
    _putenv_s("LVTEST_FAKE_VIEWER_STEPS", "print host-beats=5000 state=vsIdle state=vsOpen "
                                          "wait-command=10000 wait-command=10000 "
                                          "wait-command=20000 exit");
    int status = -1;
    const std::string out = RunCommand({BesideUs(LV_MINIMAL_HOST_EXE), name, "C:\\scans\\",
                                        "ABCD1234", BesideUs(LV_FAKE_VIEWER_EXE)},
                                       status);
    _putenv_s("LVTEST_FAKE_VIEWER_STEPS", "");
    EXPECT_EQ(status, 0) << out;
    const std::vector<std::string> lines = {
        "startup search ABCD1234",
        "search=ABCD1234 console=7 format=Minimal Host Console %d connection=" + name,
        "source=C:\\scans\\ pattern=****",
        "host heartbeat moves",
        "took vcHide (3)",
        "took vcOpen (1)",
        "took vcClose (2)",
        "view state 4",
        "view state 1",
        "viewer ended"};
    for (const std::string& expected : lines)
        EXPECT_NE(out.find(expected), std::string::npos) << expected << " missing from:\n" << out;
    // Windows removes the mapping with its last handle: nothing is left under the name.
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
}

} // namespace
