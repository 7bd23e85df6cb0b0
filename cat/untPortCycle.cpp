#include "cat/untPortCycle.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "cat/transport/CPort.h"
#include "cat/untLinkSupervisor.h"
#include "cat/untPortClock.h"

#include <cerrno>

namespace vela {

namespace {

// Takes up to MaxChunkBytes from the front of a forwarding queue.
std::string TakeChunk(std::string& Queue) {
  std::string Chunk;
  if (Queue.size() <= TPortCycle::MaxChunkBytes) {
    Chunk.swap(Queue);
  } else {
    Chunk = Queue.substr(0, TPortCycle::MaxChunkBytes);
    Queue.erase(0, TPortCycle::MaxChunkBytes);
  }
  return Chunk;
}

// Appends to a forwarding queue, keeping only the newest bytes when a side
// floods faster than the other end takes them, so memory stays bounded.
void AppendBounded(std::string& Queue, const std::string& Data) {
  Queue += Data;
  if (Queue.size() > TPortCycle::MaxQueueBytes)
    Queue.erase(0, Queue.size() - TPortCycle::MaxQueueBytes);
}

} // namespace

TPortCycle::TPortCycle(THost& AHost, TLinkSupervisor& ALinks, TBaudRate ABaudRate)
    : FHost(AHost), FLinks(ALinks), FQuietNs(QuietNs(ABaudRate)) {}

void TPortCycle::SetVirtualPort(TComPort* APort) {
  FVirtualPort = APort;
  FShared = APort != nullptr;
  // The other program's bytes go to the radio as soon as the line allows, so
  // they are handed over as they come: a command gathered until the line
  // pauses would wait a few milliseconds for nothing, in every exchange.
  if (APort)
    APort->setGatherGapMs(0);
}

std::int64_t TPortCycle::QuietNs(TBaudRate ABaudRate) {
  constexpr std::int64_t BitsPerByte = 11;
  const std::int64_t Baud = BaudRateToInt(ABaudRate);
  const std::int64_t ThreeBytesNs = Baud > 0 ? 3 * BitsPerByte * 1000000000 / Baud : 0;
  return std::max(MsToNs(QuietMs), ThreeBytesNs);
}

bool TPortCycle::RadioOpen() const {
  // A network port that is still connecting takes no commands yet.
  return FRadioPort->Connected() && !FLinks.RadioConnecting();
}

void TPortCycle::Run() {
  if (FShared)
    RunSharedCycles();
  else
    RunCycles();
  CollectAsk();
}

int TPortCycle::BeginAsk() {
  FTurnRequested = false;
  FWakeRequested = false;
  const std::int64_t Now = NowNs();
  // The asks left out while the driver had nothing: the whole cycles since
  // its last ask beyond the first, no more than it said it would let go.
  int Skipped = 0;
  if (FIdleAsks > 0)
    Skipped = static_cast<int>(
        std::clamp<std::int64_t>((Now - FLastAskNs) / MsToNs(CycleMs) - 1, 0, FIdleAsks));
  FLastAskNs = Now;
  return Skipped;
}

void TPortCycle::EndAsk(std::string Command) {
  FDriverCommand = std::move(Command);
  FIdleAsks = FDriverCommand.empty() ? std::max(FHost.DriverIdleAsks(), 0) : 0;
}

void TPortCycle::AskDriver() {
  const int Skipped = BeginAsk();
  EndAsk(FHost.AskDriver(Skipped));
}

void TPortCycle::CollectAsk() {
  if (!FAskPosted)
    return;
  FAskPosted = false;
  EndAsk(FHost.TakeAskedCommand());
  FCommandInHand = !FDriverCommand.empty();
  // The event thread hands over whatever the cycle will not take.
  if (!FCommandInHand || ReplyToTake(FDriverCommand) == 0)
    HoldReplies(false);
}

std::chrono::steady_clock::time_point TPortCycle::IdleEnd() const {
  return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(
      FLastAskNs + static_cast<std::int64_t>(FIdleAsks + 1) * MsToNs(CycleMs)));
}

