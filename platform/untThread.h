// A thread object with a terminate flag, free-on-terminate, and a call that
// runs a function on the main thread while the calling thread waits.
//
// The main thread is the process's initial thread. It serves synchronised
// calls from its Qt event loop (when a QCoreApplication exists) and from every
// wait that it does for another thread through WaitWhileServing / WaitFor, so
// a thread blocked in Synchronize can always finish: closing a port or
// stopping a worker from the main thread never deadlocks.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/untObject.h"

namespace vela {

class TThread : public TObject {
public:
  // Threads are always created suspended; Start() runs Execute().
  TThread();
  virtual ~TThread();

  void Start();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  bool Started() const { return FStarted; }
  bool Finished() const { return FFinished; }

  // When set, the object deletes itself on its own thread after Execute()
  // returns. Nobody else may then touch it once it may have finished.
  bool FreeOnTerminate() const { return FFreeOnTerminate; }
  void setFreeOnTerminate(bool Value) { FFreeOnTerminate = Value; }

  // An exception that escaped Execute() (the thread then ended).
  std::exception_ptr FatalException() const { return FFatalException; }

  // Waits until Execute() has returned. On the main thread it keeps serving
  // synchronised calls while it waits. Not for free-on-terminate threads.
  void WaitFor();

  // Runs Method on the main thread and blocks until it has run. An exception
  // thrown by Method is re-thrown here. On the main thread it runs at once.
  static void Synchronize(const std::function<void()>& Method);

  static bool IsMainThread();

  // Main thread only: runs the synchronised calls that are queued, waiting up
  // to TimeoutMs for the first one. Returns true if any call ran.
  static bool CheckSynchronize(int TimeoutMs = 0);

  // Main thread: serves synchronised calls until Done() is true or TimeoutMs
  // (negative: no limit) has passed; returns Done(). Other threads: waits the
  // same way without serving. Done() is re-checked whenever NotifyStateChange
  // is called or a call was served, and at least every 20 ms.
  static bool WaitWhileServing(const std::function<bool()>& Done, int TimeoutMs = -1);

  // Wakes every WaitWhileServing so that it re-checks its condition.
  static void NotifyStateChange();

protected:
  virtual void Execute() = 0;

private:
  void ThreadProc();

  std::mutex FStartLock;
  std::thread FHandle;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FFreeOnTerminate{false};
  std::exception_ptr FFatalException;
};

} // namespace vela
