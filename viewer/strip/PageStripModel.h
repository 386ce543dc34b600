// TPageStripModel: the page strip's list, one row per page of every listed file, fed by
// the browse model (files, page counts, the wanted page) and by the decode pipeline
// (thumbnails). A file whose page count is not known yet has one row until the count
// comes. It keeps no position of its own: the current row is the browse model's wanted
// page, asked for each time.
#pragma once

#include "viewer/DecodePipeline.h"
#include "viewer/browse/BrowseModel.h"

#include <QAbstractListModel>

#include <vector>

class TPageStripModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum TRole {
        ErrorRole = Qt::UserRole + 1, // QString: why the page cannot be shown; empty if it can
        CurrentRole,                  // bool: the page wanted or shown now
        ThumbnailRole,                // QImage: the decoded tile; null until it is decoded
    };

    TPageStripModel(TBrowseModel& ABrowse, TDecodePipeline& APipeline, QObject* parent = nullptr);

    int rowCount(const QModelIndex& AParent = {}) const override;
    QVariant data(const QModelIndex& AIndex, int ARole) const override;

    TBrowsePosition PositionAt(int ARow) const;
    int RowOf(int AFile, int APage) const;
    // The row of the page wanted now (or, before its number is known, its file's first).
    int CurrentRow() const;
    // Thumbnails are decoded to fit ASide x ASide device pixels.
    void SetThumbnailSide(int ASide);
    int ThumbnailSide() const { return FSide; }
    // Only these rows' thumbnails are decoded; every other one leaves the queue. An empty
    // range (ALast < AFirst) asks for none.
    void SetVisibleRows(int AFirst, int ALast);

    // "~2 · 3/5": the part of the name after its "~" (the alias for a container), then the
    // page and the file's page count when it has more than one.
    static QString Label(const TLumivaneImage& AImage, int APage, int APageCount);

signals:
    // The current row moved (a step, a click, a page count that placed the wanted page).
    void CurrentRowChanged(int ARow);

private:
    void Rebuild();
    void CountKnown(int AFile);
    void FrameReady(const TFrameKey& AKey, const TFrame& AFrame, TDecodeKind AKind);
    void PositionChanged();
    int RowsOf(int AFile) const;
    const TFrame* Thumbnail(int ARow) const;

    TBrowseModel& FBrowse;
    TDecodePipeline& FPipeline;
    std::vector<int> FFirstRow; // per file, and the row count at the end
    int FSide = 80;
    int FCurrent = -1;
    int FVisibleFirst = 0;
    int FVisibleLast = -1;
};
