// The two tables and their dialogs, driven with the mouse and the keyboard.

#include <QHelpEvent>
#include <QMenu>
#include <QToolTip>

#include "model/Event.h"
#include "text/Cp1251.h"
#include "ui/FramePhoneList.h"
#include "ui/ReportView.h"
#include "UiFixture.h"

namespace smsconf::testing {
namespace {

// Cyrillic goes into the model, the file and the image as Windows-1251; a
// character that Windows-1251 lacks is refused and the dialog stays open.
TEST_F(UiTest, EventsAreAddedEditedAndDeletedAndStaySorted) {
  Open(Dir.File("p.sms"));
  QTableView* events = Events();
  QAction* edit = Window->findChild<QAction*>("ActionEdit");
  QAction* remove = Window->findChild<QAction*>("ActionDelete");
  EXPECT_FALSE(edit->isEnabled() || remove->isEnabled());

  // The first event of the run starts blank on DI0; the next one on the
  // input confirmed last.
  QString shown;
  BoxSeen refusal;
  ModalAnswer firstAdd([&](QWidget* dialog) {
    shown = dialog->windowTitle() + ": " + Input(dialog)->currentText() + " " + Edge(dialog)->currentText() + " " +
            QString::number(Delay(dialog)->value()) + ", " + QString::number(Recipients(dialog)->count()) + " slots";
    TypeText(Text(dialog), QString(71, 'x'));
    EXPECT_EQ(Text(dialog)->text().size(), 70) << "the text field takes 70 characters";
    Fill(dialog, {.Text = "Пожар 中 ☺"});
    ModalAnswer box(BoxReply(QMessageBox::Ok, &refusal));
    Click(dialog, "OK");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Text(dialog)->text(), "Пожар 中 ☺");
    EnterEvent({.Pin = 12, .Falling = true, .Delay = 60, .Text = "Пожар", .Slots = {0, 2}})(dialog);
  });
  DoubleClick(events, -1);  // on the empty area: a new event
  EXPECT_EQ(shown, "Сообщение: DI0 Фронт (R) 0, 8 slots");
  // The first of the two, where the engineer starts to mend the text.
  EXPECT_EQ(refusal.Text, "Поле «Текст» содержит символ «中» (U+4E2D), которого нет в кодировке Windows-1251. "
                          "Замените или удалите его.");

  AddEvent({.Pin = 31, .Delay = 3600, .Text = "b"});
  QString startedOn;
  ModalAnswer thirdAdd([&](QWidget* dialog) {
    startedOn = Input(dialog)->currentText();
    Fill(dialog, {.Pin = 3, .Text = "Дверь"});
    Click(dialog, "Все...");
    Click(dialog, "OK");
  });
  Window->findChild<QAction*>("ActionAdd")->trigger();
  EXPECT_EQ(startedOn, "DI31");
  EXPECT_EQ(Rows(events), QStringList({"0|DI3-R-0|+|+|+|+|+|+|+|+|Дверь", "1|DI12-F-60|+||+||||||Пожар",
                                       "2|DI31-R-3600|||||||||b"}));
  EXPECT_EQ(SelectedRow(events), 0) << "the new event is selected";
  EXPECT_TRUE(edit->isEnabled());

  // Editing moves the event to its sorted place; Cancel changes nothing.
  ModalAnswer edits({EnterEvent({.Pin = 20, .Text = "Дверь"}), [](QWidget* dialog) {
                       Fill(dialog, {.Pin = 0, .Text = "zzz"});
                       Click(dialog, "Отмена");
                     },
                     [](QWidget* dialog) {  // the recipients alone; the rest as the dialog shows it
                       Recipients(dialog)->item(0)->setCheckState(Qt::Unchecked);
                       Click(dialog, "OK");
                     }});
  DoubleClick(events, 0);
  EXPECT_EQ(Cell(events, 1, 1), "DI20-R-0");
  DoubleClick(events, 1);
  EXPECT_EQ(Cell(events, 1, 10), "Дверь");
  DoubleClick(events, 0);
  EXPECT_EQ(Rows(events).front(), "0|DI12-F-60|||+||||||Пожар");

