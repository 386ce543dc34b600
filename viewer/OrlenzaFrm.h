// TLumivaneViewerForm: the viewer window. It shows the images found for an identifier one
// at a time: the identifier box with its "Form" button, the list of every file found, a
// title with name, date and position, back and next over the image, and at the bottom
// fit-to-width, zoom, rotation and printing. It reports its view state to the host through
// the view controller, obeys the host's hide request, and owns the 300 ms state timer that
// drives the view controller.
#pragma once

#include "app/Orlenza.Form.h"
#include "controlfile/ImageViewer.LumivaneImageInformation.Intf.h"
#include "images/Orlenza.Types.h"
#include "positions/ScreenPositionTracker.h"
#include "viewer/DecodePipeline.h"
#include "viewer/browse/BrowseModel.h"

#include <QDateTime>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QDialog;
class QThreadPool;
class TTurnStore;
class TPageCounter;
class TPageStrip;
class TFolderWatcher;
struct TFolderChanges;
class QKeyEvent;
class QMenu;
class QMimeData;
class QLabel;
class QLineEdit;
class TDocumentPrinting;
class QPushButton;
class QPropertyAnimation;
class QSequentialAnimationGroup;
class QTabWidget;
class QTimer;
class QToolButton;
class QVariantAnimation;
class QWindow;
class TActivityIndicator;
class TAlignLayout;
class TCircleShape;
class TImageControl;
class TImagePage;
class TRotaryDial;
class TToggleSwitch;
class TTrackBar;

class TLumivaneViewerForm : public TOrlenzaForm {
    Q_OBJECT
public:
    explicit TLumivaneViewerForm(QWidget* parent = nullptr);
    ~TLumivaneViewerForm() override;

    // TOrlenzaForm
    void SetSearchText(const std::string& ASearchText) override;
    void NewImage(const std::string& ASearchText) override;
    // IOrlenzaForm: also brings a minimised window back (the host's open, a search).
    void ShowForm() override;

    // Installed as the view controller's OnCloseImageAndHide (the host's hide request).
    void CloseImageAndHide(void* Sender);
    // The program ends without closing this window (the host's end, a signal): a window
    // still open keeps its placement, as a close by the user keeps it.
    void SavePlacementAtEnd();

    // What the window browses and where the user is in it: the window observes it, as
    // the list, the title and the page strip do.
    TBrowseModel& Browse() const { return *FBrowse; }
    // 1-based number of the selected list item; 0 when nothing is selected.
    int ImageId() const { return FBrowse->Selected() + 1; }
    int Count() const { return FBrowse->Count(); }
    // The selected entry, or an empty record when nothing is selected. The reference
    // holds until the list is searched again.
    const TLumivaneImage& SelectedImage() const { return FBrowse->SelectedImage(); }

    // Printing from this window: its print dialog (with the seam tests drive it through)
    // and the job under way.
    TDocumentPrinting& Printing() const { return *FPrinting; }

    // The page on screen, 0-based (what Print prints), and the number of pages of its file
    // (1 for single-page files; 0 while nothing is shown).
    int ShownPage() const { return FBrowse->Shown().Page; }
    int ShownPageCount() const { return FBrowse->ShownPageCount(); }
    // A search's folder listing or a page asked for has not arrived yet.
    bool IsLoading() const { return FListing || FBrowse->IsPending(); }
    // The list's texts a worker is still measuring for its width (lists handed over and
    // not answered yet).
    int ListMeasuresPending() const { return FListMeasuresPending; }
    // Decodes for this window run here; tests and benchmarks watch its cache and queue.
    TDecodePipeline& Pipeline() { return *FPipeline; }
    // The page strip beside the picture (hidden unless the user shows it).
    TPageStrip& Strip() const { return *FStrip; }

    // The picture's context menu, built for the shown entry (the caller owns it).
    QMenu* CreatePictureMenu();
    // Files seen in a watched folder that have not joined the list yet because they are
    // still being written, with the size last seen.
    QList<QPair<QString, qint64>> PendingScans() const;
    // The remembered turns of the listed files have been looked up.
    bool TurnsKnown() const { return FTurnLookupDone == FTurnLookup; }

signals:
    // A search's listing has been put in the list and its first page asked for (or the
    // list of the identifier shown refreshed), in the same call: a decode that page needs
    // has not come back yet.
    void ImagesListed();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateComponents();
    void FormCreate();

