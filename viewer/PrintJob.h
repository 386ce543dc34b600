// PrintJob: what a print job holds and how its pages reach the printer. A job is a list of
// documents (a file, one page of it or every page, and the angle it is turned by on
// screen); printing expands it into pages, decodes each page for the printer's resolution
// (never more than the file holds) and draws it through Qt's printer, one page per sheet.
// Nothing here knows the viewer window: the window builds the request, the dialog edits
// the options, and TPrintJobRunner runs the job off the GUI thread.
#pragma once

#include "viewer/PrintLayout.h"

#include <QImage>
#include <QObject>
#include <QPageLayout>
#include <QPointer>
#include <QProgressDialog>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QPrinter;
class QWidget;

// Every page of a file, in a document's page field.
constexpr int AllPages = -1;

struct TPrintDocument {
    QString Path;
    QString Name;     // the file's name as the list shows it
    int Page = 0;     // 0-based page, or AllPages
    double Angle = 0; // degrees clockwise the file is turned by on screen
};

struct TPrintRequest {
    std::vector<TPrintDocument> Documents;
    lvprint::TPrintOptions Options;
    QString Title; // the job's name in the print queue
};

// What the viewer shows, for building a request: its files in list order, which is shown
// (-1 for none), its page and turn, the identifier searched, and the turn of any other
// file (empty: upright).
struct TPrintSource {
    struct TFile {
        QString Path;
        QString Name;
    };
    std::vector<TFile> Files;
    int ShownFile = -1;
    int ShownPage = 0;
    double ShownAngle = 0;
    QString Identifier;
    std::function<double(int AFileIndex)> AngleOf;
};

// The request for AOptions: the page shown, every page of the shown file, or every page of
// every file. The title is the shown file's name, or the identifier for a job over the list.
TPrintRequest MakePrintRequest(const TPrintSource& ASource, const lvprint::TPrintOptions& AOptions);

// One sheet's worth of a job.
struct TPrintPage {
    QString Path;
    QString Name;
    int Page = 0;
    double Angle = 0;
};

// Expands the documents into pages, asking APageCount for files printed whole, each page
// turned as the options say. A file whose pages cannot be counted gives its first page
// (which then prints its error).
std::vector<TPrintPage> ExpandPages(const TPrintRequest& ARequest,
                                    const std::function<int(const QString&)>& APageCount);

// The page's facts needed to place it: its pixel size upright and its resolution.
struct TPageFacts {
    QSize PixelSize;
    QSizeF DotsPerInch; // empty when the file records none
};
TPageFacts ReadPageFacts(const QString& APath, int APage);
int CountPages(const QString& APath);

// A page decoded to fit ABox (for the preview), with its facts.
struct TPagePicture {
    TPageFacts Facts;
    QImage Picture;
};
TPagePicture DecodePagePicture(const QString& APath, int APage, QSize ABox);

lvprint::TPageSource PageSource(const TPageFacts& AFacts, double AAngle);

// A printer's sheet for an orientation, in device pixels at its resolution.
lvprint::TSheet SheetOf(const QPageLayout& ALayout, int AResolution);
// The orientation a page goes out in.
QPageLayout::Orientation SheetOrientation(const lvprint::TPageSource& APage,
                                          lvprint::TPrintOrientation AChoice,
                                          QPageLayout::Orientation APrinterSetting);

// Draws one page's picture (or one band of it: ATop is the band's first row within a
// decoded picture ADecodedSize large) where APlacement says. The painter's origin is the
// printable area's top left, APrintableOrigin that corner in paper coordinates.
void DrawPicture(QPainter& APainter, const lvprint::TPagePlacement& APlacement,
                 QPointF APrintableOrigin, const QImage& ABand, int ATop, QSize ADecodedSize);

// What a sheet shows instead of a page that cannot be read.
void DrawPageFailure(QPainter& APainter, const QRectF& APrintable, const QString& AText);

struct TPrintOutcome {
    int PagesPrinted = 0;
    int PagesTotal = 0;
    bool Cancelled = false;
    QString Error;        // the job could not be done (the printer refused it)
    QStringList Failures; // pages printed with an error note instead of their picture
};

// Prints ARequest on APrinter, synchronously, on whichever thread calls it (Qt paints on a
// printer from any one thread). AProgress hears (pages done, pages in the job) after each
// page; ACancel, when set, stops the job between pages: the job then ends with the pages
// printed so far. The printer's own orientation setting is left as it was found.
TPrintOutcome PrintJob(QPrinter& APrinter, const TPrintRequest& ARequest,
                       const std::atomic<bool>* ACancel,
                       const std::function<void(int ADone, int ATotal)>& AProgress);

// Runs one job on a worker thread and shows its progress, with Cancel, while it has more
// than one page. The GUI thread is never held: Finished comes through the event loop.
class TPrintJobRunner : public QObject {
    Q_OBJECT
public:
    // The job owns APrinter until it finishes; its progress shows over AParent.
    TPrintJobRunner(std::unique_ptr<QPrinter> APrinter, TPrintRequest ARequest, QWidget* AParent);
    ~TPrintJobRunner() override;

    void Start();
    void Cancel();
    bool IsRunning() const { return FRunning; }
    // The printer, back once the job has finished.
    std::unique_ptr<QPrinter> TakePrinter();
    const TPrintOutcome& Outcome() const { return FOutcome; }
    QProgressDialog* Progress() const { return FProgress.data(); }

signals:
    void Progressed(int ADone, int ATotal);
    void Finished();

private:
    void OnProgress(int ADone, int ATotal);
    void OnFinished(const TPrintOutcome& AOutcome);

    std::unique_ptr<QPrinter> FPrinter;
    TPrintRequest FRequest;
    // The window the progress shows over; it may go before the job does.
    QPointer<QWidget> FParent;
    QPointer<QProgressDialog> FProgress;
    std::shared_ptr<std::atomic<bool>> FCancel;
    TPrintOutcome FOutcome;
    bool FRunning = false;
    class QThread* FThread = nullptr;
};
