// Orlenza.DocumentPrinting: prints one bitmap as a one-page job. Knows nothing of the
// viewer: it is given the printer (already set up, e.g. by a print dialog), the bitmap
// and the job title.
#pragma once

#include <QImage>
#include <QString>

class QPrinter;

// Where a bitmap lands on the page, in device pixels relative to the top left corner of
// the printable area. Empty (all zero) when there is nothing sensible to draw.
struct TPrintPlacement {
    double Left = 0;
    double Top = 0;
    double Width = 0;
    double Height = 0;

    bool IsEmpty() const { return !(Width > 0) || !(Height > 0); }
};

// The placement rule: the bitmap is scaled by s, the smaller of page width / bitmap width
// and page height / bitmap height, keeping its proportions, at the top left of the
// printable area. An image relatively wider than the page spans the printable width; one
// relatively taller fills the printable height. An empty bitmap or page gives an empty
// placement.
TPrintPlacement PlaceBitmapOnPage(double APageWidth, double APageHeight, int ABitmapWidth,
                                  int ABitmapHeight);

// Prints ABitmap on one page of APrinter as a job named ATitle, placed by
// PlaceBitmapOnPage over the printer's printable area, with smooth resampling. The job has
// been handed to the printing system when this returns. An empty bitmap prints nothing
// and starts no job. Throws std::runtime_error when the printer refuses to start the job
// (nothing is printed then); the job is always ended once started, also when drawing
// throws.
void PrintBitmap(QPrinter& APrinter, const QImage& ABitmap, const QString& ATitle);
