// The port worker: owns the radio port and, with Virtual CAT on, the port
// through which another program shares the radio, and runs the conversation
// on its own thread. It knows nothing of radio protocols; it moves bytes and
// calls the driver's hooks. Its jobs, each in its own unit:
//   untPortCycle.h       what is written when, the Virtual CAT turn rule, the
//                        wait for a quiet line, and where replies go;
//   untLinkSupervisor.h  each port's link state, its retries and reopening;
//   untReplyLengths.h    the learnt reply length of each poll.
// This class makes and closes the ports and wires the parts to the driver.
//
// Which thread runs what:
// - The worker thread runs the cycle (Execute): it checks and reopens the
//   links, asks the driver for commands, writes to both ports and waits. The
//   link records, the reply lengths and the command waiting to be written
//   are its own.
// - The main thread runs every driver hook: the command hook (DoGetCommand),
//   OnReopened and OnLinkChange through synchronised calls that the worker
//   waits for; and the ports' receive handlers (RadioPortRxChar,
//   VirtualPortRxChar), which read the port, route the bytes, and call
//   OnLineQuiet and OnPortData. A poll's reply that the worker takes itself
//   goes through the same radio receive handler, in the synchronised call
//   that then asks for the next command. The driver empties the hooks on the
//   main thread when it stops the worker.
// - Each open port's event thread only waits for bytes and hands them to the
//   main thread, unless the worker holds the radio port's delivery for a
//   reply it takes itself; the worker reads the line failure it records.
// - Any thread may call RequestTurn, Wake, setOnTrace and the handle's Link.
// What guards what between them:
// - The cycle's lock guards the two forwarding queues and the wait for a
//   requested turn; its condition variable wakes the worker for either.
// - Atomics carry the line bookkeeping between the worker (who asked last,
//   when it wrote, how many writes went to a quiet line) and the main thread
//   (when bytes arrived, how many came for the driver), and each link's
//   first failure (either thread; the first wins) and last answer.
// - The supervisor's lock guards the echo of the last command (written by the
//   worker, compared by the main thread) and the failure texts.
// - The trace lock guards OnTrace; the handle's lock guards its pointer to
//   the worker against the worker's destruction, and the link snapshots
//   have their own.
// A failed read, write, receive handler or command call counts against its
// link (the port is reopened); it never ends the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "cat/transport/CPortTypes.h"
#include "cat/untCommPortThreadHandle.h"
#include "cat/untLinkState.h"
#include "cat/untLinkSupervisor.h"
#include "cat/untPortCycle.h"
#include "platform/untComponent.h"
#include "platform/untEvents.h"
#include "platform/untThread.h"

namespace vela {

class TComPort;
class TCommPortThread;

// Sender (the worker), Data (the bytes read), Count (the count the port reported).
using TPortDataEvent = TMethod<TObject*, std::string, int>;
// Sender (the worker), Command (in-out, empty on entry).
using TGetCommandEvent = TMethod<TObject*, std::string&>;
// Sender (the worker).
using TLineQuietEvent = TMethod<TObject*>;
// Sender (the worker), Data (the bytes read), Unsolicited (out, empty on
// entry: the radio's own messages that Data completes).
using TUnsolicitedEvent = TMethod<TObject*, std::string, std::string&>;
// Makes the radio port, unopened, for a radio that is not on a serial line
// (a network connection with the serial port's surface). It may be called
// on any thread, so it carries its settings with it.
using TRadioPortFactory = std::function<std::unique_ptr<TComPort>()>;
// Sender (the worker): a link's state changed; the radio port reopened.
using TLinkEvent = TMethod<TObject*>;
// Sender (the worker), Written (true: bytes written to the radio; false: bytes
// read from it), Data.
using TPortTraceEvent = TMethod<TObject*, bool, std::string>;

class TCommPortThread : public TThread, private TPortCycle::THost {
public:
  // Opens the ports (failures are dropped: a port that does not open stays
  // closed and the worker still runs its cycles). AVirtualPort <= 0: no
  // forwarding. ADTR and ARTS say what the radio port does with its modem
  // lines (an interface may key the transmitter from one); the Virtual CAT
  // port raises both. The thread is created suspended; set the hooks, then
  // Start(). With AMakeRadioPort the radio port is made by it instead of
  // COM<ARadioPort>.
  TCommPortThread(TComponent* AOwner, int ARadioPort, int AVirtualPort, TBaudRate ABaudRate,
                  std::shared_ptr<TCommPortThreadHandle> AHandle = nullptr, TLinePolicy ADTR = lpOn,
                  TLinePolicy ARTS = lpOn, const TRadioPortFactory& AMakeRadioPort = nullptr);
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
  // With Virtual CAT on: picks the radio's own messages out of every block
  // read from it, which then reach the driver and the other program alike,
  // whoever asked (main thread). Unassigned, every byte is a reply.
  TUnsolicitedEvent OnUnsolicited() const { return FOnUnsolicited; }
  void setOnUnsolicited(const TUnsolicitedEvent& Value) { FOnUnsolicited = Value; }
  // Main thread, after the radio port reopened by itself and before the
  // first command to it: the radio's state is unknown again.
  TLinkEvent OnReopened() const { return FOnReopened; }
  void setOnReopened(const TLinkEvent& Value) { FOnReopened = Value; }
  // Main thread, after either link's state changed, and once at the start.
  TLinkEvent OnLinkChange() const { return FOnLinkChange; }
  void setOnLinkChange(const TLinkEvent& Value) { FOnLinkChange = Value; }
  // Every block written to or read from the radio port, on the thread that
  // moves it (the worker's for writes, the main thread for reads). May be set
  // from any thread while the worker runs.
  void setOnTrace(const TPortTraceEvent& Value);

