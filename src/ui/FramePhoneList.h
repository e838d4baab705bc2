#pragma once

#include <QWidget>

#include <memory>

#include "model/Phonelist.h"
#include "ui/ListViewModel.h"

namespace smsconf {

namespace Ui {
class TFrmPhoneList;
}

// The phone book as a table of the eight slots; a double-click edits the
// selected slot's number and comment in a dialog.
class TFrmPhoneList : public QWidget {
  Q_OBJECT

 public:
  explicit TFrmPhoneList(QWidget* parent = nullptr);
  ~TFrmPhoneList() override;

  CPhoneList* PhoneList = nullptr;  // the project's; set before the first refresh

  void RefreshView();
  QString ListView1Data(int row, int column) const;
  void ListView1DblClick();

 signals:
  // A slot was changed through the dialog.
  void Changed();

 private:
  std::unique_ptr<Ui::TFrmPhoneList> Form;
  TListViewModel* Rows;
};

}  // namespace smsconf
