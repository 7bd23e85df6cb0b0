// The application object: a QApplication that shows an exception escaping any
// event handler in the standard error box and lets the program go on, so a
// failing button, timer tick or page notification never ends the program.
#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

namespace vela {

class TVelaLogApplication : public QApplication {
  Q_OBJECT
public:
  TVelaLogApplication(int& argc, char** argv);

  // Shows Message in the standard error box (or hands it to ErrorBoxHook).
  static void ShowErrorMessage(const QString& Message);
  // Shows the message of the exception in flight; call inside a catch block.
  static void ShowCurrentException();

  // Replaces the modal error box, e.g. in tests that record the messages.
  // Empty: the box is shown.
  static std::function<void(const QString&)> ErrorBoxHook;

  bool notify(QObject* Receiver, QEvent* Event) override;

  // Ends the program as the close box would: closes an open message box,
  // then every window (the main window stores its placement and frees its
  // objects), and leaves the message loop. Messages from then on go to
  // standard error: nobody is left to close a box.
  void CloseAllAndQuit();
  static bool ShuttingDown() { return FShuttingDown; }

private:
  static bool FShuttingDown;
};

// The message text of an exception_ptr, as the error box shows it.
QString ExceptionMessage(const std::exception_ptr& Error);

} // namespace vela
