#include "ui/DialogPhone.h"

#include <algorithm>

#include "limits/Limits.h"
#include "ui/ActionButton.h"
#include "ui/ModelText.h"
#include "ui_DialogPhone.h"

namespace smsconf {

TDlgPhone::TDlgPhone(QWidget* owner) : TModalDialog(owner), Form(std::make_unique<Ui::TDlgPhone>()) {
  Form->setupUi(this);
  Form->Edit1->setMaxLength(limits::NumberLength);
  BindButton(Form->Button2, Form->ButtonOk);
  BindButton(Form->Button1, Form->ButtonCancel);
  connect(Form->ButtonOk, &QAction::triggered, this, &TDlgPhone::ButtonOkExecute);
  connect(Form->ButtonCancel, &QAction::triggered, this, &TDlgPhone::ButtonCancelExecute);
  FixSize();
}

TDlgPhone::~TDlgPhone() = default;

void TDlgPhone::showEvent(QShowEvent* event) {
  FormShow();
  TModalDialog::showEvent(event);
}

void TDlgPhone::FormShow() {
  // A longer number from a project file is shown whole, not cut to the limit.
  const QString number = ShownText(PhoneData.Number);
  Form->Edit1->setMaxLength(std::max<int>(limits::NumberLength, number.size()));
  Form->Edit1->setText(number);
  Form->Edit2->setText(ShownText(PhoneData.Comment));
}

void TDlgPhone::ButtonOkExecute() {
  const auto number = StoredText(Form->Edit1->text(), Form->Label1->text(), this);
  if (!number) return Form->Edit1->setFocus();
  const auto comment = StoredText(Form->Edit2->text(), Form->Label2->text(), this);
  if (!comment) return Form->Edit2->setFocus();
  PhoneData.Number = *number;
  PhoneData.Comment = *comment;
  accept();
}

void TDlgPhone::ButtonCancelExecute() { reject(); }

}  // namespace smsconf