  // The pop-up menu offers the three commands, and the window's undo and
  // redo; Delete asks first.
  QStringList menu;
  for (const QAction* action : Window->findChild<QMenu*>("PopupMenu1")->actions()) menu << action->text();
  EXPECT_EQ(menu, QStringList({"Добавить...", "Правка", "", "Удалить...", "", "Отменить", "Повторить"}));
  BoxSeen no;
  ModalAnswer questions({BoxReply(QMessageBox::No, &no), BoxReply(QMessageBox::Yes)});
  for (const QString caption : {"Сообщения (3)", "Сообщения (2)"}) {
    Activate();
    QTest::keyClick(events, Qt::Key_Delete);
    EXPECT_EQ(EventsCaption(), caption);
  }
  EXPECT_EQ(no.Text, "Удалить сообщение \"Пожар\"?");
  EXPECT_EQ(no.Icon, QMessageBox::Warning);
  EXPECT_EQ(Cell(events, 1, 1), "DI31-R-3600");
  EXPECT_FALSE(remove->isEnabled());

  Press("Сохранить");
  Press("Экспорт", {BoxReply(QMessageBox::Ok)});
  EXPECT_NE(ReadFile(Dir.File("p.sms")).find("Text=" + text::Cp1251("Дверь")), std::string::npos);
  EXPECT_NE(ReadFile(Dir.File("sms.bin")).find(text::Cp1251("Дверь")), std::string::npos);
}

TEST_F(UiTest, PhoneDialogEditsTheDoubleClickedSlot) {
  Open("");
  BoxSeen refusal;
  ModalAnswer answers({[](QWidget* dialog) { Click(dialog, "OK"); },  // nothing changed
                       [](QWidget* dialog) {
                         EXPECT_EQ(dialog->windowTitle(), "Абонент ID:5");
                         auto* number = Named<QLineEdit>(dialog, "Номер:");
                         TypeText(number, "8916123456789");  // 13 characters
                         EXPECT_EQ(number->text(), "891612345678");
                         TypeText(Named<QLineEdit>(dialog, "Коммент:"), "Дежурный");
                         Click(dialog, "OK");
                       },
                       [&](QWidget* dialog) {
                         TypeText(Named<QLineEdit>(dialog, "Коммент:"), " и ещё ☺");
                         ModalAnswer box(BoxReply(QMessageBox::Ok, &refusal));
                         Click(dialog, "OK");  // refused: the dialog stays
                         Click(dialog, "Отмена");
                       }});
  Window->findChild<TFrmPhoneList*>("FrmPhoneList1")->ListView1DblClick();  // no row selected
  EXPECT_EQ(answers.Count(), 0u);
  DoubleClick(Phones(), 5);
  EXPECT_FALSE(Window->Modified) << "OK without a change";
  DoubleClick(Phones(), 5);
  EXPECT_TRUE(Window->Modified);
  DoubleClick(Phones(), 5);
  EXPECT_TRUE(refusal.Text.startsWith("Поле «Коммент» содержит символ «☺» (U+263A)")) << refusal.Text;
  EXPECT_EQ(Rows(Phones()).value(5), "5|891612345678|Дежурный");
  EXPECT_EQ(Window->Project->Phones->Get(5)->Comment, text::Cp1251("Дежурный"));

  // The event dialog names each recipient slot, whole, on an add and on an
  // edit.
  Window->Project->Phones->Get(2)->Comment = text::Cp1251("Склад готовой продукции");
  QStringList named;
  const ModalAnswer::Answer names = [&named](QWidget* dialog) {
    QListWidget* list = Recipients(dialog);
    for (int slot : {0, 2, 5}) named << list->item(slot)->text();
    EXPECT_LE(list->sizeHintForColumn(0), list->viewport()->width());
    EnterEvent({.Text = "a"})(dialog);
  };
  ModalAnswer dialogs({names, names});
  DoubleClick(Events(), -1);
  DoubleClick(Events(), 0);
  const QStringList each{"0  (пусто)", "2  (нет номера)  Склад готовой продукции", "5  891612345678  Дежурный"};
  EXPECT_EQ(named, each + each);
}

// A project of `count` events: the lines of `first` for the first ones,
// the others on DI3 to slot 0.
std::string ProjectOf(int count, const std::vector<std::string>& first = {}) {
  std::string text = "[Phone0]\r\nNumber=+7\r\n";
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    text += "[Event" + std::to_string(i) + "]\r\n" + (i < first.size() ? first[i] : "Pin=3\r\nSend=1") + "\r\n";
  }
  return text;
}

