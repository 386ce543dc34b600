#include "platform/FolderWindow.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdint>

namespace lvplatform {

bool ExploreFolder(const std::filesystem::path& AFolder) {
    std::error_code ec;
    if (AFolder.empty() || !std::filesystem::is_directory(AFolder, ec))
        return false;
    // The shell's own folder window; it answers with a number above 32 on success.
    const HINSTANCE result = ShellExecuteW(nullptr, L"explore", AFolder.wstring().c_str(), nullptr,
                                           nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<std::intptr_t>(result) > 32;
}

} // namespace lvplatform
