// The test program creates its QApplication before the tests run, since Qt
// WebEngine must start on the main thread before any view exists.
#include "LogPageTestSupport.h"
#include "logpage/untWebBrowser.h"

#include <QApplication>
#include <cstdio>
#include <exception>
#include <gtest/gtest.h>

namespace {

// Stands in for the program's application object: an exception that escapes
// an event handler is recorded instead of shown in an error box.
class TTestApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject* Receiver, QEvent* Event) override {
    try {
      return QApplication::notify(Receiver, Event);
    } catch (const std::exception& E) {
      velatest::RecordEscapedError(E.what());
    } catch (...) {
      velatest::RecordEscapedError("unknown error");
    }
    return false;
  }
};

} // namespace

int main(int argc, char** argv) {
  vela::TWebBrowser::PrepareEnvironment();
  TTestApplication App(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  QString Error;
  if (!velatest::StartServer(&Error)) {
    std::fprintf(stderr, "cannot start the sample logbook: %s\n", qPrintable(Error));
    velatest::StopServer();
    return 1;
  }
  const int Result = RUN_ALL_TESTS();
  velatest::StopServer();
  return Result;
}
