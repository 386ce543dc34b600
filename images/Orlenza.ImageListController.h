// The single entry through which the rest of the program asks which images belong to a
// search text: the folder search behind a data source, the result as a plain array.
#pragma once

#include "images/Orlenza.Types.h"

#include <memory>
#include <string>
#include <vector>

class TImageListDataSource {
public:
    // The folder search over ASources with the supported extensions; the caller owns the list.
    static std::unique_ptr<TLumivaneImageList>
    FetchImageList(const std::vector<std::string>& ASources, const std::string& ASearchText,
                   const std::string& APattern);
};

class TImageListController {
public:
    // The records found, by source and then listing order; empty when nothing matched.
    // Errors of the search (an unsafe search text, an invalid path or mask) pass through.
    static std::vector<TLumivaneImage> ImagesFor(const std::vector<std::string>& ASources,
                                                 const std::string& ASearchText,
                                                 const std::string& APattern);
};
