#include "images/OpenedImages.h"

#include "images/ImagePaths.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace lvimages {

namespace {

enum class TKind { Missing, Folder, File, Other };

TKind KindOf(const std::string& APath) {
    std::error_code error;
    const fs::file_status status = fs::status(lvplatform::Utf8Path(APath), error);
    if (error || !fs::exists(status))
        return TKind::Missing;
    if (fs::is_directory(status))
        return TKind::Folder;
    return fs::is_regular_file(status) ? TKind::File : TKind::Other;
}

// Absolute and without "." or ".." parts, so the list's paths and the watched folders
// stay right whatever the current folder later is. Links are kept as named.
std::string Absolute(const std::string& APath) {
    std::error_code error;
    const fs::path absolute = fs::absolute(lvplatform::Utf8Path(APath), error);
    if (error)
        return APath;
    std::string text = lvplatform::PathUtf8(absolute.lexically_normal());
    // "dir/" normalises to "dir/"; the folder is named without its trailing delimiter.
    while (text.size() > 1 && EndsWithDelimiter(text))
        text.pop_back();
    return text;
}

std::string FolderOf(const std::string& AAbsolute) {
    const std::size_t delimiter = lvplatform::LastDirectoryDelimiter(AAbsolute);
    return delimiter == std::string::npos ? std::string(".") : AAbsolute.substr(0, delimiter + 1);
}

std::string NameOf(const std::string& AAbsolute) {
    const std::size_t delimiter = lvplatform::LastDirectoryDelimiter(AAbsolute);
    return delimiter == std::string::npos ? AAbsolute : AAbsolute.substr(delimiter + 1);
}

std::string WithDelimiter(const std::string& AFolder) {
    return EndsWithDelimiter(AFolder) ? AFolder : AFolder + lvplatform::PathDelimiter;
}

// Each folder is listed once however many paths name it or a file in it.
class TFolderListings {
public:
    const std::vector<TLumivaneImage>& Of(const std::string& AFolder) {
        const std::string folder = WithDelimiter(AFolder);
        auto it = FListed.find(folder);
        if (it == FListed.end()) {
            TLumivaneImageListFolder listing;
            try {
                listing.SearchForFiles(folder, "", true, OpenedImageExtensions);
            } catch (const std::exception&) {
                // A path too long or holding a NUL lists nothing; the caller says so.
            }
            it = FListed.emplace(folder, listing.TakeItems()).first;
            FOrder.push_back(folder);
        }
        return it->second;
    }
    const std::vector<std::string>& Folders() const { return FOrder; }

private:
    std::map<std::string, std::vector<TLumivaneImage>> FListed;
    std::vector<std::string> FOrder;
};

const TLumivaneImage* Find(const std::vector<TLumivaneImage>& AImages, const std::string& AName) {
    const auto it = std::find_if(AImages.begin(), AImages.end(), [&](const TLumivaneImage& AImage) {
        return AImage.Name == AName;
    });
    return it == AImages.end() ? nullptr : &*it;
}

std::string Quoted(const std::string& APath) {
    return "'" + APath + "'";
}

// "*.tif;*.png" as a reader wants it: "(.tif, .png)".
std::string AcceptedExtensions() {
    std::string list = OpenedImageExtensions;
    std::string out;
    for (std::size_t start = 0; start < list.size();) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos)
            end = list.size();
        std::string item = list.substr(start, end - start);
        if (!item.empty() && item.front() == '*')
            item.erase(0, 1);
        out += (out.empty() ? "(" : ", ") + item;
        start = end + 1;
    }
    return out + ")";
}

} // namespace

TOpenedImages ListOpenedPaths(const std::vector<std::string>& APaths) {
    TOpenedImages result;
    TFolderListings listings;
    const bool oneFile = APaths.size() == 1;
    std::vector<std::string> added; // Paths already in the list: a path named twice shows once
    auto add = [&](const TLumivaneImage& AImage) {
        if (std::find(added.begin(), added.end(), AImage.Path) != added.end())
            return;
        added.push_back(AImage.Path);
        result.Images.push_back(AImage);
    };
    for (const std::string& given : APaths) {
        if (given.empty() || given.find('\0') != std::string::npos) {
            result.Problems.push_back("an empty path names nothing");
            continue;
        }
        const std::string path = Absolute(given);
        switch (KindOf(path)) {
        case TKind::Missing:
            result.Problems.push_back(Quoted(given) + ": no such file or folder");
            break;
        case TKind::Other:
            result.Problems.push_back(Quoted(given) + ": not a file or a folder");
            break;
        case TKind::Folder: {
            const std::vector<TLumivaneImage>& images = listings.Of(path);
            if (images.empty())
                result.Problems.push_back(Quoted(given) +
                                          ": the folder holds no image the viewer opens " +
                                          AcceptedExtensions());
            for (const TLumivaneImage& image : images)
                add(image);
            break;
        }
        case TKind::File: {
            const std::vector<TLumivaneImage>& images = listings.Of(FolderOf(path));
            const TLumivaneImage* named = Find(images, NameOf(path));
            if (!named) {
                result.Problems.push_back(Quoted(given) + ": not an image the viewer opens " +
                                          AcceptedExtensions());
                break;
            }
            if (result.StartPath.empty() && result.Images.empty())
                result.StartPath = named->Path;
            // One file: the folder it lies in, to page through its neighbours.
            if (oneFile)
                for (const TLumivaneImage& image : images)
                    add(image);
            else
                add(*named);
            break;
        }
        }
    }
    result.Folders = listings.Folders();
    return result;
}

std::string OpenedListName(const std::vector<std::string>& APaths) {
    if (APaths.empty())
        return {};
    std::string name = NameOf(Absolute(APaths.front()));
    if (name.empty())
        name = Absolute(APaths.front()); // the root folder
    return APaths.size() == 1 ? name : name + " (+" + std::to_string(APaths.size() - 1) + ")";
}

} // namespace lvimages
