// The port worker: owns the radio port and, with Virtual CAT on, the port
// through which another program shares the radio, and paces the conversation.
//
// Every cycle it writes one command to the radio (the driver's next command,
// or what the other program sent), then sleeps 50 ms, or until the expected
// end of a longer reply whose length it has learnt. Replies go to whoever
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
//
// It also keeps each port's link state (see untLinkState.h) and recovers a
// port that is missing, refused or lost by itself: it closes it, resolves
// COMn again and retries the open once a second, after a minute of failures
// every five seconds. A failed read, write, receive handler or command call
// counts as lost; it never ends the worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cat/untLinkState.h"
#include "platform/untComponent.h"
#include "platform/untEvents.h"
#include "platform/untThread.h"
#include "cat/transport/CPortTypes.h"

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
// Sender (the worker): a link's state changed; the radio port reopened.
using TLinkEvent = TMethod<TObject*>;
// Sender (the worker), Written (true: bytes written to the radio; false: bytes
// read from it), Data.
using TPortTraceEvent = TMethod<TObject*, bool, std::string>;

// Shared between a driver and its worker, so that the driver never touches a
// worker that has freed itself, and can wait until the worker has closed its
// ports. The worker clears Thread when its destruction begins and sets Ended
// once its ports are closed.
class TCommPortThreadHandle {
public:
  std::mutex Lock;
  TCommPortThread* Thread = nullptr;
  std::atomic<bool> Ended{false};

  // Which of the driver's commands reached the line. Every call of the
  // command hook has a number (Asks, counted on the main thread before the
  // hook runs); the driver names the one it wants to hear of in Watch, and
  // the worker copies that number into Written once the command has been
  // written to the radio port. A command that is dropped (the port went
  // away, the write failed) never shows up there.
  std::atomic<std::uint64_t> Asks{0};
  std::atomic<std::uint64_t> Watch{0};
  std::atomic<std::uint64_t> Written{0};

  // The worker's latest link snapshots (any thread); they outlive it. A
  // silent link's seconds are counted up to the call.
  TLinkStatus Link(TLinkRole Role) const;
  void setLink(TLinkRole Role, const TLinkStatus& Status);

private:
  mutable std::mutex FLinkLock;
  TLinkStatus FRadioLink;
  TLinkStatus FVirtualLink;
};

class TCommPortThread : public TThread {
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
  void RequestTurn();

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
  // After the other program's bytes, the driver's next poll waits this long,
  // but the driver writes at least every DriverTurnMs however busy the other
  // program is: its polls keep the radio's values true, and its tune and PTT
  // commands must not wait for the other program to fall silent.
  static constexpr int VirtualHoldMs = 200;
  static constexpr int DriverTurnMs = 250;
  // Write time-out of the Virtual CAT port.
  static constexpr int VirtualWriteTimeoutMs = 200;
  // Retry pacing of a port that is missing, refused or lost: every RetryMs,
  // and every SlowRetryMs once it has failed for SlowAfterMs. Process-wide;
  // tests shorten it to run many cycles.
  static void SetRetryTiming(int RetryMs, int SlowAfterMs, int SlowRetryMs);

protected:
  void Execute() override;

private:
  enum class TAsker : int { None, Driver, Virtual };

  // The link health of one port. The atomics are written by the main thread
  // (receive handlers) as well; the rest belongs to the worker thread.
  struct TLink {
    explicit TLink(TLinkRole ARole) : Role(ARole) {}
    TLinkRole Role;
    // A failure seen on the open port: an errno, or -1 for one without
    // (text in FailureText, under FLinkLock).
    std::atomic<int> Failure{0};
    std::string FailureText;
    // The last byte from the peer since the port opened (radio: no echo).
    std::atomic<std::int64_t> LastRxNs{0};
    int OpenError = 0; // errno of the last failed open
    int LostError = 0; // the failure that closed the port (-1: FailureText)
    bool Lost = false; // closed because it failed, not yet retried
    std::int64_t FailingSinceNs = 0;
    std::int64_t NextTryNs = 0;
    std::string Where; // "COM3 → /dev/ttyUSB0" at the last open attempt
    std::string Device;
    std::string Path; // what the port's name resolved to then
    std::int64_t NextResolveNs = 0;
    bool Dirty = true; // opened, closed or failed since the last publish
    // A network port opened and still connecting: not yet open for the
    // link's state; a failure to connect counts as a failed open.
    bool Connecting = false;
    TLinkStatus Published;
  };

