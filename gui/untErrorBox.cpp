#include "gui/untErrorBox.h"

#include <QApplication>
#include <QMessageBox>

namespace vela {

std::function<void(const QString&)> ErrorBoxHook;

QString ExceptionMessage(const std::exception_ptr& Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const std::exception& E) {
    return QString::fromUtf8(E.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

void ShowErrorMessage(const QString& Message) {
  if (ErrorBoxHook) {
    ErrorBoxHook(Message);
    return;
  }
  QString Title = QApplication::applicationDisplayName();
  if (Title.isEmpty())
    Title = QStringLiteral("VELA Log");
  QMessageBox::critical(QApplication::activeWindow(), Title, Message);
}

void ShowCurrentException() {
  ShowErrorMessage(ExceptionMessage(std::current_exception()));
}

} // namespace vela
