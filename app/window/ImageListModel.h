// The list view's model: a table over the program's TImageInfoList with
// virtual rows (texts are made when a row is painted, so 100,000 entries
// cost nothing until they scroll into view). Column 0 carries the check
// mark. The list stays the owner of the entries; every change to it from
// outside goes between BeginChange and EndChange.
#pragma once

#include "batch/ImageInfo.h"

#include <QAbstractTableModel>

class TImageListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  explicit TImageListModel(TImageInfoList &List, QObject *Parent = nullptr);

  int rowCount(const QModelIndex &Parent = {}) const override;
  int columnCount(const QModelIndex &Parent = {}) const override;
  QVariant data(const QModelIndex &Index, int Role) const override;
  bool setData(const QModelIndex &Index, const QVariant &Value, int Role) override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
  Qt::ItemFlags flags(const QModelIndex &Index) const override;
  Qt::DropActions supportedDropActions() const override;
  // A header click: the list's own column sort (the next click on the same
  // column sorts the other way).
  void sort(int Column, Qt::SortOrder Order) override;

  TImageInfoList &List() { return FList; }
  // Around changes made to the list directly (adding, deleting, sorting).
  void BeginChange() { beginResetModel(); }
  void EndChange() { endResetModel(); }
  // The check of the entry in Row changed; repaint it.
  void CheckChanged(int Row);
  void ChecksChanged();

private:
  TImageInfoList &FList;
};
