// Orlenza.DocumentPrinting: printing from the viewer. Knows nothing of the viewer window:
// it is given what the window shows (its files, the page and turn shown, the identifier)
// and opens the print dialog for it; on Print it runs the job off the GUI thread. It keeps
// the printer between jobs and remembers the last printer and options per host
// connection, when given a store for them.
#pragma once

#include "viewer/PrintJob.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QPrinter;
class QWidget;
class TPrintDialog;
class TPrintOptionsStore;

class TDocumentPrinting : public QObject {
    Q_OBJECT
public:
    explicit TDocumentPrinting(QWidget* AWindow);
    ~TDocumentPrinting() override;

    // Where the last printer and options are remembered (the host connection's store);
    // null remembers them for this run only. The store is read when it changes and
    // written on every Print.
    void SetStore(std::shared_ptr<const TPrintOptionsStore> AStore);

    // How the dialog is shown: returns whether the user chose Print. The default runs it
    // modally; tests drive the dialog through this seam without a modal loop.
    using TDialogRunner = std::function<bool(TPrintDialog& ADialog)>;
    void SetDialogRunner(TDialogRunner ARunner) { FRunDialog = std::move(ARunner); }

    // Opens the print dialog for ASource and, on Print, starts the job. Returns whether a
    // job was started. While a job runs, brings its progress forward instead.
    bool Print(const TPrintSource& ASource);

    bool IsPrinting() const { return FJob && FJob->IsRunning(); }
    TPrintJobRunner* Job() const { return FJob.get(); }
    // The options the next dialog opens with.
    const lvprint::TPrintOptions& Options() const { return FOptions; }

signals:
    // A job ended (done, cancelled or failed); the outcome is the job's.
    void JobFinished(const TPrintOutcome& AOutcome);

private:
    void LoadRemembered();
    void SaveRemembered();
    void OnJobFinished();

    QPointer<QWidget> FWindow;
    std::unique_ptr<QPrinter> FPrinter;
    std::unique_ptr<TPrintJobRunner> FJob;
    std::shared_ptr<const TPrintOptionsStore> FStore;
    TDialogRunner FRunDialog;
    lvprint::TPrintOptions FOptions;
    QString FPrinterName; // remembered; empty for the system's default
    QString FPdfFolder;   // where the last PDF went; empty: none yet
    bool FLoaded = false;
};
