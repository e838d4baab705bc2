#include "ui/DialogEvent.h"

#include <QListWidget>
#include <QListWidgetItem>
#include <QScreen>

#include <algorithm>

#include "limits/Limits.h"
#include "model/Phonelist.h"
#include "ui/ActionButton.h"
#include "ui/ModelText.h"
#include "ui_DialogEvent.h"

namespace smsconf {

namespace {

constexpr int RisingItem = 0;
constexpr int FallingItem = 1;
constexpr int RecipientNameChars = 60;
constexpr int RecipientMargin = 4;

QString InputName(std::int32_t pin) { return QStringLiteral("DI%1").arg(pin); }

}  // namespace

std::int32_t TDlgEvent::LastChosenPin = 0;

TDlgEvent::TDlgEvent(QWidget* owner) : TModalDialog(owner), Form(std::make_unique<Ui::TDlgEvent>()) {
  Form->setupUi(this);
  for (int pin = limits::Input.Min; pin <= limits::Input.Max; ++pin) Form->ComboBox1->addItem(InputName(pin), pin);
  Form->CSpinEdit1->setRange(limits::DelaySeconds.Min, limits::DelaySeconds.Max);
  Form->Edit1->setMaxLength(limits::TextLength);
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
  // A delay from a project file outside what the field offers is shown as
  // it is, as the input and the text are, so that OK keeps it.
  Form->CSpinEdit1->setRange(std::min(limits::DelaySeconds.Min, EventData.Delay),
                             std::max(limits::DelaySeconds.Max, EventData.Delay));
  Form->CSpinEdit1->setValue(EventData.Delay);
  // A longer text from a project file is shown whole, not cut to the limit.
  const QString text = ShownText(EventData.Text);
  Form->Edit1->setMaxLength(std::max<int>(limits::TextLength, text.size()));
  Form->Edit1->setText(text);
  Form->CheckListBox1->clear();
  for (int slot = 0; slot < PhoneSlotCount; ++slot) {
    auto* item = new QListWidgetItem(RecipientText(slot), Form->CheckListBox1);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState((EventData.Send >> slot) & 1 ? Qt::Checked : Qt::Unchecked);
  }
  FitRecipients();
}

// The recipient list widens for the slots' names, as far as a name of
// RecipientNameChars characters; a longer one scrolls.
void TDlgEvent::FitRecipients() {
  QListWidget* list = Form->CheckListBox1;
  const int names = list->sizeHintForColumn(0) + 2 * list->frameWidth() + RecipientMargin;
  list->setMinimumWidth(std::min(names, list->fontMetrics().averageCharWidth() * RecipientNameChars));
  FixSize();
}

// Who a recipient box sends to: "0  +79161234567  Иванов", the slot's
// number and comment after its ID.
QString TDlgEvent::RecipientText(int slot) const {
  QString text = QString::number(slot);
  if (PhoneList == nullptr) return text;
  const CPhone& phone = *PhoneList->Get(slot);
  if (phone.Number.empty() && phone.Comment.empty()) return text + QStringLiteral("  (пусто)");
  text += QStringLiteral("  ") +
          (phone.Number.empty() ? QStringLiteral("(нет номера)") : ShownText(phone.Number, ShownTextLimit));
  if (!phone.Comment.empty()) text += QStringLiteral("  ") + ShownText(phone.Comment, ShownTextLimit);
  return text;
}

// An input outside the list can come from a project file; it gets an item
// of its own, so that OK keeps it instead of storing no input at all.
void TDlgEvent::ShowPin(std::int32_t pin) {
  int item = Form->ComboBox1->findData(pin);
  if (item < 0) {
    Form->ComboBox1->addItem(InputName(pin), pin);
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
