#include "viewer/PrintJob.h"

#include "viewer/ImageDecoding.h"

#include <QFileInfo>
#include <QPainter>
#include <QPen>
#include <QPrinter>
#include <QProgressDialog>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

using lvprint::TPagePlacement;
using lvprint::TPageSource;
using lvprint::TPrintOptions;
using lvprint::TPrintPages;

namespace {

// Rows decoded and drawn at a time: a 600 dpi A3 colour page is ~10,000 rows of ~28 KB.
constexpr int BandRows = 256;

} // namespace

TPrintRequest MakePrintRequest(const TPrintSource& ASource, const TPrintOptions& AOptions) {
    TPrintRequest request;
    request.Options = AOptions;
    const int count = static_cast<int>(ASource.Files.size());
    const auto angleOf = [&ASource](int AIndex) {
        if (AIndex == ASource.ShownFile) {
            return ASource.ShownAngle;
        }
        return ASource.AngleOf ? ASource.AngleOf(AIndex) : 0.0;
    };
    if (AOptions.Pages == TPrintPages::List) {
        for (int i = 0; i < count; ++i) {
            const auto& f = ASource.Files[static_cast<size_t>(i)];
            request.Documents.push_back({f.Path, f.Name, AllPages, angleOf(i)});
        }
        request.Title = ASource.Identifier;
        return request;
    }
    if (ASource.ShownFile < 0 || ASource.ShownFile >= count) {
        return request;
    }
    const auto& f = ASource.Files[static_cast<size_t>(ASource.ShownFile)];
    const int page =
        AOptions.Pages == TPrintPages::Shown ? std::max(0, ASource.ShownPage) : AllPages;
    request.Documents.push_back({f.Path, f.Name, page, ASource.ShownAngle});
    request.Title = f.Name;
    return request;
}

std::vector<TPrintPage> ExpandPages(const TPrintRequest& ARequest,
                                    const std::function<int(const QString&)>& APageCount) {
    std::vector<TPrintPage> pages;
    for (const TPrintDocument& d : ARequest.Documents) {
        const double angle = lvprint::PrintAngle(d.Angle, ARequest.Options.AsShown);
        if (d.Page != AllPages) {
            pages.push_back({d.Path, d.Name, d.Page, angle});
            continue;
        }
        int count = 1;
        try {
            count = std::max(1, APageCount(d.Path));
        } catch (const std::exception&) {
            count = 1;
        }
        for (int p = 0; p < count; ++p) {
            pages.push_back({d.Path, d.Name, p, angle});
        }
    }
    return pages;
}

TPageFacts ReadPageFacts(const QString& APath, int APage) {
    TDecodeOptions options;
    options.Page = APage;
    const TDecodedImage header = ReadImageHeader(APath, options);
    return {header.fullSize, header.dotsPerInch};
}

int CountPages(const QString& APath) {
    return ReadPageCount(APath);
}

TPagePicture DecodePagePicture(const QString& APath, int APage, QSize ABox) {
    TDecodeOptions options;
    options.Page = APage;
    TDecodedImage decoded = DecodeForDisplay(APath, ABox, options);
    return {{decoded.fullSize, decoded.dotsPerInch}, std::move(decoded.image)};
}

TPageSource PageSource(const TPageFacts& AFacts, double AAngle) {
    return {static_cast<double>(AFacts.PixelSize.width()),
            static_cast<double>(AFacts.PixelSize.height()), AFacts.DotsPerInch.width(),
            AFacts.DotsPerInch.height(), AAngle};
}

lvprint::TSheet SheetOf(const QPageLayout& ALayout, int AResolution) {
    const QRect full = ALayout.fullRectPixels(AResolution);
    const QRect paint = ALayout.paintRectPixels(AResolution);
    return {static_cast<double>(full.width()),
            static_cast<double>(full.height()),
            {static_cast<double>(paint.left()), static_cast<double>(paint.top()),
             static_cast<double>(paint.width()), static_cast<double>(paint.height())}};
}

QPageLayout::Orientation SheetOrientation(const TPageSource& APage,
                                          lvprint::TPrintOrientation AChoice,
                                          QPageLayout::Orientation APrinterSetting) {
    if (AChoice == lvprint::TPrintOrientation::Printer) {
        return APrinterSetting;
    }
    return lvprint::IsLandscape(APage) ? QPageLayout::Landscape : QPageLayout::Portrait;
}