bool TPortCycle::DriverIdle() const {
  return FIdleAsks > 0 && !FTurnRequested.load() && !FWakeRequested.load() &&
         std::chrono::steady_clock::now() < IdleEnd();
}

void TPortCycle::RunCycles() {
  using TClock = std::chrono::steady_clock;
  while (!FHost.Stopping()) {
    // Taken before the links are looked at: its bytes were read from the
    // port as it was.
    CollectAsk();
    FHost.CheckLinks();
    auto Next = TClock::now() + std::chrono::milliseconds(CycleMs);
    if (!RadioOpen()) {
      // While the radio is away its driver is not asked: pending tune
      // commands wait for it, and it is asked as soon as the radio is back.
      FIdleAsks = 0;
      FCommandInHand = false;
      HoldReplies(false);
    } else if (FCommandInHand || !DriverIdle()) {
      // A poll asked for with the last reply gives way to a command that
      // must not wait, and to a radio that was reopened meanwhile.
      if (FCommandInHand && (FTurnRequested.load() || FWakeRequested.load()) &&
          FHost.DriverCommandIsRead())
        FCommandInHand = false;
      if (!FCommandInHand)
        AskDriver();
      FCommandInHand = false;
      const int Expected = ReplyToTake(FDriverCommand);
      const TLineWait Wait =
          WriteCommand(TAsker::Driver, FDriverCommand, TYield::yNever, Expected > 0);
      Next = NextCycle();
      if (Wait == TLineWait::lwQuiet && Expected > 0 && TakeReply(Expected)) {
        // The next command is asked for; it goes once the line has been
        // quiet after the reply, which the main thread reads about now.
        Next = std::max(Next,
                        TClock::now() + std::chrono::nanoseconds(FQuietNs + MsToNs(ReplyMarginMs)));
      }
    } else {
      HoldReplies(false);
    }
    // A driver with nothing to write is asked again when it said, or when
    // it wakes the cycle; the links are looked at meanwhile.
    if (FIdleAsks > 0)
      Next = std::max(Next,
                      std::min(IdleEnd(), TClock::now() + std::chrono::milliseconds(LinkCheckMs)));
    // The pause ends early for a command that must not wait, and an idle
    // one for any command.
    std::unique_lock<std::mutex> Guard(FLock);
    FWake.wait_until(Guard, Next, [this] {
      return FTurnRequested.load() || (FWakeRequested.load() && FIdleAsks > 0);
    });
  }
}

void TPortCycle::RequestTurn() {
  {
    std::lock_guard<std::mutex> Guard(FLock);
    FTurnRequested = true;
  }
  FWake.notify_all();
}

void TPortCycle::Wake() {
  {
    std::lock_guard<std::mutex> Guard(FLock);
    FWakeRequested = true;
  }
  FWake.notify_all();
}

int TPortCycle::ReplyToTake(const std::string& Command) const {
  // Shared, the other program's replies must not wait behind a held one; a
  // network port is not paced by a line, so no reply is due at a known time.
  if (FShared || Command.empty() || !FRadioPort || FRadioPort->CharacterTimeNs() <= 0 ||
      !FHost.DriverCommandIsRead())
    return 0;
  return std::max(FReplyLengths.Expected(Command), 0);
}

void TPortCycle::HoldReplies(bool On) {
  if (FRadioPort)
    FRadioPort->HoldDelivery(On);
}

