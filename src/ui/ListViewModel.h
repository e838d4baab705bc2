#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <functional>

namespace smsconf {

// The rows of a list view, produced from the underlying list by index when
// the view shows them: nothing is copied. The row count changes only on
// Refresh, as the owner decides, so the view never asks for a row that the
// list no longer has.
class TListViewModel : public QAbstractTableModel {
 public:
  using CellText = std::function<QString(int row, int column)>;

  TListViewModel(QStringList captions, CellText cell, QObject* parent);

  void Refresh(int rowCount);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QStringList Captions;
  CellText Cell;
  int Rows = 0;
};

}  // namespace smsconf
