#pragma once

#include <QDialog>
#include <QKeyEvent>
#include <QLayout>

namespace smsconf {

// What the program's edit dialogs share: a fixed size, at least the designed
// one, and no button that answers Escape, so that a stray key press never
// throws away what was typed; Cancel and the close box discard.
class TModalDialog : public QDialog {
 public:
  using QDialog::QDialog;

 protected:
  void FixSize() {
    layout()->activate();
    setFixedSize(size().expandedTo(sizeHint()));
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) {
      event->accept();
      return;
    }
    QDialog::keyPressEvent(event);
  }
};

}  // namespace smsconf
