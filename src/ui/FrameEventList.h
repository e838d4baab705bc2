#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "model/Eventlist.h"
#include "model/Phonelist.h"
#include "ui/ListViewModel.h"

class QMenu;
class QUndoStack;

namespace smsconf {

namespace Ui {
class TFrmEventList;
}

// The events as a table, kept sorted by input and edge; events are added,
// edited and deleted through the pop-up menu, the keyboard or a
// double-click. Every change goes through the window's undo stack.
class TFrmEventList : public QWidget {
  Q_OBJECT

 public:
  explicit TFrmEventList(QWidget* parent = nullptr);
  ~TFrmEventList() override;

  CEventList* EventList = nullptr;  // the project's; set before the first refresh
  QUndoStack* UndoStack = nullptr;  // the window's; set before the first change
  // The project's, whose slots the event dialog names as recipients.
  const CPhoneList* PhoneList = nullptr;

  void RefreshView();
  QString ListView1Data(int row, int column, int role) const;
  void ListView1DblClick();
  void ActionAddExecute();
  void ActionEditExecute();
  void ActionDeleteExecute();
  void ActionEditUpdate();
  void ActionDeleteUpdate();

  // Puts these events into the list in this order and selects the row, or
  // none for -1: an undo or a redo of a change.
  void Restore(const std::vector<CEvent>& events, int row);

  QMenu* PopupMenu1;

 private:
  // Changes the list through the undo stack: `apply` changes it and gives
  // the row to select afterwards; `row` is the one to select after an undo.
  void Change(const QString& text, int row, const std::function<int()>& apply);
  int SortAndFind(const CEvent* event);
  bool ConfirmAddPastImage();
  QString Warning(const CEvent& event, int row, int column) const;

  std::unique_ptr<Ui::TFrmEventList> Form;
  TListViewModel* Rows;
};

// The trigger column's text: input, edge and delay, as "DI12-F-60".
QString TriggerText(const CEvent& event);

}  // namespace smsconf
