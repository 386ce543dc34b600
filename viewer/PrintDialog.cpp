#include "viewer/PrintDialog.h"

#include "viewer/ImageDecoding.h"

#include <QAbstractScrollArea>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <exception>
#include <mutex>

using lvprint::TPrintOptions;
using lvprint::TPrintOrientation;
using lvprint::TPrintPages;
using lvprint::TPrintSize;

namespace {

// Preview pictures are decoded to fit this box: plenty for a sheet on screen.
constexpr int PreviewSide = 800;
// What the preview keeps decoded; pages beyond show as blank sheets with their number.
constexpr qint64 PreviewCacheBytes = 96LL * 1024 * 1024;
// Redrawing the preview after decoded pictures arrive waits this long for more of them.
constexpr int PreviewBatchMs = 40;

const QString PdfEntry = QStringLiteral("\x01pdf");

} // namespace

// What a preview worker shares with its dialog: results go back only while the dialog
// lives, and the dialog can stop the worker between pages.
struct TPreviewLink {
    std::mutex Lock;
    TPrintDialog* Dialog = nullptr;
    std::atomic<bool> Stop{false};
};

TPrintDialog::TPrintDialog(QPrinter& APrinter, TPrintSource ASource, const TPrintOptions& AOptions,
                           QWidget* AParent)
    : QDialog(AParent), FPrinter(APrinter), FSource(std::move(ASource)),
      FPreviewPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    setObjectName(QStringLiteral("PrintDialog1"));
    setWindowTitle(QStringLiteral("Print"));
    FPreviewPrinter->setOutputFormat(QPrinter::PdfFormat);
    FBatchTimer = new QTimer(this);
    FBatchTimer->setSingleShot(true);
    connect(FBatchTimer, &QTimer::timeout, this, [this] { SchedulePreview(); });
    CreateComponents();
    {
        // Opens on the printer as it was left: a PDF file or a named printer.
        const QSignalBlocker b1(cbxPrinter), b2(edPdfFile);
        if (FPrinter.outputFormat() == QPrinter::PdfFormat || PrinterNames().isEmpty()) {
            // A new job is named after what it prints, beside the last PDF.
            if (!FPrinter.outputFileName().isEmpty())
                FPdfFolder = QFileInfo(FPrinter.outputFileName()).absolutePath();
            cbxPrinter->setCurrentIndex(cbxPrinter->findData(PdfEntry));
        } else {
            SelectPrinter(FPrinter.printerName());
        }
    }
    SetOptions(AOptions);
    OnPrinterChosen();
}

TPrintDialog::~TPrintDialog() {
    if (FLink) {
        std::lock_guard<std::mutex> lock(FLink->Lock);
        FLink->Dialog = nullptr;
        FLink->Stop = true;
    }
}