// What the tooltip of a cell says when the mouse rests on it; empty: none.
QString ToolTip(QTableView* view, int row, int column) {
  for (QWidget* tip : QApplication::topLevelWidgets()) {
    if (tip->inherits("QTipLabel")) tip->hide();
  }
  const QModelIndex cell = view->model()->index(row, column);
  view->scrollTo(cell);
  const QPoint at = view->visualRect(cell).center();
  QHelpEvent rest(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
  QApplication::sendEvent(view->viewport(), &rest);
  return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// A cell cut off by its column shows its whole text as a tooltip; a value
// that the dialogs would not offer is marked, and its tooltip says why; a
// huge text is shown cut short. The Id column holds five digits, and
// buttons name their shortcuts.
TEST_F(UiTest, CellsSayWhatTheyCutOffAndMarkWhatTheDialogsWouldNotOffer) {
  const QString seventy = QString(69, u'ж') + "!";
  const std::string huge(1'000'000, '\xE6');  // ж in Windows-1251
  const QString hugeShown = QString(200, u'ж') + "…";
  const QString comment = "Дежурный инженер насосной станции номер четыре";
  WriteFile(Dir.File("p.sms"),
            ProjectOf(10'001, {"Text=" + text::Cp1251("Пожар"), "Text=" + text::Cp1251(seventy.toStdString()),
                               "Pin=40", "Delay=4000", "Text=" + huge}) +
                "[Phone1]\r\nComment=" + text::Cp1251(comment.toStdString()) +
                "\r\n[Phone2]\r\nNumber=+79031234567\r\n[Phone3]\r\nNumber=+790312345678\r\n");
  Open(Dir.File("p.sms"), {BoxReply(QMessageBox::Ok)});
  const QString full = "образ вмещает не более 255 сообщений; экспорт откажет проекту из 10001";
  // In the events table or else the phones one, a cell, what it shows, its
  // tooltip and whether it is marked.
  const std::tuple<const char*, bool, int, int, QString, QString, bool> cases[] = {
      {"short text", true, 0, 10, "Пожар", "", false},
      {"text cut off", true, 1, 10, seventy, seventy, false},
      {"input past DI31", true, 2, 1, "DI40-R-0", "Pin 40 вне входов 0 … 31", true},
      {"delay past 3600", true, 3, 1, "DI0-R-4000", "Delay 4000 вне 0 … 3600 секунд", true},
      {"huge text", true, 4, 10, hugeShown,
       "в тексте 1000000 символов, больше 70, которые допускает окно сообщения\n" + hugeShown, true},
      {"sound trigger", true, 4, 1, "DI0-R-0", "", false},
      {"255th event", true, 254, 0, "254", "", false},
      {"256th event", true, 255, 0, "255", full, true},
      {"five digits", true, 10'000, 0, "10000", full, true},
      {"comment cut off", false, 1, 2, comment, comment, false},
      {"number past 12", false, 3, 1, "+790312345678",
       "в номере 13 символов, больше 12, которые допускает окно абонента", true},
      {"12 characters", false, 2, 1, "+79031234567", "", false},
      {"its comment", false, 3, 2, "", "", false},
  };
  for (const auto& [name, events, row, column, shown, tip, marked] : cases) {
    SCOPED_TRACE(name);
    QTableView* view = events ? Events() : Phones();
    EXPECT_EQ(Cell(view, row, column), shown);
    EXPECT_EQ(ToolTip(view, row, column), tip);
    EXPECT_EQ(view->model()->index(row, column).data(Qt::ForegroundRole).isValid(), marked);
  }
  for (const auto& [caption, tip] : {std::pair{"Сохранить как...", "Сохранить как... (Ctrl+Shift+S)"},
                                     {"Экспорт", "Экспорт (F9)"}, {"Новый...", ""}}) {
    EXPECT_EQ(Named<QPushButton>(Window.get(), caption)->toolTip(), tip);
  }
}

// The image holds 255 events: adding one more asks first, No by default.
TEST_F(UiTest, AddingPastTheImageAsksFirst) {
  WriteFile(Dir.File("p.sms"), ProjectOf(254));
  Open(Dir.File("p.sms"));
  AddEvent({.Text = "255th"});
  BoxSeen question;
  ModalAnswer answers({BoxReply(QMessageBox::No, &question), BoxReply(QMessageBox::Yes), EnterEvent({.Text = "b"})});
  for (const QString caption : {"Сообщения (255)", "Сообщения (256)"}) {
    Activate();
    QTest::keyClick(Events(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(EventsCaption(), caption);
  }
  EXPECT_EQ(question.Text, "Образ вмещает не более 255 сообщений, а в проекте их уже 255: экспорт откажет, "
                           "пока лишние не удалены.\nВсё равно добавить сообщение?");
  EXPECT_EQ(question.Default, QMessageBox::No);
}

// OK keeps what the dialog's controls cannot show of an event from a file
// (an input past DI31, a delay outside the spin field's range, a text past
// the field's limit) unless the user changes the field. Escape discards
// nothing, and OK without a change leaves the project unmodified.
TEST_F(UiTest, OkKeepsWhatTheControlsCannotShow) {
  const std::string longText(80, 'x');
  // The lines of the file's [Event0], the delay the user sets (-1: none),
  // and the input, delay and text of the event afterwards.
  const std::tuple<const char*, std::string, int, std::string> cases[] = {
      {"input past DI31", "Pin=40", -1, "40 0 "},
      {"text past the limit", "Text=" + longText, -1, "0 0 " + longText},
      {"delay past the spin field", "Delay=4000", -1, "0 4000 "},
      {"negative delay", "Delay=-5", -1, "0 -5 "},
      {"delay changed by the user", "Delay=4000", 10, "0 10 "},
  };
  for (const auto& [name, lines, setDelay, kept] : cases) {
    SCOPED_TRACE(name);
    WriteFile(Dir.File("p.sms"), "[Event0]\r\n" + lines + "\r\n");
    Open(Dir.File("p.sms"), {BoxReply(QMessageBox::Ok)});  // the value is out of the dialog's range
    ModalAnswer answer([&](QWidget* dialog) {
      QTest::keyClick(dialog, Qt::Key_Escape);
      EXPECT_TRUE(dialog->isVisible());
      // The field shows the file's delay as it is, not cut to its range.
      EXPECT_EQ(Delay(dialog)->value(), Window->Project->Events->Get(0)->Delay);
      if (setDelay >= 0) Delay(dialog)->setValue(setDelay);
      Click(dialog, "OK");
    });
    QTest::keyClick(Events(), Qt::Key_Down);
    QTest::keyClick(Events(), Qt::Key_Return);  // Enter edits the selected row
    ASSERT_EQ(answer.Count(), 1u);
    const CEvent& event = *Window->Project->Events->Get(0);
    EXPECT_EQ(std::to_string(event.Pin) + " " + std::to_string(event.Delay) + " " + event.Text, kept);
    EXPECT_EQ(Window->Modified, setDelay >= 0);
  }
}

}  // namespace
}  // namespace smsconf::testing
