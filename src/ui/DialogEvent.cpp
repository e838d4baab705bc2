#include "ui/DialogEvent.h"

#include <QListWidgetItem>
#include <QScreen>

#include <algorithm>

#include "model/Phonelist.h"
#include "ui/ActionButton.h"
#include "ui/ModelText.h"
#include "ui_DialogEvent.h"

namespace smsconf {

namespace {

constexpr int InputCount = 32;
constexpr int MaxDelay = 3600;  // seconds
constexpr int RisingItem = 0;
constexpr int FallingItem = 1;

}  // namespace

std::int32_t TDlgEvent::LastChosenPin = 0;

TDlgEvent::TDlgEvent(QWidget* owner) : TModalDialog(owner), Form(std::make_unique<Ui::TDlgEvent>()) {
  Form->setupUi(this);
  for (int pin = 0; pin < InputCount; ++pin) Form->ComboBox1->addItem(QStringLiteral("DI%1").arg(pin), pin);
  BindButton(Form->Button2, Form->ButtonOk);
  BindButton(Form->Button1, Form->ButtonCancel);
  BindButton(Form->Button3, Form->ButtonAll);
  BindButton(Form->Button4, Form->ButtonNothing);
  connect(Form->ButtonOk, &QAction::triggered, this, &TDlgEvent::ButtonOkExecute);
  connect(Form->ButtonCancel, &QAction::triggered, this, &TDlgEvent::ButtonCancelExecute);
  connect(Form->ButtonAll, &QAction::triggered, this, &TDlgEvent::ButtonAllExecute);
  connect(Form->ButtonNothing, &QAction::triggered, this, &TDlgEvent::ButtonNothingExecute);
  FixSize();
}

TDlgEvent::~TDlgEvent() = default;

void TDlgEvent::showEvent(QShowEvent* event) {
  FormShow();
  if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
  TModalDialog::showEvent(event);
}

void TDlgEvent::FormShow() {
  ShowPin(EventData.Pin);
  Form->ComboBox2->setCurrentIndex(EventData.Neg ? FallingItem : RisingItem);
  Form->CSpinEdit1->setValue(std::clamp<std::int32_t>(EventData.Delay, 0, MaxDelay));
  // A longer text from a project file is shown whole, not cut to the limit.
  const QString text = ShownText(EventData.Text);
  Form->Edit1->setMaxLength(std::max<int>(Form->Edit1->maxLength(), text.size()));
  Form->Edit1->setText(text);
  Form->CheckListBox1->clear();
  for (int slot = 0; slot < PhoneSlotCount; ++slot) {
    auto* item = new QListWidgetItem(QString::number(slot), Form->CheckListBox1);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState((EventData.Send >> slot) & 1 ? Qt::Checked : Qt::Unchecked);
  }
}

// An input outside DI0..DI31 can come from a project file; it gets an item
// of its own, so that OK keeps it instead of storing no input at all.
void TDlgEvent::ShowPin(std::int32_t pin) {
  int item = Form->ComboBox1->findData(pin);
  if (item < 0) {
    Form->ComboBox1->addItem(QStringLiteral("DI%1").arg(pin), pin);
    item = Form->ComboBox1->count() - 1;
  }
  Form->ComboBox1->setCurrentIndex(item);
}

void TDlgEvent::ButtonOkExecute() {
  const auto text = StoredText(Form->Edit1->text(), Form->GroupBox2->title(), this);
  if (!text) return Form->Edit1->setFocus();
  EventData.Pin = Form->ComboBox1->currentData().toInt();
  EventData.Neg = Form->ComboBox2->currentIndex() != RisingItem;
  EventData.Delay = Form->CSpinEdit1->value();
  EventData.Text = *text;
  EventData.Send = 0;
  for (int slot = 0; slot < Form->CheckListBox1->count(); ++slot) {
    if (Form->CheckListBox1->item(slot)->checkState() == Qt::Checked) EventData.Send |= 1u << slot;
  }
  LastChosenPin = EventData.Pin;
  accept();
}

void TDlgEvent::ButtonCancelExecute() { reject(); }

void TDlgEvent::ButtonAllExecute() { TickAll(true); }

void TDlgEvent::ButtonNothingExecute() { TickAll(false); }

void TDlgEvent::TickAll(bool ticked) {
  for (int slot = 0; slot < Form->CheckListBox1->count(); ++slot) {
    Form->CheckListBox1->item(slot)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  }
}

}  // namespace smsconf
