// Polite shutdown on SIGTERM, SIGINT and SIGHUP (logging out, kill, Ctrl-C in
// a terminal). The signal handler only writes the signal's number into a
// pipe; the event loop watches the pipe and runs the shutdown on the main
// thread, where closing the windows is safe. A second signal ends the program
// at once, should the polite way hang.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace vela {

class TShutdownSignals : public QObject {
  Q_OBJECT
public:
  // Installs the handlers and unblocks the three signals (a parent may have
  // blocked them). Call first thing in main(): a signal that comes before
  // the watcher exists waits in the pipe.
  static void Install();

  // Runs OnSignal(signal number) on the main thread, once, for the first
  // signal. Needs Install() and the application object.
  explicit TShutdownSignals(std::function<void(int)> OnSignal, QObject* Parent = nullptr);
  ~TShutdownSignals() override;

private:
  void PipeReadable();

  std::function<void(int)> FOnSignal;
  QSocketNotifier* FNotifier = nullptr;
  bool FSignalled = false;
};

} // namespace vela
