#include "ui/ListViewModel.h"

#include <QBrush>

namespace smsconf {

namespace {

// Dark red: it reads on the white of a row and on the grey of a
// selection that lost the focus.
const QColor WarningColour(0xB0, 0x00, 0x00);

}  // namespace

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
  if (!index.isValid()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole:
      return Cell(index.row(), index.column(), Qt::DisplayRole);
    case WarningRole:
      return Cell(index.row(), index.column(), WarningRole);
    case Qt::ForegroundRole:
      if (Cell(index.row(), index.column(), WarningRole).isEmpty()) return {};
      return QBrush(WarningColour);
    default:
      return {};
  }
}

QVariant TListViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section >= Captions.size()) {
    return {};
  }
  return Captions.at(section);
}

}  // namespace smsconf
