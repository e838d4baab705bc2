#pragma once

// Driving the real widgets: answering modal windows as a user would, and
// finding controls by what the user reads on them or by designer names.

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
inline std::ostream& operator<<(std::ostream& out, const QString& text) { return out << text.toStdString(); }

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

// The one child control of type T in the window of `parent` that the user
// knows by `name`: a button's caption or a field's label ("Задержка:"). A
// file dialog kept for the next time, whose button also reads "Сохранить",
// is a window of its own.
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

inline void Click(QObject* parent, const QString& caption) {
  QAbstractButton* button = Named<QAbstractButton>(parent, caption);
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
}

// Answers the modal windows that open from now on (not the one open now),
// in order, each as soon as its window is shown. Create it before the
// action that opens them.
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

// What a message box said, and the button that Enter presses in it.
struct BoxSeen {
  QString Text;
  QString Informative;
  QString Details;
  QString Title;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QMessageBox::StandardButton Default = QMessageBox::NoButton;
};

// For BoxReply: the key Enter, which gives the default answer.
constexpr QMessageBox::StandardButton Enter = QMessageBox::NoButton;

// An answer that notes what the message box said and presses `which`. Any
// other window fails the test and is closed, so that the test goes on.
inline ModalAnswer::Answer BoxReply(QMessageBox::StandardButton which, BoxSeen* seen = nullptr) {
  return [which, seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
      ADD_FAILURE() << "not a message box: " << modal->metaObject()->className();
      return void(modal->close());
    }
    if (seen != nullptr) {
      *seen = {box->text(),         box->informativeText(),
               box->detailedText(), box->windowTitle(),
               box->icon(),         box->standardButton(box->defaultButton())};
    }
    if (which == Enter) return QTest::keyClick(box, Qt::Key_Return);
    QTest::mouseClick(box->button(which), Qt::LeftButton);
  };
}

// Types the text key by key, as a keyboard with any layout would; unlike
// QTest::keyClicks it takes any character, Cyrillic included.
inline void TypeText(QWidget* widget, const QString& text) {
  for (int i = 0; i < text.size(); ++i) {
    const int length = text.at(i).isHighSurrogate() ? 2 : 1;
    const QString key = text.mid(i, length);
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, key, Qt::NoModifier);
    i += length - 1;
  }
}

// Runs the event loop until `done` holds, for at most `ms` milliseconds.
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