bool TPortCycle::TakeReply(int Expected) {
  const std::int64_t CharacterNs = FRadioPort->CharacterTimeNs();
  const std::int64_t WriteNs = FLastWriteNs.load();
  const std::int64_t WireEndNs = WriteNs + Expected * CharacterNs + MsToNs(ReplyMarginMs);
  std::int64_t DueNs = WireEndNs + FAnswerLagNs;
  // The last look that found more bytes (at first: the write).
  int Seen = 0;
  std::int64_t GrewNs = WriteNs;
  int Waiting = 0;
  int Looks = 0;
  std::int64_t ShortNs = WireEndNs; // the last look that found the reply short
  bool Whole = false;
  for (;;) {
    ++Looks;
    std::this_thread::sleep_until(
        std::chrono::steady_clock::time_point(std::chrono::nanoseconds(DueNs)));
    if (FHost.Stopping())
      break;
    try {
      Waiting = FRadioPort->BytesWaiting();
    } catch (const std::exception&) {
      break;
    }
    if ((Whole = Waiting >= Expected))
      break;
    const std::int64_t Now = NowNs();
    ShortNs = Now;
    if (Now - WriteNs >= MsToNs(LongestWaitMs))
      break;
    if (Waiting > Seen) {
      // Still coming: look again when the rest can have come.
      Seen = Waiting;
      GrewNs = Now;
      DueNs = Now + (Expected - Waiting) * CharacterNs + MsToNs(ReplyMarginMs);
    } else if (Now - GrewNs >= FQuietNs) {
      // The line has paused: a short or cut reply (or a device gone), which
      // the event thread hands over as it is.
      break;
    } else {
      DueNs = GrewNs + FQuietNs;
    }
  }
  if (!Whole) {
    // What came is handed over at once: the line has paused already.
    FAnswerLagNs = 0;
    FRadioPort->ExpectBurst(0);
    HoldReplies(false);
    return false;
  }
  // A radio that answers late, or in pieces, is first looked at next time
  // when this reply was still short (never later than it was whole); one
  // that keeps time again is soon looked at on time.
  FAnswerLagNs = Looks == 1 ? FAnswerLagNs / 2
                            : std::clamp<std::int64_t>(ShortNs - WireEndNs, 0, MsToNs(CycleMs));
  FHost.PostDeliverAndAsk(Waiting, BeginAsk());
  FAskPosted = true;
  return true;
}

std::chrono::steady_clock::time_point TPortCycle::NextCycle() const {
  // The cycle's pause, unless the reply to the command just written takes
  // longer to come in and fall quiet: the next command waits for that anyway,
  // and one wake-up at its expected end saves looking in between.
  std::int64_t PauseNs = MsToNs(CycleMs);
  const int Expected = FReplyLengths.Expected(FUnansweredPoll);
  if (Expected > 0 && FRadioPort) {
    const std::int64_t CharacterNs = FRadioPort->CharacterTimeNs();
    // Counted from the write: a radio that answers at once is then met at
    // the reply's end; one that takes time to answer costs a second look.
    const std::int64_t ReplyNs = Expected * CharacterNs + FQuietNs + MsToNs(ReplyMarginMs);
    if (CharacterNs > 0)
      PauseNs = std::max(PauseNs, ReplyNs - (NowNs() - FLastWriteNs.load()));
  }
  return std::chrono::steady_clock::now() + std::chrono::nanoseconds(PauseNs);
}

