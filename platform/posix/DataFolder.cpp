#include "platform/DataFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace fs = std::filesystem;

namespace lvplatform {

namespace {

// The home folder from the password database, for sessions started without $HOME.
fs::path HomeFromPasswordDatabase() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0 || size > (1L << 20))
        size = 16384;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir || !*found->pw_dir)
        return {};
    return fs::path(found->pw_dir);
}

} // namespace

fs::path LocalDataFolder() {
    // A relative XDG_DATA_HOME is invalid and ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && fs::path(xdg).is_absolute())
        return fs::path(xdg);
    fs::path home;
    if (const char* env = std::getenv("HOME"); env && *env)
        home = env;
    else
        home = HomeFromPasswordDatabase();
    if (home.is_absolute())
        return home / ".local" / "share";
    return fs::path("/");
}

} // namespace lvplatform
