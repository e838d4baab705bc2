#include "ui/ReportView.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace smsconf {

namespace {

constexpr int CaptionPixelSize = 13;
constexpr int RowPadding = 3;
constexpr int CellPadding = 12;  // a cell's margins and grid line

class ReportViewInput : public QObject {
 public:
  ReportViewInput(QTableView* view, std::function<void()> doubleClick)
      : QObject(view), View(view), DoubleClick(std::move(doubleClick)) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        if (watched == View->viewport() && !AtRow(event)) View->clearSelection();
        return false;
      case QEvent::MouseButtonDblClick:
        if (watched != View->viewport()) return false;
        if (!AtRow(event)) View->clearSelection();
        DoubleClick();
        return true;
      case QEvent::FocusIn:
        if (watched == View) SelectOnKeyboardFocus(static_cast<QFocusEvent*>(event)->reason());
        return false;
      case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (watched != View || (key != Qt::Key_Return && key != Qt::Key_Enter)) return false;
        if (SelectedRow(View) >= 0) DoubleClick();
        return true;
      }
      default:
        return false;
    }
  }

 private:
  // Reached from the keyboard, the table selects its current row, or the
  // first, so that Enter and Delete act at once; a click selects its own.
  void SelectOnKeyboardFocus(Qt::FocusReason reason) {
    if (reason == Qt::MouseFocusReason || SelectedRow(View) >= 0) return;
    const QModelIndex current = View->currentIndex();
    SelectRow(View, current.isValid() ? current.row() : 0);
  }

  bool AtRow(QEvent* event) const {
    return View->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid();
  }

  QTableView* View;
  std::function<void()> DoubleClick;
};

// A cell's tooltip says why its value is marked, if it is, and gives its
// whole text where the column cuts it off; a cell that shows all there is
// to say has none.
class ReportViewCells : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip || !index.isValid()) {
      return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    QStringList lines;
    const QString warning = index.data(TListViewModel::WarningRole).toString();
    if (!warning.isEmpty()) lines << warning;
    if (sizeHint(option, index).width() > option.rect.width()) lines << index.data(Qt::ToolTipRole).toString();
    if (lines.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(event->globalPos(), lines.join(u'\n'), view->viewport(), option.rect);
    }
    return true;
  }
};

}  // namespace

void SetUpReportView(QTableView* view, TListViewModel* model, const std::vector<int>& widths,
                     std::function<void()> doubleClick) {
  view->setModel(model);
  view->setItemDelegate(new ReportViewCells(view));
  view->setShowGrid(true);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setWordWrap(false);
  // Tab leaves the table, as it leaves any other control.
  view->setTabKeyNavigation(false);
  view->verticalHeader()->hide();
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + RowPadding);
  view->horizontalHeader()->setStretchLastSection(true);
  view->horizontalHeader()->setHighlightSections(false);
  view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (std::size_t column = 0; column < widths.size(); ++column) {
    view->setColumnWidth(static_cast<int>(column), widths[column]);
  }
  auto* input = new ReportViewInput(view, std::move(doubleClick));
  view->installEventFilter(input);
  view->viewport()->installEventFilter(input);
}

int SelectedRow(const QTableView* view) {
  const QModelIndexList rows = view->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

int ColumnWidthFor(const QWidget* view, int designed, const QString& widest) {
  return std::max(designed, view->fontMetrics().horizontalAdvance(widest) + CellPadding);
}

int HeightForRows(const QTableView* view, int rows) {
  return view->horizontalHeader()->sizeHint().height() +
         rows * view->verticalHeader()->defaultSectionSize() + 2 * view->frameWidth();
}

void SelectRow(QTableView* view, int row) {
  if (row < 0 || row >= view->model()->rowCount()) return;
  view->selectRow(row);
  view->scrollTo(view->model()->index(row, 0));
}

void SetUpCaptionLabel(QWidget* label) {
  QFont font = label->font();
  font.setPixelSize(CaptionPixelSize);
  label->setFont(font);
}

}  // namespace smsconf