void TPortCycle::RunSharedCycles() {
  // The driver is asked for a command at most once per cycle; the other
  // program's bytes take the place of its command. Both directions of the
  // other program's traffic move as soon as the line allows, not at the next
  // cycle: its clients time out, or flush their input, within tens of
  // milliseconds. For the same reason the driver's command, while it waits
  // for the line, lets the other program's bytes go first and is written
  // after them; but never for longer than DriverTurnMs, and a command that
  // must not wait (RequestTurn) goes at the line's next free moment.
  using TClock = std::chrono::steady_clock;
  auto NextPoll = TClock::now();
  auto TurnDue = NextPoll + std::chrono::milliseconds(DriverTurnMs);
  bool DriverWaiting = false; // FDriverCommand holds the driver's command, unwritten
  while (!FHost.Stopping()) {
    FHost.CheckLinks();
    ForwardToVirtual();
    if (FWakeRequested.exchange(false) && FIdleAsks > 0) {
      // The driver has a command after all: its turn comes as it would have
      // without the pause.
      FIdleAsks = 0;
      NextPoll = std::min(NextPoll, TClock::now());
      TurnDue = std::min(TurnDue, NextPoll + std::chrono::milliseconds(DriverTurnMs - CycleMs));
    }
    if (!RadioOpen()) {
      // While the radio is away its driver is not asked: pending tune
      // commands wait for it.
      DriverWaiting = false;
      FIdleAsks = 0;
      NextPoll = TClock::now() + std::chrono::milliseconds(CycleMs);
      TurnDue = TClock::now() + std::chrono::milliseconds(DriverTurnMs);
    } else if (FTurnRequested.load() || TClock::now() >= TurnDue || TClock::now() >= NextPoll) {
      // The driver's turn. Due or urgent, it lets the other program finish
      // a command already begun on the line (a program that writes a command
      // a byte at a time), for at most another DriverTurnMs; otherwise it
      // yields to any of the other program's bytes.
      const auto Now = TClock::now();
      const bool Pressing = FTurnRequested.load() || Now >= TurnDue;
      const TYield Yield = !Pressing ? TYield::yAlways
                           : Now < TurnDue + std::chrono::milliseconds(DriverTurnMs)
                               ? TYield::yMidCommand
                               : TYield::yNever;
      if (!VirtualGoesFirst(Yield)) {
        if (!DriverWaiting) {
          AskDriver();
          DriverWaiting = true;
        }
        if (WriteCommand(TAsker::Driver, FDriverCommand, Yield) != TLineWait::lwYielded) {
          DriverWaiting = false;
          // A driver with nothing to write is asked again when it said
          // (unless it wakes the cycle).
          NextPoll = FIdleAsks > 0 ? IdleEnd() : TClock::now() + std::chrono::milliseconds(CycleMs);
          TurnDue = NextPoll + std::chrono::milliseconds(DriverTurnMs - CycleMs);
        }
        continue;
      }
    }
    std::string FromVirtual;
    {
      std::lock_guard<std::mutex> Guard(FLock);
      FromVirtual = TakeChunk(FFromVirtual);
    }
    if (!FromVirtual.empty()) {
      WriteCommand(TAsker::Virtual, FromVirtual, TYield::yNever);
      // The other program's commands come in runs (a set command, a short
      // pause, a read; or a command a byte at a time); the driver's next
      // command waits until the run is over, so the other program's replies
      // are not held up behind a poll's and arrive within its own short
      // time-outs.
      NextPoll = TClock::now() + std::chrono::milliseconds(VirtualHoldMs);
      continue;
    }
    CloseQuietExchange();
    // Only an exchange under way needs looking at between the turns; the
    // links are looked at in any case.
    const int LookMs =
        static_cast<TAsker>(FAsker.load()) != TAsker::None ? ExchangeCheckMs : LinkCheckMs;
    std::unique_lock<std::mutex> Guard(FLock);
    FWake.wait_until(
        Guard, std::min({NextPoll, TurnDue, TClock::now() + std::chrono::milliseconds(LookMs)}),
        [this] {
          return !FFromVirtual.empty() || !FToVirtual.empty() ||
                 (FTurnRequested.load() && RadioOpen()) || (FWakeRequested.load() && FIdleAsks > 0);
        });
  }
}

bool TPortCycle::VirtualMidCommand() const {
  // The other program's bytes were written last and the radio has not
  // answered them: it may be in the middle of a command, which a command of
  // the driver's would cut in two. A CI-V bus's echo of those bytes is no
  // answer (a program that writes a byte at a time hears each echoed).
  return static_cast<TAsker>(FAsker.load()) == TAsker::Virtual &&
         FLinks.RadioLastRxNs() < FLastWriteNs.load();
}

bool TPortCycle::VirtualGoesFirst(TYield Yield) {
  if (Yield == TYield::yNever)
    return false;
  if (Yield == TYield::yMidCommand && !VirtualMidCommand())
    return false;
  std::lock_guard<std::mutex> Guard(FLock);
  return !FFromVirtual.empty();
}

