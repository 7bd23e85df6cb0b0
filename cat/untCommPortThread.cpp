#include "cat/untCommPortThread.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "cat/transport/CPort.h"

#include <cerrno>

namespace vela {

namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr std::int64_t MsToNs(int Ms) {
  return static_cast<std::int64_t>(Ms) * 1000000;
}

// Takes up to MaxChunkBytes from the front of a forwarding queue.
std::string TakeChunk(std::string& Queue) {
  std::string Chunk;
  if (Queue.size() <= TCommPortThread::MaxChunkBytes) {
    Chunk.swap(Queue);
  } else {
    Chunk = Queue.substr(0, TCommPortThread::MaxChunkBytes);
    Queue.erase(0, TCommPortThread::MaxChunkBytes);
  }
  return Chunk;
}

std::atomic<int> RetryMs{1000};
std::atomic<int> SlowAfterMs{60000};
std::atomic<int> SlowRetryMs{5000};

// Appends to a forwarding queue, keeping only the newest bytes when a side
// floods faster than the other end takes them, so memory stays bounded.
void AppendBounded(std::string& Queue, const std::string& Data) {
  Queue += Data;
  if (Queue.size() > TCommPortThread::MaxQueueBytes)
    Queue.erase(0, Queue.size() - TCommPortThread::MaxQueueBytes);
}

} // namespace

TLinkStatus TCommPortThreadHandle::Link(TLinkRole Role) const {
  TLinkStatus Status;
  {
    std::lock_guard<std::mutex> Guard(FLinkLock);
    Status = Role == TLinkRole::lrRadio ? FRadioLink : FVirtualLink;
  }
  if (Status.State == TLinkState::lsSilent && Status.SinceNs > 0)
    Status.SilentSeconds = static_cast<int>((NowNs() - Status.SinceNs) / 1000000000);
  return Status;
}

void TCommPortThreadHandle::setLink(TLinkRole Role, const TLinkStatus& Status) {
  std::lock_guard<std::mutex> Guard(FLinkLock);
  (Role == TLinkRole::lrRadio ? FRadioLink : FVirtualLink) = Status;
}

void TCommPortThread::SetRetryTiming(int ARetryMs, int ASlowAfterMs, int ASlowRetryMs) {
  RetryMs = ARetryMs;
  SlowAfterMs = ASlowAfterMs;
  SlowRetryMs = ASlowRetryMs;
}

TCommPortThread::TCommPortThread(TComponent* AOwner, int ARadioPort, int AVirtualPort,
                                 TBaudRate ABaudRate,
                                 std::shared_ptr<TCommPortThreadHandle> AHandle, TLinePolicy ADTR,
                                 TLinePolicy ARTS, const TRadioPortFactory& AMakeRadioPort)
    : FHandle(AHandle ? std::move(AHandle) : std::make_shared<TCommPortThreadHandle>()),
      // A network port has no line speed to suggest when the radio is silent.
      FQuietNs(QuietNs(ABaudRate)), FBaud(AMakeRadioPort ? 0 : BaudRateToInt(ABaudRate)) {
  {
    std::lock_guard<std::mutex> Guard(FHandle->Lock);
    FHandle->Thread = this;
  }
  FRadioPort =
      MakePort(AOwner, ARadioPort, ABaudRate, MakeMethod(this, &TCommPortThread::RadioPortRxChar),
               0, ADTR, ARTS, AMakeRadioPort);
  TryOpen(FRadioLink, *FRadioPort);
  Publish(FRadioLink, *FRadioPort, NowNs());
  if (AVirtualPort > 0) {
    FVirtualEnabled = true;
    FVirtualPort =
        MakePort(AOwner, AVirtualPort, ABaudRate,
                 MakeMethod(this, &TCommPortThread::VirtualPortRxChar), VirtualWriteTimeoutMs);
    TryOpen(FVirtualLink, *FVirtualPort);
    Publish(FVirtualLink, *FVirtualPort, NowNs());
  } else {
    FHandle->setLink(TLinkRole::lrVirtual, TLinkStatus());
  }
}

