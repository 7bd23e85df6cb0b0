// Waiting for an event in a test: the Qt event loop runs until Done holds or
// Ms have passed (generous, for a loaded machine). Never a duration assertion.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

namespace velatest {

inline bool WaitFor(const std::function<bool()>& Done, int Ms = 30000) {
  QElapsedTimer Clock;
  Clock.start();
  while (!Done()) {
    if (Clock.elapsed() > Ms)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

} // namespace velatest