    // Handlers; each is a boundary where errors are reported.
    void FormActivate();
    // A window opened over this one (dialog, error report): its transient parent chain
    // leads here.
    bool IsOwnWindow(const QWindow* AWindow) const;
    void cbxImageListChange();
    void btnFormClick();
    void edImageIdKeyUp(int AKey);
    void btnBackClick();
    void btnNextClick();
    void tabImageMouseEnter();
    void fanmPageTurnerHiderFinish();
    void BtnPrintClick();
    void tbZoomChange();
    void ImageMouseWheel(int AWheelDelta);
    void tabImageClick();
    void tabImageDblClick();
    void ImageClick();
    void ImageDblClick();
    void ImageMouseDown(Qt::MouseButton AButton, QPointF APosition);
    void ImageMouseMove(QPointF APosition);
    void ImageMouseUp();
    // A left drag from the title line takes the file out.
    bool TitleMouseEvent(QEvent* AEvent);
    void tabImageResize();
    void ttImageStateTimer();

    // Behaviour
    void EnsureShown();
    void RestoreFromMinimized();
    void ClearImage();
    // A new search: the old identifier's list goes, the block reads vsIdle, and the
    // folders are listed off the GUI thread (ListingFinished fills the list).
    void LoadImageList(const std::string& ASearchText);
    // APage: the page of the file to show first (-1 for its last page). Asks the browse
    // model; what it then wants is shown by WantedChanged.
    void SelectImage(int AImageId, int APage = 0);
    // The model's wanted page of the selected file, or why nothing can be shown.
    void ShowSelectedImage();
    // Observers of the browse model (OrlenzaFrm.Browse.cpp).
    void ConnectBrowse();
    void ListChanged();
    void WantedChanged();
    // Steps from the keys and buttons, refused while another identifier is being listed.
    bool MayStep() const;
    void ShowNoImage();
    // Nothing searched yet (or the host hid the window): how to search, on the page.
    void ShowSearchHint();
    void ShowLoadError(const QString& AReason);
    void SetBusy(bool ABusy);
    void UpdateTitle();
    void UpdatePrintEnabled();

    // Geometry
    void FitImage(bool AFitToWidth);
    void ApplyZoom();
    void RotateQuarterTurn();
    void SetRotation(int AAngle);
    // Turns the picture and fits it again as turned, keeping the zoom step.
    void TurnImage(double AAngle);
    // The zoom base for the shown bitmap as the fit rules and the turn give it; false
    // for an empty bitmap.
    bool UpdateZoomBase(bool AFitToWidth);
    void RefitTurned();
    // Puts the image control's bounds, of the given size, in the centre of its page.
    void CenterImage(QSizeF ASize);
    // Reading a page larger than its area: the control placed at FPanOffset from the
    // centre; how far off the centre a control of the given size may stand before a gap
    // opens at an edge (0 on an axis where it fits); the view scrolled by a step (page
    // units, positive down or right); the size the zoom asks for (the track bar's step, or
    // the picture's own pixels after "1").
    void PlaceImage(QSizeF ASize);
    QPointF PanLimits(QSizeF ASize) const;
    void ScrollBy(QPointF AStep);
    bool AtPageEnd() const;
    // The picture reaches past its area on some side: there is somewhere to pan to.
    bool IsLargerThanArea() const;
    QSizeF ZoomedImageSize() const;
    void ShowActualPixels();
    void UpdateZoomLabel();
    // Decodes more detail once the zoom shows the picture larger than the pixels held.
    void EnsureDetail();

    // Pages and decoding (OrlenzaFrm.Pages.cpp). The model's wanted page is asked of the
    // pipeline; the window shows it when it is held, or when its decode ends (FrameReady).
    // A page whose number needs its file's page count waits for the header read, never
    // for pixels.
    void CreatePipeline();
    void ShowWantedPage();
    void FrameReady(const TFrameKey& AKey, const TFrame& AFrame, TDecodeKind AKind);
    void PutFrameOnScreen(const TFrameKey& AKey, const TFrame& AFrame);
    // Counts the pages of the listed files whose count is not known yet.
    void CountPages();
    // Nothing asked for so far reaches the screen any more.
    void CancelDecodes();
    void PrefetchNeighbours();
    // The fit rules as they stand, for decodes at the size a page will be drawn.
    TDrawRule CurrentDrawRule() const;