void TPrintDialog::CreateComponents() {
    auto* layout = new QHBoxLayout(this);
    FPreview = new QPrintPreviewWidget(FPreviewPrinter.get(), this);
    FPreview->setObjectName(QStringLiteral("PrintPreview"));
    // Small enough for a laptop screen at 200 %; the dialog opens larger where there is room.
    FPreview->setMinimumSize(200, 260);
    FPreview->setZoomMode(QPrintPreviewWidget::FitInView);
    connect(FPreview, &QPrintPreviewWidget::paintRequested, this,
            [this](QPrinter* APrinter) { PaintPreview(APrinter); });
    // The sheet shown is named under the preview; the wheel moves a sheet per notch.
    auto* previewColumn = new QVBoxLayout;
    previewColumn->addWidget(FPreview, 1);
    lblSheet = new QLabel(this);
    lblSheet->setObjectName(QStringLiteral("lblSheet"));
    lblSheet->setAlignment(Qt::AlignCenter);
    previewColumn->addWidget(lblSheet);
    layout->addLayout(previewColumn, 1);
    if (auto* view = FPreview->findChild<QAbstractScrollArea*>()) {
        view->viewport()->installEventFilter(this);
        connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this,
                [this] { UpdateSheetLabel(); });
        connect(view->horizontalScrollBar(), &QScrollBar::valueChanged, this,
                [this] { UpdateSheetLabel(); });
    }
    connect(FPreview, &QPrintPreviewWidget::previewChanged, this, [this] { UpdateSheetLabel(); });

    // The options scroll when the screen is short; Print and Cancel always stay in view.
    auto* column = new QVBoxLayout;
    layout->addLayout(column);
    auto* options = new QWidget;
    auto* side = new QVBoxLayout(options);
    side->setContentsMargins(0, 0, 0, 0);

    auto* printerBox = new QGroupBox(QStringLiteral("Printer"), this);
    auto* printerLayout = new QVBoxLayout(printerBox);
    cbxPrinter = new QComboBox(printerBox);
    cbxPrinter->setObjectName(QStringLiteral("cbxPrinter"));
    for (const QString& name : QPrinterInfo::availablePrinterNames()) {
        cbxPrinter->addItem(name, name);
    }
    cbxPrinter->addItem(QStringLiteral("Save as PDF"), PdfEntry);
    printerLayout->addWidget(cbxPrinter);
    auto* pdfRow = new QHBoxLayout;
    edPdfFile = new QLineEdit(printerBox);
    edPdfFile->setObjectName(QStringLiteral("edPdfFile"));
    btnBrowsePdf = new QPushButton(QStringLiteral("…"), printerBox);
    btnBrowsePdf->setObjectName(QStringLiteral("btnBrowsePdf"));
    pdfRow->addWidget(edPdfFile, 1);
    pdfRow->addWidget(btnBrowsePdf);
    printerLayout->addLayout(pdfRow);
    btnPrinterSettings = new QPushButton(QStringLiteral("Printer settings…"), printerBox);
    btnPrinterSettings->setObjectName(QStringLiteral("btnPrinterSettings"));
    printerLayout->addWidget(btnPrinterSettings);
    side->addWidget(printerBox);

    const auto group = [this, side](const QString& ATitle, QButtonGroup*& AGroup,
                                    std::initializer_list<std::pair<const char*, QString>> AItems) {
        auto* box = new QGroupBox(ATitle, this);
        auto* boxLayout = new QVBoxLayout(box);
        AGroup = new QButtonGroup(box);
        int id = 0;
        for (const auto& [name, text] : AItems) {
            auto* radio = new QRadioButton(text, box);
            radio->setObjectName(QString::fromLatin1(name));
            AGroup->addButton(radio, id++);
            boxLayout->addWidget(radio);
        }
        side->addWidget(box);
        return boxLayout;
    };
    group(QStringLiteral("Pages"), FPagesGroup,
          {{"rbPagesShown", QStringLiteral("The page shown")},
           {"rbPagesFile", QStringLiteral("All pages of this file")},
           {"rbPagesList", QStringLiteral("Every file of the list")}});
    QVBoxLayout* sizeLayout =
        group(QStringLiteral("Size"), FSizeGroup,
              {{"rbSizeFitWidth", QStringLiteral("Fit to the printable width")},
               {"rbSizeFitPage", QStringLiteral("Fit the whole page")},
               {"rbSizeActual", QStringLiteral("Actual size")}});
    lblNoResolution = new QLabel(this);
    lblNoResolution->setObjectName(QStringLiteral("lblNoResolution"));
    lblNoResolution->setWordWrap(true);
    lblNoResolution->hide();
    sizeLayout->addWidget(lblNoResolution);
    chkAsShown = new QCheckBox(QStringLiteral("As shown (turned as on screen)"), this);
    chkAsShown->setObjectName(QStringLiteral("chkAsShown"));
    side->addWidget(chkAsShown);
    group(QStringLiteral("Orientation"), FOrientationGroup,
          {{"rbOrientationAuto", QStringLiteral("Automatic")},
           {"rbOrientationPrinter", QStringLiteral("As the printer settings say")}});
    lblPageCount = new QLabel(this);
    lblPageCount->setObjectName(QStringLiteral("lblPageCount"));
    side->addWidget(lblPageCount);
    side->addStretch(1);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("PrintOptions"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->setWidget(options);
    scroll->setMinimumWidth(options->sizeHint().width() +
                            scroll->verticalScrollBar()->sizeHint().width());
    column->addWidget(scroll, 1);

    auto* buttons = new QDialogButtonBox(this);
    btnPrint = buttons->addButton(QStringLiteral("Print"), QDialogButtonBox::AcceptRole);
    btnPrint->setObjectName(QStringLiteral("btnPrint"));
    btnPrint->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);

    // A readable preview where the screen has room for it, and never beyond the screen.
    const QSize hint = sizeHint();
    QSize wanted(hint.width() + 260, std::max(hint.height(), 600));
    if (const QScreen* where = screen())
        wanted = wanted.boundedTo(where->availableGeometry().size() * 0.9);
    resize(wanted);

    for (QButtonGroup* g : {FPagesGroup, FSizeGroup, FOrientationGroup}) {
        connect(g, &QButtonGroup::idToggled, this, [this](int, bool AChecked) {
            if (AChecked) {
                OnOptionsChanged();
            }
        });
    }
    connect(chkAsShown, &QCheckBox::toggled, this, [this] { OnOptionsChanged(); });
    connect(cbxPrinter, &QComboBox::currentIndexChanged, this, [this] { OnPrinterChosen(); });
    connect(edPdfFile, &QLineEdit::textChanged, this, [this] { OnPrinterChosen(); });
    connect(edPdfFile, &QLineEdit::textEdited, this, [this] { FPdfNamedByUser = true; });
    connect(btnBrowsePdf, &QPushButton::clicked, this, [this] { BrowsePdfFile(); });
    connect(btnPrinterSettings, &QPushButton::clicked, this, [this] { ShowPrinterSettings(); });

    // A file shown without pages to turn to has nothing more to offer than the page shown.
    const bool hasList = !FSource.Files.empty();
    FPagesGroup->button(static_cast<int>(TPrintPages::List))->setEnabled(hasList);
}

