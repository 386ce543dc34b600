#include "viewer/Orlenza.DocumentPrinting.h"

#include "positions/PrintOptionsStore.h"
#include "viewer/PrintDialog.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>

TDocumentPrinting::TDocumentPrinting(QWidget* AWindow) : QObject(AWindow), FWindow(AWindow) {}

TDocumentPrinting::~TDocumentPrinting() = default;

void TDocumentPrinting::SetStore(std::shared_ptr<const TPrintOptionsStore> AStore) {
    const bool same = FStore && AStore && FStore->FileName() == AStore->FileName();
    FStore = std::move(AStore);
    if (!same) {
        FLoaded = false;
    }
}

bool TDocumentPrinting::Print(const TPrintSource& ASource) {
    if (IsPrinting()) {
        if (QProgressDialog* progress = FJob->Progress()) {
            progress->raise();
            progress->activateWindow();
        }
        return false;
    }
    if (FJob) {
        FPrinter = FJob->TakePrinter();
        FJob.reset();
    }
    LoadRemembered();
    if (!FPrinter) {
        FPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
        if (!FPrinterName.isEmpty() &&
            QPrinterInfo::availablePrinterNames().contains(FPrinterName)) {
            FPrinter->setPrinterName(FPrinterName);
        }
    }
    bool confirmed = false;
    TPrintRequest request;
    {
        TPrintDialog dialog(*FPrinter, ASource, FOptions, FWindow);
        if (!FPdfFolder.isEmpty())
            dialog.SetPdfFolder(FPdfFolder);
        confirmed = FRunDialog ? FRunDialog(dialog) : dialog.exec() == QDialog::Accepted;
        if (confirmed) {
            FOptions = dialog.Options();
            request = dialog.Request();
        }
    }
    if (!confirmed || request.Documents.empty()) {
        return false;
    }
    FPrinterName =
        FPrinter->outputFormat() == QPrinter::NativeFormat ? FPrinter->printerName() : FPrinterName;
    if (FPrinter->outputFormat() == QPrinter::PdfFormat && !FPrinter->outputFileName().isEmpty())
        FPdfFolder = QFileInfo(FPrinter->outputFileName()).absolutePath();
    SaveRemembered();
    FJob = std::make_unique<TPrintJobRunner>(std::move(FPrinter), std::move(request), FWindow);
    connect(FJob.get(), &TPrintJobRunner::Finished, this, &TDocumentPrinting::OnJobFinished);
    FJob->Start();
    return true;
}

void TDocumentPrinting::OnJobFinished() {
    const TPrintOutcome outcome = FJob->Outcome();
    FPrinter = FJob->TakePrinter();
    // The runner is inside its own signal: let it go once it has returned.
    FJob.release()->deleteLater();
    QString report = outcome.Error;
    if (report.isEmpty() && !outcome.Failures.isEmpty()) {
        report = QStringLiteral("%1 of %2 pages could not be read and were printed as their "
                                "error:\n%3")
                     .arg(outcome.Failures.size())
                     .arg(outcome.PagesPrinted)
                     .arg(outcome.Failures.join('\n'));
    }
    if (!report.isEmpty() && FWindow) {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Print"), report,
                                    QMessageBox::Ok, FWindow);
        box->setObjectName(QStringLiteral("PrintReport"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setDefaultButton(QMessageBox::Ok);
        box->open();
        // The report takes the keyboard, so Enter closes it where the user is.
        box->raise();
        box->activateWindow();
    }
    emit JobFinished(outcome);
}

void TDocumentPrinting::LoadRemembered() {
    if (FLoaded) {
        return;
    }
    FLoaded = true;
    if (!FStore) {
        return;
    }
    // Another connection's choices are not this one's.
    FOptions = {};
    FPrinterName.clear();
    FPdfFolder.clear();
    const std::optional<::TPrintOptions> stored = FStore->Load();
    if (!stored) {
        return;
    }
    FPrinterName = QString::fromStdString(stored->PrinterName);
    FOptions.Pages = static_cast<lvprint::TPrintPages>(stored->Pages);
    FOptions.Size = static_cast<lvprint::TPrintSize>(stored->Size);
    FOptions.AsShown = stored->AsShown;
    FOptions.Orientation = static_cast<lvprint::TPrintOrientation>(stored->Orientation);
    FPdfFolder = QString::fromStdString(stored->PdfFolder);
    if (FPrinter && !FPrinterName.isEmpty() &&
        QPrinterInfo::availablePrinterNames().contains(FPrinterName)) {
        FPrinter->setOutputFormat(QPrinter::NativeFormat);
        FPrinter->setPrinterName(FPrinterName);
    }
}

void TDocumentPrinting::SaveRemembered() {
    if (!FStore) {
        return;
    }
    ::TPrintOptions stored;
    stored.PrinterName = FPrinterName.toStdString();
    stored.Pages = static_cast<::TPrintPages>(FOptions.Pages);
    stored.Size = static_cast<::TPrintSize>(FOptions.Size);
    stored.AsShown = FOptions.AsShown;
    stored.Orientation = static_cast<::TPrintOrientation>(FOptions.Orientation);
    stored.PdfFolder = FPdfFolder.toStdString();
    // A store that cannot be written only forgets: the job goes out all the same.
    FStore->Save(stored);
}
