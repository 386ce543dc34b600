// The example host of docs/protocol.md, cross-built for Windows: it creates the named
// mapping and drives a stand-in viewer made of the core (there is no Qt for Windows here).
// The stand-in reads the host's fields through TMemoryMappedControlFile, watches the host
// heartbeat, plays the viewer's states and takes each command the host sends; what it saw
// goes to a file the test reads.
#include "platform/ChildProcess.h"

#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string BesideUs(const std::string& exe) {
    const std::string own = win32test::OwnExe();
    return own.substr(0, own.find_last_of("\\/") + 1) + exe;
}

TEST(MinimalHost, DrivesAViewerThroughTheNamedMapping) {
    win32test::TTempFolder folder;
    const std::filesystem::path log = folder.Root() / "viewer.log";
    const std::string name = "LumivaneMinimalHost" + std::to_string(GetCurrentProcessId());
    // The stand-in's part: read the fields, see the host beat, come up showing the
    // identifier, then take hide, open and close; leaving writes vsClosed.
    _putenv_s("LVTEST_FAKE_VIEWER_STEPS", "print host-beats=5000 state=vsIdle state=vsOpen "
                                          "wait-command=10000 wait-command=10000 "
                                          "wait-command=20000 exit");
    _putenv_s("LVTEST_FAKE_VIEWER_LOG", log.string().c_str());
    auto host = lvplatform::StartChildProcess({BesideUs(LV_MINIMAL_HOST_EXE), name, "C:\\scans\\",
                                               "ABCD1234", BesideUs(LV_FAKE_VIEWER_EXE)});
    // The host gives up by itself when the viewer does not answer (30 s per step).
    const std::string ended = host->Wait();
    _putenv_s("LVTEST_FAKE_VIEWER_STEPS", "");
    _putenv_s("LVTEST_FAKE_VIEWER_LOG", "");
    std::stringstream seen;
    seen << std::ifstream(log).rdbuf();
    const std::string out = seen.str();
    // Status 0: the host saw vsOpen, its hide and open taken, and vsClosed at the end.
    EXPECT_EQ(ended, "status 0") << out;
    const std::vector<std::string> lines = {
        "startup search ABCD1234",
        "search=ABCD1234 console=7 format=Minimal Host Console %d connection=" + name,
        "source=C:\\scans\\ pattern=****",
        "host heartbeat moves",
        "took vcHide (3)",
        "took vcOpen (1)",
        "took vcClose (2)"};
    for (const std::string& expected : lines)
        EXPECT_NE(out.find(expected), std::string::npos) << expected << " missing from:\n" << out;
    // Windows removes the mapping with its last handle: nothing is left under the name.
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
}

} // namespace
