// The main of every GUI test program: the program's own application object
// on Qt's offscreen platform, so that no display is needed.

#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/Application.h"

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  smsconf::TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
