#pragma once

#include <QWidget>

#include <memory>

#include "model/Eventlist.h"
#include "ui/ListViewModel.h"

class QMenu;

namespace smsconf {

namespace Ui {
class TFrmEventList;
}

// The events as a table, kept sorted by input and edge; events are added,
// edited and deleted through the pop-up menu, the keyboard or a
// double-click.
class TFrmEventList : public QWidget {
  Q_OBJECT

 public:
  explicit TFrmEventList(QWidget* parent = nullptr);
  ~TFrmEventList() override;

  CEventList* EventList = nullptr;  // the project's; set before the first refresh

  void RefreshView();
  QString ListView1Data(int row, int column) const;
  void ListView1DblClick();
  void ActionAddExecute();
  void ActionEditExecute();
  void ActionDeleteExecute();
  void ActionEditUpdate();
  void ActionDeleteUpdate();

  QMenu* PopupMenu1;

 signals:
  // An event was added, edited or deleted.
  void Changed();

 private:
  void Confirm(CEvent* event);

  std::unique_ptr<Ui::TFrmEventList> Form;
  TListViewModel* Rows;
};

// The trigger column's text: input, edge and delay, as "DI12-F-60".
QString TriggerText(const CEvent& event);

}  // namespace smsconf
