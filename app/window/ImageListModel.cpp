// The list view's model over TImageInfoList.
#include "app/window/ImageListModel.h"

TImageListModel::TImageListModel(TImageInfoList &List, QObject *Parent) : QAbstractTableModel(Parent), FList(List) {}

int TImageListModel::rowCount(const QModelIndex &Parent) const { return Parent.isValid() ? 0 : FList.Count(); }

int TImageListModel::columnCount(const QModelIndex &Parent) const {
  return Parent.isValid() ? 0 : ImageListView::ColumnCount;
}

QVariant TImageListModel::data(const QModelIndex &Index, int Role) const {
  if (!Index.isValid() || Index.row() >= FList.Count()) return {};
  const TImageInfo &E = *FList[Index.row()];
  switch (Role) {
    case Qt::DisplayRole:
      return QString::fromStdString(ImageListView::CellText(E, Index.column()));
    case Qt::CheckStateRole:
      if (Index.column() == 0) return E.Checked ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::TextAlignmentRole:
      if (ImageListView::ColumnRightAligned(Index.column())) return int(Qt::AlignRight | Qt::AlignVCenter);
      return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return {};
  }
}

bool TImageListModel::setData(const QModelIndex &Index, const QVariant &Value, int Role) {
  if (!Index.isValid() || Index.column() != 0 || Role != Qt::CheckStateRole || Index.row() >= FList.Count())
    return false;
  FList[Index.row()]->Checked = Value.toInt() == Qt::Checked;
  emit dataChanged(Index, Index, {Qt::CheckStateRole});
  return true;
}

QVariant TImageListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal || Section < 0 || Section >= ImageListView::ColumnCount) return {};
  if (Role == Qt::DisplayRole) return QString::fromUtf8(ImageListView::ColumnCaption(Section));
  if (Role == Qt::TextAlignmentRole && ImageListView::ColumnRightAligned(Section))
    return int(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags TImageListModel::flags(const QModelIndex &Index) const {
  if (!Index.isValid()) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags F = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
  if (Index.column() == 0) F |= Qt::ItemIsUserCheckable;
  return F;
}

Qt::DropActions TImageListModel::supportedDropActions() const { return Qt::MoveAction | Qt::CopyAction; }

void TImageListModel::sort(int Column, Qt::SortOrder) {
  if (Column < 0 || Column >= ImageListView::ColumnCount) return;
  beginResetModel();
  FList.SortList(Column);
  endResetModel();
}

void TImageListModel::CheckChanged(int Row) {
  emit dataChanged(index(Row, 0), index(Row, 0), {Qt::CheckStateRole});
}

void TImageListModel::ChecksChanged() {
  if (FList.Count() > 0) emit dataChanged(index(0, 0), index(FList.Count() - 1, 0), {Qt::CheckStateRole});
}
