#include "app/untVelaLogApplication.h"

#include <QThread>
#include <QTimer>
#include <cstdio>

#include "gui/untErrorBox.h"

namespace vela {

bool TVelaLogApplication::FShuttingDown = false;

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
  FShuttingDown = true;
  // Nobody is left to close a box: messages from now on go to standard error
  // (unless a test records them).
  if (!ErrorBoxHook)
    ErrorBoxHook = [](const QString& Message) {
      std::fprintf(stderr, "%s: %s\n", qPrintable(applicationName()), qPrintable(Message));
    };
  // Inside a nested loop other than a message box's (a page script's wait),
  // the code below it still uses the window's objects: close once it has
  // returned.
  if (QThread::currentThread()->loopLevel() > 1 && !activeModalWidget()) {
    QTimer::singleShot(20, this, [this] { CloseAllAndQuit(); });
    return;
  }
  // Modal boxes first (a box's own loop would otherwise hold the program),
  // then the other windows.
  closeAllWindows();
  quit();
}

} // namespace vela
