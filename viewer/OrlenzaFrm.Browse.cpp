// The viewer window as an observer of its browse model: the list of files, the selection
// and the title follow the model; a wanted page is asked for, or the reason nothing can be
// shown is put on the page. Steps from keys and buttons go to the model.
#include "viewer/OrlenzaFrm.h"

#include "viewer/OrlenzaFrm.Shared.h"
#include "viewer/ViewerWidgets.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace lvform;

namespace {

// "<name> cannot be shown: <reason>". Decoding names the file before its reason and may
// add a technical detail in brackets; the user reads the reason alone.
QString LoadErrorText(const TLumivaneImage& AImage, const QString& AError) {
    const QString name = Q(AImage.Name);
    QString reason = AError.trimmed();
    if (!name.isEmpty() && reason.startsWith(name + QStringLiteral(": ")))
        reason = reason.mid(name.size() + 2);
    if (reason.endsWith(QLatin1Char(')'))) {
        const qsizetype open = reason.lastIndexOf(QStringLiteral(" ("));
        if (open > 0)
            reason.truncate(open);
    }
    return (name.isEmpty() ? QStringLiteral("The file") : name) +
           QStringLiteral(" cannot be shown: ") + reason;
}

} // namespace

void TLumivaneViewerForm::ConnectBrowse() {
    // A reset list puts the combo box on its first row: that is not the user's pick. The
    // model's selection is put back once the browse model has said what changed.
    connect(cbxImageList->model(), &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { cbxImageList->blockSignals(true); });
    connect(cbxImageList->model(), &QAbstractItemModel::modelReset, this,
            [this] { cbxImageList->blockSignals(false); });
    connect(FBrowse, &TBrowseModel::ListChanged, this,
            [this] { Guarded(this, [this] { ListChanged(); }); });
    connect(FBrowse, &TBrowseModel::WantedChanged, this,
            [this] { Guarded(this, [this] { WantedChanged(); }); });
}

void TLumivaneViewerForm::ListChanged() {
    // The list's rows are the browse model's (TImageListModel has reset them by now).
    SyncListSelection();
    MeasureImageList();
    LookUpTurns();
    CountPages();
    ResolveContainers();
}

void TLumivaneViewerForm::SyncListSelection() {
    if (cbxImageList->currentIndex() == FBrowse->Selected())
        return;
    // Following the model is not a pick: no change event.
    QSignalBlocker block(cbxImageList);
    cbxImageList->setCurrentIndex(FBrowse->Selected());
}

void TLumivaneViewerForm::WantedChanged() {
    SyncListSelection();
    if (FBrowse->Selected() < 0 || !FBrowse->IsPending())
        return;
    // The hourglass while the image loads; given back once it is shown.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    struct Restore {
        ~Restore() { QGuiApplication::restoreOverrideCursor(); }
    } restore;
    ShowSelectedImage();
}

bool TLumivaneViewerForm::MayStep() const {
    // While another identifier is listed the list still holds the one before: a pick
    // there would show a file of the identifier the host no longer asks for.
    return !(FListing && FListingNewSearch);
}

void TLumivaneViewerForm::SelectImage(int AImageId, int APage) {
    if (!MayStep()) {
        SyncListSelection();
        return;
    }
    // An empty list: nothing to select, and the page says so.
    if (!FBrowse->Select(AImageId - 1, APage))
        ShowSelectedImage();
}

void TLumivaneViewerForm::MergeImageList(TBrowseList AImages) {
    switch (FBrowse->Merge(std::move(AImages))) {
    case TBrowseModel::TMerge::Unchanged:
        return;
    case TBrowseModel::TMerge::SelectionKept:
    case TBrowseModel::TMerge::NoneSelected:
        UpdateTitle();
        return;
    case TBrowseModel::TMerge::Reselected:
        // A list left empty: the page says so (a file left is shown by WantedChanged).
        if (Count() == 0)
            ShowSelectedImage();
        return;
    }
}

