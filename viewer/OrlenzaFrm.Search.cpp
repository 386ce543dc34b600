// The viewer window's searches: an identifier from the host, the start-up text or the
// identifier box is listed off the GUI thread, and the listing that comes back replaces
// the browse model's list (or, for the identifier already shown, refreshes it).
#include "viewer/OrlenzaFrm.h"

#include "controlfile/ImageViewer.ControlFile.h"
#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QWindow>

#include <algorithm>

using namespace lvform;

void TLumivaneViewerForm::NewImage(const std::string& ASearchText) {
    // The toolbar, the start-up text and the identifier box search here; the window's own
    // keys then act on the picture, not on the box.
    if (!ViewController->SearchTextIsValidForSearch(ASearchText))
        return;
    const bool wasShown = isVisible() && !(windowState() & Qt::WindowMinimized);
    // A return to the identifier already shown leaves the focus where the user had it.
    if (SearchFor(ASearchText, true) || !wasShown)
        FocusPicture();
}

bool TLumivaneViewerForm::SearchFor(const std::string& ASearchText, bool AFocusIfNew) {
    if (!ViewController->SearchTextIsValidForSearch(ASearchText))
        return false;
    if (FListing && ASearchText == FListingText) {
        // Being listed already (a return to the window right after a search): on its way.
        EnsureShown();
        return false;
    }
    if (RefreshShownSearch(ASearchText, AFocusIfNew))
        return false;
    ClearImage();
    EnsureShown();
    LoadImageList(ASearchText);
    return true;
}

bool TLumivaneViewerForm::RefreshShownSearch(const std::string& ASearchText, bool AFocusIfNew) {
    if (ASearchText != FLastSearchText || SelectedImage().IsEmpty())
        return false;
    // The picture, its zoom and its turn stay while the folders are listed again.
    EnsureShown();
    edImageId->setText(Q(ASearchText));
    btnForm->setEnabled(true);
    StartListing(ASearchText, true, AFocusIfNew);
    return true;
}

void TLumivaneViewerForm::LoadImageList(const std::string& ASearchText) {
    // An empty text searches what the box holds. A text from elsewhere has passed the
    // length check, so the Form button must not stay off from a shorter text typed before.
    if (!ASearchText.empty()) {
        edImageId->setText(Q(ASearchText));
        btnForm->setEnabled(ViewController->SearchTextIsValidForSearch(ASearchText));
    }
    ClearImage();
    ChangeViewState(vsIdle);
    const std::string identifier = edImageId->text().toStdString();
    // Frames of another identifier are not coming back; a search again for the same one
    // (a return to the window) finds its pages ready.
    if (identifier != FCachedIdentifier) {
        FPipeline->ForgetFiles();
        FCachedIdentifier = identifier;
    }
    // The list goes on showing the identifier before until the new one's arrives (a search
    // the folder search refuses leaves it); nothing of it is opened or merged meanwhile.
    StopWatching();
    StartListing(identifier, false, false);
}

void TLumivaneViewerForm::StartListing(const std::string& ASearchText, bool ARefresh,
                                       bool AFocusIfNew) {
    TPreparedImageSearch search = ViewController->PrepareImageSearch(ASearchText);
    TListing listing;
    listing.SearchText = ASearchText;
    listing.Refresh = ARefresh;
    listing.FocusIfNew = AFocusIfNew;
    listing.Run = std::move(search.Run);
    listing.StartPath = std::move(search.StartPath);
    const int generation = ++FListingGeneration;
    FListing = true;
    FListingNewSearch = !ARefresh;
    FListingText = ASearchText;
    SetBusy(true);
    // A folder of thousands of entries, or one on a slow share, must not hold up input,
    // paints or the state timer.
    QPointer<TLumivaneViewerForm> self(this);
    FListingWorkers->start([self, generation, listing = std::move(listing),
                            folders = std::move(search.Folders)]() mutable {
        std::vector<TLumivaneImage> images;
        try {
            if (listing.Run)
                images = listing.Run();
        } catch (...) {
            listing.Error = std::current_exception();
        }
        for (const std::string& folder : folders)
            if (QFileInfo(Q(folder)).isDir())
                listing.Folders << Q(folder);
        listing.Unreadable = UnreadableOf(listing.Folders);
        listing.Stamps = StampsOf(images);
        // Paths converted and indexed here, not on the GUI thread.
        listing.Images = TBrowseList::Of(std::move(images));
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, listing = std::move(listing)]() mutable {
                if (self)
                    self->ListingFinished(generation, std::move(listing));
            },
            Qt::QueuedConnection);
    });
}

