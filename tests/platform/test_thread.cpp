#include "platform/untEvents.h"
#include "platform/untThread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace vela;

namespace {

class TLambdaThread : public TThread {
public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> Body) : FBody(std::move(Body)) {}
  ~TLambdaThread() override { ++Destroyed; }
  static inline std::atomic<int> Destroyed{0};

protected:
  void Execute() override { FBody(*this); }

private:
  std::function<void(TLambdaThread&)> FBody;
};

struct TReceiver {
  int Sum = 0;
  void Add(int A, int B) { Sum += A + B; }
};

struct TBase {
  virtual ~TBase() = default;
  virtual void Hook(int& Out) { Out = 1; }
};
struct TDerived : TBase {
  void Hook(int& Out) override { Out = 2; }
};

} // namespace

TEST(TMethodTest, AssignedCallClearAndVirtualDispatch) {
  TReceiver R;
  TMethod<int, int> Empty;
  EXPECT_FALSE(Empty.Assigned());
  Empty(1, 2); // calling an empty method pointer does nothing

  auto M = MakeMethod(&R, &TReceiver::Add);
  ASSERT_TRUE(M.Assigned());
  EXPECT_EQ(M.Data(), &R);
  M(2, 3);
  EXPECT_EQ(R.Sum, 5);
  M.Clear();
  EXPECT_FALSE(M.Assigned());
  EXPECT_EQ(M.Data(), nullptr);

  TDerived D;
  TMethod<int&> V(static_cast<TBase*>(&D), &TBase::Hook);
  int Out = 0;
  V(Out);
  EXPECT_EQ(Out, 2);
}

TEST(TThreadTest, CreatedSuspendedRunsOnStartAndTerminates) {
  std::atomic<int> Cycles{0};
  TLambdaThread T([&](TLambdaThread& Self) {
    while (!Self.Terminated()) {
      ++Cycles;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Cycles, 0);
  T.Start();
  ASSERT_TRUE(TThread::WaitWhileServing([&] { return Cycles > 2; }, 10000));
  T.Terminate();
  T.WaitFor();
  EXPECT_TRUE(T.Finished());
}

TEST(TThreadTest, SynchronizeRunsOnMainThreadServedByWaitFor) {
  std::atomic<bool> RanOnMain{false};
  TLambdaThread T(
      [&](TLambdaThread&) { TThread::Synchronize([&] { RanOnMain = TThread::IsMainThread(); }); });
  T.Start();
  T.WaitFor(); // would deadlock if the wait did not serve the call
  EXPECT_TRUE(RanOnMain);
}

TEST(TThreadTest, ExceptionInSynchronizedCallIsRethrownInCaller) {
  std::string Caught;
  TLambdaThread T([&](TLambdaThread&) {
    try {
      TThread::Synchronize([] { throw std::runtime_error("boom on main"); });
    } catch (const std::exception& E) {
      Caught = E.what();
    }
  });
  T.Start();
  T.WaitFor();
  EXPECT_EQ(Caught, "boom on main");
}

TEST(TThreadTest, PostedCallRunsOnMainThreadAndIsWaitedForLater) {
  // Posted from a thread that goes on meanwhile, run on the main thread in
  // the order posted among synchronised calls, its failure handed to Wait.
  std::vector<std::string> Order;
  std::string Caught;
  bool RanOnMain = false;
  TLambdaThread T([&](TLambdaThread&) {
    TPostedCall Call;
    Call.Post([&] {
      RanOnMain = TThread::IsMainThread();
      Order.push_back("posted");
    });
    TThread::Synchronize([&] { Order.push_back("synchronised"); });
    Call.Wait();
    Call.Post([] { throw std::runtime_error("boom posted"); });
    try {
      Call.Wait();
    } catch (const std::exception& E) {
      Caught = E.what();
    }
    // Posted and not waited for: the object waits as it goes.
    Call.Post([&] { Order.push_back("settled"); });
  });
  T.Start();
  T.WaitFor();
  EXPECT_TRUE(RanOnMain);
  EXPECT_EQ(Order, (std::vector<std::string>{"posted", "synchronised", "settled"}));
  EXPECT_EQ(Caught, "boom posted");
  // On the main thread it runs at once.
  TPostedCall Here;
  bool Ran = false;
  Here.Post([&] { Ran = true; });
  EXPECT_TRUE(Ran);
  Here.Wait();
}

TEST(TThreadTest, ExceptionOutOfExecuteEndsThreadAndIsKept) {
  TLambdaThread T([](TLambdaThread&) { throw std::runtime_error("body failed"); });
  T.Start();
  T.WaitFor();
  ASSERT_TRUE(T.FatalException());
  EXPECT_THROW(std::rethrow_exception(T.FatalException()), std::runtime_error);
}

TEST(TThreadTest, FreeOnTerminateDeletesItself) {
  const int Before = TLambdaThread::Destroyed;
  auto* T = new TLambdaThread([](TLambdaThread& Self) { Self.setFreeOnTerminate(true); });
  T->Start();
  ASSERT_TRUE(
      TThread::WaitWhileServing([&] { return TLambdaThread::Destroyed == Before + 1; }, 10000));
}

TEST(TThreadTest, QtEventLoopServesSynchronizedCalls) {
  int Argc = 1;
  char Name[] = "test";
  char* Argv[] = {Name, nullptr};
  QCoreApplication App(Argc, Argv);
  int Served = 0;
  TLambdaThread T([&](TLambdaThread&) {
    for (int I = 0; I < 5; ++I)
      TThread::Synchronize([&] { ++Served; });
    TThread::Synchronize([] { QCoreApplication::quit(); });
  });
  T.Start();
  QTimer::singleShot(30000, &App, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(App.exec(), 0);
  T.WaitFor();
  EXPECT_EQ(Served, 5);
}