void TLumivaneViewerForm::MeasureImageList() {
    // A copy that shares each text: no conversion here.
    std::vector<QString> texts = FBrowse->Texts();
    if (texts.empty())
        return;
    // Shaping ten thousand texts takes the GUI thread longer than a frame: a worker measures
    // them and the list widens when it answers. The width only ever grows, so a text measured
    // before in this font cannot widen it again: a fresh scan that adds one file to thousands
    // measures that one.
    ++FListMeasuresPending;
    QPointer<TLumivaneViewerForm> self(this);
    FMeasureWorker->start([self, alive = FAlive, measure = FListMeasure,
                           font = cbxImageList->font(), texts = std::move(texts)] {
        if (measure->Font != font || measure->Texts.size() > 100000) {
            measure->Font = font;
            measure->Texts.clear();
        }
        const QFontMetricsF metrics(font);
        qreal widest = -1;
        for (const QString& text : texts) {
            if (!alive->load())
                return;
            if (measure->Texts.contains(text))
                continue;
            widest = std::max(widest, metrics.horizontalAdvance(text));
            measure->Texts.insert(text);
        }
        const qreal letter = metrics.horizontalAdvance(QStringLiteral("W"));
        QMetaObject::invokeMethod(
            qApp,
            [self, widest, letter] {
                if (!self)
                    return;
                --self->FListMeasuresPending;
                if (widest >= 0)
                    Guarded(self.data(), [&] { self->ImageListMeasured(widest, letter); });
            },
            Qt::QueuedConnection);
    });
}

void TLumivaneViewerForm::ImageListMeasured(qreal AWidest, qreal ALetterWidth) {
    const qreal need = FDefaultImageListWidth + ALetterWidth + AWidest;
    FImageListWidth = std::max(FImageListWidth, static_cast<int>(std::ceil(need)));
    FitImageListWidth();
}

void TLumivaneViewerForm::ShowSelectedImage() {
    ResolveSelectedContainer();
    if (!SelectedImage().IsEmpty()) {
        // Decoded on a worker and put on screen when it is ready (at once when the cache
        // holds it); until then the window goes on showing what it shows.
        ShowWantedPage();
        return;
    }
    CancelDecodes();
    FBrowse->ClearShown();
    Image->hide();
    SetBusy(true);
    SetRotation(0);
    try {
        ShowNoImage();
        ChangeViewState(vsOpen);
        FitImage(swFitToWidth->isChecked());
        UpdateTitle();
    } catch (...) {
        ShowLoadError(ErrorText(std::current_exception()));
        // The title names what the list shows, also when it cannot be shown.
        UpdateTitle();
    }
    SetBusy(false);
    Image->show();
    PlaceImage(Image->Bounds().size());
}

void TLumivaneViewerForm::ShowNoImage() {
    // The bitmap stays empty (nothing to print or copy); the page shows the colour and why.
    Image->FillBitmap(kNoImageColor);
    QString text = QStringLiteral("No images for ") + edImageId->text();
    // Nothing listed because a folder refuses to be read is another matter than no scans.
    if (!FUnreadableFolders.isEmpty())
        text += QStringLiteral(": the folder ") +
                QDir::toNativeSeparators(FUnreadableFolders.constFirst()) +
                QStringLiteral(" cannot be read");
    tabForImage->SetNotice(kNoImageColor, text);
    FHasPicture = false;
    UpdatePrintEnabled();
    UpdateZoomLabel();
}

void TLumivaneViewerForm::ShowSearchHint() {
    tabForImage->SetNotice(kHintColor, QStringLiteral("Type an identifier and press Enter"));
}

void TLumivaneViewerForm::ShowLoadError(const QString& AReason) {
    if (Image->IsBitmapEmpty()) {
        // Nothing was shown before (the first image of a search): fill the image area, so
        // the failure is seen instead of an empty page.
        QImage fill(std::max(1, tabImage->width()), std::max(1, tabImage->height()),
                    QImage::Format_RGB32);
        Image->SetBitmap(std::move(fill));
        Image->FillBitmap(kLoadErrorColor);
        FitImage(false);
    } else {
        Image->FillBitmap(kLoadErrorColor);
    }
    tabForImage->SetNotice(kLoadErrorColor, LoadErrorText(SelectedImage(), AReason));
    FHasPicture = false;
    UpdatePrintEnabled();
    UpdateZoomLabel();
}

void TLumivaneViewerForm::UpdateTitle() {
    const TLumivaneImage& selected = SelectedImage();
    if (selected.IsEmpty()) {
        lblCurrentImageName->setText(QString());
        lblCurrentImageName->unsetCursor();
        return;
    }
    // The file is dragged out from here.
    lblCurrentImageName->setCursor(Qt::OpenHandCursor);
    // Put together from its parts: a name is shown as it is, whatever it holds.
    const QString line1 = Q(selected.DisplayName()) + QLatin1Char(' ') +
                          Q(selected.FormattedTimeStamp("mmm dd yyyy HH:nn")) + QLatin1Char(' ');
    QString line2 = QString::number(ImageId()) + QStringLiteral(" of ") + QString::number(Count());
    if (ShownPageCount() > 1)
        line2 += QStringLiteral(" \u00B7 page ") + QString::number(ShownPage() + 1) +
                 QLatin1Char('/') + QString::number(ShownPageCount());
    lblCurrentImageName->setText(line1 + QStringLiteral("\r\n") + line2);
}
