// The window tests create their QApplication before the tests run; one test
// uses the real embedded browser, which must be prepared before that.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "logpage/untWebBrowser.h"

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  vela::TWebBrowser::PrepareEnvironment();
  QApplication App(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
