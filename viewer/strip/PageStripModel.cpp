#include "viewer/strip/PageStripModel.h"

#include <QImage>

#include <algorithm>

namespace {

// The reason alone: decoding names the file first and may add a detail in brackets.
QString ShortReason(const TLumivaneImage& AImage, const QString& AError) {
    QString reason = AError.trimmed();
    const QString name = QString::fromStdString(AImage.Name);
    const qsizetype colon = reason.indexOf(QStringLiteral(": "));
    if (!name.isEmpty() && reason.startsWith(name) && colon > 0)
        reason = reason.mid(colon + 2);
    if (reason.endsWith(QLatin1Char(')'))) {
        const qsizetype open = reason.lastIndexOf(QStringLiteral(" ("));
        if (open > 0)
            reason.truncate(open);
    }
    return reason;
}

} // namespace

TPageStripModel::TPageStripModel(TBrowseModel& ABrowse, TDecodePipeline& APipeline, QObject* parent)
    : QAbstractListModel(parent), FBrowse(ABrowse), FPipeline(APipeline) {
    connect(&FBrowse, &TBrowseModel::ListChanged, this, [this] { Rebuild(); });
    connect(&FBrowse, &TBrowseModel::PageCountKnown, this,
            [this](int AFile) { CountKnown(AFile); });
    connect(&FBrowse, &TBrowseModel::FileChanged, this, [this](int AFile) {
        if (AFile + 1 < static_cast<int>(FFirstRow.size()))
            emit dataChanged(index(FFirstRow[AFile]), index(FFirstRow[AFile + 1] - 1));
    });
    connect(&FBrowse, &TBrowseModel::WantedChanged, this, [this] { PositionChanged(); });
    connect(&FBrowse, &TBrowseModel::ShownChanged, this, [this] { PositionChanged(); });
    connect(&FPipeline, &TDecodePipeline::FrameReady, this,
            [this](const TFrameKey& AKey, const TFrame& AFrame, TDecodeKind AKind) {
                FrameReady(AKey, AFrame, AKind);
            });
    Rebuild();
}

QString TPageStripModel::Label(const TLumivaneImage& AImage, int APage, int APageCount) {
    QString text;
    if (AImage.IsContainer()) {
        // Its first line: the file it names.
        text = QString::fromStdString(AImage.Alias).section(QLatin1Char('\n'), 0, 0).trimmed();
        if (text.isEmpty())
            text = QStringLiteral("\u2026");
    } else {
        text = QString::fromStdString(AImage.Name);
        const qsizetype tilde = text.indexOf(QLatin1Char('~'));
        if (tilde >= 0)
            text = text.mid(tilde);
        const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
        if (dot > 0)
            text.truncate(dot);
    }
    if (APageCount > 1)
        text += QStringLiteral(" \u00B7 ") + QString::number(APage + 1) + QLatin1Char('/') +
                QString::number(APageCount);
    return text;
}

int TPageStripModel::RowsOf(int AFile) const {
    return std::max(1, FBrowse.PageCount(AFile));
}

void TPageStripModel::Rebuild() {
    beginResetModel();
    FFirstRow.assign(1, 0);
    for (int file = 0; file < FBrowse.Count(); ++file)
        FFirstRow.push_back(FFirstRow.back() + RowsOf(file));
    FCurrent = -1;
    FVisibleFirst = 0;
    FVisibleLast = -1;
    endResetModel();
    PositionChanged();
}

void TPageStripModel::CountKnown(int AFile) {
    if (AFile < 0 || AFile + 1 >= static_cast<int>(FFirstRow.size()))
        return;
    const int first = FFirstRow[AFile];
    const int had = FFirstRow[AFile + 1] - first;
    const int has = RowsOf(AFile);
    const auto shift = [&](int ADelta) {
        for (std::size_t i = AFile + 1; i < FFirstRow.size(); ++i)
            FFirstRow[i] += ADelta;
    };
    if (has > had) {
        beginInsertRows({}, first + had, first + has - 1);
        shift(has - had);
        endInsertRows();
    } else if (has < had) {
        beginRemoveRows({}, first + has, first + had - 1);
        shift(has - had);
        endRemoveRows();
    }
    // The labels of the file's pages now carry the count.
    emit dataChanged(index(first), index(first + has - 1));
    PositionChanged();
}

int TPageStripModel::rowCount(const QModelIndex& AParent) const {
    return AParent.isValid() ? 0 : FFirstRow.back();
}

