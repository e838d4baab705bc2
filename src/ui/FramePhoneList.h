#pragma once

#include <QWidget>

#include <memory>

#include "model/Phonelist.h"
#include "ui/ListViewModel.h"

class QUndoStack;

namespace smsconf {

namespace Ui {
class TFrmPhoneList;
}

// The phone book as a table of the eight slots; a double-click edits the
// selected slot's number and comment in a dialog, through the window's undo
// stack.
class TFrmPhoneList : public QWidget {
  Q_OBJECT

 public:
  explicit TFrmPhoneList(QWidget* parent = nullptr);
  ~TFrmPhoneList() override;

  CPhoneList* PhoneList = nullptr;  // the project's; set before the first refresh
  QUndoStack* UndoStack = nullptr;  // the window's; set before the first change

  void RefreshView();
  QString ListView1Data(int row, int column, int role) const;
  void ListView1DblClick();
  // Gives the slot at `row` these texts and selects it: an undo or a redo.
  void Restore(int row, const CPhone& texts);

 private:
  std::unique_ptr<Ui::TFrmPhoneList> Form;
  TListViewModel* Rows;
};

}  // namespace smsconf