  static std::unique_ptr<TComPort> MakePort(TComponent* AOwner, int APort, TBaudRate ABaudRate,
                                            const TRxCharEvent& AHandler, int AWriteTimeoutMs = 0,
                                            TLinePolicy ADTR = lpOn, TLinePolicy ARTS = lpOn,
                                            const TRadioPortFactory& AMakePort = nullptr);
  // One open attempt; true when the port is open. Paces the next on failure.
  bool TryOpen(TLink& Link, TComPort& Port);
  static void RetryLater(TLink& Link, std::int64_t Now);
  // A network port that was connecting has connected, or failed to: the
  // failure counts as a failed open.
  static void CheckConnecting(TLink& Link, TComPort& Port, std::int64_t Now);
  static void ClosePort(std::unique_ptr<TComPort>& APort);
  // Closes a failed port, reopens one whose retry is due, and publishes the
  // states; then tells the driver, on the main thread, what changed.
  void CheckLinks();
  bool CheckLink(TLink& Link, TComPort& Port, std::int64_t Now);
  bool Publish(TLink& Link, TComPort& Port, std::int64_t Now);
  void NoteFailure(TLink& Link, std::exception_ptr Failure);
  void NoteFailure(TLink& Link, int Errno);
  bool RadioOpen() const;
  // Asks the driver for its command; a failure counts against the link.
  void AskDriver();
  void Trace(bool Written, const std::string& Data);
  // True when Data holds a byte that is not the echo of the last command.
  bool IsAnswer(const std::string& Data);
  void ReceiveFromRadio(int Count);
  void ReceiveFromVirtual(int Count);
  void RunCycles();
  void RunSharedCycles();
  // When the driver's command lets the other program's bytes go first.
  enum class TYield : int {
    yNever,
    yAlways,     // whenever the other program has bytes waiting
    yMidCommand, // only to finish a command of the other program's begun on the line
  };
  bool VirtualMidCommand() const;
  bool VirtualGoesFirst(TYield Yield);
  // How a wait for the line ended.
  enum class TLineWait : int {
    lwQuiet,       // the line fell quiet
    lwLongestWait, // it never did; the command goes out anyway
    lwYielded,     // the other program's bytes came first
    lwEnded,       // the worker is to end, or there is nothing to write
  };
  // Waits for the line, then writes Command to the radio on behalf of Asker,
  // unless it yields to the other program (as Yield says).
  TLineWait WriteCommand(TAsker Asker, const std::string& Command, TYield Yield);
  void ForwardToVirtual();
  TLineWait WaitForQuietLine(TYield Yield, TAsker Next);
  void CloseQuietExchange();

  std::mutex FLock;              // guards FFromVirtual and FToVirtual
  std::condition_variable FWake; // a forwarding queue got bytes
  TPortDataEvent FOnPortData;
  TGetCommandEvent FOnGetCommand;
  TLineQuietEvent FOnLineQuiet;
  TLinkEvent FOnReopened;
  TLinkEvent FOnLinkChange;
  std::mutex FTraceLock; // guards FOnTrace
  TPortTraceEvent FOnTrace;
  std::unique_ptr<TComPort> FRadioPort;
  std::string FCommand;
  // The hook call FCommand came from (FHandle->Asks then); worker thread.
  std::uint64_t FCommandAsk = 0;
  // RequestTurn was called and the driver has not been asked since (FLock
  // for the wait; read without it).
  std::atomic<bool> FTurnRequested{false};
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

  // Link health.
  TLink FRadioLink{TLinkRole::lrRadio};
  TLink FVirtualLink{TLinkRole::lrVirtual};
  int FBaud;
  bool FNotifyPending = true; // the first check tells the driver the states
  // The first of the driver's commands written since the radio's last
  // answer (worker thread).
  std::int64_t FFirstUnansweredNs = 0;
  // The command last written, whose echo is no answer, and how much of it
  // has come back (FLinkLock).
  std::mutex FLinkLock;
  std::string FEcho;
  std::size_t FEchoAt = 0;

  // The driver polls with the same few commands over and over; the length
  // of each one's last complete reply (echo included) tells the radio port
  // how long a burst to gather before it hands the reply over, so that a
  // reply paced by the line reaches the main thread once, not in pieces.
  // Worker thread only.
  // A length counts once two replies in a row had it (garbage or a reply
  // cut short is never taken for the norm), and only up to a size no CAT
  // reply reaches.
  static constexpr std::size_t MaxKnownReplies = 16;
  static constexpr int MaxReplyLength = 256;
  struct TReplyLength {
    std::string Command;
    int Bytes = 0;
    bool Confirmed = false;
  };
  std::vector<TReplyLength> FReplyLengths;
  std::string FUnansweredPoll; // the driver's command last written, until the next write
  // Bytes received for the driver since the last write (main thread adds).
  std::atomic<int> FReplyBytes{0};
  // After a write that followed a quiet line: the last driver command's reply
  // was complete when Complete, and its length is kept; otherwise forgotten.
  void LearnReplyLength(bool Complete);
  int ExpectedReplyLength(const std::string& Command) const;
  // When the worker's next cycle starts.
  std::chrono::steady_clock::time_point NextCycle() const;
  // Added to a reply's expected end, so that a look at the line then finds
  // it quiet rather than a fraction of a millisecond short.
  static constexpr int ReplyMarginMs = 2;
};

} // namespace vela