std::unique_ptr<TComPort>
TCommPortThread::MakePort(TComponent* AOwner, int APort, TBaudRate ABaudRate,
                          const TRxCharEvent& AHandler, int AWriteTimeoutMs, TLinePolicy ADTR,
                          TLinePolicy ARTS, const TRadioPortFactory& AMakePort) {
  std::unique_ptr<TComPort> Port = AMakePort ? AMakePort() : std::make_unique<TComPort>(AOwner);
  if (AWriteTimeoutMs > 0) {
    // The other program may stop reading (or quit) at any time; its bytes are
    // then dropped after a short wait instead of stalling the radio's polls.
    Port->Timeouts().setWriteTotalConstant(AWriteTimeoutMs);
    Port->Timeouts().setWriteTotalMultiplier(0);
  }
  Port->setOnRxChar(AHandler);
  if (!AMakePort)
    Port->setPort("COM" + std::to_string(APort));
  Port->setBaudRate(ABaudRate);
  Port->Parity().setBits(prNone);
  Port->setDataBits(dbEight);
  Port->setStopBits(sbTwoStopBits);
  // The port sets the lines as part of opening, before the line settings,
  // and closes without raising them again. Pseudo-terminals and some
  // adapters have no modem lines; they ignore this.
  Port->FlowControl().setControlDTR(ADTR == lpOn ? dtrEnable : dtrDisable);
  Port->FlowControl().setKeepDTR(ADTR == lpKeep);
  Port->FlowControl().setControlRTS(ARTS == lpOn ? rtsEnable : rtsDisable);
  Port->FlowControl().setKeepRTS(ARTS == lpKeep);
  return Port;
}

bool TCommPortThread::TryOpen(TLink& Link, TComPort& Port) {
  const std::int64_t Now = NowNs();
  // COMn is resolved again at every attempt: its link may now lead elsewhere.
  Link.Path = TCustomComPort::ResolvePortName(Port.Port());
  Link.NextResolveNs = Now + MsToNs(RetryMs);
  Link.Device = TCustomComPort::PortDevice(Port.Port());
  Link.Where = Link.Device == Port.Port() ? Link.Device : Port.Port() + " → " + Link.Device;
  const bool WasLost = Link.Lost;
  Link.Lost = false;
  Link.Failure = 0;
  Link.Dirty = true;
  try {
    Port.Open();
    // A network port connects after Open returns: until it has, the state
    // before (lost, refused) stands (see CheckConnecting).
    Link.Connecting = Port.Connected() && Port.Opening();
    Link.Lost = Link.Connecting && WasLost;
    if (!Link.Connecting)
      Link.OpenError = 0;
  } catch (const EComPort& E) {
    Link.OpenError = E.SystemErrorCode() > 0 ? E.SystemErrorCode() : EIO;
  } catch (const std::exception&) {
    Link.OpenError = EIO;
  }
  if (!Port.Connected()) {
    // A port that does not open stays closed; the worker runs without it
    // and tries again later.
    RetryLater(Link, Now);
    return false;
  }
  if (!Link.Connecting)
    Link.FailingSinceNs = 0;
  Link.LastRxNs = 0;
  // The modem lines are as the station set them (MakePort): an interface
  // that keys the transmitter from one must never see it raised here.
  return true;
}

void TCommPortThread::RetryLater(TLink& Link, std::int64_t Now) {
  if (Link.FailingSinceNs == 0)
    Link.FailingSinceNs = Now;
  const bool Slow = Now - Link.FailingSinceNs >= MsToNs(SlowAfterMs);
  Link.NextTryNs = Now + MsToNs(Slow ? SlowRetryMs : RetryMs);
}

