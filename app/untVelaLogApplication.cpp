#include "app/untVelaLogApplication.h"

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

} // namespace vela
