#pragma once

// Helpers for driving the real widgets: answering modal windows as a user
// would, and finding controls by their designer names.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace smsconf::testing {

// The child control with this designer name; the test fails without it.
template <class T>
T* Control(QObject* parent, const char* name) {
  T* control = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(control, nullptr) << "no control " << name;
  return control;
}

// Runs `answer` on the next modal window that opens (one other than the
// modal window open now, if any), as soon as it is shown. Call before the
// action that opens it.
class ModalAnswer {
 public:
  explicit ModalAnswer(std::function<void(QWidget*)> answer)
      : State(std::make_shared<Shared>()) {
    State->Answer = std::move(answer);
    State->Before = QApplication::activeModalWidget();
    Poll(State);
  }
  ~ModalAnswer() { State->Cancelled = true; }
  ModalAnswer(const ModalAnswer&) = delete;
  ModalAnswer& operator=(const ModalAnswer&) = delete;

  bool Answered() const { return State->Done; }

 private:
  struct Shared {
    std::function<void(QWidget*)> Answer;
    QPointer<QWidget> Before;
    bool Done = false;
    bool Cancelled = false;
  };

  static void Poll(std::shared_ptr<Shared> state) {
    QTimer::singleShot(5, [state] {
      if (state->Cancelled) return;
      QWidget* modal = QApplication::activeModalWidget();
      if (modal != nullptr && modal != state->Before && modal->isVisible()) {
        state->Done = true;
        state->Answer(modal);
      } else {
        Poll(state);
      }
    });
  }

  std::shared_ptr<Shared> State;
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

inline QString Utf8(const std::string& bytes) { return QString::fromStdString(bytes); }

}  // namespace smsconf::testing
