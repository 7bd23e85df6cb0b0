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

// One call queued for the main thread (Synchronize, TPostedCall).
struct TSyncRequest {
  const std::function<void()>* Method = nullptr;
  std::exception_ptr Error;
  bool Done = false;
};

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
  // Queues Request for the main thread without waiting (main thread: runs
  // it at once); WaitPosted then waits until it has run and re-throws its
  // exception. See TPostedCall.
  static void Post(TSyncRequest& Request);
  static void WaitPosted(TSyncRequest& Request);

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

// A synchronised call in two steps, for a thread that has something else to
// wait for meanwhile: Post queues Method for the main thread, which runs it
// at its next turn as it runs Synchronize's calls, and returns at once; Wait
// blocks until it has run and re-throws its exception. A call that has run
// by the time Wait comes costs the caller no wake-up of its own. Every Post
// is waited for before the next Post and before the object goes.
class TPostedCall {
public:
  TPostedCall() = default;
  TPostedCall(const TPostedCall&) = delete;
  TPostedCall& operator=(const TPostedCall&) = delete;
  ~TPostedCall() { Settle(); }

  void Post(std::function<void()> Method);
  void Wait();
  bool Posted() const { return FPosted; }

private:
  // Waits without re-throwing (the destructor).
  void Settle();
  std::function<void()> FMethod;
  TSyncRequest FRequest;
  bool FPosted = false;
};

} // namespace vela
