// Win32 backend of the per-user local data folder: the shell's local application data.
#include "platform/DataFolder.h"

#include <shlobj.h>
#include <windows.h>

namespace lvplatform {

std::filesystem::path LocalDataFolder() {
    wchar_t buffer[MAX_PATH] = {};
    if (SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        return std::filesystem::path(buffer);
    return std::filesystem::temp_directory_path();
}

} // namespace lvplatform
