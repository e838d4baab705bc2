#pragma once

#include <memory>

#include "model/Phone.h"
#include "ui/ModalDialog.h"

namespace smsconf {

namespace Ui {
class TDlgPhone;
}

// Edits one phone slot's number and comment. The caller fills PhoneData
// before showing the dialog and takes it back after OK.
class TDlgPhone : public TModalDialog {
 public:
  explicit TDlgPhone(QWidget* owner);
  ~TDlgPhone() override;

  CPhone PhoneData;

  void FormShow();
  void ButtonOkExecute();
  void ButtonCancelExecute();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<Ui::TDlgPhone> Form;
};

}  // namespace smsconf
