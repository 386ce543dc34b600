// TImageListModel: the browse model's files as rows for a list widget (the window's file
// combo box). It holds nothing of its own: each row's text is read from the browse model
// when a view asks for it, and a changed list is one reset, so a list of ten thousand files
// costs the view only the rows it draws.
#pragma once

#include "viewer/browse/BrowseModel.h"

#include <QAbstractListModel>

class TImageListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TImageListModel(const TBrowseModel& ABrowse, QObject* parent = nullptr);

    int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
    // DisplayRole and EditRole: the file's path as listed.
    QVariant data(const QModelIndex& AIndex, int ARole = Qt::DisplayRole) const override;

private:
    const TBrowseModel& FBrowse;
};
