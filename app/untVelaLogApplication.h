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

  // Ends the program as the close box would: closes an open message box,
  // then every window (the main window stores its placement and frees its
  // objects), and leaves the message loop. Messages from then on go to
  // standard error: nobody is left to close a box.
  void CloseAllAndQuit();
};

} // namespace vela
