#include "viewer/browse/BrowseModel.h"

#include "viewer/CleanPath.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

TBrowseModel::TBrowseModel(QObject* parent) : QObject(parent) {}

const TLumivaneImage& TBrowseModel::Image(int AFile) const {
    static const TLumivaneImage empty;
    if (AFile < 0 || AFile >= Count())
        return empty;
    return FImages[static_cast<std::size_t>(AFile)];
}

QString TBrowseModel::FilePath(int AFile) const {
    if (AFile < 0 || AFile >= Count() || FImages[static_cast<std::size_t>(AFile)].IsEmpty())
        return QString();
    return FPaths[static_cast<std::size_t>(AFile)];
}

TBrowseList TBrowseList::Of(std::vector<TLumivaneImage> AImages) {
    TBrowseList list;
    list.Images = std::move(AImages);
    list.Paths.reserve(list.Images.size());
    list.Texts.reserve(list.Images.size());
    auto names = std::make_shared<std::vector<std::string>>();
    names->reserve(list.Images.size());
    list.FilesByPath.reserve(static_cast<qsizetype>(list.Images.size()));
    for (const TLumivaneImage& image : list.Images) {
        const std::string& full = names->emplace_back(image.FullFileName());
        list.Paths.push_back(QString::fromStdString(full));
        const QString& path = list.Paths.back();
        // The same text shared where the two spell the same (a search's files).
        list.Texts.push_back(image.Path == full ? path : QString::fromStdString(image.Path));
        list.FilesByPath[path].append(static_cast<int>(list.Paths.size()) - 1);
        if (lvpaths::MayNeedCleaning(path)) {
            const QString clean = QDir::cleanPath(path);
            if (clean != path)
                list.CleanSpellings.insert(clean, path);
        }
    }
    list.FileNames = std::move(names);
    return list;
}

QString TBrowseModel::ListedSpelling(const QString& APath) const {
    const QString listed = FCleanSpellings.value(APath, APath);
    return FFilesByPath.contains(listed) ? listed : QString();
}

void TBrowseModel::SetImages(std::vector<TLumivaneImage> AImages) {
    SetImages(TBrowseList::Of(std::move(AImages)));
}

void TBrowseModel::SetImages(TBrowseList AList) {
    Take(std::move(AList));
    FCounts.clear();
    FWanted = {};
    FPending = false;
    FShown = {};
    FShownPageCount = 1;
    emit ListChanged();
    emit ShownChanged();
    emit WantedChanged();
}

TBrowseModel::TMerge TBrowseModel::Merge(std::vector<TLumivaneImage> AImages) {
    return Merge(TBrowseList::Of(std::move(AImages)));
}

void TBrowseModel::Take(TBrowseList AList) {
    FImages = std::move(AList.Images);
    FPaths = std::move(AList.Paths);
    FTexts = std::move(AList.Texts);
    FFileNames = AList.FileNames ? std::move(AList.FileNames)
                                 : std::make_shared<const std::vector<std::string>>();
    FFilesByPath = std::move(AList.FilesByPath);
    FCleanSpellings = std::move(AList.CleanSpellings);
}

