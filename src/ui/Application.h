#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

namespace smsconf {

// The application object: the program's title, and the top-level error
// handler that shows what a command failed with and lets the user go on.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  // The executable's file name without its folder, cut at its first dot,
  // the first letter in upper case and the rest in lower case: "Smsconf".
  static QString Title();
  static QString TitleFor(const QString& executablePath);

  // The error message box with the exception's text; the user goes on.
  static void ShowException(const std::exception& error);

  // Runs a command's handler and hands whatever it throws to ShowException,
  // so that no exception ever unwinds through the toolkit's own frames.
  static void Guarded(const std::function<void()>& handler);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace smsconf