void DrawPicture(QPainter& APainter, const TPagePlacement& APlacement, QPointF APrintableOrigin,
                 const QImage& ABand, int ATop, QSize ADecodedSize) {
    if (APlacement.Box.IsEmpty() || ABand.isNull() || ADecodedSize.isEmpty()) {
        return;
    }
    const lvprint::TRect& b = APlacement.Box;
    const double w = APlacement.PictureWidth;
    const double h = APlacement.PictureHeight;
    const double rowHeight = h / ADecodedSize.height();
    APainter.save();
    APainter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    APainter.translate(b.Left + b.Width / 2 - APrintableOrigin.x(),
                       b.Top + b.Height / 2 - APrintableOrigin.y());
    APainter.rotate(APlacement.Angle);
    APainter.drawImage(QRectF(-w / 2, -h / 2 + ATop * rowHeight, w, ABand.height() * rowHeight),
                       ABand, QRectF(0, 0, ABand.width(), ABand.height()));
    APainter.restore();
}

namespace {

// A band of a bilevel page decoded at its own size holds only black and white: as a 1-bit
// image it goes to the printer (and into a PDF) as the bits it is, where a grey band
// would be sent as a colour picture many times its size. Null for any other band.
QImage BilevelBand(const QImage& ABand) {
    if (ABand.format() != QImage::Format_Grayscale8)
        return {};
    const int w = ABand.width();
    const int h = ABand.height();
    QImage bits(w, h, QImage::Format_Mono);
    if (bits.isNull())
        return {};
    bits.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < h; ++y) {
        const uchar* in = ABand.constScanLine(y);
        uchar* out = bits.scanLine(y);
        std::fill(out, out + (w + 7) / 8, uchar(0));
        for (int x = 0; x < w; ++x) {
            if (in[x] == 255)
                out[x >> 3] = static_cast<uchar>(out[x >> 3] | (0x80u >> (x & 7)));
            else if (in[x] != 0)
                return {}; // grey: a reduced or grey page
        }
    }
    return bits;
}

// Prints one page's picture band by band, so a large page never needs its whole frame in
// memory; throws what the decoder throws.
void PrintPicture(QPainter& APainter, const TPagePlacement& APlacement, QPointF AOrigin,
                  const TPrintPage& APage, const TPageFacts& AFacts, const TPageSource& ASource) {
    const lvprint::TPixelSize want = lvprint::DecodeSizeFor(ASource, APlacement);
    const QSize target(want.Width, want.Height);
    const QSize decoded = DecodeSizeWithin(AFacts.PixelSize, target);
    TDecodeOptions options;
    options.Page = APage.Page;
    // A 1-bit picture is laid down in the pen's colour; the pen is put back also when the
    // decode throws.
    struct TPenKept {
        QPainter& Painter;
        QPen Pen;
        ~TPenKept() { Painter.setPen(Pen); }
    } kept{APainter, APainter.pen()};
    APainter.setPen(Qt::black);
    DecodeInBands(APage.Path, options, target, BandRows, [&](const QImage& ABand, int ATop) {
        const QImage bits = BilevelBand(ABand);
        DrawPicture(APainter, APlacement, AOrigin, bits.isNull() ? ABand : bits, ATop, decoded);
    });
}

} // namespace

void DrawPageFailure(QPainter& APainter, const QRectF& APrintable, const QString& AText) {
    APainter.save();
    QFont font = APainter.font();
    // A readable size whatever the printer's resolution.
    font.setPixelSize(std::max(8, static_cast<int>(APrintable.height() / 60)));
    APainter.setFont(font);
    APainter.setPen(Qt::black);
    APainter.drawText(APrintable, Qt::AlignCenter | Qt::TextWordWrap, AText);
    APainter.restore();
}

