// The standard error box: the one place where a failure reaches the
// operator, whether it escaped an event handler (the application object) or
// was caught by a control that must not let it unwind through the toolkit (a
// panel button's click). Messages are UTF-8 (the message catalogues are
// bound to UTF-8).
#pragma once

#include <QString>
#include <exception>
#include <functional>

namespace vela {

// Replaces the modal box, e.g. in tests that record the messages. Empty: the
// box is shown.
extern std::function<void(const QString&)> ErrorBoxHook;

// Shows Message in the error box (or hands it to ErrorBoxHook); the program
// then goes on.
void ShowErrorMessage(const QString& Message);
// Shows the message of the exception in flight; call inside a catch block.
void ShowCurrentException();

// The message text of an exception, as the error box shows it.
QString ExceptionMessage(const std::exception_ptr& Error);

} // namespace vela