TPrintOptions TPrintDialog::Options() const {
    TPrintOptions options;
    options.Pages = static_cast<TPrintPages>(std::max(0, FPagesGroup->checkedId()));
    options.Size = static_cast<TPrintSize>(std::max(0, FSizeGroup->checkedId()));
    options.AsShown = chkAsShown->isChecked();
    options.Orientation =
        static_cast<TPrintOrientation>(std::max(0, FOrientationGroup->checkedId()));
    return options;
}

void TPrintDialog::SetOptions(const TPrintOptions& AOptions) {
    const auto check = [](QButtonGroup* AGroup, int AId) {
        if (QAbstractButton* b = AGroup->button(AId)) {
            b->setChecked(true);
        } else {
            AGroup->button(0)->setChecked(true);
        }
    };
    {
        // One refresh for the lot.
        const QSignalBlocker b1(FPagesGroup), b2(FSizeGroup), b3(FOrientationGroup), b4(chkAsShown);
        check(FPagesGroup, static_cast<int>(AOptions.Pages));
        check(FSizeGroup, static_cast<int>(AOptions.Size));
        check(FOrientationGroup, static_cast<int>(AOptions.Orientation));
        chkAsShown->setChecked(AOptions.AsShown);
    }
    OnOptionsChanged();
}

TPrintRequest TPrintDialog::Request() const {
    return MakePrintRequest(FSource, Options());
}

QStringList TPrintDialog::PrinterNames() const {
    QStringList names;
    for (int i = 0; i < cbxPrinter->count(); ++i) {
        if (cbxPrinter->itemData(i).toString() != PdfEntry) {
            names << cbxPrinter->itemData(i).toString();
        }
    }
    return names;
}

void TPrintDialog::SelectPrinter(const QString& AName) {
    const int index = cbxPrinter->findData(AName);
    if (index >= 0) {
        cbxPrinter->setCurrentIndex(index);
    }
}

void TPrintDialog::SelectPdfFile(const QString& AFile) {
    const QSignalBlocker blocker(edPdfFile);
    edPdfFile->setText(AFile);
    FPdfNamedByUser = true;
    cbxPrinter->setCurrentIndex(cbxPrinter->findData(PdfEntry));
    OnPrinterChosen();
}

void TPrintDialog::SetPdfFolder(const QString& AFolder) {
    FPdfFolder = AFolder;
    if (!FPdfNamedByUser) {
        const QSignalBlocker blocker(edPdfFile);
        edPdfFile->clear();
        OnPrinterChosen();
    }
}

