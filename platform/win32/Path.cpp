// Windows: a path is UTF-16; the text crosses through the one UTF-8/UTF-16 conversion.
#include "platform/Path.h"
#include "platform/win32/WideText.h"

namespace lvplatform {

std::filesystem::path Utf8Path(std::string_view utf8) {
    return std::filesystem::path(win32::Wide(utf8));
}

std::string PathUtf8(const std::filesystem::path& path) {
    return win32::Narrow(path.native());
}

} // namespace lvplatform
