// The image record and the plain list of records. The folder search, the container
// read and the time-stamp formatting live in their own Orlenza.Types.*.cpp files.
#include "images/Orlenza.Types.h"

#include "images/ImagePaths.h"

void TLumivaneImage::New() {
    Path.clear();
    Alias.clear();
    PageCount = 0;
    TimeStamp = 0;
    FCantOpenReason = corNone;
}

std::string TLumivaneImage::DisplayName() const {
    const std::size_t tilde = Name.find('~');
    return tilde == std::string::npos ? std::string() : Name.substr(0, tilde);
}

std::string TLumivaneImage::FullFileName() const {
    return lvimages::CombinePath(Source, Name);
}

int TLumivaneImageList::Add(const TLumivaneImage& AItem) {
    FItems.push_back(AItem);
    return Count() - 1;
}