  // The driver has a command that must not wait (keying or releasing the
  // transmitter): it is asked for it at the line's next free moment, ahead
  // of the other program's next batch. Any thread.
  void RequestTurn() { FCycle.RequestTurn(); }
  // The driver has a command after it said it would have none for a while
  // (the handle's IdleAsks): the worker asks it at its next turn. Any thread.
  void Wake() { FCycle.Wake(); }

  bool VirtualEnabled() const { return FCycle.Shared(); }
  // Main thread only, while the worker is alive.
  bool RadioPortConnected() const;
  bool VirtualPortConnected() const;

  // Receive handlers of the two ports (main thread).
  void RadioPortRxChar(TObject* Sender, int Count);
  void VirtualPortRxChar(TObject* Sender, int Count);
  // Runs on the main thread through the synchronised call.
  void DoGetCommand();

  // The cycle's timing (see untPortCycle.h).
  static std::int64_t QuietNs(TBaudRate ABaudRate) { return TPortCycle::QuietNs(ABaudRate); }
  static constexpr int LongestWaitMs = TPortCycle::LongestWaitMs;
  // Write time-out of the Virtual CAT port.
  static constexpr int VirtualWriteTimeoutMs = 200;
  // Retry pacing of a port that is missing, refused or lost: every RetryMs,
  // and every SlowRetryMs once it has failed for SlowAfterMs. Process-wide;
  // tests shorten it to run many cycles.
  static void SetRetryTiming(int RetryMs, int SlowAfterMs, int SlowRetryMs) {
    TLinkSupervisor::SetRetryTiming(RetryMs, SlowAfterMs, SlowRetryMs);
  }

protected:
  void Execute() override;

private:
  static std::unique_ptr<TComPort> MakePort(TComponent* AOwner, int APort, TBaudRate ABaudRate,
                                            const TRxCharEvent& AHandler, int AWriteTimeoutMs = 0,
                                            TLinePolicy ADTR = lpOn, TLinePolicy ARTS = lpOn,
                                            const TRadioPortFactory& AMakePort = nullptr);
  static void ClosePort(std::unique_ptr<TComPort>& APort);

  // The cycle's host.
  bool Stopping() const override { return Terminated(); }
  // Then tells the driver, on the main thread, what changed.
  void CheckLinks() override;
  // A failure of the hook counts against the radio's link.
  std::string AskDriver(int Skipped) override;
  void PostDeliverAndAsk(int Count, int Skipped) override;
  std::string TakeAskedCommand() override;
  int DriverIdleAsks() const override { return FHandle->IdleAsks.load(); }
  bool DriverCommandIsRead() const override { return FHandle->CommandIsRead.load(); }
  void DriverCommandWritten() override;
  void Trace(bool Written, const std::string& Data) override;
  void DeliverToDriver(const std::string& Data, int Count, bool AfterQuiet) override;
  std::string TakeUnsolicited(const std::string& Data) override;
  // The radio port reopened by itself: the driver starts afresh.
  void RadioReopened();

  TPortDataEvent FOnPortData;
  TGetCommandEvent FOnGetCommand;
  TLineQuietEvent FOnLineQuiet;
  TUnsolicitedEvent FOnUnsolicited;
  TLinkEvent FOnReopened;
  TLinkEvent FOnLinkChange;
  std::mutex FTraceLock; // guards FOnTrace
  TPortTraceEvent FOnTrace;
  std::shared_ptr<TCommPortThreadHandle> FHandle;
  TLinkSupervisor FLinks;
  TPortCycle FCycle;
  std::unique_ptr<TComPort> FRadioPort;
  std::unique_ptr<TComPort> FVirtualPort;
  // The command hook's output, and the call it came from (FHandle->Asks
  // then).
  std::string FCommand;
  std::uint64_t FCommandAsk = 0;
  // The hand-over of a reply with the next ask (PostDeliverAndAsk).
  TPostedCall FAsk;
};

} // namespace vela
