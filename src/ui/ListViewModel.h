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
  // Why a cell's value is one that the dialogs would not offer (a file can
  // hold any); empty when it is not. Such a cell is drawn in a warning
  // colour, and its tooltip says why.
  static constexpr int WarningRole = Qt::UserRole;

  // A cell's text for Qt::DisplayRole, which is also its tooltip where the
  // column cuts it off, and its warning for WarningRole.
  using CellText = std::function<QString(int row, int column, int role)>;

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
