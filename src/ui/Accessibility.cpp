#include "ui/Accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

namespace smsconf {

namespace {

// A fixed drop-down list: its name as for any labelled field, its current
// item as its value, the pop-up list as its one child.
class TAccessibleComboBox : public QAccessibleWidget {
 public:
  explicit TAccessibleComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

  QString text(QAccessible::Text which) const override {
    if (which == QAccessible::Value) return Box()->currentText();
    return QAccessibleWidget::text(which);
  }

  int childCount() const override { return 1; }
  QAccessibleInterface* child(int index) const override {
    return index == 0 ? QAccessible::queryAccessibleInterface(Box()->view()) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child != nullptr && child->object() == Box()->view() ? 0 : -1;
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.expandable = true;
    state.expanded = Box()->view()->isVisible();
    return state;
  }

  QStringList actionNames() const override {
    return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& name) override {
    if (name != showMenuAction() && name != pressAction()) return QAccessibleWidget::doAction(name);
    if (Box()->view()->isVisible()) {
      Box()->hidePopup();
    } else {
      Box()->showPopup();
    }
  }

 private:
  QComboBox* Box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* AccessibleFor(const QString& className, QObject* object) {
  auto* box = qobject_cast<QComboBox*>(object);
  if (className != QLatin1String("QComboBox") || box == nullptr || box->isEditable()) return nullptr;
  return new TAccessibleComboBox(box);
}

}  // namespace

void InstallAccessibleNames() { QAccessible::installFactory(AccessibleFor); }

}  // namespace smsconf
