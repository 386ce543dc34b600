#include "images/Orlenza.ImageListController.h"

std::unique_ptr<TLumivaneImageList>
TImageListDataSource::FetchImageList(const std::vector<std::string>& ASources,
                                     const std::string& ASearchText, const std::string& APattern) {
    return TLumivaneImageListFolder::GetList(&ASources, ASearchText, APattern,
                                             SupportedImageExtensions);
}

std::vector<TLumivaneImage>
TImageListController::ImagesFor(const std::vector<std::string>& ASources,
                                const std::string& ASearchText, const std::string& APattern) {
    std::unique_ptr<TLumivaneImageList> list =
        TImageListDataSource::FetchImageList(ASources, ASearchText, APattern);
    if (!list || list->Count() == 0)
        return {};
    return list->TakeItems();
}
