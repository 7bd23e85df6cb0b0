// The main window's tests run in one process with the program's application
// object, whose error box is replaced by a recorder.
#include <QString>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/untVelaLogApplication.h"
#include "gui/untErrorBox.h"
#include "logpage/untWebBrowser.h"

int main(int argc, char** argv) {
  vela::TWebBrowser::PrepareEnvironment();
  vela::TVelaLogApplication App(argc, argv);
  App.setApplicationName(QStringLiteral("VELA Log"));
  vela::ErrorBoxHook = [](const QString& Message) {
    velatest::RecordErrorBox(Message.toStdString());
  };
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
