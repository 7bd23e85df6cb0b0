// The port worker's cycle: what is written to the radio when, and where its
// replies go.
//
// Every cycle it writes one command to the radio (the driver's next command,
// or what the other program sent), then sleeps CycleMs, or until the expected
// end of a longer reply whose length it has learnt (untReplyLengths.h). A
// driver that says it will have nothing to write for a while (one following
// the radio's own reports) is not asked until then, unless it wakes the
// cycle for a command; the links are still looked at every LinkCheckMs.
// Replies go to whoever asked: the driver when the cycle last wrote the
// driver's command, the Virtual CAT port when it last wrote the other
// program's bytes. Before it writes, it waits for the line to fall quiet, so
// that a reply is never split, or mixed with another asker's. Since it writes
// only to a quiet line, it also knows where the line's silences were, exactly
// and whatever the main thread's delays: the first bytes after each such
// write come after one.
//
// Shared with another program (Virtual CAT), the other program's commands
// and the radio's replies to them are passed on as soon as the line allows,
// not at the next cycle, and as they come, not gathered until the line
// pauses: its clients time out, or flush their input, within tens of
// milliseconds, and each exchange of theirs waits for the one before. The driver's command, while
// it waits for the line, lets the other program's bytes go first; but the driver writes at least
// every DriverTurnMs however busy the other program is, and a command that
// must not wait (RequestTurn) goes at the line's next free moment.
//
// Unshared, a poll whose reply length the cycle has learnt is answered
// without the port's event thread: the radio port holds delivery, the cycle
// sleeps until the reply is due and, once it is whole, posts one
// synchronised call that hands it to the driver and asks for the next
// command; it takes that command when the line has been quiet and writes it.
// So a poll costs the worker a wake-up at the reply's end and one at the
// next write, and the main thread one call that wakes nobody. A
// reply that is not whole when due (a late or short answer, a line that
// stopped), or bytes the cycle did not ask for, end the hold: the event
// thread hands over what came, as it does for every other reply. A command
// that must not wait, or a reopened radio, is asked for afresh in place of a
// poll asked for early.
//
// Which thread calls what is written in untCommPortThread.h.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "cat/transport/CPortTypes.h"
#include "cat/untReplyLengths.h"

namespace vela {

class TComPort;
class TLinkSupervisor;

class TPortCycle {
public:
  // What the cycle asks of the worker that runs it.
  class THost {
  public:
    // The worker is to end.
    virtual bool Stopping() const = 0;
    // Checks and recovers the links, and tells the driver what changed.
    virtual void CheckLinks() = 0;
    // The driver's next command (empty: nothing to write this cycle).
    // Skipped: the cycles left out since the last ask, for which the driver
    // had said it would have nothing (DriverIdleAsks).
    virtual std::string AskDriver(int Skipped) = 0;
    // The same ask, in one synchronised call with the hand-over of the
    // radio's Count waiting bytes (the reply the worker took itself): first
    // the bytes, as the radio port's receive handler routes them, then the
    // ask. The call is posted, and TakeAskedCommand waits until it has run
    // and gives its command; every post is taken before the next ask.
    virtual void PostDeliverAndAsk(int Count, int Skipped) = 0;
    virtual std::string TakeAskedCommand() = 0;
    // After an ask that gave nothing: how many of the next asks would give
    // nothing either, unless the driver wakes the cycle (Wake) first.
    virtual int DriverIdleAsks() const = 0;
    // Whether the command the last AskDriver returned asks the radio for an
    // answer (a read, not a set or PTT command).
    virtual bool DriverCommandIsRead() const = 0;
    // The command the last AskDriver returned has been written to the radio.
    virtual void DriverCommandWritten() = 0;
    // Every block written to (Written) or read from the radio port.
    virtual void Trace(bool Written, const std::string& Data) = 0;
    // Bytes from the radio for the driver; AfterQuiet: the first since a
    // write to a quiet line. Count is what the port reported.
    virtual void DeliverToDriver(const std::string& Data, int Count, bool AfterQuiet) = 0;
    // Of a shared radio's bytes, in order: the messages the radio sent of its
    // own accord that they complete (an Icom's transceive broadcasts), whole;
    // they go to both sides, whoever asked.
    virtual std::string TakeUnsolicited(const std::string& Data) = 0;

  protected:
    ~THost() = default;
  };

  TPortCycle(THost& AHost, TLinkSupervisor& ALinks, TBaudRate ABaudRate);

  // The ports, owned by the worker; without a Virtual CAT port the radio is
  // not shared.
  void SetRadioPort(TComPort* APort) { FRadioPort = APort; }
  void SetVirtualPort(TComPort* APort);
  bool Shared() const { return FShared; }

  // Runs cycles until the host is stopping.
  void Run();
  // The driver has a command that must not wait: it is asked for it at the
  // line's next free moment, ahead of the other program's next batch.
  void RequestTurn();
  // The driver has a command after it said it would have none for a while:
  // it is asked at its next turn, as it would have been without the pause
  // (no earlier than a cycle after its last ask, and not ahead of the other
  // program). Any thread.
  void Wake();
  // The ports have Count bytes to read.
  void ReceiveFromRadio(int Count);
  void ReceiveFromVirtual(int Count);

