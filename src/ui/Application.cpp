#include "ui/Application.h"

#include "text/Wording.h"
#include "ui/Accessibility.h"
#include "ui/CorePath.h"

#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QWidget>

namespace smsconf {

namespace {

// Qt's translation of its own texts ("Да", "Отмена", "Папка:").
constexpr const char* ToolkitTranslation = "qtbase_ru";

}  // namespace

// The program's own texts are all Russian, so the toolkit's are too,
// whatever the system's language: the window speaks one language.
TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  InstallAccessibleNames();
  for (const QString& folder : TranslationFolders()) {
    if (ToolkitTexts.load(QString::fromLatin1(ToolkitTranslation), folder)) {
      installTranslator(&ToolkitTexts);
      break;
    }
  }
}

QStringList TApplication::TranslationFolders() {
  return {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
          QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
}

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
  const QString text = QtPath(text::SaidBy(error).Render(text::Language::Russian).c_str());
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
