#include "ui/FrameEventList.h"

#include <QItemSelectionModel>
#include <QMenu>
#include <QMessageBox>
#include <QUndoStack>

#include "image/ImageFormat.h"
#include "limits/Limits.h"
#include "model/Phonelist.h"
#include "model/ProjectCheck.h"
#include "ui/Application.h"
#include "ui/DialogEvent.h"
#include "ui/ModelText.h"
#include "ui/ProjectChange.h"
#include "ui/ReportView.h"
#include "ui_FrameEventList.h"

namespace smsconf {

namespace {

constexpr int IdColumnWidth = 40;
constexpr int TriggerColumnWidth = 80;
constexpr int SlotColumnWidth = 20;
constexpr int TriggerColumn = 1;
constexpr int FirstSlotColumn = 2;
constexpr int TextColumn = FirstSlotColumn + PhoneSlotCount;

QStringList Captions() {
  QStringList captions{"Id", "Триггер"};
  for (int slot = 0; slot < PhoneSlotCount; ++slot) captions << QString::number(slot);
  return captions << "Текст";
}

std::vector<int> Widths(const QWidget* view) {
  // The widest trigger the event dialog lets the user make.
  CEvent widest;
  widest.Neg = true;
  widest.Pin = limits::Input.Max;
  widest.Delay = limits::DelaySeconds.Max;
  std::vector<int> widths{ColumnWidthFor(view, IdColumnWidth, "00000"),
                          ColumnWidthFor(view, TriggerColumnWidth, TriggerText(widest))};
  widths.insert(widths.end(), PhoneSlotCount, ColumnWidthFor(view, SlotColumnWidth, "+"));
  return widths;
}

void CopyFields(const CEvent& from, CEvent& to) {
  to.Pin = from.Pin;
  to.Neg = from.Neg;
  to.Delay = from.Delay;
  to.Text = from.Text;
  to.Send = from.Send;
}

bool SameFields(const CEvent& a, const CEvent& b) {
  return a.Pin == b.Pin && a.Neg == b.Neg && a.Delay == b.Delay && a.Text == b.Text && a.Send == b.Send;
}

std::vector<CEvent> Values(const CEventList& list) {
  std::vector<CEvent> values;
  values.reserve(list.Count());
  for (int row = 0; row < list.Count(); ++row) values.push_back(*list.Get(row));
  return values;
}

// An add, an edit or a delete, kept as the whole list before and after: the
// sort that follows an add or an edit may move other events too (a file's
// events need not be in order, and equal keys keep theirs), and an undo must
// give back the very order that a save wrote.
class TEventsChange : public TProjectChange {
 public:
  TEventsChange(TFrmEventList* frame, const QString& text, std::vector<CEvent> before, int beforeRow,
                std::vector<CEvent> after, int afterRow)
      : TProjectChange(text),
        Frame(frame),
        Before(std::move(before)),
        After(std::move(after)),
        BeforeRow(beforeRow),
        AfterRow(afterRow) {}

  void undo() override { Frame->Restore(Before, BeforeRow); }
  void redo() override { Frame->Restore(After, AfterRow); }

 private:
  TFrmEventList* Frame;
  const std::vector<CEvent> Before;
  const std::vector<CEvent> After;
  const int BeforeRow;
  const int AfterRow;
};

}  // namespace

QString TriggerText(const CEvent& event) {
  return QStringLiteral("DI%1-%2-%3").arg(event.Pin).arg(event.Neg ? 'F' : 'R').arg(event.Delay);
}

TFrmEventList::TFrmEventList(QWidget* parent)
    : QWidget(parent),
      Form(std::make_unique<Ui::TFrmEventList>()),
      Rows(new TListViewModel(Captions(),
                              [this](int row, int column, int role) { return ListView1Data(row, column, role); },
                              this)) {
  Form->setupUi(this);
  SetUpCaptionLabel(Form->Label1);
  SetUpReportView(Form->ListView1, Rows, Widths(Form->ListView1),
                  [this] { TApplication::Guarded([this] { ListView1DblClick(); }); });

  const auto guard = [](auto handler) { return [handler] { TApplication::Guarded(handler); }; };
  connect(Form->ActionAdd, &QAction::triggered, this, guard([this] { ActionAddExecute(); }));
  connect(Form->ActionEdit, &QAction::triggered, this, guard([this] { ActionEditExecute(); }));
  connect(Form->ActionDelete, &QAction::triggered, this, guard([this] { ActionDeleteExecute(); }));
  addActions({Form->ActionAdd, Form->ActionEdit, Form->ActionDelete});

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  PopupMenu1->addAction(Form->ActionAdd);
  PopupMenu1->addAction(Form->ActionEdit);
  PopupMenu1->addSeparator();
  PopupMenu1->addAction(Form->ActionDelete);
  connect(Form->ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    PopupMenu1->popup(Form->ListView1->viewport()->mapToGlobal(at));
  });

  const auto update = [this] {
    ActionEditUpdate();
    ActionDeleteUpdate();
  };
  connect(Form->ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this, update);
  connect(Rows, &QAbstractItemModel::modelReset, this, update);
  update();
}

TFrmEventList::~TFrmEventList() = default;

void TFrmEventList::RefreshView() {
  const int count = EventList->Count();
  Rows->Refresh(count);
  Form->Label1->setText(QStringLiteral("Сообщения (%1)").arg(count));
}

