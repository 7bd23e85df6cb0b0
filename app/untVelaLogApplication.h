// The application object: a QApplication that shows an exception escaping any
// event handler in the standard error box and lets the program go on, so a
// failing button, timer tick or page notification never ends the program.
#pragma once

#include <QApplication>

namespace vela {

class TVelaLogApplication : public QApplication {
  Q_OBJECT
public:
  TVelaLogApplication(int& argc, char** argv);

  // An exception that escapes a handler goes to the error box
  // (gui/untErrorBox.h).
  bool notify(QObject* Receiver, QEvent* Event) override;
};

} // namespace vela
