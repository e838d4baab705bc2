#pragma once

#include <QAbstractButton>
#include <QAction>

namespace smsconf {

// A push button that runs an action and follows its enabled state, as a
// button bound to an action does; the button keeps its own caption, and its
// tooltip names the action's shortcut: "Сохранить (Ctrl+S)".
inline void BindButton(QAbstractButton* button, QAction* action) {
  QObject::connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
  const auto follow = [button, action] {
    button->setEnabled(action->isEnabled());
    const QKeySequence key = action->shortcut();
    button->setToolTip(key.isEmpty() ? QString()
                                     : QStringLiteral("%1 (%2)").arg(QString(button->text()).remove(u'&'),
                                                                     key.toString(QKeySequence::NativeText)));
  };
  QObject::connect(action, &QAction::changed, button, follow);
  follow();
}

}  // namespace smsconf