void TCommPortThread::CheckConnecting(TLink& Link, TComPort& Port, std::int64_t Now) {
  if (!Link.Connecting || (Port.Connected() && Port.Opening()))
    return;
  Link.Connecting = false;
  Link.Lost = false;
  Link.Dirty = true;
  if (const int Failure = Port.Connected() ? Port.LineFailure() : 0) {
    // A connection that could not be made is a failed open, not a lost link.
    try {
      Port.Close();
    } catch (const std::exception&) {
    }
    Link.OpenError = Failure;
    RetryLater(Link, Now);
  } else {
    Link.OpenError = 0;
    Link.FailingSinceNs = 0;
  }
}

void TCommPortThread::ClosePort(std::unique_ptr<TComPort>& APort) {
  if (!APort)
    return;
  APort->setOnRxChar(TRxCharEvent());
  try {
    APort->Close();
  } catch (const std::exception&) {
  }
  APort.reset();
}

TCommPortThread::~TCommPortThread() {
  // The receive handlers check the flag, so none of them touches this object
  // once the ports' event threads have delivered their last event.
  Terminate();
  if (FHandle) {
    std::lock_guard<std::mutex> Guard(FHandle->Lock);
    FHandle->Thread = nullptr;
  }
  // Closing waits for each port's event thread, which may be waiting for the
  // main thread to run a delivery; no lock is held here, so the main thread
  // is free to serve it.
  ClosePort(FRadioPort);
  ClosePort(FVirtualPort);
  if (FHandle) {
    FHandle->Ended = true;
    TThread::NotifyStateChange();
  }
}

std::int64_t TCommPortThread::QuietNs(TBaudRate ABaudRate) {
  constexpr std::int64_t BitsPerByte = 11;
  const std::int64_t Baud = BaudRateToInt(ABaudRate);
  const std::int64_t ThreeBytesNs = Baud > 0 ? 3 * BitsPerByte * 1000000000 / Baud : 0;
  return std::max(MsToNs(QuietMs), ThreeBytesNs);
}

bool TCommPortThread::RadioPortConnected() const {
  return FRadioPort && FRadioPort->Connected();
}

bool TCommPortThread::RadioOpen() const {
  // A network port that is still connecting takes no commands yet.
  return FRadioPort->Connected() && !FRadioLink.Connecting;
}

void TCommPortThread::setOnTrace(const TPortTraceEvent& Value) {
  std::lock_guard<std::mutex> Guard(FTraceLock);
  FOnTrace = Value;
}

void TCommPortThread::Trace(bool Written, const std::string& Data) {
  std::lock_guard<std::mutex> Guard(FTraceLock);
  if (FOnTrace.Assigned())
    FOnTrace(this, Written, Data);
}

void TCommPortThread::NoteFailure(TLink& Link, int Errno) {
  int None = 0;
  Link.Failure.compare_exchange_strong(None, Errno > 0 ? Errno : EIO);
}

void TCommPortThread::NoteFailure(TLink& Link, std::exception_ptr Failure) {
  try {
    std::rethrow_exception(Failure);
  } catch (const EComPort& E) {
    NoteFailure(Link, E.SystemErrorCode());
  } catch (const std::exception& E) {
    std::lock_guard<std::mutex> Guard(FLinkLock);
    int None = 0;
    if (Link.Failure.compare_exchange_strong(None, -1))
      Link.FailureText = E.what();
  } catch (...) {
    std::lock_guard<std::mutex> Guard(FLinkLock);
    int None = 0;
    if (Link.Failure.compare_exchange_strong(None, -1))
      Link.FailureText = "unknown failure";
  }
}

void TCommPortThread::CheckLinks() {
  const std::int64_t Now = NowNs();
  bool Changed = CheckLink(FRadioLink, *FRadioPort, Now);
  if (FVirtualEnabled)
    Changed = CheckLink(FVirtualLink, *FVirtualPort, Now) || Changed;
  if (!Changed && !FNotifyPending)
    return;
  FNotifyPending = false;
  try {
    Synchronize([this] {
      if (FOnLinkChange.Assigned())
        FOnLinkChange(this);
    });
  } catch (...) {
    // A display that fails must not stop the radio's polls.
  }
}

