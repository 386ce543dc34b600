// Helpers of the Windows tests: a temporary folder of their own and waiting for a condition.
#pragma once

#include "platform/win32/WideText.h"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace win32test {

class TTempFolder {
public:
    TTempFolder() {
        FRoot = std::filesystem::temp_directory_path() /
                ("lv-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(GetTickCount64()) + "-" + std::to_string(FCount++));
        std::filesystem::create_directories(FRoot);
    }
    ~TTempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(FRoot, ec);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::filesystem::path& Root() const { return FRoot; }
    std::filesystem::path File(const std::string& relativeUtf8, const std::string& bytes = "x") {
        const std::filesystem::path path = FRoot / lvplatform::win32::Wide(relativeUtf8);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

private:
    std::filesystem::path FRoot;
    static inline int FCount = 0;
};

// Polls `condition` until it holds or `limit` has passed; the result of the last poll.
template <class F>
bool WaitFor(F condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

inline std::string OwnExe() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return lvplatform::win32::Narrow(std::wstring_view(buffer, n));
}

} // namespace win32test