  static constexpr int CycleMs = 50;
  // The line counts as quiet after no byte from the radio for the larger of
  // QuietMs and three byte-times at the baud rate (start bit, eight data
  // bits, two stop bits); a radio that never falls quiet is written to anyway
  // after the longest wait.
  static constexpr int QuietMs = 20;
  static std::int64_t QuietNs(TBaudRate ABaudRate);
  static constexpr int LongestWaitMs = 1000;
  // How often an idle shared cycle looks whether the current exchange is over.
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
  // While the driver has nothing to write, the worker still looks at the
  // links this often (a device gone, a radio fallen silent).
  static constexpr int LinkCheckMs = 250;

private:
  enum class TAsker : int { None, Driver, Virtual };
  // How a wait for the line ended.
  enum class TLineWait : int {
    lwQuiet,       // the line fell quiet
    lwLongestWait, // it never did; the command goes out anyway
    lwYielded,     // the other program's bytes came first
    lwEnded,       // the worker is to end, or there is nothing to write
  };

  void RunCycles();
  void RunSharedCycles();
  bool RadioOpen() const;
  // Asks the driver for its command into FDriverCommand: BeginAsk before the
  // call (it gives the asks left out), EndAsk with its command.
  void AskDriver();
  int BeginAsk();
  void EndAsk(std::string Command);
  // Takes the command of a posted ask (TakeReply) into FDriverCommand.
  void CollectAsk();
  // The length of the reply to Command that the cycle takes itself (0: the
  // event thread hands it over).
  int ReplyToTake(const std::string& Command) const;
  // After a write whose reply the port holds: waits until the reply is due
  // and, once it is whole, posts its hand-over with the ask for the next
  // command (true). Otherwise ends the hold and returns false.
  bool TakeReply(int Expected);
  void HoldReplies(bool On);
  // The driver said it has nothing for the next asks, and has not woken the
  // cycle since: until IdleEnd it is not asked (a requested turn aside).
  bool DriverIdle() const;
  std::chrono::steady_clock::time_point IdleEnd() const;
  // When the driver's command lets the other program's bytes go first.
  enum class TYield : int {
    yNever,
    yAlways,     // whenever the other program has bytes waiting
    yMidCommand, // only to finish a command of the other program's begun on the line
  };
  bool VirtualMidCommand() const;
  bool VirtualGoesFirst(TYield Yield);
  // Waits for the line, then writes Command to the radio on behalf of Asker,
  // unless it yields to the other program (as Yield says).
  // HoldReply: the port holds the reply's delivery for the cycle.
  TLineWait WriteCommand(TAsker Asker, const std::string& Command, TYield Yield,
                         bool HoldReply = false);
  void ForwardToVirtual();
  TLineWait WaitForQuietLine(TYield Yield, TAsker Next);
  void CloseQuietExchange();
  // Bytes from the radio have been routed: a wait for the line looks again.
  void NoteDelivery();
  // After a write that followed a quiet line: the last driver command's reply
  // was complete when Complete, and its length is kept; otherwise forgotten.
  void LearnReplyLength(bool Complete);
  // When the next plain cycle starts.
  std::chrono::steady_clock::time_point NextCycle() const;
  // Added to a reply's expected end, so that a look at the line then finds
  // it quiet rather than a fraction of a millisecond short.
  static constexpr int ReplyMarginMs = 2;

  THost& FHost;
  TLinkSupervisor& FLinks;
  TComPort* FRadioPort = nullptr;
  TComPort* FVirtualPort = nullptr;
  bool FShared = false;

  std::mutex FLock;              // guards FFromVirtual, FToVirtual, FLineWatched and
                                 // the count of FRadioDeliveries
  std::condition_variable FWake; // a forwarding queue got bytes, or a turn is asked for
  std::string FFromVirtual;
  std::string FToVirtual;
  // Deliveries of the radio's bytes so far (counted under FLock, read
  // without), and whether the worker waits for the line and wants to hear
  // of them.
  std::atomic<unsigned> FRadioDeliveries{0};
  bool FLineWatched = false;
  // RequestTurn was called and the driver has not been asked since (FLock
  // for the wait; read without it).
  std::atomic<bool> FTurnRequested{false};
  // Wake was called and the driver has not been asked since.
  std::atomic<bool> FWakeRequested{false};
  std::string FDriverCommand;
  // An ask posted with the last reply, not yet taken; FDriverCommand was
  // asked for with the last reply and is not written yet.
  bool FAskPosted = false;
  bool FCommandInHand = false;
  // How much later than its wire time the radio's last taken reply was
  // whole (a radio that takes time to answer); the next look waits for it.
  std::int64_t FAnswerLagNs = 0;
  // When the driver was last asked, and how many asks after it it said would
  // give nothing.
  std::int64_t FLastAskNs = 0;
  int FIdleAsks = 0;

  // Line bookkeeping for the reply routing (steady-clock nanoseconds).
  std::atomic<int> FAsker{static_cast<int>(TAsker::None)};
  // Who wrote the last command; kept when the exchange ends (FAsker None).
  std::atomic<int> FLastAsker{static_cast<int>(TAsker::None)};
  std::atomic<std::int64_t> FLastWriteNs{0};
  std::atomic<std::int64_t> FLastRxNs{0};
  // When the other program's bytes last arrived.
  std::atomic<std::int64_t> FLastVirtualRxNs{0};
  std::int64_t FQuietNs;
  // Writes made to a quiet line, and the count the last delivery saw.
  std::atomic<unsigned> FQuietWrites{0};
  unsigned FQuietWritesSeen = 0;

  TReplyLengths FReplyLengths;
  std::string FUnansweredPoll; // the driver's command last written, until the next write
  // Bytes received for the driver since the last write.
  std::atomic<int> FReplyBytes{0};
};

} // namespace vela