    // Placement. RestorePlacement is the last step of creation and SavePlacement runs on
    // every close request while the window is visible; both go through the placement rules
    // with the three hooks below (TPositionTrackerEvent).
    void RestorePlacement();
    void SavePlacement();
    // Ignores the record: top left corner, half the whole desktop, the image fitted
    // without fit-to-width and upright.
    void SetDefaultPlacement(const IPositionTrackerPtr& ATracker);
    // Zoom and fit-to-width into the record, and back.
    void CollectCustomProperties(const IPositionTrackerPtr& ATracker);
    void ApplyCustomProperties(const IPositionTrackerPtr& ATracker);

    // Keyboard (OrlenzaFrm.Keys.cpp). Keys with Ctrl, Esc and F1 act anywhere in the
    // window; single keys only while the identifier box does not have the focus.
    void InstallKeys();
    bool HandleWindowKey(const QWidget* ATarget, const QKeyEvent* AKey);
    void ShowKeyHelp();
    // Ctrl+G: asks for a file and page and goes there through the browse model.
    void AskGoTo();
    void SetKeyToolTips();
    void FocusPicture();
    void FocusIdentifierBox();
    void ZoomStep(int ADirection);
    void TurnQuarter(int ADirection);
    void ShowFirstOrLast(bool ALast);

    // The page strip (OrlenzaFrm.Strip.cpp), shown or hidden as last left per connection.
    void InstallStrip();
    void RestoreStrip();
    void ToggleStrip();
    void SetStripShown(bool AShown);
    bool StripHasFocus() const;

    // Copy and drag out (OrlenzaFrm.Clipboard.cpp).
    void InstallClipboard();
    void ResolveSelectedContainer();
    // Every container listed and not read yet, one after another off the GUI thread, so
    // the page strip can show their aliases.
    void ResolveContainers();
    // The image file behind the selected entry: a container's named file, else the entry.
    QString SelectedImageFile() const;
    QMimeData* FileMimeData() const;
    void CopyImage();
    void CopyFilePath();
    void OpenContainingFolder();
    void ShowPictureMenu(QPoint AGlobalPosition);
    // The file dragged out, from ASource (the picture or the title line).
    void StartFileDrag(QObject* ASource);

    // The search's folder listing runs on a worker; only the newest one asked for is
    // taken. ARefresh: the identifier shown, searched again (see RefreshShownSearch).
    struct TListing {
        std::string SearchText;
        bool Refresh = false;
        bool FocusIfNew = false; // asked through NewImage: a new search takes the focus
        TBrowseList Images;
        std::exception_ptr Error;          // the folder search refused or failed
        QStringList Folders;               // the searched folders that exist, to be watched
        QStringList Unreadable;            // of those, the ones that cannot be listed
        QHash<QString, TFileStamp> Stamps; // the listed files as found (by FullFileName)
        std::function<std::vector<TLumivaneImage>()> Run; // the same search, for fresh scans
        std::string StartPath; // the record shown first when found; empty: the first
    };
    void StartListing(const std::string& ASearchText, bool ARefresh, bool AFocusIfNew);
    void ListingFinished(int AGeneration, TListing AListing);
    void TakeListing(TListing AListing);
    // The 1-based number of the listed record with this Path; 1 when none has it.
    int StartImageId(const std::string& AStartPath) const;
    // Whatever listing runs is no longer wanted.
    void CancelListing();