TPrintOutcome PrintJob(QPrinter& APrinter, const TPrintRequest& ARequest,
                       const std::atomic<bool>* ACancel,
                       const std::function<void(int ADone, int ATotal)>& AProgress) {
    TPrintOutcome outcome;
    const auto cancelled = [ACancel] { return ACancel && ACancel->load(); };
    const std::vector<TPrintPage> pages = ExpandPages(ARequest, CountPages);
    outcome.PagesTotal = static_cast<int>(pages.size());
    if (pages.empty()) {
        return outcome;
    }
    if (cancelled()) {
        outcome.Cancelled = true;
        return outcome;
    }
    if (AProgress) {
        AProgress(0, outcome.PagesTotal);
    }
    const QPageLayout::Orientation setting = APrinter.pageLayout().orientation();
    APrinter.setDocName(ARequest.Title);

    QPainter painter;
    for (size_t i = 0; i < pages.size(); ++i) {
        const TPrintPage& page = pages[i];
        TPageFacts facts;
        TPageSource source;
        QString failure;
        try {
            facts = ReadPageFacts(page.Path, page.Page);
            source = PageSource(facts, page.Angle);
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
        const QPageLayout::Orientation orientation =
            failure.isEmpty() ? SheetOrientation(source, ARequest.Options.Orientation, setting)
                              : setting;
        // A new layout applies from the next page on: set it before beginning or before
        // asking for the new page.
        APrinter.setPageOrientation(orientation);
        if (i == 0) {
            if (!painter.begin(&APrinter)) {
                APrinter.setPageOrientation(setting);
                outcome.Error = QStringLiteral("The printer could not start the job \"%1\"")
                                    .arg(ARequest.Title);
                return outcome;
            }
        } else if (!APrinter.newPage()) {
            outcome.Error = QStringLiteral("The printer refused page %1").arg(i + 1);
            break;
        }
        const lvprint::TSheet sheet = SheetOf(APrinter.pageLayout(), APrinter.resolution());
        const QPointF origin(sheet.Printable.Left, sheet.Printable.Top);
        if (failure.isEmpty()) {
            try {
                const TPagePlacement placement =
                    lvprint::PlacePage(source, sheet, ARequest.Options.Size, APrinter.resolution());
                PrintPicture(painter, placement, origin, page, facts, source);
            } catch (const std::exception& e) {
                failure = QString::fromUtf8(e.what());
            }
        }
        if (!failure.isEmpty()) {
            outcome.Failures << failure;
            DrawPageFailure(painter, QRectF(0, 0, sheet.Printable.Width, sheet.Printable.Height),
                            failure);
        }
        ++outcome.PagesPrinted;
        if (AProgress) {
            AProgress(outcome.PagesPrinted, outcome.PagesTotal);
        }
        if (cancelled() && i + 1 < pages.size()) {
            outcome.Cancelled = true;
            break;
        }
    }
    // Ending the painter ends the document: the pages printed so far go out whole.
    painter.end();
    APrinter.setPageOrientation(setting);
    return outcome;
}

TPrintJobRunner::TPrintJobRunner(std::unique_ptr<QPrinter> APrinter, TPrintRequest ARequest,
                                 QWidget* AParent)
    : FPrinter(std::move(APrinter)), FRequest(std::move(ARequest)), FParent(AParent),
      FCancel(std::make_shared<std::atomic<bool>>(false)) {}

TPrintJobRunner::~TPrintJobRunner() {
    if (FThread) {
        FCancel->store(true);
        FThread->wait();
        delete FThread;
    }
    delete FProgress.data();
}

void TPrintJobRunner::Start() {
    if (FRunning || FThread || !FPrinter) {
        return;
    }
    FRunning = true;
    QPrinter* printer = FPrinter.get();
    auto cancel = FCancel;
    FThread = QThread::create([this, printer, request = FRequest, cancel] {
        TPrintOutcome outcome;
        try {
            outcome = PrintJob(*printer, request, cancel.get(), [this](int ADone, int ATotal) {
                QMetaObject::invokeMethod(
                    this, [this, ADone, ATotal] { OnProgress(ADone, ATotal); },
                    Qt::QueuedConnection);
            });
        } catch (const std::exception& e) {
            outcome.Error = QString::fromUtf8(e.what());
        } catch (...) {
            outcome.Error = QStringLiteral("The print job failed");
        }
        QMetaObject::invokeMethod(
            this, [this, outcome] { OnFinished(outcome); }, Qt::QueuedConnection);
    });
    FThread->setObjectName(QStringLiteral("PrintJob"));
    FThread->start(QThread::LowPriority);
}

void TPrintJobRunner::Cancel() {
    FCancel->store(true);
    if (FProgress) {
        FProgress->setLabelText(QStringLiteral("Cancelling after this page…"));
    }
}

std::unique_ptr<QPrinter> TPrintJobRunner::TakePrinter() {
    return FRunning ? nullptr : std::move(FPrinter);
}

void TPrintJobRunner::OnProgress(int ADone, int ATotal) {
    if (ATotal > 1 && !FProgress && FRunning) {
        FProgress = new QProgressDialog(FParent);
        FProgress->setObjectName(QStringLiteral("PrintProgress"));
        FProgress->setWindowTitle(QStringLiteral("Printing"));
        FProgress->setLabelText(QStringLiteral("Printing \"%1\"").arg(FRequest.Title));
        FProgress->setRange(0, ATotal);
        FProgress->setMinimumDuration(0);
        FProgress->setAutoClose(false);
        FProgress->setAutoReset(false);
        // The window stays usable while a long job prints, and keeps the keyboard: the
        // progress shows beside it without being activated.
        FProgress->setWindowModality(Qt::NonModal);
        FProgress->setAttribute(Qt::WA_ShowWithoutActivating);
        connect(FProgress, &QProgressDialog::canceled, this, &TPrintJobRunner::Cancel);
        FProgress->show();
    }
    if (FProgress && !FCancel->load()) {
        FProgress->setValue(ADone);
    }
    emit Progressed(ADone, ATotal);
}

void TPrintJobRunner::OnFinished(const TPrintOutcome& AOutcome) {
    FOutcome = AOutcome;
    if (FThread) {
        FThread->wait();
        delete FThread;
        FThread = nullptr;
    }
    FRunning = false;
    if (FProgress) {
        FProgress->hide();
        FProgress->deleteLater();
        FProgress = nullptr;
    }
    emit Finished();
}
