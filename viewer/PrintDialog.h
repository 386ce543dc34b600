// TPrintDialog: the one dialog behind Print. A live preview of the sheets as they will come
// out (Qt's print preview), the printer with its system settings, and the options beside
// them: which pages, what size, turned as shown or as stored, and which way the sheet goes.
// The preview's pictures are decoded small on worker threads; the dialog never waits for
// a file.
#pragma once

#include "viewer/PrintJob.h"

#include <QDialog>
#include <QHash>
#include <QImage>
#include <QString>

#include <memory>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPrintPreviewWidget;
class QPrinter;
class QPushButton;

class TPrintDialog : public QDialog {
    Q_OBJECT
public:
    // Edits APrinter (the job's printer) and the options for printing from ASource.
    TPrintDialog(QPrinter& APrinter, TPrintSource ASource, const lvprint::TPrintOptions& AOptions,
                 QWidget* AParent = nullptr);
    ~TPrintDialog() override;

    lvprint::TPrintOptions Options() const;
    void SetOptions(const lvprint::TPrintOptions& AOptions);
    // The request the Print button sends: the options applied to the source.
    TPrintRequest Request() const;

    // The printer the job goes to, as the dialog has set it up.
    QPrinter& Printer() const { return FPrinter; }
    // Printer choice: a name from the system's printers, or a PDF file.
    QStringList PrinterNames() const;
    void SelectPrinter(const QString& AName);
    void SelectPdfFile(const QString& AFile);
    // The folder a PDF goes to unless the user picks another (the last one used); the
    // file is named after what is printed: the file shown ("12345678~4.pdf") or the
    // identifier for the whole list.
    void SetPdfFolder(const QString& AFolder);
    QString DefaultPdfName() const;

    // The sheet the preview shows, 0-based, and how many there are.
    int PreviewSheet() const;

    QPrintPreviewWidget* Preview() const { return FPreview; }
    // The preview shows the current options with every picture decoded.
    bool PreviewIsComplete() const;
    int PreviewPageCount() const;

signals:
    // The preview was drawn again (options, printer or a decoded picture changed).
    void PreviewUpdated();

private:
    struct TPreviewPage {
        bool Ready = false;
        TPageFacts Facts;
        QImage Picture;
        QString Error;
    };
    friend struct TPreviewLink;

    void CreateComponents();
    void OnOptionsChanged();
    void OnPrinterChosen();
    void ShowPrinterSettings();
    void BrowsePdfFile();
    void SchedulePreview();
    void RefreshPreview();
    void PaintPreview(QPrinter* APrinter);
    // Asks a worker for what the preview lacks: page counts, then small pictures.
    void LoadMissing();
    void OnCounts(const QHash<QString, int>& ACounts);
    void OnPicture(const QString& AKey, const TPreviewPage& APage);
    void OnLoadDone(const struct TPreviewLink* ALink);
    void ScheduleRefresh();
    std::vector<TPrintPage> PreviewPages() const;
    static QString Key(const QString& APath, int APage);
    void UpdateNotes();
    void SyncPreviewPrinter();
    void NamePdfFile();
    void ShowSheet(int ASheet);
    void UpdateSheetLabel();
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

    QPrinter& FPrinter;
    TPrintSource FSource;
    std::unique_ptr<QPrinter> FPreviewPrinter;
    QPrintPreviewWidget* FPreview = nullptr;
    QComboBox* cbxPrinter = nullptr;
    QLineEdit* edPdfFile = nullptr;
    QPushButton* btnBrowsePdf = nullptr;
    QPushButton* btnPrinterSettings = nullptr;
    QButtonGroup* FPagesGroup = nullptr;
    QButtonGroup* FSizeGroup = nullptr;
    QButtonGroup* FOrientationGroup = nullptr;
    QCheckBox* chkAsShown = nullptr;
    QLabel* lblNoResolution = nullptr;
    QLabel* lblPageCount = nullptr;
    QPushButton* btnPrint = nullptr;
    QLabel* lblSheet = nullptr;
    QString FPdfFolder;
    // The user typed or picked the PDF's name: it no longer follows the options.
    bool FPdfNamedByUser = false;
    int FWheelRemainder = 0;

    QHash<QString, int> FPageCounts;
    QHash<QString, TPreviewPage> FPages;
    qint64 FCachedBytes = 0;
    std::shared_ptr<struct TPreviewLink> FLink;
    bool FLoadAgain = false;
    class QTimer* FBatchTimer = nullptr;
    bool FRefreshPending = false;
    int FPaintedPages = 0;
    bool FPaintedComplete = false;
};
