#pragma once

#include <QApplication>
#include <QString>
#include <QTranslator>

#include <exception>
#include <functional>

namespace smsconf {

// The application object: the program's title, the toolkit's own texts in
// Russian (the buttons of message boxes, the file dialogs), and the
// top-level error handler that shows what a command failed with and lets the
// user go on. The GUI tests run on one set up the same way.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  // The folders where the toolkit's translation is looked for: the
  // toolkit's own, then "translations" beside the executable (where a
  // Windows installation puts it).
  static QStringList TranslationFolders();

  // The executable's file name without its folder, cut at its first dot,
  // the first letter in upper case and the rest in lower case: "Smsconf".
  static QString Title();
  static QString TitleFor(const QString& executablePath);

  // The error message box with the exception's text, in Russian where it is
  // one of the program's own messages; the user goes on.
  static void ShowException(const std::exception& error);

  // Runs a command's handler and hands whatever it throws to ShowException,
  // so that no exception ever unwinds through the toolkit's own frames.
  static void Guarded(const std::function<void()>& handler);

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  QTranslator ToolkitTexts;
};

}  // namespace smsconf