TPortCycle::TLineWait TPortCycle::WriteCommand(TAsker Asker, const std::string& Command,
                                               TYield Yield, bool HoldReply) {
  if (FHost.Stopping() || Command.empty() || !FRadioPort || !FRadioPort->Connected())
    return TLineWait::lwEnded;
  const TLineWait Wait = WaitForQuietLine(Yield, Asker);
  if (Wait == TLineWait::lwYielded || Wait == TLineWait::lwEnded)
    return Wait;
  // Held from before the write, so that not even the reply's first byte
  // wakes the event thread.
  HoldReplies(HoldReply && Wait == TLineWait::lwQuiet);
  LearnReplyLength(Wait == TLineWait::lwQuiet);
  if (Asker == TAsker::Driver)
    FUnansweredPoll = Command;
  // A shared radio's replies are handed over as they come (the other
  // program's replies must not wait behind a gathered one).
  FRadioPort->ExpectBurst(Asker == TAsker::Driver && !FShared ? FReplyLengths.Expected(Command)
                                                              : 0);
  // The other program waits for each reply: its bytes are passed on as they
  // come, not after the line's pause. The driver's replies are gathered,
  // which saves a hand-over to the main thread per piece.
  FRadioPort->setGatherGapMs(Asker == TAsker::Virtual ? 0 : TComPort::DefaultGatherGapMs);
  FReplyBytes = 0;
  FAsker = static_cast<int>(Asker);
  FLastAsker = static_cast<int>(Asker);
  FLastWriteNs = NowNs();
  // Counted before the write, so that the reply can never be read before
  // the count shows the write.
  if (Wait == TLineWait::lwQuiet)
    ++FQuietWrites;
  // Only a read dates the radio's silence: many radios answer nothing to a
  // set command, and a burst of them is no sign of a radio gone quiet.
  FLinks.NoteWrite(Command, Asker == TAsker::Driver && FHost.DriverCommandIsRead(), FLastWriteNs);
  FHost.Trace(true, Command);
  try {
    FRadioPort->WritePort(Command);
    if (Asker == TAsker::Driver)
      FHost.DriverCommandWritten();
  } catch (const EComPort& E) {
    // The command is dropped; the port counts as lost and is reopened.
    if (E.SystemErrorCode() != ECANCELED)
      FLinks.NoteFailure(TLinkRole::lrRadio, E.SystemErrorCode());
  } catch (const std::exception&) {
    FLinks.NoteFailure(TLinkRole::lrRadio, EIO);
  }
  return Wait;
}

void TPortCycle::LearnReplyLength(bool Complete) {
  if (FUnansweredPoll.empty())
    return;
  FReplyLengths.Learn(FUnansweredPoll, FReplyBytes.exchange(0), Complete);
  FUnansweredPoll.clear();
}

void TPortCycle::ForwardToVirtual() {
  // At most one chunk per write, so that a program that stops reading holds
  // the worker for one short write time-out, not for the whole queue's.
  std::string Outgoing;
  {
    std::lock_guard<std::mutex> Guard(FLock);
    Outgoing = TakeChunk(FToVirtual);
  }
  if (FHost.Stopping() || Outgoing.empty() || !FVirtualPort || !FVirtualPort->Connected())
    return;
  try {
    FVirtualPort->WritePort(Outgoing);
  } catch (const EComPort& E) {
    // A program that does not read in time loses these bytes; a port that
    // fails otherwise is lost and reopened.
    const int Errno = E.SystemErrorCode();
    if (Errno != ETIMEDOUT && Errno != ECANCELED && Errno != EAGAIN)
      FLinks.NoteFailure(TLinkRole::lrVirtual, Errno);
  } catch (const std::exception&) {
  }
}

