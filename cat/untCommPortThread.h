// The port worker: owns the radio port and, with Virtual CAT on, the port
// through which another program shares the radio, and paces the conversation.
//
// Every cycle it writes one command to the radio (the driver's next command,
// or what the other program sent), then sleeps 50 ms. Replies go to whoever
// asked: the driver's parser when the worker last wrote the driver's command,
// the Virtual CAT port when it last wrote the other program's bytes. The
// worker also waits for the line to fall quiet before it writes, so that a
// reply is never split, or mixed with another asker's. With Virtual CAT on,
// the other program's commands and the radio's replies to them are passed on
// as soon as the line allows, not at the next cycle.
//
// The worker knows nothing of radio protocols; it moves bytes and calls its
// hooks, all on the main thread. Since it writes only to a quiet line, it
// also knows where the line's silences were, exactly and whatever the main
// thread's delays: the first bytes after each such write come after one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/untComponent.h"
#include "platform/untEvents.h"
#include "platform/untThread.h"
#include "serial/CPortTypes.h"

namespace vela {

class TComPort;
class TCommPortThread;

// Sender (the worker), Data (the bytes read), Count (the count the port reported).
using TPortDataEvent = TMethod<TObject*, std::string, int>;
// Sender (the worker), Command (in-out, empty on entry).
using TGetCommandEvent = TMethod<TObject*, std::string&>;
// Sender (the worker).
using TLineQuietEvent = TMethod<TObject*>;
// Makes the radio port, unopened, for a radio that is not on a serial line
// (a network connection with the serial port's surface). It may be called
// on any thread, so it carries its settings with it.
using TRadioPortFactory = std::function<std::unique_ptr<TComPort>()>;

// Shared between a driver and its worker, so that the driver never touches a
// worker that has freed itself, and can wait until the worker has closed its
// ports. The worker clears Thread when its destruction begins and sets Ended
// once its ports are closed.
class TCommPortThreadHandle {
public:
  std::mutex Lock;
  TCommPortThread* Thread = nullptr;
  std::atomic<bool> Ended{false};
};

class TCommPortThread : public TThread {
public:
  // Opens the ports (failures are dropped: a port that does not open stays
  // closed and the worker still runs its cycles). AVirtualPort <= 0: no
  // forwarding. The thread is created suspended; set the hooks, then Start().
  // With AMakeRadioPort the radio port is made by it instead of COM<ARadioPort>.
  TCommPortThread(TComponent* AOwner, int ARadioPort, int AVirtualPort, TBaudRate ABaudRate,
                  std::shared_ptr<TCommPortThreadHandle> AHandle = nullptr,
                  const TRadioPortFactory& AMakeRadioPort = nullptr);
  ~TCommPortThread() override;

  TPortDataEvent OnPortData() const { return FOnPortData; }
  void setOnPortData(const TPortDataEvent& Value) { FOnPortData = Value; }
  TGetCommandEvent OnGetCommand() const { return FOnGetCommand; }
  void setOnGetCommand(const TGetCommandEvent& Value) { FOnGetCommand = Value; }
  // Called just before OnPortData hands over the first bytes received since
  // the worker wrote a command to a quiet line: the line was silent for at
  // least QuietNs() before them. Later pieces of the same reply follow
  // without it.
  TLineQuietEvent OnLineQuiet() const { return FOnLineQuiet; }
  void setOnLineQuiet(const TLineQuietEvent& Value) { FOnLineQuiet = Value; }

  bool VirtualEnabled() const { return FVirtualEnabled; }
  // Main thread only, while the worker is alive.
  bool RadioPortConnected() const;
  bool VirtualPortConnected() const;

  // Receive handlers of the two ports (main thread).
  void RadioPortRxChar(TObject* Sender, int Count);
  void VirtualPortRxChar(TObject* Sender, int Count);
  // Runs on the main thread through the synchronised call.
  void DoGetCommand();

  static constexpr int CycleMs = 50;
  // The line counts as quiet after no byte from the radio for the larger of
  // QuietMs and three byte-times at the baud rate (start bit, eight data
  // bits, two stop bits); a radio that never falls quiet is written to anyway
  // after the longest wait.
  static constexpr int QuietMs = 20;
  static std::int64_t QuietNs(TBaudRate ABaudRate);
  static constexpr int LongestWaitMs = 1000;
  // How often an idle worker looks whether the current exchange is over.
  static constexpr int ExchangeCheckMs = 5;
  // Upper bound of each forwarding queue.
  static constexpr std::size_t MaxQueueBytes = 64 * 1024;
  // Most bytes taken from a queue for one write.
  static constexpr std::size_t MaxChunkBytes = 1024;
  // After the other program's bytes, the driver's next poll waits this long.
  static constexpr int VirtualHoldMs = 200;
  // Write time-out of the Virtual CAT port.
  static constexpr int VirtualWriteTimeoutMs = 200;

protected:
  void Execute() override;

private:
  enum class TAsker : int { None, Driver, Virtual };

  static std::unique_ptr<TComPort> OpenPort(TComponent* AOwner, int APort, TBaudRate ABaudRate,
                                            const TRxCharEvent& AHandler, int AWriteTimeoutMs = 0,
                                            const TRadioPortFactory& AMakePort = nullptr);
  static void ClosePort(std::unique_ptr<TComPort>& APort);
  void RunCycles();
  void RunSharedCycles();
  // How a wait for the line ended.
  enum class TLineWait : int {
    lwQuiet,       // the line fell quiet
    lwLongestWait, // it never did; the command goes out anyway
    lwYielded,     // the other program's bytes came first
    lwEnded,       // the worker is to end, or there is nothing to write
  };
  // Waits for the line, then writes Command to the radio on behalf of Asker,
  // unless it yields to the other program (only when YieldToVirtual).
  TLineWait WriteCommand(TAsker Asker, const std::string& Command, bool YieldToVirtual);
  void ForwardToVirtual();
  TLineWait WaitForQuietLine(bool YieldToVirtual);
  void CloseQuietExchange();

  std::mutex FLock;              // guards FFromVirtual and FToVirtual
  std::condition_variable FWake; // a forwarding queue got bytes
  TPortDataEvent FOnPortData;
  TGetCommandEvent FOnGetCommand;
  TLineQuietEvent FOnLineQuiet;
  std::unique_ptr<TComPort> FRadioPort;
  std::string FCommand;
  std::unique_ptr<TComPort> FVirtualPort;
  std::string FFromVirtual;
  std::string FToVirtual;
  bool FVirtualEnabled = false;
  std::shared_ptr<TCommPortThreadHandle> FHandle;

  // Line bookkeeping for the reply routing (written by the worker on writes,
  // by the main thread on receives; steady-clock nanoseconds).
  std::atomic<int> FAsker{static_cast<int>(TAsker::None)};
  std::atomic<std::int64_t> FLastWriteNs{0};
  std::atomic<std::int64_t> FLastRxNs{0};
  std::int64_t FQuietNs;
  // Writes made to a quiet line (counted by the worker), and the count the
  // last delivery saw (main thread only).
  std::atomic<unsigned> FQuietWrites{0};
  unsigned FQuietWritesSeen = 0;
};

} // namespace vela