QString TFrmEventList::ListView1Data(int row, int column, int role) const {
  if (EventList == nullptr || row >= EventList->Count()) return {};
  const CEvent& event = *EventList->Get(row);
  if (role == TListViewModel::WarningRole) return Warning(event, row, column);
  if (role != Qt::DisplayRole) return {};
  if (column == 0) return QString::number(row);
  if (column == TriggerColumn) return TriggerText(event);
  if (column == TextColumn) return ShownText(event.Text, ShownTextLimit);
  const int slot = column - FirstSlotColumn;
  return (event.Send >> slot) & 1 ? QStringLiteral("+") : QString();
}

// What the project check says of the cell's value: of the row's place past
// the image's capacity in the Id column, of the input and the delay in the
// trigger column, and of the text's length in the text column.
QString TFrmEventList::Warning(const CEvent& event, int row, int column) const {
  if (column == 0) return ImageHoldsEvents(row + 1) ? QString() : ShownMessage(TooManyEventsMessage(EventList->Count()));
  if (column != TriggerColumn && column != TextColumn) return {};
  QStringList lines;
  for (const ProjectFinding& finding : CheckEventValues(event)) {
    if ((finding.Key == "Text") == (column == TextColumn)) lines << ShownMessage(finding.Message);
  }
  return lines.join(u'\n');
}

void TFrmEventList::ListView1DblClick() {
  if (SelectedRow(Form->ListView1) >= 0) {
    ActionEditExecute();
  } else {
    ActionAddExecute();
  }
}

void TFrmEventList::ActionAddExecute() {
  if (!ImageHoldsEvents(EventList->Count() + 1) && !ConfirmAddPastImage()) return;
  TDlgEvent dialog(this);
  dialog.PhoneList = PhoneList;
  dialog.EventData.Pin = TDlgEvent::LastChosenPin;
  if (dialog.exec() != QDialog::Accepted) return;
  auto event = std::make_unique<CEvent>();
  CopyFields(dialog.EventData, *event);
  Change(QStringLiteral("Добавить сообщение"), -1, [&] {
    const CEvent* added = event.get();
    EventList->Add(std::move(event));
    return SortAndFind(added);
  });
}

void TFrmEventList::ActionEditExecute() {
  const int row = SelectedRow(Form->ListView1);
  if (row < 0) return;
  CEvent* event = EventList->Get(row);
  TDlgEvent dialog(this);
  dialog.PhoneList = PhoneList;
  CopyFields(*event, dialog.EventData);
  // OK without a change leaves the project unmodified.
  if (dialog.exec() != QDialog::Accepted || SameFields(dialog.EventData, *event)) return;
  Change(QStringLiteral("Изменить сообщение"), row, [&] {
    CopyFields(dialog.EventData, *event);
    return SortAndFind(event);
  });
}

// After an add or an edit the list is sorted again, and the event stays
// selected wherever it moved.
int TFrmEventList::SortAndFind(const CEvent* event) {
  EventList->Sort();
  for (int row = 0; row < EventList->Count(); ++row) {
    if (EventList->Get(row) == event) return row;
  }
  return -1;
}

// An event past the image's capacity makes export refuse the project until
// events are deleted; the user hears so before typing one, and may go on.
bool TFrmEventList::ConfirmAddPastImage() {
  QMessageBox question(QMessageBox::Warning, TApplication::Title(),
                       QStringLiteral("Образ вмещает не более %1 сообщений, а в проекте их уже %2: экспорт "
                                      "откажет, пока лишние не удалены.\nВсё равно добавить сообщение?")
                           .arg(imageformat::LargestCount)
                           .arg(EventList->Count()),
                       QMessageBox::Yes | QMessageBox::No, window());
  question.setDefaultButton(QMessageBox::No);
  return question.exec() == QMessageBox::Yes;
}

void TFrmEventList::ActionDeleteExecute() {
  const int row = SelectedRow(Form->ListView1);
  if (row < 0) return;
  CEvent* event = EventList->Get(row);
  QMessageBox question(QMessageBox::Warning, TApplication::Title(),
                       QStringLiteral("Удалить сообщение \"%1\"?").arg(ShownText(event->Text, ShownTextLimit)),
                       QMessageBox::Yes | QMessageBox::No, window());
  if (question.exec() != QMessageBox::Yes) return;
  Change(QStringLiteral("Удалить сообщение"), row, [&] {
    EventList->Remove(event);  // the event handed back is destroyed here
    return -1;
  });
}

void TFrmEventList::Change(const QString& text, int row, const std::function<int()>& apply) {
  std::vector<CEvent> before = Values(*EventList);
  const int changed = apply();
  // The stack's first redo shows the change.
  UndoStack->push(new TEventsChange(this, text, std::move(before), row, Values(*EventList), changed));
}

void TFrmEventList::Restore(const std::vector<CEvent>& events, int row) {
  EventList->Clear();
  for (const CEvent& event : events) EventList->Add(std::make_unique<CEvent>(event));
  RefreshView();
  SelectRow(Form->ListView1, row);
}

void TFrmEventList::ActionEditUpdate() {
  Form->ActionEdit->setEnabled(SelectedRow(Form->ListView1) >= 0);
}

void TFrmEventList::ActionDeleteUpdate() {
  Form->ActionDelete->setEnabled(SelectedRow(Form->ListView1) >= 0);
}

}  // namespace smsconf