TPortCycle::TLineWait TPortCycle::WaitForQuietLine(TYield Yield, TAsker Next) {
  // A reply still arriving (or waiting unread) belongs to the last asker; the
  // next command waits for it, so two askers' replies never mix. A radio
  // whose reply is longer than a cycle at its baud rate (an FT-100D's
  // 32-byte status at 4800 baud takes 73 ms) is thereby never sent a new
  // command in the middle of a reply, which would pile up queued replies.
  for (;;) {
    if (FHost.Stopping())
      return TLineWait::lwEnded;
    if (FShared)
      ForwardToVirtual();
    // Taken before the line is looked at: bytes delivered from here on end
    // the wait below.
    const unsigned Deliveries = FRadioDeliveries.load();
    const std::int64_t Now = NowNs();
    int Waiting = 0;
    try {
      Waiting = FRadioPort->BytesWaiting();
    } catch (const std::exception&) {
    }
    // Bytes the cycle did not take (the radio said more than its reply):
    // the event thread hands them over.
    if (Waiting > 0)
      HoldReplies(false);
    // Sleep until the line can have been quiet long enough. Bytes waiting
    // are read no earlier than now, and the line is quiet no earlier than
    // the quiet time after that, or after the rest of a reply of known
    // length has come in: one look then does. A shared radio is looked at
    // more often: the other program's clients give up within tens of
    // milliseconds, and its bytes go out as soon as the line allows.
    std::int64_t SleepNs = FShared ? FQuietNs / 4 : FQuietNs;
    if (Waiting > 0 && !FShared) {
      const int Missing = FReplyLengths.Expected(FUnansweredPoll) - FReplyBytes.load() - Waiting;
      if (Missing > 0)
        SleepNs += Missing * FRadioPort->CharacterTimeNs() + MsToNs(ReplyMarginMs);
    }
    if (Waiting == 0) {
      // Read after the queue: a delivery that has just emptied it has
      // already marked the line busy.
      std::int64_t QuietLeftNs = FQuietNs - (Now - FLastRxNs.load());
      // Before the other asker's command, the last command's reply must
      // have had time to begin: a line that has not answered yet is not
      // free, or the reply would go to the wrong side. A CI-V bus's echo
      // of the command is no beginning: the radio may answer well after it.
      const TAsker Last = static_cast<TAsker>(FAsker.load());
      if (Last != TAsker::None && Last != Next && FLinks.RadioLastRxNs() < FLastWriteNs.load())
        QuietLeftNs = std::max(QuietLeftNs, MsToNs(CycleMs) - (Now - FLastWriteNs.load()));
      // The other program answered the radio's last bytes with its next
      // command: it took the reply as whole, and straight to the radio its
      // command would go at once.
      if (Last == TAsker::Virtual && Next == TAsker::Virtual &&
          FLastVirtualRxNs.load() > FLastRxNs.load())
        QuietLeftNs = 0;
      // The driver's poll has had its whole reply (of the length it always
      // has): the other program need not wait for the quiet time after it.
      // Not before the radio has answered at all: a length learnt from an
      // echo alone would hand the line over before the reply.
      if (Last == TAsker::Driver && Next == TAsker::Virtual && !FUnansweredPoll.empty() &&
          FLinks.RadioLastRxNs() >= FLastWriteNs.load()) {
        const int Expected = FReplyLengths.Expected(FUnansweredPoll);
        if (Expected > 0 && FReplyBytes.load() >= Expected)
          QuietLeftNs = 0;
      }
      if (QuietLeftNs <= 0)
        return TLineWait::lwQuiet;
      SleepNs = QuietLeftNs;
    }
    const std::int64_t WaitLeftNs = MsToNs(LongestWaitMs) - (Now - FLastWriteNs.load());
    if (WaitLeftNs <= 0)
      return TLineWait::lwLongestWait;
    std::unique_lock<std::mutex> Guard(FLock);
    // Wakes early for the other program: its bytes to pass on, or (when the
    // command waiting may yield) its command to go first.
    const auto VirtualFirst = [&] {
      return !FFromVirtual.empty() &&
             (Yield == TYield::yAlways || (Yield == TYield::yMidCommand && VirtualMidCommand()));
    };
    // Shared, it also wakes for the radio's bytes: a wait for the other
    // asker's reply to begin ends when it does, and one whose length is
    // known may then end at once.
    FLineWatched = FShared;
    FWake.wait_for(Guard, std::chrono::nanoseconds(std::min(SleepNs, WaitLeftNs)), [&] {
      return VirtualFirst() || !FToVirtual.empty() ||
             (FShared && FRadioDeliveries.load() != Deliveries);
    });
    FLineWatched = false;
    if (VirtualFirst())
      return TLineWait::lwYielded;
  }
}