QString TPrintDialog::DefaultPdfName() const {
    const TPrintRequest request = Request();
    // The file printed, without its extension (its name starts with the identifier), or
    // the identifier for a job over the whole list.
    QString name = Options().Pages == TPrintPages::List || request.Documents.empty()
                       ? FSource.Identifier
                       : QFileInfo(request.Documents.front().Name).completeBaseName();
    name.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|\\x00-\\x1f]")),
                 QStringLiteral("_"));
    if (name.isEmpty())
        name = QStringLiteral("print");
    const QString folder =
        FPdfFolder.isEmpty() || !QDir(FPdfFolder).exists() ? QDir::homePath() : FPdfFolder;
    return QDir(folder).filePath(name + QStringLiteral(".pdf"));
}

void TPrintDialog::NamePdfFile() {
    if (FPdfNamedByUser && !edPdfFile->text().isEmpty())
        return;
    const QSignalBlocker blocker(edPdfFile);
    edPdfFile->setText(DefaultPdfName());
}

void TPrintDialog::OnPrinterChosen() {
    const bool pdf = cbxPrinter->currentData().toString() == PdfEntry;
    edPdfFile->setVisible(pdf);
    btnBrowsePdf->setVisible(pdf);
    if (pdf) {
        NamePdfFile();
        FPrinter.setOutputFormat(QPrinter::PdfFormat);
        FPrinter.setOutputFileName(edPdfFile->text());
    } else {
        FPrinter.setOutputFileName(QString());
        FPrinter.setOutputFormat(QPrinter::NativeFormat);
        FPrinter.setPrinterName(cbxPrinter->currentData().toString());
    }
    btnPrint->setEnabled(!pdf || !edPdfFile->text().trimmed().isEmpty());
    SyncPreviewPrinter();
    SchedulePreview();
}

void TPrintDialog::ShowPrinterSettings() {
    // Paper, margins and the sheet's way: which pages go out and the Print button are this
    // dialog's own, so the settings offer neither a second page range nor a second Print.
    QPageSetupDialog dialog(&FPrinter, this);
    dialog.setObjectName(QStringLiteral("PrinterSettings"));
    dialog.setWindowTitle(QStringLiteral("Printer settings"));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    OnPrinterChosen();
}

void TPrintDialog::BrowsePdfFile() {
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save as PDF"), edPdfFile->text(),
                                     QStringLiteral("PDF files (*.pdf)"));
    if (!file.isEmpty()) {
        FPdfNamedByUser = true;
        edPdfFile->setText(file);
    }
}

void TPrintDialog::SyncPreviewPrinter() {
    FPreviewPrinter->setResolution(FPrinter.resolution());
    FPreviewPrinter->setPageLayout(FPrinter.pageLayout());
}

void TPrintDialog::OnOptionsChanged() {
    // A PDF named after the file shown is named after the list once the list is printed.
    if (cbxPrinter->currentData().toString() == PdfEntry)
        NamePdfFile();
    SchedulePreview();
}

int TPrintDialog::PreviewSheet() const {
    return std::max(0, FPreview->currentPage() - 1);
}

void TPrintDialog::ShowSheet(int ASheet) {
    const int count = FPreview->pageCount();
    if (count <= 0)
        return;
    FPreview->setCurrentPage(std::clamp(ASheet, 0, count - 1) + 1);
    UpdateSheetLabel();
}

void TPrintDialog::UpdateSheetLabel() {
    const int count = FPreview->pageCount();
    lblSheet->setText(count <= 0 ? QString()
                                 : QStringLiteral("Sheet %1 of %2")
                                       .arg(std::clamp(FPreview->currentPage(), 1, count))
                                       .arg(count));
}

bool TPrintDialog::eventFilter(QObject* AWatched, QEvent* AEvent) {
    if (AEvent->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(AEvent);
        if (wheel->modifiers() == Qt::NoModifier) {
            // One sheet per notch of 120; a touchpad's small steps add up to one.
            FWheelRemainder += wheel->angleDelta().y();
            const int notches = FWheelRemainder / 120;
            FWheelRemainder -= notches * 120;
            if (notches != 0)
                ShowSheet(PreviewSheet() - notches);
            return true;
        }
    }
    return QDialog::eventFilter(AWatched, AEvent);
}

void TPrintDialog::SchedulePreview() {
    LoadMissing();
    if (FRefreshPending) {
        return;
    }
    FRefreshPending = true;
    QTimer::singleShot(0, this, [this] { RefreshPreview(); });
}