    // Fresh scans (OrlenzaFrm.Watch.cpp): while an identifier is shown, a TFolderWatcher
    // says when files in its folders are complete, changed or gone; new and removed files
    // search again off the GUI thread and merge, a changed file shown is decoded again.
    void InstallWatching();
    void WatchSearchedFolders(const std::string& ASearchText,
                              std::function<std::vector<TLumivaneImage>()> ARescan,
                              const QStringList& AFolders,
                              const QHash<QString, TFileStamp>& AStamps);
    void StopWatching();
    void ScheduleRescan();
    void StartRescan();
    // What a fresh search found, sorted on its worker: the files that may be listed (those
    // listed already, and new ones the watcher had seen complete), the stamps of the ones
    // listed already, and the new files the watcher had no word on.
    struct TRescan {
        TBrowseList Accepted;
        QHash<QString, TFileStamp> Stamps;
        QStringList Unknown;
        QStringList Unreadable;
    };
    void RescanFinished(int AGeneration, TRescan ARescan);
    void WatchedFilesChanged(const TFolderChanges& AChanges);
    // The files a search found as they are now. Reads the file system: on a worker only.
    static QHash<QString, TFileStamp> StampsOf(const std::vector<TLumivaneImage>& AImages);
    // The folders of AFolders that exist but cannot be listed (no permission). On a worker.
    static QStringList UnreadableOf(const QStringList& AFolders);
    // The files are known to be as stamped now; a changed file on screen (or on its way
    // there) is decoded again.
    void NoteFileStamps(const QHash<QString, TFileStamp>& AStamps);
    // Puts AImages in the list keeping the selected file; when it is gone, the one now in
    // its place is shown.
    void MergeImageList(TBrowseList AImages);
    // The list's width asked of a worker: every text in the list's font, the widest taken.
    void MeasureImageList();
    void ImageListMeasured(qreal AWidest, qreal ALetterWidth);
    void SyncListSelection();

    // Turns remembered per file (OrlenzaFrm.Turns.cpp).
    void OpenTurnStore();
    void LookUpTurns();
    void ApplyRememberedTurn();
    // A page was put on screen: it takes the turn remembered for its file.
    void PageOnScreen();
    // After a turn the user made: kept for the file shown.
    void RememberTurn();

    // Keeping the user's place.
    // A search for the identifier already shown: the list is refreshed, the file, zoom,
    // turn and pan stay; when the listing no longer finds the file shown it becomes a new
    // search. False when nothing of that identifier is shown.
    bool RefreshShownSearch(const std::string& ASearchText, bool AFocusIfNew);
    // NewImage without moving the focus: the identifier box's own Enter and Form button.
    // True when it searched anew (not a refresh of the identifier shown, not the one being
    // listed already, not refused).
    bool SearchFor(const std::string& ASearchText, bool AFocusIfNew = false);
    void ChangeViewState(TImageViewerState AState);
    void ApplyFitToWidthSwitch();
    void UpdateMinimumSize();
    void FitImageListWidth();

    // Components, named as their objectNames.
    TAlignLayout* FFormLayout = nullptr;
    QWidget* TopToolBar = nullptr;
    QLabel* lblCurrentImageName = nullptr;
    QComboBox* cbxImageList = nullptr;
    QWidget* loInputControls = nullptr;
    QPushButton* btnForm = nullptr;
    QLineEdit* edImageId = nullptr;
    QWidget* BottomToolBar = nullptr;
    QWidget* loControls = nullptr;
    QWidget* rectController = nullptr;
    TTrackBar* tbZoom = nullptr;
    TRotaryDial* arcdImageRotation = nullptr;
    QWidget* loFitToWidth = nullptr;
    QWidget* loFitToWidth1 = nullptr;
    TToggleSwitch* swFitToWidth = nullptr;
    QWidget* loFitToWidth2 = nullptr;
    QLabel* lblFitToWidth = nullptr;
    QLabel* lblZoomPercent = nullptr;
    QPushButton* BtnPrint = nullptr;
    QTabWidget* tabImage = nullptr;
    TImagePage* tabForImage = nullptr;
    TImageControl* Image = nullptr;
    QWidget* loPageTurner = nullptr;
    TAlignLayout* FPageTurnerLayout = nullptr;
    QWidget* loPageTurnerButtons = nullptr;
    TAlignLayout* FPageTurnerButtonsLayout = nullptr;
    QToolButton* btnBack = nullptr;
    QWidget* loBusyIndicator = nullptr;
    TCircleShape* Circle1 = nullptr;
    TActivityIndicator* AniIndicator1 = nullptr;
    QSequentialAnimationGroup* BusyIndicatorColorAnimation = nullptr;
    QToolButton* btnNext = nullptr;
    QVariantAnimation* fanmPageTurnerHider = nullptr;
    QTimer* ttImageState = nullptr;
    TAlignLayout* FTopLayout = nullptr;
    TPageStrip* FStrip = nullptr;
    QToolButton* btnStrip = nullptr;

