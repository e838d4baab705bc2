#pragma once

#include <QTableView>

#include <functional>
#include <vector>

#include "ui/ListViewModel.h"

namespace smsconf {

// Makes a table view behave as a report-style list view: grid lines, whole
// rows selected one at a time, read-only, no row headers, the last column
// taking the remaining width. `widths` holds the widths of the leading
// columns. A cell's tooltip gives its whole text where the column cuts it
// off, and the warning of a marked cell. A click on the empty area below
// the rows clears the selection; a double-click anywhere, and Enter on a
// row, run `doubleClick`, which looks at the selection itself. Tab leaves
// the table, and focus from the keyboard selects the current row.
void SetUpReportView(QTableView* view, TListViewModel* model, const std::vector<int>& widths,
                     std::function<void()> doubleClick);

// The selected row, or -1 when none is selected.
int SelectedRow(const QTableView* view);
// The designed width of a column, or more where the platform's font needs
// it to show `widest` whole.
int ColumnWidthFor(const QWidget* view, int designed, const QString& widest);
// The height that shows the header and `rows` rows without scrolling.
int HeightForRows(const QTableView* view, int rows);

// Selects the row and brings it into view.
void SelectRow(QTableView* view, int row);

// The caption bar's label: bold, white, 13 pixels high.
void SetUpCaptionLabel(QWidget* label);

}  // namespace smsconf