void TPrintDialog::RefreshPreview() {
    FRefreshPending = false;
    UpdateNotes();
    FPreview->updatePreview();
    UpdateSheetLabel();
    emit PreviewUpdated();
}

QString TPrintDialog::Key(const QString& APath, int APage) {
    return APath + QLatin1Char('\n') + QString::number(APage);
}

std::vector<TPrintPage> TPrintDialog::PreviewPages() const {
    return ExpandPages(Request(),
                       [this](const QString& APath) { return FPageCounts.value(APath, 1); });
}

bool TPrintDialog::PreviewIsComplete() const {
    return !FRefreshPending && !FBatchTimer->isActive() && !FLink && FPaintedComplete;
}

int TPrintDialog::PreviewPageCount() const {
    return FPreview->pageCount();
}

void TPrintDialog::UpdateNotes() {
    const std::vector<TPrintPage> pages = PreviewPages();
    lblPageCount->setText(pages.size() == 1 ? QStringLiteral("1 page")
                                            : QStringLiteral("%1 pages").arg(pages.size()));
    QStringList without;
    if (Options().Size == TPrintSize::Actual) {
        for (const TPrintPage& p : pages) {
            const auto it = FPages.constFind(Key(p.Path, p.Page));
            if (it != FPages.constEnd() && it->Ready && it->Error.isEmpty() &&
                !lvprint::HasOwnResolution(PageSource(it->Facts, 0)) && !without.contains(p.Name)) {
                without << p.Name;
            }
        }
    }
    lblNoResolution->setVisible(!without.isEmpty());
    if (!without.isEmpty()) {
        lblNoResolution->setText(QStringLiteral("%1 records no resolution: printed as %2 dpi.")
                                     .arg(without.size() == 1
                                              ? without.first()
                                              : QStringLiteral("%1 files").arg(without.size()))
                                     .arg(lvprint::AssumedDotsPerInch));
    }
}

void TPrintDialog::PaintPreview(QPrinter* APrinter) {
    const std::vector<TPrintPage> pages = PreviewPages();
    const TPrintOptions options = Options();
    const QPageLayout::Orientation setting = FPrinter.pageLayout().orientation();
    const auto orientationOf = [&](const TPrintPage& APage) {
        const auto it = FPages.constFind(Key(APage.Path, APage.Page));
        if (it == FPages.constEnd() || !it->Ready || !it->Error.isEmpty()) {
            return setting;
        }
        return SheetOrientation(PageSource(it->Facts, APage.Angle), options.Orientation, setting);
    };
    // The preview shows every sheet in one orientation, that of the first; a sheet fed the
    // other way shows its content turned on it, as it comes out of the printer.
    const QPageLayout::Orientation shown = pages.empty() ? setting : orientationOf(pages.front());
    APrinter->setPageOrientation(shown);
    const int resolution = APrinter->resolution();
    const lvprint::TSheet sheet = SheetOf(APrinter->pageLayout(), resolution);
    const QPointF origin(sheet.Printable.Left, sheet.Printable.Top);
    QPageLayout other = APrinter->pageLayout();
    other.setOrientation(shown == QPageLayout::Portrait ? QPageLayout::Landscape
                                                        : QPageLayout::Portrait);
    const lvprint::TSheet otherSheet = SheetOf(other, resolution);

    bool complete = true;
    QPainter painter;
    if (!painter.begin(APrinter)) {
        return;
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        const TPrintPage& page = pages[i];
        if (i > 0) {
            APrinter->newPage();
        }
        const QRectF printable(0, 0, sheet.Printable.Width, sheet.Printable.Height);
        const auto it = FPages.constFind(Key(page.Path, page.Page));
        if (it == FPages.constEnd() || !it->Ready) {
            complete = false;
            painter.save();
            painter.setPen(Qt::gray);
            QFont font = painter.font();
            font.setPixelSize(std::max(8, static_cast<int>(printable.height() / 40)));
            painter.setFont(font);
            painter.drawText(printable, Qt::AlignCenter, QString::number(i + 1));
            painter.restore();
            continue;
        }
        if (!it->Error.isEmpty()) {
            DrawPageFailure(painter, printable, it->Error);
            continue;
        }
        const lvprint::TPageSource source = PageSource(it->Facts, page.Angle);
        const bool turned = orientationOf(page) != shown;
        const lvprint::TPagePlacement placement =
            lvprint::PlacePage(source, turned ? otherSheet : sheet, options.Size, resolution);
        painter.save();
        if (turned) {
            // Paper coordinates of the other sheet onto this one, a quarter turn.
            painter.translate(-origin);
            painter.translate(sheet.PaperWidth, 0);
            painter.rotate(90);
            DrawPicture(painter, placement, QPointF(), it->Picture, 0, it->Picture.size());
        } else {
            DrawPicture(painter, placement, origin, it->Picture, 0, it->Picture.size());
        }
        painter.restore();
    }
    painter.end();
    FPaintedPages = static_cast<int>(pages.size());
    FPaintedComplete = complete;
}

