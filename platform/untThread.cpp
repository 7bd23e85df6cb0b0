#include "platform/untThread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace vela {

namespace {

// Static initialisation runs on the process's initial thread.
const std::thread::id MainThreadId = std::this_thread::get_id();

// One mutex and one condition for the queue and for every state change that
// a waiting main thread may be interested in; waits are short and rare. They
// are never destroyed: a free-on-terminate thread may still be signalling
// while the process exits.
std::mutex& SyncMutex() {
  static auto* M = new std::mutex;
  return *M;
}
std::condition_variable& SyncCondition() {
  static auto* C = new std::condition_variable;
  return *C;
}
std::deque<TSyncRequest*>& SyncQueue() {
  static auto* Q = new std::deque<TSyncRequest*>;
  return *Q;
}

void WakeEventLoop() {
  if (QCoreApplication* App = QCoreApplication::instance())
    QMetaObject::invokeMethod(
        App, [] { TThread::CheckSynchronize(0); }, Qt::QueuedConnection);
}

// Runs the queued calls; the caller holds Lock on entry and on return.
bool ServeQueue(std::unique_lock<std::mutex>& Lock) {
  if (SyncQueue().empty())
    return false;
  std::deque<TSyncRequest*> Batch;
  Batch.swap(SyncQueue());
  Lock.unlock();
  for (TSyncRequest* Request : Batch) {
    try {
      (*Request->Method)();
    } catch (...) {
      Request->Error = std::current_exception();
    }
  }
  Lock.lock();
  for (TSyncRequest* Request : Batch)
    Request->Done = true;
  // Woken after the lock is free, a waiter takes it at once instead of
  // waking only to wait for it again.
  Lock.unlock();
  SyncCondition().notify_all();
  Lock.lock();
  return true;
}

} // namespace

TThread::TThread() = default;

TThread::~TThread() {
  if (FStarted && !FFinished && FHandle.get_id() != std::this_thread::get_id()) {
    Terminate();
    WaitFor();
  }
  if (FHandle.joinable()) {
    if (FHandle.get_id() == std::this_thread::get_id())
      FHandle.detach();
    else
      FHandle.join();
  }
}

void TThread::Start() {
  bool Expected = false;
  if (!FStarted.compare_exchange_strong(Expected, true))
    return;
  std::lock_guard<std::mutex> Guard(FStartLock);
  FHandle = std::thread(&TThread::ThreadProc, this);
}

void TThread::ThreadProc() {
  // Start() holds the lock until FHandle has been assigned.
  { std::lock_guard<std::mutex> Guard(FStartLock); }
  try {
    Execute();
  } catch (...) {
    FFatalException = std::current_exception();
  }
  const bool FreeIt = FFreeOnTerminate;
  if (FreeIt) {
    // Detach before anyone can observe Finished, so the destructor (run here)
    // finds nothing to join.
    FHandle.detach();
  }
  {
    std::lock_guard<std::mutex> Guard(SyncMutex());
    FFinished = true;
  }
  SyncCondition().notify_all();
  if (FreeIt)
    delete this;
}

void TThread::WaitFor() {
  if (!FStarted)
    return;
  WaitWhileServing([this] { return FFinished.load(); });
  if (FHandle.joinable() && FHandle.get_id() != std::this_thread::get_id())
    FHandle.join();
}

bool TThread::IsMainThread() {
  return std::this_thread::get_id() == MainThreadId;
}

void TThread::Synchronize(const std::function<void()>& Method) {
  if (IsMainThread()) {
    Method();
    return;
  }
  TSyncRequest Request;
  Request.Method = &Method;
  {
    std::unique_lock<std::mutex> Lock(SyncMutex());
    SyncQueue().push_back(&Request);
    SyncCondition().notify_all();
  }
  WakeEventLoop();
  {
    std::unique_lock<std::mutex> Lock(SyncMutex());
    SyncCondition().wait(Lock, [&] { return Request.Done; });
  }
  if (Request.Error)
    std::rethrow_exception(Request.Error);
}

void TThread::Post(TSyncRequest& Request) {
  Request.Error = nullptr;
  Request.Done = false;
  if (IsMainThread()) {
    try {
      (*Request.Method)();
    } catch (...) {
      Request.Error = std::current_exception();
    }
    Request.Done = true;
    return;
  }
  {
    std::unique_lock<std::mutex> Lock(SyncMutex());
    SyncQueue().push_back(&Request);
    SyncCondition().notify_all();
  }
  WakeEventLoop();
}

void TThread::WaitPosted(TSyncRequest& Request) {
  {
    std::unique_lock<std::mutex> Lock(SyncMutex());
    SyncCondition().wait(Lock, [&] { return Request.Done; });
  }
  if (Request.Error)
    std::rethrow_exception(Request.Error);
}

void TPostedCall::Post(std::function<void()> Method) {
  Settle();
  FMethod = std::move(Method);
  FRequest.Method = &FMethod;
  FPosted = true;
  TThread::Post(FRequest);
}

void TPostedCall::Wait() {
  if (!FPosted)
    return;
  FPosted = false;
  TThread::WaitPosted(FRequest);
}

void TPostedCall::Settle() {
  try {
    Wait();
  } catch (...) {
  }
}

bool TThread::CheckSynchronize(int TimeoutMs) {
  if (!IsMainThread())
    return false;
  std::unique_lock<std::mutex> Lock(SyncMutex());
  if (SyncQueue().empty() && TimeoutMs > 0)
    SyncCondition().wait_for(Lock, std::chrono::milliseconds(TimeoutMs),
                             [] { return !SyncQueue().empty(); });
  return ServeQueue(Lock);
}

bool TThread::WaitWhileServing(const std::function<bool()>& Done, int TimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool Serve = IsMainThread();
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs < 0 ? 0 : TimeoutMs);
  for (;;) {
    if (Serve) {
      std::unique_lock<std::mutex> Lock(SyncMutex());
      ServeQueue(Lock);
    }
    // Done() runs without the queue lock, so it may take locks of its own; a
    // wake-up missed between this check and the wait costs one short slice.
    if (Done())
      return true;
    auto Slice = std::chrono::milliseconds(20);
    if (TimeoutMs >= 0) {
      const auto Now = Clock::now();
      if (Now >= Deadline)
        return false;
      Slice = std::min(Slice, std::chrono::duration_cast<std::chrono::milliseconds>(
                                  Deadline - Now + std::chrono::milliseconds(1)));
    }
    std::unique_lock<std::mutex> Lock(SyncMutex());
    if (Serve && !SyncQueue().empty())
      continue;
    SyncCondition().wait_for(Lock, Slice);
  }
}

void TThread::NotifyStateChange() {
  { std::lock_guard<std::mutex> Guard(SyncMutex()); }
  SyncCondition().notify_all();
}

} // namespace vela
