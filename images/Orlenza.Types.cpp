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
    FContainerRead = false;
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

bool TLumivaneImage::IsContainer() const {
    const std::size_t dot = Name.rfind('.');
    if (dot == std::string::npos || Name.size() - dot != 4)
        return false;
    std::string ext = Name.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return ext == ".lva";
}

void TLumivaneImage::SetContainerText(TLumivaneCantOpenReason AReason, std::string AText) {
    FCantOpenReason = AReason;
    Alias = AReason == corNone ? std::move(AText) : std::string();
    FContainerRead = true;
}