bool TCommPortThread::CheckLink(TLink& Link, TComPort& Port, std::int64_t Now) {
  CheckConnecting(Link, Port, Now);
  if (Port.Connected() && !Link.Connecting) {
    int Failure = Link.Failure.load();
    if (Failure == 0)
      Failure = Port.LineFailure();
    if (Failure != 0) {
      // The device will not recover under this descriptor: close it, and
      // open the name afresh at the next attempt.
      try {
        Port.Close();
      } catch (const std::exception&) {
      }
      Link.Lost = true;
      Link.LostError = Failure;
      Link.Dirty = true;
      Link.FailingSinceNs = Now;
      Link.NextTryNs = Now + MsToNs(RetryMs);
    } else if (Now >= Link.NextResolveNs) {
      // The name may lead elsewhere now (its link made anew for another
      // device, or made at all while the fallback device was open): the
      // port follows its name.
      Link.NextResolveNs = Now + MsToNs(RetryMs);
      if (TCustomComPort::ResolvePortName(Port.Port()) != Link.Path) {
        try {
          Port.Close();
        } catch (const std::exception&) {
        }
        Link.NextTryNs = Now;
      }
    }
  }
  if (!Port.Connected() && Now >= Link.NextTryNs && !Terminated() && TryOpen(Link, Port) &&
      &Link == &FRadioLink) {
    FFirstUnansweredNs = 0;
    {
      std::lock_guard<std::mutex> Guard(FLinkLock);
      FEcho.clear();
      FEchoAt = 0;
    }
    // The radio may have been turned or swapped meanwhile: the driver starts
    // afresh so that its next reply is reported in full.
    try {
      Synchronize([this] {
        if (FOnReopened.Assigned())
          FOnReopened(this);
      });
    } catch (...) {
      NoteFailure(FRadioLink, std::current_exception());
    }
  }
  return Publish(Link, Port, Now);
}

bool TCommPortThread::Publish(TLink& Link, TComPort& Port, std::int64_t Now) {
  const bool Radio = Link.Role == TLinkRole::lrRadio;
  TLinkFacts Facts;
  // Still connecting after a refused attempt: refused, until it connects.
  Facts.Open = Port.Connected() && !(Link.Connecting && Link.OpenError != 0);
  Facts.OpenError = Link.OpenError;
  Facts.Failed = Link.Lost || (Facts.Open && Link.Failure.load() != 0);
  Facts.NowNs = Now;
  Facts.LastRxNs = Link.LastRxNs.load();
  if (Radio)
    Facts.UnansweredSinceNs = FFirstUnansweredNs;
  TLinkState State = DeriveLinkState(Link.Role, Facts);
  if (State == TLinkState::lsSilent && State != Link.Published.State) {
    // Bytes still unread (a busy main thread) are an answer all the same.
    int Waiting = 0;
    try {
      Waiting = Port.BytesWaiting();
    } catch (const std::exception&) {
    }
    Facts.RxPending = Waiting > 0;
    State = DeriveLinkState(Link.Role, Facts);
  }
  if (!Link.Dirty && State == Link.Published.State)
    return false;
  TLinkStatus Status;
  Status.State = State;
  Status.Where = Link.Where;
  Status.Device = Link.Device;
  Status.Baud = FBaud;
  if (State == TLinkState::lsRefused || State == TLinkState::lsMissing)
    Status.Error = Link.OpenError;
  if (State == TLinkState::lsLost) {
    const int Failure = Link.Lost ? Link.LostError : Link.Failure.load();
    if (Failure > 0) {
      Status.Error = Failure;
    } else {
      std::lock_guard<std::mutex> Guard(FLinkLock);
      Status.Detail = Link.FailureText;
    }
  }
  if (State == TLinkState::lsSilent)
    Status.SinceNs = Facts.LastRxNs != 0 ? Facts.LastRxNs : FFirstUnansweredNs;
  Link.Dirty = false;
  if (Status == Link.Published)
    return false;
  Link.Published = Status;
  FHandle->setLink(Link.Role, Status);
  return true;
}

