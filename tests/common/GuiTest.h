#pragma once

// Helpers for driving the real widgets: answering modal windows as a user
// would, and finding controls by what the user reads on them or by their
// designer names.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace smsconf::testing {

// The child control with this designer name; the test fails without it.
template <class T>
T* Control(QObject* parent, const char* name) {
  T* control = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(control, nullptr) << "no control " << name;
  return control;
}

// What the user knows a control by: its accessible name, or for a button
// without one its caption. The platform's accessibility layer is not asked,
// as some give a drop-down list's current item as its name.
inline QString UserName(const QWidget* control) {
  if (!control->accessibleName().isEmpty()) return control->accessibleName();
  const auto* button = qobject_cast<const QAbstractButton*>(control);
  return button != nullptr ? QString(button->text()).remove('&') : QString();
}

// The child control of type T that the user knows by `name`: a button's
// caption ("Сохранить") or a field's label ("Задержка:"). Exactly one
// control must answer to it. The controls of a window's own dialogs (a file
// dialog kept for the next time, whose button also reads "Сохранить") are
// in windows of their own.
template <class T>
T* Named(QObject* parent, const QString& name) {
  auto* widget = qobject_cast<QWidget*>(parent);
  const QWidget* window = widget != nullptr ? widget->window() : nullptr;
  QList<T*> found;
  for (T* control : parent->findChildren<T*>()) {
    if (window != nullptr && control->window() != window) continue;
    if (UserName(control) == name) found << control;
  }
  EXPECT_EQ(found.size(), 1) << "controls named \"" << name.toStdString() << "\"";
  return found.size() == 1 ? found.front() : nullptr;
}

// Clicks the button with this caption.
inline void Click(QObject* parent, const QString& caption) {
  QAbstractButton* button = Named<QAbstractButton>(parent, caption);
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
}

// Answers the modal windows that open from now on (ones other than the
// modal window open now, if any), in order: the first answer for the first
// window, and so on, each as soon as its window is shown. Create it before
// the action that opens them.
class ModalAnswer {
 public:
  using Answer = std::function<void(QWidget*)>;

  explicit ModalAnswer(Answer answer) : ModalAnswer(std::vector<Answer>{std::move(answer)}) {}
  explicit ModalAnswer(std::vector<Answer> answers) : State(std::make_shared<Shared>()) {
    State->Answers = std::move(answers);
    Remember(State, QApplication::activeModalWidget());
    Poll(State);
  }
  ~ModalAnswer() { State->Cancelled = true; }
  ModalAnswer(const ModalAnswer&) = delete;
  ModalAnswer& operator=(const ModalAnswer&) = delete;

  bool Answered() const { return State->Next == State->Answers.size(); }
  std::size_t Count() const { return State->Next; }

 private:
  struct Shared {
    std::vector<Answer> Answers;
    std::size_t Next = 0;
    QPointer<QWidget> Last;
    bool Cancelled = false;
  };

  // A dialog object may open again later (a file dialog is kept and reused):
  // once it is done it counts as new.
  static void Remember(const std::shared_ptr<Shared>& state, QWidget* modal) {
    state->Last = modal;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      QObject::connect(dialog, &QDialog::finished, dialog, [state] { state->Last = nullptr; },
                       Qt::SingleShotConnection);
    }
  }

  static void Poll(std::shared_ptr<Shared> state) {
    QTimer::singleShot(5, [state] {
      if (state->Cancelled || state->Next == state->Answers.size()) return;
      QWidget* modal = QApplication::activeModalWidget();
      if (modal != nullptr && modal != state->Last.data() && modal->isVisible()) {
        Remember(state, modal);
        state->Answers[state->Next++](modal);
      }
      Poll(state);
    });
  }

  std::shared_ptr<Shared> State;
};

// What a message box said.
struct BoxSeen {
  QString Text;
  QString Informative;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

// The text of a message box, and a press of its button with this role.
inline QString BoxText(QWidget* modal) {
  auto* box = qobject_cast<QMessageBox*>(modal);
  return box != nullptr ? box->text() : QString();
}

inline void PressBoxButton(QWidget* modal, QMessageBox::StandardButton which) {
  auto* box = qobject_cast<QMessageBox*>(modal);
  ASSERT_NE(box, nullptr) << "not a message box: " << modal->metaObject()->className();
  QTest::mouseClick(box->button(which), Qt::LeftButton);
}

// An answer that notes what the message box said and presses `which`.
inline ModalAnswer::Answer BoxReply(QMessageBox::StandardButton which, BoxSeen* seen = nullptr) {
  return [which, seen](QWidget* modal) {
    if (seen != nullptr) {
      seen->Text = BoxText(modal);
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen->Icon = box->icon();
        seen->Informative = box->informativeText();
      }
    }
    PressBoxButton(modal, which);
  };
}

// Types the text key by key, as a keyboard with any layout would; unlike
// QTest::keyClicks it takes any character, Cyrillic included.
inline void TypeText(QWidget* widget, const QString& text) {
  for (int i = 0; i < text.size(); ++i) {
    const int length = text.at(i).isHighSurrogate() ? 2 : 1;
    const QString key = text.mid(i, length);
    QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, key, Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, key, Qt::NoModifier);
    i += length - 1;
  }
}

// Runs the event loop until `done` holds or `ms` milliseconds pass.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QTest::qWait(5);
  }
  return true;
}

}  // namespace smsconf::testing