TBrowsePosition TPageStripModel::PositionAt(int ARow) const {
    if (ARow < 0 || ARow >= FFirstRow.back())
        return {};
    const auto next = std::upper_bound(FFirstRow.begin(), FFirstRow.end(), ARow);
    const int file = static_cast<int>(next - FFirstRow.begin()) - 1;
    return {file, ARow - FFirstRow[file]};
}

int TPageStripModel::RowOf(int AFile, int APage) const {
    if (AFile < 0 || AFile + 1 >= static_cast<int>(FFirstRow.size()))
        return -1;
    return FFirstRow[AFile] + std::clamp(APage, 0, RowsOf(AFile) - 1);
}

int TPageStripModel::CurrentRow() const {
    const int file = FBrowse.Selected();
    if (file < 0)
        return -1;
    return RowOf(file, std::max(0, FBrowse.WantedPage()));
}

void TPageStripModel::PositionChanged() {
    const int current = CurrentRow();
    if (current == FCurrent)
        return;
    const int old = std::exchange(FCurrent, current);
    if (old >= 0 && old < rowCount())
        emit dataChanged(index(old), index(old), {CurrentRole});
    if (current >= 0)
        emit dataChanged(index(current), index(current), {CurrentRole});
    emit CurrentRowChanged(current);
}

const TFrame* TPageStripModel::Thumbnail(int ARow) const {
    const TBrowsePosition at = PositionAt(ARow);
    if (at.IsEmpty())
        return nullptr;
    return FPipeline.Cache().Peek(ThumbnailKey(FBrowse.FilePath(at.File), at.Page, FSide));
}

QVariant TPageStripModel::data(const QModelIndex& AIndex, int ARole) const {
    const TBrowsePosition at = PositionAt(AIndex.row());
    if (at.IsEmpty())
        return {};
    const TLumivaneImage& image = FBrowse.Image(at.File);
    switch (ARole) {
    case Qt::DisplayRole:
        return Label(image, at.Page, FBrowse.PageCount(at.File));
    case Qt::ToolTipRole:
        return QString::fromStdString(image.Name) +
               (FBrowse.PageCount(at.File) > 1
                    ? QStringLiteral(", page ") + QString::number(at.Page + 1)
                    : QString());
    case ErrorRole: {
        if (image.CantOpenReason() == corSecured)
            return QStringLiteral("access to the file is refused");
        const TFrame* frame = Thumbnail(AIndex.row());
        return frame && frame->Failed() ? ShortReason(image, frame->Error) : QString();
    }
    case CurrentRole:
        return AIndex.row() == FCurrent;
    case ThumbnailRole: {
        const TFrame* frame = Thumbnail(AIndex.row());
        return frame && !frame->Failed() ? frame->Image : QImage();
    }
    default:
        return {};
    }
}

void TPageStripModel::SetThumbnailSide(int ASide) {
    if (ASide == FSide)
        return;
    FSide = ASide;
    if (rowCount() > 0)
        emit dataChanged(index(0), index(rowCount() - 1), {ThumbnailRole, ErrorRole});
    SetVisibleRows(FVisibleFirst, FVisibleLast);
}

void TPageStripModel::SetVisibleRows(int AFirst, int ALast) {
    FVisibleFirst = std::max(0, AFirst);
    FVisibleLast = std::min(ALast, rowCount() - 1);
    std::vector<TDecodeRequest> wanted;
    for (int row = FVisibleFirst; row <= FVisibleLast; ++row) {
        const TBrowsePosition at = PositionAt(row);
        const TLumivaneImage& image = FBrowse.Image(at.File);
        // A secured file is never opened; a tile held needs no decode.
        if (image.CantOpenReason() == corSecured || Thumbnail(row))
            continue;
        wanted.push_back(ThumbnailRequest(FBrowse.FilePath(at.File), at.Page, FSide));
    }
    FPipeline.Thumbnails(wanted);
}

void TPageStripModel::FrameReady(const TFrameKey& AKey, const TFrame&, TDecodeKind AKind) {
    if (AKind != TDecodeKind::Thumbnail || AKey.Thumb != FSide)
        return;
    for (int file = 0; file < FBrowse.Count(); ++file)
        if (FBrowse.FilePath(file) == AKey.Path) {
            const int row = RowOf(file, AKey.Page);
            if (PositionAt(row).Page == AKey.Page)
                emit dataChanged(index(row), index(row), {ThumbnailRole, ErrorRole});
        }
}
