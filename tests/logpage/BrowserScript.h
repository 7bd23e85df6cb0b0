// Reading the page from a test: runs a script in the program's isolated world
// and spins the event loop until its answer comes (the program itself never
// waits on the page). An unanswered call gives an invalid QVariant.
#pragma once

#include "logpage/untWebBrowser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QVariant>
#include <memory>
#include <string>

namespace velatest {

inline QVariant RunScript(vela::TWebBrowser& Browser, const QString& Script,
                          int TimeoutMs = 30000) {
  struct TAnswer {
    bool Done = false;
    QVariant Result;
  };
  auto Answer = std::make_shared<TAnswer>();
  Browser.CallScript(Script, [Answer](bool Answered, const QVariant& Result) {
    Answer->Done = true;
    if (Answered)
      Answer->Result = Result;
  });
  QElapsedTimer Timer;
  Timer.start();
  while (!Answer->Done && Timer.elapsed() < TimeoutMs)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return Answer->Result;
}

inline QVariant RunScript(vela::TWebBrowser& Browser, const std::string& Script) {
  return RunScript(Browser, QString::fromStdString(Script));
}
inline QVariant RunScript(vela::TWebBrowser& Browser, const char* Script) {
  return RunScript(Browser, QString::fromUtf8(Script));
}

} // namespace velatest
