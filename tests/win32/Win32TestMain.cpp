// The test program doubles as the second process some tests need: run as
//   win32_platform_tests --hold FILE READY
// it opens FILE with no sharing, creates READY once it holds it, and keeps it until killed.
#include "platform/win32/WideText.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

namespace {

int HoldFile(const char* file, const char* ready) {
    HANDLE held = CreateFileW(lvplatform::win32::Wide(file).c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 3;
    HANDLE marker = CreateFileW(lvplatform::win32::Wide(ready).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        return 4;
    CloseHandle(marker);
    Sleep(INFINITE);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--hold") == 0)
        return HoldFile(argv[2], argv[3]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
