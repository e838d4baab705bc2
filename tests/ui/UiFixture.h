#pragma once

// A main window on a project in a fresh folder, which is also the home
// folder that exports go to, and the steps a user takes in it.

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/GuiTest.h"
#include "common/TempDir.h"
#include "ui/DialogEvent.h"
#include "ui/Main.h"

namespace smsconf::testing {

// What a user enters in the event dialog.
struct EventInput {
  int Pin = 0;
  bool Falling = false;
  int Delay = 0;
  QString Text;
  std::vector<int> Slots = {};
};

class UiTest : public ::testing::Test {
 public:
  void SetUp() override {
    ::setenv("HOME", Dir.Path.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");  // the settings follow the home folder
    TDlgEvent::LastChosenPin = 0;
  }

  // Opens the window on the file, answering the boxes that start-up shows.
  void Open(const std::string& fileName, std::vector<ModalAnswer::Answer> answers = {}) {
    ModalAnswer answer(std::move(answers));
    Window = std::make_unique<TMainForm>(fileName);
    Window->show();
    QCoreApplication::processEvents();  // the findings box comes over the shown window
    Activate();
  }

  // Shortcuts work in the active window; the offscreen platform does not
  // give the activation back when a dialog closes.
  void Activate() {
    Window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
  }

  QTableView* Events() { return Named<QTableView>(Window.get(), "Сообщения"); }
  QTableView* Phones() { return Named<QTableView>(Window.get(), "Абоненты"); }
  static QString Cell(QTableView* view, int row, int column) {
    return view->model()->index(row, column).data().toString();
  }
  // The rows as the table shows them, each its cells in `columns` (all if
  // none are given) one "|" apart; rows with nothing in them left out.
  static QStringList Rows(QTableView* view, const QList<int>& columns = {}) {
    QStringList rows;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
      QStringList cells;
      for (int column = 0; column < view->model()->columnCount(); ++column) {
        if (columns.isEmpty() || columns.contains(column)) cells << Cell(view, row, column);
      }
      if (!cells.join("").isEmpty()) rows << cells.join('|');
    }
    return rows;
  }
  QString EventsCaption() { return Control<QLabel>(Window->findChild<QWidget*>("FrmEventList1"), "Label1")->text(); }
  // Clicks the window's button, answering the modal windows it opens.
  void Press(const QString& caption, std::vector<ModalAnswer::Answer> answers = {}) {
    ModalAnswer answer(std::move(answers));
    Click(Window.get(), caption);
  }
  // Presses the key in the active main window; a letter key brings its
  // letter, as QTest::keyClick does for Latin ones only.
  void Key(QKeyCombination key) {
    Activate();
    const QString text = key.key() < 0x10000 ? QString(QChar(char16_t(key.key()))).toLower() : QString();
    QTest::sendKeyEvent(QTest::Click, Window.get(), key.key(), text, key.keyboardModifiers());
  }

  // Double-clicks a row, or the empty area below the rows for -1.
  static void DoubleClick(QTableView* view, int row) {
    const QPoint at = row >= 0 ? view->visualRect(view->model()->index(row, 1)).center()
                               : QPoint(5, view->viewport()->height() - 3);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
  }

  static QComboBox* Input(QWidget* dialog) { return Named<QComboBox>(dialog, "Регистр:"); }
  static QComboBox* Edge(QWidget* dialog) { return Named<QComboBox>(dialog, "Тип:"); }
  static QSpinBox* Delay(QWidget* dialog) { return Named<QSpinBox>(dialog, "Задержка:"); }
  static QLineEdit* Text(QWidget* dialog) { return Named<QLineEdit>(dialog, "Текст"); }
  static QListWidget* Recipients(QWidget* dialog) { return Named<QListWidget>(dialog, "Получатели SMS"); }

  static void Fill(QWidget* dialog, const EventInput& input) {
    Input(dialog)->setCurrentIndex(input.Pin);
    Edge(dialog)->setCurrentIndex(input.Falling ? 1 : 0);
    Delay(dialog)->setValue(input.Delay);
    Text(dialog)->clear();
    TypeText(Text(dialog), input.Text);
    Click(dialog, "Никто...");
    for (int slot : input.Slots) Recipients(dialog)->item(slot)->setCheckState(Qt::Checked);
  }

  static ModalAnswer::Answer EnterEvent(const EventInput& input) {
    return [input](QWidget* dialog) {
      Fill(dialog, input);
      Click(dialog, "OK");
    };
  }

  void EditEvent(int row, const EventInput& input) {
    ModalAnswer answer(EnterEvent(input));
    DoubleClick(Events(), row);
  }
  // Enters a slot's number, and its comment unless null, on a double-click.
  void EditPhone(int slot, const QString& number, const QString& comment = {}) {
    ModalAnswer answer([&](QWidget* dialog) {
      Named<QLineEdit>(dialog, "Номер:")->setText(number);
      if (!comment.isNull()) Named<QLineEdit>(dialog, "Коммент:")->setText(comment);
      Click(dialog, "OK");
    });
    DoubleClick(Phones(), slot);
  }

  // Adds an event through Ctrl+N.
  void AddEvent(const EventInput& input) {
    ModalAnswer answer(EnterEvent(input));
    Activate();
    QTest::keyClick(Events(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_EQ(answer.Count(), 1u);
  }

  // Chooses `path` in a file dialog, or cancels it for an empty path.
  static ModalAnswer::Answer ChooseFile(const QString& path) {
    return [path](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      EXPECT_NE(dialog, nullptr) << "not a file dialog";
      if (dialog == nullptr || path.isEmpty()) return void(modal->close());
      // Set rather than typed: typing opens the name completer, whose pop-up
      // would take the click meant for the button. A file still selected in
      // the folder view from the dialog's last use would go before the name,
      // unless the name's field has the focus.
      Control<QAbstractItemView>(dialog, "listView")->clearSelection();
      Control<QLineEdit>(dialog, "fileNameEdit")->setText(path);
      auto* buttons = Control<QDialogButtonBox>(dialog, "buttonBox");
      const bool save = buttons->standardButtons() & QDialogButtonBox::Save;
      QTest::mouseClick(buttons->button(save ? QDialogButtonBox::Save : QDialogButtonBox::Open), Qt::LeftButton);
    };
  }

  TempDir Dir;
  std::unique_ptr<TMainForm> Window;
};

}  // namespace smsconf::testing