void TPortCycle::CloseQuietExchange() {
  // Decided here, from the port's own input queue, rather than from when the
  // main thread happens to handle the bytes: a busy main thread delays the
  // handling, never the arrival. Only this thread changes FAsker.
  if (static_cast<TAsker>(FAsker.load()) == TAsker::None || !FRadioPort)
    return;
  const std::int64_t Now = NowNs();
  const std::int64_t LastWrite = FLastWriteNs.load();
  const std::int64_t LastRx = FLastRxNs.load();
  // An echo alone (a CI-V bus) does not close it: the radio may answer
  // well after its echo, and its reply is still this command's, for at
  // most a cycle.
  const bool Replied = FLinks.RadioLastRxNs() > LastWrite || Now - LastWrite >= MsToNs(CycleMs);
  const bool Answered = LastRx > LastWrite && Now - LastRx >= FQuietNs && Replied;
  if (!Answered && Now - LastWrite < MsToNs(LongestWaitMs))
    return;
  int Waiting = 0;
  try {
    Waiting = FRadioPort->BytesWaiting();
  } catch (const std::exception&) {
  }
  if (Waiting == 0)
    FAsker = static_cast<int>(TAsker::None);
}

void TPortCycle::ReceiveFromRadio(int Count) {
  // The line is busy from before the read until after it; the worker, which
  // looks at the queue and then at this time, never takes a delivery in
  // progress for a quiet line.
  FLastRxNs = NowNs();
  const unsigned QuietWrites = FQuietWrites.load();
  std::string Data;
  FRadioPort->ReadPort(Data, Count);
  FLastRxNs = NowNs();
  if (!Data.empty()) {
    FHost.Trace(false, Data);
    FLinks.NoteBytes(TLinkRole::lrRadio, Data, FLastRxNs.load());
  }
  // The first bytes since a write to a quiet line came after a silence. The
  // count is taken before the read: a write after it is seen by the next
  // delivery, whose bytes are the reply to it.
  const bool AfterQuiet = QuietWrites != FQuietWritesSeen;
  FQuietWritesSeen = QuietWrites;
  // A reply goes to the side that wrote the last command: the worker writes
  // nothing new until the line has been quiet, so the bytes received since a
  // write are that command's reply (on a CI-V bus, with its echo). Bytes
  // after the exchange was closed go to that side too: they are most likely
  // the rest of its reply that paused longer than the quiet time (a loaded
  // radio, a USB adapter's latency timer), and the other side, handed a
  // fragment of a reply it never asked for, would frame its own replies
  // wrongly (a byte-counted binary reply most of all). The messages a radio
  // sends of its own accord are picked out by its driver and go to both
  // sides whenever they come (an Icom's transceive broadcast): beside the
  // asker's reply, never in its place. Before any command, bytes go to both.
  const TAsker Open = static_cast<TAsker>(FAsker.load());
  const TAsker Asker = Open != TAsker::None ? Open : static_cast<TAsker>(FLastAsker.load());
  const bool ToVirtual = FShared && Asker != TAsker::Driver;
  const bool ToDriver = !FShared || Asker != TAsker::Virtual;
  const std::string Unsolicited = FShared ? FHost.TakeUnsolicited(Data) : "";
  if (const std::string& Forward = ToVirtual ? Data : Unsolicited; !Forward.empty()) {
    {
      std::lock_guard<std::mutex> Guard(FLock);
      AppendBounded(FToVirtual, Forward);
    }
    FWake.notify_one();
  }
  if (!ToDriver) {
    if (!Unsolicited.empty())
      FHost.DeliverToDriver(Unsolicited, static_cast<int>(Unsolicited.size()), false);
    NoteDelivery();
    return;
  }
  if (Open == TAsker::Driver)
    FReplyBytes += static_cast<int>(Data.size());
  FHost.DeliverToDriver(Data, Count, AfterQuiet);
  NoteDelivery();
}

void TPortCycle::NoteDelivery() {
  bool Watched;
  {
    std::lock_guard<std::mutex> Guard(FLock);
    ++FRadioDeliveries;
    Watched = FLineWatched;
  }
  if (Watched)
    FWake.notify_all();
}

void TPortCycle::ReceiveFromVirtual(int Count) {
  std::string Data;
  FVirtualPort->ReadPort(Data, Count);
  FLastVirtualRxNs = NowNs();
  FLinks.NoteBytes(TLinkRole::lrVirtual, Data, FLastVirtualRxNs.load());
  {
    std::lock_guard<std::mutex> Guard(FLock);
    AppendBounded(FFromVirtual, Data);
  }
  FWake.notify_one();
}

} // namespace vela
