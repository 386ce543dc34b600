// Showing a folder in the desktop's file manager (the toolbar does it for the folder a
// capture was written to). One backend per operating system (posix/, win32/).
#pragma once

#include <filesystem>

namespace lvplatform {

// Opens a file manager window on AFolder and returns without waiting for it. False when
// AFolder is not an existing folder or no file manager could be started (POSIX: xdg-open
// looked up on the PATH; Win32: the shell's "explore" verb).
bool ExploreFolder(const std::filesystem::path& AFolder);

} // namespace lvplatform
