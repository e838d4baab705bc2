#include "ui/ListViewModel.h"

namespace smsconf {

TListViewModel::TListViewModel(QStringList captions, CellText cell, QObject* parent)
    : QAbstractTableModel(parent), Captions(std::move(captions)), Cell(std::move(cell)) {}

void TListViewModel::Refresh(int rowCount) {
  beginResetModel();
  Rows = rowCount;
  endResetModel();
}

int TListViewModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Rows; }

int TListViewModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Captions.size());
}

QVariant TListViewModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) return {};
  return Cell(index.row(), index.column());
}

QVariant TListViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section >= Captions.size()) {
    return {};
  }
  return Captions.at(section);
}

}  // namespace smsconf
