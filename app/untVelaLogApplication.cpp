#include "app/untVelaLogApplication.h"

#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace vela {

std::function<void(const QString&)> TVelaLogApplication::ErrorBoxHook;
bool TVelaLogApplication::FShuttingDown = false;

TVelaLogApplication::TVelaLogApplication(int& argc, char** argv) : QApplication(argc, argv) {}

QString ExceptionMessage(const std::exception_ptr& Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const std::exception& E) {
    return QString::fromUtf8(E.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

void TVelaLogApplication::ShowErrorMessage(const QString& Message) {
  if (ErrorBoxHook) {
    ErrorBoxHook(Message);
    return;
  }
  if (FShuttingDown) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(applicationName()), qPrintable(Message));
    return;
  }
  QMessageBox::critical(activeWindow(), applicationName(), Message);
}

void TVelaLogApplication::ShowCurrentException() {
  ShowErrorMessage(ExceptionMessage(std::current_exception()));
}

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
