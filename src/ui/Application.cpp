#include "ui/Application.h"
#include "ui/Accessibility.h"
#include "ui/CorePath.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

namespace smsconf {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) { InstallAccessibleNames(); }

QString TApplication::TitleFor(const QString& executablePath) {
  const QString name = QFileInfo(executablePath).fileName();
  const QString base = name.left(name.indexOf(u'.') < 0 ? name.size() : name.indexOf(u'.'));
  if (base.isEmpty()) return base;
  return base.left(1).toUpper() + base.mid(1).toLower();
}

QString TApplication::Title() {
  static const QString title = TitleFor(QCoreApplication::applicationFilePath());
  return title;
}

void TApplication::ShowException(const std::exception& error) {
  // Paths in the model's messages are in the core's encoding of paths.
  const QString text = QtPath(error.what());
  QMessageBox box(QMessageBox::Critical, Title(), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setAccessibleName(Title());
  box.exec();
}

void TApplication::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowException(error);
  }
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowException(error);
  }
  return false;
}

}  // namespace smsconf
