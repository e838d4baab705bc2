#pragma once

#include <cstdint>
#include <memory>

#include "model/Event.h"
#include "model/Phonelist.h"
#include "ui/ModalDialog.h"

namespace smsconf {

namespace Ui {
class TDlgEvent;
}

// Edits one event: trigger input, edge, delay, text and recipients. The
// caller fills EventData before showing the dialog and takes it back after
// OK.
class TDlgEvent : public TModalDialog {
 public:
  explicit TDlgEvent(QWidget* owner);
  ~TDlgEvent() override;

  CEvent EventData;
  // The project's phone slots, which the recipient list names; without
  // them it shows the bare slot numbers.
  const CPhoneList* PhoneList = nullptr;

  // The input of the event last confirmed with OK in any event dialog of
  // this run; a new event starts on it.
  static std::int32_t LastChosenPin;

  void FormShow();
  void ButtonOkExecute();
  void ButtonCancelExecute();
  void ButtonAllExecute();
  void ButtonNothingExecute();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowPin(std::int32_t pin);
  QString RecipientText(int slot) const;
  void FitRecipients();
  void TickAll(bool ticked);

  std::unique_ptr<Ui::TDlgEvent> Form;
};

}  // namespace smsconf
