#include "ui/FramePhoneList.h"

#include <QUndoStack>

#include <algorithm>

#include "model/ProjectCheck.h"
#include "ui/Application.h"
#include "ui/DialogPhone.h"
#include "ui/ModelText.h"
#include "ui/ProjectChange.h"
#include "ui/ReportView.h"
#include "ui_FramePhoneList.h"

namespace smsconf {

namespace {

constexpr int IdColumnWidth = 40;
constexpr int NumberColumnWidth = 150;
constexpr int ListHeight = 160;

// An edit of one slot's number and comment.
class TPhoneChange : public TProjectChange {
 public:
  TPhoneChange(TFrmPhoneList* frame, int row, CPhone before, CPhone after)
      : TProjectChange(QStringLiteral("Изменить абонента")),
        Frame(frame),
        Row(row),
        Before(std::move(before)),
        After(std::move(after)) {}

  void undo() override { Frame->Restore(Row, Before); }
  void redo() override { Frame->Restore(Row, After); }

 private:
  TFrmPhoneList* Frame;
  const int Row;
  const CPhone Before;
  const CPhone After;
};

}  // namespace

TFrmPhoneList::TFrmPhoneList(QWidget* parent)
    : QWidget(parent),
      Form(std::make_unique<Ui::TFrmPhoneList>()),
      Rows(new TListViewModel({"ID", "Номер", "Комментарий"},
                              [this](int row, int column, int role) { return ListView1Data(row, column, role); },
                              this)) {
  Form->setupUi(this);
  SetUpCaptionLabel(Form->Label1);
  QTableView* view = Form->ListView1;
  SetUpReportView(view, Rows,
                  {ColumnWidthFor(view, IdColumnWidth, "ID"),
                   ColumnWidthFor(view, NumberColumnWidth, "+79999999999")},
                  [this] { TApplication::Guarded([this] { ListView1DblClick(); }); });
  // All eight slots stay in view, whatever the platform's font.
  view->setFixedHeight(std::max(ListHeight, HeightForRows(view, PhoneSlotCount)));
}

TFrmPhoneList::~TFrmPhoneList() = default;

void TFrmPhoneList::RefreshView() {
  const int count = PhoneList->Count();
  Rows->Refresh(count);
  Form->Label1->setText(QStringLiteral("Абоненты (%1)").arg(count));
}

QString TFrmPhoneList::ListView1Data(int row, int column, int role) const {
  if (PhoneList == nullptr || row >= PhoneList->Count()) return {};
  const CPhone& phone = *PhoneList->Get(row);
  // A number from a file that is longer than the phone dialog takes is
  // marked, and its tooltip says so, as the check would.
  if (role == TListViewModel::WarningRole) {
    if (column != 1) return {};
    QStringList lines;
    for (const ProjectFinding& finding : CheckPhoneValues(phone.Number)) lines << ShownMessage(finding.Message);
    return lines.join(u'\n');
  }
  if (role != Qt::DisplayRole) return {};
  switch (column) {
    case 0: return QString::number(phone.ID);
    case 1: return ShownText(phone.Number, ShownTextLimit);
    default: return ShownText(phone.Comment, ShownTextLimit);
  }
}

void TFrmPhoneList::ListView1DblClick() {
  const int row = SelectedRow(Form->ListView1);
  if (row < 0) return;
  CPhone& phone = *PhoneList->Get(row);
  TDlgPhone dialog(this);
  dialog.setWindowTitle(QStringLiteral("Абонент ID:%1").arg(phone.ID));
  dialog.PhoneData.Number = phone.Number;
  dialog.PhoneData.Comment = phone.Comment;
  if (dialog.exec() != QDialog::Accepted) return;
  // OK without a change leaves the project unmodified.
  if (dialog.PhoneData.Number == phone.Number && dialog.PhoneData.Comment == phone.Comment) return;
  UndoStack->push(new TPhoneChange(this, row, phone, dialog.PhoneData));  // its first redo edits
}

void TFrmPhoneList::Restore(int row, const CPhone& texts) {
  CPhone& phone = *PhoneList->Get(row);
  phone.Number = texts.Number;
  phone.Comment = texts.Comment;
  RefreshView();
  SelectRow(Form->ListView1, row);
}

}  // namespace smsconf