    // Fields
    TBrowseModel* FBrowse = nullptr;
    TPageCounter* FPageCounter = nullptr;
    QDateTime FLastKeyPress; // invalid until a key is released: counts as long ago
    bool FShown = false;
    // The identifier of the last search; what a return to the window searches again.
    std::string FLastSearchText;
    // The application's focus window is one this window opened.
    bool FFocusOnOwnWindow = false;
    QMetaObject::Connection FFocusWatch;
    float FDefaultImageListWidth = 0;
    int FImageListWidth = 0; // the widest the list was asked to be; it never narrows
    // The texts whose width FImageListWidth has taken in, and their font: read and written
    // only by FMeasureWorker's one thread.
    struct TListMeasure {
        QFont Font;
        QSet<QString> Texts;
    };
    std::shared_ptr<TListMeasure> FListMeasure = std::make_shared<TListMeasure>();
    QThreadPool* FMeasureWorker = nullptr;
    int FListMeasuresPending = 0;
    TNotifyEvent FStateEvent;
    TDocumentPrinting* FPrinting = nullptr;

    // Where the image control's pixels came from, and whether they are a decoded picture
    // rather than a colour fill.
    std::string FBitmapFile;
    bool FHasPicture = false;
    QTimer* FDetailTimer = nullptr;

    std::unique_ptr<TDecodePipeline> FPipeline;
    std::string FCachedIdentifier; // whose frames the cache holds

    // The listing under way (FListingText), and the number of the newest one asked for.
    bool FListing = false;
    bool FListingNewSearch = false; // not a refresh of the identifier shown
    std::string FListingText;
    int FListingGeneration = 0;
    QThreadPool* FListingWorkers = nullptr;

    // Zoom base and pan state.
    float FZoomBaseWidth = 0;
    float FZoomBaseHeight = 0;
    float FPanAnchorX = 0;
    float FPanAnchorY = 0;
    Qt::MouseButton FPanButton = Qt::LeftButton;
    QPointF FPanOffset;
    // "1" was pressed: the picture at its own pixels, beyond the track bar's 4 times.
    bool FActualPixels = false;
    // A double click arrives as press, release, double click, release: the last release
    // must not count as another click.
    bool FSuppressNextClick = false;
    bool FPressedOnImage = false;
    bool FPressedOnPage = false;

    // Workflow state.
    QPointer<QWidget> FKeyHelp;
    QPointer<QDialog> FGoTo;
    QPointF FPressAt;             // where the last press on the picture or its page began
    bool FPressMoved = false;     // it has moved since by more than a click allows
    bool FDragFileOnMove = false; // it was a Ctrl+left press on the picture
    QPointF FTitlePressAt;        // a left press on the title line; null when none
    bool FPanMoved = false;       // a pan moved the picture since the press
    int FCopyGeneration = 0;      // the latest copy asked for; an older one is dropped
    // Copies decode on a thread of their own: never behind folder rescans or previews.
    QThreadPool* FCopyWorker = nullptr;
    bool FCommandLineStateApplied = false;
    TImageViewerState FViewState = vsUnknown; // last state this window wrote
    TFolderWatcher* FWatcher = nullptr;
    QTimer* FRescanTimer = nullptr;
    std::string FWatchedSearch;
    std::function<std::vector<TLumivaneImage>()> FRescan;
    int FRescanGeneration = 0;
    bool FRescanRunning = false;
    bool FRescanAgain = false;
    // Searched folders that exist but could not be listed, as the last search found them:
    // an empty list says why.
    QStringList FUnreadableFolders;
    std::shared_ptr<TTurnStore> FTurnStore;
    // False once the window is being taken apart; for workers, which must not touch it.
    std::shared_ptr<std::atomic<bool>> FAlive = std::make_shared<std::atomic<bool>>(true);
    QThreadPool* FStoreWorker = nullptr;
    QHash<QString, int> FTurns; // quarter turns of the listed files, as far as looked up
    int FTurnLookup = 0;
    int FTurnLookupDone = 0;
    bool FTurnedByUser = false; // since the page on screen was put there
    std::string FTurnFile;      // the file whose remembered turn was applied last
};