bool TCommPortThread::IsAnswer(const std::string& Data) {
  std::lock_guard<std::mutex> Guard(FLinkLock);
  std::size_t At = 0;
  while (At < Data.size() && FEchoAt < FEcho.size() && Data[At] == FEcho[FEchoAt]) {
    ++At;
    ++FEchoAt;
  }
  if (At == Data.size())
    return false;
  // Something beyond the echo: from here on every byte is an answer.
  FEcho.clear();
  FEchoAt = 0;
  return true;
}

bool TCommPortThread::VirtualPortConnected() const {
  return FVirtualPort && FVirtualPort->Connected();
}

void TCommPortThread::Execute() {
  setFreeOnTerminate(true);
  if (FVirtualEnabled)
    RunSharedCycles();
  else
    RunCycles();
}

void TCommPortThread::AskDriver() {
  FCommand.clear();
  FTurnRequested = false;
  try {
    Synchronize([this] { DoGetCommand(); });
  } catch (...) {
    FCommand.clear();
    NoteFailure(FRadioLink, std::current_exception());
  }
}

void TCommPortThread::RunCycles() {
  while (!Terminated()) {
    CheckLinks();
    // While the radio is away its driver is not asked: pending tune
    // commands wait for it.
    if (RadioOpen()) {
      AskDriver();
      WriteCommand(TAsker::Driver, FCommand, TYield::yNever);
    }
    // The pause ends early for a command that must not wait.
    const auto Next = NextCycle();
    std::unique_lock<std::mutex> Guard(FLock);
    FWake.wait_until(Guard, Next, [this] { return FTurnRequested.load(); });
  }
}

void TCommPortThread::RequestTurn() {
  {
    std::lock_guard<std::mutex> Guard(FLock);
    FTurnRequested = true;
  }
  FWake.notify_all();
}