TBrowseModel::TMerge TBrowseModel::Merge(TBrowseList AList) {
    std::vector<TLumivaneImage>& images = AList.Images;
    const bool same = std::equal(
        images.begin(), images.end(), FImages.begin(), FImages.end(),
        [](const TLumivaneImage& A, const TLumivaneImage& B) { return A.Path == B.Path; });
    if (same)
        return TMerge::Unchanged;
    const std::string selected = SelectedImage().Path;
    const std::string shown = Image(FShown.File).Path;
    const bool wasEmpty = FImages.empty();
    // What was read of a container stays with it.
    for (TLumivaneImage& image : images) {
        if (!image.ContainerPending())
            continue;
        const auto known = std::find_if(FImages.begin(), FImages.end(), [&](const auto& AOld) {
            return AOld.Path == image.Path && !AOld.ContainerPending();
        });
        if (known != FImages.end())
            image = *known;
    }
    const int oldSelected = FWanted.File;
    Take(std::move(AList));
    const auto indexOf = [this](const std::string& APath) {
        if (APath.empty())
            return -1;
        const auto found = std::find_if(FImages.begin(), FImages.end(),
                                        [&](const auto& AImage) { return AImage.Path == APath; });
        return found == FImages.end() ? -1 : static_cast<int>(found - FImages.begin());
    };
    FShown.File = indexOf(shown);
    if (FShown.File < 0)
        FShown = {};
    const int kept = indexOf(selected);
    TMerge result;
    if (kept >= 0) {
        // The file selected stays; only its place in the list may move.
        FWanted.File = kept;
        result = TMerge::SelectionKept;
    } else if (selected.empty() && !wasEmpty) {
        FWanted = {};
        FPending = false;
        result = TMerge::NoneSelected;
    } else {
        // The file selected went away (the next one takes its place), or the first scans
        // arrived for an identifier that had none.
        FWanted = FImages.empty() ? TBrowsePosition{}
                                  : TBrowsePosition{std::clamp(oldSelected, 0, Count() - 1), 0};
        FPending = !FWanted.IsEmpty();
        result = TMerge::Reselected;
    }
    emit ListChanged();
    emit ShownChanged();
    if (result == TMerge::Reselected)
        emit WantedChanged();
    return result;
}

void TBrowseModel::SetContainerText(const std::string& APath, TLumivaneCantOpenReason AReason,
                                    const std::string& AText) {
    for (std::size_t i = 0; i < FImages.size(); ++i)
        if (FImages[i].Path == APath && FImages[i].ContainerPending()) {
            FImages[i].SetContainerText(AReason, AText);
            emit FileChanged(static_cast<int>(i));
        }
}

int TBrowseModel::PageCount(int AFile) const {
    if (AFile < 0 || AFile >= Count())
        return -1;
    return FCounts.value(FilePath(AFile), -1);
}

int TBrowseModel::WantedPage() const {
    if (FWanted.IsEmpty())
        return -1;
    const int count = PageCount(FWanted.File);
    if (count < 0)
        return FWanted.Page == 0 ? 0 : -1;
    return FWanted.Page < 0 ? std::max(0, count + FWanted.Page) : std::min(FWanted.Page, count - 1);
}

void TBrowseModel::Want(TBrowsePosition APosition) {
    FWanted = APosition;
    FPending = true;
    Normalize();
    emit WantedChanged();
}

bool TBrowseModel::Select(int AFile, int APage) {
    if (AFile < 0 || AFile >= Count())
        return false;
    Want({AFile, APage});
    return true;
}

bool TBrowseModel::StepFile(int ADirection) {
    const int file = FWanted.File + ADirection;
    if (FWanted.IsEmpty() || file < 0 || file >= Count())
        return false;
    Want({file, 0});
    return true;
}

bool TBrowseModel::SelectFirstOrLast(bool ALast) {
    const int file = ALast ? Count() - 1 : 0;
    if (Count() == 0 || file == FWanted.File)
        return false;
    Want({file, 0});
    return true;
}

std::optional<TBrowsePosition> TBrowseModel::GoToTarget(const QString& AText, QString* AWhy) const {
    const auto refuse = [AWhy](const QString& AReason) -> std::optional<TBrowsePosition> {
        if (AWhy)
            *AWhy = AReason;
        return std::nullopt;
    };
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\d{1,6})\\s*(?:/\\s*(\\d{1,6})\\s*)?$"));
    const QRegularExpressionMatch match = form.match(AText);
    if (!match.hasMatch())
        return refuse(QStringLiteral("A file number, or a file and page such as 3/2"));
    const int file = match.captured(1).toInt();
    const int page = match.hasCaptured(2) ? match.captured(2).toInt() : 1;
    if (file < 1 || file > Count())
        return refuse(Count() == 1 ? QStringLiteral("There is one file")
                                   : QStringLiteral("Files 1 to %1").arg(Count()));
    const int count = PageCount(file - 1);
    if (page < 1 || (count >= 0 && page > count))
        return refuse(count == 1
                          ? QStringLiteral("File %1 has one page").arg(file)
                          : QStringLiteral("File %1 has pages 1 to %2").arg(file).arg(count));
    if (AWhy)
        AWhy->clear();
    return TBrowsePosition{file - 1, page - 1};
}

