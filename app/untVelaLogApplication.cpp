#include "app/untVelaLogApplication.h"

#include <QMessageBox>
#include <QWidget>

namespace vela {

std::function<void(const QString&)> TVelaLogApplication::ErrorBoxHook;

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

} // namespace vela
