// POSIX: a path is bytes, and the core's text is UTF-8; nothing to convert.
#include "platform/Path.h"

namespace lvplatform {

std::filesystem::path Utf8Path(std::string_view utf8) {
    return std::filesystem::path(std::string(utf8));
}

std::string PathUtf8(const std::filesystem::path& path) {
    return path.native();
}

} // namespace lvplatform
