// The per-user folder where a program keeps its local data (window placements and the
// small per-connection stores). One backend per operating system (posix/, win32/);
// callers only see this interface.
#pragma once

#include <filesystem>

namespace lvplatform {

// The user's local application-data folder. POSIX: $XDG_DATA_HOME when it is an
// absolute path, else the home folder's .local/share (home from $HOME, else the
// password database). Without any of these the root folder, so writes fail quietly
// instead of landing in the working folder.
std::filesystem::path LocalDataFolder();

} // namespace lvplatform
