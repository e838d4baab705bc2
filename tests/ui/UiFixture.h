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

  void Open(const std::string& fileName) {
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
  QString Caption(const char* frame) {
    return Control<QLabel>(Window->findChild<QWidget*>(frame), "Label1")->text();
  }
  // Clicks the main window's button with this caption.
  void Press(const QString& caption) { Click(Window.get(), caption); }

  // Double-clicks a row, or the empty area below the rows for -1.
  static void DoubleClick(QTableView* view, int row) {
    const QPoint at = row >= 0 ? view->visualRect(view->model()->index(row, 1)).center()
                               : QPoint(5, view->viewport()->height() - 3);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
  }

  // The event dialog's fields.
  static QComboBox* Input(QWidget* dialog) { return Named<QComboBox>(dialog, "Регистр:"); }
  static QComboBox* Edge(QWidget* dialog) { return Named<QComboBox>(dialog, "Тип:"); }
  static QSpinBox* Delay(QWidget* dialog) { return Named<QSpinBox>(dialog, "Задержка:"); }
  static QLineEdit* Text(QWidget* dialog) { return Named<QLineEdit>(dialog, "Текст"); }
  static QListWidget* Recipients(QWidget* dialog) { return Named<QListWidget>(dialog, "Получатели SMS"); }

  static void Fill(QWidget* dialog, const EventInput& input) {
    Input(dialog)->setCurrentIndex(input.Pin);
    Edge(dialog)->setCurrentIndex(input.Falling ? 1 : 0);
    Delay(dialog)->setValue(input.Delay);
    QLineEdit* text = Text(dialog);
    text->clear();
    TypeText(text, input.Text);
    Click(dialog, "Никто...");
    for (int slot : input.Slots) Recipients(dialog)->item(slot)->setCheckState(Qt::Checked);
  }

  // Fills the event dialog and presses OK.
  static ModalAnswer::Answer EnterEvent(const EventInput& input) {
    return [input](QWidget* dialog) {
      Fill(dialog, input);
      Click(dialog, "OK");
    };
  }

  // Adds an event through Ctrl+N.
  void AddEvent(const EventInput& input) {
    ModalAnswer answer(EnterEvent(input));
    Activate();
    QTest::keyClick(Events(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(answer.Answered());
  }

  // Chooses `path` in a file dialog, or cancels it for an empty path.
  static ModalAnswer::Answer ChooseFile(const QString& path) {
    return [path](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      if (path.isEmpty()) return dialog->reject();
      // Set rather than typed: typing opens the name completer, whose pop-up
      // would take the click meant for the button.
      Control<QLineEdit>(dialog, "fileNameEdit")->setText(path);
      auto* buttons = Control<QDialogButtonBox>(dialog, "buttonBox");
      QTest::mouseClick(buttons->button(buttons->standardButtons() & QDialogButtonBox::Save
                                            ? QDialogButtonBox::Save
                                            : QDialogButtonBox::Open),
                        Qt::LeftButton);
    };
  }

  TempDir Dir;
  std::unique_ptr<TMainForm> Window;
};

}  // namespace smsconf::testing
