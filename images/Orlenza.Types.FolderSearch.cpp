// The folder search: which files of a source's sub-folder belong to a search text.
#include "images/Orlenza.Types.h"

#include "images/ImagePaths.h"
#include "platform/FileSystem.h"

#include <optional>
#include <string_view>

using lvimages::CombinePath;
using lvimages::EndsWithDelimiter;

namespace {

std::string FromUtf16(std::u16string_view text) {
    std::u32string cps;
    cps.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cps.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (text[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            cps.push_back(0xFFFD); // a half of a pair picked alone has no text of its own
        } else {
            cps.push_back(u);
        }
    }
    return lvplatform::EncodeUtf8(cps);
}

std::u16string ToUtf16(std::string_view text) {
    return lvplatform::ToUtf16(lvplatform::DecodeUtf8(text));
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    const std::u32string x = lvplatform::DecodeUtf8(a);
    const std::u32string y = lvplatform::DecodeUtf8(b);
    if (x.size() != y.size())
        return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (lvplatform::UpperCase(x[i]) != lvplatform::UpperCase(y[i]))
            return false;
    return true;
}

// The search text and the sub-folder name come from the host or a keyboard: they may
// only ever name something inside a source folder.
void RequireSafeName(const std::string& AName, const char* AWhat) {
    if (AName.find('\0') != std::string::npos)
        throw std::invalid_argument(std::string("Invalid ") + AWhat +
                                    ": it contains a NUL character");
    if (lvplatform::LastDirectoryDelimiter(AName) != std::string::npos)
        throw std::invalid_argument(std::string("Invalid ") + AWhat + " '" + AName +
                                    "': it contains a path delimiter");
    if (AName == "." || AName == "..")
        throw std::invalid_argument(std::string("Invalid ") + AWhat + " '" + AName +
                                    "': it names a folder, not an image");
}

void RequireValidPath(const std::string& APath) {
    if (APath.find('\0') != std::string::npos)
        throw std::invalid_argument("Invalid folder path: it contains a NUL character");
    if (APath.size() > lvplatform::MaxPathLength())
        throw std::invalid_argument("Invalid folder path '" + APath.substr(0, 64) +
                                    "...': it is longer than the system allows");
}

// "*.tif;*.png" -> {".tif", ".png"}
std::vector<std::string> ParseExtensions(const std::string& AList) {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start <= AList.size()) {
        std::size_t end = AList.find(';', start);
        if (end == std::string::npos)
            end = AList.size();
        std::string item = AList.substr(start, end - start);
        while (!item.empty() && item.front() == ' ')
            item.erase(0, 1);
        while (!item.empty() && item.back() == ' ')
            item.pop_back();
        if (!item.empty() && item.front() == '*')
            item.erase(0, 1);
        if (!item.empty())
            result.push_back(item);
        start = end + 1;
    }
    return result;
}

// True when the real path APath lies inside the real folder ARoot.
bool Inside(const std::string& APath, const std::string& ARoot) {
    if (ARoot == "/")
        return APath.size() > 1 && APath.front() == '/';
    return APath.size() > ARoot.size() && APath.compare(0, ARoot.size(), ARoot) == 0 &&
           APath[ARoot.size()] == lvplatform::PathDelimiter;
}

bool InsideAny(const std::string& APath, const std::vector<std::string>& ARoots) {
    for (const std::string& root : ARoots)
        if (Inside(APath, root))
            return true;
    return false;
}

} // namespace

