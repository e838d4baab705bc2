#pragma once

#include <QAbstractButton>
#include <QAction>

namespace smsconf {

// A push button that runs an action and follows its enabled state, as a
// button bound to an action does; the button keeps its own caption.
inline void BindButton(QAbstractButton* button, QAction* action) {
  QObject::connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
  const auto follow = [button, action] { button->setEnabled(action->isEnabled()); };
  QObject::connect(action, &QAction::changed, button, follow);
  follow();
}

}  // namespace smsconf
