#include "cat/untCommPortThread.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "serial/CPort.h"

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

// Appends to a forwarding queue, keeping only the newest bytes when a side
// floods faster than the other end takes them, so memory stays bounded.
void AppendBounded(std::string& Queue, const std::string& Data) {
  Queue += Data;
  if (Queue.size() > TCommPortThread::MaxQueueBytes)
    Queue.erase(0, Queue.size() - TCommPortThread::MaxQueueBytes);
}

} // namespace

TCommPortThread::TCommPortThread(TComponent* AOwner, int ARadioPort, int AVirtualPort,
                                 TBaudRate ABaudRate,
                                 std::shared_ptr<TCommPortThreadHandle> AHandle,
                                 const TRadioPortFactory& AMakeRadioPort)
    : FHandle(std::move(AHandle)), FQuietNs(QuietNs(ABaudRate)) {
  if (FHandle) {
    std::lock_guard<std::mutex> Guard(FHandle->Lock);
    FHandle->Thread = this;
  }
  FRadioPort = OpenPort(AOwner, ARadioPort, ABaudRate,
                        MakeMethod(this, &TCommPortThread::RadioPortRxChar), 0, AMakeRadioPort);
  if (AVirtualPort > 0) {
    FVirtualEnabled = true;
    FVirtualPort =
        OpenPort(AOwner, AVirtualPort, ABaudRate,
                 MakeMethod(this, &TCommPortThread::VirtualPortRxChar), VirtualWriteTimeoutMs);
  }
}

std::unique_ptr<TComPort> TCommPortThread::OpenPort(TComponent* AOwner, int APort,
                                                    TBaudRate ABaudRate,
                                                    const TRxCharEvent& AHandler,
                                                    int AWriteTimeoutMs,
                                                    const TRadioPortFactory& AMakePort) {
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
  try {
    Port->Open();
  } catch (const std::exception&) {
    // A port that does not open stays closed; the worker runs without it.
  }
  if (Port->Connected()) {
    // Pseudo-terminals and some adapters have no modem lines; a radio that
    // needs DTR/RTS for its interface gets them where the device has them.
    try {
      Port->SetDtrLine(true);
      Port->SetRtsLine(true);
    } catch (const std::exception&) {
    }
  }
  return Port;
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

void TCommPortThread::RunCycles() {
  while (!Terminated()) {
    FCommand.clear();
    Synchronize([this] { DoGetCommand(); });
    WriteCommand(TAsker::Driver, FCommand, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(CycleMs));
  }
}

void TCommPortThread::RunSharedCycles() {
  // The driver is asked for a command at most once per cycle; the other
  // program's bytes take the place of its command. Both directions of the
  // other program's traffic move as soon as the line allows, not at the next
  // cycle: its clients time out, or flush their input, within tens of
  // milliseconds. For the same reason the driver's command, while it waits
  // for the line, lets the other program's bytes go first and is written
  // after them.
  auto NextPoll = std::chrono::steady_clock::now();
  bool DriverWaiting = false; // FCommand holds the driver's command, unwritten
  while (!Terminated()) {
    ForwardToVirtual();
    std::string FromVirtual;
    {
      std::lock_guard<std::mutex> Guard(FLock);
      FromVirtual = TakeChunk(FFromVirtual);
    }
    if (!FromVirtual.empty()) {
      WriteCommand(TAsker::Virtual, FromVirtual, false);
      // The other program's commands come in runs (a set command, a short
      // pause, a read; or a command a byte at a time); the driver's next
      // command waits until the run is over, so the other program's replies
      // are not held up behind a poll's and arrive within its own short
      // time-outs.
      NextPoll = std::chrono::steady_clock::now() + std::chrono::milliseconds(VirtualHoldMs);
      continue;
    }
    if (std::chrono::steady_clock::now() >= NextPoll) {
      if (!DriverWaiting) {
        FCommand.clear();
        Synchronize([this] { DoGetCommand(); });
        DriverWaiting = true;
      }
      if (WriteCommand(TAsker::Driver, FCommand, true) != TLineWait::lwYielded) {
        DriverWaiting = false;
        NextPoll = std::chrono::steady_clock::now() + std::chrono::milliseconds(CycleMs);
      }
      continue;
    }
    CloseQuietExchange();
    std::unique_lock<std::mutex> Guard(FLock);
    FWake.wait_until(Guard,
                     std::min(NextPoll, std::chrono::steady_clock::now() +
                                            std::chrono::milliseconds(ExchangeCheckMs)),
                     [this] { return !FFromVirtual.empty() || !FToVirtual.empty(); });
  }
}

TCommPortThread::TLineWait TCommPortThread::WriteCommand(TAsker Asker, const std::string& Command,
                                                         bool YieldToVirtual) {
  if (Terminated() || Command.empty() || !FRadioPort || !FRadioPort->Connected())
    return TLineWait::lwEnded;
  const TLineWait Wait = WaitForQuietLine(YieldToVirtual);
  if (Wait == TLineWait::lwYielded || Wait == TLineWait::lwEnded)
    return Wait;
  FAsker = static_cast<int>(Asker);
  FLastWriteNs = NowNs();
  // Counted before the write, so that the reply can never be read before
  // the count shows the write.
  if (Wait == TLineWait::lwQuiet)
    ++FQuietWrites;
  try {
    FRadioPort->WritePort(Command);
  } catch (const std::exception&) {
    // A failed write is dropped; the next cycle carries on.
  }
  return Wait;
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
  } catch (const std::exception&) {
  }
}

TCommPortThread::TLineWait TCommPortThread::WaitForQuietLine(bool YieldToVirtual) {
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
    // Sleep until the line can have been quiet long enough; while bytes are
    // still waiting, look again after a fraction of that.
    std::int64_t SleepNs = FQuietNs / 4;
    if (Waiting == 0) {
      // Read after the queue: a delivery that has just emptied it has
      // already marked the line busy.
      const std::int64_t QuietLeftNs = FQuietNs - (Now - FLastRxNs.load());
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
    const auto VirtualFirst = [&] { return YieldToVirtual && !FFromVirtual.empty(); };
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
  if (Terminated())
    return;
  // The line is busy from before the read until after it; the worker, which
  // looks at the queue and then at this time, never takes a delivery in
  // progress for a quiet line.
  FLastRxNs = NowNs();
  const unsigned QuietWrites = FQuietWrites.load();
  std::string Data;
  FRadioPort->ReadPort(Data, Count);
  FLastRxNs = NowNs();
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
  if (AfterQuiet && FOnLineQuiet.Assigned())
    FOnLineQuiet(this);
  if (FOnPortData.Assigned())
    FOnPortData(this, Data, Count);
}

void TCommPortThread::VirtualPortRxChar(TObject* Sender, int Count) {
  (void)Sender;
  if (Terminated())
    return;
  std::string Data;
  FVirtualPort->ReadPort(Data, Count);
  {
    std::lock_guard<std::mutex> Guard(FLock);
    AppendBounded(FFromVirtual, Data);
  }
  FWake.notify_one();
}

void TCommPortThread::DoGetCommand() {
  if (FOnGetCommand.Assigned())
    FOnGetCommand(this, FCommand);
}

} // namespace vela