bool TBrowseModel::StepPage(int ADirection) {
    if (FWanted.IsEmpty())
        return false;
    const int count = PageCount(FWanted.File);
    const int file = FWanted.File;
    // With the count known the page is a page number; without it, it stays counted from
    // where it was counted from until SetPageCount places it.
    const int page = count >= 0 ? WantedPage() : FWanted.Page;
    if (ADirection > 0) {
        const bool lastPage = count >= 0 ? page + 1 >= count : page == -1;
        if (!lastPage)
            Want({file, page + 1});
        else if (file + 1 < Count())
            Want({file + 1, 0});
        else
            return false;
        return true;
    }
    if (page != 0)
        Want({file, page - 1});
    else if (file > 0)
        Want({file - 1, -1});
    else
        return false;
    return true;
}

void TBrowseModel::Normalize() {
    // Relative pages the counts now known can place, possibly in another file.
    for (;;) {
        const int count = PageCount(FWanted.File);
        if (FWanted.IsEmpty() || count < 0)
            return;
        if (FWanted.Page >= count) {
            if (FWanted.File + 1 >= Count()) {
                FWanted.Page = count - 1; // past the end: the last page
                return;
            }
            FWanted = {FWanted.File + 1, FWanted.Page - count};
        } else if (FWanted.Page < 0 && count + FWanted.Page < 0) {
            if (FWanted.File == 0) {
                FWanted.Page = 0; // before the start: the first page
                return;
            }
            FWanted = {FWanted.File - 1, count + FWanted.Page};
        } else {
            if (FWanted.Page < 0)
                FWanted.Page += count;
            return;
        }
    }
}

void TBrowseModel::SetShown(int AFile, int APage, int APageCount) {
    FShown = {AFile, APage};
    FShownPageCount = std::max(1, APageCount);
    // The window puts on screen only the page wanted.
    if (FWanted.File == AFile) {
        FWanted.Page = APage;
        FPending = false;
    }
    emit ShownChanged();
}

void TBrowseModel::ClearShown() {
    FShown = {};
    FShownPageCount = 1;
    FPending = false;
    emit ShownChanged();
}

void TBrowseModel::SetPageCount(const QString& APath, int ACount) {
    ACount = std::max(1, ACount);
    const auto known = FCounts.constFind(APath);
    if (known != FCounts.constEnd() && *known == ACount)
        return;
    const bool waiting = FPending && WantedPage() < 0 && FilePath(FWanted.File) == APath;
    const TBrowsePosition before = FWanted;
    FCounts.insert(APath, ACount);
    for (const int file : FFilesByPath.value(APath))
        emit PageCountKnown(file);
    // The wanted page may have been waiting for this count, or lie past it.
    if (FPending && FilePath(FWanted.File) == APath) {
        Normalize();
        if (waiting || FWanted != before)
            emit WantedChanged();
    }
}

std::vector<TBrowsePosition> TBrowseModel::Neighbours() const {
    std::vector<TBrowsePosition> next;
    if (FShown.IsEmpty() || FPending)
        return next;
    if (FShown.Page + 1 < FShownPageCount)
        next.push_back({FShown.File, FShown.Page + 1});
    const auto neighbour = [&](int AFile) {
        if (AFile >= 0 && AFile < Count() && Image(AFile).CantOpenReason() != corSecured)
            next.push_back({AFile, 0});
    };
    neighbour(FWanted.File + 1);
    neighbour(FWanted.File - 1);
    return next;
}
