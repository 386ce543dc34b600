#include "viewer/browse/ImageListModel.h"

TImageListModel::TImageListModel(const TBrowseModel& ABrowse, QObject* parent)
    : QAbstractListModel(parent), FBrowse(ABrowse) {
    // The browse model has its new list by the time it says so; nothing reads a row
    // between the change and the reset.
    connect(&FBrowse, &TBrowseModel::ListChanged, this, [this] {
        beginResetModel();
        endResetModel();
    });
    // A container's text does not change its listed path; a path is all a row shows.
}

int TImageListModel::rowCount(const QModelIndex& AParent) const {
    return AParent.isValid() ? 0 : FBrowse.Count();
}

QVariant TImageListModel::data(const QModelIndex& AIndex, int ARole) const {
    if (!AIndex.isValid() || AIndex.row() >= FBrowse.Count() ||
        (ARole != Qt::DisplayRole && ARole != Qt::EditRole))
        return {};
    return FBrowse.Texts()[static_cast<std::size_t>(AIndex.row())];
}
