#include "app/untVelaLogApplication.h"

#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "gui/untErrorBox.h"

namespace vela {

TVelaLogApplication::TVelaLogApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TVelaLogApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (...) {
    // The handler that threw has been left; the event counts as handled and
    // the message loop goes on.
    ShowCurrentException();
    return false;
  }
}

void TVelaLogApplication::CloseAllAndQuit() {
  // Nobody is left to close a box: messages from now on go to standard error
  // (unless a test records them).
  if (!ErrorBoxHook)
    ErrorBoxHook = [](const QString& Message) {
      std::fprintf(stderr, "%s: %s\n", qPrintable(applicationName()), qPrintable(Message));
    };
  // A modal box runs its own loop inside the code that opened it (a button's
  // handler, say), which still uses the window's objects: close the box, and
  // the windows once that code has returned.
  if (QWidget* Box = activeModalWidget()) {
    Box->close();
    QTimer::singleShot(0, this, [this] { CloseAllAndQuit(); });
    return;
  }
  closeAllWindows();
  quit();
}

} // namespace vela
