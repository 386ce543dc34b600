// The test program doubles as the second process some tests need:
//   win32_platform_tests --hold FILE READY
// opens FILE with no sharing, creates READY once it holds it, and keeps it until killed.
// The arguments are read from the UTF-16 command line: argv holds them in the ANSI code
// page, where a name in another language is lost.
#include "platform/ChildProcess.h"
#include "platform/win32/WideText.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

bool CreateMarker(const std::string& path) {
    HANDLE marker = CreateFileW(lvplatform::win32::Wide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(marker);
    return true;
}

int HoldFile(const std::string& file, const std::string& ready) {
    HANDLE held = CreateFileW(lvplatform::win32::Wide(file).c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 3;
    if (!CreateMarker(ready))
        return 4;
    Sleep(INFINITE);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = lvplatform::ProgramArguments(argc, argv);
    if (args.size() == 4 && args[1] == "--hold")
        return HoldFile(args[2], args[3]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
