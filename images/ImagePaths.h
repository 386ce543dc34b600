// Path joining shared by the image record and the folder search.
#pragma once

#include "platform/FileSystem.h"

#include <string>

namespace lvimages {

inline bool EndsWithDelimiter(const std::string& APath) {
    return !APath.empty() && lvplatform::LastDirectoryDelimiter(APath) == APath.size() - 1;
}

// AFolder and AName with one delimiter between them; a rooted name wins.
inline std::string CombinePath(const std::string& AFolder, const std::string& AName) {
    if (AFolder.empty())
        return AName;
    if (AName.empty())
        return AFolder;
    if (AName.front() == lvplatform::PathDelimiter)
        return AName;
    return EndsWithDelimiter(AFolder) ? AFolder + AName
                                      : AFolder + lvplatform::PathDelimiter + AName;
}

} // namespace lvimages