void TPrintDialog::LoadMissing() {
    if (FLink) {
        // One worker at a time; it looks again for what is missing when it is done.
        FLoadAgain = true;
        return;
    }
    QStringList counts;
    for (const TPrintDocument& d : Request().Documents) {
        if (d.Page == AllPages && !FPageCounts.contains(d.Path) && !counts.contains(d.Path)) {
            counts << d.Path;
        }
    }
    std::vector<std::pair<QString, int>> pictures;
    if (FCachedBytes < PreviewCacheBytes) {
        for (const TPrintPage& p : PreviewPages()) {
            if (!FPages.contains(Key(p.Path, p.Page))) {
                pictures.emplace_back(p.Path, p.Page);
            }
        }
    }
    if (counts.isEmpty() && pictures.empty()) {
        return;
    }
    FLoadAgain = false;
    auto link = std::make_shared<TPreviewLink>();
    link->Dialog = this;
    FLink = link;
    const auto post = [link](auto AWork) {
        std::lock_guard<std::mutex> lock(link->Lock);
        if (link->Dialog) {
            QMetaObject::invokeMethod(link->Dialog, std::move(AWork), Qt::QueuedConnection);
        }
    };
    QThreadPool::globalInstance()->start([link, counts, pictures, post] {
        // Counts first: they decide which pages there are.
        QHash<QString, int> found;
        for (const QString& path : counts) {
            if (link->Stop) {
                break;
            }
            try {
                found.insert(path, std::max(1, CountPages(path)));
            } catch (const std::exception&) {
                found.insert(path, 1);
            }
        }
        if (!found.isEmpty()) {
            post([link, found] { link->Dialog->OnCounts(found); });
        }
        for (const auto& [path, page] : pictures) {
            if (link->Stop) {
                break;
            }
            TPreviewPage entry;
            entry.Ready = true;
            try {
                TPagePicture decoded =
                    DecodePagePicture(path, page, QSize(PreviewSide, PreviewSide));
                entry.Facts = decoded.Facts;
                entry.Picture = std::move(decoded.Picture);
            } catch (const std::exception& e) {
                entry.Error = QString::fromUtf8(e.what());
            }
            post([link, key = Key(path, page), entry] { link->Dialog->OnPicture(key, entry); });
        }
        post([link] { link->Dialog->OnLoadDone(link.get()); });
    });
}

void TPrintDialog::OnCounts(const QHash<QString, int>& ACounts) {
    for (auto it = ACounts.constBegin(); it != ACounts.constEnd(); ++it) {
        FPageCounts.insert(it.key(), it.value());
    }
    // The pages just counted need their pictures too.
    FLoadAgain = true;
    ScheduleRefresh();
}

void TPrintDialog::OnPicture(const QString& AKey, const TPreviewPage& APage) {
    FCachedBytes += APage.Picture.sizeInBytes();
    FPages.insert(AKey, APage);
    ScheduleRefresh();
}

void TPrintDialog::OnLoadDone(const TPreviewLink* ALink) {
    if (FLink.get() != ALink) {
        return;
    }
    FLink.reset();
    if (FLoadAgain) {
        LoadMissing();
    }
}

void TPrintDialog::ScheduleRefresh() {
    // Pictures arrive one by one; one redraw takes a batch of them.
    if (!FBatchTimer->isActive()) {
        FBatchTimer->start(PreviewBatchMs);
    }
}