void TLumivaneViewerForm::CancelListing() {
    ++FListingGeneration;
    if (!FListing)
        return;
    FListing = false;
    FListingText.clear();
    if (!FBrowse->IsPending())
        SetBusy(false);
}

void TLumivaneViewerForm::ListingFinished(int AGeneration, TListing AListing) {
    // A newer search, a hide, a close or a clear came since: this result shows nothing.
    if (!FListing || AGeneration != FListingGeneration)
        return;
    FListing = false;
    FListingText.clear();
    if (!FBrowse->IsPending())
        SetBusy(false);
    // Queued from the worker: a boundary where errors are reported.
    Guarded(this, [&] { TakeListing(std::move(AListing)); });
}

int TLumivaneViewerForm::StartImageId(const std::string& AStartPath) const {
    const std::vector<TLumivaneImage>& images = FBrowse->Images();
    const auto it = std::find_if(images.begin(), images.end(), [&](const TLumivaneImage& AImage) {
        return AImage.Path == AStartPath;
    });
    return AStartPath.empty() || it == images.end()
               ? 1
               : static_cast<int>(std::distance(images.begin(), it)) + 1;
}

void TLumivaneViewerForm::TakeListing(TListing AListing) {
    // A search the folder search refused is reported; the block keeps vsIdle and a return
    // to the window does not search it again.
    if (AListing.Error)
        std::rethrow_exception(AListing.Error);
    FUnreadableFolders = AListing.Unreadable;
    if (AListing.Refresh) {
        const std::string shown = SelectedImage().Path;
        const bool stillFound =
            !shown.empty() &&
            std::any_of(AListing.Images.Images.begin(), AListing.Images.Images.end(),
                        [&](const TLumivaneImage& AImage) { return AImage.Path == shown; });
        if (stillFound) {
            MergeImageList(std::move(AListing.Images));
            if (Image->IsBitmapEmpty()) {
                // Hidden by the host since, which let the picture go: the same file again,
                // at the zoom and turn it had.
                const double zoom = tbZoom->Value();
                const int angle = arcdImageRotation->Angle();
                SelectImage(ImageId());
                SetRotation(angle);
                tbZoom->SetValue(zoom);
            } else if (FViewState != vsOpen) {
                ChangeViewState(vsOpen);
            }
            // Searched again: a file replaced since is decoded again.
            NoteFileStamps(AListing.Stamps);
            if (FWatchedSearch != AListing.SearchText)
                WatchSearchedFolders(AListing.SearchText, std::move(AListing.Run), AListing.Folders,
                                     AListing.Stamps);
            emit ImagesListed();
            return;
        }
        // The file shown has gone: a new search, with what was just found.
        ClearImage();
        ChangeViewState(vsIdle);
        if (AListing.FocusIfNew)
            FocusPicture();
    }
    FBrowse->SetImages(std::move(AListing.Images));
    // Only a search that went through: a refused one is not searched again on a return.
    FLastSearchText = AListing.SearchText;
    // Frames of files replaced since the identifier was last shown serve no more.
    FPipeline->NoteFiles(AListing.Stamps);
    WatchSearchedFolders(AListing.SearchText, std::move(AListing.Run), AListing.Folders,
                         AListing.Stamps);
    SelectImage(StartImageId(AListing.StartPath));
    emit ImagesListed();
}