std::unique_ptr<TLumivaneImageListFolder>
TLumivaneImageListFolder::GetList(const std::vector<std::string>* ASources,
                                  const std::string& ASearchString, const std::string& APattern,
                                  const std::string& ASupportedExtensions) {
    auto result = std::make_unique<TLumivaneImageListFolder>();
    if (!ASources)
        throw EAssertionFailed("Sources not defined (Orlenza.Types, line " +
                               std::to_string(__LINE__) + ")");
    RequireSafeName(ASearchString, "search text");
    // Where the sources really are: what a link may lead to and still be read.
    result->FHasSources = true;
    for (const std::string& source : *ASources) {
        const std::size_t delimiter = lvplatform::LastDirectoryDelimiter(source);
        const std::string folder =
            delimiter == std::string::npos ? std::string(".") : source.substr(0, delimiter + 1);
        if (folder.find('\0') != std::string::npos)
            continue; // refused below, when the source is used
        if (std::optional<std::string> real = lvplatform::RealPath(lvplatform::Utf8Path(folder)))
            result->FSourceRoots.push_back(std::move(*real));
    }
    for (const std::string& source : *ASources) {
        const std::size_t delimiter = lvplatform::LastDirectoryDelimiter(source);
        const std::string folder =
            delimiter == std::string::npos ? std::string() : source.substr(0, delimiter + 1);
        const std::string sub = FolderNameFromPattern(APattern, ASearchString);
        if (sub.empty())
            continue;
        RequireSafeName(sub, "sub-folder name");
        RequireValidPath(folder);
        const std::string path = CombinePath(folder, sub);
        RequireValidPath(path);
        result->SearchForFiles(path, ASearchString, false, ASupportedExtensions);
    }
    return result;
}

int TLumivaneImageListFolder::SearchForFiles(const std::string& AFolderPath,
                                             const std::string& ASearchFilter, bool AReset,
                                             const std::string& ASupportedExtensions) {
    if (AReset)
        Clear();
    RequireValidPath(AFolderPath);
    RequireSafeName(ASearchFilter, "search text");
    if (!lvplatform::DirectoryExists(lvplatform::Utf8Path(AFolderPath)))
        return 0;
    const std::string listed =
        EndsWithDelimiter(AFolderPath) ? AFolderPath : AFolderPath + lvplatform::PathDelimiter;
    RequireValidPath(listed);
    const lvplatform::TFileMask mask(ASearchFilter + "*");
    const std::vector<std::string> extensions = ParseExtensions(ASupportedExtensions);
    // The folder's real path: an entry that is no link lies where its folder really is.
    const std::optional<std::string> realFolder =
        lvplatform::RealPath(lvplatform::Utf8Path(listed));
    std::vector<std::string> ownRoot;
    if (!FHasSources && realFolder)
        ownRoot.push_back(*realFolder);
    const std::vector<std::string>& roots = FHasSources ? FSourceRoots : ownRoot;

    for (const lvplatform::TFileEntry& entry :
         lvplatform::ListFiles(lvplatform::Utf8Path(listed), mask)) {
        const std::size_t dot = entry.Name.rfind('.');
        if (dot == std::string::npos)
            continue;
        const std::string_view ext = std::string_view(entry.Name).substr(dot);
        // Whole extensions only: a fragment such as ".ti" names no supported format.
        bool supported = false;
        for (const std::string& candidate : extensions)
            supported = supported || SameTextIgnoringCase(ext, candidate);
        if (!supported)
            continue;
        const std::string full = CombinePath(listed, entry.Name);
        std::optional<std::string> real;
        if (entry.IsLink)
            real = lvplatform::RealPath(lvplatform::Utf8Path(full));
        else if (realFolder)
            real = CombinePath(*realFolder, entry.Name);
        TLumivaneImage image;
        image.New();
        image.Source = listed;
        image.Name = entry.Name;
        image.Path = full;
        image.PageCount = 1;
        image.TimeStamp = FileTimeToLocalDateTime(entry.LastWriteTime.Ticks);
        // Outside every source: listed, so the user sees it exists, but never read.
        if (!real || !InsideAny(*real, roots))
            image.SetContainerText(corSecured, {});
        Add(image);
    }
    return Count();
}

std::string FolderNameFromPattern(const std::string& APattern, const std::string& ASearchText) {
    const std::u16string pattern = ToUtf16(APattern);
    const std::u16string text = ToUtf16(ASearchText);
    if (pattern.size() > text.size())
        return {};
    std::u16string picked;
    for (std::size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == u'*')
            picked.push_back(text[i]);
    return FromUtf16(picked);
}