std::chrono::steady_clock::time_point TCommPortThread::NextCycle() const {
  // The cycle's pause, unless the reply to the command just written takes
  // longer to come in and fall quiet: the next command waits for that anyway,
  // and one wake-up at its expected end saves looking in between.
  std::int64_t PauseNs = MsToNs(CycleMs);
  const int Expected = ExpectedReplyLength(FUnansweredPoll);
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

void TCommPortThread::RunSharedCycles() {
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
  bool DriverWaiting = false; // FCommand holds the driver's command, unwritten
  while (!Terminated()) {
    CheckLinks();
    ForwardToVirtual();
    if (!RadioOpen()) {
      // While the radio is away its driver is not asked: pending tune
      // commands wait for it.
      DriverWaiting = false;
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
        if (WriteCommand(TAsker::Driver, FCommand, Yield) != TLineWait::lwYielded) {
          DriverWaiting = false;
          NextPoll = TClock::now() + std::chrono::milliseconds(CycleMs);
          TurnDue = TClock::now() + std::chrono::milliseconds(DriverTurnMs);
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
    std::unique_lock<std::mutex> Guard(FLock);
    FWake.wait_until(
        Guard,
        std::min({NextPoll, TurnDue, TClock::now() + std::chrono::milliseconds(ExchangeCheckMs)}),
        [this] {
          return !FFromVirtual.empty() || !FToVirtual.empty() ||
                 (FTurnRequested.load() && RadioOpen());
        });
  }
}

bool TCommPortThread::VirtualMidCommand() const {
  // The other program's bytes were written last and the radio has not
  // answered them: it may be in the middle of a command, which a command of
  // the driver's would cut in two.
  return static_cast<TAsker>(FAsker.load()) == TAsker::Virtual &&
         FLastRxNs.load() < FLastWriteNs.load();
}

bool TCommPortThread::VirtualGoesFirst(TYield Yield) {
  if (Yield == TYield::yNever)
    return false;
  if (Yield == TYield::yMidCommand && !VirtualMidCommand())
    return false;
  std::lock_guard<std::mutex> Guard(FLock);
  return !FFromVirtual.empty();
}

TCommPortThread::TLineWait TCommPortThread::WriteCommand(TAsker Asker, const std::string& Command,
                                                         TYield Yield) {
  if (Terminated() || Command.empty() || !FRadioPort || !FRadioPort->Connected())
    return TLineWait::lwEnded;
  const TLineWait Wait = WaitForQuietLine(Yield, Asker);
  if (Wait == TLineWait::lwYielded || Wait == TLineWait::lwEnded)
    return Wait;
  LearnReplyLength(Wait == TLineWait::lwQuiet);
  if (Asker == TAsker::Driver)
    FUnansweredPoll = Command;
  // A shared radio's replies are handed over as they come (the other
  // program's replies must not wait behind a gathered one).
  FRadioPort->ExpectBurst(Asker == TAsker::Driver && !FVirtualEnabled ? ExpectedReplyLength(Command)
                                                                      : 0);
  FReplyBytes = 0;
  FAsker = static_cast<int>(Asker);
  FLastWriteNs = NowNs();
  // Counted before the write, so that the reply can never be read before
  // the count shows the write.
  if (Wait == TLineWait::lwQuiet)
    ++FQuietWrites;
  if (Asker == TAsker::Driver &&
      (FFirstUnansweredNs == 0 || FRadioLink.LastRxNs.load() >= FFirstUnansweredNs))
    FFirstUnansweredNs = FLastWriteNs;
  {
    std::lock_guard<std::mutex> Guard(FLinkLock);
    FEcho = Command;
    FEchoAt = 0;
  }
  Trace(true, Command);
  try {
    FRadioPort->WritePort(Command);
    if (Asker == TAsker::Driver && FCommandAsk != 0 && FCommandAsk == FHandle->Watch.load()) {
      FHandle->Written = FCommandAsk;
      TThread::NotifyStateChange();
    }
  } catch (const EComPort& E) {
    // The command is dropped; the port counts as lost and is reopened.
    if (E.SystemErrorCode() != ECANCELED)
      NoteFailure(FRadioLink, E.SystemErrorCode());
  } catch (const std::exception&) {
    NoteFailure(FRadioLink, EIO);
  }
  return Wait;
}

void TCommPortThread::LearnReplyLength(bool Complete) {
  if (FUnansweredPoll.empty())
    return;
  const int Bytes = FReplyBytes.exchange(0);
  auto Known =
      std::find_if(FReplyLengths.begin(), FReplyLengths.end(),
                   [&](const TReplyLength& Entry) { return Entry.Command == FUnansweredPoll; });
  if (!Complete || Bytes <= 0 || Bytes > MaxReplyLength) {
    // No answer (a set command), one the line cut short, or a flood: no
    // expectation.
    if (Known != FReplyLengths.end())
      FReplyLengths.erase(Known);
  } else if (Known != FReplyLengths.end()) {
    Known->Confirmed = Known->Bytes == Bytes;
    Known->Bytes = Bytes;
  } else {
    // Tune commands differ each time; the oldest entry makes room.
    if (FReplyLengths.size() >= MaxKnownReplies)
      FReplyLengths.erase(FReplyLengths.begin());
    FReplyLengths.push_back({FUnansweredPoll, Bytes, false});
  }
  FUnansweredPoll.clear();
}

int TCommPortThread::ExpectedReplyLength(const std::string& Command) const {
  for (const TReplyLength& Known : FReplyLengths)
    if (Known.Command == Command)
      return Known.Confirmed ? Known.Bytes : 0;
  return 0;
}

void TCommPortThread::ForwardToVirtual() {
  // At most one chunk per write, so that a program that stops reading holds
  // the worker for one short write time-out, not for the whole queue's.
  std::string Outgoing;
  {
    std::lock_guard<std::mutex> Guard(FLock);
    Outgoing = TakeChunk(FToVirtual);
  }
  if (Terminated() || Outgoing.empty() || !FVirtualPort || !FVirtualPort->Connected())
    return;
  try {
    FVirtualPort->WritePort(Outgoing);
  } catch (const EComPort& E) {
    // A program that does not read in time loses these bytes; a port that
    // fails otherwise is lost and reopened.
    const int Errno = E.SystemErrorCode();
    if (Errno != ETIMEDOUT && Errno != ECANCELED && Errno != EAGAIN)
      NoteFailure(FVirtualLink, Errno);
  } catch (const std::exception&) {
  }
}

TCommPortThread::TLineWait TCommPortThread::WaitForQuietLine(TYield Yield, TAsker Next) {
  // A reply still arriving (or waiting unread) belongs to the last asker; the
  // next command waits for it, so two askers' replies never mix. A radio
  // whose reply is longer than a cycle at its baud rate (an FT-100D's
  // 32-byte status at 4800 baud takes 73 ms) is thereby never sent a new
  // command in the middle of a reply, which would pile up queued replies.
  for (;;) {
    if (Terminated())
      return TLineWait::lwEnded;
    if (FVirtualEnabled)
      ForwardToVirtual();
    const std::int64_t Now = NowNs();
    int Waiting = 0;
    try {
      Waiting = FRadioPort->BytesWaiting();
    } catch (const std::exception&) {
    }
    // Sleep until the line can have been quiet long enough. Bytes waiting
    // are read no earlier than now, and the line is quiet no earlier than
    // the quiet time after that, or after the rest of a reply of known
    // length has come in: one look then does. A shared radio is looked at
    // more often: the other program's clients give up within tens of
    // milliseconds, and its bytes go out as soon as the line allows.
    std::int64_t SleepNs = FVirtualEnabled ? FQuietNs / 4 : FQuietNs;
    if (Waiting > 0 && !FVirtualEnabled) {
      const int Missing = ExpectedReplyLength(FUnansweredPoll) - FReplyBytes.load() - Waiting;
      if (Missing > 0)
        SleepNs += Missing * FRadioPort->CharacterTimeNs() + MsToNs(ReplyMarginMs);
    }
    if (Waiting == 0) {
      // Read after the queue: a delivery that has just emptied it has
      // already marked the line busy.
      std::int64_t QuietLeftNs = FQuietNs - (Now - FLastRxNs.load());
      // Before the other asker's command, the last command's reply must
      // have had time to begin: a line that has not answered yet is not
      // free, or the reply would go to the wrong side.
      const TAsker Last = static_cast<TAsker>(FAsker.load());
      if (Last != TAsker::None && Last != Next && FLastRxNs.load() < FLastWriteNs.load())
        QuietLeftNs = std::max(QuietLeftNs, MsToNs(CycleMs) - (Now - FLastWriteNs.load()));
      // The driver's poll has had its whole reply (of the length it always
      // has): the other program need not wait for the quiet time after it.
      if (Last == TAsker::Driver && Next == TAsker::Virtual && !FUnansweredPoll.empty()) {
        const int Expected = ExpectedReplyLength(FUnansweredPoll);
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
    FWake.wait_for(Guard, std::chrono::nanoseconds(std::min(SleepNs, WaitLeftNs)),
                   [&] { return VirtualFirst() || !FToVirtual.empty(); });
    if (VirtualFirst())
      return TLineWait::lwYielded;
  }
}

void TCommPortThread::CloseQuietExchange() {
  // Decided here, from the port's own input queue, rather than from when the
  // main thread happens to handle the bytes: a busy main thread delays the
  // handling, never the arrival. Only this thread changes FAsker.
  if (static_cast<TAsker>(FAsker.load()) == TAsker::None || !FRadioPort)
    return;
  const std::int64_t Now = NowNs();
  const std::int64_t LastWrite = FLastWriteNs.load();
  const std::int64_t LastRx = FLastRxNs.load();
  const bool Answered = LastRx > LastWrite && Now - LastRx >= FQuietNs;
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

void TCommPortThread::RadioPortRxChar(TObject* Sender, int Count) {
  (void)Sender;
  if (Terminated() || FRadioLink.Failure.load() != 0)
    return;
  // A failed read or parse no longer ends the port's deliveries: the link
  // counts as lost and the worker reopens it.
  try {
    ReceiveFromRadio(Count);
  } catch (...) {
    NoteFailure(FRadioLink, std::current_exception());
  }
}

void TCommPortThread::ReceiveFromRadio(int Count) {
  // The line is busy from before the read until after it; the worker, which
  // looks at the queue and then at this time, never takes a delivery in
  // progress for a quiet line.
  FLastRxNs = NowNs();
  const unsigned QuietWrites = FQuietWrites.load();
  std::string Data;
  FRadioPort->ReadPort(Data, Count);
  FLastRxNs = NowNs();
  if (!Data.empty()) {
    Trace(false, Data);
    if (IsAnswer(Data))
      FRadioLink.LastRxNs = FLastRxNs.load();
  }
  // The first bytes since a write to a quiet line came after a silence. The
  // count is taken before the read: a write after it is seen by the next
  // delivery, whose bytes are the reply to it.
  const bool AfterQuiet = QuietWrites != FQuietWritesSeen;
  FQuietWritesSeen = QuietWrites;
  // A reply goes to the side that wrote the last command: the worker writes
  // nothing new until the line has been quiet, so the bytes received since a
  // write are that command's reply (on a CI-V bus, with its echo). Bytes the
  // radio sends on its own once an exchange is over (an Icom's transceive
  // broadcast) go to both sides.
  const TAsker Asker = static_cast<TAsker>(FAsker.load());
  const bool ToVirtual = FVirtualEnabled && Asker != TAsker::Driver;
  const bool ToDriver = !FVirtualEnabled || Asker != TAsker::Virtual;
  if (ToVirtual) {
    {
      std::lock_guard<std::mutex> Guard(FLock);
      AppendBounded(FToVirtual, Data);
    }
    FWake.notify_one();
  }
  if (!ToDriver)
    return;
  if (Asker == TAsker::Driver)
    FReplyBytes += static_cast<int>(Data.size());
  if (AfterQuiet && FOnLineQuiet.Assigned())
    FOnLineQuiet(this);
  if (FOnPortData.Assigned())
    FOnPortData(this, Data, Count);
}

void TCommPortThread::VirtualPortRxChar(TObject* Sender, int Count) {
  (void)Sender;
  if (Terminated() || FVirtualLink.Failure.load() != 0)
    return;
  try {
    ReceiveFromVirtual(Count);
  } catch (...) {
    NoteFailure(FVirtualLink, std::current_exception());
  }
}

void TCommPortThread::ReceiveFromVirtual(int Count) {
  std::string Data;
  FVirtualPort->ReadPort(Data, Count);
  if (!Data.empty())
    FVirtualLink.LastRxNs = NowNs();
  {
    std::lock_guard<std::mutex> Guard(FLock);
    AppendBounded(FFromVirtual, Data);
  }
  FWake.notify_one();
}

void TCommPortThread::DoGetCommand() {
  FCommandAsk = ++FHandle->Asks;
  if (FOnGetCommand.Assigned())
    FOnGetCommand(this, FCommand);
}

} // namespace vela
