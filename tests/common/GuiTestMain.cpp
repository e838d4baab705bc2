// The main of every GUI test program: the program's own application object
// on Qt's offscreen platform, so that no display is needed.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "ui/Application.h"

namespace {

// The offscreen platform says so whenever a window asks for what it cannot
// do (raise, grab the keyboard); those lines only bury the test output.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
  std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietHandler);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  smsconf::TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
